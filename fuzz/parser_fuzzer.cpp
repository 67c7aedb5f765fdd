// libFuzzer entry point: the first byte picks the flags, the rest is the document. Raw bytes
// go in unchecked, so the parser is held to "any bytes" even though Python only ever hands it
// valid UTF-8. Each document is also read with flow collections left to the exact reader
// alone, and both readings must agree on the value or on the error.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "parser/parser.hpp"

namespace {

using corvane::LoadError;
using corvane::Parser;

std::uint64_t count_lines(std::string_view text) {
  std::uint64_t lines = 1;
  for (char c : text) lines += c == '\n';
  return lines;
}

// Every error must point at a line of the input and carry a message.
void check_error(const LoadError& error, std::string_view text) {
  if (error.line == 0 || error.line > count_lines(text) || error.message.empty()) std::abort();
}

// A sink that hashes every byte of every string (a wrong byte anywhere changes the digest) and
// remembers the keys of each mapping by digest, so that strict mode meets duplicate keys.
// `QuickFlow` false makes parse_flow skip its quick reader.
struct CheckValue {
  std::uint64_t digest = 0;
};
struct CheckMap : CheckValue {
  std::unordered_set<std::uint64_t> keys;
};
struct CheckSeq : CheckValue {};

template <bool Strict, bool Yaml11Bools, bool QuickFlow>
class CheckSink {
 public:
  static constexpr bool strict = Strict;
  static constexpr bool yaml_1_1_bools = Yaml11Bools;
  static constexpr bool flow_quick_reader = QuickFlow;
  using Value = CheckValue;
  using Map = CheckMap;
  using Seq = CheckSeq;

  Map new_map() { return Map{{mix(1)}, {}}; }
  Seq new_seq() { return Seq{{mix(2)}}; }
  void map_insert(Map& map, Value key, Value value) {
    map.keys.insert(key.digest);
    map.digest = mix(map.digest ^ mix(key.digest * 31 + value.digest));
  }
  void seq_push(Seq& seq, Value value) { seq.digest = mix(seq.digest * 7 + value.digest); }
  bool map_has_key(const Map& map, const Value& key) { return map.keys.contains(key.digest); }
  Value null_value() { return Value{mix(3)}; }
  Value make_value(corvane::Scalar&& scalar) {
    std::uint64_t digest = static_cast<std::uint64_t>(scalar.kind()) << 56;
    switch (scalar.kind()) {
      case corvane::Scalar::Kind::Bool: digest += scalar.as_bool(); break;
      case corvane::Scalar::Kind::Int: digest += static_cast<std::uint64_t>(scalar.as_int()); break;
      case corvane::Scalar::Kind::Float:
        digest += std::bit_cast<std::uint64_t>(scalar.as_float());
        break;
      case corvane::Scalar::Kind::Str: digest += text_digest(scalar.as_str()); break;
      case corvane::Scalar::Kind::Null: break;
    }
    return Value{mix(digest)};
  }
  Value make_key(corvane::Scalar&& scalar) { return make_value(std::move(scalar)); }
  Value make_block_key(corvane::Scalar&& scalar, std::string_view) {
    return make_value(std::move(scalar));
  }
  std::optional<Value> find_block_key(std::string_view) { return std::nullopt; }
  Value make_string_value(std::string text) {
    return Value{mix((std::uint64_t{4} << 56) + text_digest(text))};
  }
  std::string describe_key(const Value& key) { return std::to_string(key.digest); }
  void report_line(const Map&, std::uint64_t) {}
  void report_line(const Seq&, std::uint64_t) {}

 private:
  static std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    return x ^ (x >> 33);
  }
  static std::uint64_t text_digest(std::string_view text) {
    std::uint64_t hash = 0xcbf29ce484222325ULL ^ text.size();  // FNV-1a
    for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    return hash;
  }
};

// The hashing sink, but keeping every block key by its source text, as the Python sink keeps
// its recent ones, so that a repeated key is not typed again. That must change nothing.
template <bool Strict, bool Yaml11Bools>
class KeyKeepingSink : public CheckSink<Strict, Yaml11Bools, true> {
 public:
  using Value = typename CheckSink<Strict, Yaml11Bools, true>::Value;

  Value make_block_key(corvane::Scalar&& scalar, std::string_view source) {
    const bool keep = scalar.kind() == corvane::Scalar::Kind::Str;
    Value key = this->make_value(std::move(scalar));
    if (keep) keys_.insert_or_assign(source, key);
    return key;
  }
  std::optional<Value> find_block_key(std::string_view source) {
    auto found = keys_.find(source);
    if (found == keys_.end()) return std::nullopt;
    return found->second;
  }

 private:
  std::unordered_map<std::string_view, Value> keys_;
};

// The same document read with and without the quick flow reader.
template <bool Strict, bool Yaml11Bools>
void compare_flow_readers(std::string_view text) {
  CheckSink<Strict, Yaml11Bools, true> quick_sink;
  Parser<CheckSink<Strict, Yaml11Bools, true>> quick(text, quick_sink);
  auto with_quick = quick.parse();
  CheckSink<Strict, Yaml11Bools, false> exact_sink;
  Parser<CheckSink<Strict, Yaml11Bools, false>> exact(text, exact_sink);
  auto exact_only = exact.parse();
  if (with_quick.has_value() != exact_only.has_value()) std::abort();
  if (with_quick) {
    if (with_quick->digest != exact_only->digest) std::abort();
  } else if (with_quick.error().line != exact_only.error().line ||
             with_quick.error().message != exact_only.error().message) {
    std::abort();
  }
}

template <bool Strict, bool Yaml11Bools>
void run(std::string_view text) {
  // Every byte of every string and every bit of every number counts in the digests compared.
  CheckSink<Strict, Yaml11Bools, true> sink;
  Parser<CheckSink<Strict, Yaml11Bools, true>> parser(text, sink);
  auto first = parser.parse();
  // The same input must give the same outcome a second time: no hidden state, and no
  // difference when repeated block keys are taken from the sink instead of typed again.
  KeyKeepingSink<Strict, Yaml11Bools> again_sink;
  Parser<KeyKeepingSink<Strict, Yaml11Bools>> again(text, again_sink);
  auto second = again.parse();
  if (first.has_value() != second.has_value()) std::abort();
  if (first) {
    if (first->digest != second->digest) std::abort();
  } else {
    check_error(first.error(), text);
    if (first.error().line != second.error().line ||
        first.error().message != second.error().message) {
      std::abort();
    }
  }
  // Only documents with a flow collection can tell the two readers apart.
  if (text.find_first_of("[{") != std::string_view::npos) {
    compare_flow_readers<Strict, Yaml11Bools>(text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] & 3) {
    case 0: run<false, false>(text); break;
    case 1: run<false, true>(text); break;
    case 2: run<true, false>(text); break;
    case 3: run<true, true>(text); break;
  }
  return 0;
}
