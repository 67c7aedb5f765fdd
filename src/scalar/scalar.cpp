// Typing of plain scalars (null, bools, integers, floats) and the classify functions for each
// context.
#include "scalar/scalar.hpp"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <version>

// std::from_chars for double where the standard library has it; libc++ before 20 does not.
// CORVANE_PORTABLE_FLOAT forces the own conversion, so that it can be tested anywhere.
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L && !defined(CORVANE_PORTABLE_FLOAT)
#define CORVANE_FROM_CHARS_DOUBLE 1
#else
#define CORVANE_FROM_CHARS_DOUBLE 0
#include "scalar/decimal.hpp"
#endif

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

CORVANE_ALWAYS_INLINE inline bool equals_any(std::string_view text, std::string_view a,
                                             std::string_view b, std::string_view c) {
  return text == a || text == b || text == c;
}

int digit_value(unsigned char c, int radix) {
  int value;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  } else {
    return -1;
  }
  return value < radix ? value : -1;
}

constexpr std::uint64_t kTwoTo63 = std::uint64_t{1} << 63;

// The magnitude of a run of digits in `radix`, if it is at most 2^63 (the largest magnitude
// of a signed 64-bit integer, reached by -2^63).
bool parse_magnitude(std::string_view digits, int radix, std::uint64_t& out) {
  if (digits.empty()) return false;
  const auto base = static_cast<std::uint64_t>(radix);
  std::uint64_t magnitude = 0;
  if (radix == 10 && digits.size() <= 18) {
    // Eighteen decimal digits stay below 10^18 < 2^63: no overflow check is needed.
    for (char c : digits) {
      const auto d = static_cast<unsigned char>(c - '0');
      if (d > 9) return false;
      magnitude = magnitude * 10 + d;
    }
    out = magnitude;
    return true;
  }
  // Fifteen hex or twenty octal digits stay below 2^60, eighteen decimal ones below 2^63.
  const std::size_t safe_digits = radix == 16 ? 15 : radix == 8 ? 20 : 18;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const int d = digit_value(static_cast<unsigned char>(digits[i]), radix);
    if (d < 0) return false;
    const auto digit = static_cast<std::uint64_t>(d);
    // Past the safe digits, magnitude * base + digit <= 2^63 exactly when this holds.
    if (i >= safe_digits && magnitude > (kTwoTo63 - digit) / base) return false;
    magnitude = magnitude * base + digit;
  }
  out = magnitude;
  return true;
}

// Decimal, or 0x/0o with an optionally signed digit part. The text is an integer when its
// value, both signs applied, lies in the signed 64-bit range: -9223372036854775808 and
// -0x8000000000000000 are integers, -0x-8000000000000000 (that is, 2^63) is not.
bool try_integer(std::string_view text, std::int64_t& out) {
  bool negative = text[0] == '-';
  std::string_view body = text;
  if (text[0] == '+' || text[0] == '-') body.remove_prefix(1);
  int radix = 10;
  if (body.size() >= 2 && body[0] == '0') {
    if (body[1] == 'x' || body[1] == 'X') radix = 16;
    if (body[1] == 'o' || body[1] == 'O') radix = 8;
  }
  if (radix != 10) {
    body.remove_prefix(2);
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
      negative = negative != (body[0] == '-');
      body.remove_prefix(1);
    }
  }
  std::uint64_t magnitude;
  if (!parse_magnitude(body, radix, magnitude)) return false;
  if (!negative && magnitude == kTwoTo63) return false;
  out = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

