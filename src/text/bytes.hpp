// Byte searches over the input: one sixteen-byte block type (SSE2, NEON or plain bytes) and
// the searches built on it. The only file that knows the processor; every other file asks it.
// Defining CORVANE_PORTABLE selects the plain path on any processor, which is how the vector
// paths are checked against it.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/attributes.hpp"

#if !defined(CORVANE_PORTABLE) && \
    (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define CORVANE_TEXT_SSE2 1
#include <emmintrin.h>
#elif !defined(CORVANE_PORTABLE) && (defined(__aarch64__) || defined(_M_ARM64))
#define CORVANE_TEXT_NEON 1
#include <arm_neon.h>
#endif

namespace corvane::text {

// Eight (or four) bytes as one integer whose lowest byte is the first byte in memory, whatever
// the processor's byte order, so that bit tricks over words find the first byte first.
inline std::uint64_t load_word(const char* at) {
  std::uint64_t word;
  std::memcpy(&word, at, 8);
  if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
  return word;
}
inline std::uint32_t load_half_word(const char* at) {
  std::uint32_t word;
  std::memcpy(&word, at, 4);
  if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
  return word;
}

namespace portable {

// Sixteen bytes one at a time. Every lane of a comparison result is 0x00 or 0xFF.
class Block {
 public:
  static Block load(const char* at) {
    Block block;
    std::memcpy(block.bytes_.data(), at, kLanes);
    return block;
  }
  Block equal(char c) const {
    return map([c](unsigned char b) { return b == static_cast<unsigned char>(c); });
  }
  // Lanes whose byte, read unsigned, is at most `c`.
  Block at_most(unsigned char c) const {
    return map([c](unsigned char b) { return b <= c; });
  }
  // Lanes whose byte, read unsigned, is below `low` or above `high` (`low` <= `high`).
  Block outside(unsigned char low, unsigned char high) const {
    return map([low, high](unsigned char b) { return b < low || b > high; });
  }
  // Every byte with the bits of `bits` set.
  Block with_bits(unsigned char bits) const {
    Block out;
    for (std::size_t i = 0; i < kLanes; ++i) out.bytes_[i] = bytes_[i] | bits;
    return out;
  }
  Block operator|(const Block& other) const {
    Block out;
    for (std::size_t i = 0; i < kLanes; ++i) out.bytes_[i] = bytes_[i] | other.bytes_[i];
    return out;
  }
  Block operator&(const Block& other) const {
    Block out;
    for (std::size_t i = 0; i < kLanes; ++i) out.bytes_[i] = bytes_[i] & other.bytes_[i];
    return out;
  }
  // The lanes set here and clear in `other`.
  Block and_not(const Block& other) const {
    Block out;
    for (std::size_t i = 0; i < kLanes; ++i) {
      out.bytes_[i] = static_cast<unsigned char>(bytes_[i] & ~other.bytes_[i]);
    }
    return out;
  }
  // Bit i set when lane i is set.
  std::uint32_t mask() const {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < kLanes; ++i)
      bits |= static_cast<std::uint32_t>(bytes_[i] >> 7) << i;
    return bits;
  }

 private:
  static constexpr std::size_t kLanes = 16;
  template <class Test>
  Block map(Test test) const {
    Block out;
    for (std::size_t i = 0; i < kLanes; ++i) out.bytes_[i] = test(bytes_[i]) ? 0xFF : 0x00;
    return out;
  }
  std::array<unsigned char, kLanes> bytes_{};
};

}  // namespace portable

#if defined(CORVANE_TEXT_SSE2)

class Block {
 public:
  static Block load(const char* at) {
    return Block(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at)));
  }
  Block equal(char c) const { return Block(_mm_cmpeq_epi8(bytes_, _mm_set1_epi8(c))); }
  Block at_most(unsigned char c) const {
    return Block(_mm_cmpeq_epi8(_mm_min_epu8(bytes_, _mm_set1_epi8(static_cast<char>(c))), bytes_));
  }
  // SSE2 compares bytes signed only: the bytes are moved so that `low` becomes -128, and then
  // whatever is greater than `high`'s place lies outside.
  Block outside(unsigned char low, unsigned char high) const {
    const __m128i moved = _mm_add_epi8(bytes_, _mm_set1_epi8(static_cast<char>(0x80 - low)));
    return Block(_mm_cmpgt_epi8(moved, _mm_set1_epi8(static_cast<char>(high - low + 0x80))));
  }
  Block with_bits(unsigned char bits) const {
    return Block(_mm_or_si128(bytes_, _mm_set1_epi8(static_cast<char>(bits))));
  }
  Block operator|(const Block& other) const { return Block(_mm_or_si128(bytes_, other.bytes_)); }
  Block operator&(const Block& other) const { return Block(_mm_and_si128(bytes_, other.bytes_)); }
  Block and_not(const Block& other) const { return Block(_mm_andnot_si128(other.bytes_, bytes_)); }
  std::uint32_t mask() const { return static_cast<std::uint32_t>(_mm_movemask_epi8(bytes_)); }

 private:
  explicit Block(__m128i bytes) : bytes_(bytes) {}
  __m128i bytes_;
};
inline constexpr bool kVectorBlocks = true;

