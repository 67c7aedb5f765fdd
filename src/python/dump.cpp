// The walk of `dump` over a Python value, without recursion (an explicit stack of open
// containers), handing every string and number to the writer of src/emit, and the making of
// the final str. The value's own code may run during the walk (comparisons while keys are
// sorted, a subclass's items() or iteration, __repr__ and a metaclass's __name__ while an error
// is described, __del__ of what the writer lets go) and change or free anything in it. So every
// open container and the key being written in each are held by a strong reference, taken
// before such code can run; a scalar value is written before any can, and an unwritable one is
// held before its type's name is asked for. A container that changed size is reported, not
// walked further.
#include "python/dump.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emit/float_text.hpp"
#include "emit/output.hpp"
#include "emit/string_text.hpp"
#include "emit/style.hpp"
#include "python/builder.hpp"
#include "python/entry.hpp"
#include "python/errors.hpp"
#include "text/bytes.hpp"
#include "text/chars.hpp"

namespace corvane {
namespace {

using emit::Output;
using emit::Style;

// The str of UTF-8 `text`. The interpreter decodes ASCII by whole words until the first other
// character, and one character at a time after it; so text that is ASCII but for a few short
// runs is decoded piece by piece and the pieces joined.
PyObject* make_str(std::string_view text) {
  const char* data = text.data();
  const std::size_t size = text.size();
  std::size_t blocks_with_high = 0;
  if constexpr (text::kVectorBlocks) {
    for (std::size_t i = 0; i + 16 <= size; i += 16) {
      blocks_with_high += text::Block::load(data + i).outside(0x00, 0x7F).mask() != 0;
    }
  }
  constexpr std::size_t kBytesPerRun = 2048;
  if (blocks_with_high == 0 || blocks_with_high * kBytesPerRun > size) {
    return PyUnicode_DecodeUTF8(data, static_cast<Py_ssize_t>(size), "strict");
  }
  PyRef pieces = PyRef::steal(PyList_New(0));
  if (!pieces) return nullptr;
  const auto is_high = [&](std::size_t i) { return static_cast<unsigned char>(data[i]) >= 0x80; };
  for (std::size_t start = 0; start < size;) {
    const bool high = is_high(start);
    std::size_t end = start + 1;
    if constexpr (text::kVectorBlocks) {
      if (!high) {
        for (; end + 16 <= size; end += 16) {
          if (const std::uint32_t bits = text::Block::load(data + end).outside(0x00, 0x7F).mask()) {
            end += static_cast<std::size_t>(std::countr_zero(bits));
            break;
          }
        }
      }
    }
    while (end < size && is_high(end) == high) ++end;
    PyRef piece = PyRef::steal(
        PyUnicode_DecodeUTF8(data + start, static_cast<Py_ssize_t>(end - start), "strict"));
    if (!piece || PyList_Append(pieces.get(), piece.get()) < 0) return nullptr;
    start = end;
  }
  PyRef empty = PyRef::steal(PyUnicode_FromStringAndSize("", 0));
  if (!empty) return nullptr;
  return PyUnicode_Join(empty.get(), pieces.get());
}

// Where a value goes: the whole document, after `key:`, or after `-`.
enum class Place : std::uint8_t { Root, AfterKey, AfterDash };

// How the entries of an open mapping are reached.
enum class Walk : std::uint8_t {
  DictOrder,   // an exact dict, in its own order
  SortedKeys,  // its keys taken first and sorted: an exact dict of plain keys, sorted
  Pairs,       // the (key, value) pairs taken first: any other sorted or subclassed mapping
};

// A mapping or sequence being written, with the entry being written now.
struct Frame {
  PyRef container;
  // What is walked when it is not the container itself: the pairs or the sorted keys of a
  // mapping, the items a list subclass's iteration gave. Made by the writer, so seen by no
  // other code.
  PyRef entries;
  PyRef key;            // the current key of a mapping
  Py_ssize_t size = 0;  // entries when opened
  Py_ssize_t position = 0;
  Py_ssize_t index = -1;   // the current item of a sequence
  std::size_t column = 0;  // of the keys or dashes
  Walk walk = Walk::DictOrder;
  bool inline_first = false;  // the first entry goes on the line already begun (`- `)
  bool is_map = false;
  bool is_tuple = false;
  // The container is an exact dict or list that is walked itself, or whose size the pairs
  // were taken at: it must keep that size.
  bool size_watched = false;
  bool tracked = false;

