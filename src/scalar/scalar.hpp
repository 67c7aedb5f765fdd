// Typing of plain scalars and decoding of quoted scalars.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "base/attributes.hpp"
#include "error/error.hpp"
#include "text/bytes.hpp"
#include "text/chars.hpp"
#include "text/utf8.hpp"

namespace corvane {

// Room for decoded text, written in place and then handed to a Scalar.
using TextBuffer = std::unique_ptr<char[]>;
inline TextBuffer new_text_buffer(std::size_t capacity) {
  return std::make_unique_for_overwrite<char[]>(capacity);
}

// The typed value of one scalar. A `Str` is a view into the input unless a quoted scalar had
// escapes or doubled quotes to decode, in which case it owns the buffer its view points into
// (a plain pointer, so that moving a scalar is a few word copies).
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
  // The first `size` bytes of `buffer`.
  static Scalar owned(TextBuffer buffer, std::size_t size) {
    Scalar s(Kind::Str);
    s.view_ = std::string_view(buffer.get(), size);
    s.owned_ = std::move(buffer);
    return s;
  }

  Kind kind() const { return kind_; }
  bool is_owned() const { return owned_ != nullptr; }
  bool as_bool() const { return bool_; }
  std::int64_t as_int() const { return int_; }
  double as_float() const { return float_; }
  std::string_view as_str() const { return view_; }

 private:
  explicit Scalar(Kind kind) : kind_(kind) {}

  Kind kind_;
  // Only the member that `kind_` names is meaningful; one scalar is made per value, so the
  // object is kept small.
  union {
    bool bool_;
    std::int64_t int_;
    double float_ = 0.0;
  };
  std::string_view view_;
  TextBuffer owned_;
};

// Cuts `text` at the first blank followed by `#`, then trims the end.
std::string_view strip_comment(std::string_view text);

// Types a plain text that has no surrounding whitespace and no comment. Never fails; the
// result type lets callers that return one have it built in place.
template <bool Yaml11Bools>
Result<Scalar> infer_kind(std::string_view text);

// Block mapping key, block value (or sequence item) and flow item/key/value.
template <bool Yaml11Bools>
Result<Scalar> classify_key_scalar(std::string_view text, std::uint64_t line);
template <bool Yaml11Bools>
Result<Scalar> classify_value_scalar(std::string_view text, std::uint64_t line);
template <bool Yaml11Bools>
Result<Scalar> classify_scalar(std::string_view text, std::uint64_t line);

// classify_value_scalar for a text whose first byte passes is_plain_start. The bytes after the
// text up to `readable_end` (null when unknown) may be read.
template <bool Yaml11Bools>
Result<Scalar> classify_plain_value(std::string_view text, std::uint64_t line,
                                    const char* readable_end = nullptr);
// classify_key_scalar, with its common case settled inline: a plain key without any `#`
// cannot hold a comment, which leaves only its typing.
template <bool Yaml11Bools>
inline Result<Scalar> classify_key_scalar_fast(std::string_view text, std::uint64_t line) {
  if (!text.empty() && is_plain_start(text[0]) && find(text, 0, '#') == std::string_view::npos) {
    return infer_kind<Yaml11Bools>(trim_end(text));
  }
  return classify_key_scalar<Yaml11Bools>(text, line);
}

// Index of the quote that closes the quoted span opened by text[0] (`"` or `'`), or npos
// when the text ends first. Inside double quotes a backslash protects the next byte; inside
// single quotes two quotes in a row stand for one.
std::size_t find_closing_quote(std::string_view text);
// The same, also telling whether the span holds an escape (double quotes) or a doubled quote
// (single quotes), that is, whether its content needs decoding.
std::size_t find_closing_quote(std::string_view text, bool& needs_decoding);

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
