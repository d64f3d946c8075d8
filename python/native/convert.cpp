// Native Python data to Values and back, and the library's errors as the
// package's exceptions.
#include "convert.h"

#include <quorvel/carray.h>
#include <quorvel/collection.h>
#include <quorvel/dictionary.h>
#include <quorvel/safearray.h>

#include <cstring>
#include <vector>

namespace quorvel::python {

namespace {

// The walk from Python data to a Value.
class ToValueWalk {
 public:
  explicit ToValueWalk(const ConvertOptions& options) : options_(options) {}

  bool Convert(PyObject* object, Value* out) {
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyUnicode_Type) return Text(object, out);
    if (type == &PyDict_Type) return Dict(object, out);
    if (type == &PyLong_Type) return Int(object, out);
    if (type == &PyFloat_Type) {
      *out = Value(PyFloat_AS_DOUBLE(object));
      return true;
    }
    if (type == &PyList_Type || type == &PyTuple_Type) return List(object, out);
    if (object == Py_None) {
      *out = Value::Null();
      return true;
    }
    if (type == &PyBool_Type) {
      *out = Value(object == Py_True);
      return true;
    }
    // Subclasses, and the types met less often.
    if (PyUnicode_Check(object)) return Text(object, out);
    if (PyDict_Check(object)) return Dict(object, out);
    if (PyLong_Check(object)) return Int(object, out);
    if (PyFloat_Check(object)) {
      *out = Value(PyFloat_AsDouble(object));
      return true;
    }
    if (PyList_Check(object) || PyTuple_Check(object)) return List(object, out);
    if (PyBytes_Check(object)) {
      return Bytes(PyBytes_AS_STRING(object), PyBytes_GET_SIZE(object), out);
    }
    if (PyByteArray_Check(object)) {
      return Bytes(PyByteArray_AS_STRING(object), PyByteArray_GET_SIZE(object),
                   out);
    }
    Number number;
    if (IsDecimal(object)) {
      if (!NumberFromDecimal(object, options_.exact, &number, &fault_))
        return false;
      *out = ValueOf(number);
      return true;
    }
    if (IsDate(object)) {
      if (!NumberFromDate(object, options_.exact, &number, &fault_))
        return false;
      *out = ValueOf(number);
      return true;
    }
    return fault_.Set(Fault::Kind::kType, TypeNameOf(object));
  }

  const Fault& fault() const { return fault_; }
  size_t work() const { return work_; }

 private:
  bool Text(PyObject* text, Value* out) {
    *out = Value(StringOf(text));
    work_ += size_t(PyUnicode_GET_LENGTH(text)) / 8 + 1;
    return true;
  }

  bool Int(PyObject* value, Value* out) {
    ++work_;
    Number number;
    if (!NumberFromInt(value, options_.exact, &number, &fault_)) return false;
    *out = ValueOf(number);
    return true;
  }

  bool Bytes(const char* data, Py_ssize_t size, Value* out) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    *out = Value(SafeArray(std::vector<uint8_t>(bytes, bytes + size)));
    work_ += size_t(size) / 8 + 1;
    return true;
  }

  bool Dict(PyObject* dict, Value* out) {
    Held hold(dict);
    Nested nested;
    if (!nested.Enter()) return fault_.Set(Fault::Kind::kPython, {});
    Ref<Dictionary> result = Dictionary::Create();
    result->Reserve(size_t(PyDict_GET_SIZE(dict)));
    Py_ssize_t position = 0;
    PyObject* key;
    PyObject* item;
    while (PyDict_Next(dict, &position, &key, &item)) {
      ++work_;
      if (!PyUnicode_Check(key)) {
        return KeyIsNoText(key, &fault_);
      }
      Held hold_item(item);
      const String name = StringOf(key);
      bool inserted = false;
      Value& slot = result->Slot(name, &inserted);
      // Two str keys can have one UTF-16 form: a pair given as its two
      // halves and the character they make.
      if (!inserted && options_.exact) {
        fault_.Set(Fault::Kind::kInexact, u"the key",
                   u"is given twice, once as the halves of a surrogate pair");
      } else if (Convert(item, &slot)) {
        continue;
      }
      fault_.PrependKey(name.view());
      return false;
    }
    *out = Value(std::move(result));
    return true;
  }

