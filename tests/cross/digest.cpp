// The cross-check driver: loads every input with each of the four flag sets through a sink
// that hashes everything it is given, and prints one line per input and flag set, so that
// builds for different processors (or with the portable byte path forced) can be compared
// line by line. Also checks the byte searches against plain loops (--self-test).
//
//   digest [--self-test] [--repeat N] FILE | @LIST | %BUNDLE ...
//
// @LIST names one input path per line; %BUNDLE is one file of documents separated by NUL
// bytes, named BUNDLE#0, BUNDLE#1, ... Each output line is
//
//   NAME <tab> strict,yaml_1_1_bools <tab> ok DIGEST | error KIND LINE MESSAGE
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "parser/parser.hpp"
#include "text/bytes.hpp"

namespace {

using corvane::Scalar;

std::uint64_t mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  return x ^ (x >> 33);
}

// FNV-1a over every byte, seeded with the length.
std::uint64_t hash_text(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ULL ^ text.size();
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  return hash;
}

// Each value is one 64-bit digest of its kind and content. A container folds its entries in
// order, and its entry count when it is finished, so order and shape both count.
struct DigestValue {
  std::uint64_t digest = 0;
};
struct DigestMap {
  std::uint64_t digest = mix(0x6d6170);
  std::uint64_t entries = 0;
  std::unordered_set<std::uint64_t> keys;
  operator DigestValue() && { return DigestValue{mix(digest ^ mix(entries + 1))}; }
};
struct DigestSeq {
  std::uint64_t digest = mix(0x736571);
  std::uint64_t entries = 0;
  operator DigestValue() && { return DigestValue{mix(digest ^ mix(entries + 2))}; }
};

template <bool Strict, bool Yaml11Bools>
class DigestSink {
 public:
  static constexpr bool strict = Strict;
  static constexpr bool yaml_1_1_bools = Yaml11Bools;
  using Value = DigestValue;
  using Map = DigestMap;
  using Seq = DigestSeq;

  Map new_map() { return Map{}; }
  Seq new_seq() { return Seq{}; }
  void map_insert(Map& map, Value key, Value value) {
    map.keys.insert(key.digest);
    map.digest = mix(map.digest ^ mix(key.digest + 0x9e3779b97f4a7c15ULL * value.digest));
    ++map.entries;
  }
  void seq_push(Seq& seq, Value value) {
    seq.digest = mix(seq.digest ^ value.digest);
    ++seq.entries;
  }
  bool map_has_key(const Map& map, const Value& key) { return map.keys.contains(key.digest); }
  Value null_value() { return Value{mix(1)}; }
  Value make_value(Scalar&& scalar) {
    switch (scalar.kind()) {
      case Scalar::Kind::Null: return null_value();
      case Scalar::Kind::Bool: return Value{mix(2 + scalar.as_bool())};
      case Scalar::Kind::Int:
        return Value{mix(mix(4) ^ static_cast<std::uint64_t>(scalar.as_int()))};
      case Scalar::Kind::Float:
        return Value{mix(mix(5) ^ std::bit_cast<std::uint64_t>(scalar.as_float()))};
      case Scalar::Kind::Str: return Value{mix(mix(6) ^ hash_text(scalar.as_str()))};
    }
    return Value{};
  }
  Value make_key(Scalar&& scalar) { return make_value(std::move(scalar)); }
  Value make_block_key(Scalar&& scalar, std::string_view) { return make_value(std::move(scalar)); }
  std::optional<Value> find_block_key(std::string_view) { return std::nullopt; }
  Value make_string_value(std::string text) { return Value{mix(mix(6) ^ hash_text(text))}; }
  std::string describe_key(const Value& key) { return hex(key.digest); }
  void report_line(const Map&, std::uint64_t) {}
  void report_line(const Seq&, std::uint64_t) {}

  static std::string hex(std::uint64_t value) {
    char out[17];
    std::snprintf(out, sizeof out, "%016llx", static_cast<unsigned long long>(value));
    return out;
  }
};

const char* kind_name(corvane::ErrorKind kind) {
  switch (kind) {
    case corvane::ErrorKind::Syntax: return "syntax";
    case corvane::ErrorKind::Unsupported: return "unsupported";
    default: return "other";
  }
}

