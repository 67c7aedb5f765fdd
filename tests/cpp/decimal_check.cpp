// Compares the portable decimal-to-double conversion (scalar/decimal.hpp, fed by the number
// scanner), and the float that plain-scalar typing gives (its exact-decimal shortcut included),
// with the standard library's conversion (std::from_chars, and strtod where from_chars reports a
// value out of range) on the edge cases below and on random decimal texts of every shape. Built
// and run by scripts/toolchains.sh with a standard library that has from_chars for double,
// natively and for 32-bit x86 with x87 arithmetic, where intermediate results are wider than
// double.
// Usage: decimal_check COUNT [SEED]; prints the counts and every mismatch, exits 1 on one.
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "scalar/decimal.hpp"
#include "scalar/number.hpp"
#include "scalar/scalar.hpp"

namespace {

std::uint64_t reference_bits(const std::string& text) {
  const char* first = text.data() + (text[0] == '+' ? 1 : 0);
  double value = 0;
  const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) value = std::strtod(text.c_str(), nullptr);
  if (end != text.data() + text.size() && error == std::errc()) std::abort();
  return std::bit_cast<std::uint64_t>(value);
}

// The own conversion of a decimal text, from the parts that the scanner reads; a NaN, which
// matches no reference, when the scanner refuses the text.
std::uint64_t own_conversion_bits(const std::string& text) {
  corvane::NumberParts parts;
  if (!corvane::scan_number(text, parts) || !parts.is_float) return 0x7FF8000000000000;
  const double value =
      corvane::decimal::nearest_double(parts.digits, parts.fraction, parts.exponent);
  return std::bit_cast<std::uint64_t>(parts.negative ? -value : value);
}

class TextMaker {
 public:
  explicit TextMaker(std::uint64_t seed) : random_(seed) {}

  std::string next() {
    switch (pick(5)) {
      case 0: return short_decimal();
      case 1: return long_decimal();
      case 2: return near_double();
      case 3: return near_midpoint();
      default: return range_edge();
    }
  }

