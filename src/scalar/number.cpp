// The number scanner and the conversion of its parts: integers in the signed 64-bit range and
// correctly rounded floats. The common numbers take one pass over the text and no call.
#include "scalar/number.hpp"

#include <bit>
#include <cfloat>
#include <charconv>
#include <cstddef>
#include <limits>
#include <version>

#include "base/attributes.hpp"
#include "scalar/powers.hpp"
#include "text/chars.hpp"

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

// The largest magnitude of a signed 64-bit integer, reached by -2^63.
constexpr std::uint64_t kTwoTo63 = std::uint64_t{1} << 63;
// Every integer up to 2^53 is a double.
constexpr std::uint64_t kMaxExactInteger = std::uint64_t{1} << 53;
// Nineteen decimal digits stay below 10^19 < 2^64.
constexpr std::size_t kMantissaDecimalDigits = 19;
// A written exponent stops growing here, far past the range of a double, and cannot overflow.
constexpr std::int64_t kExponentLimit = 1'000'000'000;

// How many digits of `radix` the mantissa takes without wrapping: 10^19, 16^16 and 8^21 are at
// most 2^64.
constexpr std::size_t mantissa_digits(int radix) {
  return radix == 10 ? kMantissaDecimalDigits : radix == 16 ? 16 : 21;
}

// The digits of `Radix` (16 or 8) from `at` to the end.
template <int Radix>
CORVANE_ALWAYS_INLINE inline bool scan_radix_digits(const char* at, const char* end,
                                                    NumberParts& parts) {
  constexpr int kShift = Radix == 16 ? 4 : 3;
  const char* const digits = at;
  std::uint64_t mantissa = 0;
  for (; at != end; ++at) {
    const int digit = hex_digit_value(*at);
    if (digit < 0 || digit >= Radix) return false;
    mantissa = mantissa << kShift | static_cast<unsigned>(digit);
  }
  parts.radix = Radix;
  parts.digits = std::string_view(digits, static_cast<std::size_t>(at - digits));
  parts.mantissa = mantissa;
  return at != digits;
}

// What follows 0x or 0o (`lower` is the prefix letter in lower case): a sign, then the digits.
CORVANE_ALWAYS_INLINE inline bool scan_prefixed(const char* at, const char* end, char lower,
                                                NumberParts& parts) {
  if (at != end && (*at == '+' || *at == '-')) {
    parts.negative = parts.negative != (*at == '-');
    ++at;
  }
  return lower == 'x' ? scan_radix_digits<16>(at, end, parts)
                      : scan_radix_digits<8>(at, end, parts);
}

// The scanner itself; `text` is not empty. The decimal digits are summed as they are read, so
// that the common numbers need no second look.
CORVANE_ALWAYS_INLINE inline bool scan(std::string_view text, NumberParts& parts) {
  const char* at = text.data();
  const char* const end = at + text.size();
  parts.negative = *at == '-';
  parts.is_float = false;
  parts.radix = 10;
  parts.exponent = 0;
  if (*at == '-' || *at == '+') ++at;
  parts.unsigned_text = std::string_view(at, static_cast<std::size_t>(end - at));
  const char* const digits = at;
  std::uint64_t mantissa = 0;
  for (; at != end && is_digit(*at); ++at)
    mantissa = mantissa * 10 + static_cast<unsigned>(*at - '0');
  parts.digits = std::string_view(digits, static_cast<std::size_t>(at - digits));
  parts.fraction = std::string_view(at, 0);
  parts.mantissa = mantissa;
  if (at == end) return at != digits;
  const char lower = static_cast<char>(*at | 0x20);
  if (at - digits == 1 && *digits == '0' && (lower == 'x' || lower == 'o')) {
    return scan_prefixed(at + 1, end, lower, parts);
  }
  parts.is_float = true;
  const char* fraction = at;
  if (*at == '.') {
    fraction = ++at;
    for (; at != end && is_digit(*at); ++at)
      mantissa = mantissa * 10 + static_cast<unsigned>(*at - '0');
    parts.mantissa = mantissa;
  }
  parts.fraction = std::string_view(fraction, static_cast<std::size_t>(at - fraction));
  if (parts.digits.empty() && parts.fraction.empty()) return false;
  if (at == end) return true;
  if (*at != 'e' && *at != 'E') return false;
  ++at;
  const bool negative_exponent = at != end && *at == '-';
  if (at != end && (*at == '+' || *at == '-')) ++at;
  const char* const exponent_digits = at;
  std::int64_t exponent = 0;
  for (; at != end && is_digit(*at); ++at) {
    if (exponent < kExponentLimit) exponent = exponent * 10 + (*at - '0');
  }
  parts.exponent = negative_exponent ? -exponent : exponent;
  return at == end && at != exponent_digits;
}

