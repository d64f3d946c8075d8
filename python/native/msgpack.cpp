// quorvel.msgpack: the library's MessagePack dialect on native Python data.
#include "convert.h"
// Python.h, which convert.h brings in, comes before the standard headers.
#include <quorvel/msgpack.h>

#include <vector>

namespace quorvel::python {

namespace {

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
  Value value;
  size_t work = 0;
  if (!ToValue(object, options, &value, {}, &work)) return nullptr;
  std::optional<StorableFault> fault;
  std::vector<uint8_t> bytes;
  // Checked here, so the encoder need not check again.
  const bool ran = RunReleased(work, [&] {
    if (options.exact) fault = CheckStorable(value, StorableTarget::kMsgPack);
    if (!fault) bytes = mMsgPack::EncodeBytes(value, {.exact = false});
  });
  if (!ran) return nullptr;
  if (fault) return RaiseStorableFault(value, *fault, kLibrarySource);
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                   Py_ssize_t(bytes.size()));
}

// msgpack_unpack(data) -> object
PyObject* Unpack(PyObject*, PyObject* data) {
  Py_buffer view;
  if (PyObject_GetBuffer(data, &view, PyBUF_SIMPLE) != 0) return nullptr;
  const std::span<const uint8_t> bytes(static_cast<const uint8_t*>(view.buf),
                                       size_t(view.len));
  Value value;
  size_t end = 0;
  const bool ran = RunReleased(bytes.size(),
                               [&] { value = mMsgPack::DecodeAt(bytes, end); });
  PyBuffer_Release(&view);
  if (!ran) return nullptr;
  if (end != bytes.size()) {
    // Python's MessagePack readers refuse what a single value leaves over.
    const std::string text = "the data holds more than one value: " +
                             std::to_string(bytes.size() - end) +
                             " bytes follow the first";
    return RaiseLibraryError(5, kLibrarySource,
                             std::u16string(text.begin(), text.end()));
  }
  return FromValue(value);
}

PyMethodDef methods[] = {
    {"msgpack_pack", WithKeywords(Pack), METH_VARARGS | METH_KEYWORDS, nullptr},
    {"msgpack_unpack", Unpack, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool AddMsgPack(PyObject* module) {
  return PyModule_AddFunctions(module, methods) == 0;
}

}  // namespace quorvel::python
