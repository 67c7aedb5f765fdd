// The walk of `dump` over a Python value, without recursion (an explicit stack of open
// containers), handing every string and number to the writer of src/emit, and the making of
// the final str.
#include "python/dump.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emit/float_text.hpp"
#include "emit/output.hpp"
#include "emit/string_text.hpp"
#include "emit/style.hpp"
#include "python/entry.hpp"
#include "python/python.hpp"
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

// A mapping or sequence being written, with the entry being written now.
struct Frame {
  PyRef container;
  PyRef sorted_keys;  // the keys in order, when keys are sorted
  Py_ssize_t position = 0;
  Py_ssize_t size = 0;
  Py_ssize_t index = -1;      // the current item of a sequence
  PyObject* key = nullptr;    // the current key of a mapping (borrowed from it)
  std::size_t column = 0;     // of the keys or dashes
  bool inline_first = false;  // the first entry goes on the line already begun (`- `)
  bool is_map = false;
  bool is_tuple = false;
  bool tracked = false;
};

// Past this depth every open container is remembered, so that one that contains itself is
// met again within one turn of its cycle. Shallower values, nearly all, pay nothing for it.
constexpr std::size_t kTrackedDepth = 1000;

class Writer {
 public:
  Writer(std::size_t indent, bool sort_keys) : indent_(indent), sort_keys_(sort_keys) {}

  PyObject* run(PyObject* value) {
    if (!output_.ok()) return PyErr_NoMemory();
    if (!write_value(value, Place::Root, 0)) return nullptr;
    while (!stack_.empty()) {
      if (!write_next_entry()) return nullptr;
    }
    return make_str(output_.text());
  }

 private:
  // Writes the next entry of the innermost open container, or closes it.
  bool write_next_entry() {
    Frame& frame = stack_.back();
    if (frame.is_map) {
      PyObject *key, *value;
      if (frame.sorted_keys) {
        if (frame.position == frame.size) return close_frame();
        key = PyList_GetItem(frame.sorted_keys.get(), frame.position++);
        value = PyDict_GetItemWithError(frame.container.get(), key);
        if (value == nullptr) {
          if (!PyErr_Occurred())
            PyErr_SetString(PyExc_RuntimeError, "mapping changed while written");
          return false;
        }
      } else if (!PyDict_Next(frame.container.get(), &frame.position, &key, &value)) {
        return close_frame();
      }
      frame.key = key;
      const std::size_t column = frame.column;
      if (frame.inline_first) {
        frame.inline_first = false;
      } else if (!output_.spaces(column)) {
        return no_memory();
      }
      return write_key(key) && write_value(value, Place::AfterKey, column);
    }
    if (++frame.index == frame.size) return close_frame();
    PyObject* item = frame.is_tuple ? PyTuple_GetItem(frame.container.get(), frame.index)
                                    : PyList_GetItem(frame.container.get(), frame.index);
    if (item == nullptr) return false;
    const std::size_t column = frame.column;
    if (frame.inline_first) {
      frame.inline_first = false;
    } else if (!output_.spaces(column)) {
      return no_memory();
    }
    return output_.append('-') && write_value(item, Place::AfterDash, column);
  }

  bool close_frame() {
    if (stack_.back().tracked) open_.erase(stack_.back().container.get());
    stack_.pop_back();
    return true;
  }

  // Writes `value` at `place`; `column` is that of the key or dash before it (0 at the root).
  // A non-empty container is opened on the stack, and its entries follow.
  bool write_value(PyObject* value, Place place, std::size_t column) {
    PyTypeObject* type = Py_TYPE(value);
    if (type == &PyUnicode_Type) return write_string_value(value, place, column);
    if (type == &PyDict_Type) return open_map(value, place, column);
    if (type == &PyList_Type) return open_seq(value, place, column, false);
    if (type == &PyLong_Type) return write_scalar_int(value, place);
    if (type == &PyFloat_Type) return write_scalar_float(PyFloat_AsDouble(value), place);
    if (value == Py_None) return write_word("null", place);
    if (value == Py_True) return write_word("true", place);
    if (value == Py_False) return write_word("false", place);
    // Subclasses are written as their base type, as json.dumps writes them.
    if (PyUnicode_Check(value)) return write_string_value(value, place, column);
    if (PyDict_Check(value)) return open_map(value, place, column);
    if (PyList_Check(value)) return open_seq(value, place, column, false);
    if (PyTuple_Check(value)) return open_seq(value, place, column, true);
    if (PyLong_Check(value)) return write_scalar_int(value, place);
    if (PyFloat_Check(value)) return write_scalar_float(PyFloat_AsDouble(value), place);
    return unsupported_type(value, "value", true);
  }

