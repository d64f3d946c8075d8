// What the MessagePack encoder and decoder share: the dialect's type bytes
// and extension sub-types, and the way their own failures are raised.
#ifndef QUORVEL_CODECS_MSGPACK_FORMAT_H_
#define QUORVEL_CODECS_MSGPACK_FORMAT_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "quorvel/error.h"

namespace quorvel::mMsgPack {

// Type bytes, then the extension sub-types that follow kExt directly.
inline constexpr uint8_t kNil = 0xC0;
inline constexpr uint8_t kFalse = 0xC2;
inline constexpr uint8_t kTrue = 0xC3;
inline constexpr uint8_t kInt32 = 0xD2;
inline constexpr uint8_t kFloat64 = 0xCB;
inline constexpr uint8_t kStr8 = 0xD9;
inline constexpr uint8_t kStr16 = 0xDA;
inline constexpr uint8_t kArray16 = 0xDC;
inline constexpr uint8_t kMap16 = 0xDE;
inline constexpr uint8_t kExt = 0xC7;
inline constexpr uint8_t kExtDate = 0x01;
inline constexpr uint8_t kExtCurrency = 0x02;
inline constexpr uint8_t kExtRecord = 0x33;
// The most a length or count can say.
inline constexpr uint32_t kMaxCount = 0xFFFF;

[[noreturn]] inline void RaiseUnsupported(std::u16string_view description) {
  ErrorRaise(kErrInvalidCall, {}, description);
}

// Raises 6 for `what` ("a string", "a container") holding `count`
// characters or elements, more than a 16-bit length says.
[[noreturn]] inline void RaiseCountOverflow(std::u16string_view what,
                                            int64_t count) {
  const std::string n = std::to_string(count);
  std::u16string limit(what);
  limit += u" holds at most 65,535 items in this encoding (this one ";
  limit.append(n.begin(), n.end());
  limit += u")";
  RaiseOverflow({}, limit);
}

}  // namespace quorvel::mMsgPack

#endif  // QUORVEL_CODECS_MSGPACK_FORMAT_H_
