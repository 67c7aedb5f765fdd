#!/usr/bin/env bash
# Builds Corvane with the toolchains other than the default g++ that it supports, as far as this
# machine has them, with warnings as errors:
#   clang 16 with libstdc++ and with libc++ (the extension, then the whole test suite against it;
#     libc++ 16 has no std::from_chars for double, so its build runs the own float conversion),
#   g++ as a wheel is built (the own float conversion, no test hooks), with the whole suite,
#   the own float conversion compared with std::from_chars on random decimal texts
#     (tests/cpp/decimal_check.cpp), the writer's own float digits with std::to_chars on random
#     doubles (tests/cpp/float_text_check.cpp) and the line index on its own
#     (tests/cpp/line_index_check.cpp), natively and for 32-bit x86 with x87 arithmetic,
#   MinGW-w64 (the core and a program around it, tests/cpp/core_main.cpp: no Windows Python to
#     link the extension against).
# Cross builds go through the toolchain files in cmake/toolchains. Installs the Debian packages
# it needs when they are missing. Expects the test environment that scripts/test.sh creates
# (.venv). FLOAT_TEXTS sets the number of random texts and doubles (default 100000).
set -euo pipefail
cd "$(dirname "$0")/.."
. .venv/bin/activate

packages=(clang-16 libc++-16-dev libc++abi-16-dev g++-mingw-w64-x86-64 g++-multilib)
missing=()
for package in "${packages[@]}"; do
  dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=$([ "$(id -u)" = 0 ] || echo sudo)
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
fi

generator=$(command -v ninja >/dev/null && echo Ninja || echo "Unix Makefiles")
root=build/toolchains

# Configures and builds $root/NAME with the given CMake arguments; extra targets after `--`.
build() {
  local name=$1
  shift
  local targets=()
  local arguments=()
  while (($#)); do
    if [[ $1 == -- ]]; then
      shift
      targets=("$@")
      break
    fi
    arguments+=("$1")
    shift
  done
  echo "== $name: build"
  cmake -S . -B "$root/$name" -G "$generator" -DCMAKE_BUILD_TYPE=Release -DCORVANE_WERROR=ON \
    -DPython_EXECUTABLE="$(command -v python)" "${arguments[@]}" >/dev/null
  cmake --build "$root/$name" -j 2 ${targets[@]:+--target "${targets[@]}"} >/dev/null
}

build clang16-libstdcxx -DCMAKE_CXX_COMPILER=clang++-16 -DCORVANE_TEST_HOOKS=ON
echo "== clang16-libstdcxx: tests"
scripts/with_build.sh "$root/clang16-libstdcxx" python -m pytest -q -p no:cacheprovider -m "not slow" tests

build clang16-libcxx -DCMAKE_CXX_COMPILER=clang++-16 -DCMAKE_CXX_FLAGS=-stdlib=libc++ \
  -DCMAKE_SHARED_LINKER_FLAGS=-stdlib=libc++ -DCORVANE_TEST_HOOKS=ON
echo "== clang16-libcxx: tests"
scripts/with_build.sh "$root/clang16-libcxx" python -m pytest -q -p no:cacheprovider -m "not slow" tests

# The build that users install: the own float conversion, as in every published wheel, and no
# test hooks, as in a wheel; the whole suite runs against it.
build shipping -DCORVANE_PORTABLE_FLOAT=ON -DCORVANE_TEST_HOOKS=OFF
echo "== shipping: tests"
scripts/with_build.sh "$root/shipping" python -m pytest -q -p no:cacheprovider -m "not slow" tests

for target in native x87; do
  toolchain=()
  [[ $target == x87 ]] && toolchain=(-DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/x86-x87.cmake)
  build "checks-$target" -DCORVANE_PYTHON_MODULES=OFF -DCORVANE_CHECKS=ON "${toolchain[@]}" \
    -- corvane_decimal_check corvane_float_text_check corvane_line_index_check
  echo "== decimal_check ($target g++, against std::from_chars)"
  "$root/checks-$target/tests/corvane_decimal_check" "${FLOAT_TEXTS:-100000}"
  echo "== float_text_check ($target g++, against std::to_chars)"
  "$root/checks-$target/tests/corvane_float_text_check" "${FLOAT_TEXTS:-100000}"
  echo "== line_index_check ($target g++)"
  "$root/checks-$target/tests/corvane_line_index_check"
done

build mingw-w64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
  -DCORVANE_PYTHON_MODULES=OFF -DCORVANE_CHECKS=ON -- corvane_core_main
file "$root/mingw-w64/tests/corvane_core_main.exe" 2>/dev/null || ls -l "$root/mingw-w64/tests/corvane_core_main.exe"
echo "toolchains: all passed"
