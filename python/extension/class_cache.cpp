// The per-class member caches, and the signatures and docstrings made from
// the member tables.
#include "class_cache.h"

#include <cstdint>
#include <cstring>

namespace quorvel_python {

namespace {

Arity ArityOf(const quorvel_member_info& m) {
  Arity arity;
  arity.declared = true;
  arity.most = static_cast<size_t>(m.param_count);
  for (int32_t p = 0; p < m.param_count; ++p) {
    const uint32_t flags = m.params[p].flags;
    if ((flags & (QUORVEL_PARAM_OPTIONAL | QUORVEL_PARAM_ARRAY)) == 0)
      ++arity.required;
    if ((flags & QUORVEL_PARAM_ARRAY) != 0) arity.any_more = true;
  }
  return arity;
}

std::string CountText(size_t n) {
  return std::to_string(n) + (n == 1 ? " argument" : " arguments");
}

}  // namespace

std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return folded;
}

std::string Arity::Text() const {
  if (any_more) return "at least " + CountText(required);
  if (required == most) return CountText(required);
  return std::to_string(required) + " to " + CountText(most);
}

ClassCache::ClassCache(const quorvel_class_info* info) : info_(info) {
  for (int32_t i = 0; i < info->member_count; ++i) {
    const quorvel_member_info& m = info->members[i];
    auto [at, added] = by_folded_.try_emplace(Folded(m.name), entries_.size());
    if (added) {
      entries_.emplace_back();
      entries_.back().name = m.name;
    }
    MemberEntry& entry = entries_[at->second];
    if (m.call_type == QUORVEL_LET || m.call_type == QUORVEL_SET) {
      entry.writing = ArityOf(m);
      continue;
    }
    entry.reading = ArityOf(m);
    entry.is_method = m.call_type == QUORVEL_METHOD;
    entry.params.clear();
    entry.folded_params.clear();
    for (int32_t p = 0; p < m.param_count; ++p) {
      entry.params.push_back({m.params[p].name, m.params[p].flags});
      entry.folded_params.push_back(Folded(m.params[p].name));
    }
    entry.param_array = entry.reading.any_more;
    // A callable passed to Filter is a predicate; anywhere else it gives a
    // key or a mapped value.
    for (size_t p = 0; p < entry.folded_params.size(); ++p)
      if (entry.folded_params[p] == "callback")
        entry.callback_index = static_cast<int>(p);
    if (Folded(m.name) == "filter")
      entry.callback_kind = CallbackKind::kFilterFunction;
    entry.read_at_once =
        m.call_type == QUORVEL_GET && entry.reading.required == 0;
  }
  default_ = Find(info->default_member);
  open_ = Find("opendb");
  count_ = Find("count");
  exists_ = Find("exists");
  remove_ = Find("remove");
  values_ = Find("items");
  MemberEntry* keys = Find("keys");
  item_ = Find("item");
  const bool has_default = default_ != nullptr;
  is_callback_ = std::strcmp(info->name, "ISortCallback") == 0 ||
                 std::strcmp(info->name, "IFilterCallback") == 0;
  if (Find("_newenum") != nullptr) {
    walk_ = Walk::kNewEnum;
  } else if (keys != nullptr && keys->reading.required == 0) {
    walk_ = Walk::kKeys;
  } else if (item_ != nullptr && Find("rowcount") != nullptr &&
             Find("columncount") != nullptr) {
    walk_ = Walk::kRows;
  } else if (item_ != nullptr && item_->reading.required == 1 &&
             count_ != nullptr) {
    walk_ = Walk::kItems;
  }
  is_mapping_ = exists_ != nullptr && keys != nullptr && has_default;
  is_database_ = open_ != nullptr && Find("closedb") != nullptr;
  keeps_open_choice_ = is_database_ || Find("db") != nullptr;
}

MemberEntry* ClassCache::Find(std::string_view name) {
  auto at = by_folded_.find(Folded(name));
  return at == by_folded_.end() ? nullptr : &entries_[at->second];
}

