// Typing of plain scalars and decoding of quoted scalars.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "error/error.hpp"

namespace corvane {

// The typed value of one scalar. A `Str` is a view into the input unless a quoted scalar had
// escapes or doubled quotes to decode, in which case it owns its text.
class Scalar {
 public:
  enum class Kind : std::uint8_t { Null, Bool, Int, Float, Str };

  static Scalar null() { return Scalar(Kind::Null); }
  static Scalar boolean(bool value) {
    Scalar s(Kind::Bool);
    s.bool_ = value;
    return s;
  }
  static Scalar integer(std::int64_t value) {
    Scalar s(Kind::Int);
    s.int_ = value;
    return s;
  }
  static Scalar floating(double value) {
    Scalar s(Kind::Float);
    s.float_ = value;
    return s;
  }
  static Scalar view(std::string_view text) {
    Scalar s(Kind::Str);
    s.view_ = text;
    return s;
  }
  static Scalar owned(std::string text) {
    Scalar s(Kind::Str);
    s.owned_ = std::move(text);
    s.is_owned_ = true;
    return s;
  }

  Kind kind() const { return kind_; }
  bool is_owned() const { return is_owned_; }
  bool as_bool() const { return bool_; }
  std::int64_t as_int() const { return int_; }
  double as_float() const { return float_; }
  std::string_view as_str() const { return is_owned_ ? std::string_view(owned_) : view_; }

 private:
  explicit Scalar(Kind kind) : kind_(kind) {}

  Kind kind_;
  bool is_owned_ = false;
  // Only the member that `kind_` names is meaningful; one scalar is made per value, so the
  // object is kept small.
  union {
    bool bool_;
    std::int64_t int_;
    double float_ = 0.0;
  };
  std::string_view view_;
  std::string owned_;
};

// Unicode White_Space trimming on UTF-8 text. The inline checks settle the common case, a
// text that begins or ends with a printable ASCII character, without a call.
std::string_view trim_start_slow(std::string_view text);
std::string_view trim_end_slow(std::string_view text);
inline bool is_printable_ascii(char c) {
  return static_cast<unsigned char>(c) > ' ' && static_cast<unsigned char>(c) < 0x7F;
}
inline std::string_view trim_start(std::string_view text) {
  return !text.empty() && is_printable_ascii(text.front()) ? text : trim_start_slow(text);
}
inline std::string_view trim_end(std::string_view text) {
  return !text.empty() && is_printable_ascii(text.back()) ? text : trim_end_slow(text);
}
inline std::string_view trim(std::string_view text) {
  return trim_end(trim_start(text));
}
// Length of the White_Space character that starts `text`, or 0.
std::size_t whitespace_length_at(std::string_view text);

inline bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Position of the first byte of `text` at or after `from` that equals `a` or `b`, or npos.
// Reads eight bytes at a time: scalar texts are often long and these bytes rare.
inline std::size_t find_either(std::string_view text, std::size_t from, char a, char b) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  const std::uint64_t pattern_a = kOnes * static_cast<unsigned char>(a);
  const std::uint64_t pattern_b = kOnes * static_cast<unsigned char>(b);
  std::size_t i = from;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    const std::uint64_t xa = word ^ pattern_a, xb = word ^ pattern_b;
    // A zero byte in xa or xb marks a match; the lowest flagged byte is always a true one.
    const std::uint64_t hits = (((xa - kOnes) & ~xa) | ((xb - kOnes) & ~xb)) & kHighs;
    if (hits != 0) return i + static_cast<std::size_t>(std::countr_zero(hits) >> 3);
  }
  for (; i < text.size(); ++i) {
    if (text[i] == a || text[i] == b) return i;
  }
  return std::string_view::npos;
}

// Number of spaces (U+0020) that `text` starts with. Deeply nested documents are mostly
// indentation, so this reads eight bytes at a time.
inline std::size_t leading_spaces(std::string_view text) {
  constexpr std::uint64_t kSpaces = 0x2020202020202020ULL;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if (const std::uint64_t diff = word ^ kSpaces; diff != 0) {
      return i + static_cast<std::size_t>(std::countr_zero(diff) >> 3);
    }
  }
  while (i < text.size() && text[i] == ' ') ++i;
  return i;
}

// Cuts `text` at the first blank followed by `#`, then trims the end.
std::string_view strip_comment(std::string_view text);

// Types a plain text that has no surrounding whitespace and no comment. Never fails.
template <bool Yaml11Bools>
Scalar infer_kind(std::string_view text);

// Block mapping key, block value (or sequence item) and flow item/key/value.
template <bool Yaml11Bools>
Result<Scalar> classify_key_scalar(std::string_view text, std::uint64_t line);
template <bool Yaml11Bools>
Result<Scalar> classify_value_scalar(std::string_view text, std::uint64_t line);
template <bool Yaml11Bools>
Result<Scalar> classify_scalar(std::string_view text, std::uint64_t line);

// Index of the quote that closes the quoted span opened by text[0] (`"` or `'`), or npos
// when the text ends first. Inside double quotes a backslash protects the next byte; inside
// single quotes two quotes in a row stand for one.
std::size_t find_closing_quote(std::string_view text);

// `text` starts with the opening quote and runs to the end of its line.
Result<Scalar> parse_double_quoted(std::string_view text, std::uint64_t line);
Result<Scalar> parse_single_quoted(std::string_view text, std::uint64_t line);

// The text between the quotes of a double-quoted scalar that holds at least one backslash,
// with its escapes decoded.
Result<Scalar> decode_escapes(std::string_view content, std::uint64_t line);
// The text between the quotes of a single-quoted scalar that holds doubled quotes, with each
// pair read as one quote.
Scalar unfold_single_quoted(std::string_view content);

}  // namespace corvane
