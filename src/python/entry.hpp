// What every Python entry point of the parser shares: reading its arguments, and turning a
// parse error or an internal failure into the exception its caller sees.
#pragma once

#include "python/python.hpp"

#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "error/error.hpp"

namespace corvane {

// The UTF-8 text of `input` (a str), read in place; nothing when it cannot be encoded (the
// interpreter's error is then set).
std::optional<std::string_view> utf8_text(PyObject* input);

// The arguments every loading entry point takes: (input, strict=False, yaml_1_1_bools=False).
struct LoadArguments {
  PyObject* input;  // borrowed from the call
  std::string_view text;
  bool strict;
  bool yaml_1_1_bools;
};

// Reads a loading entry point's arguments, with `function` as the name its errors give;
// nothing when they are wrong (the interpreter's error is then set).
std::optional<LoadArguments> bind_load_arguments(PyObject* args, PyObject* kwargs,
                                                 const char* function);

// Calls `work.template operator()<Strict, Yaml11Bools>()` with the flags as constants, so that
// each combination gets a parser of its own.
template <class Work>
decltype(auto) dispatch_flags(const LoadArguments& arguments, Work&& work) {
  if (arguments.strict) {
    return arguments.yaml_1_1_bools ? work.template operator()<true, true>()
                                    : work.template operator()<true, false>();
  }
  return arguments.yaml_1_1_bools ? work.template operator()<false, true>()
                                  : work.template operator()<false, false>();
}

// `_corvane`'s ParseError and UnsupportedFeatureError, for the entry points of the second
// module, whose errors must be the very classes that `load` raises. Fetched once; nothing
// when the import fails (the interpreter's error is then set).
struct ErrorClasses {
  PyObject* parse;
  PyObject* unsupported;
};
std::optional<ErrorClasses> fetch_error_classes();

// Sets a TypeError naming the function, the argument, the expected and the given type.
void argument_type_error(const char* function, const char* argument, const char* expected,
                         PyObject* given);

// A flag argument: omitted is false; otherwise only a bool (or numpy's bool) is accepted.
std::optional<bool> read_flag(PyObject* object, const char* function, const char* argument);

// Raises "line N: message" as `parse_error` (a syntax error) or `unsupported_error`.
void raise_load_error(const LoadError& error, PyObject* parse_error, PyObject* unsupported_error);

// Raises the internal-error exception (the interpreter itself failed while building a value)
// with `head` and `tail` as its message, followed by `separator` and a description of the
// interpreter's pending error if there is one. Only Python objects are built: this runs when
// memory may have run out, and must not throw. When even the message cannot be made, the
// interpreter's own MemoryError is left set.
void raise_internal(const char* head, const char* tail = "", const char* separator = ": ");

// The first C++ exception thrown in a thread allocates the runtime's state for that thread
// (and, once per process, the unwinder's), and the C library ends the process when that
// allocation fails. So none may be left to the moment memory runs out: module initialisation
// calls this once (it also creates the internal-error class, so that raising it never has to),
// and every entry point reaches the state of its own thread before parsing.
bool prepare_internal_failures();
void prepare_thread_exceptions();

// Runs an entry point's work. No C++ exception reaches the interpreter: whatever escapes
// becomes the internal error.
template <class Work>
PyObject* run_guarded(Work&& work) noexcept {
  prepare_thread_exceptions();
  try {
    return work();
  } catch (const InternalFailure& failure) {
    raise_internal(failure.operation, " failed");
  } catch (const std::bad_alloc&) {
    raise_internal("Memory allocation failed");
  } catch (const std::exception& exception) {
    raise_internal("Unexpected C++ exception: ", exception.what());
  } catch (...) {
    raise_internal("Unexpected C++ exception");
  }
  return nullptr;
}

}  // namespace corvane
