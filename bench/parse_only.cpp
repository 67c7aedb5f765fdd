// Times the C++ parser alone, driving a sink that builds nothing, so that the cost of scanning
// is known apart from the cost of building Python objects. Flags are the defaults of `load`.
//
// As a program:
//
//   parse_only [--min-time SECONDS] [--min-reps N] FILE | NAME=FILE | NAME=@LIST ...
//
// NAME=@LIST times every file named in LIST (one path per line) as one unit, parsed one after
// the other. Prints one tab-separated line per unit:
//
//   name bytes files reps inner median_ns min_ns max_ns ns_per_byte MB_per_s
//
// where the *_ns figures are per pass over the unit (all its files once). Each repetition runs
// `inner` passes so that it lasts at least 20 ms; there are at least `--min-reps` repetitions
// (default 5) and at least `--min-time` seconds (default 0.2) of them, after one warm-up pass.
//
// Built as a shared library, it exports corvane_parse_passes() for bench/bench.py, which times
// it in the same process and the same rounds as the Python loaders.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "null_sink.hpp"
#include "parser/parser.hpp"

namespace {

using Sink = corvane::testing::NullSink<false, false>;
using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& message) {
  std::cerr << "parse_only: " << message << "\n";
  std::exit(2);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail("cannot read " + path);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

struct Unit {
  std::string name;
  std::vector<std::string> paths;
  std::vector<std::string> texts;
  std::size_t bytes = 0;
};

Unit read_unit(const std::string& spec) {
  auto eq = spec.find('=');
  if (eq == 0 || eq + 1 == spec.size()) fail("bad unit: " + spec);
  std::string target = eq == std::string::npos ? spec : spec.substr(eq + 1);
  Unit unit{eq == std::string::npos ? spec : spec.substr(0, eq), {}, {}, 0};
  if (target[0] == '@') {
    std::istringstream list(read_file(target.substr(1)));
    for (std::string line; std::getline(list, line);) {
      if (!line.empty()) unit.paths.push_back(line);
    }
  } else {
    unit.paths.push_back(target);
  }
  if (unit.paths.empty()) fail("no files in " + target);
  for (const auto& path : unit.paths) {
    unit.texts.push_back(read_file(path));
    unit.bytes += unit.texts.back().size();
  }
  return unit;
}

// Parses one text; false when it is refused. The digest folds in everything the sink saw, so
// that no part of the parse can be optimised away.
bool parse_one(std::string_view text, std::uint64_t& digest, corvane::LoadError* error) {
  Sink sink;
  corvane::Parser<Sink> parser(text, sink);
  auto result = parser.parse();
  if (!result) {
    if (error != nullptr) *error = std::move(result.error());
    return false;
  }
  digest = digest * 31 + result->digest + sink.values_made();
  return true;
}

// One pass over the unit.
std::uint64_t pass(const Unit& unit) {
  std::uint64_t digest = 0;
  for (std::size_t i = 0; i < unit.texts.size(); ++i) {
    corvane::LoadError error;
    if (!parse_one(unit.texts[i], digest, &error)) {
      fail(unit.paths[i] + ": line " + std::to_string(error.line) + ": " + error.message);
    }
  }
  return digest;
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

volatile std::uint64_t g_keep;  // the digests end here, so the passes cannot be elided

void time_unit(const Unit& unit, double min_time, int min_reps) {
  auto start = Clock::now();
  g_keep = pass(unit);  // warm-up, and the size of one pass
  const double once = std::max(seconds_since(start), 1e-9);
  const long inner = std::max(1L, static_cast<long>(std::ceil(0.020 / once)));
  const int reps = std::max(min_reps, static_cast<int>(std::ceil(min_time / (once * inner))));
  std::vector<double> per_pass;
  for (int r = 0; r < reps; ++r) {
    start = Clock::now();
    std::uint64_t digest = 0;
    for (long i = 0; i < inner; ++i) digest += pass(unit);
    per_pass.push_back(seconds_since(start) * 1e9 / static_cast<double>(inner));
    g_keep = g_keep + digest;
  }
  std::sort(per_pass.begin(), per_pass.end());
  const std::size_t n = per_pass.size();
  const double median = n % 2 ? per_pass[n / 2] : (per_pass[n / 2 - 1] + per_pass[n / 2]) / 2;
  const double bytes = static_cast<double>(unit.bytes);
  std::printf("%s\t%zu\t%zu\t%d\t%ld\t%.1f\t%.1f\t%.1f\t%.3f\t%.1f\n", unit.name.c_str(),
              unit.bytes, unit.texts.size(), reps, inner, median, per_pass.front(), per_pass.back(),
              median / bytes, bytes / (1 << 20) / (median / 1e9));
  std::fflush(stdout);
}

}  // namespace

// Parses the `count` texts `passes` times over. Returns 0, or 1 + the index of the first text
// that is refused. `digest` receives the folded digests.
extern "C" __attribute__((visibility("default"))) long corvane_parse_passes(
    const char* const* texts, const std::size_t* sizes, std::size_t count, long passes,
    std::uint64_t* digest) {
  std::uint64_t folded = 0;
  for (long p = 0; p < passes; ++p) {
    for (std::size_t i = 0; i < count; ++i) {
      if (!parse_one(std::string_view(texts[i], sizes[i]), folded, nullptr)) {
        return static_cast<long>(i) + 1;
      }
    }
  }
  *digest = folded;
  return 0;
}

int main(int argc, char** argv) {
  double min_time = 0.2;
  int min_reps = 5;
  std::vector<std::string> specs;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if ((arg == "--min-time" || arg == "--min-reps") && i + 1 < argc) {
      const char* value = argv[++i];
      if (arg == "--min-time")
        min_time = std::atof(value);
      else
        min_reps = std::max(1, std::atoi(value));
    } else if (arg.starts_with("-")) {
      fail("unknown option " + std::string(arg));
    } else {
      specs.emplace_back(arg);
    }
  }
  if (specs.empty())
    fail("usage: parse_only [--min-time S] [--min-reps N] FILE|NAME=FILE|NAME=@LIST ...");
  // One unit at a time, so that only one document set is in memory.
  for (const auto& spec : specs) time_unit(read_unit(spec), min_time, min_reps);
  return 0;
}
