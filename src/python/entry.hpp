// What every Python entry point of the parser shares: reading its arguments, and turning a
// parse error or an internal failure into the exception its caller sees.
#pragma once

#include "python/python.hpp"

#include <optional>
#include <string>
#include <string_view>

#include "error/error.hpp"

namespace corvane {

// The UTF-8 text of `input` (a str), read in place; nothing when it cannot be encoded (the
// interpreter's error is then set).
std::optional<std::string_view> utf8_text(PyObject* input);

// Sets a TypeError naming the function, the argument, the expected and the given type.
void argument_type_error(const char* function, const char* argument, const char* expected,
                         PyObject* given);

// A flag argument: omitted is false; otherwise only a bool (or numpy's bool) is accepted.
std::optional<bool> read_flag(PyObject* object, const char* function, const char* argument);

// Raises "line N: message" as `parse_error` (a syntax error) or `unsupported_error`.
void raise_load_error(const LoadError& error, PyObject* parse_error, PyObject* unsupported_error);

// Raises the internal-error exception: the interpreter itself failed while building a value.
void raise_internal(const std::string& text);

}  // namespace corvane
