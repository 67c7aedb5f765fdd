// The command's JSON over the walk of python/value_walk.hpp: a first walk that refuses whatever
// cannot be written, two keys of a mapping that would become the same string first of all, so
// that a refused value leaves no partial output; then the text, as json.dumps(ensure_ascii=False)
// lays it out, handed to the caller's `write` in blocks of about 64 KiB as it is produced.
#include "python/json_write.hpp"

#include <charconv>
#include <cstddef>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/allocator.hpp"
#include "emit/json_text.hpp"
#include "emit/output.hpp"
#include "python/entry.hpp"
#include "python/value_walk.hpp"

namespace corvane {
namespace {

// The text is handed on in blocks of about this many bytes: few calls, bounded memory.
constexpr std::size_t kBlockSize = std::size_t{1} << 16;

PyObject* key_clash_class = nullptr;

// The decimal digits of an int: at `buffer`, or in the str that `long_digits` is given for one
// outside the signed 64-bit range. Nothing, with the error set, when the interpreter failed.
std::optional<std::string_view> int_digits(PyObject* value, char (&buffer)[20],
                                           PyRef& long_digits) {
  int overflow = 0;
  const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (overflow == 0) {
    if (number == -1 && PyErr_Occurred()) return std::nullopt;
    const char* end = std::to_chars(buffer, buffer + sizeof buffer, number).ptr;
    return std::string_view(buffer, static_cast<std::size_t>(end - buffer));
  }
  long_digits = PyRef::steal(PyNumber_ToBase(value, 10));
  if (!long_digits) return std::nullopt;
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(long_digits.get(), &size);
  if (data == nullptr) return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

// The text that a key other than a str becomes, as json.dumps makes it: the repr of an int or
// a float (a NaN or an infinity by its name), `null`, `true` or `false`.
class ScalarKeyText {
 public:
  enum class Result { Text, OtherType, Failed };

  // Failed: the interpreter failed, and its error is set.
  Result read(PyObject* key) {
    if (key == Py_None) return set("null");
    if (key == Py_True) return set("true");
    if (key == Py_False) return set("false");
    if (PyLong_Check(key)) {
      const std::optional<std::string_view> digits = int_digits(key, digits_, long_digits_);
      if (!digits) return Result::Failed;
      text_ = *digits;
      return Result::Text;
    }
    if (PyFloat_Check(key)) {
      const double number = PyFloat_AsDouble(key);
      if (number == -1.0 && PyErr_Occurred()) return Result::Failed;
      text_ = std::string_view(float_, emit::write_float_name(number, float_));
      return Result::Text;
    }
    return Result::OtherType;
  }

  std::string_view text() const { return text_; }

 private:
  Result set(std::string_view word) {
    text_ = word;
    return Result::Text;
  }

  char digits_[20];
  char float_[emit::kMaxJsonFloat];
  PyRef long_digits_;
  std::string_view text_;
};

// The text of any key: a str's own, or ScalarKeyText's; nothing, with no error set, for a key
// that cannot be written (its entry reports it), or with the error set when the interpreter
// failed.
std::optional<std::string> key_text(PyObject* key) {
  if (PyUnicode_Check(key)) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(key, &size);
    if (data == nullptr) {
      PyErr_Clear();
      return std::nullopt;
    }
    return std::string(data, static_cast<std::size_t>(size));
  }
  ScalarKeyText text;
  if (text.read(key) != ScalarKeyText::Result::Text) return std::nullopt;
  return std::string(text.text());
}

// The first walk keeps nothing of a container.
struct NoState {};

// The first walk: it writes nothing, and refuses what the writer would refuse, keys that
// become one string, types JSON has no text for and strings UTF-8 cannot hold, with the errors
// the writer's walk would give.
class JsonCheck : public ValueWalk<JsonCheck, NoState> {
 public:
  JsonCheck() : ValueWalk(false) {}

  bool run(PyObject* value) { return walk(value); }

 private:
  friend class ValueWalk<JsonCheck, NoState>;

  bool write_string(PyObject* value, const Frame*) {
    return PyUnicode_AsUTF8AndSize(value, nullptr) != nullptr || unencodable(false);
  }
  static bool write_int(PyObject*, const Frame*) { return true; }
  static bool write_float(double, const Frame*) { return true; }
  static bool write_word(std::string_view, const Frame*) { return true; }
  static bool begin_entry(Frame&) { return true; }
  static bool begin_item(Frame&) { return true; }
  static bool close_container(const Frame&) { return true; }
  static bool between_entries() { return true; }

