#!/usr/bin/env bash
# The whole benchmark from a fresh clone: builds Corvane into .venv-bench with the peers of
# bench/requirements.txt, builds the parse-only timer, generates the corpora (bench/data) and
# prints the tables. Extra arguments go to bench/bench.py (--quick, --corpora, --details, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
VENV=${CORVANE_BENCH_VENV:-.venv-bench}
python3 -m venv "$VENV"
. "$VENV/bin/activate"
python -m pip install -q --disable-pip-version-check -r bench/requirements.txt
python -m pip install -q --disable-pip-version-check .

# The same sources and release flags as the extension, with the null sink in place of Python.
SOURCES=(src/scalar/scalar.cpp src/flow/flow.cpp src/parser/feed/feed.cpp
         src/parser/scan/scan.cpp src/parser/block/block.cpp)
BIN=bench/out/parse_only
mkdir -p bench/out
if [[ ! -x $BIN || -n $(find src fuzz/null_sink.hpp bench/parse_only.cpp -newer "$BIN" -print -quit) ]]; then
  echo "building $BIN" >&2
  "${CXX:-g++}" -std=c++23 -O3 -DNDEBUG -Wall -Wextra -Isrc -Ifuzz "${SOURCES[@]}" \
    bench/parse_only.cpp -o "$BIN"
fi

exec python bench/bench.py "$@"
