// The writer's lookup of printable characters: a bitmap of the Basic Multilingual Plane over
// the table of src/text/printable.hpp, shared by the choice of a style and the double quotes.
#pragma once

#include <array>
#include <cstdint>

#include "base/attributes.hpp"
#include "text/printable.hpp"

namespace corvane::emit {

// One bit per code point of the Basic Multilingual Plane, set when it is printable, so that
// text in any script costs one lookup per character.
class PrintableBitmap {
 public:
  PrintableBitmap() {
    bits_.fill(~std::uint64_t{0});
    for (const text::CodePointRange& range : text::kNonPrintable) {
      for (char32_t cp = range.first; cp <= range.last && cp < 0x10000; ++cp) {
        bits_[cp >> 6] &= ~(std::uint64_t{1} << (cp & 63));
      }
    }
  }
  CORVANE_ALWAYS_INLINE bool printable(char32_t cp) const {
    if (cp < 0x10000) return (bits_[cp >> 6] >> (cp & 63)) & 1;
    return printable_beyond_bmp(cp);
  }

 private:
  static bool printable_beyond_bmp(char32_t cp) { return text::is_printable(cp); }

  std::array<std::uint64_t, 0x10000 / 64> bits_;
};

inline const PrintableBitmap& printable_bitmap() {
  static const PrintableBitmap bitmap;
  return bitmap;
}

}  // namespace corvane::emit
