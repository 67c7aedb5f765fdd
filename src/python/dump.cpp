// `dump`'s YAML over the walk of python/value_walk.hpp: where each scalar, key and dash goes in
// block style, handing every string and number to the writer of src/emit, and the making of the
// final str.
#include "python/dump.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>

#include "emit/float_text.hpp"
#include "emit/output.hpp"
#include "emit/string_text.hpp"
#include "emit/style.hpp"
#include "python/builder.hpp"
#include "python/entry.hpp"
#include "python/errors.hpp"
#include "python/value_walk.hpp"
#include "text/bytes.hpp"

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

// What the writer keeps of an open container.
struct BlockState {
  std::size_t column = 0;     // of the keys or dashes
  bool inline_first = false;  // the first entry goes on the line already begun (`- `)
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

// Where a value goes: the whole document, after `key:`, or after `-`.
enum class Place : std::uint8_t { Root, AfterKey, AfterDash };

class Writer : public ValueWalk<Writer, BlockState> {
 public:
  Writer(std::size_t indent, bool sort_keys) : ValueWalk(sort_keys), indent_(indent) {}

  PyObject* run(PyObject* value) {
    if (!output_.ok()) return PyErr_NoMemory();
    if (!walk(value)) return nullptr;
    return make_str(output_.text());
  }

 private:
  friend class ValueWalk<Writer, BlockState>;

  static Place place(const Frame* parent) {
    if (parent == nullptr) return Place::Root;
    return parent->is_map ? Place::AfterKey : Place::AfterDash;
  }
  // The column of the key or dash before a value (0 at the top level).
  static std::size_t column(const Frame* parent) {
    return parent == nullptr ? 0 : parent->state.column;
  }

  bool begin_entry(Frame& frame) {
    if (frame.state.inline_first) {
      frame.state.inline_first = false;
      return true;
    }
    return output_.spaces(frame.state.column) || no_memory();
  }

  bool begin_item(Frame& frame) {
    return begin_entry(frame) && (output_.append('-') || no_memory());
  }

  static bool close_container(const Frame&) { return true; }
  static bool between_entries() { return true; }

  bool write_word(std::string_view word, const Frame* parent) {
    char* at = output_.reserve(word.size() + 2);
    if (at == nullptr) return no_memory();
    std::size_t n = 0;
    if (parent != nullptr) at[n++] = ' ';
    std::memcpy(at + n, word.data(), word.size());
    n += word.size();
    at[n++] = '\n';
    output_.commit(n);
    return true;
  }

  bool write_int(PyObject* value, const Frame* parent) {
    char* at = output_.reserve(24);
    if (at == nullptr) return no_memory();
    std::size_t n = 0;
    if (parent != nullptr) at[n++] = ' ';
    if (!write_digits(value, at + n, n, "int")) return false;
    at[n++] = '\n';
    output_.commit(n);
    return true;
  }

  bool write_float(double value, const Frame* parent) {
    char* at = output_.reserve(emit::kMaxFloatText + 2);
    if (at == nullptr) return no_memory();
    std::size_t n = 0;
    if (parent != nullptr) at[n++] = ' ';
    n += emit::write_float(value, at + n);
    at[n++] = '\n';
    output_.commit(n);
    return true;
  }

  // Decimal digits of an int in the signed 64-bit range at `out`, adding their count to `n`.
  bool write_digits(PyObject* value, char* out, std::size_t& n, const char* what) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow != 0) return out_of_range(what);
    if (number == -1 && PyErr_Occurred()) return false;
    n += static_cast<std::size_t>(std::to_chars(out, out + 20, number).ptr - out);
    return true;
  }

  bool write_string(PyObject* value, const Frame* parent) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value, &size);
    if (data == nullptr) return unencodable(false);
    const std::string_view text(data, static_cast<std::size_t>(size));
    if (parent != nullptr && !output_.append(' ')) return no_memory();
    const Style style = emit::choose_style(text, true);
    if (style == Style::Literal) {
      return emit::write_literal(output_, text, column(parent), indent_) || no_memory();
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
      if (!write_digits(key, at, n, "key")) return false;
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

  // A non-empty container: block style begins on the next line after a key, and on the dash's
  // line after a dash.
  bool open_container(Frame& frame, const Frame* parent) {
    switch (place(parent)) {
      case Place::Root: frame.state.column = 0; break;
      case Place::AfterKey:
        if (!output_.append('\n')) return no_memory();
        frame.state.column = column(parent) + indent_;
        break;
      case Place::AfterDash:
        // `- key: value` and `- - item`: the entries line up two columns after the dash.
        if (!output_.append(' ')) return no_memory();
        frame.state.column = column(parent) + 2;
        frame.state.inline_first = true;
        break;
    }
    return true;
  }

  std::size_t indent_;
  KeyStyles key_styles_;
  Output output_;
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
