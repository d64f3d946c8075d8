#include "quorvel/string.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "quorvel/error.h"
#include "quorvel/utf8.h"

namespace quorvel {
namespace internal {

StringRep* AllocateString(size_t length) {
  if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    RaiseStandard(kErrOverflow);
  void* block =
      std::malloc(sizeof(StringRep) + (length + 1) * sizeof(char16_t));
  if (block == nullptr) RaiseStandard(kErrOutOfMemory);
  auto* rep = new (block) StringRep;
  rep->refs.store(1, std::memory_order_relaxed);
  rep->length = static_cast<uint32_t>(length);
  rep->units()[length] = 0;
  return rep;
}

void FreeString(StringRep* rep) noexcept {
  rep->~StringRep();
  std::free(rep);
}

StringRep* ShrinkString(StringRep* rep, size_t length) noexcept {
  rep->length = static_cast<uint32_t>(length);
  rep->units()[length] = 0;
  // A failed shrink keeps the larger block, which is as good.
  void* smaller =
      std::realloc(rep, sizeof(StringRep) + (length + 1) * sizeof(char16_t));
  return smaller != nullptr ? static_cast<StringRep*>(smaller) : rep;
}

}  // namespace internal

String::String(std::u16string_view text) {
  if (text.empty()) return;
  rep_ = internal::AllocateString(text.size());
  std::memcpy(rep_->units(), text.data(), text.size() * sizeof(char16_t));
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  AppendUtf8(text, &out);
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out(text.size(), u'\0');
  size_t read = 0;
  size_t written = 0;
  for (;;) {
    const Utf8Step step = DecodeUtf8(text.substr(read), out.data() + written);
    read += step.read;
    written += step.written;
    if (step.stop == Utf8Stop::kEnd) break;
    // Each replacement stands for at least one byte, so it has room.
    out[written++] = 0xFFFD;
    read += step.bad_length;
  }
  out.resize(written);
  return out;
}

}  // namespace quorvel