MemberEntry* ClassCache::Find(PyObject* name) {
  Recent& recent = recent_[(reinterpret_cast<uintptr_t>(name) >> 4) % kRecent];
  if (recent.name == name) return recent.entry;
  MemberEntry* entry = nullptr;
  PyObject* known = PyDict_GetItemWithError(by_name_.get(), name);
  if (known != nullptr) {
    if (known != Py_None) entry = &entries_[PyLong_AsSize_t(known)];
  } else {
    PyErr_Clear();  // a str key cannot fail to hash
    Py_ssize_t size;
    const char* text = PyUnicode_AsUTF8AndSize(name, &size);
    if (text == nullptr) {
      PyErr_Clear();
      return nullptr;
    }
    entry = Find(std::string_view(text, static_cast<size_t>(size)));
    PyObject* index = entry == nullptr
                          ? Py_NewRef(Py_None)
                          : PyLong_FromSize_t(entry - entries_.data());
    if (index != nullptr) PyDict_SetItem(by_name_.get(), name, index);
    Py_XDECREF(index);
    PyErr_Clear();
  }
  Py_XSETREF(recent.name, Py_NewRef(name));
  recent.entry = entry;
  return entry;
}

PyObject* ClassCache::Names() const {
  PyObject* names = PyList_New(0);
  for (const MemberEntry& e : entries_) {
    PyObject* name = PyUnicode_FromString(e.name.c_str());
    if (names == nullptr || name == nullptr ||
        PyList_Append(names, name) != 0) {
      Py_XDECREF(name);
      Py_XDECREF(names);
      return nullptr;
    }
    Py_DECREF(name);
  }
  return names;
}

ClassCache* CacheFor(quorvel_object* handle) {
  static auto* caches = new std::unordered_map<const quorvel_class_info*,
                                               std::unique_ptr<ClassCache>>;
  const quorvel_class_info* info = nullptr;
  const int32_t status = quorvel_object_class(handle, &info);
  if (status != 0) {
    RaiseStatus(status);
    return nullptr;
  }
  std::unique_ptr<ClassCache>& cache = (*caches)[info];
  if (cache == nullptr) cache = std::make_unique<ClassCache>(info);
  return cache.get();
}

namespace {

// Asks the package's describe_member for the signature and docstring of a
// member and keeps both in the entry.
bool Describe(const ClassCache& cls, MemberEntry& entry) {
  if (entry.signature != nullptr) return true;
  PyObject* params = PyTuple_New(static_cast<Py_ssize_t>(entry.params.size()));
  for (size_t i = 0; params != nullptr && i < entry.params.size(); ++i) {
    PyObject* param = Py_BuildValue("(sI)", entry.params[i].name.c_str(),
                                    entry.params[i].flags);
    if (param == nullptr) Py_CLEAR(params);
    if (params != nullptr)
      PyTuple_SET_ITEM(params, static_cast<Py_ssize_t>(i), param);
  }
  if (params == nullptr) return false;
  const char* kind = entry.is_method          ? "method"
                     : entry.reading.declared ? "property"
                                              : "write-only property";
  PyObject* described = PyObject_CallFunction(
      Types().describe_member, "ssNsO", cls.name(), entry.name.c_str(), params,
      kind, entry.writing.declared ? Py_True : Py_False);
  if (described == nullptr) return false;
  PyObject* signature;
  PyObject* doc;
  if (!PyArg_ParseTuple(described, "OO", &signature, &doc)) {
    Py_DECREF(described);
    return false;
  }
  entry.signature = Py_NewRef(signature);
  entry.doc = Py_NewRef(doc);
  Py_DECREF(described);
  return true;
}

}  // namespace

PyObject* MemberSignature(const ClassCache& cls, MemberEntry& entry) {
  return Describe(cls, entry) ? Py_NewRef(entry.signature) : nullptr;
}

PyObject* MemberDoc(const ClassCache& cls, MemberEntry& entry) {
  return Describe(cls, entry) ? Py_NewRef(entry.doc) : nullptr;
}

}  // namespace quorvel_python
