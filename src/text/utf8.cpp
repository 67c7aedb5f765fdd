// Unicode White_Space on UTF-8 text, out of line: the inline checks of utf8.hpp settle
// printable ASCII, and only the rest comes here.
#include "text/utf8.hpp"

namespace corvane {
namespace {

inline unsigned char byte_at(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

bool is_ascii_whitespace(unsigned char c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

// True when the three bytes starting at `p` encode one of the White_Space characters
// U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F or U+3000.
bool is_three_byte_whitespace(unsigned char b0, unsigned char b1, unsigned char b2) {
  switch (b0) {
    case 0xE1: return b1 == 0x9A && b2 == 0x80;
    case 0xE2:
      if (b1 == 0x80) return (b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF;
      return b1 == 0x81 && b2 == 0x9F;
    case 0xE3: return b1 == 0x80 && b2 == 0x80;
    default: return false;
  }
}

bool is_two_byte_whitespace(unsigned char b0, unsigned char b1) {
  return b0 == 0xC2 && (b1 == 0x85 || b1 == 0xA0);
}

}  // namespace

std::size_t whitespace_length_at(std::string_view text) {
  if (text.empty()) return 0;
  unsigned char b0 = byte_at(text, 0);
  if (b0 < 0x80) return is_ascii_whitespace(b0) ? 1 : 0;
  if (text.size() >= 2 && is_two_byte_whitespace(b0, byte_at(text, 1))) return 2;
  if (text.size() >= 3 && is_three_byte_whitespace(b0, byte_at(text, 1), byte_at(text, 2))) {
    return 3;
  }
  return 0;
}

std::string_view trim_start_unicode(std::string_view text) {
  while (!text.empty()) {
    if (std::size_t n = whitespace_length_at(text)) {
      text.remove_prefix(n);
    } else {
      break;
    }
  }
  return text;
}

std::string_view trim_end_unicode(std::string_view text) {
  while (!text.empty()) {
    std::size_t n = text.size();
    unsigned char last = byte_at(text, n - 1);
    if (last < 0x80) {
      if (!is_ascii_whitespace(last)) break;
      text.remove_suffix(1);
    } else if (n >= 2 && is_two_byte_whitespace(byte_at(text, n - 2), last)) {
      text.remove_suffix(2);
    } else if (n >= 3 &&
               is_three_byte_whitespace(byte_at(text, n - 3), byte_at(text, n - 2), last)) {
      text.remove_suffix(3);
    } else {
      break;
    }
  }
  return text;
}

}  // namespace corvane
