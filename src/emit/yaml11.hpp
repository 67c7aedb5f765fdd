// How a reader that follows YAML 1.1's types, as PyYAML applies them, reads a plain scalar:
// the one rule behind the writer's choice of a plain style and the checker's report of values
// that such readers read differently from Corvane.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace corvane {

struct Yaml11Reading {
  enum class Kind : std::uint8_t {
    String,     // the text itself
    Null,       // ~, null, Null, NULL or nothing
    Bool,       // yes/no/on/off/true/false in three cases
    Int,        // decimal, 0b binary, 0 octal, 0x hex or base 60, underscores allowed
    Float,      // with a point (an exponent needs its sign), base 60, .inf or .nan
    Timestamp,  // a date, or a date and a time
    Merge,      // <<
    Value,      // =
  };
  // Which YAML 1.1 rule gives the reading, for reports: "bool", "octal", "sexagesimal",
  // "underscore", "binary", "timestamp", "float", "merge", "value", "null", "int"; empty for a
  // string.
  std::string_view rule;
  Kind kind = Kind::String;
  bool boolean = false;
  bool integer_fits = true;  // the integer lies in the signed 64-bit range
  std::int64_t integer = 0;
  double number = 0;
};

// The reading of a plain scalar's text (no surrounding whitespace, no comment).
Yaml11Reading read_as_yaml_1_1(std::string_view text);

}  // namespace corvane
