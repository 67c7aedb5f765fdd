#!/usr/bin/env bash
# The whole benchmark from a fresh clone: installs Corvane (pip install ., the release build
# users get) and the peers pinned in bench/requirements.txt into .venv-bench, then runs
# bench/bench.py, which builds the C++ parts with CMake into bench/out/build, generates the
# corpora into bench/data, prints the tables and draws the chart benchmark.svg beside README.md
# (CORVANE_BENCH_CHART names another file). Arguments go to bench/bench.py: --quick,
# --corpora A,B, --gc on|off|both, --clock wall|cpu, --details, --markdown FILE, ...
set -euo pipefail
cd "$(dirname "$0")/.."
VENV=${CORVANE_BENCH_VENV:-.venv-bench}
python3 -m venv "$VENV"
. "$VENV/bin/activate"
python -m pip install -q --disable-pip-version-check -r bench/requirements.txt
python -m pip install -q --disable-pip-version-check .
exec python bench/bench.py --chart "${CORVANE_BENCH_CHART:-benchmark.svg}" "$@"