 private:
  std::size_t pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_);
  }

  std::string digits(std::size_t count) {
    static constexpr char kDigits[] = "0000123456789";
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += kDigits[pick(13)];
    return out;
  }

  std::string sign() { return std::string(pick(3) == 0 ? "-" : pick(2) == 0 ? "+" : ""); }

  std::string exponent(int limit) {
    if (pick(4) == 0) return "";
    const int value = static_cast<int>(pick(static_cast<std::size_t>(2 * limit + 1))) - limit;
    return std::string(pick(2) == 0 ? "e" : "E") + (value >= 0 && pick(2) == 0 ? "+" : "") +
           std::to_string(value);
  }

  std::string mantissa(std::size_t before, std::size_t after) {
    std::string out = digits(before) + "." + digits(after);
    return out == "." ? "0." : out;
  }

  // Up to 25 digits on each side of the point, exponents of up to three digits.
  std::string short_decimal() { return sign() + mantissa(pick(26), pick(26)) + exponent(400); }

  // Hundreds of digits, beyond the 800 that the conversion keeps.
  std::string long_decimal() { return sign() + mantissa(pick(900), pick(900)) + exponent(1200); }

  double random_double() {
    for (;;) {
      const double value = std::bit_cast<double>(random_() & 0x7FFFFFFFFFFFFFFF);
      if (value == value && value != 1.0 / 0.0) return value;
    }
  }

  // A double written with 15 to 20 significant digits, its last digit moved by one.
  std::string near_double() {
    char buffer[64];
    const int precision = 14 + static_cast<int>(pick(6));
    std::snprintf(buffer, sizeof buffer, "%.*e", precision, random_double());
    std::string text = buffer;
    const std::size_t last = text.find('e') - 1;
    if (pick(2) == 0 && text[last] < '9') ++text[last];
    return sign() + text;
  }

  // Halfway between a double and its upper neighbour, written exactly, or just above or below.
  // The sum of two neighbouring doubles is exact in the x87 format of long double.
  std::string near_midpoint() {
    const double low = random_double();
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(low);
    const long double high =
        bits + 1 == 0x7FF0000000000000 ? std::ldexp(1.0L, 1024) : std::bit_cast<double>(bits + 1);
    char buffer[1200];
    std::snprintf(buffer, sizeof buffer, "%.800Le", (low + high) / 2);
    std::string text = buffer;
    const std::size_t mark = text.find('e');
    std::string mantissa_part = text.substr(0, mark);
    while (mantissa_part.back() == '0') mantissa_part.pop_back();
    switch (pick(3)) {
      case 0: mantissa_part += "000001"; break;
      case 1:
        if (mantissa_part.back() != '.') --mantissa_part.back(), mantissa_part += "9999999";
        break;
      default: break;
    }
    return mantissa_part + text.substr(mark);
  }

  // Around the smallest subnormal, the smallest normal and the largest double.
  std::string range_edge() {
    static const char* const kStems[] = {"4.9406564584124654", "2.4703282292062327",
                                         "2.2250738585072011", "2.2250738585072014",
                                         "1.7976931348623157", "1.7976931348623158"};
    static const char* const kExponents[] = {"e-324", "e-324", "e-308", "e-308", "e308", "e308"};
    const std::size_t which = pick(6);
    return sign() + kStems[which] + digits(pick(30)) + kExponents[which];
  }

  std::mt19937_64 random_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: decimal_check COUNT [SEED]\n");
    return 2;
  }
  const long count = std::strtol(argv[1], nullptr, 10);
  const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20261209;
  std::vector<std::string> texts = {"0.0",
                                    "-0.0",
                                    "1e400",
                                    "-1e400",
                                    "1e-400",
                                    "2.4703282292062327e-324",
                                    "2.4703282292062328e-324",
                                    "4.9e-324",
                                    "1.7976931348623157e308",
                                    "1.7976931348623158e308",
                                    "1.7976931348623159e308",
                                    "9007199254740993.0",
                                    "9007199254740993.0000000000000000001",
                                    "2.2250738585072011e-308",
                                    "2.2250738585072012e-308",
                                    "123456789012345678901234567890e-30",
                                    "1" + std::string(400, '0') + ".5e-400",
                                    "0." + std::string(400, '0') + "1e400",
                                    "1e+99999999999999999999",
                                    "-1e-99999999999999999999",
                                    "59.7050816e-13",
                                    ".5",
                                    "5.",
                                    "0." + std::string(1000, '0') + "1e1000",
                                    std::string(1000, '9') + "e-1000"};
  static_assert(std::numeric_limits<long double>::digits >= 64,
                "the midpoints are formed in a long double of at least 64 bits");
  TextMaker maker(seed);
  long mismatches = 0;
  for (long i = 0; i < count; ++i) texts.push_back(maker.next());
  for (const std::string& text : texts) {
    const std::uint64_t expected = reference_bits(text);
    const auto typed = corvane::infer_kind<false>(text);
    const double typed_value =
        typed && typed->kind() == corvane::Scalar::Kind::Float ? typed->as_float() : -1.0;
    const std::uint64_t conversions[] = {own_conversion_bits(text),
                                         std::bit_cast<std::uint64_t>(typed_value)};
    for (const std::uint64_t got : conversions) {
      if (got == expected) continue;
      ++mismatches;
      if (mismatches <= 20) {
        std::printf("mismatch (%s): %s: %016llx, expected %016llx\n",
                    got == conversions[0] ? "own conversion" : "typing", text.c_str(),
                    static_cast<unsigned long long>(got),
                    static_cast<unsigned long long>(expected));
      }
    }
  }
  std::printf("decimal_check (FLT_EVAL_METHOD %d): %zu texts, %ld mismatches\n",
              static_cast<int>(FLT_EVAL_METHOD), texts.size(), mismatches);
  return mismatches == 0 ? 0 : 1;
}
