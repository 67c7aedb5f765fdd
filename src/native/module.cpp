// The extension module `corvane._native`: the C++ entry points that the package offers beside
// `_corvane.load`. `_corvane` keeps its fixed surface; everything newer is registered here.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "lines/lines.hpp"
#include "python/dump.hpp"
#include "python/entry.hpp"
#if defined(CORVANE_TEST_HOOKS)
#include "native/exact_flow.hpp"
#endif

namespace corvane {
namespace {

// One entry per public function; each lives in the source file of its own feature.
PyMethodDef native_methods[] = {
    {"dump", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(dump_function)),
     METH_VARARGS | METH_KEYWORDS,
     "dump(value, *, indent=2, sort_keys=False)\n--\n\n"
     "Write a value as block-style YAML that load() reads back as the same value."},
    {"load_with_lines",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(load_with_lines_function)),
     METH_VARARGS | METH_KEYWORDS,
     "load_with_lines(input, strict=False, yaml_1_1_bools=False)\n--\n\n"
     "Load a document as load() does; also return the line of every value, by path."},
#if defined(CORVANE_TEST_HOOKS)
    // For the tests only: load() with the quick flow reader turned off.
    {"_load_exact_flow",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(load_exact_flow_function)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
#endif
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef native_definition = {
    PyModuleDef_HEAD_INIT,
    "corvane._native",
    "",
    0,
    native_methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace corvane

PyMODINIT_FUNC PyInit__native(void) {
  if (!corvane::prepare_internal_failures()) return nullptr;
  return PyModule_Create(&corvane::native_definition);
}
