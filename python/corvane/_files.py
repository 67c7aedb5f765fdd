"""Loading a file: its bytes read and decoded as UTF-8, then loaded; every error names the file
(`PATH:LINE: message`, with `path`, `line` and `message` as attributes)."""

from __future__ import annotations

import os

from _corvane import CorvaneError, ParseError, load
from corvane._native import _error_in_file
from corvane._lines import Lines, load_with_lines
from corvane._types import Value


def decode_utf8(data: bytes, path: str) -> str:
    """The text of a file's bytes; a ParseError naming the line and the byte where they stop
    being UTF-8."""
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as exc:
        line = data.count(b"\n", 0, exc.start) + 1
        raise _error_in_file(ParseError, path, line,
                             f"not valid UTF-8: {exc.reason} (byte 0x{data[exc.start]:02x})") from None


def load_text(text: str, path: str, strict: bool, yaml_1_1_bools: bool) -> Value:
    """`load` of a file's text, its errors naming the file."""
    try:
        return load(text, strict=strict, yaml_1_1_bools=yaml_1_1_bools)
    except CorvaneError as exc:
        raise _error_in_file(type(exc), path, exc.line, exc.message) from None


def load_with_lines_text(text: str, path: str, strict: bool, yaml_1_1_bools: bool) -> tuple[Value, Lines]:
    """`load_with_lines` of a file's text, its errors naming the file."""
    try:
        return load_with_lines(text, strict=strict, yaml_1_1_bools=yaml_1_1_bools)
    except CorvaneError as exc:
        raise _error_in_file(type(exc), path, exc.line, exc.message) from None


def load_file(path: str | os.PathLike[str], strict: bool = False, yaml_1_1_bools: bool = False) -> Value:
    """Loads the UTF-8 file at `path`. Errors are `load`'s, with the path in front of their text
    and in their `path` attribute; a file that cannot be read raises the usual OSError."""
    name = os.fspath(path)
    if not isinstance(name, str):
        raise TypeError(f"load_file() argument 'path' must be str or os.PathLike[str], not {type(path).__name__}")
    with open(name, "rb") as file:
        data = file.read()
    return load_text(decode_utf8(data, name), name, strict, yaml_1_1_bools)