// Accepts [+-]? (digits ('.' digits*)? | '.' digits) ([eE] [+-]? digits)? and nothing else.
bool is_decimal_float(std::string_view text) {
  std::size_t i = 0, n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t int_digits = 0, frac_digits = 0;
  while (i < n && is_digit(text[i])) ++i, ++int_digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && is_digit(text[i])) ++i, ++frac_digits;
  }
  if (int_digits == 0 && frac_digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < n && is_digit(text[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == n;
}

#if CORVANE_FROM_CHARS_DOUBLE
// For a well-formed decimal text whose value is out of the double range: whether it is too
// large (true) or too small (false). The decimal exponent of the first significant digit
// tells the two apart, since the limits are near 1e308 and 1e-324.
bool overflows(std::string_view text) {
  std::size_t i = 0, n = text.size();
  if (text[i] == '+' || text[i] == '-') ++i;
  std::int64_t position = 0;  // decimal exponent of the first significant digit
  bool found = false;
  std::int64_t int_digits = 0;
  while (i < n && is_digit(text[i])) {
    if (!found && text[i] != '0') found = true;
    if (found) ++int_digits;
    ++i;
  }
  if (found) position = int_digits - 1;
  if (i < n && text[i] == '.') {
    ++i;
    std::int64_t k = 0;
    while (i < n && is_digit(text[i])) {
      ++k;
      if (!found && text[i] != '0') {
        found = true;
        position = -k;
      }
      ++i;
    }
  }
  std::int64_t exponent = 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    for (; i < n; ++i) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  return position + exponent >= 0;
}
#endif

// The value of a well-formed decimal text when a single correctly rounded operation gives it:
// its digits, without the point, form an integer of at most 2^53 and its power of ten lies
// within 10^±22, so both operands are exact doubles. Most floats in configuration files
// qualify; the others go through the general conversion.
bool try_exact_decimal(std::string_view text, double& out) {
  static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  constexpr std::uint64_t kMaxExactInteger = std::uint64_t{1} << 53;
  const std::size_t n = text.size();
  std::size_t i = 0;
  const bool negative = text[0] == '-';
  if (text[0] == '+' || text[0] == '-') ++i;
  std::uint64_t mantissa = 0;
  int significant_digits = 0;
  int exponent = 0;
  const auto take_digit = [&](char c) {
    // Leading zeros add nothing; past 19 digits the mantissa could overflow.
    if (mantissa == 0 && c == '0') return true;
    if (++significant_digits > 19) return false;
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
    return true;
  };
  for (; i < n && is_digit(text[i]); ++i) {
    if (!take_digit(text[i])) return false;
  }
  if (i < n && text[i] == '.') {
    for (++i; i < n && is_digit(text[i]); ++i) {
      if (!take_digit(text[i])) return false;
      --exponent;
    }
  }
  if (i < n) {  // the exponent part, which the text is known to hold well-formed
    ++i;
    const bool negative_exponent = text[i] == '-';
    if (text[i] == '+' || text[i] == '-') ++i;
    if (n - i > 3) return false;
    int written = 0;
    for (; i < n; ++i) written = written * 10 + (text[i] - '0');
    exponent += negative_exponent ? -written : written;
  }
  if (mantissa > kMaxExactInteger || exponent < -22 || exponent > 22) return false;
  // Where double operations are carried out in a wider format (x87), the integer and the power
  // of ten would be rounded to that format first and to double only on the way out.
  if constexpr (FLT_EVAL_METHOD != 0) return false;
  double value = static_cast<double>(mantissa);
  value = exponent < 0 ? value / kPowersOfTen[-exponent] : value * kPowersOfTen[exponent];
  out = negative ? -value : value;
  return true;
}

bool try_float(std::string_view text, double& out) {
  if (text.size() == 4 && text[0] == '.') {
    if (equals_any(text, ".inf", ".Inf", ".INF")) {
      out = std::numeric_limits<double>::infinity();
      return true;
    }
    if (equals_any(text, ".nan", ".NaN", ".NAN")) {
      out = std::bit_cast<double>(std::uint64_t{0x7FF8000000000000});
      return true;
    }
  }
  if (text.size() == 5 && (text[0] == '+' || text[0] == '-')) {
    std::string_view rest = text.substr(1);
    if (equals_any(rest, ".inf", ".Inf", ".INF")) {
      out = text[0] == '-' ? -std::numeric_limits<double>::infinity()
                           : std::numeric_limits<double>::infinity();
      return true;
    }
  }
  bool has_float_mark = false;
  for (char c : text) has_float_mark |= c == '.' || c == 'e' || c == 'E';
  if (!has_float_mark) return false;
  if (!is_decimal_float(text)) return false;
  if (try_exact_decimal(text, out)) return true;
#if !CORVANE_FROM_CHARS_DOUBLE
  out = decimal::parse_decimal(text);
  return true;
#else
  const bool negative = text[0] == '-';
  std::string_view number = text[0] == '+' ? text.substr(1) : text;
  double value = 0.0;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value,
                                      std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    value = overflows(text) ? std::numeric_limits<double>::infinity() : 0.0;
    if (negative) value = -value;
  } else if (error != std::errc() || end != number.data() + number.size()) {
    return false;
  }
  out = value;
  return true;
#endif
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

}  // namespace

std::string_view strip_comment(std::string_view text) {
  std::size_t cut = find_comment(text);
  if (cut != std::string_view::npos) text = text.substr(0, cut);
  return trim_end(text);
}

namespace {

enum class CommonNumber : std::uint8_t { Neither, Integer, Float };

// The common numbers in one pass: a decimal integer of at most nineteen digits, a hex one of at
// most fifteen, or a decimal float of at most nineteen digits whose power of ten lies within 10^±22
// and whose digits form an integer of at most 2^53, so that one correctly rounded operation gives
// its value, as from_chars would. Anything else, a leading `+`, octal and `.5` included, is Neither
// and goes through the general path.
CORVANE_ALWAYS_INLINE inline CommonNumber read_common_number(std::string_view text,
                                                             std::int64_t& integer,
                                                             double& number) {
  const char* at = text.data();
  const char* const end = at + text.size();
  const bool negative = *at == '-';
  at += negative ? 1 : 0;
  const char* const digits = at;
  std::uint64_t mantissa = 0;
  for (; at != end && is_digit(*at); ++at)
    mantissa = mantissa * 10 + static_cast<unsigned>(*at - '0');
  const auto int_digits = static_cast<std::size_t>(at - digits);
  // Nineteen digits stay below 10^19 < 2^64.
  if (int_digits == 0 || int_digits > 19) return CommonNumber::Neither;
  if (at == end) {
    if (mantissa > kTwoTo63 - (negative ? 0 : 1)) return CommonNumber::Neither;
    integer =
        negative ? static_cast<std::int64_t>(0 - mantissa) : static_cast<std::int64_t>(mantissa);
    return CommonNumber::Integer;
  }
  if (int_digits == 1 && mantissa == 0 && (*at == 'x' || *at == 'X')) {
    // Up to fifteen hex digits, which stay below 2^60; a sign after the prefix is left to the
    // general path.
    const char* const hex_digits = ++at;
    for (; at != end; ++at) {
      const int digit = digit_value(static_cast<unsigned char>(*at), 16);
      if (digit < 0) return CommonNumber::Neither;
      mantissa = mantissa * 16 + static_cast<unsigned>(digit);
    }
    const auto count = at - hex_digits;
    if (count == 0 || count > 15) return CommonNumber::Neither;
    integer =
        negative ? static_cast<std::int64_t>(0 - mantissa) : static_cast<std::int64_t>(mantissa);
    return CommonNumber::Integer;
  }
  int exponent = 0;
  if (*at == '.') {
    const char* const fraction = ++at;
    for (; at != end && is_digit(*at); ++at)
      mantissa = mantissa * 10 + static_cast<unsigned>(*at - '0');
    const auto fraction_digits = static_cast<std::size_t>(at - fraction);
    if (int_digits + fraction_digits > 19) return CommonNumber::Neither;
    exponent = -static_cast<int>(fraction_digits);
  }
  if (at != end) {
    if (*at != 'e' && *at != 'E') return CommonNumber::Neither;
    ++at;
    const bool negative_exponent = at != end && *at == '-';
    if (at != end && (*at == '+' || *at == '-')) ++at;
    const char* const exponent_digits = at;
    // Unsigned, so that a long run of digits wraps harmlessly before it is refused.
    unsigned written = 0;
    for (; at != end && is_digit(*at); ++at)
      written = written * 10 + static_cast<unsigned>(*at - '0');
    const auto count = at - exponent_digits;
    if (at != end || count == 0 || count > 3) return CommonNumber::Neither;
    const int value = static_cast<int>(written);
    exponent += negative_exponent ? -value : value;
  }
  static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (mantissa > (std::uint64_t{1} << 53) || exponent < -22 || exponent > 22) {
    return CommonNumber::Neither;
  }
  // Where double operations are carried out in a wider format (x87), see try_exact_decimal.
  if constexpr (FLT_EVAL_METHOD != 0) return CommonNumber::Neither;
  const double value = static_cast<double>(mantissa);
  number = exponent < 0 ? value / kPowersOfTen[-exponent] : value * kPowersOfTen[exponent];
  if (negative) number = -number;
  return CommonNumber::Float;
}

// A plain text that starts like a number. Out of line, so that the typing of words keeps a
// small frame.
Result<Scalar> infer_number_kind(std::string_view text) {
  std::int64_t integer;
  double number;
  switch (read_common_number(text, integer, number)) {
    case CommonNumber::Integer: return Scalar::integer(integer);
    case CommonNumber::Float: return Scalar::floating(number);
    case CommonNumber::Neither: break;
  }
  if (try_integer(text, integer)) return Scalar::integer(integer);
  if (try_float(text, number)) return Scalar::floating(number);
  return Scalar::view(text);
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
