// libFuzzer entry point: the first byte picks the flags, the rest is the document. Raw bytes
// go in unchecked, so the parser is held to "any bytes" even though Python only ever hands it
// valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "null_sink.hpp"
#include "parser/parser.hpp"

namespace {

using corvane::LoadError;
using corvane::Parser;
using corvane::testing::NullSink;

std::uint64_t count_lines(std::string_view text) {
  std::uint64_t lines = 1;
  for (char c : text) lines += c == '\n';
  return lines;
}

// Every error must point at a line of the input and carry a message.
void check_error(const LoadError& error, std::string_view text) {
  if (error.line == 0 || error.line > count_lines(text) || error.message.empty()) std::abort();
}

template <bool Strict, bool Yaml11Bools>
void run(std::string_view text) {
  NullSink<Strict, Yaml11Bools> sink;
  Parser<NullSink<Strict, Yaml11Bools>> parser(text, sink);
  auto first = parser.parse();
  // The same input must give the same outcome a second time: no hidden state.
  NullSink<Strict, Yaml11Bools> again_sink;
  Parser<NullSink<Strict, Yaml11Bools>> again(text, again_sink);
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
