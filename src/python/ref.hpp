// PyRef, the owner of one strong reference to a Python object, and InternalFailure, the
// failure of the interpreter itself that abandons a call.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

#include "base/attributes.hpp"

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
  CORVANE_ALWAYS_INLINE ~PyRef() { Py_XDECREF(object_); }

  PyObject* get() const { return object_; }
  PyObject* release() { return std::exchange(object_, nullptr); }
  explicit operator bool() const { return object_ != nullptr; }
  void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }

 private:
  explicit PyRef(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

// A failure of the interpreter itself while building the result. It abandons the whole call;
// no input document can cause one. It owns no memory, so that it can be thrown and carried
// when none is left; the interpreter's error, if one is pending, is described once caught.
struct InternalFailure {
  const char* operation;  // what failed, a constant text
};

}  // namespace corvane
