// What the extension knows about one class of the library: its members by
// every spelling Python asks for, and how Python's protocols (iteration,
// `in`, subscripts, `with`, exactness) map onto them. Built once per class
// from the class's member table and kept for the life of the process, as
// the member tables are.
#ifndef QUORVEL_PYTHON_CLASS_CACHE_H_
#define QUORVEL_PYTHON_CLASS_CACHE_H_

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "binding.h"

namespace quorvel_python {

// One parameter as the member table declares it.
struct ParamEntry {
  std::string name;
  uint32_t flags = 0;  // QUORVEL_PARAM_*
};

// How many arguments a member takes when it is called one way.
struct Arity {
  bool declared = false;
  size_t required = 0;
  size_t most = 0;  // ignored when `any_more`
  bool any_more = false;

  // Returns "1 argument", "0 to 3 arguments", "at least 1 argument".
  std::string Text() const;
};

// What Python needs to know about one member name of a class.
struct MemberEntry {
  std::string name;           // as the class spells it
  bool read_at_once = false;  // a property read that needs no argument
  // The reading member's parameters (Method or Get), for keyword arguments,
  // signatures and argument counts; the folded names beside them.
  std::vector<ParamEntry> params;
  std::vector<std::string> folded_params;
  bool param_array = false;
  bool is_method = false;  // declared as a Method rather than a property
  // The parameter that takes a callback (named Callback), or -1, and what
  // a plain callable given there becomes.
  int callback_index = -1;
  CallbackKind callback_kind = CallbackKind::kSortFunction;
  Arity reading;
  Arity writing;  // Let or Set, the new value counted
  // The library's member for each way of calling it (Method and Get share
  // the first), found on first use: a class's members are the same for
  // every object of it. Null when the class has none for that way.
  const quorvel_member* found[3] = {};
  bool looked[3] = {};
  // Made on first use and kept: inspect.Signature and the docstring.
  PyObject* signature = nullptr;
  PyObject* doc = nullptr;
};

// How a class's objects are walked by `for`.
enum class Walk {
  kNone,     // nothing to walk: iter() is a TypeError
  kNewEnum,  // the library's enumerator (_NewEnum)
  kKeys,     // the keys, as Keys gives them
  kRows,     // the rows, each a list of its cells: Item(row, column)
  kItems,    // Item(1) to Item(Count)
};

class ClassCache {
 public:
  explicit ClassCache(const quorvel_class_info* info);
  ClassCache(const ClassCache&) = delete;
  ClassCache& operator=(const ClassCache&) = delete;

  // Returns the member `name` (any letter case), or null.
  MemberEntry* Find(std::string_view name);
  // The same for a Python str; each spelling is looked up once, and the
  // spellings met last are answered by identity.
  MemberEntry* Find(PyObject* name);

  // Returns the member names, each once, in the class's order.
  PyObject* Names() const;

  const char* name() const { return info_->name; }
  const char* default_member() const { return info_->default_member; }
  MemberEntry* default_entry() const { return default_; }
  MemberEntry* open() const { return open_; }
  MemberEntry* item() const { return item_; }
  MemberEntry* count() const { return count_; }
  MemberEntry* exists() const { return exists_; }
  MemberEntry* remove() const { return remove_; }
  MemberEntry* values() const { return values_; }
  bool is_callback() const { return is_callback_; }
  Walk walk() const { return walk_; }
  // A map with Exists and Keys: it answers keys(), values(), items(),
  // get() and pop() as a Python mapping does, and a subscript read of an
  // absent key raises KeyError instead of adding the key.
  bool is_mapping() const { return is_mapping_; }
  // A database file (OpenDB and CloseDB): a context manager.
  bool is_database() const { return is_database_; }
  // Writes reach a database file, whose exactness was chosen when it was
  // opened: calls carry no request of their own unless they say so.
  bool keeps_open_choice() const { return keeps_open_choice_; }

 private:
  const quorvel_class_info* info_;
  std::vector<MemberEntry> entries_;
  std::unordered_map<std::string, size_t> by_folded_;
  struct DictDeleter {
    void operator()(PyObject* o) const { Py_XDECREF(o); }
  };
  std::unique_ptr<PyObject, DictDeleter> by_name_{PyDict_New()};
  // The spellings met last, by identity: attribute names in code are the
  // same str object call after call. Each slot holds its name.
  struct Recent {
    PyObject* name = nullptr;
    MemberEntry* entry = nullptr;
  };
  static constexpr size_t kRecent = 16;
  Recent recent_[kRecent];

  MemberEntry* default_ = nullptr;
  MemberEntry* open_ = nullptr;
  MemberEntry* item_ = nullptr;
  MemberEntry* count_ = nullptr;
  MemberEntry* exists_ = nullptr;
  MemberEntry* remove_ = nullptr;
  MemberEntry* values_ = nullptr;
  bool is_callback_ = false;
  Walk walk_ = Walk::kNone;
  bool is_mapping_ = false;
  bool is_database_ = false;
  bool keeps_open_choice_ = false;
};

// Returns the cache of the class of `handle`; null with a Python exception.
ClassCache* CacheFor(quorvel_object* handle);

// Folds a member or parameter name to lower case (member names are ASCII).
std::string Folded(std::string_view name);

// Returns the member's inspect.Signature, made once; null with an exception.
PyObject* MemberSignature(const ClassCache& cls, MemberEntry& entry);
// Returns the member's docstring, made once; null with an exception.
PyObject* MemberDoc(const ClassCache& cls, MemberEntry& entry);

}  // namespace quorvel_python

#endif  // QUORVEL_PYTHON_CLASS_CACHE_H_
