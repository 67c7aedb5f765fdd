// PyBuilder, the sink that builds Python objects from what the parser reads, and PySink, its
// instantiation for each pair of flags.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/attributes.hpp"
#include "python/key_cache.hpp"
#include "python/ref.hpp"
#include "scalar/scalar.hpp"

namespace corvane {

class PyBuilder;

// A sequence under construction. Its items wait on the builder's item stack, above those of
// every sequence opened before it and still open, and become a list of their final size when
// it is finished (converted to a value): nested sequences are finished before their parents
// take another item, so a sequence's items are always the top of the stack. Dropping an
// unfinished sequence releases its items and those of any sequence opened after it.
class PySeq {
 public:
  PySeq() = default;
  PySeq(PyBuilder* builder, std::size_t start) : builder_(builder), start_(start) {}
  PySeq(PySeq&& other) noexcept
      : builder_(std::exchange(other.builder_, nullptr)), start_(other.start_) {}
  PySeq& operator=(PySeq&& other) noexcept {
    PySeq(std::move(other)).swap(*this);
    return *this;
  }
  PySeq(const PySeq&) = delete;
  PySeq& operator=(const PySeq&) = delete;
  ~PySeq();

  // The finished list.
  operator PyRef() &&;
  void swap(PySeq& other) noexcept {
    std::swap(builder_, other.builder_);
    std::swap(start_, other.start_);
  }

 private:
  PyBuilder* builder_ = nullptr;  // null once finished or moved from
  std::size_t start_ = 0;         // the stack position of the first item
};

// Builds Python objects directly. The flags only select the parser instantiation: every
// operation behaves the same in all four. Its state lasts one call: the key cache, the items
// of the open sequences and where non-ASCII text was last cut from the input.
class PyBuilder {
 public:
  using Value = PyRef;
  using Map = PyRef;
  using Seq = PySeq;

  // `input` is the str whose UTF-8 bytes start at `bytes`: strings that stand in the input
  // are cut out of it rather than decoded from those bytes again.
  PyBuilder(PyObject* input, std::string_view bytes);
  PyBuilder(const PyBuilder&) = delete;
  PyBuilder& operator=(const PyBuilder&) = delete;
  ~PyBuilder() { drop_items(0); }

  Map new_map();
  Seq new_seq();
  // Both consume their values: the container takes references of its own, and ours are
  // dropped here rather than by the caller's temporaries.
  void map_insert(const Map& map, Value&& key, Value&& value) {
    if (PyDict_SetItem(map.get(), key.get(), value.get()) != 0) insert_failed("PyDict::set_item");
    Py_DECREF(key.release());
    Py_DECREF(value.release());
  }
  // The stack takes the reference once it has room for it.
  void seq_push(const Seq&, Value&& value) {
    if (item_count_ == item_capacity_) grow_items();
    items_[item_count_++] = value.release();
  }
  bool map_has_key(const Map& map, const Value& key);
  Value null_value() { return PyRef::borrow(Py_None); }
  Value make_value(Scalar&& scalar);
  Value make_key(Scalar&& scalar);
  // The string key typed earlier in this call from the same block key source text, if it is
  // still cached.
  std::optional<Value> find_block_key(std::string_view source) {
    if (source.size() > KeyCache::kMaxKeyLength) return std::nullopt;
    PyObject* cached = keys_.find(source, KeyCache::Bytes::SourceText);
    if (cached == nullptr) return std::nullopt;
    return PyRef::steal(cached);
  }
  Value make_block_key(Scalar&& scalar, std::string_view source);
  Value make_string_value(std::string text);
  std::string describe_key(const Value& key);
  // Lines are not kept: `load` pays nothing for the reports.
  CORVANE_ALWAYS_INLINE void report_line(const PyRef&, std::uint64_t) {}
  CORVANE_ALWAYS_INLINE void report_line(const PySeq&, std::uint64_t) {}

 private:
  // A slice of the input is copied from the input str as it is; decoding its UTF-8 bytes
  // would check each one again. Text from elsewhere (decoded escapes) is decoded.
  Value make_str(std::string_view text) {
    const auto address = reinterpret_cast<std::uintptr_t>(text.data());
    const auto base = reinterpret_cast<std::uintptr_t>(bytes_);
    if (text.empty() || address < base || address - base + text.size() > size_) {
      return make_decoded_str(text);
    }
    if (!ascii_) {
      return copies_wide_text_ ? make_wide_str(text) : make_decoded_str(text);
    }
    const auto start = static_cast<Py_ssize_t>(address - base);
    return make_substring(start, start + static_cast<Py_ssize_t>(text.size()));
  }
  Value make_decoded_str(std::string_view text);
  Value make_wide_str(std::string_view text);
  Value make_substring(Py_ssize_t start, Py_ssize_t end);
  // Non-ASCII text is copied out of the input when at least this share of the input's bytes
  // (one in so many) continue a character (bench/README.md has the figures).
  static constexpr std::size_t kWideShare = 16;
  Py_ssize_t index_of(const char* byte);
  static bool is_ascii(std::string_view text);
  [[noreturn]] static void insert_failed(const char* call);

  friend class PySeq;
  PyRef finish_seq(std::size_t start);
  void grow_items();
  void drop_items(std::size_t start) {
    for (std::size_t i = start; i < item_count_; ++i) Py_DECREF(items_[i]);
    if (start < item_count_) item_count_ = start;
  }

  KeyCache keys_;
  // The items of the open sequences, owned. A plain buffer: a push is the hot path of long
  // flow sequences, and std::vector's was not inlined. Small documents never leave the
  // builder's own slots, so a call need not allocate for them.
  static constexpr std::size_t kInlineItems = 32;
  std::array<PyObject*, kInlineItems> inline_items_;
  std::unique_ptr<PyObject*[]> heap_items_;
  PyObject** items_ = inline_items_.data();
  std::size_t item_count_ = 0;
  std::size_t item_capacity_ = kInlineItems;
  PyObject* input_;  // borrowed
  const char* bytes_;
  std::size_t size_;
  bool ascii_;             // every character is one byte, so byte offsets are indices
  bool copies_wide_text_;  // non-ASCII text is copied out of the input, not decoded
  // In a non-ASCII input, a byte that starts a character and that character's index. Values
  // come in document order, so moving it from one string to the next counts the input's
  // characters about once in all.
  const char* cursor_;
  Py_ssize_t cursor_index_ = 0;
};

inline PySeq::~PySeq() {
  if (builder_ != nullptr) builder_->drop_items(start_);
}

inline PySeq::operator PyRef() && {
  PyRef list = builder_->finish_seq(start_);
  builder_ = nullptr;
  return list;
}

template <bool Strict, bool Yaml11Bools>
class PySink : public PyBuilder {
 public:
  static constexpr bool strict = Strict;
  static constexpr bool yaml_1_1_bools = Yaml11Bools;
  using PyBuilder::PyBuilder;
};

}  // namespace corvane
