// Typing of plain scalars (null, bools, integers, floats), the classify functions for each
// context, and the decoding of quoted scalars.
#include "scalar/scalar.hpp"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>
#include <version>

// std::from_chars for double where the standard library has it; libc++ before 20 does not.
// CORVANE_PORTABLE_FLOAT forces the own conversion, so that it can be tested anywhere.
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L && !defined(CORVANE_PORTABLE_FLOAT)
#define CORVANE_FROM_CHARS_DOUBLE 1
#else
#define CORVANE_FROM_CHARS_DOUBLE 0
#include "scalar/decimal.hpp"
#endif

namespace corvane {
namespace {

inline unsigned char byte_at(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

// Position of the first blank that is directly followed by `#`, or npos.
std::size_t find_comment(std::string_view text) {
  for (std::size_t i = find(text, 1, '#'); i != std::string_view::npos;
       i = find(text, i + 1, '#')) {
    if (starts_comment(text, i)) return i - 1;
  }
  return std::string_view::npos;
}

CORVANE_ALWAYS_INLINE inline bool equals_any(std::string_view text, std::string_view a,
                                             std::string_view b, std::string_view c) {
  return text == a || text == b || text == c;
}

int digit_value(unsigned char c, int radix) {
  int value;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  } else {
    return -1;
  }
  return value < radix ? value : -1;
}

constexpr std::uint64_t kTwoTo63 = std::uint64_t{1} << 63;

// The magnitude of a run of digits in `radix`, if it is at most 2^63 (the largest magnitude
// of a signed 64-bit integer, reached by -2^63).
bool parse_magnitude(std::string_view digits, int radix, std::uint64_t& out) {
  if (digits.empty()) return false;
  const auto base = static_cast<std::uint64_t>(radix);
  std::uint64_t magnitude = 0;
  if (radix == 10 && digits.size() <= 18) {
    // Eighteen decimal digits stay below 10^18 < 2^63: no overflow check is needed.
    for (char c : digits) {
      const auto d = static_cast<unsigned char>(c - '0');
      if (d > 9) return false;
      magnitude = magnitude * 10 + d;
    }
    out = magnitude;
    return true;
  }
  // Fifteen hex or twenty octal digits stay below 2^60, eighteen decimal ones below 2^63.
  const std::size_t safe_digits = radix == 16 ? 15 : radix == 8 ? 20 : 18;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    const int d = digit_value(static_cast<unsigned char>(digits[i]), radix);
    if (d < 0) return false;
    const auto digit = static_cast<std::uint64_t>(d);
    // Past the safe digits, magnitude * base + digit <= 2^63 exactly when this holds.
    if (i >= safe_digits && magnitude > (kTwoTo63 - digit) / base) return false;
    magnitude = magnitude * base + digit;
  }
  out = magnitude;
  return true;
}

// Decimal, or 0x/0o with an optionally signed digit part. The text is an integer when its
// value, both signs applied, lies in the signed 64-bit range: -9223372036854775808 and
// -0x8000000000000000 are integers, -0x-8000000000000000 (that is, 2^63) is not.
bool try_integer(std::string_view text, std::int64_t& out) {
  bool negative = text[0] == '-';
  std::string_view body = text;
  if (text[0] == '+' || text[0] == '-') body.remove_prefix(1);
  int radix = 10;
  if (body.size() >= 2 && body[0] == '0') {
    if (body[1] == 'x' || body[1] == 'X') radix = 16;
    if (body[1] == 'o' || body[1] == 'O') radix = 8;
  }
  if (radix != 10) {
    body.remove_prefix(2);
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
      negative = negative != (body[0] == '-');
      body.remove_prefix(1);
    }
  }
  std::uint64_t magnitude;
  if (!parse_magnitude(body, radix, magnitude)) return false;
  if (!negative && magnitude == kTwoTo63) return false;
  out = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
  return true;
}

