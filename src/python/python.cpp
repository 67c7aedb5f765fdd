// The extension module `_corvane`: `load`, its exception classes (with their line, message
// and path attributes) and the module's single-phase initialisation.
#include "python/python.hpp"

#include <cstdint>
#include <new>
#include <optional>
#include <string_view>

#include "error/error.hpp"
#include "parser/parser.hpp"
#include "python/entry.hpp"

namespace corvane {

namespace {

// Process-wide exception classes, each created once on first need and kept for good.
PyObject* corvane_error_class = nullptr;
PyObject* parse_error_class = nullptr;
PyObject* unsupported_error_class = nullptr;
bool module_initialised = false;

// The file an error names: set (as `_path`) only on the errors of the package's `load_file`,
// whose text then starts "PATH:N: " instead of "line N: ".
PyRef stored_path(PyObject* error) {
  PyObject* path = PyObject_GetAttrString(error, "_path");
  if (path == nullptr) PyErr_Clear();
  return PyRef::steal(path);
}

// Reads the line number and the message back from the error's one argument. Keeping them in
// the text rather than beside it leaves `args` as it always was, and pickling and copying,
// which keep `args`, keep them too.
bool read_position(PyObject* error, std::uint64_t& line, std::string_view& message) {
  PyRef args = PyRef::steal(PyObject_GetAttrString(error, "args"));
  if (!args || !PyTuple_Check(args.get()) || PyTuple_Size(args.get()) != 1) {
    PyErr_Clear();
    return false;
  }
  PyObject* text = PyTuple_GetItem(args.get(), 0);
  Py_ssize_t size = 0;
  const char* data = PyUnicode_Check(text) ? PyUnicode_AsUTF8AndSize(text, &size) : nullptr;
  if (data == nullptr) {
    PyErr_Clear();
    return false;
  }
  std::string_view rest(data, static_cast<std::size_t>(size));
  std::string prefix = "line ";
  if (PyRef path = stored_path(error); path && PyUnicode_Check(path.get())) {
    prefix = utf8_of(path.get()) + ":";
    PyErr_Clear();
  }
  if (!rest.starts_with(prefix)) return false;
  rest.remove_prefix(prefix.size());
  std::size_t digits = 0;
  line = 0;
  // Nineteen digits always fit in 64 bits.
  while (digits < rest.size() && digits < 19 && rest[digits] >= '0' && rest[digits] <= '9') {
    line = line * 10 + static_cast<std::uint64_t>(rest[digits] - '0');
    ++digits;
  }
  if (digits == 0 || rest.substr(digits, 2) != ": ") return false;
  // `data` stays valid while the error holds its argument.
  message = rest.substr(digits + 2);
  return true;
}

PyObject* no_position(PyObject* error, const char* attribute) {
  PyRef name =
      PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(error)), "__name__"));
  if (!name) return nullptr;
  PyErr_Format(PyExc_AttributeError,
               "'%U' object has no attribute '%s': its text does not start with a line number",
               name.get(), attribute);
  return nullptr;
}

PyObject* error_line(PyObject*, PyObject* error) {
  std::uint64_t line = 0;
  std::string_view message;
  if (!read_position(error, line, message)) return no_position(error, "line");
  return PyLong_FromUnsignedLongLong(line);
}

PyObject* error_message(PyObject*, PyObject* error) {
  std::uint64_t line = 0;
  std::string_view message;
  if (!read_position(error, line, message)) return no_position(error, "message");
  return PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "strict");
}

PyObject* error_path(PyObject*, PyObject* error) {
  PyRef path = stored_path(error);
  if (!path) Py_RETURN_NONE;
  return path.release();
}

PyMethodDef error_line_getter = {"line", error_line, METH_O, nullptr};
PyMethodDef error_message_getter = {"message", error_message, METH_O, nullptr};
PyMethodDef error_path_getter = {"path", error_path, METH_O, nullptr};

// Adds a read-only property to a class namespace.
bool add_property(PyObject* namespace_, PyMethodDef* getter, const char* doc) {
  PyRef function = PyRef::steal(PyCFunction_NewEx(getter, nullptr, nullptr));
  PyRef doc_text = PyRef::steal(PyUnicode_FromString(doc));
  if (!function || !doc_text) return false;
  PyRef property = PyRef::steal(
      PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PyProperty_Type), function.get(),
                                   Py_None, Py_None, doc_text.get(), nullptr));
  return property && PyDict_SetItemString(namespace_, getter->ml_name, property.get()) == 0;
}

// The namespace of CorvaneError: where an error stands, as attributes that every subclass has.
PyRef error_namespace() {
  PyRef namespace_ = PyRef::steal(PyDict_New());
  if (!namespace_ ||
      !add_property(namespace_.get(), &error_line_getter, "The number of the line at fault.") ||
      !add_property(namespace_.get(), &error_message_getter,
                    "What is wrong, without the line number.") ||
      !add_property(namespace_.get(), &error_path_getter,
                    "The file the error is in, for an error of load_file; None otherwise.")) {
    return PyRef();
  }
  return namespace_;
}

PyObject* exception_class(PyObject*& slot, const char* name, PyObject* base,
                          PyObject* namespace_ = nullptr) {
  if (slot != nullptr) return slot;
  if (base == nullptr) return nullptr;
  PyObject* created = PyErr_NewExceptionWithDoc(name, nullptr, base, namespace_);
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
  if (corvane_error_class != nullptr) return corvane_error_class;
  PyRef namespace_ = error_namespace();
  if (!namespace_) return nullptr;
  return exception_class(corvane_error_class, "corvane.CorvaneError", PyExc_ValueError,
                         namespace_.get());
}
PyObject* parse_error() {
  return exception_class(parse_error_class, "corvane.ParseError", corvane_error());
}
PyObject* unsupported_error() {
  return exception_class(unsupported_error_class, "corvane.UnsupportedFeatureError",
                         corvane_error());
}

template <bool Strict, bool Yaml11Bools>
Result<PyRef> parse_with(PyObject* input, std::string_view text) {
  PySink<Strict, Yaml11Bools> sink(input, text);
  Parser<PySink<Strict, Yaml11Bools>> parser(text, sink);
  return parser.parse();
}

PyObject* bind_and_load(PyObject* args, PyObject* kwargs) {
  const std::optional<LoadArguments> arguments = bind_load_arguments(args, kwargs, "load");
  if (!arguments) return nullptr;
  Result<PyRef> result = dispatch_flags(*arguments, [&]<bool Strict, bool Yaml11Bools>() {
    return parse_with<Strict, Yaml11Bools>(arguments->input, arguments->text);
  });
  if (result) return result->release();
  raise_load_error(result.error(), parse_error(), unsupported_error());
  return nullptr;
}

PyObject* load(PyObject*, PyObject* args, PyObject* kwargs) {
  return run_guarded([&] { return bind_and_load(args, kwargs); });
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
  if (!module || !prepare_internal_failures()) return nullptr;
  module_initialised = true;
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
