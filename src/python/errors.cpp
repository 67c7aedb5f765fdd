// The exception classes, and the making, raising and reading back of every error an entry point
// raises. A parse error's one argument is its text ("line N: message"); its line, its message
// and, for an error of load_file, its path are kept beside that text in slots of the exception
// when it is raised, so that reading them back never depends on how the text reads.
#include "python/errors.hpp"

#include <string>
#include <string_view>

#include "text/chars.hpp"

namespace corvane {

namespace {

ErrorClasses classes{nullptr, nullptr, nullptr, nullptr};
// Set once every class is made (or imported) and registered for pickling.
bool classes_ready = false;

// The slots that keep an error's position. Slots, not the instance dictionary: a raised error
// carries no attribute of its own, and pickling takes the slots along (see reduce_error).
constexpr const char* kLineSlot = "_line";
constexpr const char* kMessageSlot = "_message";
constexpr const char* kPathSlot = "_path";
// Where the internal-error class is kept for the second module, which takes it from
// CorvaneError: `_corvane` itself offers no name beyond its four.
constexpr const char* kInternalErrorAttribute = "_internal_error";

// The value of a slot, or null (no error left set) when the slot is empty.
PyRef slot_value(PyObject* error, const char* slot) {
  PyObject* value = PyObject_GetAttrString(error, slot);
  if (value == nullptr) PyErr_Clear();
  return PyRef::steal(value);
}

struct Position {
  PyRef line;
  PyRef message;
};

// The line and message kept when the error was raised or made by error_in_file. An error made by
// hand ("line 12: made here") has none kept, and its text, if it reads "line N: message", tells
// them instead.
bool read_position(PyObject* error, Position& position) {
  position.line = slot_value(error, kLineSlot);
  position.message = slot_value(error, kMessageSlot);
  if (position.line && position.message) return true;
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
  constexpr std::string_view kPrefix = "line ";
  if (!rest.starts_with(kPrefix)) return false;
  rest.remove_prefix(kPrefix.size());
  std::size_t digits = 0;
  std::uint64_t line = 0;
  // Nineteen digits always fit in 64 bits.
  while (digits < rest.size() && digits < 19 && is_digit(rest[digits])) {
    line = line * 10 + static_cast<std::uint64_t>(rest[digits] - '0');
    ++digits;
  }
  if (digits == 0 || rest.substr(digits, 2) != ": ") return false;
  rest.remove_prefix(digits + 2);
  position.line = PyRef::steal(PyLong_FromUnsignedLongLong(line));
  position.message = PyRef::steal(
      PyUnicode_DecodeUTF8(rest.data(), static_cast<Py_ssize_t>(rest.size()), "strict"));
  if (!position.line || !position.message) {
    PyErr_Clear();
    return false;
  }
  return true;
}

PyObject* no_position(PyObject* error, const char* attribute) {
  PyErr_Format(PyExc_AttributeError,
               "'%s' object has no attribute '%s': its text does not start with a line number",
               type_name(error).c_str(), attribute);
  return nullptr;
}

PyObject* error_line(PyObject*, PyObject* error) {
  Position position;
  if (!read_position(error, position)) return no_position(error, "line");
  return position.line.release();
}

PyObject* error_message(PyObject*, PyObject* error) {
  Position position;
  if (!read_position(error, position)) return no_position(error, "message");
  return position.message.release();
}

PyObject* error_path(PyObject*, PyObject* error) {
  PyRef path = slot_value(error, kPathSlot);
  if (!path) Py_RETURN_NONE;
  return path.release();
}

// What pickling and copying keep of an error: its class, its arguments and, as the state that
// BaseException.__setstate__ sets back attribute by attribute, its instance dictionary and its
// filled slots. Registered with copyreg, which both pickle and copy consult.
PyObject* reduce_error(PyObject*, PyObject* error) {
  PyRef args = PyRef::steal(PyObject_GetAttrString(error, "args"));
  if (!args) return nullptr;
  PyRef state = PyRef::steal(PyDict_New());
  if (!state) return nullptr;
  PyRef attributes = PyRef::steal(PyObject_GetAttrString(error, "__dict__"));
  if (!attributes) {
    PyErr_Clear();
  } else if (PyDict_Check(attributes.get()) && PyDict_Update(state.get(), attributes.get()) < 0) {
    return nullptr;
  }
  for (const char* slot : {kLineSlot, kMessageSlot, kPathSlot}) {
    if (PyRef value = slot_value(error, slot);
        value && PyDict_SetItemString(state.get(), slot, value.get()) < 0) {
      return nullptr;
    }
  }
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(error));
  if (PyDict_Size(state.get()) == 0) return PyTuple_Pack(2, type, args.get());
  return PyTuple_Pack(3, type, args.get(), state.get());
}

PyMethodDef error_line_getter = {"line", error_line, METH_O, nullptr};
PyMethodDef error_message_getter = {"message", error_message, METH_O, nullptr};
PyMethodDef error_path_getter = {"path", error_path, METH_O, nullptr};
PyMethodDef reduce_error_method = {"reduce_error", reduce_error, METH_O, nullptr};

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

// The namespace of CorvaneError: where an error stands, as read-only attributes that every
// subclass has, the slots behind them, and the internal-error class for the second module.
PyRef error_namespace(PyObject* internal) {
  PyRef namespace_ = PyRef::steal(PyDict_New());
  PyRef slots = PyRef::steal(Py_BuildValue("(sss)", kLineSlot, kMessageSlot, kPathSlot));
  if (!namespace_ || !slots ||
      PyDict_SetItemString(namespace_.get(), "__slots__", slots.get()) < 0 ||
      PyDict_SetItemString(namespace_.get(), kInternalErrorAttribute, internal) < 0 ||
      !add_property(namespace_.get(), &error_line_getter, "The number of the line at fault.") ||
      !add_property(namespace_.get(), &error_message_getter,
                    "What is wrong, without the line number.") ||
      !add_property(namespace_.get(), &error_path_getter,
                    "The file the error is in, for an error of load_file; None otherwise.")) {
    return PyRef();
  }
  return namespace_;
}

// The class in `slot`, created on first need and kept for the life of the process.
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

// Has pickle and copy keep the slots of `cls`'s errors.
bool register_reduction(PyObject* cls) {
  PyRef copyreg = PyRef::steal(PyImport_ImportModule("copyreg"));
  PyRef reduce = PyRef::steal(PyCFunction_NewEx(&reduce_error_method, nullptr, nullptr));
  if (!copyreg || !reduce) return false;
  PyRef done = PyRef::steal(PyObject_CallMethod(copyreg.get(), "pickle", "OO", cls, reduce.get()));
  return static_cast<bool>(done);
}

// The UTF-8 text as a str, its bytes that do not decode replaced.
PyRef text_object(std::string_view text) {
  return PyRef::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

// A new error of `cls` whose one argument is `text`, with its position kept in its slots.
PyRef located_error(PyObject* cls, PyObject* text, PyObject* line, PyObject* message,
                    PyObject* path) {
  PyRef error = PyRef::steal(PyObject_CallFunctionObjArgs(cls, text, nullptr));
  if (!error || PyObject_SetAttrString(error.get(), kLineSlot, line) < 0 ||
      PyObject_SetAttrString(error.get(), kMessageSlot, message) < 0 ||
      (path != nullptr && PyObject_SetAttrString(error.get(), kPathSlot, path) < 0)) {
    return PyRef();
  }
  return error;
}

// "TypeName: message" for the pending interpreter error, which is cleared; null when no error
// is pending or no description can be made. Only Python objects are built.
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

const ErrorClasses* error_classes() {
  return classes_ready ? &classes : nullptr;
}

const ErrorClasses* make_error_classes() {
  if (classes_ready) return &classes;
  // Each class is made once; after a failure, the next call makes only what is missing.
  // BaseException, so that ordinary `except Exception` handlers do not swallow it.
  if (classes.internal == nullptr) {
    classes.internal = PyErr_NewException("corvane.InternalError", PyExc_BaseException, nullptr);
    if (classes.internal == nullptr) return nullptr;
  }
  if (classes.base == nullptr) {
    PyRef namespace_ = error_namespace(classes.internal);
    if (!namespace_ || exception_class(classes.base, "corvane.CorvaneError", PyExc_ValueError,
                                       namespace_.get()) == nullptr) {
      return nullptr;
    }
  }
  if (exception_class(classes.parse, "corvane.ParseError", classes.base) == nullptr ||
      exception_class(classes.unsupported, "corvane.UnsupportedFeatureError", classes.base) ==
          nullptr) {
    return nullptr;
  }
  for (PyObject* cls : {classes.base, classes.parse, classes.unsupported}) {
    if (!register_reduction(cls)) return nullptr;
  }
  classes_ready = true;
  return &classes;
}

const ErrorClasses* import_error_classes() {
  if (classes_ready) return &classes;
  PyRef module = PyRef::steal(PyImport_ImportModule("_corvane"));
  if (!module) return nullptr;
  // Each lookup is checked before the next: none may run with an error pending.
  PyRef base = PyRef::steal(PyObject_GetAttrString(module.get(), "CorvaneError"));
  if (!base) return nullptr;
  PyRef parse = PyRef::steal(PyObject_GetAttrString(module.get(), "ParseError"));
  if (!parse) return nullptr;
  PyRef unsupported = PyRef::steal(PyObject_GetAttrString(module.get(), "UnsupportedFeatureError"));
  if (!unsupported) return nullptr;
  PyRef internal = PyRef::steal(PyObject_GetAttrString(base.get(), kInternalErrorAttribute));
  if (!internal) return nullptr;
  classes = {base.release(), parse.release(), unsupported.release(), internal.release()};
  classes_ready = true;
  return &classes;
}

void raise_load_error(const LoadError& error) {
  if (!classes_ready) return;
  PyObject* cls = error.kind == ErrorKind::Syntax ? classes.parse : classes.unsupported;
  PyRef line = PyRef::steal(PyLong_FromUnsignedLongLong(error.line));
  PyRef message = text_object(error.message);
  if (!line || !message) return;
  PyRef text = PyRef::steal(PyUnicode_FromFormat("line %S: %U", line.get(), message.get()));
  if (!text) return;
  PyRef raised = located_error(cls, text.get(), line.get(), message.get(), nullptr);
  if (raised) PyErr_SetObject(cls, raised.get());
}

PyObject* error_in_file_function(PyObject*, PyObject* args) {
  PyObject *cls, *path, *line, *message;
  if (!PyArg_ParseTuple(args, "OUO!U:error_in_file", &cls, &path, &PyLong_Type, &line, &message)) {
    return nullptr;
  }
  if (!classes_ready) return nullptr;
  const int is_error_class = PyObject_IsSubclass(cls, classes.base);
  if (is_error_class < 0) return nullptr;
  if (!is_error_class) {
    PyErr_SetString(PyExc_TypeError, "error_in_file() needs CorvaneError or a subclass");
    return nullptr;
  }
  PyRef text = PyRef::steal(PyUnicode_FromFormat("%U:%S: %U", path, line, message));
  if (!text) return nullptr;
  return located_error(cls, text.get(), line, message, path).release();
}

void raise_internal(const char* head, const char* tail, const char* separator) {
  PyRef description = take_error_description();
  if (classes.internal == nullptr) return;
  PyRef message = PyRef::steal(
      description ? PyUnicode_FromFormat("%s%s%s%U", head, tail, separator, description.get())
                  : PyUnicode_FromFormat("%s%s", head, tail));
  if (message) PyErr_SetObject(classes.internal, message.get());
}

void argument_type_error(const char* function, const char* argument, const char* expected,
                         PyObject* given) {
  std::string text = std::string(function) + "() argument '" + argument + "' must be " + expected +
                     ", not " + type_name(given);
  PyErr_SetString(PyExc_TypeError, text.c_str());
}

std::string type_name(PyObject* object) {
  PyRef name = PyRef::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
  std::string text = name && PyUnicode_Check(name.get()) ? utf8_of(name.get()) : std::string();
  if (text.empty()) {
    PyErr_Clear();
    return "?";
  }
  return text;
}

std::string utf8_of(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) return std::string();
  return std::string(data, static_cast<std::size_t>(size));
}

}  // namespace corvane
