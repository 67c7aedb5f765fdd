// The line scanner's out-of-line parts: a line's indentation, blankness and content; the
// refused forms (directives, document markers and the like); the colon after a quoted key.
#include "parser/scan/scan.hpp"

#include "parser/feed/feed.hpp"

#include "scalar/scalar.hpp"

#include <cstring>

namespace corvane {

Result<std::optional<ScannedLine>> scan_line(std::string_view text, std::uint64_t line) {
  const std::size_t spaces = leading_spaces(text);
  if (spaces == text.size()) return std::nullopt;
  switch (text[spaces]) {
    case '\t':
      if (text.find_first_not_of(" \t", spaces) == std::string_view::npos) return std::nullopt;
      return syntax_error(line, kTabMessage);
    case '#': return std::nullopt;
    default: return ScannedLine{spaces, text.substr(spaces)};
  }
}

Result<void> check_unsupported_form(std::string_view content, std::uint64_t line) {
  if (content.empty()) return {};
  switch (content[0]) {
    case '%': return unsupported(line, "Directives are not supported in Corvane");
    case '-':
      if (content.starts_with("---")) {
        return unsupported(line, "YAML document markers are not supported in Corvane");
      }
      if (content.size() > 1 && content[1] == '\t') return syntax_error(line, kTabMessage);
      return {};
    case '.':
      if (content.starts_with("...")) {
        return unsupported(line, "YAML document markers are not supported in Corvane");
      }
      return {};
    case '?':
      if (content.size() == 1 || content[1] == ' ' || content[1] == '\t') {
        return unsupported(line, "Explicit (complex) keys and sets are not supported in Corvane");
      }
      return {};
    default: return {};
  }
}

std::uint64_t first_content_line(std::string_view text) {
  LineFeed feed(text);
  while (auto next = feed.next()) {
    auto scanned = scan_line(strip_carriage_returns(next->text), next->number);
    if (!scanned || *scanned) return next->number;
  }
  return 1;
}

std::optional<std::size_t> find_quoted_map_colon(std::string_view content) {
  std::size_t i = 0;
  while (i < content.size()) {
    const char c = content[i];
    if (c == '"' || c == '\'') {
      const std::size_t close = find_closing_quote(content.substr(i));
      if (close == std::string_view::npos) return std::nullopt;
      i += close + 1;
      continue;
    }
    if (c == ':' && is_separator_at(content, i)) return i;
    // A comment after a quoted key or scalar: whatever it holds is not a separator.
    if (starts_comment(content, i + 1)) {
      return std::nullopt;
    }
    ++i;
  }
  return std::nullopt;
}

}  // namespace corvane
