// Typing of plain scalars and decoding of quoted scalars.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/attributes.hpp"
#include "error/error.hpp"

namespace corvane {

// Room for decoded text, written in place and then handed to a Scalar.
using TextBuffer = std::unique_ptr<char[]>;
inline TextBuffer new_text_buffer(std::size_t capacity) {
  return std::make_unique_for_overwrite<char[]>(capacity);
}

// The typed value of one scalar. A `Str` is a view into the input unless a quoted scalar had
// escapes or doubled quotes to decode, in which case it owns the buffer its view points into
// (a plain pointer, so that moving a scalar is a few word copies).
class Scalar {
 public:
  enum class Kind : std::uint8_t { Null, Bool, Int, Float, Str };

  static Scalar null() { return Scalar(Kind::Null); }
  static Scalar boolean(bool value) {
    Scalar s(Kind::Bool);
    s.bool_ = value;
    return s;
  }
  static Scalar integer(std::int64_t value) {
    Scalar s(Kind::Int);
    s.int_ = value;
    return s;
  }
  static Scalar floating(double value) {
    Scalar s(Kind::Float);
    s.float_ = value;
    return s;
  }
  static Scalar view(std::string_view text) {
    Scalar s(Kind::Str);
    s.view_ = text;
    return s;
  }
  // The first `size` bytes of `buffer`.
  static Scalar owned(TextBuffer buffer, std::size_t size) {
    Scalar s(Kind::Str);
    s.view_ = std::string_view(buffer.get(), size);
    s.owned_ = std::move(buffer);
    return s;
  }

  Kind kind() const { return kind_; }
  bool is_owned() const { return owned_ != nullptr; }
  bool as_bool() const { return bool_; }
  std::int64_t as_int() const { return int_; }
  double as_float() const { return float_; }
  std::string_view as_str() const { return view_; }

 private:
  explicit Scalar(Kind kind) : kind_(kind) {}

