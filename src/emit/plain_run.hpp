// The copying of a string's bytes that need no escape, shared by the JSON and the YAML
// double-quoted writers, which differ only in which bytes those are.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/attributes.hpp"
#include "text/bytes.hpp"

namespace corvane::emit {

// Copies to `o` the bytes of `data` from `i` on whose entry in `escapes` is 0, up to the first
// other byte or `size`; returns where it stopped and moves `o` past what it wrote. `stops` gives,
// for a block of sixteen bytes, the block's bytes that need an escape (or a closer look): it must
// mark at least every byte the table does not give 0, so that runs are found sixteen bytes at a
// time where the target allows it.
template <class Stops>
CORVANE_ALWAYS_INLINE inline std::size_t copy_plain_run(const char* data, std::size_t i,
                                                        std::size_t size,
                                                        const std::array<char, 256>& escapes,
                                                        Stops stops, char*& o) {
  std::size_t end = i;
  if constexpr (text::kVectorBlocks) {
    for (; end + 16 <= size; end += 16) {
      if (const std::uint32_t bits = stops(text::Block::load(data + end)).mask()) {
        end += static_cast<std::size_t>(std::countr_zero(bits));
        break;
      }
    }
  }
  while (end < size && escapes[static_cast<unsigned char>(data[end])] == 0) ++end;
  std::memcpy(o, data + i, end - i);
  o += end - i;
  return end;
}

}  // namespace corvane::emit
