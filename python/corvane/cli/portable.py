"""`corvane --check --portable`: the plain scalars that YAML 1.1 readers (PyYAML, Go's yaml.v2,
Ruby's Psych, many CI systems) read as another type or value than Corvane does, each reported with
both readings and the fix: quoting a string, or writing a value as `dump` writes it."""

from __future__ import annotations

import json
from collections.abc import Iterator

from corvane import Scalar, dump
from corvane._native import _portability
from corvane.cli.problems import Problem


def written(value: Scalar) -> str:
    """A scalar as `dump` writes it: the writer's own text for it."""
    return dump(value).removesuffix("\n")


def corvane_reading(value: Scalar) -> str:
    if isinstance(value, str):
        return f"the string {json.dumps(value, ensure_ascii=False)}"
    if value is None or isinstance(value, bool):
        return written(value)
    kind = "integer" if isinstance(value, int) else "float"
    return f"the {kind} {written(value)}"


def yaml_1_1_reading(text: str, kind: str, value: Scalar) -> str:
    if kind == "str":
        return f"the string {json.dumps(text, ensure_ascii=False)}"
    if kind in ("bool", "null"):
        return written(value)
    if kind == "int":
        return f"the integer {value}" if value is not None else "an integer beyond the signed 64-bit range"
    if kind == "float":
        return f"the float {written(value)}"
    if kind == "timestamp":
        return "a timestamp" if any(mark in text for mark in " \tTt") else "a date"
    if kind == "merge":
        return "a merge key"
    return "a value indicator, which PyYAML refuses"


def portability_problems(text: str, path: str, strict: bool, yaml_1_1_bools: bool) -> Iterator[Problem]:
    for line, source, is_key, value, kind, read, rule in _portability(text, strict, yaml_1_1_bools):
        fix = "quote it" if isinstance(value, str) else f"write {written(value)}"
        if kind in ("int", "float") and not isinstance(value, str) and read is not None:
            # Both read a number: which one the author meant (a file mode written 0644 means
            # 420 to the 1.1 reader it was written for) only the author knows.
            fix += f", or {written(read)} if YAML 1.1's reading is meant"
        message = (f"{source!r} is {corvane_reading(value)} here, but YAML 1.1 readers read "
                   f"{yaml_1_1_reading(source, kind, read)}; {fix}")
        yield Problem(path, line, "portability", message)
