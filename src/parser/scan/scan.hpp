// Line-level scanning: indentation, blank and comment lines, refused line forms, and the
// colon that separates a block mapping key from its value.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "error/error.hpp"

namespace corvane {

struct ScannedLine {
  std::size_t indent;        // leading spaces
  std::string_view content;  // from the first non-space character to the end of the line
};

// Nothing for a blank or comment-only line.
Result<std::optional<ScannedLine>> scan_line(std::string_view text, std::uint64_t line);

// Refuses directives, document markers, explicit keys and a tab right after a dash.
Result<void> check_unsupported_form(std::string_view content, std::uint64_t line);
inline Result<void> check_unsupported(std::string_view content, std::uint64_t line) {
  // Only lines that start with one of these bytes can take a refused form.
  if (content.empty()) return {};
  switch (content[0]) {
    case '%':
    case '-':
    case '.':
    case '?': return check_unsupported_form(content, line);
    default: return {};
  }
}

// Index of the separator colon of a block mapping entry, if the content is one.
std::optional<std::size_t> find_map_colon(std::string_view content);

inline bool is_sequence_entry(std::string_view content) {
  return content == "-" || content.starts_with("- ");
}

}  // namespace corvane
