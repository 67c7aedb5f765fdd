#!/usr/bin/env bash
# The whole benchmark from a fresh clone: builds Corvane into .venv-bench with the peers of
# bench/requirements.txt, builds the parse-only timer, generates the corpora (bench/data) and
# prints the tables: the loaders' and the line map's, then the writers'. Extra arguments go to bench/bench.py (--quick, --corpora, --details, ...);
# with --counters first, bench/counters.py runs instead (instructions and cache misses under cachegrind).
set -euo pipefail
cd "$(dirname "$0")/.."
VENV=${CORVANE_BENCH_VENV:-.venv-bench}
python3 -m venv "$VENV"
. "$VENV/bin/activate"
python -m pip install -q --disable-pip-version-check -r bench/requirements.txt
python -m pip install -q --disable-pip-version-check .

# The parse-only timer: the extension's sources and release flags, with the null sink in place
# of Python; a program, and a library that bench.py times in its own rounds.
SOURCES=(src/text/utf8.cpp src/scalar/scalar.cpp src/flow/flow.cpp src/parser/feed/feed.cpp
         src/parser/scan/scan.cpp src/parser/block/block.cpp bench/parse_only.cpp)
OUT=bench/out
mkdir -p "$OUT/obj"
if [[ ! -f $OUT/libparse_only.so || ! -x $OUT/parse_only ||
      -n $(find src fuzz/null_sink.hpp bench/parse_only.cpp -newer "$OUT/libparse_only.so" -print -quit) ]]; then
  echo "building $OUT/parse_only and $OUT/libparse_only.so" >&2
  CXX=${CXX:-g++}
  OBJECTS=()
  for source in "${SOURCES[@]}"; do
    object=$OUT/obj/$(basename "${source%.cpp}").o
    "$CXX" -std=c++23 -O3 -DNDEBUG -fPIC -fvisibility=hidden -Wall -Wextra -Isrc -Ifuzz \
      -c "$source" -o "$object"
    OBJECTS+=("$object")
  done
  "$CXX" "${OBJECTS[@]}" -o "$OUT/parse_only"
  "$CXX" -shared "${OBJECTS[@]}" -o "$OUT/libparse_only.so"
fi

# bench/run.sh --counters [--corpora A,B]: instruction and cache-miss counts under cachegrind instead.
if [[ ${1:-} == --counters ]]; then
  shift
  exec python bench/counters.py "$@"
fi

python bench/bench.py "$@"
# The writer: dump beside json.dumps, orjson.dumps and PyYAML's CSafeDumper.
exec python bench/bench_dump.py "$@"
