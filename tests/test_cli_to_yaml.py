"""`corvane --to-yaml FILE`: JSON in, YAML out through dump, with the command's error conventions."""

import json

import pytest

from conftest import load, same_value
from test_cli import run, write


def test_json_file_is_printed_as_yaml_that_loads_back(tmp_path):
    value = {"name": "api", "on": "yes", "port": 8080, "ratio": 0.5, "tags": ["a", "12"], "none": None,
             "nested": {"deep": [{"x": True}], "empty": {}}, "text": "line one\nline two\n"}
    path = write(tmp_path, "in.json", json.dumps(value))
    result = run("--to-yaml", path)
    assert (result.returncode, result.stderr) == (0, b"")
    assert result.stdout.decode() == (
        "name: api\n'on': 'yes'\nport: 8080\nratio: 0.5\ntags:\n  - a\n  - '12'\nnone: null\n"
        "nested:\n  deep:\n    - x: true\n  empty: {}\ntext: |\n  line one\n  line two\n")
    assert same_value(load(result.stdout.decode(), strict=True), value)


def test_standard_input_and_indent():
    result = run("--to-yaml", "--indent", 4, "-", stdin=b'{"a": {"b": [1, "\\u00e9"]}}')
    assert (result.returncode, result.stdout, result.stderr) == (0, "a:\n    b:\n        - 1\n        - é\n".encode(), b"")


@pytest.mark.parametrize("data, message", [
    (b'{"a": 1,\n "b": }', "<stdin>:2: not valid JSON: Expecting value"),
    (b'{"a": 1e999999, "b": 123456789012345678901234567890}',
     "<stdin>: cannot write as YAML: int outside the signed 64-bit range, which would read back as a string (at b)"),
    (b'{"a": "\xff"}', "<stdin>:1: not valid UTF-8: invalid start byte (byte 0xff)"),
])
def test_errors_name_the_file_and_line(data, message):
    result = run("--to-yaml", "-", stdin=data)
    assert (result.returncode, result.stdout, result.stderr.decode()) == (1, b"", message + "\n")


ONE_FILE = "--to-yaml takes one FILE and no other option than --indent"


@pytest.mark.parametrize("args, message", [
    (["--to-yaml", "--check", "-"], ONE_FILE), (["--to-yaml", "--strict", "-"], ONE_FILE),
    (["--to-yaml", "a", "b"], ONE_FILE), (["--to-yaml", "--indent", 3, "-"], "--indent with --to-yaml must be 2, 4, 6 or 8"),
])
def test_usage_errors(args, message):
    result = run(*args)
    assert result.returncode == 2 and result.stdout == b""
    assert result.stderr.decode().splitlines()[-1] == f"corvane: error: {message}"
