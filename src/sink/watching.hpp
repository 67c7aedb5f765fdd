// The container side of a sink that builds nothing: for sinks that only watch what the parser
// reads (the portability scan, the fuzz targets), which then add the scalar operations they
// need.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

class BuildsNothing {
 public:
  struct Value {};
  struct Map {
    operator Value() && { return {}; }
  };
  struct Seq {
    operator Value() && { return {}; }
  };

  Map new_map() { return {}; }
  Seq new_seq() { return {}; }
  void map_insert(Map&, Value&&, Value&&) {}
  void seq_push(Seq&, Value&&) {}
  // Nothing is kept, so no key is ever a duplicate.
  bool map_has_key(const Map&, const Value&) { return false; }
  Value null_value() { return {}; }
  std::optional<Value> find_block_key(std::string_view) { return std::nullopt; }
  std::string describe_key(const Value&) { return {}; }
  void report_line(Map&, std::uint64_t) {}
  void report_line(Seq&, std::uint64_t) {}
};

}  // namespace corvane
