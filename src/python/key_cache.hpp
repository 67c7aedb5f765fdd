// KeyCache: the key objects made during one call, found again by the bytes of the input, so
// that a repeated key is neither decoded nor hashed again.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace corvane {

// Key objects already made during one call, looked up by bytes of the input. One object per
// distinct key saves the allocation, the decoding and, above all, the hashing that every
// dict insertion would otherwise repeat. A slot is simply overwritten on a collision, so the
// cache stays small and its cost per call fixed.
class KeyCache {
 public:
  static constexpr std::size_t kMaxKeyLength = 64;

  // What the bytes of an entry are. A string key's own text maps to that string; a block
  // key's source text, as it stands before its colon, maps to the string it types to, so that
  // a repeated key is not typed again. The two are kept apart: the source text 'a' (quotes
  // included) is the key a, while those same three bytes are the text of the key "'a'".
  enum class Bytes : std::uint8_t { StringText, SourceText };

  // The slots live on the heap: at 40 KB they would weigh on a thread's stack.
  KeyCache() : slots_(std::make_unique_for_overwrite<Slot[]>(kSlots)) {}
  KeyCache(const KeyCache&) = delete;
  KeyCache& operator=(const KeyCache&) = delete;
  ~KeyCache() {
    for (std::size_t word = 0; word < used_.size(); ++word) {
      for (std::uint64_t bits = used_[word]; bits != 0; bits &= bits - 1) {
        Py_DECREF(slots_[word * 64 + static_cast<std::size_t>(std::countr_zero(bits))].object);
      }
    }
  }

  // A new reference to the cached object for `text`, or null when there is none.
  PyObject* find(std::string_view text, Bytes bytes) const {
    const Words words = words_of(text);
    const std::size_t size = tagged_size(text, bytes);
    const std::size_t index = slot_index(words, size);
    const Slot& slot = slots_[index];
    // The two words hold every byte of a key of up to 16 bytes, so only longer keys need
    // the bytes compared.
    if (!is_used(index) || slot.size != size || slot.head != words.head ||
        slot.tail != words.tail ||
        (text.size() > 16 && std::memcmp(slot.data, text.data(), text.size()) != 0)) {
      return nullptr;
    }
    Py_INCREF(slot.object);
    return slot.object;
  }

  // Remembers `object` for `text`, whose bytes must outlive the cache.
  void store(std::string_view text, Bytes bytes, PyObject* object) {
    const Words words = words_of(text);
    const std::size_t size = tagged_size(text, bytes);
    const std::size_t index = slot_index(words, size);
    Slot& slot = slots_[index];
    Py_INCREF(object);
    if (is_used(index)) {
      Py_DECREF(slot.object);
    } else {
      used_[index / 64] |= std::uint64_t{1} << (index % 64);
    }
    slot = Slot{text.data(), size, words.head, words.tail, object};
  }

 private:
  // Enough that the keys of a large file rarely share a slot (bench/README.md has the figure
  // that chose it).
  static constexpr std::size_t kSlots = 1024;
  // Slots are read only once marked used, so a call does not pay for clearing them all.
  struct Slot {
    const char* data;
    std::size_t size;  // tagged
    std::uint64_t head;
    std::uint64_t tail;
    PyObject* object;
  };
  struct Words {
    std::uint64_t head;
    std::uint64_t tail;
  };

  // The length, with the top bit telling the two kinds of entry apart.
  static std::size_t tagged_size(std::string_view text, Bytes bytes) {
    return text.size() | (bytes == Bytes::SourceText ? std::size_t{1} << 63 : 0);
  }

  static std::uint64_t load64(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return word;
  }
  static std::uint32_t load32(const char* p) {
    std::uint32_t word;
    std::memcpy(&word, p, 4);
    return word;
  }

  // The first and the last eight bytes of `text`, read with whole loads that stay inside it
  // (a copy of a variable length would go through memory and stall the loads after it).
  // For a given length the pair determines the bytes of any key of up to 16 bytes.
  static Words words_of(std::string_view text) {
    const char* p = text.data();
    const std::size_t n = text.size();
    if (n >= 8) return {load64(p), load64(p + n - 8)};
    if (n >= 4) return {load32(p) | (std::uint64_t{load32(p + n - 4)} << 32), 0};
    if (n == 0) return {0, 0};
    const auto byte = [p](std::size_t i) {
      return std::uint64_t{static_cast<unsigned char>(p[i])};
    };
    return {byte(0) | (byte(n / 2) << 8) | (byte(n - 1) << 16), 0};
  }

  // Keys of one file differ in their first or last bytes, or in their length.
  static std::size_t slot_index(Words words, std::size_t size) {
    std::uint64_t mixed =
        (words.head ^ (words.tail * 0x9E3779B97F4A7C15ULL) ^ size) * 0xFF51AFD7ED558CCDULL;
    return static_cast<std::size_t>(mixed >> (64 - std::countr_zero(kSlots)));
  }

  bool is_used(std::size_t index) const { return (used_[index / 64] >> (index % 64)) & 1; }

  std::array<std::uint64_t, kSlots / 64> used_{};
  std::unique_ptr<Slot[]> slots_;
};

}  // namespace corvane
