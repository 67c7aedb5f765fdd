"""The installed type information: mypy --strict accepts the corvane package itself and a
program that uses every public name (and rejects its marked misuses), and the program runs."""

import os
import pathlib
import subprocess
import sys

import corvane

SAMPLE_DIR = pathlib.Path(__file__).resolve().parent / "typecheck"


def test_mypy_strict_passes_on_the_package_and_the_sample(tmp_path):
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path), "-p", "corvane", "-m", "sample"],
        cwd=SAMPLE_DIR, capture_output=True, text=True, timeout=600)
    assert result.returncode == 0, result.stdout + result.stderr
    # Every module of the installed package (a stub standing for its extension module), and the sample.
    package = os.path.dirname(corvane.__file__)
    modules = {os.path.join(folder, name.split(".")[0]) for folder, _, names in os.walk(package, followlinks=True)
               for name in names if name.endswith((".py", ".pyi"))}
    assert result.stdout.startswith(f"Success: no issues found in {len(modules) + 1} source files"), result.stdout


def test_sample_runs():
    result = subprocess.run([sys.executable, "sample.py"], cwd=SAMPLE_DIR, capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
