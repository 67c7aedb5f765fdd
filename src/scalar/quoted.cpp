// Quoted scalars: finding the closing quote, decoding the escapes of double-quoted scalars and
// the doubled quotes of single-quoted ones, and the buffer each thread reuses for short decoded
// texts.
#include "scalar/quoted.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

#include "base/attributes.hpp"
#include "text/bytes.hpp"
#include "text/chars.hpp"
#include "text/utf8.hpp"

namespace corvane {
namespace {

// Accepts blanks, optionally followed by a comment, after a closing quote.
Result<void> check_tail(std::string_view tail, std::uint64_t line) {
  std::size_t i = 0;
  while (i < tail.size() && is_blank(tail[i])) ++i;
  if (i == tail.size() || starts_comment(tail, i)) return {};
  return syntax_error(line, "Unexpected content after quoted scalar");
}

Result<Scalar> unclosed_quote(std::uint64_t line) {
  return syntax_error(line, "Unclosed quote; quoted strings must be on a single line");
}

// Reads `count` hex digits at `pos` of `content`, advancing `pos`.
Result<std::uint32_t> read_hex(std::string_view content, std::size_t& pos, int count,
                               std::uint64_t line) {
  std::uint32_t value = 0;
  for (int i = 0; i < count; ++i) {
    const int d = pos < content.size() ? hex_digit_value(content[pos]) : -1;
    if (d < 0) return syntax_error(line, "invalid hex escape in double-quoted string");
    value = value * 16 + static_cast<std::uint32_t>(d);
    ++pos;
  }
  if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return syntax_error(line, "escape resolves to an invalid code point");
  }
  return value;
}

unexpected<LoadError> bad_escape(std::uint64_t line, std::string_view escaped) {
  std::string message;
  message.reserve(17 + escaped.size());
  message.append("unknown escape '\\").append(escaped).append("'");
  return syntax_error(line, std::move(message));
}

// The one escape whose decoded form a single character settles, or -1.
int simple_escape(char c) {
  switch (c) {
    case '0': return '\0';
    case 'a': return '\a';
    case 'b': return '\b';
    case 't':
    case '\t': return '\t';
    case 'n': return '\n';
    case 'v': return '\v';
    case 'f': return '\f';
    case 'r': return '\r';
    case 'e': return '\x1B';
    case ' ': return ' ';
    case '"': return '"';
    case '/': return '/';
    case '\\': return '\\';
    default: return -1;
  }
}

// The code point that a letter escape stands for (\N, \_, \L, \P); 0 for any other letter.
std::uint32_t named_escape(char c) {
  switch (c) {
    case 'N': return 0x85;
    case '_': return 0xA0;
    case 'L': return 0x2028;
    case 'P': return 0x2029;
    default: return 0;
  }
}

// The number of hex digits after \x, \u or \U; 0 for any other letter.
int hex_escape_digits(char c) {
  return c == 'x' ? 2 : c == 'u' ? 4 : c == 'U' ? 8 : 0;
}

// Room for the decoded text of one quoted scalar. Short texts are written into a buffer that
// each thread keeps from scalar to scalar, which saves an allocation and a release per decoded
// scalar; a longer one gets a buffer of its own, which its scalar takes.
class DecodedText {
 public:
  // The buffer a thread keeps is at most this large, so that it never holds much memory.
  static constexpr std::size_t kKeptCapacity = 64 * 1024;

  explicit DecodedText(std::size_t expected) {
    Spare& spare = spare_;
    if (expected <= spare.capacity && spare.capacity != 0) {
      data_ = spare.buffer.get();
      capacity_ = spare.capacity;
    } else {
      grow(expected);
    }
  }

  // Where the next `more` bytes go.
  char* room(std::size_t more) {
    if (size_ + more > capacity_) [[unlikely]] {
      grow(size_ + more);
    }
    return data_ + size_;
  }
  void wrote(char* end) { size_ = static_cast<std::size_t>(end - data_); }
  void append(const char* from, std::size_t count) {
    std::memcpy(room(count), from, count);
    size_ += count;
  }

