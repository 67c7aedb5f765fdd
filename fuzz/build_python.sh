#!/usr/bin/env bash
# Builds the extension for the Python fuzz harness into fuzz/out/python: clang 16 with
# AddressSanitizer and coverage counters (-fsanitize=fuzzer-no-link), so that atheris steers
# by the C++ code's coverage, not only the harness's. See fuzz/README.md for running it.
set -euo pipefail
cd "$(dirname "$0")/.."
CXX=${CXX:-clang++-16} cmake -S . -B fuzz/out/python-build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPython_EXECUTABLE="$(command -v python3)" \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,fuzzer-no-link -Wno-macro-redefined -U__cpp_concepts -D__cpp_concepts=202002L" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address" >/dev/null
cmake --build fuzz/out/python-build -j "$(nproc)"
mkdir -p fuzz/out/python
cp fuzz/out/python-build/_corvane*.so fuzz/out/python/
