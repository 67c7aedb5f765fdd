// Compares the writer's portable shortest digits of a double (emit/float_text.hpp: printf's
// correctly rounded digits read back with the own decimal conversion) with std::to_chars's on
// every power of two and its neighbours, the edges of the range, and random doubles: any bit
// pattern, subnormals, and short decimals as configuration holds them. With a LOCALE, printf
// writes its numbers in that locale (a decimal comma, say) throughout. Built with a standard
// library that has to_chars for double; scripts/toolchains.sh runs it beside decimal_check.
// Usage: float_text_check COUNT [SEED [LOCALE]]; prints the counts and every mismatch, exits 1
// on one.
#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "emit/float_text.hpp"

namespace {

using corvane::emit::FloatDigits;

FloatDigits reference_digits(double value) {
  FloatDigits out;
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
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
}

std::string describe(const FloatDigits& digits) {
  return std::string(digits.negative ? "-" : "") + std::string(digits.digits, digits.count) + "e" +
         std::to_string(digits.exponent);
}

class DoubleMaker {
 public:
  explicit DoubleMaker(std::uint64_t seed) : random_(seed) {}

  double next() {
    switch (pick(4)) {
      case 0: return any_double();
      case 1: return std::bit_cast<double>(random_() & 0x800FFFFFFFFFFFFF);  // subnormal
      case 2: return short_decimal();
      default: return near_power_of_two();
    }
  }

 private:
  std::uint64_t pick(std::uint64_t n) {
    return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(random_);
  }

  double any_double() {
    for (;;) {
      const double value = std::bit_cast<double>(random_());
      if (std::isfinite(value)) return value;
    }
  }

  // Up to seventeen digits times a power of ten, as written in a configuration file.
  double short_decimal() {
    for (;;) {
      const std::uint64_t digits = pick(17) + 1;
      std::uint64_t limit = 1;
      for (std::uint64_t i = 0; i < digits; ++i) limit *= 10;
      const std::string text =
          std::to_string(pick(limit)) + "e" + std::to_string(static_cast<int>(pick(640)) - 330);
      // No decimal point, so the locale does not matter; some libraries lack from_chars for
      // double.
      const double value = std::strtod(text.c_str(), nullptr);
      if (std::isfinite(value)) return pick(2) == 0 ? value : -value;
    }
  }

  double near_power_of_two() {
    const double power = std::ldexp(1.0, static_cast<int>(pick(2098)) - 1074);
    switch (pick(3)) {
      case 0: return std::nextafter(power, 0.0);
      case 1: return std::nextafter(power, std::numeric_limits<double>::infinity());
      default: return power;
    }
  }

  std::mt19937_64 random_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: float_text_check COUNT [SEED [LOCALE]]\n");
    return 2;
  }
  const long count = std::strtol(argv[1], nullptr, 10);
  const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261210;
  if (argc > 3 && std::setlocale(LC_NUMERIC, argv[3]) == nullptr) {
    std::fprintf(stderr, "float_text_check: no locale %s\n", argv[3]);
    return 2;
  }
  std::vector<double> values = {0.0,
                                -0.0,
                                5e-324,
                                2.2250738585072014e-308,
                                2.2250738585072009e-308,
                                1.7976931348623157e308,
                                0.1,
                                0.30000000000000004,
                                1e23,
                                9007199254740993.0,
                                123456789012345680.0};
  for (int exponent = -1074; exponent <= 1023; ++exponent) {
    const double power = std::ldexp(1.0, exponent);
    values.insert(values.end(), {power, std::nextafter(power, 0.0),
                                 std::nextafter(power, std::numeric_limits<double>::infinity())});
  }
  DoubleMaker maker(seed);
  for (long i = 0; i < count; ++i) values.push_back(maker.next());
  long mismatches = 0;
  for (const double value : values) {
    const FloatDigits expected = reference_digits(value);
    const FloatDigits got = corvane::emit::shortest_digits_portable(value);
    if (describe(got) == describe(expected)) continue;
    if (++mismatches <= 20) {
      std::printf("mismatch: %.17g: %s, expected %s\n", value, describe(got).c_str(),
                  describe(expected).c_str());
    }
  }
  std::printf("float_text_check (locale %s): %zu doubles, %ld mismatches\n",
              std::setlocale(LC_NUMERIC, nullptr), values.size(), mismatches);
  return mismatches == 0 ? 0 : 1;
}
