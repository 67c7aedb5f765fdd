#!/usr/bin/env bash
# Builds the libFuzzer target into fuzz/out/parser_fuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer. Needs clang 16 (Debian: clang-16, libclang-rt-16-dev).
#
# libstdc++ 12 offers std::expected only when __cpp_concepts reports C++20's final value.
# Clang 16 implements what that check stands for (conditionally trivial special members) but
# still reports the older value, so the build states it.
set -euo pipefail
cd "$(dirname "$0")/.."
CXX=${CXX:-clang++-16}
mkdir -p fuzz/out
"$CXX" -std=c++2b -Wno-macro-redefined -U__cpp_concepts -D__cpp_concepts=202002L \
  -g -O1 -fno-omit-frame-pointer \
  -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -Wall -Wextra -Wpedantic -Isrc -Ifuzz \
  src/text/utf8.cpp src/scalar/scalar.cpp src/flow/flow.cpp src/parser/feed/feed.cpp \
  src/parser/scan/scan.cpp src/parser/block/block.cpp fuzz/parser_fuzzer.cpp \
  -o fuzz/out/parser_fuzzer
