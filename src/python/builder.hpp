// PyBuilder, the sink that builds Python objects from what the parser reads, and PySink, its
// instantiation for each pair of flags.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/attributes.hpp"
#include "python/key_cache.hpp"
#include "python/ref.hpp"
#include "scalar/scalar.hpp"

namespace corvane {

// Builds Python objects directly. The flags only select the parser instantiation: every
// operation behaves the same in all four. Its state lasts one call: the key cache and where
// non-ASCII text was last cut from the input.
class PyBuilder {
 public:
  using Value = PyRef;
  using Map = PyRef;
  using Seq = PyRef;

  // `input` is the str whose UTF-8 bytes start at `bytes`: strings that stand in the input
  // are cut out of it rather than decoded from those bytes again.
  PyBuilder(PyObject* input, std::string_view bytes);

  // The UTF-8 text being parsed.
  std::string_view text() const { return {bytes_, size_}; }

  Map new_map();
  Seq new_seq();
  // Both consume their values: the container takes references of its own, and ours are
  // dropped here rather than by the caller's temporaries.
  void map_insert(const Map& map, Value&& key, Value&& value) {
    if (PyDict_SetItem(map.get(), key.get(), value.get()) != 0) insert_failed("PyDict::set_item");
    Py_DECREF(key.release());
    Py_DECREF(value.release());
  }
  void seq_push(const Seq& seq, Value&& value) {
    if (PyList_Append(seq.get(), value.get()) != 0) insert_failed("PyList::append");
    Py_DECREF(value.release());
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

  KeyCache keys_;
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

template <bool Strict, bool Yaml11Bools>
class PySink : public PyBuilder {
 public:
  static constexpr bool strict = Strict;
  static constexpr bool yaml_1_1_bools = Yaml11Bools;
  using PyBuilder::PyBuilder;
};

}  // namespace corvane
