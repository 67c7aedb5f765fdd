// Line-level scanning: indentation, blank and comment lines, refused line forms, and the
// colon that separates a block mapping key from its value.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <string_view>

#include "error/error.hpp"
#include "scalar/scalar.hpp"

namespace corvane {

struct ScannedLine {
  std::size_t indent;        // leading spaces
  std::string_view content;  // from the first non-space character to the end of the line
};

// Nothing for a blank or comment-only line. The parser settles the common lines (content that
// starts with a printable ASCII character) itself and calls this for the others.
Result<std::optional<ScannedLine>> scan_line(std::string_view text, std::uint64_t line);

// Refuses directives, document markers, explicit keys and a tab right after a dash.
Result<void> check_unsupported_form(std::string_view content, std::uint64_t line);
inline Result<void> check_unsupported(std::string_view content, std::uint64_t line) {
  // Only lines that start with one of these bytes can take a refused form.
  if (content.empty()) return {};
  switch (content[0]) {
    case '-':
      // A sequence entry, the most common line of these, needs no further look.
      if (content.size() >= 2 && content[1] == ' ') return {};
      return check_unsupported_form(content, line);
    case '%':
    case '.':
    case '?': return check_unsupported_form(content, line);
    default: return {};
  }
}

// find_map_colon for content that starts with a quote.
std::optional<std::size_t> find_quoted_map_colon(std::string_view content);

// Index of the separator colon of a block mapping entry, if the content is one: the first
// colon followed by a space or by the end of the content. The bytes from the content up to
// `readable_end` (the end of the input) may be read: short content is then searched with one
// block read, and whatever follows it in the input is masked off.
inline std::optional<std::size_t> find_map_colon(std::string_view content,
                                                 const char* readable_end) {
  if (content.empty() || content[0] == '[' || content[0] == '{') return std::nullopt;
  if (content[0] == '"' || content[0] == '\'') return find_quoted_map_colon(content);
  const char* text = content.data();
  const std::size_t size = content.size();
#if defined(__SSE2__)
  if (size <= 16 && readable_end - text >= 17) {
    const auto bits_of = [](const char* at, char c) {
      return static_cast<unsigned>(_mm_movemask_epi8(
          _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)), _mm_set1_epi8(c))));
    };
    const unsigned within = (1u << size) - 1;
    const unsigned at_end = 1u << (size - 1);
    const unsigned hits = bits_of(text, ':') & (bits_of(text + 1, ' ') | at_end) & within;
    if (hits == 0) return std::nullopt;
    return static_cast<std::size_t>(std::countr_zero(hits));
  }
#else
  (void)readable_end;
#endif
  for (std::size_t i = find_either(content, 0, ':', ':'); i != std::string_view::npos;
       i = find_either(content, i + 1, ':', ':')) {
    if (i + 1 == size || text[i + 1] == ' ') return i;
  }
  return std::nullopt;
}

inline bool is_sequence_entry(std::string_view content) {
  return !content.empty() && content[0] == '-' && (content.size() == 1 || content[1] == ' ');
}

}  // namespace corvane
