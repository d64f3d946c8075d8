// The LZSS encoder's emitter: items into flag groups, in the stream form.
#ifndef QUORVEL_CODECS_LZSS_EMIT_H_
#define QUORVEL_CODECS_LZSS_EMIT_H_

#include <cstdint>

#include "codecs/lzss_match.h"
#include "quorvel/lzss.h"

namespace quorvel::mLZSS {

// Writes items one after another, each group's flag byte in the place
// reserved for it before its first item. Small enough to live in registers
// while the parse runs: the parse takes a copy and stores it back after.
class Emitter {
 public:
  // Writes the item for input byte `literal` or, when `m` is long enough,
  // the reference `m` at `o`; returns the end of what it wrote. Room for
  // two bytes plus a flag byte must be at `o`.
  uint8_t* Put(uint8_t* o, uint8_t literal, Match m) {
    if (item_ == 0) flag_at_ = o++;
    // Literal or reference is close to a coin toss on text, so both forms
    // are written and the choice only moves the output on: a mispredicted
    // branch here cost more than the spare byte store.
    const bool is_reference = m.length >= kMinMatch;
    o[0] = is_reference ? static_cast<uint8_t>(m.distance & 0xFF) : literal;
    o[1] = static_cast<uint8_t>(
        (static_cast<unsigned>(m.length - kMinMatch) << 4) |
        ((m.distance >> 8) & 0x0F));
    o += is_reference ? 2 : 1;
    flags_ |= unsigned{!is_reference} << item_;
    if (++item_ == 8) {
      *flag_at_ = static_cast<uint8_t>(flags_);
      flags_ = 0;
      item_ = 0;
    }
    return o;
  }

  // Stores the flag byte of an unfinished group.
  void EndGroup() {
    if (item_ > 0) *flag_at_ = static_cast<uint8_t>(flags_);
  }
  // The start of the unfinished group's bytes (its flag byte), or null when
  // every group so far is finished.
  uint8_t* group_start() const { return item_ > 0 ? flag_at_ : nullptr; }
  // Says that the unfinished group's bytes now start at `flag_at`.
  void Rebase(uint8_t* flag_at) { flag_at_ = flag_at; }

 private:
  unsigned flags_ = 0;
  int item_ = 0;
  uint8_t* flag_at_ = nullptr;
};

}  // namespace quorvel::mLZSS

#endif  // QUORVEL_CODECS_LZSS_EMIT_H_
