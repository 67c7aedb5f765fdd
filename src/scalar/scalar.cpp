// Typing of plain scalars (null, bools, integers, floats) and the classify functions for each
// context.
#include "scalar/scalar.hpp"

#include "scalar/number.hpp"

namespace corvane {
namespace {

// Position of the first blank that is directly followed by `#`, or npos.
std::size_t find_comment(std::string_view text) {
  for (std::size_t i = find(text, 1, '#'); i != std::string_view::npos;
       i = find(text, i + 1, '#')) {
    if (starts_comment(text, i)) return i - 1;
  }
  return std::string_view::npos;
}

// Inlined into its callers: a scalar returned from a call and then copied would be read back
// before its parts are written out.
template <bool Yaml11Bools>
CORVANE_ALWAYS_INLINE inline Scalar infer_word_kind(std::string_view text) {
  // Tested by length, each group at once: most words are none of these, and a test that
  // fails the same way each time costs nothing, where a jump on the first letter is
  // mispredicted from one word to the next.
  const auto any_of = [text](std::string_view a, std::string_view b, std::string_view c) {
    // Bitwise, so that the three tests make one branch.
    const auto is = [text](std::string_view word) { return static_cast<unsigned>(text == word); };
    return (is(a) | is(b) | is(c)) != 0;
  };
  const std::size_t size = text.size();
  if (size == 4) {
    if (any_of("null", "Null", "NULL")) return Scalar::null();
    if (any_of("true", "True", "TRUE")) return Scalar::boolean(true);
  } else if (size == 5) {
    if (any_of("false", "False", "FALSE")) return Scalar::boolean(false);
  } else if (size == 1) {
    if (text[0] == '~') return Scalar::null();
    if constexpr (Yaml11Bools) {
      if (text[0] == 'y' || text[0] == 'Y') return Scalar::boolean(true);
      if (text[0] == 'n' || text[0] == 'N') return Scalar::boolean(false);
    }
  } else if constexpr (Yaml11Bools) {
    if (size == 2) {
      if (any_of("on", "On", "ON")) return Scalar::boolean(true);
      if (any_of("no", "No", "NO")) return Scalar::boolean(false);
    } else if (size == 3) {
      if (any_of("yes", "Yes", "YES")) return Scalar::boolean(true);
      if (any_of("off", "Off", "OFF")) return Scalar::boolean(false);
    }
  }
  return Scalar::view(text);
}

// The parts shared by the three classify functions: leading whitespace, the refused
// indicators and quoted scalars; `plain` types what is left. Every branch returns its result
// directly, so it is built in place.
template <class Plain>
CORVANE_ALWAYS_INLINE inline Result<Scalar> classify_with(std::string_view text, std::uint64_t line,
                                                          Plain plain) {
  text = trim_start(text);
  if (text.empty()) return Scalar::null();
  switch (text[0]) {
    case '!': return unsupported(line, "Tags are not supported in Corvane");
    case '&': return unsupported(line, "Anchors are not supported in Corvane");
    case '*': return unsupported(line, "Aliases are not supported in Corvane");
    case '"': return parse_double_quoted(text, line);
    case '\'': return parse_single_quoted(text, line);
    default: return plain(text);
  }
}

// The typing itself, built straight into the caller's result: a scalar made in one function
// and copied whole in another would be read back before its parts are written out, which
// stalls the processor on every value.
template <bool Yaml11Bools>
CORVANE_ALWAYS_INLINE inline Result<Scalar> infer_plain_kind(std::string_view text) {
  if (text.empty()) return Scalar::null();
  const char first = text[0];
  if (!(is_digit(first) || first == '+' || first == '-' || first == '.')) {
    return infer_word_kind<Yaml11Bools>(text);
  }
  return infer_number_kind(text);
}

}  // namespace

std::string_view strip_comment(std::string_view text) {
  std::size_t cut = find_comment(text);
  if (cut != std::string_view::npos) text = text.substr(0, cut);
  return trim_end(text);
}

template <bool Yaml11Bools>
Result<Scalar> infer_kind(std::string_view text) {
  return infer_plain_kind<Yaml11Bools>(text);
}

template <bool Yaml11Bools>
Result<Scalar> classify_scalar(std::string_view text, std::uint64_t line) {
  return classify_with(text, line, [](std::string_view plain) -> Result<Scalar> {
    return infer_plain_kind<Yaml11Bools>(strip_comment(plain));
  });
}

template <bool Yaml11Bools>
Result<Scalar> classify_key_scalar(std::string_view text, std::uint64_t line) {
  return classify_with(text, line, [line](std::string_view plain) -> Result<Scalar> {
    if (find_comment(plain) != std::string_view::npos) {
      return syntax_error(line, "Mapping key ends in a comment; the ':' separator is inside it");
    }
    return infer_plain_kind<Yaml11Bools>(trim_end(plain));
  });
}

template <bool Yaml11Bools>
Result<Scalar> classify_value_scalar(std::string_view text, std::uint64_t line) {
  return classify_with(text, line, [line](std::string_view plain) -> Result<Scalar> {
    return classify_plain_value<Yaml11Bools>(plain, line);
  });
}

template <bool Yaml11Bools>
Result<Scalar> classify_plain_value(std::string_view text, std::uint64_t line,
                                    const char* readable_end) {
  // The first of a blank followed by `#` (a comment) and `: ` (a refused separator) decides.
  for (std::size_t i = find_either_from_start(text, ':', '#', readable_end);
       i != std::string_view::npos; i = find_either(text, i + 1, ':', '#')) {
    if (text[i] == '#') {
      if (starts_comment(text, i)) {
        text = text.substr(0, i - 1);
        break;
      }
    } else if (i + 1 < text.size() && text[i + 1] == ' ') {
      return syntax_error(line,
                          "Unexpected ':' in a plain scalar value (nested mappings must use "
                          "quotes or a new line)");
    }
  }
  return infer_plain_kind<Yaml11Bools>(trim_end(text));
}

template Result<Scalar> infer_kind<false>(std::string_view);
template Result<Scalar> infer_kind<true>(std::string_view);
template Result<Scalar> classify_scalar<false>(std::string_view, std::uint64_t);
template Result<Scalar> classify_scalar<true>(std::string_view, std::uint64_t);
template Result<Scalar> classify_key_scalar<false>(std::string_view, std::uint64_t);
template Result<Scalar> classify_key_scalar<true>(std::string_view, std::uint64_t);
template Result<Scalar> classify_value_scalar<false>(std::string_view, std::uint64_t);
template Result<Scalar> classify_value_scalar<true>(std::string_view, std::uint64_t);
template Result<Scalar> classify_plain_value<false>(std::string_view, std::uint64_t, const char*);
template Result<Scalar> classify_plain_value<true>(std::string_view, std::uint64_t, const char*);

}  // namespace corvane