  PyObject* walked() const { return entries ? entries.get() : container.get(); }
};

// The styles of exact str keys by the key's address: the keys of a document repeat, mostly as
// the same objects. Each key is held while its slot remembers it, so that no other object can
// take its address; a slot is simply taken over on a collision. The slots in use are marked,
// so a call that writes few keys releases little.
class KeyStyles {
 public:
  KeyStyles() = default;
  KeyStyles(const KeyStyles&) = delete;
  KeyStyles& operator=(const KeyStyles&) = delete;
  ~KeyStyles() {
    for (std::size_t word = 0; word < used_.size(); ++word) {
      for (std::uint64_t bits = used_[word]; bits != 0; bits &= bits - 1) {
        Py_DECREF(slots_[word * 64 + static_cast<std::size_t>(std::countr_zero(bits))].key);
      }
    }
  }

  Style find(PyObject* key, std::string_view text) {
    const std::size_t index = (reinterpret_cast<std::uintptr_t>(key) >> 4) % kSlots;
    Slot& slot = slots_[index];
    if (slot.key == key) return slot.style;
    if (slot.key != nullptr) Py_DECREF(slot.key);
    used_[index / 64] |= std::uint64_t{1} << (index % 64);
    Py_INCREF(key);
    slot.key = key;
    slot.style = emit::choose_style(text, false);
    return slot.style;
  }

 private:
  struct Slot {
    PyObject* key = nullptr;  // owned
    Style style = Style::Plain;
  };
  static constexpr std::size_t kSlots = 256;
  std::array<Slot, kSlots> slots_{};
  std::array<std::uint64_t, kSlots / 64> used_{};  // the slots that hold a key
};

// Past this depth every open container is remembered, so that one that contains itself is
// met again within one turn of its cycle. Shallower values, nearly all, pay nothing for it.
constexpr std::size_t kTrackedDepth = 1000;

class Writer {
 public:
  Writer(std::size_t indent, bool sort_keys) : indent_(indent), sort_keys_(sort_keys) {}

  PyObject* run(PyObject* value) {
    if (!output_.ok()) return PyErr_NoMemory();
    const PyRef root = PyRef::borrow(value);
    if (!write_value(root.get(), Place::Root, 0)) return nullptr;
    while (!stack_.empty()) {
      if (!write_next_entry()) return nullptr;
    }
    return make_str(output_.text());
  }

 private:
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
      const std::size_t column = frame.column;
      if (frame.inline_first) {
        frame.inline_first = false;
      } else if (!output_.spaces(column)) {
        return no_memory();
      }
      // Writing the value may open a frame, which moves this one.
      return write_key(key) && write_value(value, Place::AfterKey, column);
    }
    if (++frame.index == frame.size) return close_frame();
    PyObject* item = frame.is_tuple ? PyTuple_GetItem(frame.walked(), frame.index)
                                    : PyList_GetItem(frame.walked(), frame.index);
    if (item == nullptr) return false;
    const std::size_t column = frame.column;
    if (frame.inline_first) {
      frame.inline_first = false;
    } else if (!output_.spaces(column)) {
      return no_memory();
    }
    return (output_.append('-') || no_memory()) && write_value(item, Place::AfterDash, column);
  }

  bool close_frame() {
    if (stack_.back().tracked) open_.erase(stack_.back().container.get());
    // Letting go of the entries may run code of the caller's, after the frame is gone.
    const Frame closed = std::move(stack_.back());
    stack_.pop_back();
    return true;
  }

  // Writes `value` at `place`; `column` is that of the key or dash before it (0 at the root).
  // A non-empty container is opened on the stack, and its entries follow.
  bool write_value(PyObject* value, Place place, std::size_t column) {
    PyTypeObject* type = Py_TYPE(value);
    if (type == &PyUnicode_Type) return write_string_value(value, place, column);
    if (type == &PyDict_Type) return open_map(value, place, column);
    if (type == &PyList_Type) return open_seq(value, place, column);
    if (type == &PyLong_Type) return write_scalar_int(value, place);
    if (type == &PyFloat_Type) return write_scalar_float(PyFloat_AsDouble(value), place);
    if (value == Py_None) return write_word("null", place);
    if (value == Py_True) return write_word("true", place);
    if (value == Py_False) return write_word("false", place);
    // Subclasses are written as their base type, as json.dumps writes them.
    if (PyUnicode_Check(value)) return write_string_value(value, place, column);
    if (PyDict_Check(value)) return open_map(value, place, column);
    if (PyList_Check(value) || PyTuple_Check(value)) return open_seq(value, place, column);
    if (PyLong_Check(value)) return write_scalar_int(value, place);
    if (PyFloat_Check(value)) return write_scalar_float(PyFloat_AsDouble(value), place);
    return unsupported_type(value, "value", true);
  }

