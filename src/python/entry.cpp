// The argument binding that every loading entry point shares, and the preparation that lets an
// entry point fail cleanly when memory runs out.
#include "python/entry.hpp"

#include <cstring>
#include <string>

namespace corvane {

namespace {

// numpy's boolean scalars (numpy.bool_, named `bool` in numpy 2), recognised without
// importing numpy.
bool is_numpy_bool(PyObject* object) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
  PyRef module = PyRef::steal(PyObject_GetAttrString(type, "__module__"));
  if (!module || !PyUnicode_Check(module.get())) {
    PyErr_Clear();
    return false;
  }
  if (utf8_of(module.get()) != "numpy") {
    PyErr_Clear();
    return false;
  }
  std::string name = type_name(object);
  return name == "bool_" || name == "bool";
}

// An ASCII string holds its UTF-8 text already, and any other string keeps the form the
// interpreter makes here for as long as the string lives (as after any other call that asks
// for it), so no second copy is made for the call. Nothing when it cannot be encoded (the
// interpreter's error is then set).
std::optional<std::string_view> utf8_text(PyObject* input) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(input, &size);
  if (data == nullptr) return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

// Set when a module is initialised; the same for every module of the process.
bool interpreter_collects_during_loads = false;

// Below this size the pause costs more than it saves: the young collection of everything the
// load built, when the collector comes back on, outweighs the full collections it spared
// (bench/README.md has the figures).
constexpr std::size_t kPauseFromBytes = std::size_t{32} << 20;

}  // namespace

bool decide_collector_pause() {
  // Before Python 3.12 the collector runs while a load allocates, full collections again and
  // again as a large result grows; from 3.12 on it runs only when control returns to the
  // interpreter, once per load at most.
  PyObject* version = PySys_GetObject("version_info");  // borrowed
  if (version == nullptr) {
    PyErr_SetString(PyExc_ImportError, "sys.version_info is missing");
    return false;
  }
  const PyRef minor = PyRef::steal(PySequence_GetItem(version, 1));
  const long value = minor ? PyLong_AsLong(minor.get()) : -1;
  if (value == -1 && PyErr_Occurred()) return false;
  interpreter_collects_during_loads = value < 12;
  return true;
}

bool load_pauses_collector(std::size_t input_bytes) {
  return interpreter_collects_during_loads && input_bytes >= kPauseFromBytes;
}

void prepare_internal_failures() {
  try {
    throw InternalFailure{"Initialisation"};
  } catch (const InternalFailure&) {
  }
}

void prepare_thread_exceptions() {
  // Asking for the count reaches the state; reading it through `volatile` keeps the call.
  volatile int in_flight = std::uncaught_exceptions();
  static_cast<void>(in_flight);
}

std::optional<bool> read_flag(PyObject* object, const char* function, const char* argument) {
  if (object == nullptr || object == Py_False) return false;
  if (object == Py_True) return true;
  if (is_numpy_bool(object)) {
    int truth = PyObject_IsTrue(object);
    if (truth < 0) return std::nullopt;
    return truth == 1;
  }
  argument_type_error(function, argument, "bool", object);
  return std::nullopt;
}

std::optional<LoadArguments> bind_load_arguments(PyObject* args, PyObject* kwargs,
                                                 const char* function) {
  static const char* keywords[] = {"input", "strict", "yaml_1_1_bools", nullptr};
  PyObject* input = nullptr;
  PyObject* strict_arg = nullptr;
  PyObject* bools_arg = nullptr;
  // The interpreter's own binding would report this case only as too many arguments; name
  // the argument instead.
  if (kwargs != nullptr && PyTuple_Size(args) <= 3) {
    for (Py_ssize_t i = 0; i < PyTuple_Size(args); ++i) {
      if (PyDict_GetItemString(kwargs, keywords[i]) != nullptr) {
        PyErr_Format(PyExc_TypeError, "argument for %s() given by name ('%s') and position (%zd)",
                     function, keywords[i], i + 1);
        return std::nullopt;
      }
    }
  }
  // "O|OO:" and the name, without an allocation on every call.
  char format[64] = "O|OO:";
  std::strncat(format, function, sizeof format - std::strlen(format) - 1);
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(keywords), &input,
                                   &strict_arg, &bools_arg)) {
    return std::nullopt;
  }
  if (!PyUnicode_Check(input)) {
    argument_type_error(function, "input", "str", input);
    return std::nullopt;
  }
  const std::optional<std::string_view> text = utf8_text(input);
  if (!text) return std::nullopt;
  const std::optional<bool> strict = read_flag(strict_arg, function, "strict");
  if (!strict) return std::nullopt;
  const std::optional<bool> yaml_1_1_bools = read_flag(bools_arg, function, "yaml_1_1_bools");
  if (!yaml_1_1_bools) return std::nullopt;
  return LoadArguments{input, *text, *strict, *yaml_1_1_bools};
}

}  // namespace corvane
