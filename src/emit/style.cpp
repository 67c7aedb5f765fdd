// The choice of a string's style: the byte classes that decide it, the typing that a plain
// scalar must survive, and the checks for a literal block scalar.
#include "emit/style.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "emit/printable_bitmap.hpp"
#include "emit/yaml11.hpp"
#include "scalar/scalar.hpp"
#include "text/bytes.hpp"
#include "text/chars.hpp"
#include "text/utf8.hpp"

namespace corvane::emit {
namespace {

// What a byte means to the choice of a string's style.
enum ByteClass : std::uint8_t {
  kOrdinary,  // printable ASCII that a plain scalar may hold anywhere after its start
  kSpace,     // may not end a plain scalar or come before `#`
  kColon,     // may not end a plain scalar or come before a space
  kBreak,     // a line feed: a block scalar, or escapes
  kControl,   // other C0 controls and DEL: escapes only
  kHigh,      // the first byte of a non-ASCII character
};

constexpr std::array<std::uint8_t, 256> make_byte_classes() {
  std::array<std::uint8_t, 256> classes{};
  for (int b = 0; b < 256; ++b) {
    classes[b] = b < 0x20 || b == 0x7F ? kControl : b >= 0x80 ? kHigh : kOrdinary;
  }
  classes[' '] = kSpace;
  classes[':'] = kColon;
  classes['\n'] = kBreak;
  return classes;
}
constexpr std::array<std::uint8_t, 256> kByteClasses = make_byte_classes();

// Bytes a plain scalar may start with. The YAML indicators are left out (`-`, `?` and `:`
// even where a reader would allow them), and so are `%` (a directive at the start of a line)
// and the blanks; every other printable ASCII character and every non-ASCII one may start it.
constexpr std::array<bool, 256> make_plain_starts() {
  std::array<bool, 256> starts{};
  for (int b = 0x21; b < 0x7F; ++b) starts[b] = true;
  for (unsigned char c : std::string_view("-?:,[]{}#&*!|>'\"%@`")) starts[c] = false;
  for (int b = 0x80; b < 0x100; ++b) starts[b] = true;
  return starts;
}
constexpr std::array<bool, 256> kPlainStarts = make_plain_starts();

// First bytes from which the loader's typing may read something other than a string.
constexpr std::array<bool, 256> make_typed_starts() {
  std::array<bool, 256> starts{};
  for (unsigned char c : std::string_view("~nNtTfFyYoO+-.0123456789")) starts[c] = true;
  return starts;
}
constexpr std::array<bool, 256> kTypedStarts = make_typed_starts();

// Whether `text`, which passed the structural checks of a plain scalar, reads back as this
// string: under the loader's typing with either boolean setting, and under YAML 1.1's types as
// PyYAML applies them (the rule that `corvane --check --portable` reports by, too).
bool types_as_string(std::string_view text) {
  const char first = text[0];
  if (!kTypedStarts[static_cast<unsigned char>(first)]) return text != "<<" && text != "=";
  if (infer_kind<false>(text)->kind() != Scalar::Kind::Str ||
      infer_kind<true>(text)->kind() != Scalar::Kind::Str) {
    return false;
  }
  // `...` ends a document at the start of a line.
  if (text.starts_with("...")) return false;
  // A word that starts like a boolean or null is one only when short; numbers and dates start
  // with a digit, a sign or a point.
  if (!is_digit(first) && first != '+' && first != '-' && first != '.' && text.size() > 5) {
    return true;
  }
  return read_as_yaml_1_1(text).kind == Yaml11Reading::Kind::String;
}

// Whether the line that ends with the space at `last` holds spaces and nothing else.
bool spaces_alone(std::string_view text, std::size_t last) {
  std::size_t start = last;
  while (start > 0 && text[start - 1] == ' ') --start;
  return start == 0 || text[start - 1] == '\n';
}

// Text with a line feed before `i`: a literal block scalar where one holds it exactly, unless a
// character from `i` on must be escaped. A block scalar needs a line of content (without one
// the readers give the empty string) and no line of spaces alone (a blank line, whose spaces
// the readers do not agree on); such a line ends in a space, as few lines do. Spaces, colons
// and line feeds no longer matter otherwise, so long text passes sixteen bytes at a time.
Style multiline_style(std::string_view text, std::size_t i) {
  if (text.find_first_not_of('\n') == std::string_view::npos) return Style::Double;
  const std::size_t size = text.size();
  if (i >= 2 && text[i - 2] == ' ' && spaces_alone(text, i - 2)) return Style::Double;
  if (text[size - 1] == ' ' && spaces_alone(text, size - 1)) return Style::Double;
  const PrintableBitmap& table = printable_bitmap();
  while (true) {
    if constexpr (text::kVectorBlocks) {
      // Anything but printable ASCII and the line feed, and a space that ends a line; the
      // second load reads one byte further on.
      for (; i + 17 <= size; i += 16) {
        const text::Block block = text::Block::load(text.data() + i);
        const text::Block next = text::Block::load(text.data() + i + 1);
        if (const std::uint32_t bits = (block.outside(0x20, 0x7E).and_not(block.equal('\n')) |
                                        (block.equal(' ') & next.equal('\n')))
                                           .mask()) {
          i += static_cast<std::size_t>(std::countr_zero(bits));
          break;
        }
      }
    }
    while (i < size && kByteClasses[static_cast<unsigned char>(text[i])] < kControl &&
           !(text[i] == ' ' && text[i + 1] == '\n')) {
      ++i;
    }
    if (i >= size) return Style::Literal;
    if (text[i] == ' ') {
      if (spaces_alone(text, i)) return Style::Double;
      ++i;
      continue;
    }
    if (kByteClasses[static_cast<unsigned char>(text[i])] == kControl) return Style::Double;
    do {
      if (!table.printable(decode_utf8(text, i))) return Style::Double;
    } while (i < size && static_cast<unsigned char>(text[i]) >= 0x80);
  }
}

}  // namespace

Style choose_style(std::string_view text, bool block_allowed) {
  if (text.empty()) return Style::Single;
  // A space or a colon may not end a plain scalar.
  bool plain =
      kPlainStarts[static_cast<unsigned char>(text[0])] && text.back() != ' ' && text.back() != ':';
  const std::size_t size = text.size();
  const PrintableBitmap& table = printable_bitmap();
  std::size_t i = 0;
  while (true) {
    // Ordinary bytes are passed over sixteen at a time where the target allows it.
    if constexpr (text::kVectorBlocks) {
      // A space matters only before `#`, a colon only before a space: those pairs are found
      // with a second load one byte further on, so that prose passes without a stop.
      // Outside printable ASCII: the controls, DEL and every byte of a non-ASCII character.
      const auto special_bits = [&](std::size_t at) {
        const text::Block block = text::Block::load(text.data() + at);
        const text::Block next = text::Block::load(text.data() + at + 1);
        return (block.outside(0x20, 0x7E) | (block.equal(' ') & next.equal('#')) |
                (block.equal(':') & next.equal(' ')))
            .mask();
      };
      for (; i + 17 <= size; i += 16) {
        if (const std::uint32_t bits = special_bits(i)) {
          i += static_cast<std::size_t>(std::countr_zero(bits));
          break;
        }
      }
      // The last sixteen bytes in one more block, which may go back over bytes already passed
      // and whose second load reads the byte after the text.
      if (i + 17 > size && size >= 16) {
        const std::size_t last = size - 16;
        const std::uint32_t bits = special_bits(last) >> (i - last);
        i = bits == 0 ? size : i + static_cast<std::size_t>(std::countr_zero(bits));
      }
    }
    while (i < size && kByteClasses[static_cast<unsigned char>(text[i])] == kOrdinary) ++i;
    if (i >= size) break;
    const std::uint8_t byte_class = kByteClasses[static_cast<unsigned char>(text[i])];
    if (byte_class == kSpace) {
      if (i + 1 == size || text[i + 1] == '#') plain = false;
      ++i;
    } else if (byte_class == kColon) {
      if (i + 1 == size || text[i + 1] == ' ') plain = false;
      ++i;
    } else if (byte_class == kBreak) {
      return block_allowed ? multiline_style(text, i + 1) : Style::Double;
    } else if (byte_class == kControl) {
      return Style::Double;
    } else {
      // A run of non-ASCII characters is taken whole.
      do {
        if (!table.printable(decode_utf8(text, i))) return Style::Double;
      } while (i < size && static_cast<unsigned char>(text[i]) >= 0x80);
    }
  }
  return plain && types_as_string(text) ? Style::Plain : Style::Single;
}

}  // namespace corvane::emit
