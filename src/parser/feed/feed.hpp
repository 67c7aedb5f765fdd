// Cuts the input into numbered physical lines, with room to give one line back.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace corvane {

struct Line {
  std::uint64_t number;   // 1-based
  std::string_view text;  // without its line feed and the carriage return before it
};

class LineFeed {
 public:
  explicit LineFeed(std::string_view input);

  std::optional<Line> next();
  // Gives back the line just read; the next call of `next` returns it again.
  void push_back(Line line) { pushed_back_ = line; }

 private:
  std::string_view input_;
  std::size_t position_ = 0;
  bool finished_ = false;
  std::uint64_t next_number_ = 1;
  std::optional<Line> pushed_back_;
};

// Removes every carriage return at the end of a line.
inline std::string_view strip_carriage_returns(std::string_view text) {
  while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  return text;
}

}  // namespace corvane
