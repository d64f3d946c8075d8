// quorvel.json: the strict reader and the standard writer on Python
// objects, with no tree of Values in between.
#include "python_walk.h"
// Python.h, which python_walk.h brings in, comes before the standard headers.
#include <quorvel/json.h>
#include <quorvel/json_standard.h>
#include <quorvel/json_strict.h>
#include <quorvel/utf8.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace quorvel::python {

namespace {

// What a strict read finds, written down without touching Python, so that
// the read runs without the interpreter lock; the objects are built from
// it afterwards (BuildPython). Text that lies whole in the source stays
// there; the rest (strings with escapes, numbers) is copied aside.
class Tape final : public JSON::StrictHandler {
 public:
  enum class Type : uint16_t {
    kBeginObject,
    kEndObject,
    kBeginArray,
    kEndArray,
    kKey,
    kText,
    kNumber,
    kTrue,
    kFalse,
    kNull,
  };
  struct Event {
    Type type;
    bool copied;  // in `copies_` from `offset` on, else in the source
    uint32_t length;
    size_t offset;
  };
  static_assert(sizeof(Event) == 16);

  Tape(std::u16string_view source, const JSON::StrictReader& reader)
      : source_(source), reader_(reader) {
    events_.reserve(source.size() / 8);
  }

  void BeginObject() override { Add(Type::kBeginObject); }
  void Key(std::u16string_view name) override { Add(Type::kKey, name); }
  void EndObject() override { Add(Type::kEndObject); }
  void BeginArray() override { Add(Type::kBeginArray); }
  void EndArray() override { Add(Type::kEndArray); }
  void Text(std::u16string_view text) override { Add(Type::kText, text); }
  void Scalar(const Value& value) override {
    switch (value.kind()) {
      case Kind::Null:
        return Add(Type::kNull);
      case Kind::Boolean:
        return Add(value.boolean() ? Type::kTrue : Type::kFalse);
      default:
        return Add(Type::kNumber, reader_.number_text());
    }
  }

  const std::vector<Event>& events() const { return events_; }
  std::u16string_view TextOf(const Event& event) const {
    return (event.copied ? std::u16string_view(copies_) : source_)
        .substr(event.offset, event.length);
  }

 private:
  void Add(Type type) { events_.push_back({type, false, 0, 0}); }
  void Add(Type type, std::u16string_view text) {
    if (text.size() > UINT32_MAX) RaiseStandard(kErrOverflow);
    const bool in_source =
        text.data() >= source_.data() &&
        text.data() + text.size() <= source_.data() + source_.size();
    size_t offset = size_t(text.data() - source_.data());
    if (!in_source) {
      offset = copies_.size();
      copies_.append(text);
    }
    events_.push_back(
        {type, !in_source, static_cast<uint32_t>(text.size()), offset});
  }

  std::u16string_view source_;
  const JSON::StrictReader& reader_;
  std::vector<Event> events_;
  std::u16string copies_;
};

// The powers of ten a double holds exactly.
constexpr double kExactPowers[] = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Returns the Python number a JSON number's text stands for, as Python's
// own reader has it: an integer of any size is an int, anything with a
// fraction or an exponent the nearest float.
PyObject* NumberObject(std::u16string_view text) {
  const bool negative = text[0] == u'-';
  size_t i = negative;
  uint64_t mantissa = 0;
  int digits = 0;  // significant ones, up to 19
  long point_shift = 0;
  bool whole = true;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= u'0' && c <= u'9') {
      if (digits >= 19) return nullptr;  // never: the caller takes text
      mantissa = mantissa * 10 + (c - u'0');
      digits += mantissa != 0;
      point_shift -= !whole;
      if (digits == 19) break;
    } else if (c == u'.') {
      whole = false;
    } else {
      break;
    }
  }
  const bool plain = i == text.size();
  if (plain && whole && digits <= 18) {
    const auto n = static_cast<long long>(mantissa);
    return PyLong_FromLongLong(negative ? -n : n);
  }
  const std::string ascii(text.begin(), text.end());
  if (whole && ascii.find_first_of("eE") == std::string::npos)
    return PyLong_FromString(ascii.c_str(), nullptr, 10);
  if (digits <= 15 && (plain || text[i] == u'e' || text[i] == u'E')) {
    const long exponent =
        plain ? 0 : std::strtol(ascii.c_str() + i + 1, nullptr, 10);
    const long scale = exponent + point_shift;
    if (scale >= -22 && scale <= 22) {
      // Both exact as doubles, so the one operation rounds correctly.
      double x = double(mantissa);
      x = scale < 0 ? x / kExactPowers[-scale] : x * kExactPowers[scale];
      return PyFloat_FromDouble(negative ? -x : x);
    }
  }
  double x = 0;
  std::from_chars(ascii.data(), ascii.data() + ascii.size(), x);
  return PyFloat_FromDouble(x);
}