  Kind kind_;
  // Only the member that `kind_` names is meaningful; one scalar is made per value, so the
  // object is kept small.
  union {
    bool bool_;
    std::int64_t int_;
    double float_ = 0.0;
  };
  std::string_view view_;
  TextBuffer owned_;
};

// Unicode White_Space trimming on UTF-8 text. The inline checks settle the common case, a
// text that begins or ends with a printable ASCII character, without a call.
std::string_view trim_start_slow(std::string_view text);
std::string_view trim_end_slow(std::string_view text);
inline bool is_printable_ascii(char c) {
  return static_cast<unsigned char>(c) > ' ' && static_cast<unsigned char>(c) < 0x7F;
}
inline std::string_view trim_start(std::string_view text) {
  return !text.empty() && is_printable_ascii(text.front()) ? text : trim_start_slow(text);
}
inline std::string_view trim_end(std::string_view text) {
  return !text.empty() && is_printable_ascii(text.back()) ? text : trim_end_slow(text);
}
inline std::string_view trim(std::string_view text) {
  return trim_end(trim_start(text));
}
// Length of the White_Space character that starts `text`, or 0.
std::size_t whitespace_length_at(std::string_view text);

inline bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Position of the first byte of `text` at or after `from` that equals `a` or `b`, or npos.
// Scalar texts are often long and these bytes rare, so whole blocks are compared at once:
// sixteen bytes with SSE2 where the target has it, then eight bytes in a general register.
CORVANE_ALWAYS_INLINE inline std::size_t find_either(std::string_view text, std::size_t from,
                                                     char a, char b) {
  const char* data = text.data();
  const std::size_t size = text.size();
  std::size_t i = from;
#if defined(__SSE2__)
  if (i + 16 <= size) {
    const __m128i match_a = _mm_set1_epi8(a), match_b = _mm_set1_epi8(b);
    const auto hits_at = [&](std::size_t at) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
      return static_cast<unsigned>(_mm_movemask_epi8(
          _mm_or_si128(_mm_cmpeq_epi8(block, match_a), _mm_cmpeq_epi8(block, match_b))));
    };
    for (; i + 16 <= size; i += 16) {
      if (const unsigned hits = hits_at(i))
        return i + static_cast<std::size_t>(std::countr_zero(hits));
    }
    if (i == size) return std::string_view::npos;
    // The last sixteen bytes, overlapping bytes already searched, which are masked off.
    const std::size_t last = size - 16;
    if (const unsigned hits = hits_at(last) >> (i - last)) {
      return i + static_cast<std::size_t>(std::countr_zero(hits));
    }
    return std::string_view::npos;
  }
#endif
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  const std::uint64_t pattern_a = kOnes * static_cast<unsigned char>(a);
  const std::uint64_t pattern_b = kOnes * static_cast<unsigned char>(b);
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, data + i, 8);
    const std::uint64_t xa = word ^ pattern_a, xb = word ^ pattern_b;
    // A zero byte in xa or xb marks a match; the lowest flagged byte is always a true one.
    const std::uint64_t hits = (((xa - kOnes) & ~xa) | ((xb - kOnes) & ~xb)) & kHighs;
    if (hits != 0) return i + static_cast<std::size_t>(std::countr_zero(hits) >> 3);
  }
  if (i < size && size >= 8) {
    // The last eight bytes, read as one word that overlaps bytes before `i`. Those bytes are
    // masked off, so this test must flag exactly the zero bytes (the one above cannot, since
    // a borrow may flag the byte above a true zero).
    constexpr std::uint64_t kLows = ~kHighs;
    const std::size_t last = size - 8;
    std::uint64_t word;
    std::memcpy(&word, data + last, 8);
    const std::uint64_t xa = word ^ pattern_a, xb = word ^ pattern_b;
    const std::uint64_t zero_a = ~(((xa & kLows) + kLows) | xa) & kHighs;
    const std::uint64_t zero_b = ~(((xb & kLows) + kLows) | xb) & kHighs;
    const std::uint64_t hits = (zero_a | zero_b) & (~std::uint64_t{0} << ((i - last) * 8));
    if (hits != 0) return last + static_cast<std::size_t>(std::countr_zero(hits) >> 3);
    return std::string_view::npos;
  }
  if (i + 4 <= size) {
    // Four to seven bytes (short keys and values are the common case): the first four and the
    // last four, overlapping, in one word; a hit in the low half comes first in the text.
    constexpr std::uint64_t kLows = ~kHighs;
    std::uint32_t head, tail;
    std::memcpy(&head, data + i, 4);
    std::memcpy(&tail, data + size - 4, 4);
    const std::uint64_t word = head | std::uint64_t{tail} << 32;
    const std::uint64_t xa = word ^ pattern_a, xb = word ^ pattern_b;
    const std::uint64_t hits =
        (~(((xa & kLows) + kLows) | xa) | ~(((xb & kLows) + kLows) | xb)) & kHighs;
    if (hits == 0) return std::string_view::npos;
    const auto byte = static_cast<std::size_t>(std::countr_zero(hits) >> 3);
    return byte < 4 ? i + byte : size - 8 + byte;
  }
  for (; i < size; ++i) {
    if (data[i] == a || data[i] == b) return i;
  }
  return std::string_view::npos;
}

#if defined(__SSE2__)
// Bit i set when at[i] == c, for the 32 bytes from `at`, all of which must be readable.
inline std::uint32_t equal_bits_32(const char* at, char c) {
  const __m128i match = _mm_set1_epi8(c);
  const auto bits = [&](const char* from) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)), match)));
  };
  return bits(at) | bits(at + 16) << 16;
}
#endif

// The bits of the first `count` positions of a 32-bit mask (all of them from 32 on).
inline std::uint32_t low_bits_32(std::size_t count) {
  return count >= 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << count) - 1;
}

// find_either from the start of a text that is followed in memory by bytes that may be read,
// up to `readable_end` (null when unknown). With 32 of them, the first 32 bytes are searched in
// one step whatever the text's length, so short texts cost no test of their length.
CORVANE_ALWAYS_INLINE inline std::size_t find_either_from_start(std::string_view text, char a,
                                                                char b, const char* readable_end) {
#if defined(__SSE2__)
  const char* data = text.data();
  if (readable_end != nullptr && readable_end - data >= 32) {
    const std::size_t size = text.size();
    if (const std::uint32_t hits =
            (equal_bits_32(data, a) | equal_bits_32(data, b)) & low_bits_32(size)) {
      return static_cast<std::size_t>(std::countr_zero(hits));
    }
    return size <= 32 ? std::string_view::npos : find_either(text, 32, a, b);
  }
#else
  (void)readable_end;
#endif
  return find_either(text, 0, a, b);
}