  Scalar finish() {
    if (own_) return Scalar::owned(std::move(own_), size_);
    return Scalar::decoded(std::string_view(data_, size_));
  }

 private:
  struct Spare {
    TextBuffer buffer;
    std::size_t capacity = 0;
  };

  CORVANE_COLD void grow(std::size_t needed) {
    const std::size_t capacity = std::max({needed, capacity_ * 2, std::size_t{256}});
    TextBuffer bigger = new_text_buffer(capacity);
    if (size_ != 0) std::memcpy(bigger.get(), data_, size_);
    data_ = bigger.get();
    capacity_ = capacity;
    if (capacity <= kKeptCapacity) {
      // The kept buffer holds no scalar's text any more: each went to the sink before this one.
      spare_.buffer = std::move(bigger);
      spare_.capacity = capacity;
      own_.reset();
    } else {
      own_ = std::move(bigger);
    }
  }

  static thread_local Spare spare_;

  char* data_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  TextBuffer own_;  // set when the text outgrew the kept buffer
};

thread_local DecodedText::Spare DecodedText::spare_;

// The path that finds the errors of a double-quoted scalar, each in its turn.
CORVANE_COLD Result<Scalar> report_double_quoted(std::string_view text, std::uint64_t line);

// The double-quoted scalar that opens text[0] and holds a backslash at `backslash`, decoded in
// the same pass that finds its closing quote, whose position goes to `close`. Nothing when the
// quote is left open or an escape is invalid: the caller then takes the path that reports
// errors in their order.
std::optional<Scalar> read_escaped(std::string_view text, std::size_t backslash,
                                   std::size_t& close) {
  DecodedText out(text.size() < DecodedText::kKeptCapacity ? text.size() : 0);
  std::size_t pos = 1;
  std::size_t stop = backslash;
  for (;;) {
    out.append(text.data() + pos, stop - pos);
    if (text[stop] == '"') break;
    if (stop + 1 == text.size()) return std::nullopt;
    const char c = text[stop + 1];
    pos = stop + 2;
    char* write = out.room(4);
    if (const int simple = simple_escape(c); simple >= 0) {
      *write++ = static_cast<char>(simple);
    } else {
      std::uint32_t code_point = named_escape(c);
      if (code_point == 0) {
        const int digits = hex_escape_digits(c);
        if (digits == 0) return std::nullopt;
        // A hex digit is never a quote, so the digits end before the closing quote.
        auto read = read_hex(text, pos, digits, 0);
        if (!read) return std::nullopt;
        code_point = *read;
      }
      write = put_utf8(write, code_point);
    }
    out.wrote(write);
    stop = find_either(text, pos, '"', '\\');
    if (stop == std::string_view::npos) return std::nullopt;
  }
  close = stop;
  return out.finish();
}
}  // namespace

Result<Scalar> decode_escapes(std::string_view content, std::uint64_t line) {
  // No escape decodes to more than one and a half times its own length (\L and \P: two
  // bytes for three), so the output is sized once and written through a pointer.
  TextBuffer out = new_text_buffer(content.size() + content.size() / 2);
  char* write = out.get();
  std::size_t pos = 0;
  while (pos < content.size()) {
    const std::size_t stop = std::min(find(content, pos, '\\'), content.size());
    std::memcpy(write, content.data() + pos, stop - pos);
    write += stop - pos;
    if (stop == content.size()) break;
    pos = stop + 1;  // the closing-quote scan guarantees a byte after every backslash
    const char c = content[pos++];
    if (const int simple = simple_escape(c); simple >= 0) {
      *write++ = static_cast<char>(simple);
      continue;
    }
    std::uint32_t code_point = named_escape(c);
    if (code_point == 0) {
      const int digits = hex_escape_digits(c);
      if (digits == 0) {
        std::size_t length =
            std::min(utf8_length(static_cast<unsigned char>(c)), content.size() - pos + 1);
        return bad_escape(line, content.substr(pos - 1, length));
      }
      auto read = read_hex(content, pos, digits, line);
      if (!read) return unexpected(std::move(read.error()));
      code_point = *read;
    }
    write = put_utf8(write, code_point);
  }
  const auto size = static_cast<std::size_t>(write - out.get());
  return Scalar::owned(std::move(out), size);
}
std::size_t find_closing_quote(std::string_view text) {
  bool unused;
  return find_closing_quote(text, unused);
}