  bool write_key(PyObject* key) {
    if (PyUnicode_Check(key)) {
      return PyUnicode_AsUTF8AndSize(key, nullptr) != nullptr || unencodable(true);
    }
    ScalarKeyText text;
    switch (text.read(key)) {
      case ScalarKeyText::Result::Text: return true;
      case ScalarKeyText::Result::OtherType: return unsupported_type(key, "key", false);
      case ScalarKeyText::Result::Failed: return false;
    }
    return false;
  }

  bool open_container(const Frame& frame, const Frame*) {
    return !frame.is_map || check_keys(frame);
  }

  // Whether no two keys of the mapping become the same string. Keys that are all str are
  // different strings already.
  bool check_keys(const Frame& frame) {
    keys_.clear();
    bool all_str = true;
    if (frame.walk == Walk::DictOrder) {
      Py_ssize_t position = 0;
      PyObject *key, *value;
      while (PyDict_Next(frame.container.get(), &position, &key, &value)) {
        all_str = all_str && Py_TYPE(key) == &PyUnicode_Type;
        keys_.push_back(key);
      }
    } else {
      const Py_ssize_t size = PyList_Size(frame.entries.get());
      for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* entry = PyList_GetItem(frame.entries.get(), i);
        PyObject* key = frame.walk == Walk::Pairs ? PyTuple_GetItem(entry, 0) : entry;
        all_str = all_str && Py_TYPE(key) == &PyUnicode_Type;
        keys_.push_back(key);
      }
    }
    if (all_str) return true;
    // Nothing below runs code of the caller's, so the borrowed keys stay.
    std::map<std::string, std::size_t> first_with_text;
    for (std::size_t i = 0; i < keys_.size(); ++i) {
      std::optional<std::string> text = key_text(keys_[i]);
      if (!text) {
        if (PyErr_Occurred()) return false;
        continue;
      }
      const auto [found, added] = first_with_text.try_emplace(std::move(*text), i);
      if (!added) return key_clash(keys_[found->second], keys_[i], found->first);
    }
    return true;
  }

  CORVANE_COLD bool key_clash(PyObject* first, PyObject* second, std::string_view text) {
    const PyRef first_held = PyRef::borrow(first), second_held = PyRef::borrow(second);
    emit::Output quoted;
    if (!quoted.ok() || !emit::write_json_string(quoted, text) || !quoted.append('\0')) {
      return no_memory();
    }
    PyRef message = PyRef::steal(
        PyUnicode_FromFormat("cannot write as JSON: the keys %R and %R both become %s",
                             first_held.get(), second_held.get(), quoted.text().data()));
    if (message) PyErr_SetObject(key_clash_class, message.get());
    return false;
  }

  // The keys of the mapping being checked, borrowed.
  std::vector<PyObject*, PlainAllocator<PyObject*>> keys_;
};

// What the writer keeps of an open container.
struct JsonState {
  bool has_entries = false;
};

class JsonWriter : public ValueWalk<JsonWriter, JsonState> {
 public:
  // `indent` 0 writes everything on one line, as json.dumps(indent=None) does.
  JsonWriter(PyObject* write, std::size_t indent)
      : ValueWalk(false), write_(write), indent_(indent) {}

  bool run(PyObject* value) {
    if (!output_.ok()) return no_memory();
    return walk(value) && hand_on();
  }

 private:
  friend class ValueWalk<JsonWriter, JsonState>;

  // Hands the text written so far to `write`, as bytes.
  bool hand_on() {
    if (output_.size() == 0) return true;
    const std::string_view text = output_.text();
    PyRef block =
        PyRef::steal(PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!block) return false;
    output_.clear();
    return static_cast<bool>(
        PyRef::steal(PyObject_CallFunctionObjArgs(write_, block.get(), nullptr)));
  }

  bool between_entries() { return output_.size() < kBlockSize || hand_on(); }

  bool write_word(std::string_view word, const Frame*) {
    return output_.append(word) || no_memory();
  }

