#!/usr/bin/env bash
# The whole benchmark from a fresh clone: installs Corvane (pip install ., the release build
# users get) and the peers pinned in bench/requirements.txt into .venv-bench, then runs
# bench/bench.py, which builds the C++ parts with CMake into bench/out/build, generates the
# corpora into bench/data, prints the tables and draws the chart benchmark.svg beside README.md
# (CORVANE_BENCH_CHART names another file). Arguments go to bench/bench.py: --quick,
# --corpora A,B, --gc on|off|both, --clock wall|cpu, --details, --markdown FILE, ...
#
# CORVANE_BENCH_PYTHON names the interpreter (default python3) and CORVANE_BENCH_VENV the
# environment (default .venv-bench): one environment per Python, since the same wheel serves
# them all. A peer that does not install on that Python is left out, and bench.py says so.
set -euo pipefail
cd "$(dirname "$0")/.."
VENV=${CORVANE_BENCH_VENV:-.venv-bench}
"${CORVANE_BENCH_PYTHON:-python3}" -m venv "$VENV"
. "$VENV/bin/activate"
pip=(python -m pip install -q --disable-pip-version-check)
while read -r peer; do
  "${pip[@]}" --only-binary :all: "$peer" || echo "bench/run.sh: $peer does not install on $(python -V), left out" >&2
done < <(grep -v '^#' bench/requirements.txt | grep .)
"${pip[@]}" .
exec python bench/bench.py --chart "${CORVANE_BENCH_CHART:-benchmark.svg}" "$@"
