// `mMsgPack::StreamEncoder`: the library's MessagePack dialect written from
// a stream of events, for callers that walk data of their own (a client's
// native containers) rather than Values, so that no tree of Values has to
// be built first. For the same data the bytes are those of EncodeBytes.
#ifndef QUORVEL_MSGPACK_STREAM_H_
#define QUORVEL_MSGPACK_STREAM_H_

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "quorvel/msgpack.h"
#include "quorvel/value.h"

namespace quorvel::mMsgPack {

// Writes one value: a scalar, or a container whose members follow its
// Begin and precede its End. A container says its count first, as the
// dialect does; writing more or fewer members than that raises 9. Text is
// written as EncodeBytes writes it (Windows-1252, '?' for a character
// without a byte): a caller that must not lose any checks first
// (CheckStorable). After a raise the encoder is of no further use and the
// output is untouched. Thread-compatible.
class StreamEncoder {
 public:
  // Collects the encoding, which Commit appends to `out` (kept alive and
  // owned by the caller).
  explicit StreamEncoder(std::vector<uint8_t>& out);
  ~StreamEncoder();
  StreamEncoder(const StreamEncoder&) = delete;
  StreamEncoder& operator=(const StreamEncoder&) = delete;

  // Writes a scalar: Null, Boolean, Integer, Long, Single, Double,
  // Currency, Decimal (as a Currency; 6 beyond its range), Date or String.
  // Raises 5 "Unsupported type" for any other kind.
  void Scalar(const Value& value);
  // Writes a String of `text` without making one; raises 6 past 65,535
  // characters.
  void Text(std::u16string_view text);
  // The same for text every character of which is ASCII (below U+0080),
  // given one byte each: written as it is.
  void AsciiText(std::string_view text);
  // Begin a list of `count` items, or a map of `count` members, each a key
  // (written with Text) and its value. Raise 6 for a count beyond 65,535,
  // 28 for the container kMaxDepth containers deep.
  void BeginList(int64_t count);
  void BeginMap(int64_t count);
  // Ends the innermost container; raises 9 when it holds fewer members
  // than it said.
  void End();
  // Appends the encoding to the output: one whole value, or 9 when it is
  // not whole yet.
  void Commit();

 private:
  struct State;
  void Counted();
  uint8_t* TextRoom(size_t n);
  std::unique_ptr<State> state_;
};

}  // namespace quorvel::mMsgPack

#endif  // QUORVEL_MSGPACK_STREAM_H_
