// What the Python side of the parser shares: the reference handle, the key cache and the sink
// that builds Python objects (each in a header of its own), and the helpers that read the
// interpreter's text and errors.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "python/builder.hpp"
#include "python/key_cache.hpp"
#include "python/ref.hpp"

namespace corvane {

// The UTF-8 text of a str; empty when it has none (the interpreter's error is left set).
std::string utf8_of(PyObject* text);

// "TypeName: message" for the pending interpreter error, which is cleared; null when no error
// is pending or no description can be made.
PyRef take_error_description();

}  // namespace corvane
