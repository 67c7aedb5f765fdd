#include "flow/flow.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstdio>

namespace corvane {

namespace {

struct CodePointRange {
  char32_t first;
  char32_t last;
};

constexpr CodePointRange kNonPrintable[] = {
#include "flow/nonprintable.inc"
};

bool is_printable(char32_t code_point) {
  auto it =
      std::upper_bound(std::begin(kNonPrintable), std::end(kNonPrintable), code_point,
                       [](char32_t cp, const CodePointRange& range) { return cp < range.first; });
  return it == std::begin(kNonPrintable) || code_point > std::prev(it)->last;
}

// Decodes the UTF-8 character at `i`, advancing `i`. A malformed sequence (which text coming
// from a Python string never holds) reads as U+FFFD, one byte at a time.
char32_t decode_utf8(std::string_view text, std::size_t& i) {
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

// Bytes that the bracket and entry scanners stop at; every other byte is stepped over.
enum FlowByte : std::uint8_t {
  kQuote = 1,
  kOpen = 2,
  kClose = 4,
  kComma = 8,
  kColon = 16,
};

constexpr std::array<std::uint8_t, 256> kFlowBytes = [] {
  std::array<std::uint8_t, 256> table{};
  table['"'] = table['\''] = kQuote;
  table['['] = table['{'] = kOpen;
  table[']'] = table['}'] = kClose;
  table[','] = kComma;
  table[':'] = kColon;
  return table;
}();

// The first position at or after `i` and before `end` holding one of the `wanted` bytes.
std::size_t skip_to(std::string_view text, std::size_t i, std::size_t end, std::uint8_t wanted) {
  while (i < end && (kFlowBytes[static_cast<unsigned char>(text[i])] & wanted) == 0) ++i;
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

namespace {

// Bytes at which the quick reader stops inside a plain item. Controls (tab included) stop it
// too: they may be whitespace that the exact reader trims or a comment marker needs.
enum PlainStop : std::uint8_t {
  kStopsValue = 1,
  kStopsKey = 2,
};

constexpr std::array<std::uint8_t, 256> kPlainStops = [] {
  std::array<std::uint8_t, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[c] = kStopsValue | kStopsKey;
  for (unsigned char c : std::string_view(",[]{}\"'#\x7F")) table[c] = kStopsValue | kStopsKey;
  table[':'] = kStopsKey;
  return table;
}();

}  // namespace

std::size_t end_of_plain(std::string_view text, std::size_t from, bool is_key) {
  const std::uint8_t mask = is_key ? kStopsKey : kStopsValue;
  std::size_t i = from;
  const std::size_t size = text.size();
#if defined(__SSE2__)
  // Sixteen bytes at a time. With the 0x20 bit set, each of `[{`, `]}`, `"`, `'`, `,` and `#`
  // meets only itself and a control byte, and control bytes stop an item anyway.
  const __m128i controls_max = _mm_set1_epi8(0x1F);
  const __m128i case_bit = _mm_set1_epi8(0x20);
  const __m128i colon = _mm_set1_epi8(is_key ? ':' : 0x7F);
  for (; i + 16 <= size; i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    const __m128i folded = _mm_or_si128(block, case_bit);
    const auto is = [](__m128i bytes, char c) { return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)); };
    __m128i stops = _mm_cmpeq_epi8(_mm_min_epu8(block, controls_max), block);
    stops = _mm_or_si128(stops, _mm_or_si128(is(folded, '{'), is(folded, '}')));
    stops = _mm_or_si128(stops, _mm_or_si128(is(folded, '"'), is(folded, '\'')));
    stops = _mm_or_si128(stops, _mm_or_si128(is(folded, ','), is(folded, '#')));
    stops = _mm_or_si128(stops, _mm_or_si128(is(block, 0x7F), _mm_cmpeq_epi8(block, colon)));
    if (const auto hits = static_cast<unsigned>(_mm_movemask_epi8(stops))) {
      return i + static_cast<std::size_t>(std::countr_zero(hits));
    }
  }
#endif
  for (; i + 4 <= size; i += 4) {
    if (kPlainStops[static_cast<unsigned char>(text[i])] & mask) return i;
    if (kPlainStops[static_cast<unsigned char>(text[i + 1])] & mask) return i + 1;
    if (kPlainStops[static_cast<unsigned char>(text[i + 2])] & mask) return i + 2;
    if (kPlainStops[static_cast<unsigned char>(text[i + 3])] & mask) return i + 3;
  }
  while (i < size && (kPlainStops[static_cast<unsigned char>(text[i])] & mask) == 0) ++i;
  return i;
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
