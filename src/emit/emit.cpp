// The YAML writer. A value is written in block style into one growing buffer, without
// recursion (an explicit stack of open containers), and every string gets the plainest style
// that the loader, and YAML 1.1 readers such as PyYAML, read back as that same string.
#include "emit/emit.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "python/entry.hpp"
#include "python/builder.hpp"
#include "python/errors.hpp"
#include "scalar/scalar.hpp"
#include "text/bytes.hpp"
#include "text/printable.hpp"
#include "text/utf8.hpp"

namespace corvane {
namespace {

// ---------------------------------------------------------------------------------------------
// Characters

using text::CodePointRange;
using text::kNonPrintable;

// One bit per code point of the Basic Multilingual Plane, set when it is printable, so that
// text in any script costs one lookup per character.
class PrintableTable {
 public:
  PrintableTable() {
    bits_.fill(~std::uint64_t{0});
    for (const CodePointRange& range : kNonPrintable) {
      for (char32_t cp = range.first; cp <= range.last && cp < 0x10000; ++cp) {
        bits_[cp >> 6] &= ~(std::uint64_t{1} << (cp & 63));
      }
    }
  }
  CORVANE_ALWAYS_INLINE bool printable(char32_t cp) const {
    if (cp < 0x10000) return (bits_[cp >> 6] >> (cp & 63)) & 1;
    return printable_beyond_bmp(cp);
  }

 private:
  static bool printable_beyond_bmp(char32_t cp) { return text::is_printable(cp); }

