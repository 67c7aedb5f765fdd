#!/usr/bin/env bash
# Builds Corvane into a virtual environment (.venv) with warnings as errors and the test hooks, checks the C++
# formatting (in a git checkout), runs the whole test suite, then checks the wheel and the sdist
# (scripts/check_wheel.sh). Extra arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m venv .venv
. .venv/bin/activate
python -m pip install -q --disable-pip-version-check -r tests/requirements.txt
# The formatting check covers the C++ files git lists; an unpacked sdist has no git to ask.
sources=$(git ls-files 'src/*.cpp' 'src/*.hpp' 'fuzz/*.cpp' 'fuzz/*.hpp' 'bench/*.cpp' 2>/dev/null || true)
if [[ -n "$sources" ]]; then
  clang-format --dry-run --Werror $sources
else
  echo "formatting not checked: not a git checkout"
fi
# The test hooks (corvane._native._load_exact_flow) let the suite compare the flow readers; a
# wheel leaves them out.
python -m pip install -q --disable-pip-version-check --config-settings=cmake.define.CORVANE_WERROR=ON \
  --config-settings=cmake.define.CORVANE_TEST_HOOKS=ON .
python -m pytest -q tests "$@"
scripts/check_wheel.sh