  bool List(PyObject* list, Value* out) {
    Held hold(list);
    Nested nested;
    if (!nested.Enter()) return fault_.Set(Fault::Kind::kPython, {});
    Ref<CArray> result = CArray::Create();
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(list);
    if (count > 0) result->EnsureCapacity(static_cast<int32_t>(count));
    // A list may change under client code run meanwhile; its length is read
    // again at each step.
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(list); ++i) {
      ++work_;
      PyObject* item = PySequence_Fast_GET_ITEM(list, i);
      Held hold_item(item);
      Value value;
      if (!Convert(item, &value)) {
        fault_.PrependIndex(i);
        return false;
      }
      result->Add(std::move(value));
    }
    *out = Value(std::move(result));
    return true;
  }

  const ConvertOptions& options_;
  Fault fault_;
  size_t work_ = 0;
};

// The text caches every walk from a Value shares. A pair made for each
// walk would cost more than a small value's whole conversion (a document
// read from a store), and walks run with the interpreter lock held. Never
// freed: the strs they hold must not outlive the interpreter's end.
TextCache& SharedCache(int which) {
  static TextCache* caches = new TextCache[2];
  return caches[which];
}

// The walk from a Value to Python data.
class FromValueWalk {
 public:
  PyObject* Convert(const Value& value) {
    switch (value.kind()) {
      case Kind::Empty:
      case Kind::Null:
        return Py_NewRef(Py_None);
      case Kind::Integer:
        return PyLong_FromLong(value.integer());
      case Kind::Long:
        return PyLong_FromLong(value.long_value());
      case Kind::Byte:
        return PyLong_FromLong(value.byte());
      case Kind::Single:
        return PyFloat_FromDouble(value.single());
      case Kind::Double:
        return PyFloat_FromDouble(value.double_value());
      case Kind::Boolean:
        return PyBool_FromLong(value.boolean());
      case Kind::Currency: {
        const int64_t c = value.currency();
        const unsigned __int128 magnitude =
            c < 0 ? 0 - static_cast<unsigned __int128>(c)
                  : static_cast<unsigned __int128>(c);
        return Number(c < 0, magnitude, 4);
      }
      case Kind::Decimal: {
        const quorvel::Decimal d = value.decimal();
        return Number(d.negative(),
                      (static_cast<unsigned __int128>(d.hi()) << 64) | d.lo(),
                      d.scale());
      }
      case Kind::Date:
        return DateFromDayNumber(value.date());
      case Kind::String:
        return value.string_view().size() <= 8
                   ? texts_.Get(value.string_view())
                   : TextFromUtf16(value.string_view());
      case Kind::Object:
        return Object(value);
      case Kind::Array:
        return Array(value.array());
      default:
        return NoForm(u"an Error value");
    }
  }

  const std::u16string& path() const { return path_; }
  const std::u16string& no_form() const { return no_form_; }

 private:
  // An int when whole, else a decimal.Decimal without trailing zeros.
  static PyObject* Number(bool negative, unsigned __int128 magnitude,
                          int scale) {
    while (scale > 0 && magnitude % 10 == 0) {
      magnitude /= 10;
      --scale;
    }
    if (scale > 0) return DecimalFromParts(negative, magnitude, scale);
    if (magnitude >> 63 == 0) {
      const auto n = static_cast<long long>(magnitude);
      return PyLong_FromLongLong(negative ? -n : n);
    }
    return PyLong_FromString(DigitsOf(negative, magnitude).c_str(), nullptr,
                             10);
  }

