// The walk of the writers (`dump`'s YAML, the command's JSON) over a Python value, without
// recursion (an explicit stack of open containers), handing every scalar, key and container to
// the format that writes its text. The value's own code may run during the walk (comparisons
// while keys are sorted, a subclass's items() or iteration, __repr__ and a metaclass's __name__
// while an error is described, __del__ of what the writer lets go, and whatever a format calls
// between entries) and change or free anything in it. So every open container and the key being
// written in each are held by a strong reference, taken before such code can run; a scalar value
// is written before any can, and an unwritable one is held before its type's name is asked for.
// A container that changed size is reported, not walked further.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/attributes.hpp"
#include "python/ref.hpp"
#include "text/chars.hpp"

namespace corvane {

// How the entries of an open mapping are reached.
enum class Walk : std::uint8_t {
  DictOrder,   // an exact dict, in its own order
  SortedKeys,  // its keys taken first and sorted: an exact dict of plain keys, sorted
  Pairs,       // the (key, value) pairs taken first: any other sorted or subclassed mapping
};

// A mapping or sequence being written, with the entry being written now, and what the format
// keeps of it (`State`).
template <class State>
struct WalkFrame {
  PyRef container;
  // What is walked when it is not the container itself: the pairs or the sorted keys of a
  // mapping, the items a list subclass's iteration gave. Made by the writer, so seen by no
  // other code.
  PyRef entries;
  PyRef key;            // the current key of a mapping
  Py_ssize_t size = 0;  // entries when opened
  Py_ssize_t position = 0;
  Py_ssize_t index = -1;  // the current item of a sequence
  State state{};
  Walk walk = Walk::DictOrder;
  bool is_map = false;
  bool is_tuple = false;
  // The container is an exact dict or list that is walked itself, or whose size the pairs
  // were taken at: it must keep that size.
  bool size_watched = false;
  bool tracked = false;

  PyObject* walked() const { return entries ? entries.get() : container.get(); }
};

// Past this depth every open container is remembered, so that one that contains itself is
// met again within one turn of its cycle. Shallower values, nearly all, pay nothing for it.
inline constexpr std::size_t kTrackedDepth = 1000;

// The walk; `Format` derives from it and writes the text through these members, where
// `parent` is the innermost open container (the one the value is an entry of), null at the
// top level:
//   write_string(value, parent), write_int(value, parent), write_float(number, parent)
//   write_word(word, parent)         null, true, false, or an empty container's {} or []
//   open_container(frame, parent)    a non-empty container, before its frame is pushed
//   begin_entry(frame), write_key(key)   before a mapping's entry, whose value follows
//   begin_item(frame)                before a sequence's item
//   close_container(frame)           after the last entry, before the frame is popped
//   between_entries()                after each entry, when nothing borrowed is in use: it
//                                    may run code of the caller's
// Each returns false with the Python error set.
template <class Format, class State>
class ValueWalk {
 public:
  using Frame = WalkFrame<State>;

 protected:
  explicit ValueWalk(bool sort_keys) : sort_keys_(sort_keys) {}

  bool walk(PyObject* value) {
    const PyRef root = PyRef::borrow(value);
    if (!write_value(root.get(), nullptr)) return false;
    while (!stack_.empty()) {
      if (!write_next_entry() || !format().between_entries()) return false;
    }
    return true;
  }

  // The open containers.
  std::size_t depth() const { return stack_.size(); }

 private:
  Format& format() { return static_cast<Format&>(*this); }

  // Writes the next entry of the innermost open container, or closes it.
  bool write_next_entry() {
    Frame& frame = stack_.back();
    if (frame.size_watched && !check_size(frame)) return false;
    if (frame.is_map) {
      PyObject *key, *value;
      if (frame.walk == Walk::DictOrder) {
        if (!PyDict_Next(frame.container.get(), &frame.position, &key, &value)) {
          return close_frame();
        }
      } else if (frame.position == frame.size) {
        return close_frame();
      } else if (frame.walk == Walk::SortedKeys) {
        key = PyList_GetItem(frame.entries.get(), frame.position++);
        value = PyDict_GetItemWithError(frame.container.get(), key);
        if (value == nullptr) return PyErr_Occurred() == nullptr && changed_keys();
      } else {
        PyObject* pair = PyList_GetItem(frame.entries.get(), frame.position++);
        key = PyTuple_GetItem(pair, 0);
        value = PyTuple_GetItem(pair, 1);
      }
      // The previous key is let go once this entry is written: letting go of it may run code of
      // the caller's (a __del__), which must not meet the value that is only borrowed.
      const PyRef previous_key = std::exchange(frame.key, PyRef::borrow(key));
      // Writing the value may open a frame, which moves this one.
      return format().begin_entry(frame) && format().write_key(key) && write_value(value, &frame);
    }
    if (++frame.index == frame.size) return close_frame();
    PyObject* item = frame.is_tuple ? PyTuple_GetItem(frame.walked(), frame.index)
                                    : PyList_GetItem(frame.walked(), frame.index);
    if (item == nullptr) return false;
    return format().begin_item(frame) && write_value(item, &frame);
  }

