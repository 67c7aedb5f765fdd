// The sink that builds Python objects: shared by both extension modules, whose parsers build
// values the same way.
#include <cstdint>
#include <optional>
#include <string_view>

#include "python/python.hpp"

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

}  // namespace

std::string utf8_of(PyObject* text) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text, &size);
  if (data == nullptr) return std::string();
  return std::string(data, static_cast<std::size_t>(size));
}

// Only Python objects are built: this runs when memory may have run out, and must not throw.
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

}  // namespace corvane
