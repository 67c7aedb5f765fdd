"""A program that uses every public name of corvane and _corvane; tests/test_typing.py checks
it with `mypy --strict` and runs it. Each `type: ignore` marks a misuse the stubs must catch:
mypy --strict reports an ignore that is not needed, so a stub that accepted it fails the check."""

import os
import pathlib
from collections import deque
from collections.abc import Mapping, Sequence

from typing_extensions import assert_type

import _corvane
import corvane
from corvane.cli import main


def setting(config: corvane.Value, *path: str) -> corvane.Value:
    for key in path:
        if not isinstance(config, dict):
            raise LookupError(key)
        config = config[key]
    return config


def port(config: corvane.Value) -> int:
    value = setting(config, "service", "port")
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"port must be an integer, not {value!r}")
    return value


def first_problem(documents: Sequence[str]) -> str | None:
    for document in documents:
        try:
            corvane.load(document, strict=True, yaml_1_1_bools=False)
        except corvane.UnsupportedFeatureError as exc:
            return f"unsupported: {exc}"
        except corvane.ParseError as exc:
            return f"invalid: {exc.args[0]}"
    return None


config = corvane.load("service:\n  port: 8080\n  hosts: [a, b]\n  flags: {x: on}\n")
assert_type(config, corvane.Value)
assert_type(_corvane.load("a: 1", True, yaml_1_1_bools=True), corvane.Value)
keys: list[corvane.Scalar] = [None, True, 1, 1.5, "k"]
hosts = setting(config, "service", "hosts")
assert isinstance(hosts, list) and [host for host in hosts if isinstance(host, str)] == ["a", "b"]
assert port(config) == 8080
written: str = corvane.dump(config, indent=4, sort_keys=True)
assert corvane.load(written) == config
assert first_problem(["a: 1", "b: &x 1"]) == "unsupported: line 1: Anchors are not supported in Corvane"
assert first_problem(["a: 1\na: 2"]) == "invalid: line 2: Duplicate key: 'a'"
error: corvane.CorvaneError = corvane.ParseError("line 1: x")
base: ValueError = _corvane.UnsupportedFeatureError("line 1: y")
assert isinstance(error, ValueError) and isinstance(base, _corvane.CorvaneError)
version: str = corvane.__version__
names: list[str] = corvane.__all__ + _corvane.__all__
assert main(["--check", os.devnull]) == 0

value, lines = corvane.load_with_lines("a:\n  - 1\n", strict=False, yaml_1_1_bools=False)
assert_type(value, corvane.Value)
assert_type(lines, corvane.Lines)
where: Mapping[corvane.Path, int] = lines
assert lines[("a", 0)] == 2 and lines.find(("a", 5)) == 1 and dict(where) == {(): 1, ("a",): 1, ("a", 0): 2}
assert lines.find(["a", 0]) == lines.find(deque(("a", 0))) == 2
try:
    corvane.load("a: 1\nb: &x 2")
except corvane.CorvaneError as exc:
    line: int = exc.line
    message: str = exc.message
    path: str | None = exc.path
    assert (line, message, path) == (2, "Anchors are not supported in Corvane", None)
file_value: corvane.Value = corvane.load_file(pathlib.Path(os.devnull), strict=True)
assert corvane.load_file(os.devnull) is None and file_value is None


def misuses() -> None:  # checked, never called
    corvane.load(b"a: 1")  # type: ignore[arg-type]
    corvane.load("a: 1", strict="yes")  # type: ignore[arg-type]
    corvane.load("a: 1", flags=0)  # type: ignore[call-arg]
    count: int = corvane.load("1")  # type: ignore[assignment]
    text: str = setting(config)  # type: ignore[assignment]
    corvane.ParseError("line 1: x").lineno  # type: ignore[attr-defined]
    corvane.ParseError("line 1: x").line = 2  # type: ignore[misc]
    corvane.load_with_lines("a", strict=None)  # type: ignore[arg-type]
    lines[("a",)] = 3  # type: ignore[index]
    lines.find({"a": 0})  # type: ignore[arg-type]
    corvane.load_file(b"x.yaml")  # type: ignore[arg-type]
    status: str = main([])  # type: ignore[assignment]
    size: int = corvane.dump(config)  # type: ignore[assignment]
    corvane.dump(config, 4)  # type: ignore[call-arg]
