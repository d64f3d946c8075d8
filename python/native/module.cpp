// The module `quorvel._native`: the compiled part of the package's modules
// on native Python data (quorvel.json, quorvel.msgpack, the codecs, ...).
#include "convert.h"
#include "stores.h"

namespace {

PyModuleDef native_module = {
    PyModuleDef_HEAD_INIT,
    "quorvel._native",
    "The compiled part of quorvel's modules on native Python data; use "
    "quorvel.json, quorvel.msgpack and the others.",
    -1,
    nullptr,
};

}  // namespace

// NOLINTNEXTLINE(bugprone-reserved-identifier): the name Python looks for
PyMODINIT_FUNC PyInit__native() {
  using namespace quorvel::python;
  if (!InitPythonValues()) return nullptr;
  PyObject* module = PyModule_Create(&native_module);
  if (module == nullptr) return nullptr;
  if (!AddCodecs(module) || !AddCsv(module) || !AddJson(module) ||
      !AddMsgPack(module) || !AddStores(module)) {
    Py_DECREF(module);
    return nullptr;
  }
  return module;
}
