// The text of a float: its shortest digits (through std::to_chars, or through printf and the own
// decimal conversion) laid out as Python's repr lays them out.
#include "emit/float_text.hpp"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "scalar/decimal.hpp"
#include "scalar/powers.hpp"
#include "text/chars.hpp"

namespace corvane::emit {
namespace {

// The digits of a double that fifteen significant digits name exactly, as most floats in
// configuration are; false for any other. At most one decimal of fifteen significant digits
// reads as a given double (such decimals lie further apart than the doubles there), so when
// the fifteen-digit rounding of the value reads back as it, its digits without trailing zeros
// are the shortest ones. Multiplying or dividing by an exact power of ten rounds once, which
// may miss that decimal by one in its last place, but never yields a wrong one: whatever
// decimal is tried must read back exactly, and an integer below 2^53 over an exact power of
// ten is one correctly rounded operation.
bool fifteen_digits(double magnitude, FloatDigits& out) {
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
  if (!(magnitude >= 1e-8 && magnitude < 1e37)) return false;
  const int exponent = static_cast<int>(std::floor(std::log10(magnitude)));
  const int shift = 14 - exponent;  // the value times ten to this has fifteen whole digits
  if (shift < -kMaxExactPowerOfTen || shift > kMaxExactPowerOfTen) return false;
  const double power = kExactPowersOfTen[shift < 0 ? -shift : shift];
  const double scaled = shift >= 0 ? magnitude * power : magnitude / power;
  if (!(scaled >= 1e14 && scaled <= 1e15)) return false;
  auto mantissa = static_cast<std::uint64_t>(std::llround(scaled));
  const double back =
      shift >= 0 ? static_cast<double>(mantissa) / power : static_cast<double>(mantissa) * power;
  if (back != magnitude || mantissa < 100000000000000ULL) return false;
  const int decimal_exponent = mantissa >= 1000000000000000ULL ? 15 - shift : 14 - shift;
  while (mantissa % 10 == 0) mantissa /= 10;
  char reversed[16];
  std::size_t count = 0;
  for (; mantissa != 0; mantissa /= 10) reversed[count++] = static_cast<char>('0' + mantissa % 10);
  for (std::size_t i = 0; i < count; ++i) out.digits[i] = reversed[count - 1 - i];
  out.count = count;
  out.exponent = decimal_exponent;
  return true;
#else
  (void)magnitude;
  (void)out;
  return false;
#endif
}

// The `count` significant digits of `magnitude` correctly rounded, as printf gives them. The
// decimal point is the C locale's, which a program may have changed, so whatever stands
// between the first digit and the exponent other than digits is passed over.
bool rounded_digits(double magnitude, std::size_t count, FloatDigits& out) {
  char text[64];
  const int length =
      std::snprintf(text, sizeof text, "%.*e", static_cast<int>(count) - 1, magnitude);
  if (length <= 0 || length >= static_cast<int>(sizeof text)) return false;
  const std::string_view written(text, static_cast<std::size_t>(length));
  const std::size_t e = written.find_last_of("eE");
  if (e == std::string_view::npos) return false;
  out.count = 0;
  for (std::size_t i = 0; i < e; ++i) {
    if (is_digit(written[i]) && out.count < count) out.digits[out.count++] = written[i];
  }
  std::size_t i = e + 1;
  const bool negative = i < written.size() && written[i] == '-';
  if (i < written.size() && (written[i] == '+' || written[i] == '-')) ++i;
  int exponent = 0;
  for (; i < written.size() && is_digit(written[i]); ++i)
    exponent = exponent * 10 + (written[i] - '0');
  out.exponent = negative ? -exponent : exponent;
  return out.count == count;
}

// The double that the digits read as.
double read_back(const FloatDigits& digits) {
  char text[48];
  std::memcpy(text, digits.digits, digits.count);
  char* end = text + digits.count;
  *end++ = 'e';
  end = std::to_chars(end, text + sizeof text, digits.exponent - static_cast<int>(digits.count) + 1)
            .ptr;
  return decimal::parse_decimal(std::string_view(text, static_cast<std::size_t>(end - text)));
}

// The decimal one unit of the last digit above.
void step_up(FloatDigits& digits) {
  std::size_t i = digits.count;
  while (i > 0 && digits.digits[i - 1] == '9') digits.digits[--i] = '0';
  if (i > 0) {
    ++digits.digits[i - 1];
  } else {
    digits.digits[0] = '1';
    ++digits.exponent;
  }
}

}  // namespace

FloatDigits shortest_digits_portable(double value) {
  FloatDigits out;
  out.negative = std::signbit(value);
  const double magnitude = std::fabs(value);
  if (magnitude == 0) {
    out.digits[out.count++] = '0';
    return out;
  }
  if (fifteen_digits(magnitude, out)) return out;
  // The correctly rounded decimal of some length reads back whenever any decimal of that length
  // does, but for one case: at a power of two the doubles below lie twice as close as those
  // above, so the nearest decimal may fall to the double below while the one above it reads
  // back. Seventeen digits always read back. Below the smallest normal double the doubles hold
  // fewer digits, and several decimals of fifteen digits read as the same one, so there every
  // length is tried from one digit on.
  FloatDigits digits;
  for (std::size_t count = magnitude < DBL_MIN ? 1 : 15; count <= 17; ++count) {
    if (!rounded_digits(magnitude, count, digits)) continue;
    const double back = read_back(digits);
    if (back == magnitude) break;
    if (back < magnitude) {
      FloatDigits above = digits;
      step_up(above);
      if (read_back(above) == magnitude) {
        digits = above;
        break;
      }
    }
  }
  while (digits.count > 1 && digits.digits[digits.count - 1] == '0') --digits.count;
  digits.negative = out.negative;
  return digits;
}

FloatDigits shortest_digits(double value) {
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L && !defined(CORVANE_PORTABLE_FLOAT)
  FloatDigits out;
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
  // text: [-]d[.ddd]e(+|-)dd[d]
  const char* p = text;
  if (*p == '-') {
    out.negative = true;
    ++p;
  }
  for (; *p != 'e'; ++p) {
    if (*p != '.') out.digits[out.count++] = *p;
  }
  ++p;
  std::from_chars(*p == '+' ? p + 1 : p, result.ptr, out.exponent);
  return out;
#else
  return shortest_digits_portable(value);
#endif
}

std::size_t write_float(double value, char* out) {
  if (std::isnan(value)) {
    std::memcpy(out, ".nan", 4);
    return 4;
  }
  if (std::isinf(value)) {
    if (value > 0) {
      std::memcpy(out, ".inf", 4);
      return 4;
    }
    std::memcpy(out, "-.inf", 5);
    return 5;
  }
  const FloatDigits digits = shortest_digits(value);
  const char* mantissa = digits.digits;
  const std::size_t count = digits.count;
  const int exponent = digits.exponent;
  char* o = out;
  if (digits.negative) *o++ = '-';
  if (exponent >= -4 && exponent < 16) {
    if (exponent >= 0) {
      const auto whole = static_cast<std::size_t>(exponent) + 1;
      for (std::size_t i = 0; i < whole; ++i) *o++ = i < count ? mantissa[i] : '0';
      *o++ = '.';
      if (count > whole) {
        for (std::size_t i = whole; i < count; ++i) *o++ = mantissa[i];
      } else {
        *o++ = '0';
      }
    } else {
      *o++ = '0';
      *o++ = '.';
      for (int i = -1; i > exponent; --i) *o++ = '0';
      for (std::size_t i = 0; i < count; ++i) *o++ = mantissa[i];
    }
  } else {
    *o++ = mantissa[0];
    *o++ = '.';
    if (count > 1) {
      for (std::size_t i = 1; i < count; ++i) *o++ = mantissa[i];
    } else {
      *o++ = '0';
    }
    *o++ = 'e';
    *o++ = exponent < 0 ? '-' : '+';
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) *o++ = '0';
    o = std::to_chars(o, o + 4, magnitude).ptr;
  }
  return static_cast<std::size_t>(o - out);
}

}  // namespace corvane::emit
