// The MessagePack dialect written from events (msgpack_stream.h).
#include "quorvel/msgpack_stream.h"

#include <bit>
#include <cstring>

#include "codecs/msgpack_format.h"
#include "codecs/msgpack_writer.h"
#include "quorvel/codepage.h"
#include "quorvel/convert.h"

namespace quorvel::mMsgPack {

namespace {

void StoreLe(uint8_t* at, uint64_t bits, int bytes) {
  for (int i = 0; i < bytes; ++i) at[i] = static_cast<uint8_t>(bits >> (8 * i));
}

}  // namespace

struct StreamEncoder::State {
  explicit State(std::vector<uint8_t>& out) : writer(out) {}
  Writer writer;
  // Members still to come in each open container, the outermost first
  // (twice the count of a map: keys count too); the bottom one stands for
  // the one value the encoding is.
  std::vector<int64_t> remaining{1};
};

StreamEncoder::StreamEncoder(std::vector<uint8_t>& out)
    : state_(std::make_unique<State>(out)) {}

StreamEncoder::~StreamEncoder() = default;

inline void StreamEncoder::Counted() {
  if (--state_->remaining.back() < 0) RaiseStandard(kErrSubscript);
}

void StreamEncoder::Scalar(const Value& value) {
  Writer& w = state_->writer;
  uint8_t* at;
  switch (value.kind()) {
    case Kind::Null:
      Counted();
      return w.Byte(kNil);
    case Kind::Boolean:
      Counted();
      return w.Byte(value.boolean() ? kTrue : kFalse);
    case Kind::Integer:
    case Kind::Long:
      Counted();
      at = w.Take(5);
      at[0] = kInt32;
      StoreLe(
          at + 1,
          static_cast<uint32_t>(value.kind() == Kind::Long ? value.long_value()
                                                           : value.integer()),
          4);
      return;
    case Kind::Single:
    case Kind::Double:
      Counted();
      at = w.Take(9);
      at[0] = kFloat64;
      StoreLe(at + 1,
              std::bit_cast<uint64_t>(value.kind() == Kind::Double
                                          ? value.double_value()
                                          : double{value.single()}),
              8);
      return;
    case Kind::Currency:
    case Kind::Decimal:
    case Kind::Date: {
      const uint64_t bits = value.kind() == Kind::Date
                                ? std::bit_cast<uint64_t>(value.date())
                            : value.kind() == Kind::Currency
                                ? static_cast<uint64_t>(value.currency())
                                : static_cast<uint64_t>(ToCurrency(value));
      Counted();
      at = w.Take(10);
      at[0] = kExt;
      at[1] = value.kind() == Kind::Date ? kExtDate : kExtCurrency;
      StoreLe(at + 2, bits, 8);
      return;
    }
    case Kind::String:
      return Text(value.string_view());
    default:
      RaiseUnsupported(u"Unsupported type");
  }
}

// Writes the header of a String of `n` characters and returns room for
// them.
uint8_t* StreamEncoder::TextRoom(size_t n) {
  if (n > kMaxCount) RaiseCountOverflow(u"a string", n);
  Counted();
  uint8_t* at;
  if (n <= 0xFF) {
    at = state_->writer.Take(2 + n);
    *at++ = kStr8;
    *at++ = static_cast<uint8_t>(n);
  } else {
    at = state_->writer.Take(3 + n);
    *at++ = kStr16;
    *at++ = static_cast<uint8_t>(n >> 8);
    *at++ = static_cast<uint8_t>(n);
  }
  return at;
}

void StreamEncoder::AsciiText(std::string_view text) {
  std::memcpy(TextRoom(text.size()), text.data(), text.size());
}

void StreamEncoder::Text(std::u16string_view text) {
  const size_t n = text.size();
  uint8_t* at = TextRoom(n);
  for (size_t i = 0; i < n; ++i) {
    // Windows-1252 agrees with Latin-1 outside 0x80..0x9F.
    const char16_t c = text[i];
    at[i] = c < 0x80 || (c >= 0xA0 && c <= 0xFF) ? static_cast<uint8_t>(c)
                                                 : AnsiFromUnit(c);
  }
}

void StreamEncoder::BeginList(int64_t count) {
  if (count < 0 || count > kMaxCount) RaiseCountOverflow(u"a container", count);
  if (static_cast<int>(state_->remaining.size()) > kMaxDepth)
    RaiseStandard(kErrOutOfStack);
  Counted();
  uint8_t* at = state_->writer.Take(3);
  at[0] = kArray16;
  at[1] = static_cast<uint8_t>(count >> 8);
  at[2] = static_cast<uint8_t>(count);
  state_->remaining.push_back(count);
}

void StreamEncoder::BeginMap(int64_t count) {
  if (count < 0 || count > kMaxCount) RaiseCountOverflow(u"a container", count);
  if (static_cast<int>(state_->remaining.size()) > kMaxDepth)
    RaiseStandard(kErrOutOfStack);
  Counted();
  uint8_t* at = state_->writer.Take(3);
  at[0] = kMap16;
  at[1] = static_cast<uint8_t>(count >> 8);
  at[2] = static_cast<uint8_t>(count);
  state_->remaining.push_back(2 * count);
}

void StreamEncoder::End() {
  if (state_->remaining.size() < 2 || state_->remaining.back() != 0)
    RaiseStandard(kErrSubscript);
  state_->remaining.pop_back();
}

void StreamEncoder::Commit() {
  if (state_->remaining.size() != 1 || state_->remaining.back() != 0)
    RaiseStandard(kErrSubscript);
  state_->writer.Commit();
}

}  // namespace quorvel::mMsgPack
