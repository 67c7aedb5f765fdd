// UTF-8: decoding and encoding one character, and Unicode White_Space (its length at a
// position, and trimming).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/chars.hpp"

namespace corvane {

// Decodes the UTF-8 character at `i`, advancing `i`. A malformed sequence (which text coming
// from a Python string never holds) reads as U+FFFD, one byte at a time.
inline char32_t decode_utf8(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || i + length > text.size()) {
    ++i;
    return length == 1 ? lead : 0xFFFD;
  }
  char32_t code_point = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    code_point = (code_point << 6) | (next & 0x3F);
  }
  i += length;
  return code_point;
}

// Writes `code_point` as UTF-8 at `out` and returns the position after it.
inline char* put_utf8(char* out, std::uint32_t code_point) {
  if (code_point < 0x80) {
    *out++ = static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code_point >> 6));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code_point >> 12));
    *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code_point >> 18));
    *out++ = static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code_point & 0x3F));
  }
  return out;
}

// Byte length of the UTF-8 character whose first byte is `lead`.
inline std::size_t utf8_length(unsigned char lead) {
  if (lead < 0xC0) return 1;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return 4;
}

// Length of the White_Space character that starts `text`, or 0.
std::size_t whitespace_length_at(std::string_view text);

// Unicode White_Space trimming on UTF-8 text. The inline checks settle the common case, a
// text that begins or ends with a printable ASCII character, without a call.
std::string_view trim_start_unicode(std::string_view text);
std::string_view trim_end_unicode(std::string_view text);
// Whether a non-ASCII White_Space character may end `text`, whose last byte is not ASCII: each
// of them is written with C2 or E1 to E3 as its first byte. Most non-ASCII text ends otherwise.
inline bool may_end_in_unicode_whitespace(std::string_view text) {
  const std::size_t n = text.size();
  return (n >= 2 && static_cast<unsigned char>(text[n - 2]) == 0xC2) ||
         (n >= 3 &&
          static_cast<unsigned char>(static_cast<unsigned char>(text[n - 3]) - 0xE1) <= 2);
}
inline std::string_view trim_start(std::string_view text) {
  return !text.empty() && is_printable_ascii(text.front()) ? text : trim_start_unicode(text);
}
inline std::string_view trim_end(std::string_view text) {
  if (text.empty() || is_printable_ascii(text.back())) return text;
  if (static_cast<unsigned char>(text.back()) >= 0x80 && !may_end_in_unicode_whitespace(text)) {
    return text;
  }
  return trim_end_unicode(text);
}
inline std::string_view trim(std::string_view text) {
  return trim_end(trim_start(text));
}

}  // namespace corvane
