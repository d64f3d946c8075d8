// `cStringBuilder`: builds a long String piece by piece.
#ifndef QUORVEL_CSTRINGBUILDER_H_
#define QUORVEL_CSTRINGBUILDER_H_

#include <cstdint>
#include <cstring>
#include <string_view>

#include "quorvel/dispatch.h"
#include "quorvel/object.h"
#include "quorvel/string.h"
#include "quorvel/value.h"

namespace quorvel {

// A text buffer with spare room that grows in whole steps of `ChunkSize`
// characters (8,192 to start; an append longer than a step first raises the
// step to its length + 50). Lengths and positions count UTF-16 code units.
// Capacity and length stay within what a signed 32-bit byte count can hold;
// a member that would pass it raises 6 and changes nothing. Every member
// either completes or raises with the content unchanged. Thread-compatible.
class cStringBuilder final : public Object {
 public:
  static constexpr int32_t kDefaultChunkSize = 8192;
  // The most characters a signed 32-bit byte count holds.
  static constexpr int64_t kMaxChars = 1073741823;

  static Ref<cStringBuilder> Create();
  cStringBuilder(const cStringBuilder&) = delete;
  cStringBuilder& operator=(const cStringBuilder&) = delete;
  ~cStringBuilder() override;
  const ClassInfo& Class() const override;

  int32_t length() const { return static_cast<int32_t>(length_); }
  int32_t Capacity() const { return static_cast<int32_t>(capacity_); }
  int32_t ChunkSize() const { return static_cast<int32_t>(chunk_); }
  // Raises 6 above kMaxChars and 5 for 0 or less, which could never make
  // room.
  void LetChunkSize(int32_t iChunkSize);
  String ToString() const { return String(view()); }
  // Replaces the content; the empty String releases the buffer.
  void LetTheString(std::u16string_view sThis);
  void Append(std::u16string_view sThis) {
    if (sThis.size() <= static_cast<size_t>(capacity_ - length_)) {
      if (!sThis.empty())
        std::memcpy(buffer_ + length_, sThis.data(), sThis.size() * 2);
      length_ += static_cast<int64_t>(sThis.size());
      return;
    }
    AppendGrowing(sThis);
  }
  void Append(char16_t c) {
    if (length_ == capacity_) return AppendGrowing(std::u16string_view(&c, 1));
    buffer_[length_++] = c;
  }
  // Inserts before the 0-based `iIndex`; raises 9 outside 0 to length.
  void Insert(int32_t iIndex, std::u16string_view sThis);
  // Removes `lLen` characters from the 0-based `iIndex`; raises 9 for a range
  // outside the content. The capacity stays.
  void Remove(int32_t iIndex, int32_t lLen);
  // Returns the 1-based position of `sToFind` from `lStartIndex` on, or 0.
  // `compare` is 0 (binary) or 1 (text); any other mode raises 5.
  int32_t Find(std::u16string_view sToFind, int32_t lStartIndex = 1,
               int32_t compare = 1) const;
  // Gives back spare room beyond one chunk.
  void HeapMinimize();

  // Returns the content and leaves the builder empty (capacity 0), handing
  // the buffer over instead of copying it.
  String TakeString();
  // Makes every later growth step at least double the capacity. For
  // builders whose capacity no client observes (the JSON writer's own), so
  // that a long text costs a logarithmic number of reallocations.
  void GrowGeometrically() { geometric_ = true; }

  std::u16string_view view() const {
    return {buffer_, static_cast<size_t>(length_)};
  }

 private:
  cStringBuilder() = default;

  void AppendGrowing(std::u16string_view text);
  // Makes room for `extra` more characters as Append does.
  void ReserveAsAppend(int64_t extra);
  void Resize(int64_t capacity);

  char16_t* buffer_ = nullptr;
  int64_t length_ = 0;
  int64_t capacity_ = 0;
  int64_t chunk_ = kDefaultChunkSize;
  bool geometric_ = false;
};

}  // namespace quorvel

#endif  // QUORVEL_CSTRINGBUILDER_H_
