// quorvel.msgpack: the library's MessagePack dialect on native Python data.
#include "python_walk.h"
// Python.h, which python_walk.h brings in, comes before the standard headers.
#include <quorvel/msgpack.h>
#include <quorvel/msgpack_stream.h>
#include <quorvel/safearray.h>

#include <cstring>
#include <string>
#include <vector>

namespace quorvel::python {

namespace {

// Writes Python data straight into the dialect, without a tree of Values:
// the walk hands each member to a StreamEncoder. Exact, it asks the
// storability check about every scalar and text and stops at the first
// that would not come back; the caller then finds and names the fault the
// thorough way (PackTree), which a success never pays for.
class PackWalk : public PythonWalk<PackWalk> {
 public:
  PackWalk(mMsgPack::StreamEncoder& encoder, bool exact)
      : PythonWalk(exact), encoder_(encoder) {}

  // Whether Write stopped at a value that would not come back.
  bool inexact() const { return inexact_; }

 private:
  friend class PythonWalk<PackWalk>;

  // Writes a scalar the dialect may not hold as it is.
  bool Checked(const Value& value) {
    if (exact_ && CheckStorable(value, StorableTarget::kMsgPack)) {
      inexact_ = true;
      return false;
    }
    encoder_.Scalar(value);
    return true;
  }

  bool Int(PyObject* value) {
    Number number;
    if (!NumberFromInt(value, exact_, &number, &fault_)) return false;
    if (number.kind == Number::Kind::kLong) {
      encoder_.Scalar(Value(number.long_value));
      return true;
    }
    return Checked(ValueOf(number));
  }

  bool Float(double x, PyObject*) {
    encoder_.Scalar(Value(x));
    return true;
  }

  bool DecimalNumber(PyObject* value) {
    Number number;
    return NumberFromDecimal(value, exact_, &number, &fault_) &&
           Checked(ValueOf(number));
  }

  bool DateNumber(double day) { return Checked(Value::Date(day)); }

  // The dialect has no bytes: refused exactly, or as the encoder does.
  bool Bytes(PyObject*) {
    return Checked(Value(SafeArray(std::vector<uint8_t>())));
  }

  bool Text(PyObject* text) {
    // ASCII has a byte for every character; a text too long for the
    // dialect raises in the encoder, which sends an exact caller the
    // thorough way.
    if (PyUnicode_IS_ASCII(text)) {
      encoder_.AsciiText({static_cast<const char*>(PyUnicode_DATA(text)),
                          size_t(PyUnicode_GET_LENGTH(text))});
      return true;
    }
    const std::u16string_view units = BorrowUtf16(text, scratch_);
    if (exact_ && CheckStorableText(units, StorableTarget::kMsgPack)) {
      inexact_ = true;
      return false;
    }
    encoder_.Text(units);
    return true;
  }

  bool Key(PyObject* key) { return Text(key); }
  void Literal(const Value& value) { encoder_.Scalar(value); }
  void BeginDict(Py_ssize_t size) { encoder_.BeginMap(size); }
  void EndDict() { encoder_.End(); }
  void BeginList(Py_ssize_t size) { encoder_.BeginList(size); }
  void EndList() { encoder_.End(); }

  mMsgPack::StreamEncoder& encoder_;
  bool inexact_ = false;
};

// Packs through a tree of Values: the whole storability check, which names
// the place and the loss of the first fault.
PyObject* PackTree(PyObject* object, const ConvertOptions& options) {
  Value value;
  size_t work = 0;
  if (!ToValue(object, options, &value, {}, &work)) return nullptr;
  std::optional<StorableFault> fault;
  std::vector<uint8_t> bytes;
  const bool ran = RunReleased(work, [&] {
    if (options.exact) fault = CheckStorable(value, StorableTarget::kMsgPack);
    if (!fault) bytes = mMsgPack::EncodeBytes(value, {.exact = false});
  });
  if (!ran) return nullptr;
  if (fault) return RaiseStorableFault(value, *fault, kLibrarySource);
  return BytesOf(bytes);
}

// msgpack_pack(obj, *, errors="strict") -> bytes
PyObject* Pack(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"obj", "errors", nullptr};
  PyObject* object;
  const char* errors = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$z:packb",
                                   const_cast<char**>(keywords), &object,
                                   &errors))
    return nullptr;
  ConvertOptions options;
  if (!ParseErrors(errors, &options)) return nullptr;
  std::vector<uint8_t> bytes;
  bool written = false;
  bool inexact = false;
  Fault fault;
  std::optional<Error> error;
  try {
    mMsgPack::StreamEncoder encoder(bytes);
    PackWalk walk(encoder, options.exact);
    written = walk.Write(object);
    if (written) encoder.Commit();
    inexact = walk.inexact();
    fault = walk.fault();
  } catch (const Error& e) {
    // A count or a nesting the dialect cannot hold: exact, the check says
    // where.
    if (options.exact) {
      inexact = true;
    } else {
      error.emplace(e);
    }
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  if (error) return RaiseError(*error);
  if (written) return BytesOf(bytes);
  if (inexact) return PackTree(object, options);
  return RaiseFault(fault);
}

// msgpack_unpack(data) -> object
PyObject* Unpack(PyObject*, PyObject* data) {
  Bytes held;
  if (!held.Hold(data)) return nullptr;
  const std::span<const uint8_t> bytes = held.span();
  Value value;
  size_t end = 0;
  if (!RunReleased(bytes.size(),
                   [&] { value = mMsgPack::DecodeAt(bytes, end); }))
    return nullptr;
  if (end != bytes.size()) {
    // Python's MessagePack readers refuse what a single value leaves over.
    const std::string text = "the data holds more than one value: " +
                             std::to_string(bytes.size() - end) +
                             " bytes follow the first";
    return RaiseLibraryError(5, kLibrarySource,
                             std::u16string(text.begin(), text.end()));
  }
  PyObject* result = FromValue(value);
  // Taking a large tree apart takes as long as building it.
  RunReleased(bytes.size(), [&] { value = Value(); });
  return result;
}

PyMethodDef methods[] = {
    {"msgpack_pack", MethodOf(Pack), METH_VARARGS | METH_KEYWORDS, nullptr},
    {"msgpack_unpack", Unpack, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool AddMsgPack(PyObject* module) {
  return PyModule_AddFunctions(module, methods) == 0;
}

}  // namespace quorvel::python