  bool write_int(PyObject* value, const Frame*) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow != 0) return write_long_int(value);
    if (number == -1 && PyErr_Occurred()) return false;
    char* at = output_.reserve(20);
    if (at == nullptr) return no_memory();
    output_.commit(static_cast<std::size_t>(std::to_chars(at, at + 20, number).ptr - at));
    return true;
  }

  // An int outside the signed 64-bit range, which load never gives.
  CORVANE_COLD bool write_long_int(PyObject* value) {
    char buffer[20];
    PyRef long_digits;
    const std::optional<std::string_view> digits = int_digits(value, buffer, long_digits);
    return digits && (output_.append(*digits) || no_memory());
  }

  bool write_float(double value, const Frame*) {
    char* at = output_.reserve(emit::kMaxJsonFloat);
    if (at == nullptr) return no_memory();
    output_.commit(emit::write_json_float(value, at));
    return true;
  }

  bool write_string(PyObject* value, const Frame*) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value, &size);
    if (data == nullptr) return unencodable(false);
    return emit::write_json_string(output_,
                                   std::string_view(data, static_cast<std::size_t>(size))) ||
           no_memory();
  }

  bool write_key(PyObject* key) {
    if (Py_TYPE(key) == &PyUnicode_Type || PyUnicode_Check(key)) {
      Py_ssize_t size = 0;
      const char* data = PyUnicode_AsUTF8AndSize(key, &size);
      if (data == nullptr) return unencodable(true);
      const std::string_view text(data, static_cast<std::size_t>(size));
      return (emit::write_json_string(output_, text) && output_.append(": ")) || no_memory();
    }
    ScalarKeyText text;
    switch (text.read(key)) {
      case ScalarKeyText::Result::Text: break;
      case ScalarKeyText::Result::OtherType: return unsupported_type(key, "key", false);
      case ScalarKeyText::Result::Failed: return false;
    }
    // The text of a key other than a str needs no escapes.
    const std::string_view name = text.text();
    char* at = output_.reserve(name.size() + 4);
    if (at == nullptr) return no_memory();
    at[0] = '"';
    std::memcpy(at + 1, name.data(), name.size());
    std::memcpy(at + 1 + name.size(), "\": ", 3);
    output_.commit(name.size() + 4);
    return true;
  }

  bool open_container(const Frame& frame, const Frame*) {
    return output_.append(frame.is_map ? '{' : '[') || no_memory();
  }

  // `, ` between the entries of a line; with an indentation, `,` and each entry on a line of
  // its own, indented by its depth.
  bool begin_entry(Frame& frame) {
    const std::size_t spaces = indent_ * depth();
    char* at = output_.reserve(spaces + 3);
    if (at == nullptr) return no_memory();
    std::size_t n = 0;
    if (frame.state.has_entries) {
      at[n++] = ',';
      if (indent_ == 0) at[n++] = ' ';
    }
    frame.state.has_entries = true;
    if (indent_ != 0) {
      at[n++] = '\n';
      std::memset(at + n, ' ', spaces);
      n += spaces;
    }
    output_.commit(n);
    return true;
  }
  bool begin_item(Frame& frame) { return begin_entry(frame); }

  bool close_container(const Frame& frame) {
    const std::size_t spaces = indent_ * (depth() - 1);
    char* at = output_.reserve(spaces + 2);
    if (at == nullptr) return no_memory();
    std::size_t n = 0;
    if (indent_ != 0) {
      at[n++] = '\n';
      std::memset(at + n, ' ', spaces);
      n += spaces;
    }
    at[n++] = frame.is_map ? '}' : ']';
    output_.commit(n);
    return true;
  }

  PyObject* write_;  // borrowed from the call's arguments
  std::size_t indent_;
  emit::Output output_;
};

// The indentation: an int from 0 to 16; nothing when it is not (the error is then set).
std::optional<std::size_t> read_json_indent(PyObject* object) {
  const PyRef number = PyRef::steal(PyNumber_Index(object));
  if (!number) return std::nullopt;
  int overflow = 0;
  const long indent = PyLong_AsLongAndOverflow(number.get(), &overflow);
  if (indent == -1 && PyErr_Occurred()) return std::nullopt;
  if (overflow == 0 && indent >= 0 && indent <= 16) return static_cast<std::size_t>(indent);
  PyErr_Format(PyExc_ValueError, "indent must be from 0 to 16, not %S", number.get());
  return std::nullopt;
}

}  // namespace

PyObject* json_key_clash_class() {
  if (key_clash_class == nullptr) {
    key_clash_class = PyErr_NewExceptionWithDoc(
        "corvane._native.JSONKeyClash",
        "Two keys of one mapping become the same JSON string (1 and '1'): writing both would "
        "make a document that readers read differently, and keeping one would lose data.",
        PyExc_ValueError, nullptr);
  }
  return key_clash_class;
}

PyObject* write_json_function(PyObject*, PyObject* args) {
  PyObject *value, *write, *indent_argument;
  if (!PyArg_ParseTuple(args, "OOO:_write_json", &value, &write, &indent_argument)) {
    return nullptr;
  }
  if (!PyCallable_Check(write)) {
    PyErr_SetString(PyExc_TypeError, "write must be callable");
    return nullptr;
  }
  const std::optional<std::size_t> indent = read_json_indent(indent_argument);
  if (!indent) return nullptr;
  prepare_thread_exceptions();
  try {
    if (!JsonCheck().run(value)) return nullptr;
    JsonWriter writer(write, *indent);
    if (!writer.run(value)) return nullptr;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  Py_RETURN_NONE;
}

}  // namespace corvane