  bool close_frame() {
    if (!format().close_container(stack_.back())) return false;
    if (stack_.back().tracked) open_.erase(stack_.back().container.get());
    // Letting go of the entries may run code of the caller's, after the frame is gone.
    const Frame closed = std::move(stack_.back());
    stack_.pop_back();
    return true;
  }

  // Writes `value`, the top-level value or an entry of `parent`. A non-empty container is
  // opened on the stack, and its entries follow.
  bool write_value(PyObject* value, const Frame* parent) {
    PyTypeObject* type = Py_TYPE(value);
    if (type == &PyUnicode_Type) return format().write_string(value, parent);
    if (type == &PyDict_Type) return open_map(value, parent);
    if (type == &PyList_Type) return open_seq(value, parent);
    if (type == &PyLong_Type) return format().write_int(value, parent);
    if (type == &PyFloat_Type) return write_float(value, parent);
    if (value == Py_None) return format().write_word("null", parent);
    if (value == Py_True) return format().write_word("true", parent);
    if (value == Py_False) return format().write_word("false", parent);
    // Subclasses are written as their base type, as json.dumps writes them.
    if (PyUnicode_Check(value)) return format().write_string(value, parent);
    if (PyDict_Check(value)) return open_map(value, parent);
    if (PyList_Check(value) || PyTuple_Check(value)) return open_seq(value, parent);
    if (PyLong_Check(value)) return format().write_int(value, parent);
    if (PyFloat_Check(value)) return write_float(value, parent);
    return unsupported_type(value, "value", true);
  }

  bool write_float(PyObject* value, const Frame* parent) {
    const double number = PyFloat_AsDouble(value);
    if (number == -1.0 && PyErr_Occurred()) return false;
    return format().write_float(number, parent);
  }

  bool open_map(PyObject* map, const Frame* parent) {
    Frame frame;
    frame.container = PyRef::borrow(map);
    frame.is_map = true;
    if (Py_TYPE(map) == &PyDict_Type) {
      frame.size = PyDict_Size(map);
      if (frame.size == 0) return format().write_word("{}", parent);
      frame.size_watched = true;
      if (!sort_keys_) {
        frame.walk = Walk::DictOrder;
        return open(std::move(frame), parent);
      }
      frame.entries = PyRef::steal(PyDict_Keys(map));
      if (!frame.entries) return false;
      // Plain keys are sorted without code of the caller's, so they are sorted alone, and each
      // value is found when its key comes, as fast as can be; the dict keeps its size and its
      // keys, or the walk ends.
      if (plain_keys(frame.entries.get())) {
        if (PyList_Sort(frame.entries.get()) < 0) return false;
        frame.walk = Walk::SortedKeys;
        return open(std::move(frame), parent);
      }
      frame.entries = PyRef::steal(PyDict_Items(map));
      if (!frame.entries) return false;
    } else {
      // A subclass is written as its own items() gives it, as json.dumps does.
      frame.entries = take_pairs(map);
      if (!frame.entries) return false;
      frame.size = PyList_Size(frame.entries.get());
      if (frame.size == 0) return format().write_word("{}", parent);
    }
    frame.walk = Walk::Pairs;
    // Sorting the pairs orders them by key: keys of one mapping are never equal.
    if (sort_keys_ && PyList_Sort(frame.entries.get()) < 0) return false;
    return open(std::move(frame), parent);
  }

