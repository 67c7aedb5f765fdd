// libFuzzer target for the writer's text rules: the style the writer chooses for a string and
// the text it writes in that style, and the text of a float. The first byte picks what the rest
// is: a string (any UTF-8 text; other bytes are left out, as a Python str never holds them) or
// the eight bytes of a double. Every written scalar is read back by the loader, with both boolean
// settings and strict: a string as a value at the top level, after a key, after a dash and in a
// nested mapping, and as a key, at every indentation the writer uses, must read back as exactly
// that string; a float must read back bit for bit (a NaN as a NaN).
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "emit/float_text.hpp"
#include "emit/output.hpp"
#include "emit/string_text.hpp"
#include "emit/style.hpp"
#include "parser/parser.hpp"
#include "sink/watching.hpp"
#include "text/utf8.hpp"

namespace {

using corvane::Scalar;
namespace emit = corvane::emit;

// What the loader made of a document: every scalar it typed, in order (block scalars too).
struct Made {
  Scalar::Kind kind;
  std::string text;
  double number = 0;
};

template <bool Strict, bool Yaml11Bools>
class RecordingSink : public corvane::BuildsNothing {
 public:
  static constexpr bool strict = Strict;
  static constexpr bool yaml_1_1_bools = Yaml11Bools;

  Value make_value(Scalar&& scalar) {
    Made made{scalar.kind(), std::string(scalar.as_str())};
    if (scalar.kind() == Scalar::Kind::Float) made.number = scalar.as_float();
    made_.push_back(std::move(made));
    return {};
  }
  Value make_key(Scalar&& scalar) { return make_value(std::move(scalar)); }
  Value make_block_key(Scalar&& scalar, std::string_view) { return make_value(std::move(scalar)); }
  Value make_string_value(std::string text) {
    made_.push_back(Made{Scalar::Kind::Str, std::move(text)});
    return {};
  }

  std::vector<Made> made_;
};

template <bool Yaml11Bools>
std::vector<Made> load(std::string_view document) {
  RecordingSink<true, Yaml11Bools> sink;
  corvane::Parser parser(document, sink);
  if (!parser.parse()) {
    std::fprintf(stderr, "refused: %.*s\n", static_cast<int>(document.size()), document.data());
    std::abort();
  }
  return std::move(sink.made_);
}

// Checks that scalar number `at` of the document, under both boolean settings, is `expected`.
void expect_string(const std::string& document, std::size_t at, std::string_view expected) {
  for (const auto& made : {load<false>(document), load<true>(document)}) {
    if (made.size() <= at || made[at].kind != Scalar::Kind::Str || made[at].text != expected) {
      std::fprintf(stderr, "document %s does not read back its string\n", document.c_str());
      std::abort();
    }
  }
}

// `prefix` + the value written at `column` (the column of the key or dash before it) + a line
// feed, as the writer lays out a string value.
std::string with_value(std::string_view prefix, std::string_view text, std::size_t column,
                       std::size_t indent, bool at_root) {
  emit::Output output;
  output.append(prefix);
  const emit::Style style = emit::choose_style(text, true);
  if (!at_root) output.append(' ');
  if (style == emit::Style::Literal) {
    emit::write_literal(output, text, column, indent);
  } else {
    emit::write_styled(output, text, style);
    output.append('\n');
  }
  return std::string(output.text());
}

void check_string(std::string_view text) {
  // The writer reads one byte past the text: a str's UTF-8 ends in a null byte.
  const std::string copy(text);
  text = copy;
  for (std::size_t indent = 2; indent <= 8; indent += 2) {
    const std::string spaces(indent, ' ');
    expect_string(with_value("", text, 0, indent, true), 0, text);
    expect_string(with_value("k:", text, 0, indent, false), 1, text);
    expect_string(with_value("-", text, 0, indent, false), 0, text);
    expect_string(with_value("a:\n" + spaces + "- k:", text, indent + 2, indent, false), 2, text);
    expect_string(with_value("a:\n" + spaces + "k:", text, indent, indent, false), 2, text);
  }
  emit::Output key;
  emit::write_styled(key, text, emit::choose_style(text, false));
  key.append(": v\n");
  expect_string(std::string(key.text()), 0, text);
}

void check_float(double value) {
  char written[emit::kMaxFloatText + 1];
  const std::size_t size = emit::write_float(value, written);
  const std::string document = "k: " + std::string(written, size) + "\n";
  for (const auto& made : {load<false>(document), load<true>(document)}) {
    const bool same = made.size() == 2 && made[1].kind == Scalar::Kind::Float &&
                      (std::isnan(value) ? std::isnan(made[1].number)
                                         : std::bit_cast<std::uint64_t>(made[1].number) ==
                                               std::bit_cast<std::uint64_t>(value));
    if (!same) {
      std::fprintf(stderr, "%a written as %s does not read back\n", value, document.c_str());
      std::abort();
    }
  }
}

// The UTF-8 characters of `bytes`, other bytes left out: a character is kept when it is no
// surrogate and encoding its code point again gives back exactly its bytes (which refuses
// overlong forms, stray continuation bytes and leads past F4).
std::string valid_utf8(std::string_view bytes) {
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t start = i;
    const char32_t code_point = corvane::decode_utf8(bytes, i);
    if (code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) continue;
    char encoded[4];
    const auto length = static_cast<std::size_t>(corvane::put_utf8(encoded, code_point) - encoded);
    const std::string_view read = bytes.substr(start, i - start);
    if (read == std::string_view(encoded, length)) out.append(read);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    if (rest.size() < 8) return 0;
    double value;
    std::memcpy(&value, rest.data(), 8);
    check_float(value);
  } else {
    check_string(valid_utf8(rest));
  }
  return 0;
}
