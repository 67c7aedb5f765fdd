// Quoted scalars: finding the closing quote, reading a quoted scalar and decoding its escapes
// or doubled quotes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "error/error.hpp"
#include "scalar/value.hpp"

namespace corvane {

// Index of the quote that closes the quoted span opened by text[0] (`"` or `'`), or npos
// when the text ends first. Inside double quotes a backslash protects the next byte; inside
// single quotes two quotes in a row stand for one.
std::size_t find_closing_quote(std::string_view text);
// The same, also telling whether the span holds an escape (double quotes) or a doubled quote
// (single quotes), that is, whether its content needs decoding.
std::size_t find_closing_quote(std::string_view text, bool& needs_decoding);

// The double-quoted scalar that opens text[0], with its escapes decoded, and in `close` the
// position of its closing quote; nothing when the quote is left open or an escape is invalid.
// What follows the closing quote is not looked at.
std::optional<Scalar> read_double_quoted(std::string_view text, std::size_t& close);

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
