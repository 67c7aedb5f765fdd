// A correctly rounded conversion of decimal digits and an exponent to double, for standard
// libraries without std::from_chars for double (libc++ before 20). A quick estimate is corrected by
// exact big-integer comparisons of the decimal value with the midpoints between neighbouring
// doubles, so the result never depends on the precision of floating-point arithmetic.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scalar/powers.hpp"

namespace corvane::decimal {

// An unsigned integer of 32-bit limbs, least significant first. The capacity covers every
// number that nearest_double forms: at most 801 decimal digits (2661 bits) times 2^1384, or
// 5^1124 times a 54-bit midpoint significand times 2^1100, stay below 4000 bits.
class BigInteger {
 public:
  static constexpr std::size_t kLimbs = 160;

  // Only the limbs below size_ are ever read, so only those are written and copied.
  BigInteger(const BigInteger& other) : size_(other.size_) {
    for (std::size_t i = 0; i < size_; ++i) limbs_[i] = other.limbs_[i];
  }
  BigInteger& operator=(const BigInteger&) = delete;

  explicit BigInteger(std::uint64_t value) {
    limbs_[0] = static_cast<std::uint32_t>(value);
    limbs_[1] = static_cast<std::uint32_t>(value >> 32);
    size_ = limbs_[1] != 0 ? 2 : limbs_[0] != 0 ? 1 : 0;
  }

  // this = this * factor + addend
  void multiply_add(std::uint32_t factor, std::uint32_t addend) {
    std::uint64_t carry = addend;
    for (std::size_t i = 0; i < size_; ++i) {
      const std::uint64_t product = std::uint64_t{limbs_[i]} * factor + carry;
      limbs_[i] = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) limbs_[size_++] = static_cast<std::uint32_t>(carry);
    if (factor == 0 && addend == 0) size_ = 0;
  }

  void multiply(std::uint64_t factor) {
    BigInteger high = *this;
    multiply_add(static_cast<std::uint32_t>(factor), 0);
    high.multiply_add(static_cast<std::uint32_t>(factor >> 32), 0);
    high.shift_left(32);
    add(high);
  }

  void multiply_by_power_of_five(std::int64_t exponent) {
    constexpr std::uint32_t kFiveToThe13 = 1220703125;
    for (; exponent >= 13; exponent -= 13) multiply_add(kFiveToThe13, 0);
    std::uint32_t rest = 1;
    for (; exponent > 0; --exponent) rest *= 5;
    multiply_add(rest, 0);
  }

  void shift_left(std::size_t bits) {
    if (size_ == 0) return;
    const std::size_t limbs = bits / 32, offset = bits % 32;
    if (offset != 0) {
      std::uint32_t carry = 0;
      for (std::size_t i = 0; i < size_; ++i) {
        const std::uint32_t limb = limbs_[i];
        limbs_[i] = (limb << offset) | carry;
        carry = limb >> (32 - offset);
      }
      if (carry != 0) limbs_[size_++] = carry;
    }
    if (limbs != 0) {
      for (std::size_t i = size_; i-- > 0;) limbs_[i + limbs] = limbs_[i];
      for (std::size_t i = 0; i < limbs; ++i) limbs_[i] = 0;
      size_ += limbs;
    }
  }

  friend int compare(const BigInteger& a, const BigInteger& b) {
    if (a.size_ != b.size_) return a.size_ < b.size_ ? -1 : 1;
    for (std::size_t i = a.size_; i-- > 0;) {
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
    }
    return 0;
  }

 private:
  void add(const BigInteger& other) {
    std::uint64_t carry = 0;
    const std::size_t size = size_ > other.size_ ? size_ : other.size_;
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint64_t sum = std::uint64_t{i < size_ ? limbs_[i] : 0} +
                                (i < other.size_ ? other.limbs_[i] : 0) + carry;
      limbs_[i] = static_cast<std::uint32_t>(sum);
      carry = sum >> 32;
    }
    size_ = size;
    if (carry != 0) limbs_[size_++] = static_cast<std::uint32_t>(carry);
  }

  std::array<std::uint32_t, kLimbs> limbs_;
  std::size_t size_ = 0;
};

// A midpoint between two neighbouring doubles has at most 767 significant digits, so digits
// past the 800th only matter as "some nonzero digit follows", which one more digit 1 stands for.
inline constexpr std::size_t kMaxDigits = 800;
inline constexpr std::uint64_t kInfinityBits = 0x7FF0000000000000;

// The value D * 10^E of the text, checked against the midpoints of an estimated double.
class DecimalValue {
 public:
  DecimalValue(std::string_view digits, std::int64_t exponent)
      : scaled_(0), five_power_(1), exponent_(exponent) {
    for (char c : digits) scaled_.multiply_add(10, static_cast<std::uint32_t>(c - '0'));
    if (exponent >= 0) {
      scaled_.multiply_by_power_of_five(exponent);
    } else {
      five_power_.multiply_by_power_of_five(-exponent);
    }
  }