#elif defined(CORVANE_TEXT_NEON)

class Block {
 public:
  static Block load(const char* at) {
    return Block(vld1q_u8(reinterpret_cast<const std::uint8_t*>(at)));
  }
  Block equal(char c) const {
    return Block(vceqq_u8(bytes_, vdupq_n_u8(static_cast<std::uint8_t>(c))));
  }
  Block at_most(unsigned char c) const { return Block(vcleq_u8(bytes_, vdupq_n_u8(c))); }
  Block outside(unsigned char low, unsigned char high) const {
    return Block(vorrq_u8(vcltq_u8(bytes_, vdupq_n_u8(low)), vcgtq_u8(bytes_, vdupq_n_u8(high))));
  }
  Block with_bits(unsigned char bits) const { return Block(vorrq_u8(bytes_, vdupq_n_u8(bits))); }
  Block operator|(const Block& other) const { return Block(vorrq_u8(bytes_, other.bytes_)); }
  Block operator&(const Block& other) const { return Block(vandq_u8(bytes_, other.bytes_)); }
  Block and_not(const Block& other) const { return Block(vbicq_u8(bytes_, other.bytes_)); }
  // NEON has no movemask: each lane keeps its own bit of a byte, then each half is summed.
  std::uint32_t mask() const {
    constexpr std::uint8_t kLaneBits[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                            1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t bits = vandq_u8(bytes_, vld1q_u8(kLaneBits));
    return std::uint32_t{vaddv_u8(vget_low_u8(bits))} | std::uint32_t{vaddv_u8(vget_high_u8(bits))}
                                                            << 8;
  }

 private:
  explicit Block(uint8x16_t bytes) : bytes_(bytes) {}
  uint8x16_t bytes_;
};
inline constexpr bool kVectorBlocks = true;

#else

using Block = portable::Block;
// Without vector instructions the searches read eight-byte words instead of blocks.
inline constexpr bool kVectorBlocks = false;

#endif

// The name of the path this build takes, for the tools that compare them.
inline constexpr std::string_view kBlockPath =
#if defined(CORVANE_TEXT_SSE2)
    "sse2";
#elif defined(CORVANE_TEXT_NEON)
    "neon";
#else
    "portable";
#endif

inline constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
inline constexpr std::uint64_t kLows = ~kHighs;

// The high bit of each byte of `word` that is zero, and of no other byte.
inline std::uint64_t exact_zero_bytes(std::uint64_t word) {
  return ~(((word & kLows) + kLows) | word) & kHighs;
}

// The bits of the first `count` positions of a 32-bit mask (all of them from 32 on).
inline std::uint32_t low_bits_32(std::size_t count) {
  return count >= 32 ? ~std::uint32_t{0} : (std::uint32_t{1} << count) - 1;
}

// Bit i set when at[i] == c, for the 32 bytes from `at`, all of which must be readable.
inline std::uint32_t equal_bits_32(const char* at, char c) {
  return Block::load(at).equal(c).mask() | Block::load(at + 16).equal(c).mask() << 16;
}

// Bit i set when byte i of the 64 at `chunk` equals `c`.
inline std::uint64_t equal_bits_64(const char* chunk, char c) {
  if constexpr (kVectorBlocks) {
    const auto bits = [&](std::size_t at) {
      return std::uint64_t{Block::load(chunk + at).equal(c).mask()};
    };
    return bits(0) | bits(16) << 16 | bits(32) << 32 | bits(48) << 48;
  } else {
    std::uint64_t out = 0;
    for (std::size_t word_at = 0; word_at < 64; word_at += 8) {
      // The high bit of each matching byte, then those eight bits gathered into the top byte
      // by one multiplication.
      const std::uint64_t zeros =
          exact_zero_bytes(load_word(chunk + word_at) ^ (kOnes * static_cast<unsigned char>(c)));
      out |= ((zeros >> 7) * 0x0102040810204080ULL >> 56) << word_at;
    }
    return out;
  }
}

// Position of the first byte of `text` at or after `from` that equals `a` or `b`, or npos.
// `Either` false looks for `a` alone. Scalar texts are often long and these bytes rare, so
// whole blocks are compared at once: sixteen bytes where the processor has vectors, then
// eight bytes in a general register.
template <bool Either>
CORVANE_ALWAYS_INLINE inline std::size_t find_bytes(std::string_view text, std::size_t from, char a,
                                                    char b) {
  const char* data = text.data();
  const std::size_t size = text.size();
  std::size_t i = from;
  if constexpr (kVectorBlocks) {
    if (i + 16 <= size) {
      const auto hits_at = [&](std::size_t at) {
        const Block block = Block::load(data + at);
        if constexpr (Either) return (block.equal(a) | block.equal(b)).mask();
        return block.equal(a).mask();
      };
      for (; i + 16 <= size; i += 16) {
        if (const std::uint32_t hits = hits_at(i))
          return i + static_cast<std::size_t>(std::countr_zero(hits));
      }
      if (i == size) return std::string_view::npos;
      // The last sixteen bytes, overlapping bytes already searched, which are masked off.
      const std::size_t last = size - 16;
      if (const std::uint32_t hits = hits_at(last) >> (i - last)) {
        return i + static_cast<std::size_t>(std::countr_zero(hits));
      }
      return std::string_view::npos;
    }
  }
  const std::uint64_t pattern_a = kOnes * static_cast<unsigned char>(a);
  const std::uint64_t pattern_b = kOnes * static_cast<unsigned char>(Either ? b : a);
  for (; i + 8 <= size; i += 8) {
    const std::uint64_t word = load_word(data + i);
    const std::uint64_t xa = word ^ pattern_a, xb = word ^ pattern_b;
    // A zero byte in xa or xb marks a match; the lowest flagged byte is always a true one.
    std::uint64_t hits = (xa - kOnes) & ~xa;
    if constexpr (Either) hits |= (xb - kOnes) & ~xb;
    hits &= kHighs;
    if (hits != 0) return i + static_cast<std::size_t>(std::countr_zero(hits) >> 3);
  }
  const auto zeros = [&](std::uint64_t word) {
    std::uint64_t found = exact_zero_bytes(word ^ pattern_a);
    if constexpr (Either) found |= exact_zero_bytes(word ^ pattern_b);
    return found;
  };
  if (i < size && size >= 8) {
    // The last eight bytes, read as one word that overlaps bytes before `i`. Those bytes are
    // masked off, so this test must flag exactly the matching bytes (the one above cannot,
    // since a borrow may flag the byte above a true match).
    const std::size_t last = size - 8;
    const std::uint64_t hits =
        zeros(load_word(data + last)) & (~std::uint64_t{0} << ((i - last) * 8));
    if (hits != 0) return last + static_cast<std::size_t>(std::countr_zero(hits) >> 3);
    return std::string_view::npos;
  }
  if (i + 4 <= size) {
    // Four to seven bytes (short keys and values are the common case): the first four and the
    // last four, overlapping, in one word; a hit in the low half comes first in the text.
    const std::uint64_t word =
        load_half_word(data + i) | std::uint64_t{load_half_word(data + size - 4)} << 32;
    const std::uint64_t hits = zeros(word);
    if (hits == 0) return std::string_view::npos;
    const auto byte = static_cast<std::size_t>(std::countr_zero(hits) >> 3);
    return byte < 4 ? i + byte : size - 8 + byte;
  }
  for (; i < size; ++i) {
    if (data[i] == a || (Either && data[i] == b)) return i;
  }
  return std::string_view::npos;
}

}  // namespace corvane::text

