#include "quorvel/string.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "quorvel/bulk_memory.h"
#include "quorvel/error.h"
#include "quorvel/utf8.h"

namespace quorvel {
namespace internal {

namespace {

size_t BlockBytes(size_t length) {
  return sizeof(StringRep) + (length + 1) * sizeof(char16_t);
}

}  // namespace

StringRep* AllocateString(size_t length) {
  if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    RaiseStandard(kErrOverflow);
  void* block = nullptr;
  try {
    block = AllocateNode(BlockBytes(length));
  } catch (const std::bad_alloc&) {
    RaiseStandard(kErrOutOfMemory);
  }
  auto* rep = new (block) StringRep;
  rep->refs.store(1, std::memory_order_relaxed);
  rep->length = static_cast<uint32_t>(length);
  rep->units()[length] = 0;
  return rep;
}

void FreeString(StringRep* rep) noexcept {
  rep->~StringRep();
  FreeNode(rep);
}

StringRep* ShrinkString(StringRep* rep, size_t length) noexcept {
  const size_t old_length = rep->length;
  rep->length = static_cast<uint32_t>(length);
  rep->units()[length] = 0;
  // A block from a bulk scope keeps its room, which goes back with the
  // block. A heap block moves only when that frees a good share; a failed
  // move keeps the larger block, which is as good.
  if (IsBulkNode(rep) || (old_length - length) * sizeof(char16_t) < 64)
    return rep;
  void* smaller = nullptr;
  try {
    smaller = AllocateNode(BlockBytes(length));
  } catch (const std::bad_alloc&) {
    return rep;
  }
  auto* moved = new (smaller) StringRep;
  moved->refs.store(1, std::memory_order_relaxed);
  moved->length = static_cast<uint32_t>(length);
  std::memcpy(moved->units(), rep->units(), (length + 1) * sizeof(char16_t));
  FreeString(rep);
  return moved;
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