  // Whether every key is a str, int, float, bool or None itself, not of a subclass: keys that
  // compare, hash and test equal without code of the caller's.
  static bool plain_keys(PyObject* keys) {
    const Py_ssize_t size = PyList_Size(keys);
    for (Py_ssize_t i = 0; i < size; ++i) {
      PyObject* key = PyList_GetItem(keys, i);
      PyTypeObject* type = Py_TYPE(key);
      if (type != &PyUnicode_Type && type != &PyLong_Type && type != &PyFloat_Type &&
          key != Py_None && key != Py_True && key != Py_False) {
        return false;
      }
    }
    return true;
  }

  // A new list of the (key, value) pairs that a mapping's items() gives.
  PyRef take_pairs(PyObject* map) {
    PyRef items = PyRef::steal(PyMapping_Items(map));
    if (!items) return items;
    const Py_ssize_t size = PyList_Size(items.get());
    PyRef pairs = PyRef::steal(PyList_New(size));
    if (!pairs) return pairs;
    for (Py_ssize_t i = 0; i < size; ++i) {
      PyObject* pair = PyList_GetItem(items.get(), i);
      if (!PyTuple_Check(pair) || PyTuple_Size(pair) != 2) {
        not_a_pair();
        return PyRef();
      }
      PyList_SetItem(pairs.get(), i, PyRef::borrow(pair).release());
    }
    return pairs;
  }

  bool open_seq(PyObject* seq, const Frame* parent) {
    Frame frame;
    frame.container = PyRef::borrow(seq);
    if (Py_TYPE(seq) == &PyList_Type) {
      frame.size = PyList_Size(seq);
      frame.size_watched = true;
    } else if (PyTuple_Check(seq)) {
      frame.size = PyTuple_Size(seq);
      frame.is_tuple = true;
    } else {
      // A list subclass is written as its own iteration gives it.
      frame.entries = PyRef::steal(PySequence_List(seq));
      if (!frame.entries) return false;
      frame.size = PyList_Size(frame.entries.get());
    }
    if (frame.size == 0) return format().write_word("[]", parent);
    return open(std::move(frame), parent);
  }

  bool open(Frame frame, const Frame* parent) {
    if (stack_.size() >= kTrackedDepth) {
      if (!open_.insert(frame.container.get()).second) return circular(frame.container.get());
      frame.tracked = true;
    }
    // `parent` is in the stack, which the push may move.
    if (!format().open_container(frame, parent)) return false;
    stack_.push_back(std::move(frame));
    return true;
  }

  // ---- Errors: each names the path to the value, as in `services[0].port`.

