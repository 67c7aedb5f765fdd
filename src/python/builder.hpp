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
// operation behaves the same in all four. Its only state is the per-call key cache.
class PyBuilder {
 public:
  using Value = PyRef;
  using Map = PyRef;
  using Seq = PyRef;

  // `input` is the str whose UTF-8 bytes start at `bytes`; an ASCII input lets strings be
  // cut out of it directly instead of being decoded from those bytes.
  PyBuilder(PyObject* input, std::string_view bytes);

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
  Value make_str(std::string_view text);
  [[noreturn]] static void insert_failed(const char* call);

  KeyCache keys_;
  PyObject* ascii_input_ = nullptr;  // borrowed; null unless every character is ASCII
  const char* ascii_bytes_ = nullptr;
  std::size_t ascii_size_ = 0;
};

template <bool Strict, bool Yaml11Bools>
class PySink : public PyBuilder {
 public:
  static constexpr bool strict = Strict;
  static constexpr bool yaml_1_1_bools = Yaml11Bools;
  using PyBuilder::PyBuilder;
};

}  // namespace corvane