  PyObject* Object(const Value& value) {
    quorvel::Object* object = value.object();
    if (object == nullptr) return Py_NewRef(Py_None);
    if (auto* dict = dynamic_cast<const Dictionary*>(object))
      return Dict(*dict);
    if (auto* list = dynamic_cast<const CArray*>(object))
      return List(list->begin(), list->end(), size_t(list->Count()));
    if (auto* collection = dynamic_cast<const Collection*>(object)) {
      return List(collection->begin(), collection->end(),
                  size_t(collection->Count()));
    }
    if (auto* fields = dynamic_cast<const FieldMap*>(object))
      return Dict(fields->fields());
    const std::u16string_view name = object->TypeName();
    return NoForm(u"a " + std::u16string(name) + u" object");
  }

  PyObject* Dict(const Dictionary& dict) {
    Nested nested;
    if (!nested.Enter()) return nullptr;
    PyObject* result = PyDict_New();
    if (result == nullptr) return nullptr;
    for (const Dictionary::Entry& entry : dict) {
      PyObject* key = keys_.Get(entry.key.view());
      PyObject* item = key == nullptr ? nullptr : Convert(entry.value);
      const bool ok = item != nullptr && PyDict_SetItem(result, key, item) == 0;
      Py_XDECREF(key);
      Py_XDECREF(item);
      if (!ok) {
        PrependKey(entry.key.view());
        Py_DECREF(result);
        return nullptr;
      }
    }
    return result;
  }

  template <class Iterator>
  PyObject* List(Iterator begin, Iterator end, size_t count) {
    Nested nested;
    if (!nested.Enter()) return nullptr;
    PyObject* result = PyList_New(Py_ssize_t(count));
    if (result == nullptr) return nullptr;
    Py_ssize_t i = 0;
    for (Iterator at = begin; at != end; ++at, ++i) {
      PyObject* item = Convert(*at);
      if (item == nullptr) {
        PrependIndex(i);
        Py_DECREF(result);
        return nullptr;
      }
      PyList_SET_ITEM(result, i, item);
    }
    return result;
  }

  // A Byte array is bytes; any other array nested lists, the first
  // dimension outermost.
  PyObject* Array(const SafeArray& array) {
    if (array.element_kind() == Kind::Byte) {
      const std::span<const uint8_t> bytes = array.bytes();
      return PyBytes_FromStringAndSize(
          reinterpret_cast<const char*>(bytes.data()),
          Py_ssize_t(bytes.size()));
    }
    std::vector<size_t> strides(array.bounds().size(), 1);
    for (size_t d = 1; d < strides.size(); ++d)
      strides[d] = strides[d - 1] * size_t(array.bounds()[d - 1].count);
    return Dimension(array, strides, 0, 0);
  }

  PyObject* Dimension(const SafeArray& array,
                      const std::vector<size_t>& strides, size_t dim,
                      size_t flat) {
    const Py_ssize_t count = array.bounds()[dim].count;
    PyObject* result = PyList_New(count);
    for (Py_ssize_t i = 0; result != nullptr && i < count; ++i) {
      const size_t at = flat + size_t(i) * strides[dim];
      PyObject* item = dim + 1 < strides.size()
                           ? Dimension(array, strides, dim + 1, at)
                           : Convert(array.values()[at]);
      if (item == nullptr) {
        PrependIndex(i);
        Py_CLEAR(result);
      } else {
        PyList_SET_ITEM(result, i, item);
      }
    }
    return result;
  }

  // Fails for a Value without a Python form; the top names the place.
  PyObject* NoForm(const std::u16string& what) {
    no_form_ = what;
    PyErr_SetString(PyExc_TypeError, "no Python form");
    return nullptr;
  }

  void PrependKey(std::u16string_view key) {
    Fault step;
    step.PrependKey(key);
    path_.insert(0, step.path);
  }
  void PrependIndex(Py_ssize_t index) {
    Fault step;
    step.PrependIndex(index);
    path_.insert(0, step.path);
  }

