// The flow collection readers' non-template parts: the bracket outline that the exact reader
// steps through, the checks of what follows a closing bracket, and the quoting of that rest
// for its error message.
#include "flow/flow.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstdio>

#include "text/printable.hpp"

namespace corvane {

namespace {

using text::is_printable;

// Bytes that the bracket and entry scanners stop at; every other byte is stepped over.
constexpr std::uint16_t kQuote = chars::kFlowQuote;
constexpr std::uint16_t kOpen = chars::kFlowOpen;
constexpr std::uint16_t kClose = chars::kFlowClose;
constexpr std::uint16_t kComma = chars::kFlowComma;
constexpr std::uint16_t kColon = chars::kFlowColon;

// The first position at or after `i` and before `end` holding one of the `wanted` bytes.
std::size_t skip_to(std::string_view text, std::size_t i, std::size_t end, std::uint16_t wanted) {
  while (i < end && !chars::is(text[i], wanted)) ++i;
  return i;
}

bool is_open(char c) {
  return c == '[' || c == '{';
}
bool is_close(char c) {
  return c == ']' || c == '}';
}

// Position just past the quoted run that opens at `i`, or npos when it reaches `end`.
std::size_t skip_quoted_run(std::string_view text, std::size_t i, std::size_t end) {
  const std::size_t close = find_closing_quote(text.substr(i, end - i));
  return close == std::string_view::npos ? close : i + close + 1;
}

bool is_quote(char c) {
  return c == '"' || c == '\'';
}

unexpected<LoadError> unclosed(char close, std::uint64_t line) {
  return syntax_error(line, std::string("Unclosed flow collection: missing '") + close + "'");
}

unexpected<LoadError> mismatched(char close, char found, std::uint64_t line) {
  return syntax_error(
      line, std::string("Mismatched brackets: expected '") + close + "', found '" + found + "'");
}

char closing_for(char open) {
  return open == '[' ? ']' : '}';
}

}  // namespace

Result<std::size_t> FlowOutline::strip_brackets() {
  const char close = closing_for(text_[0]);
  if (text_.size() < 2) return unclosed(close, line_);
  std::vector<std::size_t> open_stack;  // numbers of the nested brackets still open
  std::size_t i = 1;
  while ((i = skip_to(text_, i, text_.size(), kQuote | kOpen | kClose)) < text_.size()) {
    const char c = text_[i];
    if (is_quote(c)) {
      i = skip_quoted_run(text_, i, text_.size());
      if (i == std::string_view::npos) return unclosed(close, line_);
      continue;
    }
    if (is_open(c)) {
      open_stack.push_back(nested_.size());
      nested_.push_back(NestedBracket{i, 0, 0});
    } else if (is_close(c)) {
      if (open_stack.empty()) {
        if (c != close) return mismatched(close, c, line_);
        return i;
      }
      NestedBracket& bracket = nested_[open_stack.back()];
      open_stack.pop_back();
      bracket.close = i;
      bracket.after = nested_.size();
    }
    ++i;
  }
  return unclosed(close, line_);
}

std::size_t FlowOutline::next_token(std::size_t from, std::size_t end, std::size_t& ordinal) const {
  std::size_t i = from;
  while ((i = skip_to(text_, i, end, kQuote | kOpen | kClose | kComma)) < end) {
    const char c = text_[i];
    if (is_quote(c)) {
      i = skip_quoted_run(text_, i, end);
      if (i == std::string_view::npos) return end;
    } else if (is_open(c)) {
      assert(ordinal < nested_.size() && nested_[ordinal].open == i);
      const NestedBracket& bracket = nested_[ordinal];
      i = bracket.close + 1;
      ordinal = bracket.after;
    } else if (c == ',' || is_close(c)) {
      return i;
    } else {
      ++i;
    }
  }
  return end;
}

Result<std::size_t> FlowOutline::split_at_colon(std::size_t from, std::size_t end,
                                                std::size_t& ordinal) const {
  std::size_t i = from;
  while ((i = skip_to(text_, i, end, kQuote | kOpen | kClose | kColon)) < end) {
    const char c = text_[i];
    if (is_quote(c)) {
      i = skip_quoted_run(text_, i, end);
      if (i == std::string_view::npos) break;
    } else if (is_open(c)) {
      assert(ordinal < nested_.size() && nested_[ordinal].open == i);
      const NestedBracket& bracket = nested_[ordinal];
      i = bracket.close + 1;
      ordinal = bracket.after;
    } else if (c == ':') {
      return i;
    } else if (is_close(c)) {
      break;
    } else {
      ++i;
    }
  }
  return syntax_error(line_, "Flow map entry missing ':' separator");
}

Result<std::size_t> FlowOutline::check_nested(std::size_t open, std::size_t ordinal,
                                              std::size_t item_end) const {
  const NestedBracket& bracket = nested_[ordinal];
  const char close = closing_for(text_[open]);
  if (text_[bracket.close] != close) return mismatched(close, text_[bracket.close], line_);
  if (auto rest = check_rest(bracket.close + 1, item_end); !rest) {
    return unexpected(std::move(rest.error()));
  }
  return bracket.close;
}

Result<void> FlowOutline::check_rest(std::size_t from, std::size_t end) const {
  std::string_view rest = trim_start(text_.substr(from, end - from));
  if (rest.empty() || rest[0] == '#') return {};
  return syntax_error(line_,
                      "Unexpected content after flow collection: " + quote_for_message(rest));
}

std::string quote_for_message(std::string_view rest) {
  std::string out;
  out.reserve(rest.size() + 2);
  out.push_back('"');
  std::size_t i = 0;
  while (i < rest.size()) {
    const std::size_t start = i;
    const char32_t code_point = decode_utf8(rest, i);
    switch (code_point) {
      case '"': out.append("\\\""); continue;
      case '\\': out.append("\\\\"); continue;
      case '\t': out.append("\\t"); continue;
      case '\r': out.append("\\r"); continue;
      case '\n': out.append("\\n"); continue;
      case '\0': out.append("\\0"); continue;
      default: break;
    }
    if (is_printable(code_point) && !(code_point == 0xFFFD && i - start != 3)) {
      out.append(rest.substr(start, i - start));
    } else {
      char escaped[16];
      std::snprintf(escaped, sizeof escaped, "\\u{%x}", static_cast<unsigned>(code_point));
      out.append(escaped);
    }
  }
  out.push_back('"');
  return out;
}

}  // namespace corvane
