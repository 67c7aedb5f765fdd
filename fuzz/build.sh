#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/CMakeLists.txt) into fuzz/out with AddressSanitizer and
# UndefinedBehaviorSanitizer: fuzz/out/parser_fuzzer and fuzz/out/writer_fuzzer. Needs clang 16
# (Debian: clang-16, libclang-rt-16-dev).
set -euo pipefail
cd "$(dirname "$0")/.."
generator=$(command -v ninja >/dev/null && echo Ninja || echo "Unix Makefiles")
cmake -S . -B fuzz/out/build -G "$generator" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="${CXX:-clang++-16}" -DCORVANE_PYTHON_MODULES=OFF -DCORVANE_FUZZERS=ON >/dev/null
cmake --build fuzz/out/build -j "$(nproc)" >/dev/null
for target in parser_fuzzer writer_fuzzer; do
  cp fuzz/out/build/fuzz/$target fuzz/out/
done
