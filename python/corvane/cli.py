"""The `corvane` command: print a YAML file as JSON, or check that many files load.

    corvane [--strict] [--yaml-1-1-bools] [--indent N] FILE
    corvane --check [--strict] [--yaml-1-1-bools] FILE...
    corvane --to-yaml [--indent N] FILE

FILE `-` is standard input. Problems are reported one a line as `PATH:LINE: message` (or
`PATH: message` when no line applies); exit status 0 when every file loads, 1 when one does
not, 2 for a usage error.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import re
import sys
from collections.abc import Iterator, Sequence
from typing import BinaryIO

from corvane import CorvaneError, Scalar, Value, __version__, dump, load

STDIN = "-"
STDIN_NAME = "<stdin>"

# JSON has no NaN or infinities: they are written as strings, spelt as in YAML, so that the
# output stays valid JSON for every reader and the values stay recognisable.
NONFINITE_NAMES = {math.inf: ".inf", -math.inf: "-.inf"}
NAN_NAME = ".nan"

CORVANE_MESSAGE = re.compile(r"line (\d+): (.*)", re.DOTALL)


class Problem(Exception):
    """Why a file could not be loaded or written, with the line it concerns when there is one."""

    def __init__(self, message: str, line: int | None = None) -> None:
        super().__init__(message)
        self.message = message
        self.line = line

    def report(self, name: str) -> str:
        where = name if self.line is None else f"{name}:{self.line}"
        return f"{where}: {self.message}"


def display_name(path: str) -> str:
    return STDIN_NAME if path == STDIN else path


def read_text(path: str) -> str:
    """The file's text, decoded as UTF-8 without newline translation (load handles CR LF)."""
    try:
        if path == STDIN:
            if sys.stdin is None:
                raise Problem("cannot read: standard input is closed")
            data = sys.stdin.buffer.read()
        else:
            with open(path, "rb") as file:
                data = file.read()
    except OSError as exc:
        raise Problem(f"cannot read: {exc.strerror or exc}") from None
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as exc:
        line = data.count(b"\n", 0, exc.start) + 1
        raise Problem(f"not valid UTF-8: {exc.reason} (byte 0x{data[exc.start]:02x})", line) from None


def load_file(path: str, strict: bool, yaml_1_1_bools: bool) -> Value:
    text = read_text(path)
    try:
        return load(text, strict=strict, yaml_1_1_bools=yaml_1_1_bools)
    except CorvaneError as exc:
        match = CORVANE_MESSAGE.fullmatch(str(exc))
        if match is None:
            raise Problem(str(exc)) from None
        raise Problem(match.group(2), int(match.group(1))) from None


def plain_text(value: bool | int | float | None) -> str:
    """A non-string scalar as JSON writes it, and as it appears when used as a mapping key."""
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float) and not math.isfinite(value):
        return NAN_NAME if math.isnan(value) else NONFINITE_NAMES[value]
    return repr(value)


def scalar_json(value: Scalar | dict[Scalar, Value] | list[Value]) -> str:
    """JSON for a scalar or an empty collection."""
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=False)
    if isinstance(value, dict):
        return "{}"
    if isinstance(value, list):
        return "[]"
    if isinstance(value, float) and not math.isfinite(value):
        return json.dumps(plain_text(value))
    return plain_text(value)


def json_members(mapping: dict[Scalar, Value]) -> Iterator[tuple[str | None, Value]]:
    """The members with their keys as JSON strings; two keys that become the same string (1 and
    '1') cannot both be written, and silently keeping one would lose data."""
    keys = [key if isinstance(key, str) else plain_text(key) for key in mapping]
    if len(set(keys)) != len(keys):
        first_by_text: dict[str, Scalar] = {}
        for original, text in zip(mapping, keys):
            if text in first_by_text:
                raise Problem(f"cannot write as JSON: the keys {first_by_text[text]!r} and "
                              f"{original!r} both become {json.dumps(text, ensure_ascii=False)}")
            first_by_text[text] = original
    return zip(keys, mapping.values())


class OpenContainer:
    __slots__ = ("items", "closing", "written")

    def __init__(self, items: Iterator[tuple[str | None, Value]], closing: str) -> None:
        self.items = items  # (key, value) pairs; the key is None in a list
        self.closing = closing
        self.written = 0


def json_chunks(value: Value, indent: int) -> Iterator[str]:
    """The text json.dumps(value, ensure_ascii=False, indent=indent or None) gives for finite
    values, built without recursion so that any nesting depth load accepts can be written."""
    item_separator = "," if indent else ", "

    def line_break(depth: int) -> str:
        return "\n" + " " * (indent * depth) if indent else ""

    stack: list[OpenContainer] = []
    pending: Value = value
    while True:
        if isinstance(pending, dict) and pending:
            yield "{"
            stack.append(OpenContainer(json_members(pending), "}"))
        elif isinstance(pending, list) and pending:
            yield "["
            stack.append(OpenContainer(((None, item) for item in pending), "]"))
        else:
            yield scalar_json(pending)
        # Close the containers whose items are all written, up to one with an item left.
        while stack:
            container = stack[-1]
            member = next(container.items, None)
            if member is None:
                stack.pop()
                yield line_break(len(stack)) + container.closing
                continue
            key, pending = member
            yield (item_separator if container.written else "") + line_break(len(stack))
            if key is not None:
                yield json.dumps(key, ensure_ascii=False) + ": "
            container.written += 1
            break
        else:
            return


