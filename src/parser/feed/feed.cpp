// LineFeed's constructor, which drops a leading byte order mark.
#include "parser/feed/feed.hpp"

namespace corvane {

namespace {
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
}

LineFeed::LineFeed(std::string_view input) : input_(input) {
  // Editors that save with a byte order mark put U+FEFF before the first line; it is not
  // part of the document.
  if (input_.starts_with(kByteOrderMark)) input_.remove_prefix(kByteOrderMark.size());
}

}  // namespace corvane
