// `corvane._native.dump`, which writes a Python value as block-style YAML that `load` reads back
// as exactly the same value: the walk over the Python value, feeding the writer of src/emit.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace corvane {

// dump(value, *, indent=2, sort_keys=False) -> str
PyObject* dump_function(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace corvane
