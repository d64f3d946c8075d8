// Shares one String among the equal short texts of one read, so that the
// thousands of equal keys or cells of a large document cost one block.
// Strings never change, so the sharing cannot be seen.
#ifndef QUORVEL_CORE_TEXT_INTERNER_H_
#define QUORVEL_CORE_TEXT_INTERNER_H_

#include <cstdint>
#include <cstring>
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
    return Kept(text);
  }
  // As Intern, for a reader whose Strings no other thread can hold before
  // the read returns (no client code runs meanwhile, nothing is published):
  // the kept String's count is raised by a plain store, because an atomic
  // step would first wait for every store before it, all of the tree being
  // written, to reach memory.
  String InternUnshared(std::u16string_view text) {
    if (text.size() > kMaxLength) return String(text);
    String& kept = Kept(text);
    internal::StringRep* rep = kept.rep();
    if (rep == nullptr) return String();
    rep->refs.store(rep->refs.load(std::memory_order_relaxed) + 1,
                    std::memory_order_relaxed);
    return String::Adopt(rep);
  }

 private:
  // Returns the slot's String for `text` (at most kMaxLength units), made
  // equal to it first if it is not.
  String& Kept(std::u16string_view text) {
    String& slot = slots_[Hash(text) & (kSlots - 1)];
    if (!SameUnits(slot.view(), text)) slot = String(text);
    return slot;
  }

  // Mixes the text four units a step; texts this short need no better.
  static size_t Hash(std::u16string_view text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    size_t left = text.size() * sizeof(char16_t);
    uint64_t h = 0x9E3779B97F4A7C15u ^ left;
    for (; left >= 8; left -= 8, bytes += 8) {
      uint64_t word;
      std::memcpy(&word, bytes, 8);
      h = (h ^ word) * 0xFF51AFD7ED558CCDu;
      h ^= h >> 32;
    }
    uint64_t word = 0;
    if (left >= 4) {
      uint32_t four;
      std::memcpy(&four, bytes, 4);
      word = four;
      bytes += 4;
      left -= 4;
    }
    if (left != 0) {
      uint16_t two;
      std::memcpy(&two, bytes, 2);
      word |= uint64_t{two} << 32;
    }
    h = (h ^ word) * 0xFF51AFD7ED558CCDu;
    // The slot is taken from the low bits, which a product draws from the
    // low bits alone: fold the high ones in.
    h ^= h >> 32;
    return static_cast<size_t>(h ^ (h >> 15));
  }

  static constexpr size_t kMaxLength = 32;
  static constexpr size_t kSlots = 1024;
  std::vector<String> slots_ = std::vector<String>(kSlots);
};

}  // namespace quorvel::internal

#endif  // QUORVEL_CORE_TEXT_INTERNER_H_
