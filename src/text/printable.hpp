// Which code points Python's str.isprintable() accepts: the one table behind the escaping of
// text in error messages and in the writer's quoted strings.
#pragma once

#include <algorithm>
#include <iterator>

namespace corvane::text {

struct CodePointRange {
  char32_t first;
  char32_t last;
};

// The ranges that str.isprintable() rejects, in ascending order (tools/gen_nonprintable.py).
inline constexpr CodePointRange kNonPrintable[] = {
#include "text/nonprintable.inc"
};

// A binary search of the table; the writer keeps a bitmap of the first plane for its hot path.
inline bool is_printable(char32_t code_point) {
  const auto* it =
      std::upper_bound(std::begin(kNonPrintable), std::end(kNonPrintable), code_point,
                       [](char32_t cp, const CodePointRange& range) { return cp < range.first; });
  return it == std::begin(kNonPrintable) || code_point > std::prev(it)->last;
}

}  // namespace corvane::text
