// Errors as Python sees them: the exception classes, the one place that formats and raises a
// parse error ("line N: message"), an error in a file ("PATH:N: message"), the internal error,
// and the TypeErrors of arguments. Every class and text that an error shows is made here.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "error/error.hpp"
#include "python/ref.hpp"

namespace corvane {

// The classes an entry point raises. `_corvane` makes them once per process; the second
// module takes the very same objects from `_corvane`, so that `except corvane.ParseError`
// catches the errors of every entry point.
struct ErrorClasses {
  PyObject* base;         // CorvaneError, a ValueError
  PyObject* parse;        // ParseError
  PyObject* unsupported;  // UnsupportedFeatureError
  PyObject* internal;     // InternalError, a BaseException: the interpreter itself failed
};

// Makes the four classes (once per process) and returns them; null with the interpreter's
// error set when that fails. For `_corvane`'s initialisation.
const ErrorClasses* make_error_classes();
// The classes of an imported `_corvane`; null with the interpreter's error set when the
// import or a lookup fails. For the second module's initialisation.
const ErrorClasses* import_error_classes();
// The classes made or imported by this binary, or null before that.
const ErrorClasses* error_classes();

// Raises the parse error: ParseError for a syntax error, UnsupportedFeatureError otherwise,
// with "line N: message" as its one argument and its line and message kept beside it.
void raise_load_error(const LoadError& error);

// Raises the internal error with `head` and `tail` as its message, followed by `separator`
// and a description of the interpreter's pending error if there is one. Only Python objects
// are built: this runs when memory may have run out, and must not throw. When even the
// message cannot be made, the interpreter's own MemoryError is left set.
void raise_internal(const char* head, const char* tail = "", const char* separator = ": ");

// Sets a TypeError naming the function, the argument, the expected and the given type.
void argument_type_error(const char* function, const char* argument, const char* expected,
                         PyObject* given);

// The `__name__` of an object's type; "?" when it has none that reads as text.
std::string type_name(PyObject* object);

// The UTF-8 text of a str; empty when it has none (the interpreter's error is left set).
std::string utf8_of(PyObject* text);

// error_in_file(cls, path, line, message): a new error of `cls` (CorvaneError or one of its
// subclasses) whose text is "PATH:LINE: message", with its path, line and message kept beside
// it. The function of corvane._native behind the errors of load_file.
PyObject* error_in_file_function(PyObject* self, PyObject* args);

}  // namespace corvane
