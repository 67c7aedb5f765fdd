#include "python/python.hpp"

#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string_view>

#include "error/error.hpp"
#include "parser/parser.hpp"

namespace corvane {

namespace {

// Reports the pending interpreter error on standard error and abandons the call.
[[noreturn]] void api_call_failed() {
  PyErr_PrintEx(0);
  throw InternalFailure{"Python API call"};
}

PyRef checked(PyObject* object) {
  if (object == nullptr) api_call_failed();
  return PyRef::steal(object);
}

std::string utf8_of(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) return std::string();
  return std::string(data, static_cast<std::size_t>(size));
}

// "TypeName: message" for the pending interpreter error, which is cleared; null when no error
// is pending or no description can be made. Only Python objects are built: this runs when
// memory may have run out, and must not throw.
PyRef take_error_description() {
  if (PyErr_Occurred() == nullptr) return PyRef();
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef type_ref = PyRef::steal(type), value_ref = PyRef::steal(value),
        traceback_ref = PyRef::steal(traceback);
  PyRef name = type != nullptr ? PyRef::steal(PyObject_GetAttrString(type, "__name__")) : PyRef();
  PyRef text = value != nullptr ? PyRef::steal(PyObject_Str(value)) : PyRef();
  PyErr_Clear();
  if (!name || !PyUnicode_Check(name.get())) return PyRef();
  if (!text || !PyUnicode_Check(text.get()) || PyUnicode_GetLength(text.get()) == 0) return name;
  PyRef description = PyRef::steal(PyUnicode_FromFormat("%U: %U", name.get(), text.get()));
  PyErr_Clear();
  return description;
}

}  // namespace

PyBuilder::PyBuilder(PyObject* input, std::string_view bytes) {
  // Only in an ASCII string is every character one byte, so byte offsets are indices.
  if (PyUnicode_GetLength(input) == static_cast<Py_ssize_t>(bytes.size())) {
    ascii_input_ = input;
    ascii_bytes_ = bytes.data();
    ascii_size_ = bytes.size();
  }
}

PyBuilder::Map PyBuilder::new_map() {
  return checked(PyDict_New());
}

PyBuilder::Seq PyBuilder::new_seq() {
  return checked(PyList_New(0));
}

void PyBuilder::insert_failed(const char* call) {
  throw InternalFailure{call};
}

bool PyBuilder::map_has_key(const Map& map, const Value& key) {
  int found = PyDict_Contains(map.get(), key.get());
  if (found < 0) PyErr_Clear();
  return found == 1;
}

