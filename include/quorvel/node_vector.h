// `NodeVector`: a growable array of nodes (bulk_memory.h) in 16 bytes, for
// the storage of containers that a tree holds by the million.
#ifndef QUORVEL_NODE_VECTOR_H_
#define QUORVEL_NODE_VECTOR_H_

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "quorvel/bulk_memory.h"

namespace quorvel::internal {

// std::vector's growth and exception rules, with 32-bit counts: a map's
// object is half the size with them, and no container here holds more
// than INT32_MAX elements. Elements move when the room grows, so they
// must move without throwing.
template <class T>
class NodeVector {
  static_assert(std::is_nothrow_move_constructible_v<T>);

 public:
  NodeVector() noexcept = default;
  NodeVector(const NodeVector&) = delete;
  NodeVector& operator=(const NodeVector&) = delete;
  ~NodeVector() {
    clear();
    FreeNode(data_);
  }

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  T& operator[](size_t i) noexcept { return data_[i]; }
  const T& operator[](size_t i) const noexcept { return data_[i]; }
  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }
  T& back() noexcept { return data_[size_ - 1]; }

  // Room for `count` elements in all, exactly; throws std::length_error
  // past 32-bit counts and std::bad_alloc, changing nothing.
  void reserve(size_t count) {
    if (count <= cap_) return;
    if (count > UINT32_MAX / 2) throw std::length_error("NodeVector");
    T* room = static_cast<T*>(AllocateNode(count * sizeof(T)));
    for (uint32_t i = 0; i < size_; ++i) {
      new (room + i) T(std::move(data_[i]));
      data_[i].~T();
    }
    FreeNode(std::exchange(data_, room));
    cap_ = static_cast<uint32_t>(count);
  }
  void push_back(T&& value) {
    if (size_ == cap_) reserve(cap_ == 0 ? 1 : size_t{cap_} * 2);
    new (data_ + size_) T(std::move(value));
    ++size_;
  }
  bool has_room() const noexcept { return size_ < cap_; }
  // Makes an element in place, for a caller that has checked has_room().
  template <class... Args>
  T& emplace_back_in_room(Args&&... args) noexcept {
    static_assert(std::is_nothrow_constructible_v<T, Args&&...>);
    T* made = new (data_ + size_) T{std::forward<Args>(args)...};
    ++size_;
    return *made;
  }
  // Drops the elements from `count` on; never grows.
  void truncate(size_t count) noexcept {
    if (count >= size_) return;
    // In order: a tree is released in the order its reader wrote it.
    for (size_t i = count; i < size_; ++i) data_[i].~T();
    size_ = static_cast<uint32_t>(count);
  }
  void erase(T* at) noexcept {
    for (T* next = at + 1; next != end(); ++at, ++next) *at = std::move(*next);
    truncate(size_ - 1);
  }
  void clear() noexcept { truncate(0); }
  void swap(NodeVector& other) noexcept {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(cap_, other.cap_);
  }

 private:
  T* data_ = nullptr;
  uint32_t size_ = 0;
  uint32_t cap_ = 0;
};

}  // namespace quorvel::internal

#endif  // QUORVEL_NODE_VECTOR_H_