def write_line(stream: BinaryIO, text: str) -> None:
    # Always UTF-8 whatever the locale; surrogateescape gives back undecodable bytes of paths.
    data = memoryview(text.encode("utf-8", "surrogateescape") + b"\n")
    # Under `python -u` the stream is unbuffered and one write may take only part of the data.
    while data:
        data = data[stream.write(data) or 0:]
    stream.flush()


def indent_width(text: str) -> int:
    try:
        width = int(text)
    except ValueError:
        width = -1
    if width < 0:
        raise argparse.ArgumentTypeError(f"expected a whole number of spaces, 0 or more, not {text!r}")
    return width


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="corvane",
        description="Load a YAML file with Corvane and print it as JSON, or check that files load.",
        epilog="NaN and infinities are written as the strings \".nan\", \".inf\" and \"-.inf\"; "
               "mapping keys that are not strings are written as JSON text (1 -> \"1\", "
               "true -> \"true\", null -> \"null\"). Exit status: 0 when every file loads, 1 "
               "when one does not, 2 for a usage error.")
    parser.add_argument("files", nargs="+", metavar="FILE", help="a YAML file, or - for standard input")
    parser.add_argument("--check", action="store_true",
                        help="only check that each FILE loads; print PATH:LINE: message for each "
                             "one that does not")
    parser.add_argument("--strict", action="store_true", help="a mapping that repeats a key is an error")
    parser.add_argument("--yaml-1-1-bools", action="store_true",
                        help="read yes/no/on/off/y/n as booleans too")
    parser.add_argument("--indent", type=indent_width, metavar="N",
                        help="spaces per level of JSON output (default 2); 0 writes one line")
    parser.add_argument("--to-yaml", action="store_true",
                        help="read FILE as JSON and print it as YAML (--indent: 2, 4, 6 or 8)")
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    return parser


def check(paths: Sequence[str], strict: bool, yaml_1_1_bools: bool) -> int:
    failed = False
    for path in paths:
        try:
            load_file(path, strict, yaml_1_1_bools)
        except Problem as problem:
            write_line(sys.stdout.buffer, problem.report(display_name(path)))
            failed = True
    return 1 if failed else 0


def print_json(path: str, strict: bool, yaml_1_1_bools: bool, indent: int) -> int:
    try:
        text = "".join(json_chunks(load_file(path, strict, yaml_1_1_bools), indent))
    except Problem as problem:
        write_line(sys.stderr.buffer, problem.report(display_name(path)))
        return 1
    write_line(sys.stdout.buffer, text)
    return 0


def print_yaml(path: str, indent: int) -> int:
    """The JSON file `path` written as YAML by dump, which load reads back as the same value."""
    try:
        try:
            value = json.loads(read_text(path))
        except json.JSONDecodeError as exc:
            raise Problem(f"not valid JSON: {exc.msg}", exc.lineno) from None
        except RecursionError:
            raise Problem("cannot read: JSON nested too deeply for the json module") from None
        try:
            text = dump(value, indent=indent)
        except ValueError as exc:
            raise Problem(f"cannot write as YAML: {exc}") from None
    except Problem as problem:
        write_line(sys.stderr.buffer, problem.report(display_name(path)))
        return 1
    write_line(sys.stdout.buffer, text.removesuffix("\n"))
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.to_yaml:
        if args.check or args.strict or args.yaml_1_1_bools or len(args.files) != 1:
            parser.error("--to-yaml takes one FILE and no other option than --indent")
        if args.indent is not None and args.indent not in (2, 4, 6, 8):
            parser.error("--indent with --to-yaml must be 2, 4, 6 or 8")
        try:
            return print_yaml(args.files[0], 2 if args.indent is None else args.indent)
        except BrokenPipeError:
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
            return 1
    if args.check and args.indent is not None:
        parser.error("--indent applies to JSON output, not to --check")
    if not args.check and len(args.files) != 1:
        parser.error("give one FILE to print as JSON, or --check to check several")
    try:
        if args.check:
            return check(args.files, args.strict, args.yaml_1_1_bools)
        indent = 2 if args.indent is None else args.indent
        return print_json(args.files[0], args.strict, args.yaml_1_1_bools, indent)
    except BrokenPipeError:
        # The reader left early (`corvane big.yaml | head`): end quietly like other filters, and
        # point stdout at /dev/null so the interpreter's final flush does not fail again.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except KeyboardInterrupt:
        return 130
