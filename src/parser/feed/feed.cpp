#include "parser/feed/feed.hpp"

#include <cstring>

namespace corvane {

namespace {
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
}

LineFeed::LineFeed(std::string_view input) : input_(input) {
  // Editors that save with a byte order mark put U+FEFF before the first line; it is not
  // part of the document.
  if (input_.starts_with(kByteOrderMark)) input_.remove_prefix(kByteOrderMark.size());
}

std::optional<Line> LineFeed::next() {
  if (pushed_back_) {
    Line line = *pushed_back_;
    pushed_back_.reset();
    return line;
  }
  if (finished_) return std::nullopt;
  std::string_view rest = input_.substr(position_);
  std::string_view text;
  const void* newline = std::memchr(rest.data(), '\n', rest.size());
  if (newline != nullptr) {
    std::size_t length = static_cast<std::size_t>(static_cast<const char*>(newline) - rest.data());
    text = rest.substr(0, length);
    position_ += length + 1;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  } else {
    finished_ = true;
    if (rest.empty()) return std::nullopt;
    text = rest;
  }
  return Line{next_number_++, text};
}

}  // namespace corvane