// Builds the Python objects a tape describes; null with a Python
// exception.
PyObject* BuildPython(const Tape& tape) {
  struct Container {
    PyObject* container;  // borrowed: its parent, or the root, holds it
    bool dict;
  };
  std::vector<Container> open;
  PyObject* root = nullptr;
  PyObject* key = nullptr;
  TextCache keys;
  TextCache texts;
  bool ok = true;
  for (const Tape::Event& event : tape.events()) {
    PyObject* item = nullptr;
    switch (event.type) {
      case Tape::Type::kEndObject:
      case Tape::Type::kEndArray:
        open.pop_back();
        continue;
      case Tape::Type::kKey:
        Py_XSETREF(key, keys.Get(tape.TextOf(event)));
        ok = key != nullptr;
        if (ok) continue;
        break;
      case Tape::Type::kBeginObject:
        item = PyDict_New();
        break;
      case Tape::Type::kBeginArray:
        item = PyList_New(0);
        break;
      case Tape::Type::kText:
        item = event.length <= 8 ? texts.Get(tape.TextOf(event))
                                 : TextFromUtf16(tape.TextOf(event));
        break;
      case Tape::Type::kNumber:
        item = NumberObject(tape.TextOf(event));
        break;
      case Tape::Type::kTrue:
        item = Py_NewRef(Py_True);
        break;
      case Tape::Type::kFalse:
        item = Py_NewRef(Py_False);
        break;
      case Tape::Type::kNull:
        item = Py_NewRef(Py_None);
        break;
    }
    if (!ok || item == nullptr) {
      ok = false;
      break;
    }
    if (open.empty()) {
      root = item;
    } else {
      const Container& top = open.back();
      ok = (top.dict ? PyDict_SetItem(top.container, key, item)
                     : PyList_Append(top.container, item)) == 0;
      Py_DECREF(item);
      if (!ok) break;
    }
    if (event.type == Tape::Type::kBeginObject ||
        event.type == Tape::Type::kBeginArray) {
      open.push_back({item, event.type == Tape::Type::kBeginObject});
    }
  }
  Py_XDECREF(key);
  if (!ok) Py_CLEAR(root);
  return root;
}

// The text of loads' argument as UTF-16: a str's own, or UTF-8 bytes
// decoded. False with UnicodeDecodeError or TypeError.
bool SourceText(PyObject* source, std::u16string& scratch,
                std::u16string_view* text) {
  if (PyUnicode_Check(source)) {
    *text = BorrowUtf16(source, scratch);
    return true;
  }
  Py_buffer view;
  if (PyObject_GetBuffer(source, &view, PyBUF_SIMPLE) != 0) {
    PyErr_Format(PyExc_TypeError,
                 "the JSON text must be str or UTF-8 bytes, not %.100s",
                 Py_TYPE(source)->tp_name);
    return false;
  }
  const std::string_view bytes(static_cast<const char*>(view.buf),
                               size_t(view.len));
  Utf8Fault fault;
  bool ok = false;
  if (Run([&] { ok = Utf8ToUtf16(bytes, &scratch, &fault); }) && !ok) {
    PyObject* error = PyUnicodeDecodeError_Create(
        "utf-8", bytes.data(), Py_ssize_t(bytes.size()),
        Py_ssize_t(fault.offset), Py_ssize_t(fault.offset + fault.length),
        "invalid UTF-8");
    if (error != nullptr) {
      PyErr_SetObject(PyExc_UnicodeDecodeError, error);
      Py_DECREF(error);
    }
  }
  PyBuffer_Release(&view);
  *text = scratch;
  return ok;
}

// json_loads(text, lenient)
PyObject* Loads(PyObject*, PyObject* args) {
  PyObject* source;
  int lenient = 0;
  if (!PyArg_ParseTuple(args, "Op:loads", &source, &lenient)) return nullptr;
  std::u16string scratch;
  std::u16string_view text;
  if (!SourceText(source, scratch, &text)) return nullptr;
  if (lenient) {
    Value value;
    if (!RunReleased(text.size(), [&] { value = JSON::Parse(text); }))
      return nullptr;
    return FromValue(value);
  }
  JSON::TextPieces pieces(text);
  JSON::StrictReader reader(pieces);
  Tape tape(text, reader);
  if (!RunReleased(text.size(), [&] { reader.Read(tape); })) return nullptr;
  CollectorPaused paused;
  return BuildPython(tape);
}

// Writes Python objects through the standard writer. Every int and every
// finite decimal.Decimal is written with all its digits; a datetime or
// date as the library writes a Date, under the same rules as elsewhere.
class DumpWalk : public PythonWalk<DumpWalk> {
 public:
  DumpWalk(JSON::StandardWriter& writer, bool exact)
      : PythonWalk(exact), writer_(writer) {}

 private:
  friend class PythonWalk<DumpWalk>;

