// YAML 1.1's implicit types as PyYAML resolves them: each text is matched whole against the
// forms of bool, float, int, merge, null, timestamp and value, in that order, and the value is
// computed as PyYAML computes it (underscores dropped, base 60 for the forms with colons).
#include "emit/yaml11.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <string>

#include "scalar/number.hpp"
#include "text/chars.hpp"

namespace corvane {
namespace {

using Kind = Yaml11Reading::Kind;

bool is_any_of(std::string_view text, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words) {
    if (text == word) return true;
  }
  return false;
}

bool is_octal_digit(char c) {
  return c >= '0' && c <= '7';
}

// The length of the run at the start of `text` whose characters pass `test`.
template <class Test>
std::size_t run_of(std::string_view text, Test test) {
  std::size_t i = 0;
  while (i < text.size() && test(text[i])) ++i;
  return i;
}

std::size_t digits_and_underscores(std::string_view text) {
  return run_of(text, [](char c) { return is_digit(c) || c == '_'; });
}

// `:` then one or two digits, the first 0 to 5, repeated at least once: the base-60 groups.
std::size_t sexagesimal_groups(std::string_view text) {
  std::size_t i = 0;
  std::size_t groups = 0;
  while (i < text.size() && text[i] == ':') {
    std::size_t j = i + 1;
    if (j + 1 < text.size() && text[j] >= '0' && text[j] <= '5' && is_digit(text[j + 1])) {
      j += 2;
    } else if (j < text.size() && is_digit(text[j])) {
      j += 1;
    } else {
      break;
    }
    i = j;
    ++groups;
  }
  return groups == 0 ? 0 : i;
}

std::string without_underscores(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '_') out.push_back(c);
  }
  return out;
}

// [eE][-+][0-9]+ at the start of `text`: its length, or 0.
std::size_t signed_exponent(std::string_view text) {
  if (text.size() < 3 || (text[0] != 'e' && text[0] != 'E') || (text[1] != '+' && text[1] != '-')) {
    return 0;
  }
  const std::size_t digits = run_of(text.substr(2), is_digit);
  return digits == 0 ? 0 : 2 + digits;
}

// The integer of `digits` (underscores dropped) in `radix`, with `negative` applied; false in
// `fits` when it lies outside the signed 64-bit range, or has no digit at all (PyYAML then
// fails to make an integer of it).
std::int64_t integer_value(std::string_view digits, int radix, bool negative, bool& fits) {
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 63;
  std::uint64_t magnitude = 0;
  fits = digits.find_first_not_of('_') != std::string_view::npos;
  for (char c : digits) {
    if (c == '_') continue;
    const auto digit = static_cast<std::uint64_t>(hex_digit_value(c));
    if (magnitude > (kLimit - digit) / static_cast<std::uint64_t>(radix)) {
      fits = false;
      return 0;
    }
    magnitude = magnitude * static_cast<std::uint64_t>(radix) + digit;
  }
  if (!negative && magnitude == kLimit) {
    fits = false;
    return 0;
  }
  return negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
}

// The double of a decimal text without underscores, as the loader reads one.
double decimal_value(const std::string& text) {
  const auto scalar = infer_number_kind(text);
  return scalar && scalar->kind() == Scalar::Kind::Float ? scalar->as_float()
         : scalar && scalar->kind() == Scalar::Kind::Int ? static_cast<double>(scalar->as_int())
                                                         : 0.0;
}

// Base 60: each group times 60 and the next added, the last group of a float with its fraction.
double sexagesimal_value(std::string_view body, bool negative) {
  double value = 0;
  std::size_t start = 0;
  while (true) {
    const std::size_t colon = body.find(':', start);
    const std::string part = without_underscores(body.substr(start, colon - start));
    value = value * 60 + decimal_value(part.empty() ? "0" : part);
    if (colon == std::string_view::npos) break;
    start = colon + 1;
  }
  return negative ? -value : value;
}

Yaml11Reading reading(Kind kind, std::string_view rule) {
  Yaml11Reading out;
  out.kind = kind;
  out.rule = rule;
  return out;
}

bool read_float(std::string_view text, Yaml11Reading& out) {
  const bool signed_text = !text.empty() && (text[0] == '+' || text[0] == '-');
  const bool negative = signed_text && text[0] == '-';
  const std::string_view body = signed_text ? text.substr(1) : text;
  if (is_any_of(body, {".inf", ".Inf", ".INF"}) ||
      (!signed_text && is_any_of(body, {".nan", ".NaN", ".NAN"}))) {
    out = reading(Kind::Float, "float");
    out.number = body[1] == 'n' || body[1] == 'N' ? std::numeric_limits<double>::quiet_NaN()
                 : negative                       ? -std::numeric_limits<double>::infinity()
                                                  : std::numeric_limits<double>::infinity();
    return true;
  }
  const std::string_view rule = text.find('_') != std::string_view::npos ? "underscore" : "float";
  if (!body.empty() && body[0] == '.') {
    // `.5`: no sign, a digit first.
    if (signed_text || body.size() < 2 || !is_digit(body[1])) return false;
    const std::size_t fraction = 1 + digits_and_underscores(body.substr(1));
    if (fraction + signed_exponent(body.substr(fraction)) != body.size()) return false;
    out = reading(Kind::Float, rule);
    out.number = decimal_value(without_underscores(text));
    return true;
  }
  if (body.empty() || !is_digit(body[0])) return false;
  const std::size_t whole = digits_and_underscores(body);
  if (whole < body.size() && body[whole] == '.') {
    const std::size_t fraction = whole + 1 + digits_and_underscores(body.substr(whole + 1));
    if (fraction + signed_exponent(body.substr(fraction)) != body.size()) return false;
    out = reading(Kind::Float, rule);
    out.number = decimal_value(without_underscores(text));
    return true;
  }
  // Base 60 with a fraction: 1:30.5.
  const std::size_t groups = sexagesimal_groups(body.substr(whole));
  if (groups == 0 || whole + groups >= body.size() || body[whole + groups] != '.') return false;
  const std::size_t end =
      whole + groups + 1 + digits_and_underscores(body.substr(whole + groups + 1));
  if (end != body.size()) return false;
  out = reading(Kind::Float, "sexagesimal");
  out.number = sexagesimal_value(body, negative);
  return true;
}

