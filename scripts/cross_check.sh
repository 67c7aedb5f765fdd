#!/usr/bin/env bash
# Same results on every processor. Builds the digest driver (tests/cross/digest.cpp, the CMake
# target corvane_digest) for x86-64 with its vector path and with the portable path forced, and,
# through the toolchain files in cmake/toolchains, statically for aarch64 (NEON) and s390x
# (big-endian), which run under qemu-user. Each build first checks its byte
# searches against plain loops, then prints the digest or the error of every input under each
# of the four flag sets; every output must equal the x86-64 one.
#
# Inputs: the yaml-test-suite and the real corpus from the `shared` folder beside the
# repository (CORVANE_SHARED names another; skipped, with a note, when absent), the benchmark
# corpora of up to 1 MB and generated documents. Needs g++-aarch64-linux-gnu,
# g++-s390x-linux-gnu and qemu-user (Debian package names).
set -euo pipefail
cd "$(dirname "$0")/.."
SHARED=${CORVANE_SHARED:-$(dirname "$PWD")/shared}
OUT=build/cross
mkdir -p "$OUT"

for tool in aarch64-linux-gnu-g++ s390x-linux-gnu-g++ qemu-aarch64 qemu-s390x; do
  if ! command -v "$tool" >/dev/null; then
    echo "cross_check: $tool is missing (apt-get install g++-aarch64-linux-gnu g++-s390x-linux-gnu qemu-user)" >&2
    exit 2
  fi
done

# --- Inputs -----------------------------------------------------------------------------------
inputs=()
if [[ -d $SHARED/yaml-test-suite ]]; then
  find "$SHARED/yaml-test-suite" -name in.yaml | sort >"$OUT/suite.list"
  inputs+=("@$OUT/suite.list")
else
  echo "cross_check: skipped the yaml-test-suite ($SHARED/yaml-test-suite is absent)"
fi
if [[ -d $SHARED/corpus/real ]]; then
  find "$SHARED/corpus/real" -type f \( -name '*.yml' -o -name '*.yaml' \) | sort >"$OUT/real.list"
  inputs+=("@$OUT/real.list")
else
  echo "cross_check: skipped the real corpus ($SHARED/corpus/real is absent)"
fi
corpora=(config_1KB config_100KB config_1MB flow_long_lines deep_nesting long_block_scalars
         quoted_escapes unicode_text)
python3 bench/make_corpora.py "$OUT/corpora" "${corpora[@]}" >/dev/null
for name in "${corpora[@]}"; do inputs+=("$OUT/corpora/$name.yaml"); done
python3 tests/cross/generate.py "$OUT/generated.bin" 4000
inputs+=("%$OUT/generated.bin")

# --- Builds -----------------------------------------------------------------------------------
generator=$(command -v ninja >/dev/null && echo Ninja || echo "Unix Makefiles")
build() {  # NAME [CMAKE-ARGUMENTS...]: the digest driver, built into $OUT/NAME
  local name=$1
  shift
  cmake -S . -B "$OUT/$name" -G "$generator" -DCMAKE_BUILD_TYPE=Release -DCORVANE_WERROR=ON \
    -DCORVANE_PYTHON_MODULES=OFF -DCORVANE_CHECKS=ON "$@" >/dev/null
  cmake --build "$OUT/$name" --target corvane_digest -j 2 >/dev/null
}
build native
build portable -DCORVANE_PORTABLE_BYTES=ON
build aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
build s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/s390x-linux-gnu.cmake

# --- Runs and comparisons ---------------------------------------------------------------------
run() {  # NAME [RUNNER]
  local name=$1
  shift
  "$@" "$OUT/$name/tests/corvane_digest" --self-test "${inputs[@]}" >"$OUT/$name.out"
}
run native
run portable
run aarch64 qemu-aarch64
run s390x qemu-s390x

status=0
reference=$OUT/native.out
total=$(grep -vc '^self-test' "$reference")
echo "cross_check: $((total / 4)) inputs x 4 flag sets = $total outcomes per build," \
  "$(grep -c $'\tok ' "$reference") of them values"
for name in portable aarch64 s390x; do
  grep '^self-test' "$OUT/$name.out"
  differences=$(diff <(grep -v '^self-test' "$reference") <(grep -v '^self-test' "$OUT/$name.out") |
    grep -c '^>' || true)
  echo "cross_check: $name against $(head -1 "$reference" | sed 's/self-test (\([a-z0-9]*\)).*/\1/'):" \
    "$total compared, $differences different"
  if [[ $differences != 0 ]]; then
    diff <(grep -v '^self-test' "$reference") <(grep -v '^self-test' "$OUT/$name.out") | head -20
    status=1
  fi
done
exit $status