std::size_t find_closing_quote(std::string_view text, bool& needs_decoding) {
  const char quote = text[0];
  const char escape = quote == '"' ? '\\' : quote;
  needs_decoding = false;
  std::size_t i = 1;
  while ((i = find_either(text, i, quote, escape)) != std::string_view::npos) {
    if (text[i] == '\\' && quote == '"') {
      needs_decoding = true;
      i += 2;  // the escaped character cannot close the scalar
      continue;
    }
    if (quote == '"' || i + 1 == text.size() || text[i + 1] != '\'') return i;
    needs_decoding = true;
    i += 2;  // a doubled single quote
  }
  return std::string_view::npos;
}

std::optional<Scalar> read_double_quoted(std::string_view text, std::size_t& close) {
  const std::size_t stop = find_either(text, 1, '"', '\\');
  if (stop == std::string_view::npos) return std::nullopt;
  if (text[stop] == '"') {
    close = stop;
    return Scalar::view(text.substr(1, stop - 1));
  }
  return read_escaped(text, stop, close);
}

Result<Scalar> parse_double_quoted(std::string_view text, std::uint64_t line) {
  // The common scalars are read in one pass; every error is found by the second path below.
  const std::size_t stop = find_either(text, 1, '"', '\\');
  if (stop != std::string_view::npos) {
    std::size_t close = stop;
    std::optional<Scalar> read = text[stop] == '"'
                                     ? std::optional<Scalar>(Scalar::view(text.substr(1, stop - 1)))
                                     : read_escaped(text, stop, close);
    if (read) {
      if (auto tail = check_tail(text.substr(close + 1), line); !tail) {
        return unexpected(std::move(tail.error()));
      }
      return std::move(*read);
    }
  }
  return report_double_quoted(text, line);
}

namespace {
Result<Scalar> report_double_quoted(std::string_view text, std::uint64_t line) {
  bool has_escapes;
  const std::size_t close = find_closing_quote(text, has_escapes);
  if (close == std::string_view::npos) return unclosed_quote(line);
  if (auto tail = check_tail(text.substr(close + 1), line); !tail) {
    return unexpected(std::move(tail.error()));
  }
  std::string_view content = text.substr(1, close - 1);
  if (!has_escapes) return Scalar::view(content);
  return decode_escapes(content, line);
}
}  // namespace

Result<Scalar> parse_single_quoted(std::string_view text, std::uint64_t line) {
  bool has_doubled_quotes;
  const std::size_t close = find_closing_quote(text, has_doubled_quotes);
  if (close == std::string_view::npos) return unclosed_quote(line);
  if (auto tail = check_tail(text.substr(close + 1), line); !tail) {
    return unexpected(std::move(tail.error()));
  }
  // Inside the span a quote only occurs doubled.
  std::string_view content = text.substr(1, close - 1);
  if (!has_doubled_quotes) return Scalar::view(content);
  return unfold_single_quoted(content);
}

Scalar unfold_single_quoted(std::string_view content) {
  DecodedText out(content.size());
  std::size_t from = 0;
  while (from < content.size()) {
    // Copies up to and including the next quote, then steps over the second quote of its pair.
    const std::size_t quote = std::min(find(content, from, '\''), content.size() - 1);
    out.append(content.data() + from, quote + 1 - from);
    from = quote + 2;
  }
  return out.finish();
}
}  // namespace corvane