bool read_int(std::string_view text, Yaml11Reading& out) {
  const bool signed_text = !text.empty() && (text[0] == '+' || text[0] == '-');
  const bool negative = signed_text && text[0] == '-';
  const std::string_view body = signed_text ? text.substr(1) : text;
  if (body.empty() || !is_digit(body[0])) return false;
  const bool underscores = body.find('_') != std::string_view::npos;
  const auto integer = [&](std::string_view digits, int radix, std::string_view rule) {
    out = reading(Kind::Int, underscores && rule == "int" ? "underscore" : rule);
    out.integer = integer_value(digits, radix, negative, out.integer_fits);
    return true;
  };
  if (body.size() > 2 && body[0] == '0' && body[1] == 'b' &&
      run_of(body.substr(2), [](char c) { return c == '0' || c == '1' || c == '_'; }) ==
          body.size() - 2) {
    return integer(body.substr(2), 2, "binary");
  }
  if (body.size() > 2 && body[0] == '0' && body[1] == 'x' &&
      run_of(body.substr(2), [](char c) { return hex_digit_value(c) >= 0 || c == '_'; }) ==
          body.size() - 2) {
    return integer(body.substr(2), 16, "int");
  }
  if (body.size() > 1 && body[0] == '0' && run_of(body.substr(1), [](char c) {
                                             return is_octal_digit(c) || c == '_';
                                           }) == body.size() - 1) {
    return integer(body, 8, "octal");
  }
  if (body == "0") return integer(body, 10, "int");
  if (body[0] == '0') return false;
  const std::size_t whole = digits_and_underscores(body);
  if (whole == body.size()) return integer(body, 10, "int");
  if (whole + sexagesimal_groups(body.substr(whole)) != body.size()) return false;
  out = reading(Kind::Int, "sexagesimal");
  const double value = sexagesimal_value(body, negative);
  out.integer_fits = std::fabs(value) < 9.2e18;
  out.integer = out.integer_fits ? static_cast<std::int64_t>(value) : 0;
  return true;
}

// A run of `least` to `most` digits at `at`, which moves past it.
bool digits_at(std::string_view text, std::size_t& at, std::size_t least, std::size_t most) {
  const std::size_t run = run_of(text.substr(at), is_digit);
  if (run < least || run > most) return false;
  at += run;
  return true;
}

bool read_timestamp(std::string_view text) {
  std::size_t at = 0;
  if (!digits_at(text, at, 4, 4) || at >= text.size() || text[at] != '-') return false;
  ++at;
  const std::size_t month = at;
  if (!digits_at(text, at, 1, 2) || at >= text.size() || text[at] != '-') return false;
  const bool two_digit_month = at - month == 2;
  ++at;
  const std::size_t day = at;
  if (!digits_at(text, at, 1, 2)) return false;
  if (at == text.size()) return two_digit_month && at - day == 2;  // a date alone: 2024-01-01
  // The time: after `T`, `t` or blanks.
  if (text[at] == 'T' || text[at] == 't') {
    ++at;
  } else {
    const std::size_t blanks = run_of(text.substr(at), is_blank);
    if (blanks == 0) return false;
    at += blanks;
  }
  if (!digits_at(text, at, 1, 2) || at >= text.size() || text[at++] != ':' ||
      !digits_at(text, at, 2, 2) || at >= text.size() || text[at++] != ':' ||
      !digits_at(text, at, 2, 2)) {
    return false;
  }
  if (at < text.size() && text[at] == '.') {
    ++at;
    at += run_of(text.substr(at), is_digit);
  }
  if (at == text.size()) return true;
  at += run_of(text.substr(at), is_blank);
  if (at < text.size() && text[at] == 'Z') return at + 1 == text.size();
  if (at >= text.size() || (text[at] != '+' && text[at] != '-')) return false;
  ++at;
  if (!digits_at(text, at, 1, 2)) return false;
  if (at == text.size()) return true;
  if (text[at++] != ':' || !digits_at(text, at, 2, 2)) return false;
  return at == text.size();
}

}  // namespace

Yaml11Reading read_as_yaml_1_1(std::string_view text) {
  Yaml11Reading out;
  if (is_any_of(text, {"yes", "Yes", "YES", "on", "On", "ON", "true", "True", "TRUE"})) {
    out = reading(Kind::Bool, "bool");
    out.boolean = true;
    return out;
  }
  if (is_any_of(text, {"no", "No", "NO", "off", "Off", "OFF", "false", "False", "FALSE"})) {
    return reading(Kind::Bool, "bool");
  }
  if (read_float(text, out) || read_int(text, out)) return out;
  if (text == "<<") return reading(Kind::Merge, "merge");
  if (is_any_of(text, {"", "~", "null", "Null", "NULL"})) return reading(Kind::Null, "null");
  if (read_timestamp(text)) return reading(Kind::Timestamp, "timestamp");
  if (text == "=") return reading(Kind::Value, "value");
  return out;
}

}  // namespace corvane
