// The binder: finds a member by name in its class's table, completes the
// arguments (defaults, Missing, variable lists) and calls it.
#include "quorvel/dispatch.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "core/std_exceptions.h"
#include "quorvel/error.h"

namespace quorvel {

std::u16string_view Object::TypeName() const { return Class().name(); }

namespace {

// Member names are ASCII; folding them is enough for case-insensitive match.
inline uint32_t FoldAscii(uint32_t c) {
  return c + (static_cast<uint32_t>(c - u'A' < 26u) << 5);
}

uint32_t NameHash(std::u16string_view name) {
  uint32_t h = 2166136261u;
  for (char16_t c : name) h = (h ^ FoldAscii(c)) * 16777619u;
  return h;
}

bool SameName(std::u16string_view a, std::u16string_view b) {
  // Callers mostly spell a name as the table does.
  if (internal::SameUnits(a, b)) return true;
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

bool Reads(MemberKind k) {
  return k == MemberKind::Method || k == MemberKind::Get;
}

bool Answers(MemberKind k, CallType call_type) {
  switch (call_type) {
    case CallType::Method:
    case CallType::Get:
      return Reads(k);
    case CallType::Let:
      return k == MemberKind::Let;
    case CallType::Set:
      return k == MemberKind::Set;
  }
  return false;
}

}  // namespace

ClassInfo::ClassInfo(std::u16string name, std::vector<MemberInfo> members,
                     std::u16string default_member)
    : name_(std::move(name)),
      members_(std::move(members)),
      default_member_(std::move(default_member)) {
  size_t capacity = 8;
  while (capacity < members_.size() * 2) capacity *= 2;
  slots_.assign(capacity, -1);
  for (size_t i = 0; i < members_.size(); ++i) {
    MemberInfo& m = members_[i];
    int32_t first = FirstNamed(m.name);
    if (first >= 0) {
      // Chain behind the first member of the same name.
      int32_t at = first;
      while (members_[at].next_same_name >= 0) at = members_[at].next_same_name;
      members_[at].next_same_name = static_cast<int32_t>(i);
      continue;
    }
    size_t mask = capacity - 1;
    for (size_t s = NameHash(m.name) & mask;; s = (s + 1) & mask) {
      if (slots_[s] < 0) {
        slots_[s] = static_cast<int32_t>(i);
        break;
      }
    }
  }
  for (const MemberInfo& m : members_) {
    for (size_t p = 0; p + 1 < m.params.size(); ++p) {
      if (m.params[p].is_param_array) internal::BadMemberTable(name_, m.name);
    }
    // A write receives its new value in its last parameter, which must be
    // there and be required: the binder counts the other slots from it.
    if ((m.kind == MemberKind::Let || m.kind == MemberKind::Set) &&
        (m.params.empty() || m.params.back().optional ||
         m.params.back().is_param_array))
      internal::BadMemberTable(name_, m.name);
  }
  if (!default_member_.empty() && FirstNamed(default_member_) < 0)
    internal::BadMemberTable(name_, default_member_);
}

int32_t ClassInfo::FirstNamed(std::u16string_view name) const {
  if (slots_.empty()) return -1;
  size_t mask = slots_.size() - 1;
  for (size_t s = NameHash(name) & mask;; s = (s + 1) & mask) {
    int32_t at = slots_[s];
    if (at < 0) return -1;
    if (SameName(members_[at].name, name)) return at;
  }
}

const MemberInfo* ClassInfo::Find(std::u16string_view name,
                                  CallType call_type) const {
  for (int32_t at = FirstNamed(name); at >= 0;
       at = members_[at].next_same_name) {
    if (Answers(members_[at].kind, call_type)) return &members_[at];
  }
  return nullptr;
}

namespace internal {

void BadMemberTable(std::u16string_view class_name,
                    std::u16string_view member) {
  // A table that disagrees with its class is a defect of the library
  // itself, found the first time the class is used.
  std::fprintf(stderr, "quorvel: member table of %s is wrong at %s\n",
               ToUtf8(class_name).c_str(), ToUtf8(member).c_str());
  std::abort();
}

Object* ObjectArgument(const Value& v) {
  if (!v.IsObject()) RaiseStandard(kErrTypeMismatch);
  return v.object();
}

}  // namespace internal

namespace {

// The value an omitted optional parameter receives.
Value Omitted(const ParamInfo& p) {
  if (p.has_default) return p.default_value;
  return p.is_value ? Value::Missing() : Value();
}

// The arguments of a call to one member, complete: the caller's own when
// they are, else a copy with the omitted parameters filled. Tables rarely
// declare more than a handful, so the copy lives on the stack, and is made
// only when needed.
class Completed {
 public:
  Completed(const MemberInfo& m, const Value* args, size_t count);
  ~Completed() { std::destroy_n(made_, made_count_); }
  Completed(const Completed&) = delete;
  Completed& operator=(const Completed&) = delete;
  const Value* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  static constexpr size_t kInline = 12;
  alignas(Value) unsigned char room_[kInline * sizeof(Value)];
  std::vector<Value> heap_;
  Value* made_ = nullptr;
  size_t made_count_ = 0;
  const Value* data_;
  size_t size_;
};

Completed::Completed(const MemberInfo& m, const Value* args, size_t count)
    : data_(args), size_(count) {
  const bool put = m.kind == MemberKind::Let || m.kind == MemberKind::Set;
  const bool has_list = !m.params.empty() && m.params.back().is_param_array;
  const size_t fixed = m.params.size() - (has_list ? 1 : 0);
  // Positional arguments that fill declared parameters; for a write the new
  // value is the last argument and fills the last parameter.
  size_t positional = count;
  size_t slots = fixed;
  if (put) {
    if (count == 0) RaiseStandard(kErrWrongArgumentCount);
    positional = count - 1;
    slots = fixed - 1;
  }
  if (positional > slots && !has_list) RaiseStandard(kErrWrongArgumentCount);
  bool complete = positional >= slots;
  const size_t given = positional < slots ? positional : slots;
  for (size_t i = 0; i < given; ++i) {
    if (!args[i].IsMissing()) continue;
    if (!m.params[i].optional) RaiseStandard(kErrArgumentNotOptional);
    if (!m.params[i].is_value || m.params[i].has_default) complete = false;
  }
  for (size_t i = given; i < slots; ++i) {
    if (!m.params[i].optional) RaiseStandard(kErrWrongArgumentCount);
  }
  if (complete) return;
  // Fill the omitted parameters.
  const size_t extra = count - given - (put ? 1 : 0);
  const size_t total = slots + extra + (put ? 1 : 0);
  Value* full;
  if (total > kInline) {
    heap_.resize(total);
    full = heap_.data();
  } else {
    made_ = reinterpret_cast<Value*>(room_);
    for (; made_count_ < total; ++made_count_) new (made_ + made_count_) Value;
    full = made_;
  }
  for (size_t i = 0; i < slots; ++i) {
    if (i < given && !args[i].IsMissing()) {
      full[i] = args[i];
    } else {
      full[i] = Omitted(m.params[i]);
    }
  }
  for (size_t i = 0; i < extra; ++i) full[slots + i] = args[given + i];
  if (put) full[slots] = args[count - 1];
  data_ = full;
  size_ = total;
}

Value Invoke(Object& self, const MemberInfo& m, const Value* args,
             size_t count) {
  const Completed complete(m, args, count);
  return m.invoke(self, complete.data(), complete.size());
}

Value CallChecked(Object* self, std::u16string_view proc_name,
                  CallType call_type, const Value* args, size_t count) {
  const MemberInfo& m = FindMember(self, proc_name, call_type);
  // The member may drop the caller's last reference to the object (a
  // container clearing itself); keep it alive for the call.
  Ref<Object> keep(self);
  return internal::TranslateStdExceptions(
      [&] { return Invoke(*self, m, args, count); });
}

void CheckMemberOf(const Object* self, const MemberInfo& member) {
  if (self == nullptr) RaiseStandard(kErrObjectNotSet);
  const std::span<const MemberInfo> table = self->Class().members();
  const auto at = reinterpret_cast<uintptr_t>(&member);
  const auto first = reinterpret_cast<uintptr_t>(table.data());
  if (at < first || at >= first + table.size_bytes())
    RaiseStandard(kErrNoSuchMember);
}

Object* Target(const Value& object) {
  if (!object.IsObject()) RaiseStandard(kErrObjectRequired);
  return object.object();
}

}  // namespace

Value CallByName(const Value& object, std::u16string_view proc_name,
                 CallType call_type, std::span<Value> args) {
  return CallChecked(Target(object), proc_name, call_type, args.data(),
                     args.size());
}

Value CallByName(const Value& object, std::u16string_view proc_name,
                 CallType call_type, std::initializer_list<Value> args) {
  return CallChecked(Target(object), proc_name, call_type, args.begin(),
                     args.size());
}

Value InvokeByName(const Value& object, std::u16string_view proc_name,
                   CallType call_type, std::span<const Value> args) {
  return CallChecked(Target(object), proc_name, call_type, args.data(),
                     args.size());
}

Value InvokeByName(Object* object, std::u16string_view proc_name,
                   CallType call_type, std::span<const Value> args) {
  return CallChecked(object, proc_name, call_type, args.data(), args.size());
}

const MemberInfo& FindMember(const Object* object,
                             std::u16string_view proc_name,
                             CallType call_type) {
  if (object == nullptr) RaiseStandard(kErrObjectNotSet);
  const ClassInfo& info = object->Class();
  const MemberInfo* m = info.Find(
      proc_name.empty() ? info.default_member() : proc_name, call_type);
  if (m == nullptr) RaiseStandard(kErrNoSuchMember);
  return *m;
}

bool TryInvokeMember(Object* object, const MemberInfo& member,
                     std::span<const Value> args, Value& result,
                     std::optional<Error>& error) noexcept {
  // The caller holds the object for the call (a handle does), so no count is
  // taken: its two atomic steps would cost a tenth of a quick call. What the
  // member raises is caught in its own invoker; this handler sees only the
  // errors of completing the arguments.
  try {
    CheckMemberOf(object, member);
    const Completed complete(member, args.data(), args.size());
    return member.try_invoke(*object, complete.data(), complete.size(), result,
                             error);
  } catch (...) {
    internal::KeepCurrentError(error);
  }
  return false;
}

namespace internal {

void KeepCurrentError(std::optional<Error>& error) noexcept {
  try {
    throw;
  } catch (Error& e) {
    error.emplace(std::move(e));
  } catch (...) {
    // Anything else becomes what InvokeByName raises for it.
    try {
      TranslateStdExceptions([] { throw; });
      error.emplace(kErrInternal, kLibrarySource,
                    StandardDescription(kErrInternal));
    } catch (Error& e) {
      error.emplace(std::move(e));
    } catch (...) {
      error.emplace(kErrInternal, kLibrarySource,
                    StandardDescription(kErrInternal));
    }
  }
}

}  // namespace internal

}  // namespace quorvel