  std::array<std::uint64_t, 0x10000 / 64> bits_;
};

const PrintableTable& printable_table() {
  static const PrintableTable table;
  return table;
}

// What a byte means to the choice of a string's style.
enum ByteClass : std::uint8_t {
  kOrdinary,  // printable ASCII that a plain scalar may hold anywhere after its start
  kSpace,     // may not end a plain scalar or come before `#`
  kColon,     // may not end a plain scalar or come before a space
  kBreak,     // a line feed: a block scalar, or escapes
  kControl,   // other C0 controls and DEL: escapes only
  kHigh,      // the first byte of a non-ASCII character
};

constexpr std::array<std::uint8_t, 256> make_byte_classes() {
  std::array<std::uint8_t, 256> classes{};
  for (int b = 0; b < 256; ++b) {
    classes[b] = b < 0x20 || b == 0x7F ? kControl : b >= 0x80 ? kHigh : kOrdinary;
  }
  classes[' '] = kSpace;
  classes[':'] = kColon;
  classes['\n'] = kBreak;
  return classes;
}
constexpr std::array<std::uint8_t, 256> kByteClasses = make_byte_classes();

// The escape letter of each ASCII byte in double quotes: 0 for a byte that stands for itself,
// `x` for a control without a letter of its own; every non-ASCII byte is looked at further.
constexpr std::array<char, 256> make_quoted_escapes() {
  std::array<char, 256> escapes{};
  for (int b = 0; b < 256; ++b) escapes[b] = b < 0x20 || b >= 0x7F ? 'x' : 0;
  escapes['"'] = '"';
  escapes['\\'] = '\\';
  escapes[0x00] = '0';
  escapes[0x07] = 'a';
  escapes[0x08] = 'b';
  escapes[0x09] = 't';
  escapes[0x0A] = 'n';
  escapes[0x0B] = 'v';
  escapes[0x0C] = 'f';
  escapes[0x0D] = 'r';
  escapes[0x1B] = 'e';
  return escapes;
}
constexpr std::array<char, 256> kQuotedEscapes = make_quoted_escapes();
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Bytes a plain scalar may start with. The YAML indicators are left out (`-`, `?` and `:`
// even where a reader would allow them), and so are `%` (a directive at the start of a line)
// and the blanks; every other printable ASCII character and every non-ASCII one may start it.
constexpr std::array<bool, 256> make_plain_starts() {
  std::array<bool, 256> starts{};
  for (int b = 0x21; b < 0x7F; ++b) starts[b] = true;
  for (unsigned char c : std::string_view("-?:,[]{}#&*!|>'\"%@`")) starts[c] = false;
  for (int b = 0x80; b < 0x100; ++b) starts[b] = true;
  return starts;
}
constexpr std::array<bool, 256> kPlainStarts = make_plain_starts();

// First bytes from which the loader's typing may read something other than a string.
constexpr std::array<bool, 256> make_typed_starts() {
  std::array<bool, 256> starts{};
  for (unsigned char c : std::string_view("~nNtTfFyYoO+-.0123456789")) starts[c] = true;
  return starts;
}
constexpr std::array<bool, 256> kTypedStarts = make_typed_starts();

// Every character that YAML 1.1's integer, float, sexagesimal and timestamp forms are made
// of. A text that starts with a digit or a sign and holds nothing else may read as a number
// or a date to a YAML 1.1 reader, so it is quoted.
constexpr std::array<bool, 256> make_number_chars() {
  std::array<bool, 256> chars{};
  for (unsigned char c : std::string_view("0123456789abcdefABCDEFxXoO_:.+-tTZ ")) chars[c] = true;
  return chars;
}
constexpr std::array<bool, 256> kNumberChars = make_number_chars();

// Whether `text`, which passed the structural checks of a plain scalar, reads back as this
// string: under the loader's typing with either boolean setting, and under YAML 1.1's.
bool types_as_string(std::string_view text) {
  const char first = text[0];
  if (kTypedStarts[static_cast<unsigned char>(first)]) {
    if (infer_kind<false>(text)->kind() != Scalar::Kind::Str ||
        infer_kind<true>(text)->kind() != Scalar::Kind::Str) {
      return false;
    }
    if (is_digit(first) || first == '+') {
      return !std::all_of(text.begin(), text.end(),
                          [](char c) { return kNumberChars[static_cast<unsigned char>(c)]; });
    }
    // YAML 1.1 floats such as `.5` and `._1`; `...` ends a document at a line start.
    if (first == '.' && text.size() > 1) {
      return !(is_digit(text[1]) || text[1] == '_' || text.starts_with("..."));
    }
    return true;
  }
  // YAML 1.1's merge key and value indicator.
  return text != "<<" && text != "=";
}

enum class Style : std::uint8_t { Plain, Single, Double, Literal };

// Text with a line feed before `from`: a literal block scalar unless a character from `from`
// on must be escaped. Spaces, colons and line feeds no longer matter, so long text passes
// sixteen bytes at a time.
Style multiline_style(std::string_view text, std::size_t i) {
  const std::size_t size = text.size();
  const PrintableTable& table = printable_table();
  while (true) {
    if constexpr (text::kVectorBlocks) {
      for (; i + 16 <= size; i += 16) {
        // Anything but printable ASCII and the line feed.
        const text::Block block = text::Block::load(text.data() + i);
        if (const std::uint32_t bits =
                block.outside(0x20, 0x7E).and_not(block.equal('\n')).mask()) {
          i += static_cast<std::size_t>(std::countr_zero(bits));
          break;
        }
      }
    }
    while (i < size && kByteClasses[static_cast<unsigned char>(text[i])] < kControl) ++i;
    if (i >= size) return Style::Literal;
    if (kByteClasses[static_cast<unsigned char>(text[i])] == kControl) return Style::Double;
    do {
      if (!table.printable(decode_utf8(text, i))) return Style::Double;
    } while (i < size && static_cast<unsigned char>(text[i]) >= 0x80);
  }
}

// The style of a string: plain where it reads back exactly, then single quotes (any one-line
// text of printable characters), a literal block scalar for text of several lines where one
// is allowed, and double quotes with escapes for everything else. The byte after `text` must be
// readable (a str's UTF-8 ends in a null byte).
Style choose_style(std::string_view text, bool block_allowed) {
  if (text.empty()) return Style::Single;
  // A space or a colon may not end a plain scalar.
  bool plain =
      kPlainStarts[static_cast<unsigned char>(text[0])] && text.back() != ' ' && text.back() != ':';
  const std::size_t size = text.size();
  const PrintableTable& table = printable_table();
  std::size_t i = 0;
  while (true) {
    // Ordinary bytes are passed over sixteen at a time where the target allows it.
    if constexpr (text::kVectorBlocks) {
      // A space matters only before `#`, a colon only before a space: those pairs are found
      // with a second load one byte further on, so that prose passes without a stop.
      // Outside printable ASCII: the controls, DEL and every byte of a non-ASCII character.
      const auto special_bits = [&](std::size_t at) {
        const text::Block block = text::Block::load(text.data() + at);
        const text::Block next = text::Block::load(text.data() + at + 1);
        return (block.outside(0x20, 0x7E) | (block.equal(' ') & next.equal('#')) |
                (block.equal(':') & next.equal(' ')))
            .mask();
      };
      for (; i + 17 <= size; i += 16) {
        if (const std::uint32_t bits = special_bits(i)) {
          i += static_cast<std::size_t>(std::countr_zero(bits));
          break;
        }
      }
      // The last sixteen bytes in one more block, which may go back over bytes already passed
      // and whose second load reads the byte after the text.
      if (i + 17 > size && size >= 16) {
        const std::size_t last = size - 16;
        const std::uint32_t bits = special_bits(last) >> (i - last);
        i = bits == 0 ? size : i + static_cast<std::size_t>(std::countr_zero(bits));
      }
    }
    while (i < size && kByteClasses[static_cast<unsigned char>(text[i])] == kOrdinary) ++i;
    if (i >= size) break;
    const std::uint8_t byte_class = kByteClasses[static_cast<unsigned char>(text[i])];
    if (byte_class == kSpace) {
      if (i + 1 == size || text[i + 1] == '#') plain = false;
      ++i;
    } else if (byte_class == kColon) {
      if (i + 1 == size || text[i + 1] == ' ') plain = false;
      ++i;
    } else if (byte_class == kBreak) {
      return block_allowed ? multiline_style(text, i + 1) : Style::Double;
    } else if (byte_class == kControl) {
      return Style::Double;
    } else {
      // A run of non-ASCII characters is taken whole.
      do {
        if (!table.printable(decode_utf8(text, i))) return Style::Double;
      } while (i < size && static_cast<unsigned char>(text[i]) >= 0x80);
    }
  }
  return plain && types_as_string(text) ? Style::Plain : Style::Single;
}

// ---------------------------------------------------------------------------------------------
// Output

// The text being written: one buffer that doubles when full.
class Output {
 public:
  // The buffer of the previous call is reused, up to a size, which spares the allocation and
  // the first touch of its pages (the interpreter lock keeps calls apart).
  Output() {
    if (spare_ != nullptr) {
      data_ = std::exchange(spare_, nullptr);
      capacity_ = spare_capacity_;
    } else {
      data_ = static_cast<char*>(std::malloc(kInitial));
      capacity_ = kInitial;
    }
  }
  ~Output() {
    if (spare_ == nullptr && capacity_ <= kKept) {
      spare_ = data_;
      spare_capacity_ = capacity_;
    } else {
      std::free(data_);
    }
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  bool ok() const { return data_ != nullptr; }

  // Room for `count` more bytes, or null when memory ran out.
  CORVANE_ALWAYS_INLINE char* reserve(std::size_t count) {
    if (capacity_ - size_ < count && !grow(count)) return nullptr;
    return data_ + size_;
  }
  void commit(std::size_t count) { size_ += count; }

  bool append(std::string_view text) {
    char* at = reserve(text.size());
    if (at == nullptr) return false;
    std::memcpy(at, text.data(), text.size());
    size_ += text.size();
    return true;
  }
  bool append(char c) {
    char* at = reserve(1);
    if (at == nullptr) return false;
    *at = c;
    ++size_;
    return true;
  }
  bool spaces(std::size_t count) {
    char* at = reserve(count);
    if (at == nullptr) return false;
    std::memset(at, ' ', count);
    size_ += count;
    return true;
  }

  std::string_view text() const { return {data_, size_}; }
  std::size_t size() const { return size_; }
  void truncate(std::size_t size) { size_ = size; }

 private:
  static constexpr std::size_t kInitial = 4096;
  static constexpr std::size_t kKept = std::size_t{4} << 20;
  static inline char* spare_ = nullptr;
  static inline std::size_t spare_capacity_ = 0;

  CORVANE_COLD bool grow(std::size_t count) {
    std::size_t capacity = capacity_ * 2;
    while (capacity - size_ < count) capacity *= 2;
    char* data = static_cast<char*>(std::realloc(data_, capacity));
    if (data == nullptr) return false;
    data_ = data;
    capacity_ = capacity;
    return true;
  }

  char* data_;
  std::size_t size_ = 0;
  std::size_t capacity_;
};

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

// The shortest decimal digits that read back as a finite double: its magnitude is d1.d2d3...
// times ten to the power `exponent`.
struct FloatDigits {
  bool negative = false;
  std::size_t count = 0;
  int exponent = 0;
  char digits[24];
};

#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L && !defined(CORVANE_PORTABLE_FLOAT)

bool shortest_digits(double value, FloatDigits& out) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
  // text: [-]d[.ddd]e(+|-)dd[d]
  const char* p = text;
  if (*p == '-') {
    out.negative = true;
    ++p;
  }
  for (; *p != 'e'; ++p) {
    if (*p != '.') out.digits[out.count++] = *p;
  }
  ++p;
  std::from_chars(*p == '+' ? p + 1 : p, result.ptr, out.exponent);
  return true;
}

#else

// The digits of a double that fifteen significant digits name exactly, as most floats in
// configuration are; false for any other. At most one decimal of fifteen significant digits
// reads as a given double (such decimals lie further apart than the doubles there), so when
// the fifteen-digit rounding of the value reads back as it, its digits without trailing zeros
// are the shortest ones. Multiplying or dividing by an exact power of ten rounds once, which
// may miss that decimal by one in its last place, but never yields a wrong one: whatever
// decimal is tried must read back exactly, and an integer below 2^53 over an exact power of
// ten is one correctly rounded operation.
bool fifteen_digits(double magnitude, FloatDigits& out) {
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
  constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (!(magnitude >= 1e-8 && magnitude < 1e37)) return false;
  const int exponent = static_cast<int>(std::floor(std::log10(magnitude)));
  const int shift = 14 - exponent;  // the value times ten to this has fifteen whole digits
  if (shift < -22 || shift > 22) return false;
  const double power = kPowers[shift < 0 ? -shift : shift];
  const double scaled = shift >= 0 ? magnitude * power : magnitude / power;
  if (!(scaled >= 1e14 && scaled <= 1e15)) return false;
  auto mantissa = static_cast<std::uint64_t>(std::llround(scaled));
  const double back =
      shift >= 0 ? static_cast<double>(mantissa) / power : static_cast<double>(mantissa) * power;
  if (back != magnitude || mantissa < 100000000000000ULL) return false;
  int decimal_exponent = mantissa >= 1000000000000000ULL ? 15 - shift : 14 - shift;
  while (mantissa % 10 == 0) mantissa /= 10;
  char reversed[16];
  std::size_t count = 0;
  for (; mantissa != 0; mantissa /= 10) reversed[count++] = static_cast<char>('0' + mantissa % 10);
  for (std::size_t i = 0; i < count; ++i) out.digits[i] = reversed[count - 1 - i];
  out.count = count;
  out.exponent = decimal_exponent;
  return true;
#else
  (void)magnitude;
  (void)out;
  return false;
#endif
}

// Without a floating to_chars in the C++ library (or where a build must not ask the library
// for one), the interpreter's own repr digits, in whichever form repr puts them, are brought
// to the same shape. False, with an exception set, when memory ran out.
bool shortest_digits(double value, FloatDigits& out) {
  out.negative = std::signbit(value);
  if (value == 0) {
    out.digits[out.count++] = '0';
    return true;
  }
  if (fifteen_digits(std::fabs(value), out)) return true;
  out.negative = false;
  char* text = PyOS_double_to_string(value, 'r', 0, 0, nullptr);
  if (text == nullptr) return false;
  // text: [-]d[ddd][.ddd][e(+|-)dd[d]], where leading or trailing zeros may be padding.
  const char* p = text;
  if (*p == '-') {
    out.negative = true;
    ++p;
  }
  int whole = 0;  // digits before the point
  bool point = false;
  int skipped = 0;  // leading zeros
  for (; (*p >= '0' && *p <= '9') || *p == '.'; ++p) {
    if (*p == '.') {
      point = true;
      continue;
    }
    if (!point) ++whole;
    if (out.count == 0 && *p == '0') {
      ++skipped;
    } else if (out.count < sizeof out.digits) {
      out.digits[out.count++] = *p;
    }
  }
  int power = 0;
  if (*p == 'e') {
    ++p;
    const bool minus = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    for (; *p >= '0' && *p <= '9'; ++p) power = power * 10 + (*p - '0');
    if (minus) power = -power;
  }
  PyMem_Free(text);
  while (out.count > 1 && out.digits[out.count - 1] == '0') --out.count;
  if (out.count == 0) {
    out.digits[out.count++] = '0';
    out.exponent = 0;
  } else {
    out.exponent = whole - 1 - skipped + power;
  }
  return true;
}

#endif

// Python's repr of a finite double, always with a `.` and with a signed exponent when it has
// one (`1.0e+300`), so that YAML 1.1 readers also see a float. Zero, with an exception set,
// when memory ran out.
std::size_t format_float(double value, char* out) {
  FloatDigits digits;
  if (!shortest_digits(value, digits)) return 0;
  const char* mantissa = digits.digits;
  const std::size_t count = digits.count;
  const int exponent = digits.exponent;
  char* o = out;
  if (digits.negative) *o++ = '-';
  if (exponent >= -4 && exponent < 16) {
    if (exponent >= 0) {
      const auto whole = static_cast<std::size_t>(exponent) + 1;
      for (std::size_t i = 0; i < whole; ++i) *o++ = i < count ? mantissa[i] : '0';
      *o++ = '.';
      if (count > whole) {
        for (std::size_t i = whole; i < count; ++i) *o++ = mantissa[i];
      } else {
        *o++ = '0';
      }
    } else {
      *o++ = '0';
      *o++ = '.';
      for (int i = -1; i > exponent; --i) *o++ = '0';
      for (std::size_t i = 0; i < count; ++i) *o++ = mantissa[i];
    }
  } else {
    *o++ = mantissa[0];
    *o++ = '.';
    if (count > 1) {
      for (std::size_t i = 1; i < count; ++i) *o++ = mantissa[i];
    } else {
      *o++ = '0';
    }
    *o++ = 'e';
    *o++ = exponent < 0 ? '-' : '+';
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) *o++ = '0';
    o = std::to_chars(o, o + 4, magnitude).ptr;
  }
  return static_cast<std::size_t>(o - out);
}

// ---------------------------------------------------------------------------------------------
// The writer

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
    if (!format_int(value, at + n, n, "int")) return false;
    at[n++] = '\n';
    output_.commit(n);
    return true;
  }

