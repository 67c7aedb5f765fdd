// A command-line program around the parser core alone, without Python: it reads a document
// from a file and prints how many values it holds, or the error. scripts/toolchains.sh builds
// it with compilers for which no Python to link against is at hand (MinGW-w64).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "null_sink.hpp"
#include "parser/parser.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: core_main FILE\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  corvane::testing::NullSink<true, false> sink;
  corvane::Parser parser(text, sink);
  const auto value = parser.parse();
  if (!value) {
    std::printf("error: line %llu: %s\n", static_cast<unsigned long long>(value.error().line),
                value.error().message.c_str());
    return 1;
  }
  std::printf("values: %llu\n", static_cast<unsigned long long>(sink.values_made()));
  return 0;
}
