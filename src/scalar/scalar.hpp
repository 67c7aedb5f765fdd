// Typing of plain scalars and the classify functions that read any scalar (plain or quoted)
// as it stands in a block or flow context. The Scalar type and the quoted scalars have
// headers of their own, included here.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "base/attributes.hpp"
#include "error/error.hpp"
#include "scalar/quoted.hpp"
#include "scalar/value.hpp"
#include "text/bytes.hpp"
#include "text/chars.hpp"
#include "text/utf8.hpp"

namespace corvane {

// Cuts `text` at the first blank followed by `#`, then trims the end.
std::string_view strip_comment(std::string_view text);

// The text that is typed of a scalar that stands as `text` (whitespace and a comment around it
// left out), when it is written plain; nothing for a quoted scalar.
inline std::optional<std::string_view> plain_source(std::string_view text) {
  text = trim_start(text);
  if (!text.empty() && (text[0] == '"' || text[0] == '\'')) return std::nullopt;
  return strip_comment(text);
}

// Types a plain text that has no surrounding whitespace and no comment. Never fails; the
// result type lets callers that return one have it built in place.
template <bool Yaml11Bools>
Result<Scalar> infer_kind(std::string_view text);

// Block mapping key, block value (or sequence item) and flow item/key/value.
template <bool Yaml11Bools>
Result<Scalar> classify_key_scalar(std::string_view text, std::uint64_t line);
template <bool Yaml11Bools>
Result<Scalar> classify_value_scalar(std::string_view text, std::uint64_t line);
template <bool Yaml11Bools>
Result<Scalar> classify_scalar(std::string_view text, std::uint64_t line);

// classify_value_scalar for a text whose first byte passes is_plain_start. The bytes after the
// text up to `readable_end` (null when unknown) may be read.
template <bool Yaml11Bools>
Result<Scalar> classify_plain_value(std::string_view text, std::uint64_t line,
                                    const char* readable_end = nullptr);
// classify_key_scalar, with its common case settled inline: a plain key without any `#`
// cannot hold a comment, which leaves only its typing.
template <bool Yaml11Bools>
inline Result<Scalar> classify_key_scalar_inline(std::string_view text, std::uint64_t line) {
  if (!text.empty() && is_plain_start(text[0]) && find(text, 0, '#') == std::string_view::npos) {
    return infer_kind<Yaml11Bools>(trim_end(text));
  }
  return classify_key_scalar<Yaml11Bools>(text, line);
}

}  // namespace corvane