// The magnitude of digits too many for the mantissa (leading zeros, or a value past 2^64); any
// value past 2^63 is given as 2^63 + 1.
CORVANE_COLD std::uint64_t long_magnitude(std::string_view digits, int radix) {
  const auto base = static_cast<std::uint64_t>(radix);
  std::uint64_t magnitude = 0;
  for (const char c : digits) {
    const auto digit = static_cast<std::uint64_t>(hex_digit_value(c));
    // magnitude * base + digit <= 2^63 exactly when this does not hold.
    if (magnitude > (kTwoTo63 - digit) / base) return kTwoTo63 + 1;
    magnitude = magnitude * base + digit;
  }
  return magnitude;
}

// The integer of parts in `Radix`, when its value, both signs applied, lies in the signed
// 64-bit range: -9223372036854775808 and -0x8000000000000000 are integers, -0x-8000000000000000
// (that is, 2^63) is not.
template <int Radix>
CORVANE_ALWAYS_INLINE inline bool to_integer(const NumberParts& parts, std::int64_t& out) {
  const std::uint64_t magnitude = parts.digits.size() <= mantissa_digits(Radix)
                                      ? parts.mantissa
                                      : long_magnitude(parts.digits, Radix);
  if (magnitude > kTwoTo63 - (parts.negative ? 0 : 1)) return false;
  out = parts.negative ? static_cast<std::int64_t>(0 - magnitude)
                       : static_cast<std::int64_t>(magnitude);
  return true;
}

// mantissa * 10^scale when a single correctly rounded operation gives it: the mantissa is at
// most 2^53 and the power of ten within 10^±22, so both operands are exact doubles. Most floats
// in configuration files qualify.
CORVANE_ALWAYS_INLINE inline bool exact_float(std::uint64_t mantissa, std::int64_t scale,
                                              bool negative, double& out) {
  if (mantissa > kMaxExactInteger || scale < -kMaxExactPowerOfTen || scale > kMaxExactPowerOfTen) {
    return false;
  }
  // Where double operations are carried out in a wider format (x87), the integer and the power
  // of ten would be rounded to that format first and to double only on the way out.
  if constexpr (FLT_EVAL_METHOD != 0) return false;
  const double value = static_cast<double>(mantissa);
  out = scale < 0 ? value / kExactPowersOfTen[-scale] : value * kExactPowersOfTen[scale];
  if (negative) out = -out;
  return true;
}

// The digits of the parts without their leading zeros as one integer, when they are at most
// nineteen, with the power of ten that scales it.
bool significant_mantissa(const NumberParts& parts, std::uint64_t& mantissa, std::int64_t& scale) {
  mantissa = 0;
  std::size_t count = 0;
  for (const std::string_view span : {parts.digits, parts.fraction}) {
    for (const char c : span) {
      if (mantissa == 0 && c == '0') continue;
      if (++count > kMantissaDecimalDigits) return false;
      mantissa = mantissa * 10 + static_cast<unsigned>(c - '0');
    }
  }
  scale = parts.exponent - static_cast<std::int64_t>(parts.fraction.size());
  return true;
}

