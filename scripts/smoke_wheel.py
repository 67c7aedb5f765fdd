"""Checks an installed Corvane as a user meets it, with the Python that runs this script: the
package and the extension import from the installation (not a source tree), a document loads
to the expected value, a syntax error carries its line, dump writes what load and
load_with_lines read back, and the `corvane` command (both the
installed script and `python -m corvane`) prints a document as JSON. Used on every Python
version in CI (scripts/check_wheel.sh) and on every release wheel (cibuildwheel)."""

import math
import os
import pathlib
import subprocess
import sys
import sysconfig

import _corvane
import corvane

DOCUMENT = """\
name: inventory-api
ports: [8080, 8443]
limits: {cpu: 1.5, memory: 2e9, ratio: -0.000001e-320, big: 1e400}
flags:
  - true
  - ~
text: |
  two
  lines
"""
EXPECTED = {
    "name": "inventory-api",
    "ports": [8080, 8443],
    "limits": {"cpu": 1.5, "memory": 2e9, "ratio": -0.0, "big": math.inf},
    "flags": [True, None],
    "text": "two\nlines\n",
}


def fail(message):
    sys.exit(f"smoke test on Python {sys.version.split()[0]}: {message}")


def main():
    site = pathlib.Path(sysconfig.get_paths()["platlib"]).resolve()
    for module in (corvane, _corvane):
        if site not in pathlib.Path(module.__file__).resolve().parents:
            fail(f"{module.__name__} imported from {module.__file__}, not from {site}")
    if corvane.load is not _corvane.load:
        fail("corvane.load is not _corvane.load")
    value = corvane.load(DOCUMENT)
    if value != EXPECTED or math.copysign(1.0, value["limits"]["ratio"]) != -1.0:
        fail(f"loaded {value!r}")
    try:
        corvane.load("a: 1\nb: [1, 2\n")
    except corvane.ParseError as error:
        if not str(error).startswith("line 2: "):
            fail(f"error message {error}")
    else:
        fail("an unclosed bracket loaded")
    written = corvane.dump(EXPECTED)
    if corvane.load(written) != EXPECTED or corvane.load_with_lines(written)[1][("text",)] != 13:
        fail(f"dump wrote {written!r}")
    if not issubclass(corvane.InternalError, BaseException) or issubclass(corvane.InternalError, Exception):
        fail("corvane.InternalError is not a BaseException of its own")
    script = pathlib.Path(sysconfig.get_paths()["scripts"]) / ("corvane.exe" if os.name == "nt" else "corvane")
    for command in ([str(script)], [sys.executable, "-m", "corvane"]):
        printed = subprocess.run(command + ["--indent", "0", "-"], input="a: [1, .inf]\n", capture_output=True,
                                 text=True, check=True).stdout.strip()
        if printed != '{"a": [1, ".inf"]}':
            fail(f"{command[0]} printed {printed!r}")
    print(f"smoke test on Python {sys.version.split()[0]}: corvane {corvane.__version__} passed")


if __name__ == "__main__":
    main()
