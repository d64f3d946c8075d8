// `Object`, the reference-counted base of every class a client can create or
// call by name, and `Ref<T>`, the counted pointer to one.
#ifndef QUORVEL_OBJECT_H_
#define QUORVEL_OBJECT_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

namespace quorvel {

class ClassInfo;
template <class T>
class Ref;

// Base of the library's classes. An object lives while any counted reference
// to it is held and is destroyed when the last one goes. Its class's member
// table (`Class()`) is what late binding calls through; its type name is the
// class name unless a class says otherwise. Counts are atomic so references
// may be dropped on any thread; everything else about an object is
// thread-compatible.
class Object {
 public:
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  void AddRef() const noexcept {
    refs_.fetch_add(1, std::memory_order_relaxed);
  }
  void Release() const noexcept {
    // The last reference is dropped without an atomic step, which would
    // wait for every store before it (a tree's release is nothing but
    // stores): nobody else holds one, so nobody can add one. The acquire
    // load still sees every use by a thread that dropped a reference first.
    if (refs_.load(std::memory_order_acquire) == 1 ||
        refs_.fetch_sub(1, std::memory_order_acq_rel) == 1)
      delete this;
  }
  // Returns the number of counted references; for tests and diagnostics.
  int32_t RefCount() const noexcept {
    return refs_.load(std::memory_order_relaxed);
  }

  // Returns the first counted reference to `fresh`, an object just made by
  // a class's factory. Nobody else can see it yet, so its count is set by a
  // plain store: an atomic step would first wait for every store before it
  // (all of a tree a reader is writing) to reach memory.
  template <class T>
  static Ref<T> FirstRef(T* fresh) noexcept;

  // Returns the member table that late binding dispatches through.
  virtual const ClassInfo& Class() const = 0;
  // Returns the type name, by default the class name of `Class()`.
  virtual std::u16string_view TypeName() const;

 protected:
  Object() = default;
  virtual ~Object() = default;

 private:
  mutable std::atomic<int32_t> refs_{0};
};

// Counted pointer to an object; null stands for Nothing. Copies add a count,
// moves touch none.
template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}  // NOLINT
  explicit Ref(T* p) noexcept : p_(p) {
    if (p_ != nullptr) p_->AddRef();
  }
  Ref(const Ref& other) noexcept : Ref(other.p_) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(const Ref<U>& other) noexcept : Ref(other.get()) {}  // NOLINT
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(Ref<U>&& other) noexcept : p_(other.Detach()) {}  // NOLINT
  ~Ref() {
    if (p_ != nullptr) p_->Release();
  }

  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  // Takes over a pointer that already carries a count for this Ref.
  static Ref Adopt(T* p) noexcept {
    Ref r;
    r.p_ = p;
    return r;
  }
  // Gives up the pointer without releasing it; the caller owns the count.
  T* Detach() noexcept { return std::exchange(p_, nullptr); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  template <class U>
  friend bool operator==(const Ref& a, const Ref<U>& b) noexcept {
    return a.get() == b.get();
  }
  friend bool operator==(const Ref& a, std::nullptr_t) noexcept {
    return a.p_ == nullptr;
  }

 private:
  T* p_ = nullptr;
};

template <class T>
Ref<T> Object::FirstRef(T* fresh) noexcept {
  const Object* object = fresh;
  // A constructor that handed out a reference to itself has counted it.
  if (object->refs_.load(std::memory_order_relaxed) == 0) {
    object->refs_.store(1, std::memory_order_relaxed);
  } else {
    object->AddRef();
  }
  return Ref<T>::Adopt(fresh);
}

// Creates an object of class T and returns the first counted reference.
template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
  return Object::FirstRef(new T(std::forward<Args>(args)...));
}

}  // namespace quorvel

#endif  // QUORVEL_OBJECT_H_
