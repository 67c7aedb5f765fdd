// The extension module `_corvane`: `load`, the exception classes, and the sink that builds
// Python objects.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <utility>

#include "scalar/scalar.hpp"

namespace corvane {

// Owns one strong reference; releasing the handle releases the object (and, for a container
// not yet attached to a parent, everything below it).
class PyRef {
 public:
  PyRef() = default;
  static PyRef steal(PyObject* object) { return PyRef(object); }
  static PyRef borrow(PyObject* object) {
    Py_INCREF(object);
    return PyRef(object);
  }
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    PyRef(std::move(other)).swap(*this);
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  PyObject* release() { return std::exchange(object_, nullptr); }
  explicit operator bool() const { return object_ != nullptr; }
  void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }

 private:
  explicit PyRef(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

// A failure of the interpreter itself while building the result. It abandons the whole call;
// no input document can cause one.
struct InternalFailure {
  std::string text;
};

// Builds Python objects directly; holds no data. The flags only select the parser
// instantiation: every operation behaves the same in all four.
class PyBuilder {
 public:
  using Value = PyRef;
  using Map = PyRef;
  using Seq = PyRef;

  Map new_map();
  Seq new_seq();
  void map_insert(const Map& map, Value key, Value value);
  void seq_push(const Seq& seq, Value value);
  bool map_has_key(const Map& map, const Value& key);
  Value null_value() { return PyRef::borrow(Py_None); }
  Value make_value(Scalar&& scalar);
  Value make_string_value(std::string text);
  std::string describe_key(const Value& key);
};

template <bool Strict, bool Yaml11Bools>
class PySink : public PyBuilder {
 public:
  static constexpr bool strict = Strict;
  static constexpr bool yaml_1_1_bools = Yaml11Bools;
};

}  // namespace corvane