  std::u16string path_;
  std::u16string no_form_;
  TextCache& keys_ = SharedCache(0);
  TextCache& texts_ = SharedCache(1);
};

// Returns the text at a storability fault's place: the String there, or
// the key the place ends in. Null when the path leads nowhere.
std::optional<String> TextAt(const Value& root, const StorableFault& fault) {
  const std::u16string_view path = fault.path;
  const Value* at = &root;
  String key;
  size_t i = 0;
  while (i < path.size()) {
    bool by_key = true;
    int64_t index = 0;
    std::u16string name;
    if (path[i] == u'.' || (i == 0 && path[i] != u'[')) {
      if (path[i] == u'.') ++i;
      while (i < path.size() && path[i] != u'.' && path[i] != u'[')
        name += path[i++];
    } else if (i + 1 < path.size() && path[i + 1] == u'"') {
      // ["a key"]: a JSON string, escapes \" \\ and \uXXXX.
      for (i += 2; i < path.size() && path[i] != u'"'; ++i) {
        // \" and \\ add their second unit as a plain unit is added.
        // NOLINTNEXTLINE(bugprone-branch-clone)
        if (path[i] != u'\\') {
          name += path[i];
        } else if (path[++i] == u'u') {
          char16_t unit = 0;
          for (size_t k = i + 1; k < i + 5 && k < path.size(); ++k) {
            const char16_t c = path[k];
            unit = static_cast<char16_t>(
                unit * 16 + (c <= u'9' ? c - u'0' : (c | 0x20) - u'a' + 10));
          }
          name += unit;
          i += 4;
        } else {
          name += path[i];
        }
      }
      i += 2;  // "]
    } else {
      by_key = false;
      for (++i; i < path.size() && path[i] != u']'; ++i)
        index = index * 10 + (path[i] - u'0');
      ++i;
    }
    const bool last = i >= path.size();
    if (by_key && last && fault.in_key) return String(name);
    const Value* next = nullptr;
    if (by_key) {
      if (const auto* dict = at->object_as<Dictionary>()) {
        next = dict->Find(name);
      } else if (const auto* fields = at->object_as<FieldMap>()) {
        next = fields->fields().Find(name);
      }
    } else if (const auto* list = at->object_as<CArray>()) {
      if (index < list->Count()) next = &list->begin()[index];
    }
    if (next == nullptr) return std::nullopt;
    at = next;
  }
  if (!at->IsString()) return std::nullopt;
  return at->string();
}

}  // namespace

TextCache::TextCache() : slots_(kSlots) {}

TextCache::~TextCache() {
  for (Slot& slot : slots_) Py_XDECREF(slot.text);
}

PyObject* TextCache::Get(std::u16string_view units) {
  if (units.empty() || units.size() > kMaxUnits) return TextFromUtf16(units);
  uint32_t hash = 2166136261u;
  for (char16_t c : units) hash = (hash ^ c) * 16777619u;
  Slot& slot = slots_[hash % kSlots];
  if (slot.text != nullptr && slot.length == units.size() &&
      std::memcmp(slot.units, units.data(), units.size() * 2) == 0) {
    return Py_NewRef(slot.text);
  }
  PyObject* text = TextFromUtf16(units);
  if (text == nullptr) return nullptr;
  Py_XSETREF(slot.text, Py_NewRef(text));
  slot.length = units.size();
  std::memcpy(slot.units, units.data(), units.size() * 2);
  return text;
}

bool ParseErrors(const char* errors, ConvertOptions* options) {
  if (errors == nullptr || std::strcmp(errors, "strict") == 0) {
    options->exact = true;
  } else if (std::strcmp(errors, "replace") == 0) {
    options->exact = false;
  } else {
    PyErr_Format(PyExc_ValueError,
                 "errors must be 'strict' or 'replace', not '%s'", errors);
    return false;
  }
  return true;
}

