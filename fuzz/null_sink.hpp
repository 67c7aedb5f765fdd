// A sink that builds nothing: it only folds every value into a checksum, so that the parser
// can be driven without Python (fuzzing, parse-only timing) and the work cannot be optimised
// away. Test code, not a product sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "scalar/scalar.hpp"

namespace corvane::testing {

struct NullValue {
  std::uint64_t digest = 0;
};
struct NullMap : NullValue {};
struct NullSeq : NullValue {};

// Shared by all four flag combinations.
class NullBuilder {
 public:
  using Value = NullValue;
  using Map = NullMap;
  using Seq = NullSeq;

  Map new_map() { return Map{{mix(1)}}; }
  Seq new_seq() { return Seq{{mix(2)}}; }
  void map_insert(Map& map, Value key, Value value) {
    map.digest = mix(map.digest ^ (key.digest * 31 + value.digest));
  }
  void seq_push(Seq& seq, Value value) { seq.digest = mix(seq.digest ^ value.digest); }
  // No key is ever remembered, so a strict parse never sees a duplicate here; the Python
  // tests and the Python fuzz harness cover that path.
  bool map_has_key(const Map&, const Value&) { return false; }
  Value null_value() { return Value{mix(3)}; }
  Value make_value(Scalar&& scalar) {
    std::uint64_t digest = static_cast<std::uint64_t>(scalar.kind());
    switch (scalar.kind()) {
      case Scalar::Kind::Bool: digest += scalar.as_bool(); break;
      case Scalar::Kind::Int: digest += static_cast<std::uint64_t>(scalar.as_int()); break;
      case Scalar::Kind::Float: digest += static_cast<std::uint64_t>(scalar.as_float() != 0); break;
      case Scalar::Kind::Str: digest += text_digest(scalar.as_str()); break;
      case Scalar::Kind::Null: break;
    }
    return Value{mix(digest)};
  }
  Value make_key(Scalar&& scalar) { return make_value(std::move(scalar)); }
  Value make_block_key(Scalar&& scalar, std::string_view) { return make_value(std::move(scalar)); }
  std::optional<Value> find_block_key(std::string_view) { return std::nullopt; }
  Value make_string_value(std::string text) { return Value{mix(text_digest(text))}; }
  std::string describe_key(const Value& key) { return std::to_string(key.digest); }
  void report_line(const Map&, std::uint64_t) {}
  void report_line(const Seq&, std::uint64_t) {}

  std::uint64_t values_made() const { return values_made_; }
  std::uint64_t bytes_seen() const { return bytes_seen_; }

 private:
  std::uint64_t mix(std::uint64_t x) {
    ++values_made_;
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    return x ^ (x >> 33);
  }
  // Touches the first and last byte and counts the length: enough to make the text matter
  // without hashing every byte, which would dwarf the parse in timings.
  std::uint64_t text_digest(std::string_view text) {
    bytes_seen_ += text.size();
    if (text.empty()) return 0;
    return text.size() * 131 + static_cast<unsigned char>(text.front()) * 7 +
           static_cast<unsigned char>(text.back());
  }

  std::uint64_t values_made_ = 0;
  std::uint64_t bytes_seen_ = 0;
};

template <bool Strict, bool Yaml11Bools>
class NullSink : public NullBuilder {
 public:
  static constexpr bool strict = Strict;
  static constexpr bool yaml_1_1_bools = Yaml11Bools;
};

}  // namespace corvane::testing
