// The sink behind `corvane --check --portable`: it builds nothing, and keeps every scalar written
// plain (key or value) that a YAML 1.1 reader, as PyYAML applies YAML 1.1, reads as another type
// or value than Corvane does under the same flags, with the line it stands on.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emit/yaml11.hpp"
#include "scalar/scalar.hpp"
#include "sink/watching.hpp"

namespace corvane {

// One plain scalar read differently.
struct PortabilityFinding {
  std::uint64_t line = 0;  // 0 for a document that is one scalar, whose line the caller knows
  std::string_view text;
  Scalar::Kind kind = Scalar::Kind::Str;  // Corvane's reading
  bool boolean = false;
  std::int64_t integer = 0;
  double number = 0;
  Yaml11Reading reading;  // a YAML 1.1 reader's
  bool is_key = false;
};

// Whether Corvane's reading of a plain scalar and a YAML 1.1 reader's are the same value.
inline bool reads_alike(const Scalar& scalar, const Yaml11Reading& reading) {
  using Kind = Yaml11Reading::Kind;
  switch (scalar.kind()) {
    case Scalar::Kind::Str: return reading.kind == Kind::String;
    case Scalar::Kind::Null: return reading.kind == Kind::Null;
    case Scalar::Kind::Bool:
      return reading.kind == Kind::Bool && reading.boolean == scalar.as_bool();
    case Scalar::Kind::Int:
      return reading.kind == Kind::Int && reading.integer_fits &&
             reading.integer == scalar.as_int();
    case Scalar::Kind::Float: {
      if (reading.kind != Kind::Float) return false;
      const double ours = scalar.as_float();
      if (std::isnan(ours) || std::isnan(reading.number)) {
        return std::isnan(ours) && std::isnan(reading.number);
      }
      return std::memcmp(&ours, &reading.number, sizeof ours) == 0;  // the sign of zero counts
    }
  }
  return false;
}

// The rule behind a plain scalar that Corvane reads as something other than a string and YAML
// 1.1 readers as the string: a float without a point or with an unsigned exponent, a 0o octal,
// a one-letter boolean.
inline std::string_view rule_for_corvane_reading(const Scalar& scalar, std::string_view text) {
  switch (scalar.kind()) {
    case Scalar::Kind::Float: return "float";
    case Scalar::Kind::Bool: return "bool";
    case Scalar::Kind::Int:
      return text.find_first_of("oO") != std::string_view::npos ? "octal" : "int";
    default: return "string";
  }
}

template <bool Yaml11Bools>
class PortabilitySink : public BuildsNothing {
 public:
  // Duplicate keys are another check's business; both flow readers give the same scalars, so
  // one is enough, and the exact one never reads a scalar twice.
  static constexpr bool strict = false;
  static constexpr bool yaml_1_1_bools = Yaml11Bools;
  static constexpr bool flow_quick_reader = false;

  Value make_string_value(std::string) { return {}; }
  void report_line(Map&, std::uint64_t line) { line_ = line; }
  void report_line(Seq&, std::uint64_t line) { line_ = line; }

  void note_plain_source(std::string_view text) { plain_ = text; }
  Value make_value(Scalar&& scalar) {
    compare(scalar, false);
    return {};
  }
  Value make_key(Scalar&& scalar) {
    compare(scalar, true);
    return {};
  }
  Value make_block_key(Scalar&& scalar, std::string_view source) {
    if (std::optional<std::string_view> plain = plain_source(source)) {
      plain_ = *plain;
      compare(scalar, true);
    }
    return {};
  }

  std::vector<PortabilityFinding>& findings() { return findings_; }

 private:
  void compare(const Scalar& scalar, bool is_key) {
    if (!plain_) return;
    const std::string_view text = *plain_;
    plain_.reset();
    const Yaml11Reading reading = read_as_yaml_1_1(text);
    if (reads_alike(scalar, reading)) return;
    PortabilityFinding finding;
    finding.line = line_;
    finding.text = text;
    finding.kind = scalar.kind();
    switch (scalar.kind()) {
      case Scalar::Kind::Bool: finding.boolean = scalar.as_bool(); break;
      case Scalar::Kind::Int: finding.integer = scalar.as_int(); break;
      case Scalar::Kind::Float: finding.number = scalar.as_float(); break;
      default: break;
    }
    finding.reading = reading;
    if (reading.rule.empty()) finding.reading.rule = rule_for_corvane_reading(scalar, text);
    finding.is_key = is_key;
    findings_.push_back(finding);
  }

  std::optional<std::string_view> plain_;
  std::uint64_t line_ = 0;
  std::vector<PortabilityFinding> findings_;
};

}  // namespace corvane