  // The path through the entries being written in the first `depth` open containers.
  std::string path(std::size_t depth) const {
    std::string text;
    for (std::size_t i = 0; i < depth; ++i) {
      const Frame& frame = stack_[i];
      if (!frame.is_map) {
        text += '[' + std::to_string(frame.index) + ']';
        continue;
      }
      PyObject* key = frame.key.get();
      Py_ssize_t size = 0;
      const char* data = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
      const std::string_view name(data == nullptr ? "" : data, static_cast<std::size_t>(size));
      const bool simple =
          data != nullptr && !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) || c == '_' ||
                   c == '-';
          });
      if (simple) {
        if (!text.empty()) text += '.';
        text += name;
        continue;
      }
      PyErr_Clear();
      PyRef repr = PyRef::steal(PyObject_Repr(key));
      const char* repr_text = repr ? PyUnicode_AsUTF8AndSize(repr.get(), &size) : nullptr;
      if (repr_text == nullptr) {
        PyErr_Clear();
        text += "[?]";
        continue;
      }
      text += '[' + std::string(repr_text, static_cast<std::size_t>(size)) + ']';
    }
    return text;
  }

  std::string where(std::size_t depth) const {
    const std::string at = path(depth);
    return at.empty() ? std::string(" (at the top level)") : " (at " + at + ")";
  }

  // Whether the exact dict or list of `frame` still has the size it was opened with.
  bool check_size(const Frame& frame) {
    PyObject* container = frame.container.get();
    const Py_ssize_t size = frame.is_map ? PyDict_Size(container) : PyList_Size(container);
    return size == frame.size || changed_size(frame);
  }

  CORVANE_COLD bool changed_size(const Frame& frame) {
    const std::string text = where(stack_.size() - 1);
    PyErr_Format(PyExc_RuntimeError, "%s changed size while written%s",
                 frame.is_map ? "dict" : "list", text.c_str());
    return false;
  }

  // A sorted dict that kept its size no longer holds a key it was sorted with.
  CORVANE_COLD bool changed_keys() {
    const std::string text = where(stack_.size() - 1);
    PyErr_Format(PyExc_RuntimeError, "dict changed keys while written%s", text.c_str());
    return false;
  }

  // The mapping's items() gave something else than a pair. The mapping is not open yet: its
  // path is that of the entry it is written at.
  CORVANE_COLD void not_a_pair() {
    const std::string text = where(stack_.size());
    PyErr_Format(PyExc_TypeError, "items() of a mapping must give (key, value) pairs%s",
                 text.c_str());
  }

  CORVANE_COLD bool circular(PyObject* container) {
    // Every container from the first appearance of `container` on is part of the cycle; the
    // path names the outermost of them.
    std::size_t first = 0;
    while (stack_[first].container.get() != container) ++first;
    std::set<PyObject*> cycle;
    for (std::size_t i = first; i < stack_.size(); ++i) cycle.insert(stack_[i].container.get());
    std::size_t depth = 0;
    while (!cycle.contains(stack_[depth].container.get())) ++depth;
    const std::string at = path(depth);
    if (at.empty()) {
      PyErr_SetString(PyExc_ValueError, "circular reference: the top-level value contains itself");
    } else {
      PyErr_Format(PyExc_ValueError, "circular reference: the value at %s contains itself",
                   at.c_str());
    }
    return false;
  }

 protected:
  // ---- The errors of a format's scalars and keys.

  // `entry_included`: the path ends at the value's own entry (a value), or else at its mapping
  // (a key).
  CORVANE_COLD bool unsupported_type(PyObject* object, const char* what, bool entry_included) {
    const PyRef held = PyRef::borrow(object);
    PyRef name = PyRef::steal(
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
    const char* type_name = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
    if (type_name == nullptr) return false;
    const std::string text = where(entry_included ? stack_.size() : stack_.size() - 1);
    if (entry_included) {
      PyErr_Format(PyExc_TypeError, "cannot write a %s of type '%s'%s", what, type_name,
                   text.c_str());
    } else {
      PyErr_Format(PyExc_TypeError,
                   "cannot write a %s of type '%s' (keys must be str, int, float, bool or "
                   "None)%s",
                   what, type_name, text.c_str());
    }
    return false;
  }

  // A str that UTF-8 cannot hold (a lone surrogate): the interpreter's UnicodeEncodeError, with
  // the path of the string after its reason. A key's path ends at its mapping.
  CORVANE_COLD bool unencodable(bool is_key) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef type_held = PyRef::steal(type), value_held = PyRef::steal(value),
          traceback_held = PyRef::steal(traceback);
    const std::string text = where(is_key ? stack_.size() - 1 : stack_.size());
    PyRef parts[5];
    const char* names[5] = {"encoding", "object", "start", "end", "reason"};
    for (int i = 0; i < 5; ++i) {
      parts[i] = PyRef::steal(PyObject_GetAttrString(value, names[i]));
      if (!parts[i]) return false;
    }
    PyRef reason = PyRef::steal(PyUnicode_FromFormat("%U%s", parts[4].get(), text.c_str()));
    if (!reason) return false;
    PyRef error = PyRef::steal(
        PyObject_CallFunctionObjArgs(PyExc_UnicodeEncodeError, parts[0].get(), parts[1].get(),
                                     parts[2].get(), parts[3].get(), reason.get(), nullptr));
    if (error) PyErr_SetObject(PyExc_UnicodeEncodeError, error.get());
    return false;
  }

  CORVANE_COLD bool out_of_range(const char* what) {
    // A key's path ends at its mapping; a value's includes its own entry.
    const bool is_key = std::string_view(what) == "key";
    const std::string text = where(is_key ? stack_.size() - 1 : stack_.size());
    PyErr_Format(PyExc_ValueError,
                 "%s outside the signed 64-bit range, which would read back as a string%s",
                 is_key ? "int key" : "int", text.c_str());
    return false;
  }

  CORVANE_COLD bool no_memory() {
    PyErr_NoMemory();
    return false;
  }

 private:
  bool sort_keys_;
  std::vector<Frame> stack_;
  // The tracked containers. A tree rather than a hash set: libstdc++ 12's bucket array calls a
  // runtime function that manylinux_2_28's C++ library lacks.
  std::set<PyObject*> open_;
};

}  // namespace corvane
