#!/usr/bin/env bash
# Builds both extension modules for the Python fuzz harnesses into fuzz/out/python: clang 16
# with AddressSanitizer and coverage counters (-fsanitize=fuzzer-no-link), so that atheris
# steers by the C++ code's coverage, not only the harness's. fuzz/out/python then holds
# _corvane and a corvane package of links to python/corvane beside the built corvane._native;
# put it first on PYTHONPATH. See fuzz/README.md for running the harnesses.
set -euo pipefail
cd "$(dirname "$0")/.."
generator=$(command -v ninja >/dev/null && echo Ninja || echo "Unix Makefiles")
cmake -S . -B fuzz/out/python-build -G "$generator" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER="${CXX:-clang++-16}" -DPython_EXECUTABLE="$(command -v python3)" \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,fuzzer-no-link" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address" >/dev/null
cmake --build fuzz/out/python-build -j "$(nproc)" >/dev/null
out=fuzz/out/python
rm -rf "$out"
mkdir -p "$out/corvane"
cp fuzz/out/python-build/_corvane*.so "$out/"
ln -s "$PWD"/python/corvane/* "$out/corvane/"
cp fuzz/out/python-build/_native*.so "$out/corvane/"