#if CORVANE_FROM_CHARS_DOUBLE
// For a decimal whose value lies out of the double range: whether it is too large (true) or
// too small (false). The decimal exponent of its first significant digit tells the two apart,
// since the limits are near 1e308 and 1e-324.
bool overflows(const NumberParts& parts) {
  const std::size_t first = parts.digits.find_first_not_of('0');
  const std::int64_t position =
      first != std::string_view::npos
          ? static_cast<std::int64_t>(parts.digits.size() - first) - 1
          : -static_cast<std::int64_t>(parts.fraction.find_first_not_of('0') + 1);
  return position + parts.exponent >= 0;
}
#endif

// The floats that the one-operation path in to_float leaves: more digits than the mantissa
// takes, a mantissa past 2^53 or a power of ten past 10^±22. False only where the standard
// library refuses the text.
CORVANE_COLD bool general_float(const NumberParts& parts, double& out) {
  // Digits past the mantissa's may be leading zeros, which leave a short integer.
  std::uint64_t mantissa;
  std::int64_t scale;
  if (parts.digits.size() + parts.fraction.size() > kMantissaDecimalDigits &&
      significant_mantissa(parts, mantissa, scale) &&
      exact_float(mantissa, scale, parts.negative, out)) {
    return true;
  }
#if CORVANE_FROM_CHARS_DOUBLE
  const char* const first = parts.unsigned_text.data();
  const char* const last = first + parts.unsigned_text.size();
  double value = 0.0;
  const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    value = overflows(parts) ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (error != std::errc() || end != last) {
    return false;
  }
#else
  const double value = decimal::nearest_double(parts.digits, parts.fraction, parts.exponent);
#endif
  out = parts.negative ? -value : value;
  return true;
}

// The float of decimal parts; false only where the standard library refuses the text.
CORVANE_ALWAYS_INLINE inline bool to_float(const NumberParts& parts, double& out) {
  if (parts.digits.size() + parts.fraction.size() <= kMantissaDecimalDigits &&
      exact_float(parts.mantissa, parts.exponent - static_cast<std::int64_t>(parts.fraction.size()),
                  parts.negative, out)) {
    return true;
  }
  // A copy made on this path alone, so that the common numbers keep their parts in registers.
  const NumberParts copy = parts;
  return general_float(copy, out);
}

CORVANE_ALWAYS_INLINE inline bool equals_any(std::string_view text, std::string_view a,
                                             std::string_view b, std::string_view c) {
  return text == a || text == b || text == c;
}

// .inf and .nan in their three spellings, and .inf with a sign.
bool read_special_float(std::string_view text, double& out) {
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
    if (equals_any(text.substr(1), ".inf", ".Inf", ".INF")) {
      out = text[0] == '-' ? -std::numeric_limits<double>::infinity()
                           : std::numeric_limits<double>::infinity();
      return true;
    }
  }
  return false;
}

}  // namespace

bool scan_number(std::string_view text, NumberParts& parts) {
  parts = NumberParts{};
  return !text.empty() && scan(text, parts);
}

Result<Scalar> infer_number_kind(std::string_view text) {
  NumberParts parts;
  if (scan(text, parts)) {
    if (!parts.is_float) {
      // The radix as a constant in each branch, as the scanner leaves it: the common decimal
      // integer then meets its digit limit as a constant too.
      std::int64_t integer;
      const bool in_range = parts.radix == 10   ? to_integer<10>(parts, integer)
                            : parts.radix == 16 ? to_integer<16>(parts, integer)
                                                : to_integer<8>(parts, integer);
      if (in_range) return Scalar::integer(integer);
    } else if (double number; to_float(parts, number)) {
      return Scalar::floating(number);
    }
  } else if (double number; read_special_float(text, number)) {
    return Scalar::floating(number);
  }
  return Scalar::view(text);
}

}  // namespace corvane
