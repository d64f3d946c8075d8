// `String`: the immutable, reference-counted UTF-16 text of a Value.
#ifndef QUORVEL_STRING_H_
#define QUORVEL_STRING_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quorvel {

namespace internal {

// The heap block behind a non-empty String: a count, the length and the code
// units, followed by a terminating zero that no length counts. Blocks are
// never changed once built, so sharing one needs no copy.
struct StringRep {
  std::atomic<uint32_t> refs;
  uint32_t length;
  char16_t* units() { return reinterpret_cast<char16_t*>(this + 1); }
  const char16_t* units() const {
    return reinterpret_cast<const char16_t*>(this + 1);
  }
};

// Allocates a block for `length` code units with a count of one; the units
// are left for the caller to fill. The block is a node of bulk_memory.h: a
// reader's bulk scope may cut it from one of its blocks. Raises 7 when
// memory runs out and 6 when `length` does not fit a Long.
StringRep* AllocateString(size_t length);
// Frees a block from AllocateString, or one from malloc/realloc (which lies
// at 0 modulo 16, as the heap places everything), on any thread.
void FreeString(StringRep* rep) noexcept;
// Shortens a block nobody else holds yet to `length` units (1 or more, no
// more than it has), giving spare heap room back; returns the block, which
// may have moved.
StringRep* ShrinkString(StringRep* rep, size_t length) noexcept;

// Returns whether two texts hold the same units, four at a step (the
// view's own comparison orders them one at a time, and memcmp is a call
// that costs more than the short texts it would compare).
inline bool SameUnits(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  const char16_t* x = a.data();
  const char16_t* y = b.data();
  size_t n = a.size();
  for (; n >= 4; n -= 4, x += 4, y += 4) {
    uint64_t wx, wy;
    std::memcpy(&wx, x, 8);
    std::memcpy(&wy, y, 8);
    if (wx != wy) return false;
  }
  for (; n != 0; --n, ++x, ++y) {
    if (*x != *y) return false;
  }
  return true;
}

inline void RetainString(StringRep* rep) noexcept {
  if (rep != nullptr) rep->refs.fetch_add(1, std::memory_order_relaxed);
}
inline void ReleaseString(StringRep* rep) noexcept {
  // As Object::Release: the last reference goes without an atomic step.
  if (rep != nullptr &&
      (rep->refs.load(std::memory_order_acquire) == 1 ||
       rep->refs.fetch_sub(1, std::memory_order_acq_rel) == 1))
    FreeString(rep);
}

}  // namespace internal

// Immutable UTF-16 text shared by count. Copying bumps a count; moving touches
// nothing; the empty string owns no block. Any code unit may appear, lone
// surrogates and zeros included. Thread-compatible like a `const` value: the
// count is atomic, the text never changes.
class String {
 public:
  String() noexcept = default;
  String(std::u16string_view text);  // NOLINT: implicit like the text it holds
  String(const char16_t* text) : String(std::u16string_view(text)) {}
  String(const std::u16string& text) : String(std::u16string_view(text)) {}
  String(const String& other) noexcept : rep_(other.rep_) {
    internal::RetainString(rep_);
  }
  String(String&& other) noexcept : rep_(other.rep_) { other.rep_ = nullptr; }
  // The count is raised before the old text is dropped, so assigning a
  // String to itself keeps it.
  // NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
  String& operator=(const String& other) noexcept {
    internal::RetainString(other.rep_);
    internal::ReleaseString(rep_);
    rep_ = other.rep_;
    return *this;
  }
  String& operator=(String&& other) noexcept {
    if (this != &other) {
      internal::ReleaseString(rep_);
      rep_ = other.rep_;
      other.rep_ = nullptr;
    }
    return *this;
  }
  ~String() { internal::ReleaseString(rep_); }

  // Builds a String of `length` units whose text `fill(char16_t*)` writes, so
  // that callers assembling text need no intermediate buffer.
  template <class Fill>
  static String Build(size_t length, Fill&& fill) {
    if (length == 0) return String();
    internal::StringRep* rep = internal::AllocateString(length);
    fill(rep->units());
    return Adopt(rep);
  }

  // Takes over a block that already carries one count for this String.
  static String Adopt(internal::StringRep* rep) noexcept {
    String s;
    s.rep_ = rep;
    return s;
  }
  // Gives up the block without releasing it; the caller owns one count.
  internal::StringRep* Release() noexcept {
    internal::StringRep* rep = rep_;
    rep_ = nullptr;
    return rep;
  }
  internal::StringRep* rep() const noexcept { return rep_; }

  size_t size() const noexcept { return rep_ ? rep_->length : 0; }
  bool empty() const noexcept { return rep_ == nullptr; }
  // Returns the code units, zero-terminated.
  const char16_t* data() const noexcept { return rep_ ? rep_->units() : u""; }
  std::u16string_view view() const noexcept { return {data(), size()}; }
  operator std::u16string_view() const noexcept { return view(); }
  std::u16string str() const { return std::u16string(view()); }
  char16_t operator[](size_t i) const { return data()[i]; }

  friend bool operator==(const String& a, const String& b) noexcept {
    return a.rep_ == b.rep_ || internal::SameUnits(a.view(), b.view());
  }
  friend bool operator==(const String& a, std::u16string_view b) noexcept {
    return internal::SameUnits(a.view(), b);
  }
  // A literal converts to both String and the view; this picks the view.
  friend bool operator==(const String& a, const char16_t* b) noexcept {
    return internal::SameUnits(a.view(), std::u16string_view(b));
  }

 private:
  internal::StringRep* rep_ = nullptr;
};

// UTF-8 conversions for C++ and command-line convenience (see utf8.h for
// the strict forms). A lone surrogate on the way out becomes U+FFFD; on the
// way in, so does each maximal subpart of ill-formed input (the bytes that
// begin a sequence but cannot complete it, or a single byte that begins
// none), as the Unicode standard recommends: "\xE2\x82" is one U+FFFD,
// "\xED\xA0\x80" three.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace quorvel

#endif  // QUORVEL_STRING_H_
