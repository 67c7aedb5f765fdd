#!/usr/bin/env bash
# Builds Corvane into a virtual environment (.venv) with warnings as errors, checks the C++
# formatting, runs the whole test suite, then checks the wheel and the sdist
# (scripts/check_wheel.sh). Extra arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m venv .venv
. .venv/bin/activate
python -m pip install -q --disable-pip-version-check -r tests/requirements.txt
clang-format --dry-run --Werror $(git ls-files 'src/*.cpp' 'src/*.hpp' 'fuzz/*.cpp' 'fuzz/*.hpp' 'bench/*.cpp')
python -m pip install -q --disable-pip-version-check \
  --config-settings=cmake.define.CORVANE_WERROR=ON .
python -m pytest -q tests "$@"
scripts/check_wheel.sh