// Accepts [+-]? (digits ('.' digits*)? | '.' digits) ([eE] [+-]? digits)? and nothing else.
bool is_decimal_float(std::string_view text) {
  std::size_t i = 0, n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t int_digits = 0, frac_digits = 0;
  while (i < n && is_digit(text[i])) ++i, ++int_digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && is_digit(text[i])) ++i, ++frac_digits;
  }
  if (int_digits == 0 && frac_digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exp_digits = 0;
    while (i < n && is_digit(text[i])) ++i, ++exp_digits;
    if (exp_digits == 0) return false;
  }
  return i == n;
}

#if CORVANE_FROM_CHARS_DOUBLE
// For a well-formed decimal text whose value is out of the double range: whether it is too
// large (true) or too small (false). The decimal exponent of the first significant digit
// tells the two apart, since the limits are near 1e308 and 1e-324.
bool overflows(std::string_view text) {
  std::size_t i = 0, n = text.size();
  if (text[i] == '+' || text[i] == '-') ++i;
  std::int64_t position = 0;  // decimal exponent of the first significant digit
  bool found = false;
  std::int64_t int_digits = 0;
  while (i < n && is_digit(text[i])) {
    if (!found && text[i] != '0') found = true;
    if (found) ++int_digits;
    ++i;
  }
  if (found) position = int_digits - 1;
  if (i < n && text[i] == '.') {
    ++i;
    std::int64_t k = 0;
    while (i < n && is_digit(text[i])) {
      ++k;
      if (!found && text[i] != '0') {
        found = true;
        position = -k;
      }
      ++i;
    }
  }
  std::int64_t exponent = 0;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') negative = text[i++] == '-';
    for (; i < n; ++i) {
      if (exponent < 1'000'000'000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  return position + exponent >= 0;
}
#endif

// The value of a well-formed decimal text when a single correctly rounded operation gives it:
// its digits, without the point, form an integer of at most 2^53 and its power of ten lies
// within 10^±22, so both operands are exact doubles. Most floats in configuration files
// qualify; the others go through the general conversion.
bool try_exact_decimal(std::string_view text, double& out) {
  static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  constexpr std::uint64_t kMaxExactInteger = std::uint64_t{1} << 53;
  const std::size_t n = text.size();
  std::size_t i = 0;
  const bool negative = text[0] == '-';
  if (text[0] == '+' || text[0] == '-') ++i;
  std::uint64_t mantissa = 0;
  int significant_digits = 0;
  int exponent = 0;
  const auto take_digit = [&](char c) {
    // Leading zeros add nothing; past 19 digits the mantissa could overflow.
    if (mantissa == 0 && c == '0') return true;
    if (++significant_digits > 19) return false;
    mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
    return true;
  };
  for (; i < n && is_digit(text[i]); ++i) {
    if (!take_digit(text[i])) return false;
  }
  if (i < n && text[i] == '.') {
    for (++i; i < n && is_digit(text[i]); ++i) {
      if (!take_digit(text[i])) return false;
      --exponent;
    }
  }
  if (i < n) {  // the exponent part, which the text is known to hold well-formed
    ++i;
    const bool negative_exponent = text[i] == '-';
    if (text[i] == '+' || text[i] == '-') ++i;
    if (n - i > 3) return false;
    int written = 0;
    for (; i < n; ++i) written = written * 10 + (text[i] - '0');
    exponent += negative_exponent ? -written : written;
  }
  if (mantissa > kMaxExactInteger || exponent < -22 || exponent > 22) return false;
  // Where double operations are carried out in a wider format (x87), the integer and the power
  // of ten would be rounded to that format first and to double only on the way out.
  if constexpr (FLT_EVAL_METHOD != 0) return false;
  double value = static_cast<double>(mantissa);
  value = exponent < 0 ? value / kPowersOfTen[-exponent] : value * kPowersOfTen[exponent];
  out = negative ? -value : value;
  return true;
}

bool try_float(std::string_view text, double& out) {
  if (text.size() == 4 && text[0] == '.') {
    if (equals_any(text, ".inf", ".Inf", ".INF")) {
      out = std::numeric_limits<double>::infinity();
      return true;
    }
    if (equals_any(text, ".nan", ".NaN", ".NAN")) {
      out = std::bit_cast<double>(std::uint64_t{0x7FF8000000000000});
      return true;
    }
  }
  if (text.size() == 5 && (text[0] == '+' || text[0] == '-')) {
    std::string_view rest = text.substr(1);
    if (equals_any(rest, ".inf", ".Inf", ".INF")) {
      out = text[0] == '-' ? -std::numeric_limits<double>::infinity()
                           : std::numeric_limits<double>::infinity();
      return true;
    }
  }
  bool has_float_mark = false;
  for (char c : text) has_float_mark |= c == '.' || c == 'e' || c == 'E';
  if (!has_float_mark) return false;
  if (!is_decimal_float(text)) return false;
  if (try_exact_decimal(text, out)) return true;
#if !CORVANE_FROM_CHARS_DOUBLE
  out = decimal::parse_decimal(text);
  return true;
#else
  const bool negative = text[0] == '-';
  std::string_view number = text[0] == '+' ? text.substr(1) : text;
  double value = 0.0;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value,
                                      std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    value = overflows(text) ? std::numeric_limits<double>::infinity() : 0.0;
    if (negative) value = -value;
  } else if (error != std::errc() || end != number.data() + number.size()) {
    return false;
  }
  out = value;
  return true;
#endif
}

// Inlined into its callers: a scalar returned from a call and then copied would be read back
// before its parts are written out.
template <bool Yaml11Bools>
CORVANE_ALWAYS_INLINE inline Scalar infer_word_kind(std::string_view text) {
  // Tested by length, each group at once: most words are none of these, and a test that
  // fails the same way each time costs nothing, where a jump on the first letter is
  // mispredicted from one word to the next.
  const auto any_of = [text](std::string_view a, std::string_view b, std::string_view c) {
    // Bitwise, so that the three tests make one branch.
    const auto is = [text](std::string_view word) { return static_cast<unsigned>(text == word); };
    return (is(a) | is(b) | is(c)) != 0;
  };
  const std::size_t size = text.size();
  if (size == 4) {
    if (any_of("null", "Null", "NULL")) return Scalar::null();
    if (any_of("true", "True", "TRUE")) return Scalar::boolean(true);
  } else if (size == 5) {
    if (any_of("false", "False", "FALSE")) return Scalar::boolean(false);
  } else if (size == 1) {
    if (text[0] == '~') return Scalar::null();
    if constexpr (Yaml11Bools) {
      if (text[0] == 'y' || text[0] == 'Y') return Scalar::boolean(true);
      if (text[0] == 'n' || text[0] == 'N') return Scalar::boolean(false);
    }
  } else if constexpr (Yaml11Bools) {
    if (size == 2) {
      if (any_of("on", "On", "ON")) return Scalar::boolean(true);
      if (any_of("no", "No", "NO")) return Scalar::boolean(false);
    } else if (size == 3) {
      if (any_of("yes", "Yes", "YES")) return Scalar::boolean(true);
      if (any_of("off", "Off", "OFF")) return Scalar::boolean(false);
    }
  }
  return Scalar::view(text);
}

// The parts shared by the three classify functions: leading whitespace, the refused
// indicators and quoted scalars; `plain` types what is left. Every branch returns its result
// directly, so it is built in place.
template <class Plain>
CORVANE_ALWAYS_INLINE inline Result<Scalar> classify_with(std::string_view text, std::uint64_t line,
                                                          Plain plain) {
  text = trim_start(text);
  if (text.empty()) return Scalar::null();
  switch (text[0]) {
    case '!': return unsupported(line, "Tags are not supported in Corvane");
    case '&': return unsupported(line, "Anchors are not supported in Corvane");
    case '*': return unsupported(line, "Aliases are not supported in Corvane");
    case '"': return parse_double_quoted(text, line);
    case '\'': return parse_single_quoted(text, line);
    default: return plain(text);
  }
}

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
    int d = pos < content.size() ? digit_value(byte_at(content, pos), 16) : -1;
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

// The double-quoted scalar that opens text[0] and holds a backslash at `backslash`, decoded in
// the same pass that finds its closing quote, whose position goes to `close`. Nothing when the
// quote is left open or an escape is invalid: the caller then takes the path that reports
// errors in their order.
// The path that finds the errors of a double-quoted scalar, each in its turn.
CORVANE_COLD Result<Scalar> report_double_quoted(std::string_view text, std::uint64_t line);

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

std::string_view strip_comment(std::string_view text) {
  std::size_t cut = find_comment(text);
  if (cut != std::string_view::npos) text = text.substr(0, cut);
  return trim_end(text);
}

namespace {

enum class CommonNumber : std::uint8_t { Neither, Integer, Float };

// The common numbers in one pass: a decimal integer of at most nineteen digits, a hex one of at
// most fifteen, or a decimal float of at most nineteen digits whose power of ten lies within 10^±22
// and whose digits form an integer of at most 2^53, so that one correctly rounded operation gives
// its value, as from_chars would. Anything else, a leading `+`, octal and `.5` included, is Neither
// and goes through the general path.
CORVANE_ALWAYS_INLINE inline CommonNumber read_common_number(std::string_view text,
                                                             std::int64_t& integer,
                                                             double& number) {
  const char* at = text.data();
  const char* const end = at + text.size();
  const bool negative = *at == '-';
  at += negative ? 1 : 0;
  const char* const digits = at;
  std::uint64_t mantissa = 0;
  for (; at != end && is_digit(*at); ++at)
    mantissa = mantissa * 10 + static_cast<unsigned>(*at - '0');
  const auto int_digits = static_cast<std::size_t>(at - digits);
  // Nineteen digits stay below 10^19 < 2^64.
  if (int_digits == 0 || int_digits > 19) return CommonNumber::Neither;
  if (at == end) {
    if (mantissa > kTwoTo63 - (negative ? 0 : 1)) return CommonNumber::Neither;
    integer =
        negative ? static_cast<std::int64_t>(0 - mantissa) : static_cast<std::int64_t>(mantissa);
    return CommonNumber::Integer;
  }
  if (int_digits == 1 && mantissa == 0 && (*at == 'x' || *at == 'X')) {
    // Up to fifteen hex digits, which stay below 2^60; a sign after the prefix is left to the
    // general path.
    const char* const hex_digits = ++at;
    for (; at != end; ++at) {
      const int digit = digit_value(static_cast<unsigned char>(*at), 16);
      if (digit < 0) return CommonNumber::Neither;
      mantissa = mantissa * 16 + static_cast<unsigned>(digit);
    }
    const auto count = at - hex_digits;
    if (count == 0 || count > 15) return CommonNumber::Neither;
    integer =
        negative ? static_cast<std::int64_t>(0 - mantissa) : static_cast<std::int64_t>(mantissa);
    return CommonNumber::Integer;
  }
  int exponent = 0;
  if (*at == '.') {
    const char* const fraction = ++at;
    for (; at != end && is_digit(*at); ++at)
      mantissa = mantissa * 10 + static_cast<unsigned>(*at - '0');
    const auto fraction_digits = static_cast<std::size_t>(at - fraction);
    if (int_digits + fraction_digits > 19) return CommonNumber::Neither;
    exponent = -static_cast<int>(fraction_digits);
  }
  if (at != end) {
    if (*at != 'e' && *at != 'E') return CommonNumber::Neither;
    ++at;
    const bool negative_exponent = at != end && *at == '-';
    if (at != end && (*at == '+' || *at == '-')) ++at;
    const char* const exponent_digits = at;
    // Unsigned, so that a long run of digits wraps harmlessly before it is refused.
    unsigned written = 0;
    for (; at != end && is_digit(*at); ++at)
      written = written * 10 + static_cast<unsigned>(*at - '0');
    const auto count = at - exponent_digits;
    if (at != end || count == 0 || count > 3) return CommonNumber::Neither;
    const int value = static_cast<int>(written);
    exponent += negative_exponent ? -value : value;
  }
  static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                            1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  if (mantissa > (std::uint64_t{1} << 53) || exponent < -22 || exponent > 22) {
    return CommonNumber::Neither;
  }
  // Where double operations are carried out in a wider format (x87), see try_exact_decimal.
  if constexpr (FLT_EVAL_METHOD != 0) return CommonNumber::Neither;
  const double value = static_cast<double>(mantissa);
  number = exponent < 0 ? value / kPowersOfTen[-exponent] : value * kPowersOfTen[exponent];
  if (negative) number = -number;
  return CommonNumber::Float;
}

// A plain text that starts like a number. Out of line, so that the typing of words keeps a
// small frame.
Result<Scalar> infer_number_kind(std::string_view text) {
  std::int64_t integer;
  double number;
  switch (read_common_number(text, integer, number)) {
    case CommonNumber::Integer: return Scalar::integer(integer);
    case CommonNumber::Float: return Scalar::floating(number);
    case CommonNumber::Neither: break;
  }
  if (try_integer(text, integer)) return Scalar::integer(integer);
  if (try_float(text, number)) return Scalar::floating(number);
  return Scalar::view(text);
}

// The typing itself, built straight into the caller's result: a scalar made in one function
// and copied whole in another would be read back before its parts are written out, which
// stalls the processor on every value.
template <bool Yaml11Bools>
CORVANE_ALWAYS_INLINE inline Result<Scalar> infer_plain_kind(std::string_view text) {
  if (text.empty()) return Scalar::null();
  const char first = text[0];
  if (!(is_digit(first) || first == '+' || first == '-' || first == '.')) {
    return infer_word_kind<Yaml11Bools>(text);
  }
  return infer_number_kind(text);
}

}  // namespace

template <bool Yaml11Bools>
Result<Scalar> infer_kind(std::string_view text) {
  return infer_plain_kind<Yaml11Bools>(text);
}

template <bool Yaml11Bools>
Result<Scalar> classify_scalar(std::string_view text, std::uint64_t line) {
  return classify_with(text, line, [](std::string_view plain) -> Result<Scalar> {
    return infer_plain_kind<Yaml11Bools>(strip_comment(plain));
  });
}

template <bool Yaml11Bools>
Result<Scalar> classify_key_scalar(std::string_view text, std::uint64_t line) {
  return classify_with(text, line, [line](std::string_view plain) -> Result<Scalar> {
    if (find_comment(plain) != std::string_view::npos) {
      return syntax_error(line, "Mapping key ends in a comment; the ':' separator is inside it");
    }
    return infer_plain_kind<Yaml11Bools>(trim_end(plain));
  });
}

template <bool Yaml11Bools>
Result<Scalar> classify_value_scalar(std::string_view text, std::uint64_t line) {
  return classify_with(text, line, [line](std::string_view plain) -> Result<Scalar> {
    return classify_plain_value<Yaml11Bools>(plain, line);
  });
}

template <bool Yaml11Bools>
Result<Scalar> classify_plain_value(std::string_view text, std::uint64_t line,
                                    const char* readable_end) {
  // The first of a blank followed by `#` (a comment) and `: ` (a refused separator) decides.
  for (std::size_t i = find_either_from_start(text, ':', '#', readable_end);
       i != std::string_view::npos; i = find_either(text, i + 1, ':', '#')) {
    if (text[i] == '#') {
      if (starts_comment(text, i)) {
        text = text.substr(0, i - 1);
        break;
      }
    } else if (i + 1 < text.size() && text[i + 1] == ' ') {
      return syntax_error(line,
                          "Unexpected ':' in a plain scalar value (nested mappings must use "
                          "quotes or a new line)");
    }
  }
  return infer_plain_kind<Yaml11Bools>(trim_end(text));
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

template Result<Scalar> infer_kind<false>(std::string_view);
template Result<Scalar> infer_kind<true>(std::string_view);
template Result<Scalar> classify_scalar<false>(std::string_view, std::uint64_t);
template Result<Scalar> classify_scalar<true>(std::string_view, std::uint64_t);
template Result<Scalar> classify_key_scalar<false>(std::string_view, std::uint64_t);
template Result<Scalar> classify_key_scalar<true>(std::string_view, std::uint64_t);
template Result<Scalar> classify_value_scalar<false>(std::string_view, std::uint64_t);
template Result<Scalar> classify_value_scalar<true>(std::string_view, std::uint64_t);
template Result<Scalar> classify_plain_value<false>(std::string_view, std::uint64_t, const char*);
template Result<Scalar> classify_plain_value<true>(std::string_view, std::uint64_t, const char*);

}  // namespace corvane
