// quorvel.lzss, quorvel.base64, quorvel.rc4 and quorvel.verhoeff: the
// library's codecs on bytes and str.
#include "convert.h"
// Python.h, which convert.h brings in, comes before the standard headers.
#include <quorvel/base64.h>
#include <quorvel/lzss.h>
#include <quorvel/rc4.h>
#include <quorvel/verhoeff.h>

#include <string>
#include <vector>

namespace quorvel::python {

namespace {

// lzss_compress(data, framed) -> bytes; lzss_decompress(data, framed) ->
// bytes.
PyObject* Lzss(PyObject* args, bool compress) {
  PyObject* data;
  int framed = 1;
  if (!PyArg_ParseTuple(args, compress ? "Op:compress" : "Op:decompress", &data,
                        &framed))
    return nullptr;
  Bytes bytes;
  if (!bytes.Hold(data)) return nullptr;
  const std::span<const uint8_t> in = bytes.span();
  std::vector<uint8_t> out;
  // Restoring writes up to nine bytes per byte read.
  if (!RunReleased(compress ? in.size() : in.size() * 4, [&] {
        if (compress)
          out = framed ? mLZSS::CompressFrame(in) : mLZSS::Compress(in);
        else
          out = framed ? mLZSS::DecompressFrame(in) : mLZSS::Decompress(in);
      }))
    return nullptr;
  return BytesOf(out);
}

PyObject* LzssCompress(PyObject*, PyObject* args) { return Lzss(args, true); }
PyObject* LzssDecompress(PyObject*, PyObject* args) {
  return Lzss(args, false);
}

// base64_encode(data) -> str, written straight into the new str.
PyObject* Base64Encode(PyObject*, PyObject* data) {
  Bytes bytes;
  if (!bytes.Hold(data)) return nullptr;
  const size_t size = mBase64::EncodedSize(bytes.span().size());
  PyObject* text = PyUnicode_New(Py_ssize_t(size), 0x7F);
  if (text == nullptr) return nullptr;
  char* out = reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(text));
  // No other thread can see the str before it is returned.
  if (!RunReleased(size, [&] { mBase64::EncodeTo(bytes.span(), out); })) {
    Py_DECREF(text);
    return nullptr;
  }
  return text;
}

// base64_decode(text) -> bytes; text is str or ASCII bytes.
PyObject* Base64Decode(PyObject*, PyObject* source) {
  std::u16string scratch;
  std::u16string_view wide;
  std::string_view narrow;
  Bytes bytes;
  if (PyUnicode_Check(source) && PyUnicode_IS_ASCII(source)) {
    narrow = {reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(source)),
              size_t(PyUnicode_GET_LENGTH(source))};
  } else if (PyUnicode_Check(source)) {
    // Each character is taken by its code page byte, as the library does.
    wide = BorrowUtf16(source, scratch);
  } else if (bytes.Hold(source)) {
    narrow = {reinterpret_cast<const char*>(bytes.span().data()),
              bytes.span().size()};
  } else {
    return nullptr;
  }
  const size_t length = wide.data() != nullptr ? wide.size() : narrow.size();
  // The text of no bytes is empty, so it reads back as no bytes (where
  // the library's reader wants a group of four).
  if (length == 0) return PyBytes_FromStringAndSize(nullptr, 0);
  PyObject* out = PyBytes_FromStringAndSize(
      nullptr, Py_ssize_t(mBase64::MaxDecodedSize(length)));
  if (out == nullptr) return nullptr;
  auto* at = reinterpret_cast<uint8_t*>(PyBytes_AS_STRING(out));
  size_t written = 0;
  if (!RunReleased(length, [&] {
        written = wide.data() != nullptr ? mBase64::DecodeTo(wide, at)
                                         : mBase64::DecodeTo(narrow, at);
      })) {
    Py_DECREF(out);
    return nullptr;
  }
  if (_PyBytes_Resize(&out, Py_ssize_t(written)) != 0) return nullptr;
  return out;
}

