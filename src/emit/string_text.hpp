// The writers of a string in the style chosen for it (emit/style.hpp): plain, single quotes,
// double quotes with escapes, and the literal block scalar. Each only writes; each returns false
// only when memory ran out.
#pragma once

#include <cstddef>
#include <string_view>

#include "emit/output.hpp"
#include "emit/style.hpp"

namespace corvane::emit {

bool write_single_quoted(Output& output, std::string_view text);
bool write_double_quoted(Output& output, std::string_view text);

// `text` in a one-line style: Plain, Single or Double (the styles of keys).
bool write_styled(Output& output, std::string_view text, Style style);

// `|` with its indicators and a line feed, then each line of `text` at `column` + `indent`
// (empty lines stay empty). `text` is one that choose_style gave Style::Literal.
bool write_literal(Output& output, std::string_view text, std::size_t column, std::size_t indent);

}  // namespace corvane::emit
