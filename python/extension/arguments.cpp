// The arguments of one call: converted values, a few on the stack, and
// what the call asks of files and codecs.
#include <cstring>

#include "binding.h"

namespace quorvel_python {

bool ParseErrors(PyObject* value, Errors* out) {
  if (value == Py_None) {
    *out = Errors::kDefault;
    return true;
  }
  const char* text = PyUnicode_Check(value) ? PyUnicode_AsUTF8(value) : nullptr;
  if (text != nullptr && std::strcmp(text, "strict") == 0) {
    *out = Errors::kStrict;
    return true;
  }
  if (text != nullptr && std::strcmp(text, "replace") == 0) {
    *out = Errors::kReplace;
    return true;
  }
  PyErr_Clear();
  PyErr_Format(PyExc_ValueError,
               "errors must be 'strict', 'replace' or None, not %R", value);
  return false;
}

Arguments::~Arguments() {
  quorvel_variant* items = data();
  for (size_t i = 0; i < count_; ++i)
    if ((items[i].flags & QUORVEL_OWNED) != 0) quorvel_variant_clear(&items[i]);
}

quorvel_variant* Arguments::Next() {
  if (count_ == kInline && heap_.empty()) {
    heap_.assign(inline_, inline_ + kInline);
  }
  quorvel_variant* slot;
  if (!heap_.empty()) {
    heap_.emplace_back();
    slot = &heap_.back();
  } else {
    slot = &inline_[count_];
  }
  quorvel_variant_init(slot);
  ++count_;
  return slot;
}

bool Arguments::Add(PyObject* value) {
  const bool callback_here = count_ == callback_at_;
  quorvel_variant* slot = Next();
  if (callback_here && PyCallable_Check(value)) {
    // The package's callback classes keep their own method.
    int own = PyObject_IsInstance(value, Types().sort_callback);
    if (own == 0) own = PyObject_IsInstance(value, Types().filter_callback);
    if (own < 0) return false;
    if (own == 0) return MakeCallback(value, callback_kind_, slot);
  }
  if (PyUnicode_CheckExact(value) && PyUnicode_IS_ASCII(value) &&
      WidenShortText(value, slot))
    return true;
  return ToVariant(value, slot, exact());
}

bool Arguments::WidenShortText(PyObject* text, quorvel_variant* slot) {
  const size_t n = static_cast<size_t>(PyUnicode_GET_LENGTH(text));
  if (n > kShortText - text_used_) return false;
  const auto* bytes = static_cast<const uint8_t*>(PyUnicode_DATA(text));
  char16_t* units = text_ + text_used_;
  for (size_t i = 0; i < n; ++i) units[i] = bytes[i];
  text_used_ += n;
  slot->type = QUORVEL_STRING;
  slot->flags = QUORVEL_UTF16;
  slot->as.utf16.data = reinterpret_cast<const uint16_t*>(units);
  slot->as.utf16.size = n;
  return true;
}

bool Arguments::AddIndex(PyObject* key) {
  if (!PyTuple_Check(key)) return Add(key);
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(key); ++i)
    if (!Add(PyTuple_GET_ITEM(key, i))) return false;
  return true;
}

void Arguments::AddMissing() {
  quorvel_variant* slot = Next();
  slot->type = QUORVEL_ERROR;
  slot->as.error_code = QUORVEL_MISSING;
}

}  // namespace quorvel_python
