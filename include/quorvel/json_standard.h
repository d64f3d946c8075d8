// The module `JSON`'s standard writer: RFC 8259 text in UTF-8, for readers
// other than the library's own. It stands beside the compact writer of
// json.h, which keeps its own forms (NaN and infinities as text, a Date
// without its time, Empty as "", 15 significant digits); this one writes
// only what any JSON reader takes back as the same value:
//
//   Empty, Null, Nothing        null
//   Boolean                     true / false
//   Integer, Long, Byte         digits
//   Currency, Decimal           exact plain digits; a negative zero as -0
//   Double                      the shortest text that reads back as the
//                               same Double (std::to_chars), -0 kept
//   Single                      the shortest text of the float
//   Date                        "YYYY-MM-DD", then "THH:MM:SS" when the time
//                               is not midnight and ".fff" when it has
//                               milliseconds
//   String                      '"', '\' and the control characters (DEL too)
//   escaped
//                               (the short escapes where JSON has one),
//                               lone surrogates as \uXXXX, the rest UTF-8
//   Dictionary, KxDocRec        objects, keys in their order
//   CArray, Collection          arrays
//   one-dimensional arrays      arrays
//
// NaN and infinities raise 5 (source "JSON"); an Error Value, an array of
// more than one dimension and any other object raise 13; containers nested
// deeper than kMaxDepth (a container that holds itself among them) raise 28.
#ifndef QUORVEL_JSON_STANDARD_H_
#define QUORVEL_JSON_STANDARD_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "quorvel/json_strict.h"
#include "quorvel/value.h"

namespace quorvel::JSON {

// How the standard writer lays out its text.
struct StandardStyle {
  // Spaces per level of nesting, 0 to kMaxIndent. 0 writes compact text;
  // otherwise each member or element goes on a line of its own, a member as
  // "key": value, and an empty container stays {} or [].
  int indent = 0;
  // Writes every character past U+007E as \uXXXX, so the text is ASCII.
  bool ascii = false;
};

inline constexpr int kMaxIndent = 16;

// Takes the standard writer's text a buffer at a time.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes the next bytes, which live only for the call. What it raises
  // stops the writing and passes through.
  virtual void Write(std::string_view bytes) = 0;
};

// Writes standard JSON text from a tree of Values (Write), or from the
// events of a strict read (as its handler: a strict read streams through in
// bounded memory, string values in pieces). With a sink, the text leaves in
// pieces of about kFlushBytes and the writer holds no more than that; with
// none, it collects for Take. Events must come in an order a strict read
// makes. After a raise the text so far is incomplete; the writer is then of
// no further use. Thread-compatible.
class StandardWriter final : public StrictHandler {
 public:
  static constexpr size_t kFlushBytes = 64 << 10;

  // Writes to `sink`, which the caller keeps alive and owns, or collects
  // the text when it is null. Raises 5 for an indent outside 0 to
  // kMaxIndent.
  explicit StandardWriter(StandardStyle style = {}, ByteSink* sink = nullptr);

  // Writes one value and all it holds (see the table above); raises as
  // described there, 6 for a Date outside the date range, and what the
  // members of a foreign container raise.
  void Write(const Value& value);

  // StrictHandler. Scalar takes any Value, as Write does.
  void BeginObject() override;
  void Key(std::u16string_view name) override;
  void EndObject() override;
  void BeginArray() override;
  void EndArray() override;
  void Text(std::u16string_view text) override;
  void Scalar(const Value& value) override { Write(value); }
  bool TakesTextInPieces() const override { return true; }
  void TextPiece(std::u16string_view text, bool last) override;

  // Writes a number as the JSON number text `text` has it, every digit
  // kept: the form for a number of a strict read that no Value holds
  // exactly (StrictReader::number_exact). The caller vouches that `text`
  // is a JSON number.
  void NumberText(std::u16string_view text);

  // Hands what is buffered to the sink; without a sink, does nothing.
  void Flush();
  // Returns the text written since the last Take, when there is no sink.
  std::string Take();
  // Bytes written so far, buffered ones included.
  uint64_t written() const { return flushed_ + used_; }

 private:
  // Returns room for `size` bytes (at most kFlushBytes / 2) at the end of
  // the text; Commit then says where the bytes written there end.
  char* Room(size_t size) {
    if (buffer_.size() - used_ < size) MakeRoom(size);
    return buffer_.data() + used_;
  }
  void MakeRoom(size_t size);
  void Commit(char* end) { used_ = static_cast<size_t>(end - buffer_.data()); }
  void Put(std::string_view bytes);
  void PutChar(char c) {
    *Room(1) = c;
    ++used_;
  }
  void NewLine();
  void BeforeValue();
  void Open(char bracket);
  void Close(char bracket);
  void WriteKey(std::u16string_view key, bool first);
  void WriteNested(const Value& value);
  void WriteObject(Object* object);
  void WriteArray(const Value& array);
  void WriteNumber(const Value& value);
  void WriteDate(double day_number);
  void WriteString(std::u16string_view text);
  void WriteUnits(std::u16string_view text);
  char* Escape(const char16_t* p, const char16_t* end, char* o) const;

  ByteSink* sink_;
  StandardStyle style_;
  std::string buffer_;
  size_t used_ = 0;
  uint64_t flushed_ = 0;
  int depth_ = 0;
  bool first_ = true;  // nothing written yet in the open container
  bool after_key_ = false;
  bool in_text_ = false;  // between the pieces of a string value
  char16_t held_ = 0;     // a high surrogate that ended the last piece
};

// Returns the standard JSON text of `value` (see StandardWriter::Write).
std::string WriteStandard(const Value& value, StandardStyle style = {});

}  // namespace quorvel::JSON

#endif  // QUORVEL_JSON_STANDARD_H_
