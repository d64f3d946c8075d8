// The storability check: whether a Value would come back exactly from one
// of the library's stores or codecs, and if not, where and why.
//
// Wherever a String is stored it becomes Windows-1252 bytes, and a
// character without a byte becomes '?' (so two keys can collide); the
// MessagePack dialect holds a Decimal as a Currency, rounded to four
// places, and has no form at all for some kinds. The stores and codecs keep
// that lossy behaviour by default. Asked to be exact (`OpenOptions::exact`,
// `mMsgPack::EncodeOptions`, `mRC4::CryptOptions`, or an `ExactScope` around
// the call) they run this check first and raise 5 with its description
// instead of writing anything; clients may run it themselves to ask first.
#ifndef QUORVEL_STORABLE_H_
#define QUORVEL_STORABLE_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quorvel/value.h"

namespace quorvel {

// Where a Value is going. The numbers are those of the C interface.
enum class StorableTarget : int32_t {
  // Windows-1252 text: a String every character of which has a byte (a
  // document id, an RC4 key). Any other kind would come back as a String.
  kText = 1,
  // A KxKVDB key: such text of at most 32,767 characters.
  kKvKey = 2,
  // A KxKVDB value: such text.
  kKvValue = 3,
  // The MessagePack dialect: Null, Boolean, Integer, Long, Single, Double
  // (bits kept), Currency, a Date the decoder accepts, a String of at most
  // 65,535 such characters, a Decimal a Currency holds exactly, and
  // CArray, Dictionary and KxDocRec objects of at most 65,535 members each,
  // keyed by such Strings and nested at most `mMsgPack::kMaxDepth` deep.
  // Integer -> Long, Single -> Double and an exact Decimal -> Currency keep
  // the value and count as exact.
  kMsgPack = 4,
  // A KxDocsDB document: a KxDocRec or Dictionary whose field names and
  // values MessagePack holds exactly.
  kDocument = 5,
  // Text RC4 enciphers: Windows-1252 text without U+0000, which deciphers
  // to the keystream byte rather than to itself.
  kRc4Text = 6,
};

// Why a place would not come back exactly.
enum class StorableReason {
  kCharacter,  // a character without a byte (U+0000 for RC4)
  kNumber,     // a Decimal no Currency holds, a Date out of range
  kKind,       // a kind the target has no form for
  kLength,     // text longer than the target holds
  kCount,      // a container with more members than the target holds
  kDepth,      // containers nested too deeply, or one holding itself
};

// What happens to a number (StorableReason::kNumber).
enum class NumberLoss {
  kNone,
  kRounded,         // more than 4 decimal places once trailing zeros go
  kBeyondCurrency,  // outside the Currency range
  kBeyondDate,      // a day number outside the range of Dates
};

// The first place of a Value that would not come back exactly.
struct StorableFault {
  StorableReason reason = StorableReason::kKind;
  // Where, from the Value checked: "address.city[2]", a key that is not a
  // plain identifier bracketed as a JSON string (`tags["a b"]`); empty for
  // the Value itself.
  std::u16string path;
  // Whether the fault lies in the key of the member at `path` rather than
  // in its value.
  bool in_key = false;
  // kCharacter: the character's first code unit (from 0), its position in
  // characters (from 1, a surrogate pair counting once) and its code point
  // (a lone surrogate is its own unit).
  size_t index = 0;
  size_t position = 0;
  char32_t character = 0;
  NumberLoss number = NumberLoss::kNone;
  // kDepth: whether the container at `path` holds itself (otherwise the one
  // at `path` lies deeper than mMsgPack::kMaxDepth containers).
  bool holds_itself = false;
  // A complete English sentence, fit for an error message: "character
  // U+6771 (東) at position 2 of address.city[2] has no Windows-1252 byte".
  std::u16string description;
};

// Returns the first place of `value` that would not come back exactly from
// `target`, in the order the target's writer meets them, or nothing when
// all of it would. `name` is what the description calls the Value itself
// ("the key"); empty takes the target's word ("the text", "the key", "the
// value" or "the document"). Walks containers as the MessagePack encoder
// does and raises what a foreign container's members raise. Allocates
// nothing when a scalar or text comes back exactly.
std::optional<StorableFault> CheckStorable(const Value& value,
                                           StorableTarget target,
                                           std::u16string_view name = {});
// The same for text, without making a Value of it.
std::optional<StorableFault> CheckStorableText(std::u16string_view text,
                                               StorableTarget target,
                                               std::u16string_view name = {});

// Returns when `value` comes back exactly; otherwise raises 5 with
// `source` (empty: "KxQuorvel") and the fault's description.
void RequireStorable(const Value& value, StorableTarget target,
                     std::u16string_view source, std::u16string_view name = {});
void RequireStorableText(std::u16string_view text, StorableTarget target,
                         std::u16string_view source,
                         std::u16string_view name = {});

// While one lives, the writes and encodes of the calling thread behave as
// if asked to be exact: KxKVDB's `PutValue` and `Item` write, KxDocsDB's
// `AddDoc` and saves, `mMsgPack`'s encoders and `mRC4::Encrypt`; a database
// opened meanwhile stays exact until it is opened again. Scopes nest; each
// belongs to the thread that made it. This is how a late-bound call asks
// (the C interface's QUORVEL_EXACT), since `OpenDB` and the codecs' members
// take no options.
class ExactScope {
 public:
  ExactScope();
  ~ExactScope();
  ExactScope(const ExactScope&) = delete;
  ExactScope& operator=(const ExactScope&) = delete;

  // Returns whether a scope is alive on the calling thread.
  static bool Active();
};

}  // namespace quorvel

#endif  // QUORVEL_STORABLE_H_