  bool Text(PyObject* text) {
    writer_.Text(BorrowUtf16(text, scratch_));
    return true;
  }
  bool Key(PyObject* key) {
    writer_.Key(BorrowUtf16(key, scratch_));
    return true;
  }
  void Literal(const Value& value) { writer_.Scalar(value); }
  void BeginDict(Py_ssize_t) { writer_.BeginObject(); }
  void EndDict() { writer_.EndObject(); }
  void BeginList(Py_ssize_t) { writer_.BeginArray(); }
  void EndList() { writer_.EndArray(); }
  bool Bytes(PyObject* bytes) { return NoType(bytes); }
  bool DateNumber(double day) {
    writer_.Scalar(Value::Date(day));
    return true;
  }

  bool Int(PyObject* value) {
    int overflow = 0;
    const long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (n == -1 && PyErr_Occurred())
      return fault_.Set(Fault::Kind::kPython, {});
    if (overflow == 0) {
      if (n >= INT32_MIN && n <= INT32_MAX) {
        writer_.Scalar(Value(static_cast<int32_t>(n)));
        return true;
      }
      char digits[24];
      const std::to_chars_result r =
          std::to_chars(digits, digits + sizeof digits, n);
      return Digits(std::string_view(digits, size_t(r.ptr - digits)));
    }
    std::string digits;
    return StrOf(value, &digits) && Digits(digits);
  }

  // NaN and infinities have no JSON form; taking losses, they are null,
  // as JavaScript writes them.
  bool Float(double x, PyObject* object) {
    if (std::isfinite(x)) {
      // Shortest, as the writer has it, but a whole float keeps a ".0",
      // so that it reads back as a float and not an int.
      char digits[32];
      char* end = std::to_chars(digits, digits + sizeof digits - 2, x).ptr;
      if (std::find_if(digits, end,
                       [](char c) { return c == '.' || c == 'e'; }) == end) {
        *end++ = '.';
        *end++ = '0';
      }
      return Digits(std::string_view(digits, size_t(end - digits)));
    }
    if (exact_) return NoForm(object);
    writer_.Scalar(Value::Null());
    return true;
  }

  bool DecimalNumber(PyObject* value) {
    std::string digits;
    if (!StrOf(value, &digits)) return false;
    const char first = digits[digits[0] == '-' ? 1 : 0];
    if (first >= '0' && first <= '9') return Digits(digits);
    if (exact_) return NoForm(value);
    writer_.Scalar(Value::Null());
    return true;
  }

  // Fills `out` with str(value); false with the exception recorded.
  bool StrOf(PyObject* value, std::string* out) {
    PyObject* text = PyObject_Str(value);
    Py_ssize_t size = 0;
    const char* utf8 =
        text == nullptr ? nullptr : PyUnicode_AsUTF8AndSize(text, &size);
    if (utf8 != nullptr) out->assign(utf8, size_t(size));
    Py_XDECREF(text);
    return utf8 != nullptr || fault_.Set(Fault::Kind::kPython, {});
  }

  bool NoForm(PyObject* value) {
    PyObject* repr = PyObject_Repr(value);
    if (repr == nullptr) return fault_.Set(Fault::Kind::kPython, {});
    std::u16string subject = u"the number " + Utf16Of(repr);
    Py_DECREF(repr);
    return fault_.Set(Fault::Kind::kInexact, std::move(subject),
                      u"has no JSON form");
  }

  bool Digits(std::string_view digits) {
    scratch_.assign(digits.begin(), digits.end());
    writer_.NumberText(scratch_);
    return true;
  }

  JSON::StandardWriter& writer_;
};

// json_dumps(obj, indent, ensure_ascii, errors)
PyObject* Dumps(PyObject*, PyObject* args) {
  PyObject* object;
  PyObject* indent_object;
  int ascii = 0;
  const char* errors = nullptr;
  if (!PyArg_ParseTuple(args, "OOpz:dumps", &object, &indent_object, &ascii,
                        &errors))
    return nullptr;
  ConvertOptions options;
  if (!ParseErrors(errors, &options)) return nullptr;
  JSON::StandardStyle style;
  style.ascii = ascii != 0;
  if (indent_object != Py_None) {
    const long indent = PyLong_AsLong(indent_object);
    if (indent == -1 && PyErr_Occurred()) return nullptr;
    style.indent = int(std::clamp<long>(indent, -1, JSON::kMaxIndent + 1));
  }
  std::string text;
  bool written = false;
  Fault fault;
  const bool ran = Run([&] {
    JSON::StandardWriter writer(style);
    DumpWalk walk(writer, options.exact);
    written = walk.Write(object);
    if (written) {
      text = writer.Take();
    } else {
      fault = walk.fault();
    }
  });
  if (!ran) return nullptr;
  if (!written) return RaiseFault(fault);
  return PyUnicode_DecodeUTF8(text.data(), Py_ssize_t(text.size()), nullptr);
}

PyMethodDef methods[] = {
    {"json_loads", Loads, METH_VARARGS, nullptr},
    {"json_dumps", Dumps, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool AddJson(PyObject* module) {
  return PyModule_AddFunctions(module, methods) == 0;
}

}  // namespace quorvel::python
