// The writers of a string's quoted and literal forms into the output.
#include "emit/string_text.hpp"

#include <array>
#include <cstdint>
#include <cstring>

#include "emit/plain_run.hpp"
#include "emit/printable_bitmap.hpp"
#include "text/utf8.hpp"

namespace corvane::emit {
namespace {

// The escape letter of each ASCII byte in double quotes: 0 for a byte that stands for itself,
// `x` for a control without a letter of its own; every non-ASCII byte is looked at further.
constexpr std::array<char, 256> make_quoted_escapes() {
  std::array<char, 256> escapes{};
  for (int b = 0; b < 256; ++b) escapes[b] = b < 0x20 || b >= 0x7F ? 'x' : 0;
  escapes['"'] = '"';
  escapes['\\'] = '\\';
  escapes[0x00] = '0';
  escapes[0x07] = 'a';
  escapes[0x08] = 'b';
  escapes[0x09] = 't';
  escapes[0x0A] = 'n';
  escapes[0x0B] = 'v';
  escapes[0x0C] = 'f';
  escapes[0x0D] = 'r';
  escapes[0x1B] = 'e';
  return escapes;
}
constexpr std::array<char, 256> kQuotedEscapes = make_quoted_escapes();
constexpr char kHexDigits[] = "0123456789ABCDEF";

// The escape of a character outside printable ASCII that is not printable.
char* write_escape(char* o, char32_t cp) {
  *o++ = '\\';
  char short_escape = 0;
  switch (cp) {
    case 0x85: short_escape = 'N'; break;
    case 0xA0: short_escape = '_'; break;
    case 0x2028: short_escape = 'L'; break;
    case 0x2029: short_escape = 'P'; break;
    default: break;
  }
  if (short_escape != 0) {
    *o++ = short_escape;
    return o;
  }
  const int digits = cp < 0x100 ? 2 : cp < 0x10000 ? 4 : 8;
  *o++ = digits == 2 ? 'x' : digits == 4 ? 'u' : 'U';
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    *o++ = kHexDigits[(cp >> shift) & 0xF];
  }
  return o;
}

}  // namespace

bool write_single_quoted(Output& output, std::string_view text) {
  // At most every byte is a quote, doubled.
  char* at = output.reserve(text.size() * 2 + 2);
  if (at == nullptr) return false;
  char* o = at;
  *o++ = '\'';
  for (char c : text) {
    *o++ = c;
    if (c == '\'') *o++ = '\'';
  }
  *o++ = '\'';
  output.commit(static_cast<std::size_t>(o - at));
  return true;
}

bool write_double_quoted(Output& output, std::string_view text) {
  // At most four bytes out for each byte in: `\xXX` for one byte, `\uXXXX` for two or three,
  // `\UXXXXXXXX` for four.
  char* at = output.reserve(text.size() * 4 + 2);
  if (at == nullptr) return false;
  const PrintableBitmap& printable = printable_bitmap();
  char* o = at;
  *o++ = '"';
  const char* data = text.data();
  const std::size_t size = text.size();
  for (std::size_t i = 0; i < size;) {
    i = copy_plain_run(
        data, i, size, kQuotedEscapes,
        [](text::Block block) {
          return block.outside(0x20, 0x7E) | block.equal('"') | block.equal('\\');
        },
        o);
    if (i >= size) break;
    const auto byte = static_cast<unsigned char>(data[i]);
    if (byte < 0x80) {
      // The quote, the backslash, a C0 control or DEL: one escape of two or four bytes.
      const char escape = kQuotedEscapes[byte];
      *o++ = '\\';
      if (escape != 'x') {
        *o++ = escape;
      } else {
        *o++ = 'x';
        *o++ = kHexDigits[byte >> 4];
        *o++ = kHexDigits[byte & 0xF];
      }
      ++i;
      continue;
    }
    const std::size_t start = i;
    const char32_t cp = decode_utf8(text, i);
    if (printable.printable(cp)) {
      std::memcpy(o, data + start, i - start);
      o += i - start;
      continue;
    }
    o = write_escape(o, cp);
  }
  *o++ = '"';
  output.commit(static_cast<std::size_t>(o - at));
  return true;
}

bool write_styled(Output& output, std::string_view text, Style style) {
  switch (style) {
    case Style::Plain: return output.append(text);
    case Style::Single: return write_single_quoted(output, text);
    default: return write_double_quoted(output, text);
  }
}

bool write_literal(Output& output, std::string_view text, std::size_t column, std::size_t indent) {
  const std::size_t first = text.find_first_not_of('\n');
  std::size_t trailing = 0;
  while (text[text.size() - 1 - trailing] == '\n') ++trailing;
  char header[4];
  std::size_t n = 0;
  header[n++] = '|';
  // A first line that starts with a space would set the indentation itself.
  if (text[first] == ' ') header[n++] = static_cast<char>('0' + indent);
  if (trailing == 0) header[n++] = '-';
  if (trailing > 1) header[n++] = '+';
  header[n++] = '\n';
  if (!output.append(std::string_view(header, n))) return false;
  const std::size_t content_column = column + indent;
  // The line feed that ends the last line closes its line; it starts no line of its own.
  const std::string_view body = trailing > 0 ? text.substr(0, text.size() - 1) : text;
  std::size_t start = 0;
  while (true) {
    std::size_t end = body.find('\n', start);
    const bool last = end == std::string_view::npos;
    if (last) end = body.size();
    const std::string_view line = body.substr(start, end - start);
    char* at = output.reserve(content_column + line.size() + 1);
    if (at == nullptr) return false;
    std::size_t written = 0;
    if (!line.empty()) {
      std::memset(at, ' ', content_column);
      std::memcpy(at + content_column, line.data(), line.size());
      written = content_column + line.size();
    }
    at[written++] = '\n';
    output.commit(written);
    if (last) return true;
    start = end + 1;
  }
}

}  // namespace corvane::emit