  bool write_scalar_float(double value, Place place) {
    if (value == -1.0 && PyErr_Occurred()) return false;
    char* at = output_.reserve(34);
    if (at == nullptr) return no_memory();
    std::size_t n = 0;
    if (place != Place::Root) at[n++] = ' ';
    const std::size_t written = write_float(value, at + n);
    if (written == 0) return false;
    n += written;
    at[n++] = '\n';
    output_.commit(n);
    return true;
  }

  // Decimal digits of an int in the signed 64-bit range at `out`, adding their count to `n`.
  bool format_int(PyObject* value, char* out, std::size_t& n, const char* what) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow != 0) return out_of_range(what);
    if (number == -1 && PyErr_Occurred()) return false;
    n += static_cast<std::size_t>(std::to_chars(out, out + 20, number).ptr - out);
    return true;
  }

  // Zero, with an exception set, when memory ran out.
  static std::size_t write_float(double value, char* out) {
    if (std::isnan(value)) {
      std::memcpy(out, ".nan", 4);
      return 4;
    }
    if (std::isinf(value)) {
      if (value > 0) {
        std::memcpy(out, ".inf", 4);
        return 4;
      }
      std::memcpy(out, "-.inf", 5);
      return 5;
    }
    return format_float(value, out);
  }

  bool write_string_value(PyObject* value, Place place, std::size_t column) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(value, &size);
    if (data == nullptr) return false;
    const std::string_view text(data, static_cast<std::size_t>(size));
    if (!begin_scalar(place)) return no_memory();
    Style style = choose_style(text, true);
    if (style == Style::Literal) {
      const std::size_t start = output_.size();
      if (!write_literal(text, column)) return no_memory();
      if (output_.size() != start) return true;
      style = Style::Double;
    }
    return write_styled(text, style) && output_.append('\n');
  }

  bool write_key(PyObject* key) {
    PyTypeObject* type = Py_TYPE(key);
    if (type == &PyUnicode_Type || (type != &PyLong_Type && PyUnicode_Check(key))) {
      Py_ssize_t size = 0;
      const char* data = PyUnicode_AsUTF8AndSize(key, &size);
      if (data == nullptr) return false;
      const std::string_view text(data, static_cast<std::size_t>(size));
      return write_styled(text, key_style(key, text)) && output_.append(':');
    }
    char* at = output_.reserve(40);
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
      if (!format_int(key, at, n, "key")) return false;
    } else if (PyFloat_Check(key)) {
      const double number = PyFloat_AsDouble(key);
      if (number == -1.0 && PyErr_Occurred()) return false;
      n = write_float(number, at);
      if (n == 0) return false;
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
    if (sort_keys_ || Py_TYPE(key) != &PyUnicode_Type) return choose_style(text, false);
    KeyStyle& slot = key_styles_[(reinterpret_cast<std::uintptr_t>(key) >> 4) % kKeyStyles];
    if (slot.key != key) {
      slot.key = key;
      slot.style = choose_style(text, false);
    }
    return slot.style;
  }

  bool write_styled(std::string_view text, Style style) {
    switch (style) {
      case Style::Plain: return output_.append(text) || no_memory();
      case Style::Single: return write_single_quoted(text) || no_memory();
      default: return write_double_quoted(text) || no_memory();
    }
  }

  bool write_single_quoted(std::string_view text) {
    // At most every byte is a quote, doubled.
    char* at = output_.reserve(text.size() * 2 + 2);
    if (at == nullptr) return false;
    char* o = at;
    *o++ = '\'';
    for (char c : text) {
      *o++ = c;
      if (c == '\'') *o++ = '\'';
    }
    *o++ = '\'';
    output_.commit(static_cast<std::size_t>(o - at));
    return true;
  }

  bool write_double_quoted(std::string_view text) {
    // At most four bytes out for each byte in: `\xXX` for one byte, `\uXXXX` for two or three,
    // `\UXXXXXXXX` for four.
    char* at = output_.reserve(text.size() * 4 + 2);
    if (at == nullptr) return false;
    char* o = at;
    *o++ = '"';
    const char* data = text.data();
    const std::size_t size = text.size();
    for (std::size_t i = 0; i < size;) {
      // A run of bytes that stand for themselves is copied whole, sixteen bytes checked at a
      // time where the target allows it.
      std::size_t end = i;
      if constexpr (text::kVectorBlocks) {
        for (; end + 16 <= size; end += 16) {
          const text::Block block = text::Block::load(data + end);
          if (const std::uint32_t bits =
                  (block.outside(0x20, 0x7E) | block.equal('"') | block.equal('\\')).mask()) {
            end += static_cast<std::size_t>(std::countr_zero(bits));
            break;
          }
        }
      }
      while (end < size && kQuotedEscapes[static_cast<unsigned char>(data[end])] == 0) ++end;
      std::memcpy(o, data + i, end - i);
      o += end - i;
      i = end;
      if (i >= size) break;
      const auto byte = static_cast<unsigned char>(data[i]);
      if (byte < 0x80) {
        // The quote, the backslash, a C0 control or DEL: one escape of two or four bytes.
        const char escape = kQuotedEscapes[byte];
        *o++ = '\\';
        if (escape != 'x') {
          *o++ = escape;
        } else {
          *o++ = 'x';
          *o++ = kHexDigits[byte >> 4];
          *o++ = kHexDigits[byte & 0xF];
        }
        ++i;
        continue;
      }
      const std::size_t start = i;
      const char32_t cp = decode_utf8(text, i);
      if (printable_table().printable(cp)) {
        std::memcpy(o, data + start, i - start);
        o += i - start;
        continue;
      }
      o = write_escape(o, cp);
    }
    *o++ = '"';
    output_.commit(static_cast<std::size_t>(o - at));
    return true;
  }

  // The escape of a character outside printable ASCII that is not printable.
  static char* write_escape(char* o, char32_t cp) {
    *o++ = '\\';
    char short_escape = 0;
    switch (cp) {
      case 0x85: short_escape = 'N'; break;
      case 0xA0: short_escape = '_'; break;
      case 0x2028: short_escape = 'L'; break;
      case 0x2029: short_escape = 'P'; break;
      default: break;
    }
    if (short_escape != 0) {
      *o++ = short_escape;
      return o;
    }
    const int digits = cp < 0x100 ? 2 : cp < 0x10000 ? 4 : 8;
    *o++ = digits == 2 ? 'x' : digits == 4 ? 'u' : 'U';
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
      *o++ = kHexDigits[(cp >> shift) & 0xF];
    }
    return o;
  }

  // `|` with its indicators, then each line at `column` + indent (empty lines stay empty).
  // Text that a block scalar cannot hold exactly is left unwritten: text without a line of
  // content reads back as the empty string, and a line of spaces alone is a blank line, whose
  // spaces the readers do not agree on. False only when memory ran out.
  bool write_literal(std::string_view text, std::size_t column) {
    const std::size_t first = text.find_first_not_of('\n');
    if (first == std::string_view::npos) return true;
    const std::size_t start_size = output_.size();
    std::size_t trailing = 0;
    while (text[text.size() - 1 - trailing] == '\n') ++trailing;
    char header[4];
    std::size_t n = 0;
    header[n++] = '|';
    // A first line that starts with a space would set the indentation itself.
    if (text[first] == ' ') header[n++] = static_cast<char>('0' + indent_);
    if (trailing == 0) header[n++] = '-';
    if (trailing > 1) header[n++] = '+';
    header[n++] = '\n';
    if (!output_.append(std::string_view(header, n))) return false;
    const std::size_t content_column = column + indent_;
    // The line feed that ends the last line closes its line; it starts no line of its own.
    const std::string_view body = trailing > 0 ? text.substr(0, text.size() - 1) : text;
    std::size_t start = 0;
    while (true) {
      std::size_t end = body.find('\n', start);
      const bool last = end == std::string_view::npos;
      if (last) end = body.size();
      const std::string_view line = body.substr(start, end - start);
      char* at = output_.reserve(content_column + line.size() + 1);
      if (at == nullptr) return false;
      std::size_t written = 0;
      if (!line.empty()) {
        if (line[0] == ' ' && line.find_first_not_of(' ') == std::string_view::npos) {
          output_.truncate(start_size);
          return true;
        }
        std::memset(at, ' ', content_column);
        std::memcpy(at + content_column, line.data(), line.size());
        written = content_column + line.size();
      }
      at[written++] = '\n';
      output_.commit(written);
      if (last) return true;
      start = end + 1;
    }
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
