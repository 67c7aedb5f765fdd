// The loading entry points' one road: bind (input, strict=False, yaml_1_1_bools=False), pick
// the sink of the flags, parse, and hand back a value or raise. `load`, `load_with_lines` and the
// test hook `_load_exact_flow` differ only in their sink and in what they return.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "error/error.hpp"
#include "parser/parser.hpp"
#include "python/errors.hpp"
#include "python/ref.hpp"

namespace corvane {

// The arguments every loading entry point takes.
struct LoadArguments {
  PyObject* input;        // the str, borrowed from the call
  std::string_view text;  // its UTF-8 text, which the str keeps for as long as it lives
  bool strict;
  bool yaml_1_1_bools;
};

// Reads a loading entry point's arguments, with `function` as the name its errors give;
// nothing when they are wrong (the interpreter's error is then set).
std::optional<LoadArguments> bind_load_arguments(PyObject* args, PyObject* kwargs,
                                                 const char* function);

// A flag argument: omitted is false; otherwise only a bool (or numpy's bool) is accepted.
std::optional<bool> read_flag(PyObject* object, const char* function, const char* argument);

// The first C++ exception thrown in a thread allocates the runtime's state for that thread
// (and, once per process, the unwinder's), and the C library ends the process when that
// allocation fails. So none may be left to the moment memory runs out: module initialisation
// calls this once, and every entry point reaches the state of its own thread before it works.
void prepare_internal_failures();
void prepare_thread_exceptions();

// Runs an entry point's work. No C++ exception reaches the interpreter: a document too large
// for a table becomes an OverflowError, whatever else escapes the internal error.
template <class Work>
PyObject* run_guarded(Work&& work) noexcept {
  prepare_thread_exceptions();
  try {
    return work();
  } catch (const InternalFailure& failure) {
    raise_internal(failure.operation, " failed");
  } catch (const CapacityExceeded& exceeded) {
    PyErr_SetString(PyExc_OverflowError, exceeded.message);
  } catch (const std::bad_alloc&) {
    raise_internal("Memory allocation failed");
  } catch (const std::exception& exception) {
    raise_internal("Unexpected C++ exception: ", exception.what());
  } catch (...) {
    raise_internal("Unexpected C++ exception");
  }
  return nullptr;
}

// Large loads pause the cyclic garbage collector while they build, on interpreters that
// collect during a load: the objects a load builds form a tree, so none of them can be part of
// a cycle before the load returns, and an interpreter that collects again and again while a
// large result grows spends much of the load in the collector. Module initialisation decides
// for the interpreter (false with the error set when its version cannot be read); a load asks
// with the size of its input.
bool decide_collector_pause();
bool load_pauses_collector(std::size_t input_bytes);

// Pauses the collector for its lifetime, when asked to and when it is on, and turns it back on
// however the load ends: a collector that was off stays off.
class CollectorPause {
 public:
  explicit CollectorPause(bool pause) : resume_(pause && PyGC_Disable() == 1) {}
  ~CollectorPause() {
    if (resume_) PyGC_Enable();
  }
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  bool resume_;
};

// One loading entry point: `SinkFor<Strict, Yaml11Bools>` is its sink for each pair of flags,
// made from the input str and its UTF-8 text, so that each pair gets a parser of its own with
// the flags as constants. `finish(sink, root)` turns the parsed root value into what the call
// returns (a new reference, or null with an error set).
template <template <bool, bool> class SinkFor, class Finish>
PyObject* load_entry(PyObject* args, PyObject* kwargs, const char* function, Finish&& finish) {
  return run_guarded([&]() -> PyObject* {
    const std::optional<LoadArguments> arguments = bind_load_arguments(args, kwargs, function);
    if (!arguments) return nullptr;
    const CollectorPause pause(load_pauses_collector(arguments->text.size()));
    const auto parse = [&]<bool Strict, bool Yaml11Bools>() -> PyObject* {
      using Sink = SinkFor<Strict, Yaml11Bools>;
      Sink sink(arguments->input, arguments->text);
      Parser<Sink> parser(arguments->text, sink);
      auto root = parser.parse();
      if (!root) {
        raise_load_error(root.error());
        return nullptr;
      }
      return finish(sink, std::move(*root));
    };
    if (arguments->strict) {
      return arguments->yaml_1_1_bools ? parse.template operator()<true, true>()
                                       : parse.template operator()<true, false>();
    }
    return arguments->yaml_1_1_bools ? parse.template operator()<false, true>()
                                     : parse.template operator()<false, false>();
  });
}

}  // namespace corvane
