#!/usr/bin/env bash
# Checks the packaging as users meet it: `pip wheel .` gives exactly one cp310-abi3 wheel that
# holds the extension, the package and the type information, and abi3audit finds no symbol
# outside the stable ABI of Python 3.10; the sdist builds, installs into a new virtual
# environment and runs the command line there. Run inside the project's virtual environment
# (scripts/test.sh does).
set -euo pipefail
cd "$(dirname "$0")/.."
python -m pip install -q --disable-pip-version-check abi3audit build
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A build directory of its own, so the wheel is built from scratch and the shared one is left alone.
python -m pip wheel -q --disable-pip-version-check --no-deps -w "$work/wheel" \
  --config-settings=build-dir="$work/build" .
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
needed = {"_corvane.abi3.so", "_corvane-stubs/__init__.pyi", "corvane/__init__.py", "corvane/__main__.py",
          "corvane/cli.py", "corvane/py.typed"}
missing = sorted(needed - names)
if missing:
    sys.exit(f"{sys.argv[1]}: missing {', '.join(missing)}")
PY
abi3audit --strict --report "$wheel"
echo
echo "wheel: $(basename "$wheel")"

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
