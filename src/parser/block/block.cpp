// Block scalars (| and >): the header with its chomping and indentation indicators, and the
// assembly of the lines below it into the value.
#include "parser/block/block.hpp"

#include "scalar/scalar.hpp"

namespace corvane {

namespace {

unexpected<LoadError> bad_header(std::uint64_t line) {
  return syntax_error(line, "invalid block scalar header");
}

// Only spaces and tabs (or nothing). Content lines fail at their first byte after the
// indentation, so this rarely reads far.
bool is_blank_line(std::string_view text) {
  for (char c : text) {
    if (c != ' ' && c != '\t') return false;
  }
  return true;
}

void append_line_feeds(std::string& out, std::size_t count) {
  out.append(count, '\n');
}

}  // namespace

Result<BlockHeader> parse_block_header(std::string_view text, std::uint64_t line) {
  if (text.empty() || (text[0] != '|' && text[0] != '>')) return bad_header(line);
  BlockHeader header;
  header.folded = text[0] == '>';
  std::string_view rest = text.substr(1);
  for (std::size_t i = find(rest, 1, '#'); i != std::string_view::npos;
       i = find(rest, i + 1, '#')) {
    if (starts_comment(rest, i)) {
      rest = rest.substr(0, i - 1);
      break;
    }
  }
  bool has_chomping = false;
  for (char c : trim_end(rest)) {
    if (c == '+' || c == '-') {
      if (has_chomping) return bad_header(line);
      has_chomping = true;
      header.chomping = c == '+' ? Chomping::Keep : Chomping::Strip;
    } else if (c >= '1' && c <= '9') {
      if (header.indent) return bad_header(line);
      header.indent = static_cast<std::size_t>(c - '0');
    } else {
      return bad_header(line);
    }
  }
  return header;
}

std::string assemble_block(std::string_view lines, std::size_t indent, bool folded,
                           Chomping chomping) {
  // Each line gives at most its bytes and a line feed, and Clip only ever puts back one that
  // it took away: the text never outgrows its first and only buffer.
  std::string out;
  out.reserve(lines.size() + 1);
  // The lines in order, each without its line feed and the carriage returns before it.
  std::size_t position = 0;
  const auto next_line = [&] {
    std::size_t end = lines.find('\n', position);
    if (end == std::string_view::npos) end = lines.size();
    const std::string_view text = lines.substr(position, end - position);
    position = end + 1;
    return strip_carriage_returns(text);
  };

  if (!folded) {
    while (position <= lines.size()) {
      const std::string_view text = next_line();
      if (text.size() > indent) out.append(text.substr(indent));
      out.push_back('\n');
    }
  } else {
    enum class Previous { Start, Normal, MoreIndented } previous = Previous::Start;
    std::size_t blank_lines = 0;
    while (position <= lines.size()) {
      const std::string_view text = next_line();
      if (is_blank_line(text)) {
        ++blank_lines;
        continue;
      }
      std::string_view body = text.substr(indent);
      const bool more = !body.empty() && body[0] == ' ';
      if (previous == Previous::Start) {
        append_line_feeds(out, blank_lines);
      } else if (more || previous == Previous::MoreIndented) {
        append_line_feeds(out, blank_lines + 1);
      } else if (blank_lines > 0) {
        append_line_feeds(out, blank_lines);
      } else {
        out.push_back(' ');
      }
      out.append(body);
      previous = more ? Previous::MoreIndented : Previous::Normal;
      blank_lines = 0;
    }
    if (previous != Previous::Start) out.push_back('\n');
    append_line_feeds(out, blank_lines);
  }

  if (chomping != Chomping::Keep) {
    std::size_t end = out.find_last_not_of('\n');
    out.resize(end == std::string::npos ? 0 : end + 1);
    if (chomping == Chomping::Clip && !out.empty()) out.push_back('\n');
  }
  return out;
}

Result<std::string> read_block_scalar(std::string_view text, std::uint64_t line,
                                      std::size_t parent_indent, LineFeed& feed) {
  auto header = parse_block_header(text, line);
  if (!header) return unexpected(std::move(header.error()));

  std::optional<std::size_t> content_indent;
  if (header->indent) content_indent = parent_indent + *header->indent;
  std::size_t max_blank_indent = 0;
  // The scalar's lines follow each other in the input, so the bytes from the first to the
  // end of the last are all of them: nothing is kept per line, however many there are.
  const char* first = nullptr;
  const char* end = nullptr;
  const auto take = [&](std::string_view body) {
    if (first == nullptr) first = body.data();
    end = body.data() + body.size();
  };

  while (auto next = feed.next()) {
    std::string_view body = strip_carriage_returns(next->text);
    if (body.empty()) {
      take(body);
      continue;
    }
    const std::size_t spaces = next->indent;
    if (is_blank_line(body.substr(spaces))) {
      if (body[0] == '\t') return syntax_error(next->number, kTabMessage);
      if (!content_indent && spaces > max_blank_indent) max_blank_indent = spaces;
      take(body);
      continue;
    }
    if (body[spaces] == '\t') return syntax_error(next->number, kTabMessage);
    if (content_indent) {
      if (spaces < *content_indent) {
        feed.push_back(*next);
        break;
      }
      take(body);
      continue;
    }
    if (spaces <= parent_indent) {
      // The scalar has no content: its blank lines are not part of anything.
      feed.push_back(*next);
      return std::string();
    }
    if (max_blank_indent > spaces) {
      return syntax_error(next->number,
                          "A leading empty line in a block scalar is more indented than the "
                          "first content line");
    }
    content_indent = spaces;
    take(body);
  }
  // Without content, or (with an indentation indicator) without any line, the text is empty.
  if (!content_indent || first == nullptr) return std::string();
  return assemble_block(std::string_view(first, static_cast<std::size_t>(end - first)),
                        *content_indent, header->folded, header->chomping);
}

}  // namespace corvane
