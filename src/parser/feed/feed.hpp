// Cuts the input into numbered physical lines, with room to give one line back.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scalar/scalar.hpp"

namespace corvane {

struct Line {
  std::uint64_t number;   // 1-based
  std::string_view text;  // without its line feed and the carriage return before it
  std::size_t indent;     // leading spaces of `text`
};

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

  // The next line with its indentation, counted from the line's start.
  std::optional<Line> next() {
    if (pushed_back_) [[unlikely]] {
      Line line = *pushed_back_;
      pushed_back_.reset();
      return line;
    }
    if (position_ >= input_.size()) return std::nullopt;
    // A line feed is not a space, so the count stops within the line.
    const std::size_t indent =
        count_indentation(input_.data() + position_, input_.size() - position_);
    return Line{next_number_++, take_line(position_ + indent), indent};
  }

  // One past the last byte of the input: every line is a view of it, so the bytes from a
  // line up to here may be read.
  const char* input_end() const { return input_.data() + input_.size(); }

  // Gives back the line just read; the next call of `next` returns it again.
  void push_back(Line line) { pushed_back_ = line; }

 private:
  // The line that starts at position_, without its line feed and the carriage return before
  // it; position_ moves to the next line. No line feed comes before `from`.
  std::string_view take_line(std::size_t from) {
    const std::size_t start = position_;
    const std::size_t end = next_line_feed(from);
    std::string_view text(input_.data() + start, end - start);
    if (end == input_.size()) {
      position_ = end;
    } else {
      position_ = end + 1;
      if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    }
    return text;
  }

  // Offset of the first line feed at or after `from` (the end of the indentation already
  // read), or the input's size. The search reads 64 bytes at a time: the rest of almost every
  // line fits in the first read, so the test for a hit is taken the same way line after line.
  // Keeping the line feeds of one read for the lines after it saves work on short lines, but
  // its test for an empty store goes one way or the other at random and costs more.
  std::size_t next_line_feed(std::size_t from) {
    std::size_t at = from;
    for (; at + 64 <= input_.size(); at += 64) {
      if (const std::uint64_t bits = line_feed_bits(input_.data() + at)) {
        return at + static_cast<std::size_t>(std::countr_zero(bits));
      }
    }
    const void* feed = std::memchr(input_.data() + at, '\n', input_.size() - at);
    return feed == nullptr
               ? input_.size()
               : static_cast<std::size_t>(static_cast<const char*>(feed) - input_.data());
  }

  // Bit i set when byte i of the 64 at `chunk` is a line feed.
  static std::uint64_t line_feed_bits(const char* chunk) {
#if defined(__SSE2__)
    const __m128i line_feeds = _mm_set1_epi8('\n');
    const auto bits = [&](std::size_t at) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + at));
      return std::uint64_t{
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, line_feeds)))};
    };
    return bits(0) | bits(16) << 16 | bits(32) << 32 | bits(48) << 48;
#else
    constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
    constexpr std::uint64_t kLows = ~kHighs;
    std::uint64_t out = 0;
    for (std::size_t word_at = 0; word_at < 64; word_at += 8) {
      std::uint64_t word;
      std::memcpy(&word, chunk + word_at, 8);
      word ^= 0x0A0A0A0A0A0A0A0AULL;
      // The high bit of each byte that is exactly zero, then those eight bits gathered into
      // the top byte by one multiplication.
      const std::uint64_t zeros = ~(((word & kLows) + kLows) | word) & kHighs;
      out |= ((zeros >> 7) * 0x0102040810204080ULL >> 56) << word_at;
    }
    return out;
#endif
  }

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
