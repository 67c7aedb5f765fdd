// Output, the text the writer builds: one growing buffer, reused from one call to the next.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "base/attributes.hpp"

namespace corvane::emit {

// The text being written: one buffer that doubles when full. Every append reports whether
// memory sufficed.
class Output {
 public:
  // The buffer of the previous call is reused, up to a size, which spares the allocation and
  // the first touch of its pages. Calls must not overlap: the writer runs under the
  // interpreter lock.
  Output() {
    if (spare_ != nullptr) {
      data_ = std::exchange(spare_, nullptr);
      capacity_ = spare_capacity_;
    } else {
      data_ = static_cast<char*>(std::malloc(kInitial));
      capacity_ = kInitial;
    }
  }
  ~Output() {
    if (spare_ == nullptr && capacity_ <= kKept) {
      spare_ = data_;
      spare_capacity_ = capacity_;
    } else {
      std::free(data_);
    }
  }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  bool ok() const { return data_ != nullptr; }

  // Room for `count` more bytes, or null when memory ran out.
  CORVANE_ALWAYS_INLINE char* reserve(std::size_t count) {
    if (capacity_ - size_ < count && !grow(count)) return nullptr;
    return data_ + size_;
  }
  void commit(std::size_t count) { size_ += count; }

  bool append(std::string_view text) {
    char* at = reserve(text.size());
    if (at == nullptr) return false;
    std::memcpy(at, text.data(), text.size());
    size_ += text.size();
    return true;
  }
  bool append(char c) {
    char* at = reserve(1);
    if (at == nullptr) return false;
    *at = c;
    ++size_;
    return true;
  }
  bool spaces(std::size_t count) {
    char* at = reserve(count);
    if (at == nullptr) return false;
    std::memset(at, ' ', count);
    size_ += count;
    return true;
  }

  std::string_view text() const { return {data_, size_}; }
  std::size_t size() const { return size_; }
  // Empties the text and keeps the buffer, for a writer that hands its text on in pieces.
  void clear() { size_ = 0; }

 private:
  static constexpr std::size_t kInitial = 4096;
  static constexpr std::size_t kKept = std::size_t{4} << 20;
  static inline char* spare_ = nullptr;
  static inline std::size_t spare_capacity_ = 0;

  CORVANE_COLD bool grow(std::size_t count) {
    std::size_t capacity = capacity_ * 2;
    while (capacity - size_ < count) capacity *= 2;
    char* data = static_cast<char*>(std::realloc(data_, capacity));
    if (data == nullptr) return false;
    data_ = data;
    capacity_ = capacity;
    return true;
  }

  char* data_;
  std::size_t size_ = 0;
  std::size_t capacity_;
};

}  // namespace corvane::emit
