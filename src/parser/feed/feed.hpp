// Cuts the input into numbered physical lines, with room to give one line back.
#pragma once

#include <cstdint>
#include <cstring>
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
