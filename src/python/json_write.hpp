// `corvane._native._write_json`, the JSON that `corvane FILE` prints, handed to a Python callable
// in blocks as it is written, and the JSONKeyClash it raises for a mapping whose keys would
// become the same string.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace corvane {

// _write_json(value, write, indent) -> None
PyObject* write_json_function(PyObject* self, PyObject* args);

// The class JSONKeyClash (a ValueError), made once; null with the error set when that failed.
PyObject* json_key_clash_class();

}  // namespace corvane
