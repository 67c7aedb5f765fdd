// Cuts the input into numbered physical lines, with room to give one line back.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "scalar/scalar.hpp"

namespace corvane {

struct Line {
  std::uint64_t number;   // 1-based
  std::string_view text;  // without its line feed and the carriage return before it
};

struct IndentedLine {
  std::uint64_t number;
  std::string_view text;
  std::size_t indent;  // leading spaces of `text`
};

// Offset of the first line feed in the `size` bytes at `text`, or `size`. Most lines end
// within a few blocks of where the search starts, too soon for a library call to pay off.
inline std::size_t find_line_feed(const char* text, std::size_t size) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i line_feeds = _mm_set1_epi8('\n');
  for (const std::size_t inline_end = size < 64 ? size : 64; i + 16 <= inline_end; i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    if (const auto hits =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, line_feeds)))) {
      return i + static_cast<std::size_t>(std::countr_zero(hits));
    }
  }
#endif
  const void* found = std::memchr(text + i, '\n', size - i);
  return found == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(found) - text);
}

// Leading spaces of the `size` bytes at `text`. Past the first block, four blocks at a time,
// so that deep indentation takes one or two rounds rather than a round per block, each with
// its own exit to predict.
inline std::size_t count_indentation(const char* text, std::size_t size) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i spaces = _mm_set1_epi8(' ');
  const auto space_bits = [&](std::size_t at) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    return std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, spaces)))};
  };
  if (size >= 16) {
    // Most lines are indented less than one block.
    if (const std::uint64_t same = space_bits(0); same != 0xFFFF) {
      return static_cast<std::size_t>(std::countr_one(same));
    }
    i = 16;
  }
  for (; i + 64 <= size; i += 64) {
    const std::uint64_t same = space_bits(i) | space_bits(i + 16) << 16 | space_bits(i + 32) << 32 |
                               space_bits(i + 48) << 48;
    if (same != ~std::uint64_t{0}) return i + static_cast<std::size_t>(std::countr_one(same));
  }
#endif
  return i + leading_spaces(std::string_view(text + i, size - i));
}

class LineFeed {
 public:
  explicit LineFeed(std::string_view input);

  std::optional<Line> next() {
    if (pushed_back_) [[unlikely]] {
      Line line = *pushed_back_;
      pushed_back_.reset();
      return line;
    }
    if (position_ >= input_.size()) return std::nullopt;
    const char* start = input_.data() + position_;
    const std::size_t rest = input_.size() - position_;
    const void* newline = std::memchr(start, '\n', rest);
    if (newline == nullptr) {
      position_ = input_.size();
      return Line{next_number_++, std::string_view(start, rest)};
    }
    const auto length = static_cast<std::size_t>(static_cast<const char*>(newline) - start);
    position_ += length + 1;
    std::string_view text(start, length);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return Line{next_number_++, text};
  }
  // The next line with its indentation, found in one pass: the line feed is searched for only
  // after the leading spaces, which in a deeply nested document are most of the line.
  std::optional<IndentedLine> next_indented() {
    if (pushed_back_) [[unlikely]] {
      Line line = *pushed_back_;
      pushed_back_.reset();
      return IndentedLine{line.number, line.text, leading_spaces(line.text)};
    }
    if (position_ >= input_.size()) return std::nullopt;
    const char* start = input_.data() + position_;
    const std::size_t rest = input_.size() - position_;
    // A line feed is not a space, so the count stops within the line.
    const std::size_t indent = count_indentation(start, rest);
    const std::size_t length = indent + find_line_feed(start + indent, rest - indent);
    std::string_view text(start, length);
    if (length == rest) {
      position_ = input_.size();
    } else {
      position_ += length + 1;
      if (length != 0 && text.back() == '\r') text.remove_suffix(1);
    }
    return IndentedLine{next_number_++, text, indent};
  }

  // Gives back the line just read; the next call of `next` returns it again.
  void push_back(Line line) { pushed_back_ = line; }

 private:
  std::string_view input_;
  std::size_t position_ = 0;
  std::uint64_t next_number_ = 1;
  std::optional<Line> pushed_back_;
};

// Removes every carriage return at the end of a line.
inline std::string_view strip_carriage_returns(std::string_view text) {
  while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

}  // namespace corvane
