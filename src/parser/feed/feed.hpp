// Cuts the input into numbered physical lines, with room to give one line back.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "text/bytes.hpp"

namespace corvane {

struct Line {
  std::uint64_t number;   // 1-based
  std::string_view text;  // without its line feed and the carriage return before it
  std::size_t indent;     // leading spaces of `text`
};

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