// Line feeds and tabs in a message would break the line format.
std::string escaped(std::string_view message) {
  std::string out;
  for (const char c : message) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

template <bool Strict, bool Yaml11Bools>
std::string load_digest(std::string_view text) {
  using Sink = DigestSink<Strict, Yaml11Bools>;
  try {
    Sink sink;
    corvane::Parser<Sink> parser(text, sink);
    auto result = parser.parse();
    if (result) return "ok " + Sink::hex(result->digest);
    const corvane::LoadError& error = result.error();
    return std::string("error ") + kind_name(error.kind) + " " + std::to_string(error.line) + " " +
           escaped(error.message);
  } catch (const std::exception& exception) {
    return std::string("exception ") + escaped(exception.what());
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "digest: cannot read %s\n", path.c_str());
    std::exit(2);
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

void print_digests(const std::string& name, std::string_view text) {
  std::printf("%s\t0,0\t%s\n", name.c_str(), load_digest<false, false>(text).c_str());
  std::printf("%s\t0,1\t%s\n", name.c_str(), load_digest<false, true>(text).c_str());
  std::printf("%s\t1,0\t%s\n", name.c_str(), load_digest<true, false>(text).c_str());
  std::printf("%s\t1,1\t%s\n", name.c_str(), load_digest<true, true>(text).c_str());
}

// Named inputs from one command line argument.
std::vector<std::pair<std::string, std::string>> read_inputs(const std::string& argument) {
  std::vector<std::pair<std::string, std::string>> inputs;
  if (argument.starts_with("@")) {
    std::istringstream list(read_file(argument.substr(1)));
    for (std::string path; std::getline(list, path);) {
      if (!path.empty()) inputs.emplace_back(path, read_file(path));
    }
  } else if (argument.starts_with("%")) {
    const std::string path = argument.substr(1);
    const std::string bundle = read_file(path);
    std::size_t start = 0, index = 0;
    while (start < bundle.size()) {
      std::size_t end = bundle.find('\0', start);
      if (end == std::string::npos) end = bundle.size();
      inputs.emplace_back(path + "#" + std::to_string(index++), bundle.substr(start, end - start));
      start = end + 1;
    }
  } else {
    inputs.emplace_back(argument, read_file(argument));
  }
  return inputs;
}

// --- The byte searches against plain loops -------------------------------------------------

struct Random {
  std::uint64_t state;
  std::uint64_t next() {
    state += 0x9e3779b97f4a7c15ULL;
    return mix(state);
  }
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

std::size_t naive_find_either(std::string_view text, std::size_t from, char a, char b) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (text[i] == a || text[i] == b) return i;
  }
  return std::string_view::npos;
}

std::size_t naive_leading_spaces(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  return i;
}

template <class Block>
std::uint32_t block_stops(const char* at, bool is_key) {
  const Block block = Block::load(at);
  const Block folded = block.with_bits(0x20);
  return (block.at_most(0x1F) | folded.equal('{') | folded.equal('#') |
          block.equal(is_key ? ':' : '\x7F'))
      .mask();
}

std::uint32_t naive_stops(const char* at, bool is_key) {
  std::uint32_t bits = 0;
  for (int i = 0; i < 16; ++i) {
    const auto c = static_cast<unsigned char>(at[i]);
    const auto folded = static_cast<unsigned char>(c | 0x20);
    if (c <= 0x1F || folded == '{' || folded == '#' || c == (is_key ? ':' : 0x7F)) bits |= 1u << i;
  }
  return bits;
}

// The writer's question of a string: bytes outside printable ASCII other than a line feed, a
// space before `#` and a colon before a space; and a range test with any bounds.
template <class Block>
std::uint32_t block_specials(const char* at, unsigned char low, unsigned char high) {
  const Block block = Block::load(at);
  const Block next = Block::load(at + 1);
  return (block.outside(0x20, 0x7E).and_not(block.equal('\n')) |
          (block.equal(' ') & next.equal('#')) | (block.equal(':') & next.equal(' ')))
             .mask() ^
         block.outside(low, high).mask() << 16;
}

std::uint32_t naive_specials(const char* at, unsigned char low, unsigned char high) {
  std::uint32_t bits = 0;
  for (int i = 0; i < 16; ++i) {
    const auto c = static_cast<unsigned char>(at[i]);
    if (((c < 0x20 || c > 0x7E) && c != '\n') || (c == ' ' && at[i + 1] == '#') ||
        (c == ':' && at[i + 1] == ' ')) {
      bits |= 1u << i;
    }
    if (c < low || c > high) bits ^= 1u << (i + 16);
  }
  return bits;
}

// Texts over a small alphabet that makes hits, near-misses (bytes that differ from a target
// in one bit) and runs of spaces common, with bytes of every value now and then.
int self_test(int rounds) {
  Random random{12345};
  const std::string alphabet = std::string("  \n#:\\'\"ab{[,\x7F\x80\xFF\t\x1F\x20\x3A", 20);
  std::uint64_t checks = 0, failures = 0;
  const auto check = [&](bool same, const char* what, std::size_t size) {
    ++checks;
    if (!same && failures++ < 20) std::printf("self-test: %s differs (size %zu)\n", what, size);
  };
  std::string buffer;
  for (int round = 0; round < rounds; ++round) {
    const std::size_t size = random.below(round % 8 == 0 ? 200 : 40);
    const std::size_t spaces = random.below(4) == 0 ? random.below(size + 1) : 0;
    buffer.assign(size + 64, 'x');  // readable bytes after the text
    for (std::size_t i = 0; i < buffer.size(); ++i) {
      buffer[i] = random.below(8) == 0 ? static_cast<char>(random.next())
                                       : alphabet[random.below(alphabet.size())];
    }
    for (std::size_t i = 0; i < spaces; ++i) buffer[i] = ' ';
    const std::string_view text(buffer.data(), size);
    const std::size_t from = random.below(size + 1);
    const char a = alphabet[random.below(alphabet.size())];
    const char b = random.below(2) ? a : static_cast<char>(random.next());
    check(corvane::find_either(text, from, a, b) == naive_find_either(text, from, a, b),
          "find_either", size);
    check(corvane::find(text, from, a) == naive_find_either(text, from, a, a), "find", size);
    check(corvane::find_either_from_start(text, a, b, buffer.data() + buffer.size()) ==
              naive_find_either(text, 0, a, b),
          "find_either_from_start", size);
    check(corvane::leading_spaces(text) == naive_leading_spaces(text), "leading_spaces", size);
    check(corvane::count_indentation(text.data(), size) == naive_leading_spaces(text),
          "count_indentation", size);
    std::uint64_t line_feeds = 0;
    for (std::size_t i = 0; i < 64; ++i) line_feeds |= std::uint64_t{buffer[i] == '\n'} << i;
    check(corvane::line_feed_bits(buffer.data()) == line_feeds, "line_feed_bits", size);
    for (const bool is_key : {false, true}) {
      check(block_stops<corvane::text::Block>(buffer.data(), is_key) ==
                naive_stops(buffer.data(), is_key),
            "Block", size);
      check(block_stops<corvane::text::portable::Block>(buffer.data(), is_key) ==
                naive_stops(buffer.data(), is_key),
            "portable::Block", size);
    }
    const auto low = static_cast<unsigned char>(random.below(256));
    const auto high = static_cast<unsigned char>(low + random.below(256 - low));
    const char* at = buffer.data() + random.below(32);
    check(block_specials<corvane::text::Block>(at, low, high) == naive_specials(at, low, high),
          "Block specials", size);
    check(block_specials<corvane::text::portable::Block>(at, low, high) ==
              naive_specials(at, low, high),
          "portable::Block specials", size);
  }
  std::printf("self-test (%s): %llu checks, %llu failures\n",
              std::string(corvane::text::kBlockPath).c_str(),
              static_cast<unsigned long long>(checks), static_cast<unsigned long long>(failures));
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 1;
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--self-test") {
      if (const int failed = self_test(200000)) return failed;
    } else if (argument == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else {
      arguments.emplace_back(argument);
    }
  }
  for (const std::string& argument : arguments) {
    for (const auto& [name, text] : read_inputs(argument)) {
      // Only the last of the repeated loads is printed; the others are there to be timed.
      for (int r = 1; r < repeat; ++r) {
        if (load_digest<false, false>(text).empty()) std::abort();
      }
      print_digests(name, text);
    }
  }
  return 0;
}
