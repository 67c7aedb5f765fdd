// Character classes of ASCII bytes: one table with a named bit per class, the predicates the
// scanners ask of single bytes, and the one rule for where a comment starts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane {

inline bool is_blank(char c) {
  return c == ' ' || c == '\t';
}
inline bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
// The value of a hex digit of either case, or -1 for any other byte.
inline int hex_digit_value(char c) {
  if (is_digit(c)) return c - '0';
  const char lower = static_cast<char>(c | 0x20);
  if (lower >= 'a' && lower <= 'f') return lower - 'a' + 10;
  return -1;
}
inline bool is_printable_ascii(char c) {
  return static_cast<unsigned char>(c) > ' ' && static_cast<unsigned char>(c) < 0x7F;
}

// A blank directly followed by `#` starts a comment: true when text[i] is that `#`.
inline bool starts_comment(std::string_view text, std::size_t i) {
  return i > 0 && i < text.size() && text[i] == '#' && is_blank(text[i - 1]);
}

namespace chars {

enum Class : std::uint16_t {
  kPlainStart = 1 << 0,      // printable ASCII other than the quotes and the refused indicators
  kStopsFlowValue = 1 << 1,  // ends a plain item of a flow collection
  kStopsFlowKey = 1 << 2,    // ends a plain key of a flow mapping
  kFlowQuote = 1 << 3,
  kFlowOpen = 1 << 4,
  kFlowClose = 1 << 5,
  kFlowComma = 1 << 6,
  kFlowColon = 1 << 7,
};

inline constexpr std::array<std::uint16_t, 256> kClasses = [] {
  std::array<std::uint16_t, 256> table{};
  const auto add = [&table](std::string_view bytes, std::uint16_t bits) {
    for (const char c : bytes) table[static_cast<unsigned char>(c)] |= bits;
  };
  for (int c = 0x21; c < 0x7F; ++c) table[c] |= kPlainStart;
  for (const char c : std::string_view("\"'!&*")) {
    table[static_cast<unsigned char>(c)] &= static_cast<std::uint16_t>(~kPlainStart);
  }
  // Controls (tab included) stop a plain flow item: they may be whitespace that the exact
  // reader trims or a comment marker needs.
  for (int c = 0; c < 0x20; ++c) table[c] |= kStopsFlowValue | kStopsFlowKey;
  add(",[]{}\"'#\x7F", kStopsFlowValue | kStopsFlowKey);
  add(":", kStopsFlowKey);
  add("\"'", kFlowQuote);
  add("[{", kFlowOpen);
  add("]}", kFlowClose);
  add(",", kFlowComma);
  add(":", kFlowColon);
  return table;
}();

inline bool is(char c, std::uint16_t classes) {
  return (kClasses[static_cast<unsigned char>(c)] & classes) != 0;
}

}  // namespace chars

// A plain scalar can start with `c` and need no further look at its start: printable ASCII
// other than the quotes and the refused indicators.
inline bool is_plain_start(char c) {
  return chars::is(c, chars::kPlainStart);
}

}  // namespace corvane
