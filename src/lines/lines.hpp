// `corvane._native.load_with_lines`: the value of a document, as `load` gives it, and the line
// of every value in it. The parser is the same; its sink (python/line_sink.hpp) builds the same
// objects and also records where each value's entry began.
#pragma once

#include "python/python.hpp"

namespace corvane {

// load_with_lines(input, strict=False, yaml_1_1_bools=False) -> (value, LineTable)
PyObject* load_with_lines_function(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace corvane