  // The sign of D * 10^E minus the midpoint between the positive doubles with bit patterns
  // `bits` and `bits + 1`, which is (2m + 1) * 2^(e - 1) for `bits` = m * 2^e.
  int compare_with_midpoint(std::uint64_t bits) const {
    const std::uint64_t biased = bits >> 52, fraction = bits & ((std::uint64_t{1} << 52) - 1);
    const std::uint64_t significand = biased == 0 ? fraction : fraction | std::uint64_t{1} << 52;
    const std::int64_t binary_exponent =
        (biased == 0 ? -1074 : static_cast<std::int64_t>(biased) - 1075) - 1;
    // D * 10^E = scaled_ * 2^E / five_power_; both sides are multiplied by five_power_.
    BigInteger left = scaled_;
    BigInteger right = five_power_;
    right.multiply(2 * significand + 1);
    const std::int64_t shift = exponent_ - binary_exponent;
    if (shift >= 0) {
      left.shift_left(static_cast<std::size_t>(shift));
    } else {
      right.shift_left(static_cast<std::size_t>(-shift));
    }
    return compare(left, right);
  }

 private:
  BigInteger scaled_;      // D, times 5^E when E >= 0
  BigInteger five_power_;  // 5^-E when E < 0, else 1
  std::int64_t exponent_;  // E
};

// The double nearest to the decimal number with the digits `integer_digits`, then a point and
// `fraction_digits`, times 10^exponent, ties to even; infinity past the largest double. The
// digits are those that the number scanner found; the sign is the caller's to apply.
inline double nearest_double(std::string_view integer_digits, std::string_view fraction_digits,
                             std::int64_t exponent) {
  std::array<char, kMaxDigits + 1> digits;
  std::size_t kept = 0;
  bool dropped_nonzero = false;
  // The value is 0.d1d2d3... * 10^point, d1 being the first significant digit.
  std::int64_t point = exponent;
  const auto take_digit = [&](char c) {
    if (kept < kMaxDigits) {
      digits[kept++] = c;
    } else {
      dropped_nonzero |= c != '0';
    }
  };
  for (const char c : integer_digits) {
    if (kept == 0 && c == '0') continue;
    take_digit(c);
    ++point;
  }
  for (const char c : fraction_digits) {
    if (kept == 0 && c == '0') {
      --point;
      continue;
    }
    take_digit(c);
  }
  while (kept > 0 && digits[kept - 1] == '0') --kept;
  std::uint64_t bits = 0;
  if (kept == 0 || point < -323) {
    bits = 0;  // below 10^-324, less than half the smallest double
  } else if (point > 309) {
    bits = kInfinityBits;  // at least 10^309
  } else {
    if (dropped_nonzero) digits[kept++] = '1';
    const std::string_view significant(digits.data(), kept);
    // The estimate: the first 19 digits, scaled by powers of ten in double arithmetic.
    const std::size_t lead = kept < 19 ? kept : 19;
    std::uint64_t leading = 0;
    for (std::size_t d = 0; d < lead; ++d)
      leading = leading * 10 + static_cast<std::uint64_t>(significant[d] - '0');
    double estimate = static_cast<double>(leading);
    std::int64_t scale = point - static_cast<std::int64_t>(lead);
    constexpr double kLargest = kExactPowersOfTen[kMaxExactPowerOfTen];
    for (; scale > kMaxExactPowerOfTen; scale -= kMaxExactPowerOfTen) estimate *= kLargest;
    for (; scale < -kMaxExactPowerOfTen; scale += kMaxExactPowerOfTen) estimate /= kLargest;
    estimate =
        scale >= 0 ? estimate * kExactPowersOfTen[scale] : estimate / kExactPowersOfTen[-scale];
    bits = std::bit_cast<std::uint64_t>(estimate);
    if (bits > kInfinityBits) bits = kInfinityBits;
    // Exact correction: move up past every midpoint below the value, then down past every
    // midpoint above it; a value on a midpoint goes to the even neighbour.
    const DecimalValue value(significant, point - static_cast<std::int64_t>(kept));
    while (bits < kInfinityBits) {
      const int order = value.compare_with_midpoint(bits);
      if (order < 0 || (order == 0 && (bits & 1) == 0)) break;
      ++bits;
    }
    while (bits > 0) {
      const int order = value.compare_with_midpoint(bits - 1);
      if (order > 0 || (order == 0 && (bits & 1) == 0)) break;
      --bits;
    }
  }
  return std::bit_cast<double>(bits);
}

}  // namespace corvane::decimal
