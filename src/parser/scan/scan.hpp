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

// The number of the line a document's root value starts on: the first line that is not blank
// or a comment; 1 for a document without content.
std::uint64_t first_content_line(std::string_view text);

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

// Whether the colon at content[i] separates a key from its value: a space or the end of the
// content follows it.
inline bool is_separator_at(std::string_view content, std::size_t i) {
  return i + 1 == content.size() || content[i + 1] == ' ';
}

// find_map_colon for content that starts with a quote.
std::optional<std::size_t> find_quoted_map_colon(std::string_view content);

// Index of the separator colon of a block mapping entry, if the content is one: the first
// colon followed by a space or by the end of the content. The bytes from the content up to
// `readable_end` (the end of the input) may be read: the first 32 bytes are then searched in
// one step whatever the content's length, and whatever follows it in the input is masked off.
inline std::optional<std::size_t> find_map_colon(std::string_view content,
                                                 const char* readable_end) {
  if (content.empty() || content[0] == '[' || content[0] == '{') return std::nullopt;
  if (content[0] == '"' || content[0] == '\'') return find_quoted_map_colon(content);
  const char* text = content.data();
  const std::size_t size = content.size();
  std::size_t searched = 0;
  if constexpr (text::kVectorBlocks) {
    if (readable_end - text >= 33) {
      if (const std::uint32_t hits = separator_bits_32(text, size)) {
        return static_cast<std::size_t>(std::countr_zero(hits));
      }
      if (size <= 32) return std::nullopt;
      searched = 32;
    }
  }
  for (std::size_t i = find(content, searched, ':'); i != std::string_view::npos;
       i = find(content, i + 1, ':')) {
    if (is_separator_at(content, i)) return i;
  }
  return std::nullopt;
}

inline bool is_sequence_entry(std::string_view content) {
  return !content.empty() && content[0] == '-' && (content.size() == 1 || content[1] == ' ');
}

}  // namespace corvane
