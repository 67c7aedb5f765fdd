#!/usr/bin/env bash
# Runs a command with the extension modules of a CMake build folder in place of the installed
# ones: scripts/with_build.sh BUILD_DIR COMMAND [ARGS...], for example
#   scripts/with_build.sh build/dev python -m pytest -q tests
# corvane._native lives inside the package, so a copy of the package made of links to its files
# and to the build's module goes on the path before the build folder; both modules then come from
# the same build (two C++ runtimes in one process do not mix).
set -euo pipefail
build=$(cd "$1" && pwd)
shift
repo=$(cd "$(dirname "$0")/.." && pwd)
package="$build/package"
rm -rf "$package"
mkdir -p "$package/corvane"
ln -s "$repo"/python/corvane/* "$package/corvane/"
ln -s "$build"/_native.*so "$package/corvane/"
export PYTHONPATH="$build:$package${PYTHONPATH:+:$PYTHONPATH}"
python -c 'import _corvane, corvane._native as n, sys
for module in (_corvane, n):
    assert module.__file__.startswith(sys.argv[1]), module.__file__' "$build"
exec "$@"
