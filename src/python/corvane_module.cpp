// The extension module `_corvane`: `load` and the three exception classes of its errors, added
// in that order and listed in that order in `__all__`. Single-phase initialisation, once per
// process.
#include "python/builder.hpp"
#include "python/entry.hpp"
#include "python/errors.hpp"

namespace corvane {

namespace {

// Set once an initialisation has succeeded: the module may be made only once per process.
bool module_initialised = false;

PyObject* load(PyObject*, PyObject* args, PyObject* kwargs) {
  return load_entry<PySink>(args, kwargs, "load",
                            [](auto&, PyRef&& root) { return root.release(); });
}

PyMethodDef load_method = {
    "load", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(load)),
    METH_VARARGS | METH_KEYWORDS, "load(input, strict=False, yaml_1_1_bools=False)\n--\n\n"};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_corvane", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Appends `name` to the module's __all__ (creating the list on first use), then sets the
// attribute. Takes a reference to `value`.
bool add_public(PyObject* module, const char* name, PyObject* value) {
  if (value == nullptr) return false;
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) != 0) return false;
  }
  PyRef name_object = PyRef::steal(PyUnicode_FromString(name));
  if (!name_object || PyList_Append(all.get(), name_object.get()) != 0) return false;
  return PyModule_AddObjectRef(module, name, value) == 0;
}

}  // namespace

}  // namespace corvane

PyMODINIT_FUNC PyInit__corvane(void) {
  using namespace corvane;
  if (module_initialised) {
    PyErr_SetString(PyExc_ImportError,
                    "_corvane may be initialised only once per interpreter process");
    return nullptr;
  }
  prepare_internal_failures();
  if (!decide_collector_pause()) return nullptr;
  PyRef module = PyRef::steal(PyModule_Create(&module_definition));
  if (!module) return nullptr;
  PyRef module_name = PyRef::steal(PyUnicode_FromString("_corvane"));
  if (!module_name) return nullptr;
  PyRef function = PyRef::steal(PyCFunction_NewEx(&load_method, module.get(), module_name.get()));
  if (!add_public(module.get(), "load", function.get())) return nullptr;
  const ErrorClasses* classes = make_error_classes();
  if (classes == nullptr || !add_public(module.get(), "CorvaneError", classes->base) ||
      !add_public(module.get(), "ParseError", classes->parse) ||
      !add_public(module.get(), "UnsupportedFeatureError", classes->unsupported)) {
    return nullptr;
  }
  module_initialised = true;
  return module.release();
}
