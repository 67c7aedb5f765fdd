// The text of a float: its shortest digits (through std::to_chars, or through printf and the own
// decimal conversion) laid out as Python's repr lays them out.
#include "emit/float_text.hpp"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "base/attributes.hpp"
#include "scalar/decimal.hpp"
#include "scalar/powers.hpp"
#include "text/chars.hpp"

namespace corvane::emit {
namespace {

// A decimal: mantissa times ten to the power.
struct Decimal {
  std::uint64_t mantissa;
  int power;
};

// The digits of `decimal` without trailing zeros.
void set_digits(Decimal decimal, FloatDigits& out) {
  while (decimal.mantissa % 10 == 0 && decimal.mantissa != 0) {
    decimal.mantissa /= 10;
    ++decimal.power;
  }
  char reversed[20];
  std::size_t count = 0;
  for (; decimal.mantissa != 0; decimal.mantissa /= 10) {
    reversed[count++] = static_cast<char>('0' + decimal.mantissa % 10);
  }
  for (std::size_t i = 0; i < count; ++i) out.digits[i] = reversed[count - 1 - i];
  out.count = count;
  out.exponent = decimal.power + static_cast<int>(count) - 1;
}

// The double that `decimal` reads as. An integer below 2^53 times or over an exact power of ten
// is one correctly rounded operation where the arithmetic is that of double itself; any other
// decimal goes through the own conversion.
double read_back(Decimal decimal) {
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
  if (decimal.mantissa < (std::uint64_t{1} << 53) && decimal.power >= -kMaxExactPowerOfTen &&
      decimal.power <= kMaxExactPowerOfTen) {
    const auto mantissa = static_cast<double>(decimal.mantissa);
    return decimal.power >= 0 ? mantissa * kExactPowersOfTen[decimal.power]
                              : mantissa / kExactPowersOfTen[-decimal.power];
  }
#endif
  // At most twenty digits.
  char digits[20];
  const char* end = std::to_chars(digits, digits + sizeof digits, decimal.mantissa).ptr;
  return decimal::nearest_double(std::string_view(digits, static_cast<std::size_t>(end - digits)),
                                 std::string_view(), decimal.power);
}

// What the short-cut for fifteen digits found.
enum class Fifteen : std::uint8_t { Found, NoneReadsBack, Unknown };

// The digits of a double that fifteen significant digits name exactly, as most floats in
// configuration are. At most one decimal of fifteen significant digits reads as a given normal
// double (such decimals lie further apart than the doubles there), so when the fifteen-digit
// rounding of the value reads back as it, its digits without trailing zeros are the shortest
// ones. Multiplying or dividing by an exact power of ten rounds once, so that the scaled value
// is off by a tenth at most, and the rounding is one of three integers; when none of them
// reads back, no decimal of fifteen digits or fewer does.
Fifteen fifteen_digits(double magnitude, FloatDigits& out) {
#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
  if (!(magnitude >= 1e-8 && magnitude < 1e37)) return Fifteen::Unknown;
  const int exponent = static_cast<int>(std::floor(std::log10(magnitude)));
  const int shift = 14 - exponent;  // the value times ten to this has fifteen whole digits
  if (shift < -kMaxExactPowerOfTen || shift > kMaxExactPowerOfTen) return Fifteen::Unknown;
  const double power = kExactPowersOfTen[shift < 0 ? -shift : shift];
  const double scaled = shift >= 0 ? magnitude * power : magnitude / power;
  if (!(scaled >= 1e14 && scaled <= 1e15)) return Fifteen::Unknown;
  constexpr std::uint64_t kLow = 100000000000000, kHigh = 1000000000000000;
  const auto nearest = static_cast<std::uint64_t>(std::llround(scaled));
  for (const std::uint64_t mantissa : {nearest, nearest - 1, nearest + 1}) {
    if (mantissa < kLow || mantissa > kHigh) continue;
    // read_back's exact operation, with the power at hand.
    const auto decimal = static_cast<double>(mantissa);
    if ((shift >= 0 ? decimal / power : decimal * power) == magnitude) {
      set_digits({mantissa, -shift}, out);
      return Fifteen::Found;
    }
  }
  return nearest > kLow && nearest < kHigh ? Fifteen::NoneReadsBack : Fifteen::Unknown;
#else
  (void)magnitude;
  (void)out;
  return Fifteen::Unknown;
#endif
}

// The decimal of `count` significant digits nearest to `magnitude`, as printf gives it
// correctly rounded. The decimal point is the C locale's, which a program may have changed,
// so whatever stands between the first digit and the exponent other than digits is passed
// over.
Decimal rounded(double magnitude, std::size_t count) {
  char text[64];
  const int length =
      std::snprintf(text, sizeof text, "%.*e", static_cast<int>(count) - 1, magnitude);
  const std::string_view written(text, length > 0 ? static_cast<std::size_t>(length) : 0);
  const std::size_t e = std::min(written.find_last_of("eE"), written.size());
  Decimal decimal{0, 0};
  for (std::size_t i = 0; i < e; ++i) {
    if (is_digit(written[i])) {
      decimal.mantissa = decimal.mantissa * 10 + static_cast<std::uint64_t>(written[i] - '0');
    }
  }
  std::size_t i = e + 1;
  const bool negative = i < written.size() && written[i] == '-';
  if (i < written.size() && (written[i] == '+' || written[i] == '-')) ++i;
  int exponent = 0;
  for (; i < written.size() && is_digit(written[i]); ++i)
    exponent = exponent * 10 + (written[i] - '0');
  decimal.power = (negative ? -exponent : exponent) - static_cast<int>(count) + 1;
  return decimal;
}

// Whether `decimal`, the nearest of its length, reads back as `magnitude`, or else the one a
// unit above it, which it is then set to. The nearest decimal of a length reads back whenever
// any of that length does, but for one case: at a power of two the doubles below lie twice as
// close as those above, so the nearest may fall to the double below while the one above it
// reads back.
bool settle(double magnitude, Decimal& decimal) {
  const double back = read_back(decimal);
  if (back == magnitude) return true;
  constexpr std::uint64_t kFraction = (std::uint64_t{1} << 52) - 1;
  if (back > magnitude || (std::bit_cast<std::uint64_t>(magnitude) & kFraction) != 0) return false;
  const Decimal above{decimal.mantissa + 1, decimal.power};
  if (read_back(above) != magnitude) return false;
  decimal = above;
  return true;
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
  if (magnitude < DBL_MIN) {
    // Below the smallest normal double the doubles hold fewer digits, and several decimals of
    // fifteen digits read as the same one. The doubles there lie evenly apart, so a length
    // reads back when its nearest decimal does, and so does every longer one: the shortest
    // is searched for by halves.
    std::size_t shortest = 1, longest = 17;
    while (shortest < longest) {
      const std::size_t count = (shortest + longest) / 2;
      Decimal decimal = rounded(magnitude, count);
      if (settle(magnitude, decimal)) {
        longest = count;
      } else {
        shortest = count + 1;
      }
    }
    set_digits(rounded(magnitude, shortest), out);
    return out;
  }
  const Fifteen fifteen = fifteen_digits(magnitude, out);
  if (fifteen == Fifteen::Found) return out;
  if (fifteen == Fifteen::Unknown) {
    Decimal decimal = rounded(magnitude, 15);
    if (settle(magnitude, decimal)) {
      set_digits(decimal, out);
      return out;
    }
  }
  // Seventeen digits always read back. The nearest sixteen are their rounding, unless the
  // seventeenth digit is a 5, which may itself have been rounded up or down.
  const Decimal seventeen = rounded(magnitude, 17);
  Decimal sixteen{seventeen.mantissa / 10, seventeen.power + 1};
  const std::uint64_t last = seventeen.mantissa % 10;
  if (last == 5) {
    sixteen = rounded(magnitude, 16);
  } else if (last > 5) {
    ++sixteen.mantissa;
  }
  set_digits(settle(magnitude, sixteen) ? sixteen : seventeen, out);
  return out;
}

namespace {

// The conversion the build uses, inlined into write_float, its caller on every float.
CORVANE_ALWAYS_INLINE inline FloatDigits convert_shortest(double value) {
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

}  // namespace

FloatDigits shortest_digits(double value) {
  return convert_shortest(value);
}

namespace {

// The finite value of `digits` laid out as repr lays it out: positional from 1e-4 up to 1e16,
// `d.ddde+XX` outside. `point_always` writes `1.0e+16` for repr's `1e+16`: YAML 1.1 readers
// take a number without a `.` for an int.
CORVANE_ALWAYS_INLINE inline std::size_t lay_out(const FloatDigits& digits, char* out,
                                                 bool point_always) {
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
    if (count > 1) {
      *o++ = '.';
      for (std::size_t i = 1; i < count; ++i) *o++ = mantissa[i];
    } else if (point_always) {
      *o++ = '.';
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

}  // namespace

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
  return lay_out(convert_shortest(value), out, true);
}

std::size_t write_float_repr(double value, char* out) {
  return lay_out(convert_shortest(value), out, false);
}

}  // namespace corvane::emit
