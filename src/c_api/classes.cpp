// Member lists: each class's member table in C form, built the first time
// it is asked for and kept for the life of the process.
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "c_api/guard.h"
#include "c_api/handles.h"
#include "quorvel/dispatch.h"
#include "quorvel/quorvel_c.h"

namespace quorvel::c_api {

namespace {

int32_t CallTypeOf(MemberKind kind) {
  switch (kind) {
    case MemberKind::Method:
      return QUORVEL_METHOD;
    case MemberKind::Get:
      return QUORVEL_GET;
    case MemberKind::Let:
      return QUORVEL_LET;
    case MemberKind::Set:
      return QUORVEL_SET;
  }
  return 0;
}

uint32_t FlagsOf(const ParamInfo& p) {
  return (p.optional ? QUORVEL_PARAM_OPTIONAL : 0) |
         (p.has_default ? QUORVEL_PARAM_HAS_DEFAULT : 0) |
         (p.is_param_array ? QUORVEL_PARAM_ARRAY : 0);
}

// One class in C form. The texts sit in a deque, whose elements never move,
// so the pointers into them stay good.
class ExportedClass {
 public:
  explicit ExportedClass(const ClassInfo& info) {
    params_.resize(info.members().size());
    for (size_t m = 0; m < info.members().size(); ++m) {
      const MemberInfo& member = info.members()[m];
      for (const ParamInfo& p : member.params)
        params_[m].push_back({Text(p.name), FlagsOf(p)});
      members_.push_back({Text(member.name), CallTypeOf(member.kind),
                          static_cast<int32_t>(member.params.size()),
                          params_[m].data()});
    }
    info_.name = Text(info.name());
    info_.default_member = Text(info.default_member());
    info_.member_count = static_cast<int32_t>(members_.size());
    info_.members = members_.data();
  }
  const quorvel_class_info* info() const { return &info_; }

 private:
  const char* Text(std::u16string_view text) {
    return texts_.emplace_back(ToUtf8(text)).c_str();
  }

  std::deque<std::string> texts_;
  std::vector<std::vector<quorvel_param_info>> params_;
  std::vector<quorvel_member_info> members_;
  quorvel_class_info info_;
};

const quorvel_class_info* Export(const ClassInfo& info) {
  // Never destroyed: bindings may hold these pointers until the very end.
  static std::mutex* mutex = new std::mutex;
  static auto* exported =
      new std::unordered_map<const ClassInfo*, std::unique_ptr<ExportedClass>>;
  std::lock_guard<std::mutex> lock(*mutex);
  std::unique_ptr<ExportedClass>& entry = (*exported)[&info];
  if (entry == nullptr) entry = std::make_unique<ExportedClass>(info);
  return entry->info();
}

}  // namespace

}  // namespace quorvel::c_api

extern "C" {

int32_t quorvel_object_class(quorvel_object* object,
                             const quorvel_class_info** out) {
  return quorvel::c_api::Guard([&] {
    if (out == nullptr) quorvel::c_api::RaiseBadArgument(u"out is NULL");
    *out = nullptr;
    quorvel::Object* target = quorvel::c_api::ObjectOf(object);
    if (target == nullptr) quorvel::RaiseStandard(quorvel::kErrObjectNotSet);
    *out = quorvel::c_api::Export(target->Class());
  });
}

}  // extern "C"