// Number of spaces (U+0020) that `text` starts with. Deeply nested documents are mostly
// indentation, so this reads sixteen or eight bytes at a time.
inline std::size_t leading_spaces(std::string_view text) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i spaces = _mm_set1_epi8(' ');
  for (; i + 16 <= text.size(); i += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    const auto same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, spaces)));
    if (same != 0xFFFF) return i + static_cast<std::size_t>(std::countr_one(same));
  }
#endif
  constexpr std::uint64_t kSpaces = 0x2020202020202020ULL;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if (const std::uint64_t diff = word ^ kSpaces; diff != 0) {
      return i + static_cast<std::size_t>(std::countr_zero(diff) >> 3);
    }
  }
  while (i < text.size() && text[i] == ' ') ++i;
  return i;
}

// Cuts `text` at the first blank followed by `#`, then trims the end.
std::string_view strip_comment(std::string_view text);

// Types a plain text that has no surrounding whitespace and no comment. Never fails; the
// result type lets callers that return one have it built in place.
template <bool Yaml11Bools>
Result<Scalar> infer_kind(std::string_view text);

// Block mapping key, block value (or sequence item) and flow item/key/value.
template <bool Yaml11Bools>
Result<Scalar> classify_key_scalar(std::string_view text, std::uint64_t line);
template <bool Yaml11Bools>
Result<Scalar> classify_value_scalar(std::string_view text, std::uint64_t line);
template <bool Yaml11Bools>
Result<Scalar> classify_scalar(std::string_view text, std::uint64_t line);

// A plain scalar can start with `c` and need no further look at its start: printable ASCII
// other than the quotes and the refused indicators.
inline bool is_plain_start(char c) {
  return is_printable_ascii(c) && c != '"' && c != '\'' && c != '!' && c != '&' && c != '*';
}
// classify_value_scalar for a text whose first byte passes is_plain_start. The bytes after the
// text up to `readable_end` (null when unknown) may be read.
template <bool Yaml11Bools>
Result<Scalar> classify_plain_value(std::string_view text, std::uint64_t line,
                                    const char* readable_end = nullptr);
// classify_key_scalar, with its common case settled inline: a plain key without any `#`
// cannot hold a comment, which leaves only its typing.
template <bool Yaml11Bools>
inline Result<Scalar> classify_key_scalar_fast(std::string_view text, std::uint64_t line) {
  if (!text.empty() && is_plain_start(text[0]) &&
      find_either(text, 0, '#', '#') == std::string_view::npos) {
    return infer_kind<Yaml11Bools>(trim_end(text));
  }
  return classify_key_scalar<Yaml11Bools>(text, line);
}

// Index of the quote that closes the quoted span opened by text[0] (`"` or `'`), or npos
// when the text ends first. Inside double quotes a backslash protects the next byte; inside
// single quotes two quotes in a row stand for one.
std::size_t find_closing_quote(std::string_view text);
// The same, also telling whether the span holds an escape (double quotes) or a doubled quote
// (single quotes), that is, whether its content needs decoding.
std::size_t find_closing_quote(std::string_view text, bool& needs_decoding);

// `text` starts with the opening quote and runs to the end of its line.
Result<Scalar> parse_double_quoted(std::string_view text, std::uint64_t line);
Result<Scalar> parse_single_quoted(std::string_view text, std::uint64_t line);

// The text between the quotes of a double-quoted scalar that holds at least one backslash,
// with its escapes decoded.
Result<Scalar> decode_escapes(std::string_view content, std::uint64_t line);
// The text between the quotes of a single-quoted scalar that holds doubled quotes, with each
// pair read as one quote.
Scalar unfold_single_quoted(std::string_view content);

}  // namespace corvane
