// The sink that builds Python objects: shared by both extension modules, whose parsers build
// values the same way.
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "python/builder.hpp"
#include "python/errors.hpp"

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

PyBuilder::PyBuilder(PyObject* input, std::string_view bytes)
    : input_(input), bytes_(bytes.data()), size_(bytes.size()), cursor_(bytes.data()) {
  const auto characters = static_cast<std::size_t>(PyUnicode_GetLength(input));
  ascii_ = characters == bytes.size();
  // Where non-ASCII text is rare, counting characters would cost more than copying saves.
  copies_wide_text_ = bytes.size() - characters >= bytes.size() / kWideShare;
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
  if (!scalar.is_decoded()) return make_str(scalar.as_str());
  std::string_view text = scalar.as_str();
  return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

PyBuilder::Value PyBuilder::make_decoded_str(std::string_view text) {
  return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

PyBuilder::Value PyBuilder::make_substring(Py_ssize_t start, Py_ssize_t end) {
  return checked(PyUnicode_Substring(input_, start, end));
}

// Text of an input with many non-ASCII characters. Text that is not ASCII is copied out of
// the str rather than decoded, which needs the index of its first character: the characters
// since the last copy are counted. ASCII text is decoded: a copy out of a wider str would have
// to narrow it again, which the decoder's ASCII loop does faster.
PyBuilder::Value PyBuilder::make_wide_str(std::string_view text) {
  if (is_ascii(text)) return make_decoded_str(text);
  const Py_ssize_t start = index_of(text.data());
  return make_substring(start, index_of(text.data() + text.size()));
}

namespace {

// The characters of a UTF-8 text that starts and ends on character boundaries: its bytes
// that do not continue a character (10xxxxxx), eight at a time.
std::size_t count_characters(const char* begin, const char* end) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  std::size_t size = static_cast<std::size_t>(end - begin);
  std::size_t continuations = 0;
  const char* p = begin;
  for (; size >= 8; p += 8, size -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    // One bit a byte, moved to the byte's low end and summed by a multiplication (a
    // population count instruction is not in the baseline x86-64 set).
    const std::uint64_t marks = (word & ~(word << 1) & kHighBits) >> 7;
    continuations += static_cast<std::size_t>((marks * 0x0101010101010101ULL) >> 56);
  }
  for (; size > 0; ++p, --size) {
    continuations += (static_cast<unsigned char>(*p) & 0xC0) == 0x80;
  }
  return static_cast<std::size_t>(end - begin) - continuations;
}

}  // namespace

bool PyBuilder::is_ascii(std::string_view text) {
  std::uint64_t high = 0;
  const char* p = text.data();
  std::size_t size = text.size();
  for (; size >= 8; p += 8, size -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    high |= word;
  }
  for (; size > 0; ++p, --size) high |= static_cast<unsigned char>(*p);
  return (high & 0x8080808080808080ULL) == 0;
}

// The index of the character that starts at `byte`, counted from the last one asked for.
Py_ssize_t PyBuilder::index_of(const char* byte) {
  if (byte >= cursor_) {
    cursor_index_ += static_cast<Py_ssize_t>(count_characters(cursor_, byte));
  } else {
    cursor_index_ -= static_cast<Py_ssize_t>(count_characters(byte, cursor_));
  }
  cursor_ = byte;
  return cursor_index_;
}

PyBuilder::Value PyBuilder::make_key(Scalar&& scalar) {
  // The text of a decoded quoted key lasts only until the next quoted scalar is decoded (or
  // dies with the scalar): those keys are not cached.
  if (scalar.kind() != Scalar::Kind::Str || scalar.is_decoded() ||
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