  bool write_word(std::string_view word, Place place) {
    char* at = output_.reserve(word.size() + 2);
    if (at == nullptr) return no_memory();
    std::size_t n = 0;
    if (place != Place::Root) at[n++] = ' ';
    std::memcpy(at + n, word.data(), word.size());
    n += word.size();
    at[n++] = '\n';
    output_.commit(n);
    return true;
  }

  bool write_scalar_int(PyObject* value, Place place) {
    char* at = output_.reserve(24);
    if (at == nullptr) return no_memory();
    std::size_t n = 0;
    if (place != Place::Root) at[n++] = ' ';
    if (!write_int(value, at + n, n, "int")) return false;
    at[n++] = '\n';
    output_.commit(n);
    return true;
  }

  bool write_scalar_float(double value, Place place) {
    if (value == -1.0 && PyErr_Occurred()) return false;
    char* at = output_.reserve(emit::kMaxFloatText + 2);
    if (at == nullptr) return no_memory();
    std::size_t n = 0;
    if (place != Place::Root) at[n++] = ' ';
    n += emit::write_float(value, at + n);
    at[n++] = '\n';
    output_.commit(n);
    return true;
  }

  // Decimal digits of an int in the signed 64-bit range at `out`, adding their count to `n`.
  bool write_int(PyObject* value, char* out, std::size_t& n, const char* what) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow != 0) return out_of_range(what);
    if (number == -1 && PyErr_Occurred()) return false;
    n += static_cast<std::size_t>(std::to_chars(out, out + 20, number).ptr - out);
    return true;
  }

  bool write_string_value(PyObject* value, Place place, std::size_t column) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value, &size);
    if (data == nullptr) return unencodable(false);
    const std::string_view text(data, static_cast<std::size_t>(size));
    if (place != Place::Root && !output_.append(' ')) return no_memory();
    const Style style = emit::choose_style(text, true);
    if (style == Style::Literal) {
      return emit::write_literal(output_, text, column, indent_) || no_memory();
    }
    return (emit::write_styled(output_, text, style) && output_.append('\n')) || no_memory();
  }

  bool write_key(PyObject* key) {
    PyTypeObject* type = Py_TYPE(key);
    if (type == &PyUnicode_Type || (type != &PyLong_Type && PyUnicode_Check(key))) {
      Py_ssize_t size = 0;
      const char* data = PyUnicode_AsUTF8AndSize(key, &size);
      if (data == nullptr) return unencodable(true);
      const std::string_view text(data, static_cast<std::size_t>(size));
      return (emit::write_styled(output_, text, key_style(key, text)) && output_.append(':')) ||
             no_memory();
    }
    char* at = output_.reserve(emit::kMaxFloatText + 1);
    if (at == nullptr) return no_memory();
    std::size_t n = 0;
    if (key == Py_None) {
      std::memcpy(at, "null", 4);
      n = 4;
    } else if (key == Py_True) {
      std::memcpy(at, "true", 4);
      n = 4;
    } else if (key == Py_False) {
      std::memcpy(at, "false", 5);
      n = 5;
    } else if (PyLong_Check(key)) {
      if (!write_int(key, at, n, "key")) return false;
    } else if (PyFloat_Check(key)) {
      const double number = PyFloat_AsDouble(key);
      if (number == -1.0 && PyErr_Occurred()) return false;
      n = emit::write_float(number, at);
    } else {
      return unsupported_type(key, "key", false);
    }
    at[n++] = ':';
    output_.commit(n);
    return true;
  }

  Style key_style(PyObject* key, std::string_view text) {
    if (Py_TYPE(key) != &PyUnicode_Type) return emit::choose_style(text, false);
    return key_styles_.find(key, text);
  }

  bool open_map(PyObject* map, Place place, std::size_t column) {
    Frame frame;
    frame.container = PyRef::borrow(map);
    frame.is_map = true;
    if (Py_TYPE(map) == &PyDict_Type) {
      frame.size = PyDict_Size(map);
      if (frame.size == 0) return write_word("{}", place);
      frame.size_watched = true;
      if (!sort_keys_) {
        frame.walk = Walk::DictOrder;
        return open(std::move(frame), place, column);
      }
      frame.entries = PyRef::steal(PyDict_Keys(map));
      if (!frame.entries) return false;
      // Plain keys are sorted without code of the caller's, so they are sorted alone, and each
      // value is found when its key comes, as fast as can be; the dict keeps its size and its
      // keys, or the walk ends.
      if (plain_keys(frame.entries.get())) {
        if (PyList_Sort(frame.entries.get()) < 0) return false;
        frame.walk = Walk::SortedKeys;
        return open(std::move(frame), place, column);
      }
      frame.entries = PyRef::steal(PyDict_Items(map));
      if (!frame.entries) return false;
    } else {
      // A subclass is written as its own items() gives it, as json.dumps does.
      frame.entries = take_pairs(map);
      if (!frame.entries) return false;
      frame.size = PyList_Size(frame.entries.get());
      if (frame.size == 0) return write_word("{}", place);
    }
    frame.walk = Walk::Pairs;
    // Sorting the pairs orders them by key: keys of one mapping are never equal.
    if (sort_keys_ && PyList_Sort(frame.entries.get()) < 0) return false;
    return open(std::move(frame), place, column);
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

  bool open_seq(PyObject* seq, Place place, std::size_t column) {
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
    if (frame.size == 0) return write_word("[]", place);
    return open(std::move(frame), place, column);
  }

  bool open(Frame frame, Place place, std::size_t column) {
    if (stack_.size() >= kTrackedDepth) {
      if (!open_.insert(frame.container.get()).second) return circular(frame.container.get());
      frame.tracked = true;
    }
    switch (place) {
      case Place::Root: frame.column = 0; break;
      case Place::AfterKey:
        if (!output_.append('\n')) return no_memory();
        frame.column = column + indent_;
        break;
      case Place::AfterDash:
        // `- key: value` and `- - item`: the entries line up two columns after the dash.
        if (!output_.append(' ')) return no_memory();
        frame.column = column + 2;
        frame.inline_first = true;
        break;
    }
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

  // The mapping's items() gave something else than a pair. The mapping is not open yet: its
  // path is that of the entry it is written at.
  CORVANE_COLD void not_a_pair() {
    const std::string text = where(stack_.size());
    PyErr_Format(PyExc_TypeError, "items() of a mapping must give (key, value) pairs%s",
                 text.c_str());
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

  CORVANE_COLD bool no_memory() {
    PyErr_NoMemory();
    return false;
  }

  std::size_t indent_;
  bool sort_keys_;
  KeyStyles key_styles_;
  Output output_;
  std::vector<Frame> stack_;
  // The tracked containers. A tree rather than a hash set: libstdc++ 12's bucket array calls a
  // runtime function that manylinux_2_28's C++ library lacks.
  std::set<PyObject*> open_;
};

// The indentation: one of the ints 2, 4, 6 and 8 (the loader accepts only even indentation,
// and an indentation indicator is one digit); nothing when it is not (the error is then set).
std::optional<std::size_t> read_indent(PyObject* object) {
  if (object == nullptr) return 2;
  const PyRef number = PyRef::steal(PyNumber_Index(object));
  if (!number) return std::nullopt;
  int overflow = 0;
  const long indent = PyLong_AsLongAndOverflow(number.get(), &overflow);
  if (indent == -1 && PyErr_Occurred()) return std::nullopt;
  if (overflow == 0 && (indent == 2 || indent == 4 || indent == 6 || indent == 8)) {
    return static_cast<std::size_t>(indent);
  }
  PyErr_Format(PyExc_ValueError, "indent must be 2, 4, 6 or 8, not %S", number.get());
  return std::nullopt;
}

}  // namespace

PyObject* dump_function(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"value", "indent", "sort_keys", nullptr};
  PyObject* value = nullptr;
  PyObject* indent_argument = nullptr;
  PyObject* sort_keys_argument = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$OO:dump", const_cast<char**>(keywords), &value,
                                   &indent_argument, &sort_keys_argument)) {
    return nullptr;
  }
  const std::optional<std::size_t> indent = read_indent(indent_argument);
  if (!indent) return nullptr;
  const std::optional<bool> sort_keys = read_flag(sort_keys_argument, "dump", "sort_keys");
  if (!sort_keys) return nullptr;
  prepare_thread_exceptions();
  try {
    Writer writer(*indent, *sort_keys);
    return writer.run(value);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

}  // namespace corvane