PyBuilder::Value PyBuilder::make_value(Scalar&& scalar) {
  switch (scalar.kind()) {
    case Scalar::Kind::Null: return PyRef::borrow(Py_None);
    case Scalar::Kind::Bool: return PyRef::borrow(scalar.as_bool() ? Py_True : Py_False);
    case Scalar::Kind::Int: return checked(PyLong_FromLongLong(scalar.as_int()));
    case Scalar::Kind::Float: return checked(PyFloat_FromDouble(scalar.as_float()));
    case Scalar::Kind::Str: break;
  }
  if (!scalar.is_owned()) return make_str(scalar.as_str());
  std::string_view text = scalar.as_str();
  return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// A slice of an ASCII input is copied as it is; decoding the bytes would check each one
// again. Text from elsewhere, or from a non-ASCII input, is decoded.
PyBuilder::Value PyBuilder::make_str(std::string_view text) {
  const auto address = reinterpret_cast<std::uintptr_t>(text.data());
  const auto base = reinterpret_cast<std::uintptr_t>(ascii_bytes_);
  if (ascii_input_ != nullptr && !text.empty() && address >= base &&
      address - base + text.size() <= ascii_size_) {
    const auto start = static_cast<Py_ssize_t>(address - base);
    return checked(
        PyUnicode_Substring(ascii_input_, start, start + static_cast<Py_ssize_t>(text.size())));
  }
  return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

PyBuilder::Value PyBuilder::make_key(Scalar&& scalar) {
  // Decoded quoted keys own their text, which dies with the scalar: those are not cached.
  if (scalar.kind() != Scalar::Kind::Str || scalar.is_owned() ||
      scalar.as_str().size() > KeyCache::kMaxKeyLength) {
    return make_value(std::move(scalar));
  }
  std::string_view text = scalar.as_str();
  if (PyObject* cached = keys_.find(text, KeyCache::Bytes::StringText)) {
    return PyRef::steal(cached);
  }
  PyRef key = make_value(std::move(scalar));
  keys_.store(text, KeyCache::Bytes::StringText, key.get());
  return key;
}

PyBuilder::Value PyBuilder::make_block_key(Scalar&& scalar, std::string_view source) {
  // Only strings are shared: one NaN object under two keys would make them one key.
  const bool keep = scalar.kind() == Scalar::Kind::Str && source.size() <= KeyCache::kMaxKeyLength;
  PyRef key = make_value(std::move(scalar));
  if (keep) {
    keys_.store(source, KeyCache::Bytes::SourceText, key.get());
  }
  return key;
}

PyBuilder::Value PyBuilder::make_string_value(std::string text) {
  return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

std::string PyBuilder::describe_key(const Value& key) {
  PyRef repr = checked(PyObject_Repr(key.get()));
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(repr.get(), &size);
  if (data == nullptr) api_call_failed();
  return std::string(data, static_cast<std::size_t>(size));
}

namespace {

// Process-wide exception classes, each created once on first need and kept for good.
PyObject* corvane_error_class = nullptr;
PyObject* parse_error_class = nullptr;
PyObject* unsupported_error_class = nullptr;
PyObject* internal_error_class = nullptr;
bool module_initialised = false;

// The class for failures of the interpreter itself. It derives from BaseException so that
// ordinary `except Exception` handlers do not swallow it. Module initialisation creates it,
// so that raising it never has to.
PyObject* internal_error() {
  if (internal_error_class == nullptr) {
    internal_error_class =
        PyErr_NewException("corvane.InternalError", PyExc_BaseException, nullptr);
  }
  return internal_error_class;
}

// Raises the internal error with `head` and `tail` as its message, followed by `separator` and
// a description of the interpreter's pending error if there is one. Only Python objects are
// built: this runs when memory may have run out, and must not throw. When even the message
// cannot be made, the interpreter's own MemoryError is left set.
void raise_internal(const char* head, const char* tail = "", const char* separator = ": ") {
  PyRef description = take_error_description();
  PyObject* cls = internal_error();
  if (cls == nullptr) return;
  PyRef message = PyRef::steal(
      description ? PyUnicode_FromFormat("%s%s%s%U", head, tail, separator, description.get())
                  : PyUnicode_FromFormat("%s%s", head, tail));
  if (message) PyErr_SetObject(cls, message.get());
}

PyObject* exception_class(PyObject*& slot, const char* name, PyObject* base) {
  if (slot != nullptr) return slot;
  if (base == nullptr) return nullptr;
  PyObject* created = PyErr_NewExceptionWithDoc(name, nullptr, base, nullptr);
  if (created == nullptr) {
    raise_internal("Failed to initialize new exception type.", "", " ");
    return nullptr;
  }
  if (slot != nullptr) {
    Py_DECREF(created);  // another initialisation got there first; keep its class
  } else {
    slot = created;
  }
  return slot;
}

PyObject* corvane_error() {
  return exception_class(corvane_error_class, "corvane.CorvaneError", PyExc_ValueError);
}
PyObject* parse_error() {
  return exception_class(parse_error_class, "corvane.ParseError", corvane_error());
}
PyObject* unsupported_error() {
  return exception_class(unsupported_error_class, "corvane.UnsupportedFeatureError",
                         corvane_error());
}

void raise_load_error(const LoadError& error) {
  PyObject* cls = error.kind == ErrorKind::Syntax ? parse_error() : unsupported_error();
  if (cls == nullptr) return;
  std::string text = "line " + std::to_string(error.line) + ": " + error.message;
  PyRef message = PyRef::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (message) PyErr_SetObject(cls, message.get());
}

std::string type_name(PyObject* object) {
  PyRef name = PyRef::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
  if (!name || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    return "?";
  }
  return utf8_of(name.get());
}

void argument_type_error(const char* argument, const char* expected, PyObject* given) {
  std::string text = std::string("load() argument '") + argument + "' must be " + expected +
                     ", not " + type_name(given);
  PyErr_SetString(PyExc_TypeError, text.c_str());
}

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

// An omitted flag is false; otherwise only a bool (or numpy's bool) is accepted.
std::optional<bool> read_flag(PyObject* object, const char* argument) {
  if (object == nullptr || object == Py_False) return false;
  if (object == Py_True) return true;
  if (is_numpy_bool(object)) {
    int truth = PyObject_IsTrue(object);
    if (truth < 0) return std::nullopt;
    return truth == 1;
  }
  argument_type_error(argument, "bool", object);
  return std::nullopt;
}

// The UTF-8 text of `input`, read in place: an ASCII string holds it already, and any other
// string keeps the form the interpreter makes here for as long as the string lives (as after
// any other call that asks for it), so no second copy is made for the call.
std::optional<std::string_view> utf8_text(PyObject* input) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(input, &size);
  if (data == nullptr) return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

template <bool Strict, bool Yaml11Bools>
Result<PyRef> parse_with(PyObject* input, std::string_view text) {
  PySink<Strict, Yaml11Bools> sink(input, text);
  Parser<PySink<Strict, Yaml11Bools>> parser(text, sink);
  return parser.parse();
}

// The first C++ exception thrown in a thread allocates the runtime's state for that thread
// (and, once per process, the unwinder's), and the C library ends the process when that
// allocation fails. So none may be left to the moment memory runs out: initialisation throws
// once, and every call of `load` reaches the state of its own thread before parsing.
void prepare_exceptions() {
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

PyObject* bind_and_load(PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"input", "strict", "yaml_1_1_bools", nullptr};
  PyObject* input = nullptr;
  PyObject* strict_arg = nullptr;
  PyObject* bools_arg = nullptr;
  // The interpreter's own binding would report this case only as too many arguments; name
  // the argument instead.
  if (kwargs != nullptr && PyTuple_Size(args) <= 3) {
    for (Py_ssize_t i = 0; i < PyTuple_Size(args); ++i) {
      if (PyDict_GetItemString(kwargs, keywords[i]) != nullptr) {
        PyErr_Format(PyExc_TypeError, "argument for load() given by name ('%s') and position (%zd)",
                     keywords[i], i + 1);
        return nullptr;
      }
    }
  }
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:load", const_cast<char**>(keywords), &input,
                                   &strict_arg, &bools_arg)) {
    return nullptr;
  }
  if (!PyUnicode_Check(input)) {
    argument_type_error("input", "str", input);
    return nullptr;
  }
  const std::optional<std::string_view> text = utf8_text(input);
  if (!text) return nullptr;
  const std::optional<bool> strict = read_flag(strict_arg, "strict");
  if (!strict) return nullptr;
  const std::optional<bool> yaml_1_1_bools = read_flag(bools_arg, "yaml_1_1_bools");
  if (!yaml_1_1_bools) return nullptr;
  Result<PyRef> result = *strict ? (*yaml_1_1_bools ? parse_with<true, true>(input, *text)
                                                    : parse_with<true, false>(input, *text))
                                 : (*yaml_1_1_bools ? parse_with<false, true>(input, *text)
                                                    : parse_with<false, false>(input, *text));
  if (result) return result->release();
  raise_load_error(result.error());
  return nullptr;
}

// No C++ exception reaches the interpreter: whatever escapes becomes the internal error.
PyObject* load(PyObject*, PyObject* args, PyObject* kwargs) {
  prepare_thread_exceptions();
  try {
    return bind_and_load(args, kwargs);
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

PyMethodDef load_method = {
    "load", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(load)),
    METH_VARARGS | METH_KEYWORDS, "load(input, strict=False, yaml_1_1_bools=False)\n--\n\n"};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "_corvane", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

// Appends `name` to the module's __all__ (creating the list on first use), then sets the
// attribute. Takes a reference to `value`.
bool add_public(PyObject* module, const char* name, PyObject* value) {
  if (value == nullptr) return false;
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) != 0) return false;
  }
  PyRef name_object = PyRef::steal(PyUnicode_FromString(name));
  if (!name_object || PyList_Append(all.get(), name_object.get()) != 0) return false;
  return PyModule_AddObjectRef(module, name, value) == 0;
}

}  // namespace

}  // namespace corvane

PyMODINIT_FUNC PyInit__corvane(void) {
  using namespace corvane;
  if (module_initialised) {
    PyErr_SetString(PyExc_ImportError,
                    "_corvane may be initialised only once per interpreter process");
    return nullptr;
  }
  PyRef module = PyRef::steal(PyModule_Create(&module_definition));
  if (!module || internal_error() == nullptr) return nullptr;
  module_initialised = true;
  prepare_exceptions();
  PyRef module_name = PyRef::steal(PyUnicode_FromString("_corvane"));
  if (!module_name) return nullptr;
  PyRef function = PyRef::steal(PyCFunction_NewEx(&load_method, module.get(), module_name.get()));
  if (!add_public(module.get(), "load", function.get()) ||
      !add_public(module.get(), "CorvaneError", corvane_error()) ||
      !add_public(module.get(), "ParseError", parse_error()) ||
      !add_public(module.get(), "UnsupportedFeatureError", unsupported_error())) {
    return nullptr;
  }
  return module.release();
}
