#!/usr/bin/env bash
# Builds Corvane with the toolchains other than the default g++ that it supports, as far as this
# machine has them, with warnings as errors:
#   clang 16 with libstdc++ and with libc++ (the extension, then the whole test suite against it;
#     libc++ 16 has no std::from_chars for double, so its build runs the own float conversion),
#   g++ with the own float conversion forced (the float tests), and the conversion and the
#     typing of floats compared with std::from_chars on random decimal texts
#     (tests/cpp/decimal_check.cpp), natively and for 32-bit x86 with x87 arithmetic,
#   MinGW-w64 (the core sources and a program around them, tests/cpp/core_main.cpp: no Windows
#     Python to link the extension against).
# Installs the Debian packages it needs when they are missing. Expects the test environment that
# scripts/test.sh creates (.venv). FLOAT_TEXTS sets the number of random texts (default 100000).
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
core=(src/text/utf8.cpp src/scalar/scalar.cpp src/flow/flow.cpp src/parser/feed/feed.cpp src/parser/scan/scan.cpp
  src/parser/block/block.cpp)

# Builds the extension modules into $root/NAME with the given compiler and flags.
build() {
  local name=$1 compiler=$2 flags=$3
  shift 3
  echo "== $name: build"
  cmake -S . -B "$root/$name" -G "$generator" -DCMAKE_BUILD_TYPE=Release -DCORVANE_WERROR=ON \
    -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$flags" -DPython_EXECUTABLE="$(command -v python)" "$@" >/dev/null
  cmake --build "$root/$name" -j 2 >/dev/null
}

# Runs pytest against the build in $root/NAME; extra arguments select the tests (the slow
# ones build Corvane again for themselves, not with this toolchain).
run_tests() {
  local name=$1
  shift
  echo "== $name: tests"
  # corvane._native lives inside the package: a copy of the package made of links to its files
  # and to this build's module takes the place of the installed one, so that both modules come
  # from the same toolchain (two C++ runtimes in one process do not mix).
  local package="$PWD/$root/$name/package"
  rm -rf "$package"
  mkdir -p "$package/corvane"
  ln -s "$PWD"/python/corvane/* "$package/corvane/"
  ln -s "$PWD/$root/$name"/_native.*so "$package/corvane/"
  PYTHONPATH="$PWD/$root/$name:$package" python -c \
    'import _corvane, corvane._native as n, sys
assert _corvane.__file__.startswith(sys.argv[1]), _corvane.__file__
assert n.__file__.startswith(sys.argv[1]), n.__file__' "$PWD/$root/$name"
  PYTHONPATH="$PWD/$root/$name:$package" python -m pytest -q -p no:cacheprovider "$@"
}

build clang16-libstdcxx clang++-16 ""
run_tests clang16-libstdcxx -m "not slow" tests

build clang16-libcxx clang++-16 "-stdlib=libc++"
run_tests clang16-libcxx -m "not slow" tests

build gcc-portable-float g++ "" -DCORVANE_PORTABLE_FLOAT=ON
run_tests gcc-portable-float tests/test_scalars.py tests/test_floats.py

for target in native x87; do
  echo "== decimal_check ($target g++, against std::from_chars)"
  flags=()
  [[ $target == x87 ]] && flags=(-m32 -mfpmath=387 -mno-sse)
  g++ -std=c++23 -O2 -Wall -Wextra -Wpedantic -Werror "${flags[@]}" -Isrc \
    tests/cpp/decimal_check.cpp src/text/utf8.cpp src/scalar/scalar.cpp -o "$root/decimal_check_$target"
  "$root/decimal_check_$target" "${FLOAT_TEXTS:-100000}"
done

echo "== mingw-w64: core and core_main.exe"
x86_64-w64-mingw32-g++ -std=c++23 -O2 -Wall -Wextra -Wpedantic -Werror -Isrc -Ifuzz -static \
  tests/cpp/core_main.cpp "${core[@]}" -o "$root/core_main.exe"
file "$root/core_main.exe" 2>/dev/null || ls -l "$root/core_main.exe"
echo "toolchains: all passed"