  bool begin_scalar(Place place) { return place == Place::Root || output_.append(' '); }

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
    if (data == nullptr) return false;
    const std::string_view text(data, static_cast<std::size_t>(size));
    if (!begin_scalar(place)) return no_memory();
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
      if (data == nullptr) return false;
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

  // The keys of a document repeat, mostly as the same objects, so the style of an exact str
  // key is remembered by its address. That holds while no code of the caller's runs, which
  // sorting keys may do.
  Style key_style(PyObject* key, std::string_view text) {
    if (sort_keys_ || Py_TYPE(key) != &PyUnicode_Type) return emit::choose_style(text, false);
    KeyStyle& slot = key_styles_[(reinterpret_cast<std::uintptr_t>(key) >> 4) % kKeyStyles];
    if (slot.key != key) {
      slot.key = key;
      slot.style = emit::choose_style(text, false);
    }
    return slot.style;
  }

  bool open_map(PyObject* map, Place place, std::size_t column) {
    const Py_ssize_t size = PyDict_Size(map);
    if (size < 0) return false;
    if (size == 0) return write_word("{}", place);
    Frame frame;
    frame.is_map = true;
    frame.size = size;
    if (sort_keys_) {
      frame.sorted_keys = PyRef::steal(PyDict_Keys(map));
      if (!frame.sorted_keys || PyList_Sort(frame.sorted_keys.get()) < 0) return false;
    }
    return open(map, std::move(frame), place, column);
  }

  bool open_seq(PyObject* seq, Place place, std::size_t column, bool is_tuple) {
    const Py_ssize_t size = is_tuple ? PyTuple_Size(seq) : PyList_Size(seq);
    if (size < 0) return false;
    if (size == 0) return write_word("[]", place);
    Frame frame;
    frame.is_tuple = is_tuple;
    frame.size = size;
    return open(seq, std::move(frame), place, column);
  }

  bool open(PyObject* container, Frame frame, Place place, std::size_t column) {
    if (stack_.size() >= kTrackedDepth) {
      if (!open_.insert(container).second) return circular(container);
      frame.tracked = true;
    }
    frame.container = PyRef::borrow(container);
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
      Py_ssize_t size = 0;
      const char* data =
          PyUnicode_Check(frame.key) ? PyUnicode_AsUTF8AndSize(frame.key, &size) : nullptr;
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
      PyRef repr = PyRef::steal(PyObject_Repr(frame.key));
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

  CORVANE_COLD bool unsupported_type(PyObject* object, const char* what, bool entry_included) {
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

  struct KeyStyle {
    PyObject* key = nullptr;
    Style style = Style::Plain;
  };
  static constexpr std::size_t kKeyStyles = 256;

  std::size_t indent_;
  bool sort_keys_;
  std::array<KeyStyle, kKeyStyles> key_styles_{};
  Output output_;
  std::vector<Frame> stack_;
  // The tracked containers. A tree rather than a hash set: libstdc++ 12's bucket array calls a
  // runtime function that manylinux_2_28's C++ library lacks.
  std::set<PyObject*> open_;
};

}  // namespace

PyObject* dump_function(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"value", "indent", "sort_keys", nullptr};
  PyObject* value = nullptr;
  int indent = 2;
  int sort_keys = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|$ip:dump", const_cast<char**>(keywords), &value,
                                   &indent, &sort_keys)) {
    return nullptr;
  }
  // The loader accepts only even indentation, and an indentation indicator is one digit.
  if (indent != 2 && indent != 4 && indent != 6 && indent != 8) {
    PyErr_Format(PyExc_ValueError, "indent must be 2, 4, 6 or 8, not %d", indent);
    return nullptr;
  }
  prepare_thread_exceptions();
  try {
    Writer writer(static_cast<std::size_t>(indent), sort_keys != 0);
    return writer.run(value);
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
}

}  // namespace corvane
