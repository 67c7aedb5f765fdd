// `corvane._native._load_exact_flow`, for the tests only: `load` with every flow collection read
// by the exact reader alone, so that the test tables can check that both readers agree.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace corvane {

PyObject* load_exact_flow_function(PyObject*, PyObject* args, PyObject* kwargs);

}  // namespace corvane
