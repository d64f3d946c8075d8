// Shares one String among the equal short texts of one read, so that the
// thousands of equal keys or cells of a large document cost one block.
// Strings never change, so the sharing cannot be seen.
#ifndef QUORVEL_CORE_TEXT_INTERNER_H_
#define QUORVEL_CORE_TEXT_INTERNER_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "quorvel/string.h"

namespace quorvel::internal {

class TextInterner {
 public:
  // Returns a String of `text`: the one kept for an equal text of at most
  // kMaxLength units when its slot holds it, else a new one (which then
  // takes the slot).
  String Intern(std::u16string_view text) {
    if (text.size() > kMaxLength) return String(text);
    uint32_t hash = 2166136261u;
    for (char16_t c : text) hash = (hash ^ c) * 16777619u;
    String& slot = slots_[(hash ^ (hash >> 16)) & (kSlots - 1)];
    if (slot.view() != text) slot = String(text);
    return slot;
  }

 private:
  static constexpr size_t kMaxLength = 32;
  static constexpr size_t kSlots = 1024;
  std::vector<String> slots_ = std::vector<String>(kSlots);
};

}  // namespace quorvel::internal

#endif  // QUORVEL_CORE_TEXT_INTERNER_H_
