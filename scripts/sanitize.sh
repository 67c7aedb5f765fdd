#!/usr/bin/env bash
# Builds the extension with AddressSanitizer and UndefinedBehaviorSanitizer (assertions on)
# into build/sanitize and runs the whole test suite against that build. Expects the test
# environment that scripts/test.sh creates (.venv). Extra arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/.."
. .venv/bin/activate
flags="-O1 -g -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined"
generator=$(command -v ninja >/dev/null && echo Ninja || echo "Unix Makefiles")
cmake -S . -B build/sanitize -G "$generator" -DCMAKE_BUILD_TYPE=Debug -DCORVANE_WERROR=ON \
  -DCORVANE_TEST_HOOKS=ON \
  -DPython_EXECUTABLE="$(command -v python)" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build build/sanitize -j "$(nproc)"
# The interpreter is not built with the sanitizers, so their runtimes must be loaded first.
# Its own allocations are never freed at exit, so leak reports would be about it, not us.
export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export CORVANE_SANITIZED=1
# The interpreter's own allocator would hide a read past the end of a string's buffer from
# AddressSanitizer; the system allocator gives every buffer its guard zones.
export PYTHONMALLOC=malloc
# The slow tests build Corvane again for themselves (the pre-commit hook), not this build.
scripts/with_build.sh build/sanitize python -m pytest -q -p no:cacheprovider -m "not slow" tests "$@"
