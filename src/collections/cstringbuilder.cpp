#include "quorvel/cstringbuilder.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "quorvel/compare.h"
#include "quorvel/error.h"

namespace quorvel {

Ref<cStringBuilder> cStringBuilder::Create() {
  return Ref<cStringBuilder>(new cStringBuilder);
}

cStringBuilder::~cStringBuilder() { Resize(0); }

const ClassInfo& cStringBuilder::Class() const {
  static const ClassInfo info =
      ClassBuilder<cStringBuilder>(u"cStringBuilder")
          .Get<&cStringBuilder::length>(u"length")
          .Get<&cStringBuilder::Capacity>(u"Capacity")
          .Get<&cStringBuilder::ChunkSize>(u"ChunkSize")
          .Let<&cStringBuilder::LetChunkSize>(u"ChunkSize", {u"iChunkSize"})
          .Get<&cStringBuilder::ToString>(u"ToString")
          .Let<&cStringBuilder::LetTheString>(u"TheString", {u"sThis"})
          .Method<static_cast<void (cStringBuilder::*)(std::u16string_view)>(
              &cStringBuilder::Append)>(u"Append", {u"sThis"})
          .Method<static_cast<void (cStringBuilder::*)(std::u16string_view)>(
              &cStringBuilder::Append)>(u"AppendByVal", {u"sThis"})
          .Method<&cStringBuilder::Insert>(u"Insert", {u"iIndex", u"sThis"})
          .Method<&cStringBuilder::Insert>(u"InsertByVal",
                                           {u"iIndex", u"sThis"})
          .Method<&cStringBuilder::Remove>(u"Remove", {u"iIndex", u"lLen"})
          .Method<&cStringBuilder::Find>(
              u"Find", {u"sToFind", Opt(u"lStartIndex", Value(int32_t{1})),
                        Opt(u"compare", Value(int32_t{1}))})
          .Method<&cStringBuilder::HeapMinimize>(u"HeapMinimize")
          .Build();
  return info;
}

void cStringBuilder::LetChunkSize(int32_t iChunkSize) {
  if (iChunkSize > kMaxChars) RaiseStandard(kErrOverflow);
  if (iChunkSize <= 0) RaiseStandard(kErrInvalidCall);
  chunk_ = iChunkSize;
}

// The buffer is laid out as a String block (header, units, one spare unit
// for the terminating zero), so that TakeString can hand it over as it is.
// realloc lets glibc move a large buffer by remapping its pages, so growing
// in fixed steps costs no copy of the text once the buffer is big.
void cStringBuilder::Resize(int64_t capacity) {
  void* block = buffer_ == nullptr
                    ? nullptr
                    : reinterpret_cast<internal::StringRep*>(buffer_) - 1;
  if (capacity == 0) {
    std::free(block);
    buffer_ = nullptr;
    capacity_ = 0;
    return;
  }
  void* moved =
      std::realloc(block, sizeof(internal::StringRep) +
                              (static_cast<size_t>(capacity) + 1) * 2);
  if (moved == nullptr) RaiseStandard(kErrOutOfMemory);
  buffer_ = static_cast<internal::StringRep*>(moved)->units();
  capacity_ = capacity;
}

String cStringBuilder::TakeString() {
  if (length_ == 0) {
    Resize(0);
    return String();
  }
  Resize(length_);  // shrinking in place: no copy
  auto* rep = new (reinterpret_cast<internal::StringRep*>(buffer_) - 1)
      internal::StringRep;
  rep->refs.store(1, std::memory_order_relaxed);
  rep->length = static_cast<uint32_t>(length_);
  buffer_[length_] = 0;
  buffer_ = nullptr;
  length_ = capacity_ = 0;
  return String::Adopt(rep);
}

void cStringBuilder::ReserveAsAppend(int64_t extra) {
  if (length_ + extra <= capacity_) return;
  int64_t chunk = extra > chunk_ ? extra + 50 : chunk_;
  if (chunk > kMaxChars || capacity_ + chunk > kMaxChars)
    RaiseStandard(kErrOverflow);
  int64_t step = chunk;
  if (geometric_ && step < capacity_)
    step = std::min(capacity_, kMaxChars - capacity_);
  Resize(capacity_ + step);
  chunk_ = chunk;
}

void cStringBuilder::AppendGrowing(std::u16string_view text) {
  if (text.empty()) return;
  ReserveAsAppend(static_cast<int64_t>(text.size()));
  std::memcpy(buffer_ + length_, text.data(), text.size() * 2);
  length_ += static_cast<int64_t>(text.size());
}

void cStringBuilder::LetTheString(std::u16string_view sThis) {
  const int64_t n = static_cast<int64_t>(sThis.size());
  if (n == 0) {
    Resize(0);
    length_ = 0;
    return;
  }
  if (capacity_ < n) {
    // As many whole steps as it takes, in one reallocation.
    int64_t steps = (n - capacity_ + chunk_ - 1) / chunk_;
    if (capacity_ + steps * chunk_ > kMaxChars) RaiseStandard(kErrOverflow);
    Resize(capacity_ + steps * chunk_);
  }
  std::memcpy(buffer_, sThis.data(), sThis.size() * 2);
  length_ = n;
}

void cStringBuilder::Insert(int32_t iIndex, std::u16string_view sThis) {
  if (iIndex < 0 || iIndex > length_) RaiseStandard(kErrSubscript);
  if (sThis.empty()) return;
  const int64_t n = static_cast<int64_t>(sThis.size());
  // The text may be a view of this very buffer; take it out of harm's way
  // before the buffer moves or shifts.
  std::u16string copy;
  if (sThis.data() >= buffer_ && sThis.data() < buffer_ + capacity_) {
    copy.assign(sThis);
    sThis = copy;
  }
  ReserveAsAppend(n);
  std::memmove(buffer_ + iIndex + n, buffer_ + iIndex,
               static_cast<size_t>(length_ - iIndex) * 2);
  std::memcpy(buffer_ + iIndex, sThis.data(), sThis.size() * 2);
  length_ += n;
}

void cStringBuilder::Remove(int32_t iIndex, int32_t lLen) {
  if (iIndex < 0 || iIndex > length_ || lLen < 0 ||
      int64_t{iIndex} + lLen > length_)
    RaiseStandard(kErrSubscript);
  std::memmove(buffer_ + iIndex, buffer_ + iIndex + lLen,
               static_cast<size_t>(length_ - iIndex - lLen) * 2);
  length_ -= lLen;
}

int32_t cStringBuilder::Find(std::u16string_view sToFind, int32_t lStartIndex,
                             int32_t compare) const {
  if (compare != 0 && compare != 1) RaiseStandard(kErrInvalidCall);
  const int64_t start = lStartIndex < 1 ? 1 : lStartIndex;
  if (length_ == 0 || start > length_) return 0;
  if (sToFind.empty()) return static_cast<int32_t>(start);
  std::u16string_view content = view();
  if (compare == 0) {
    size_t at = content.find(sToFind, static_cast<size_t>(start - 1));
    return at == std::u16string_view::npos ? 0 : static_cast<int32_t>(at + 1);
  }
  const size_t m = sToFind.size();
  for (size_t at = static_cast<size_t>(start - 1); at + m <= content.size();
       ++at) {
    if (CompareText(content.substr(at, m), sToFind, CompareMode::Text) == 0)
      return static_cast<int32_t>(at + 1);
  }
  return 0;
}

void cStringBuilder::HeapMinimize() {
  if (capacity_ - length_ <= chunk_) return;
  int64_t steps = (capacity_ - length_ - 1) / chunk_;
  Resize(capacity_ - steps * chunk_);
}

}  // namespace quorvel
