// The text of a float as the writers put it: Python's repr (`1e+16`, `0.1`, `-0.0`) for JSON,
// and for YAML the same digits always with a `.` (`1.0e+16`), and `.nan`, `.inf`, `-.inf`. Made
// without the interpreter, with the standard library's shortest conversion where it has one.
#pragma once

#include <cstddef>

namespace corvane::emit {

// The most bytes write_float or write_float_repr writes.
inline constexpr std::size_t kMaxFloatText = 32;

// Writes the YAML text of `value` at `out` and returns its length.
std::size_t write_float(double value, char* out);

// Writes repr(value) of a finite `value` at `out` and returns its length.
std::size_t write_float_repr(double value, char* out);

// The shortest decimal digits that read back as a finite double, chosen as repr chooses among
// several: the nearest. Its magnitude is d1.d2d3... times ten to the power `exponent`.
struct FloatDigits {
  bool negative = false;
  std::size_t count = 0;
  int exponent = 0;
  char digits[24];
};

// The digits through the standard library's std::to_chars, where the build uses it, or else
// through shortest_digits_portable.
FloatDigits shortest_digits(double value);

// The same digits without to_chars: a short-cut for the decimals of fifteen digits or fewer
// that most floats are, and otherwise the C library's correctly rounded printf at fifteen to
// seventeen significant digits, read back with the own correctly rounded conversion (or one
// exact operation) to find the shortest that gives the value again.
FloatDigits shortest_digits_portable(double value);

}  // namespace corvane::emit