namespace corvane {

// Position of the first byte of `text` at or after `from` that equals `c`, or npos.
CORVANE_ALWAYS_INLINE inline std::size_t find(std::string_view text, std::size_t from, char c) {
  return text::find_bytes<false>(text, from, c, c);
}

// Position of the first byte of `text` at or after `from` that equals `a` or `b`, or npos.
CORVANE_ALWAYS_INLINE inline std::size_t find_either(std::string_view text, std::size_t from,
                                                     char a, char b) {
  return text::find_bytes<true>(text, from, a, b);
}

// find_either from the start of a text that is followed in memory by bytes that may be read,
// up to `readable_end` (null when unknown). With 32 of them, the first 32 bytes are searched in
// one step whatever the text's length, so short texts cost no test of their length.
CORVANE_ALWAYS_INLINE inline std::size_t find_either_from_start(std::string_view text, char a,
                                                                char b, const char* readable_end) {
  if constexpr (text::kVectorBlocks) {
    const char* data = text.data();
    if (readable_end != nullptr && readable_end - data >= 32) {
      const std::size_t size = text.size();
      if (const std::uint32_t hits = (text::equal_bits_32(data, a) | text::equal_bits_32(data, b)) &
                                     text::low_bits_32(size)) {
        return static_cast<std::size_t>(std::countr_zero(hits));
      }
      return size <= 32 ? std::string_view::npos : find_either(text, 32, a, b);
    }
  }
  return find_either(text, 0, a, b);
}

// Position of the first `:` followed by a space, or ending the 32 bytes at `text` when the
// text is that short (`size` at most 32), as a 32-bit mask of candidates; the 33 bytes from
// `text` must be readable. Bits from `size` on are clear.
inline std::uint32_t separator_bits_32(const char* text, std::size_t size) {
  const std::uint32_t at_end = size <= 32 ? std::uint32_t{1} << (size - 1) : 0;
  return text::equal_bits_32(text, ':') & (text::equal_bits_32(text + 1, ' ') | at_end) &
         text::low_bits_32(size);
}

// Number of spaces (U+0020) that `text` starts with. Deeply nested documents are mostly
// indentation, so this reads sixteen or eight bytes at a time.
inline std::size_t leading_spaces(std::string_view text) {
  std::size_t i = 0;
  if constexpr (text::kVectorBlocks) {
    for (; i + 16 <= text.size(); i += 16) {
      const std::uint32_t same = text::Block::load(text.data() + i).equal(' ').mask();
      if (same != 0xFFFF) return i + static_cast<std::size_t>(std::countr_one(same));
    }
  }
  constexpr std::uint64_t kSpaces = 0x2020202020202020ULL;
  for (; i + 8 <= text.size(); i += 8) {
    if (const std::uint64_t diff = text::load_word(text.data() + i) ^ kSpaces; diff != 0) {
      return i + static_cast<std::size_t>(std::countr_zero(diff) >> 3);
    }
  }
  while (i < text.size() && text[i] == ' ') ++i;
  return i;
}

// Leading spaces of the `size` bytes at `text`. Past the first block, four blocks at a time,
// so that deep indentation takes one or two rounds rather than a round per block, each with
// its own exit to predict.
inline std::size_t count_indentation(const char* text, std::size_t size) {
  std::size_t i = 0;
  if constexpr (text::kVectorBlocks) {
    const auto space_bits = [&](std::size_t at) {
      return std::uint64_t{text::Block::load(text + at).equal(' ').mask()};
    };
    if (size >= 16) {
      // Most lines are indented less than one block.
      if (const std::uint64_t same = space_bits(0); same != 0xFFFF) {
        return static_cast<std::size_t>(std::countr_one(same));
      }
      i = 16;
    }
    for (; i + 64 <= size; i += 64) {
      const std::uint64_t same = space_bits(i) | space_bits(i + 16) << 16 |
                                 space_bits(i + 32) << 32 | space_bits(i + 48) << 48;
      if (same != ~std::uint64_t{0}) return i + static_cast<std::size_t>(std::countr_one(same));
    }
  }
  return i + leading_spaces(std::string_view(text + i, size - i));
}

// Bit i set when byte i of the 64 at `chunk` is a line feed.
inline std::uint64_t line_feed_bits(const char* chunk) {
  return text::equal_bits_64(chunk, '\n');
}

}  // namespace corvane