// Refuses, when exact, a character of `text` (a str) that RC4 would not
// give back: one without a Windows-1252 byte, and in the text U+0000.
bool CheckRc4(PyObject* text, std::u16string_view units, StorableTarget target,
              std::u16string_view name) {
  std::optional<StorableFault> fault;
  if (!Run([&] { fault = CheckStorableText(units, target, name); }))
    return false;
  if (!fault) return true;
  RaiseInexactText(u"KxQuorvel", fault->description, name, text,
                   Py_ssize_t(fault->position) - 1,
                   Py_ssize_t(fault->position));
  return false;
}

// rc4_encrypt(text, key, errors) -> str of hex; rc4_decrypt(hex, key,
// errors) -> str.
PyObject* Rc4(PyObject* args, bool encrypt) {
  PyObject* text;
  PyObject* key;
  const char* errors = nullptr;
  if (!PyArg_ParseTuple(args, "UUz", &text, &key, &errors)) return nullptr;
  ConvertOptions options;
  if (!ParseErrors(errors, &options)) return nullptr;
  std::u16string text_scratch, key_scratch;
  const std::u16string_view text_units = BorrowUtf16(text, text_scratch);
  const std::u16string_view key_units = BorrowUtf16(key, key_scratch);
  // An empty key is the cipher's own error, before any other.
  if (options.exact && !key_units.empty() &&
      !(CheckRc4(key, key_units, StorableTarget::kText, u"key") &&
        (!encrypt ||
         CheckRc4(text, text_units, StorableTarget::kRc4Text, u"text"))))
    return nullptr;
  String result;
  if (!RunReleased(text_units.size(), [&] {
        result = encrypt
                     ? mRC4::Encrypt(text_units, key_units, {.exact = false})
                     : mRC4::Decrypt(text_units, key_units);
      }))
    return nullptr;
  return TextOf(result.view());
}

PyObject* Rc4Encrypt(PyObject*, PyObject* args) { return Rc4(args, true); }
PyObject* Rc4Decrypt(PyObject*, PyObject* args) { return Rc4(args, false); }

// The digits of verhoeff's argument: a str, or an int's decimal digits.
bool VerhoeffText(PyObject* value, PyObject** text) {
  if (PyUnicode_Check(value)) {
    *text = Py_NewRef(value);
  } else if (PyLong_Check(value) && !PyBool_Check(value)) {
    *text = PyObject_Str(value);
  } else {
    PyErr_Format(PyExc_TypeError, "expected str or int, not %.100s",
                 Py_TYPE(value)->tp_name);
    return false;
  }
  return *text != nullptr;
}

// verhoeff_generate(digits) -> int
PyObject* VerhoeffGenerate(PyObject*, PyObject* value) {
  PyObject* text;
  if (!VerhoeffText(value, &text)) return nullptr;
  std::u16string scratch;
  int16_t digit = 0;
  const bool ran =
      Run([&] { digit = mVerhoeff::Generate(BorrowUtf16(text, scratch)); });
  Py_DECREF(text);
  return ran ? PyLong_FromLong(digit) : nullptr;
}

// verhoeff_validate(digits) -> bool
PyObject* VerhoeffValidate(PyObject*, PyObject* value) {
  PyObject* text;
  if (!VerhoeffText(value, &text)) return nullptr;
  std::u16string scratch;
  bool valid = false;
  const bool ran =
      Run([&] { valid = mVerhoeff::Validate(BorrowUtf16(text, scratch)); });
  Py_DECREF(text);
  return ran ? PyBool_FromLong(valid) : nullptr;
}

PyMethodDef methods[] = {
    {"lzss_compress", LzssCompress, METH_VARARGS, nullptr},
    {"lzss_decompress", LzssDecompress, METH_VARARGS, nullptr},
    {"base64_encode", Base64Encode, METH_O, nullptr},
    {"base64_decode", Base64Decode, METH_O, nullptr},
    {"rc4_encrypt", Rc4Encrypt, METH_VARARGS, nullptr},
    {"rc4_decrypt", Rc4Decrypt, METH_VARARGS, nullptr},
    {"verhoeff_generate", VerhoeffGenerate, METH_O, nullptr},
    {"verhoeff_validate", VerhoeffValidate, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool AddCodecs(PyObject* module) {
  return PyModule_AddFunctions(module, methods) == 0;
}

}  // namespace quorvel::python