String StringOf(PyObject* text) {
  return String::Build(Utf16Length(text),
                       [&](char16_t* out) { WriteUtf16(text, out); });
}

Value ValueOf(const Number& n) {
  switch (n.kind) {
    case Number::Kind::kLong:
      return Value(n.long_value);
    case Number::Kind::kDecimal:
      return Value::Decimal(quorvel::Decimal(n.hi, n.lo, n.scale, n.negative));
    case Number::Kind::kDouble:
      return Value(n.real);
    case Number::Kind::kDate:
      return Value::Date(n.real);
  }
  return Value();
}

std::u16string TypeNameOf(PyObject* object) {
  const char* name = Py_TYPE(object)->tp_name;
  return std::u16string(name, name + std::strlen(name));
}

bool KeyIsNoText(PyObject* key, Fault* fault) {
  return fault->Set(Fault::Kind::kType,
                    u"a key of type '" + TypeNameOf(key) + u"'",
                    u"is not a str, which every key must be");
}

std::u16string_view BorrowUtf16(PyObject* text, std::u16string& scratch) {
  const size_t length = size_t(PyUnicode_GET_LENGTH(text));
  if (PyUnicode_KIND(text) == PyUnicode_2BYTE_KIND) {
    return {reinterpret_cast<const char16_t*>(PyUnicode_2BYTE_DATA(text)),
            length};
  }
  scratch.resize(Utf16Length(text));
  WriteUtf16(text, scratch.data());
  return scratch;
}

bool ToValue(PyObject* object, const ConvertOptions& options, Value* out,
             std::u16string_view where, size_t* work) {
  ToValueWalk walk(options);
  bool ok = false;
  if (!Run([&] { ok = walk.Convert(object, out); })) return false;
  if (work != nullptr) *work = walk.work();
  if (ok) return true;
  Fault fault = walk.fault();
  if (!where.empty()) fault.PrependKey(where);
  RaiseFault(fault);
  return false;
}

PyObject* FromValue(const Value& value) {
  CollectorPaused paused;
  FromValueWalk walk;
  PyObject* result = nullptr;
  if (!Run([&] { result = walk.Convert(value); })) return nullptr;
  if (result == nullptr && !walk.no_form().empty()) {
    PyErr_Clear();
    const std::u16string& path = walk.path();
    const std::u16string where =
        !path.empty() && path[0] == u'.' ? path.substr(1) : path;
    PyObject* text =
        TextOf(u"the value" + (where.empty() ? u"" : u" at " + where) +
               u" is " + walk.no_form() + u", which has no Python form");
    if (text != nullptr) {
      PyErr_SetObject(PyExc_TypeError, text);
      Py_DECREF(text);
    }
  }
  return result;
}

bool RequireStorable(const Value& value, StorableTarget target,
                     std::u16string_view source, std::u16string_view name) {
  std::optional<StorableFault> fault;
  if (!Run([&] { fault = CheckStorable(value, target, name); })) return false;
  if (!fault) return true;
  RaiseStorableFault(value, *fault, source);
  return false;
}

PyObject* RaiseStorableFault(const Value& value, const StorableFault& fault,
                             std::u16string_view source) {
  if (fault.reason == StorableReason::kCharacter) {
    if (const std::optional<String> text = TextAt(value, fault)) {
      PyObject* object = TextOf(text->view());
      if (object == nullptr) return nullptr;
      RaiseInexactText(source, fault.description, fault.path, object,
                       Py_ssize_t(fault.position) - 1,
                       Py_ssize_t(fault.position));
      Py_DECREF(object);
      return nullptr;
    }
  }
  return RaiseInexact(source, fault.description, fault.path);
}

PyObject* RaiseError(const Error& error) {
  return RaiseLibraryError(error.number(), error.source(), error.description());
}

}  // namespace quorvel::python
