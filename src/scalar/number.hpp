// Numbers in plain scalars: the scanner that reads a text written like a number into its parts,
// and the typing that converts those parts to an integer or a float.
#pragma once

#include <cstdint>
#include <string_view>

#include "error/error.hpp"
#include "scalar/value.hpp"

namespace corvane {

// A number as written: [+-]? then either 0x or 0o, an optional sign and digits of that radix,
// or decimal digits with an optional point and fraction and an optional exponent. The scanner
// sets every member; they have no initial values, which would cost the common numbers stores.
struct NumberParts {
  bool negative;              // the sign of the value: both signs, for a prefixed number
  bool is_float;              // decimal with a point or an exponent
  int radix;                  // 10, 16 or 8
  std::string_view digits;    // before the point; for 0x/0o, those after the prefix and its sign
  std::string_view fraction;  // after the point, possibly none
  std::int64_t exponent;      // as written, saturated far beyond the range of a double
  // The digits and then the fraction read as one integer, modulo 2^64: exact up to nineteen
  // decimal, sixteen hex or twenty-one octal digits.
  std::uint64_t mantissa;
  std::string_view unsigned_text;  // the number without its leading sign
};

// Reads `text` into `parts`; false when the text, as a whole, is not written like a number.
bool scan_number(std::string_view text, NumberParts& parts);

// Types a plain text whose first byte is a digit, a sign or a point: an integer, a float
// (.inf and .nan included) or, when it is neither, the text itself.
Result<Scalar> infer_number_kind(std::string_view text);

}  // namespace corvane
