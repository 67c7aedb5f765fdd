// The style of a string in the written YAML: plain, single-quoted, double-quoted or a literal
// block scalar, chosen once from the text alone.
#pragma once

#include <cstdint>
#include <string_view>

namespace corvane::emit {

enum class Style : std::uint8_t { Plain, Single, Double, Literal };

// The plainest style that the loader, and YAML 1.1 readers such as PyYAML, read back as `text`
// itself: plain where it reads back exactly, then single quotes (any one-line text of printable
// characters), a literal block scalar for text of several lines that one holds exactly when
// `block_allowed` (a value, not a key), and double quotes with escapes for everything else.
// The byte after `text` must be readable (a str's UTF-8 ends in a null byte).
Style choose_style(std::string_view text, bool block_allowed);

}  // namespace corvane::emit
