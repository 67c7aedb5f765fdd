// `corvane._native._portability`: the plain scalars of a document that YAML 1.1 readers read
// differently from Corvane, for `corvane --check --portable`.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace corvane {

// _portability(input, strict=False, yaml_1_1_bools=False) -> list of
// (line, text, is_key, value, yaml_1_1_kind, yaml_1_1_value, rule), in document order.
PyObject* portability_function(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace corvane
