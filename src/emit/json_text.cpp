// The JSON text of strings and floats.
#include "emit/json_text.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "emit/plain_run.hpp"

namespace corvane::emit {
namespace {

// The escape of each byte in a JSON string: 0 for a byte that stands for itself (every byte
// from 0x80 up too), a letter for the controls that have one, `u` for the others.
constexpr std::array<char, 256> make_json_escapes() {
  std::array<char, 256> escapes{};
  for (int b = 0; b < 0x20; ++b) escapes[b] = 'u';
  escapes['"'] = '"';
  escapes['\\'] = '\\';
  escapes['\b'] = 'b';
  escapes['\f'] = 'f';
  escapes['\n'] = 'n';
  escapes['\r'] = 'r';
  escapes['\t'] = 't';
  return escapes;
}
constexpr std::array<char, 256> kJsonEscapes = make_json_escapes();
constexpr char kLowerHexDigits[] = "0123456789abcdef";

// A piece of a string's text, escaped, at `o`; returns the end of what it wrote.
char* escape_piece(const char* data, std::size_t size, char* o) {
  for (std::size_t i = 0; i < size;) {
    i = copy_plain_run(
        data, i, size, kJsonEscapes,
        [](text::Block block) {
          return block.at_most(0x1F) | block.equal('"') | block.equal('\\');
        },
        o);
    if (i >= size) break;
    const auto byte = static_cast<unsigned char>(data[i++]);
    const char escape = kJsonEscapes[byte];
    *o++ = '\\';
    *o++ = escape;
    if (escape == 'u') {
      std::memcpy(o, "00", 2);
      o[2] = kLowerHexDigits[byte >> 4];
      o[3] = kLowerHexDigits[byte & 0xF];
      o += 4;
    }
  }
  return o;
}

// A long string is escaped a piece at a time, so that the room asked for, six bytes out for
// each byte in (`\u001f`), stays small whatever the string's length.
constexpr std::size_t kPiece = std::size_t{1} << 14;

}  // namespace

bool write_json_string(Output& output, std::string_view text) {
  if (!output.append('"')) return false;
  for (std::size_t start = 0; start < text.size(); start += kPiece) {
    const std::size_t size = std::min(kPiece, text.size() - start);
    char* at = output.reserve(size * 6);
    if (at == nullptr) return false;
    output.commit(static_cast<std::size_t>(escape_piece(text.data() + start, size, at) - at));
  }
  return output.append('"');
}

std::size_t write_float_name(double value, char* out) {
  if (std::isfinite(value)) return write_float_repr(value, out);
  // The YAML text of a NaN or an infinity is its name.
  return write_float(value, out);
}

std::size_t write_json_float(double value, char* out) {
  if (std::isfinite(value)) return write_float_repr(value, out);
  out[0] = '"';
  const std::size_t size = write_float(value, out + 1);
  out[size + 1] = '"';
  return size + 2;
}

}  // namespace corvane::emit
