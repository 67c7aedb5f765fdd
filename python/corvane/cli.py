"""The `corvane` command: print a YAML file as JSON, or check that many files load.

    corvane [--strict] [--yaml-1-1-bools] [--indent N] FILE
    corvane --check [--strict] [--yaml-1-1-bools] FILE...
    corvane --to-yaml [--indent N] FILE

FILE `-` is standard input; with --check a FILE that is a folder stands for the *.yaml and
*.yml files under it. Problems are reported one a line as `PATH:LINE: message` (or
`PATH: message` when no line applies); exit status 0 when every file loads, 1 when one does
not or the output cannot be written, 2 for a usage error.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import re
import select
import sys
from collections.abc import Callable, Iterator, Sequence
from typing import TextIO

from corvane import CorvaneError, ParseError, Scalar, Value, __version__, dump, load
from corvane._lines import decode_utf8

STDIN = "-"
STDIN_NAME = "<stdin>"

# JSON has no NaN or infinities: they are written as strings, spelt as in YAML, so that the
# output stays valid JSON for every reader and the values stay recognisable.
NONFINITE_NAMES = {math.inf: ".inf", -math.inf: "-.inf"}
NAN_NAME = ".nan"

# Messages can embed input (the rest of a line, a key's repr) and so be megabytes long; a
# report line shows this much of one and says how much it left out.
MESSAGE_LIMIT = 300

YAML_SUFFIXES = (".yaml", ".yml")
# Output is handed to the system in blocks of about this many characters.
OUTPUT_BLOCK = 1 << 16
MAX_INDENT = 16
NOT_ENOUGH_MEMORY = "not enough memory"


class Problem(Exception):
    """Why a file could not be loaded or written, with the line it concerns when there is one."""

    def __init__(self, message: str, line: int | None = None) -> None:
        super().__init__(message)
        self.message = message
        self.line = line

    def report(self, name: str) -> str:
        where = name if self.line is None else f"{name}:{self.line}"
        message = self.message
        if len(message) > MESSAGE_LIMIT:
            left_out = len(message) - MESSAGE_LIMIT
            message = f"{message[:MESSAGE_LIMIT]}... ({left_out} more character{'s' * (left_out != 1)})"
        return f"{where}: {message}"


class OutputError(Exception):
    """Standard output cannot be written (closed, or the disk is full); a reader that left
    early is a BrokenPipeError instead, which ends the command quietly."""


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
    except MemoryError:
        raise Problem(f"cannot read: {NOT_ENOUGH_MEMORY}") from None
    try:
        return decode_utf8(data, display_name(path))
    except MemoryError:
        raise Problem(f"cannot read: {NOT_ENOUGH_MEMORY}") from None
    except ParseError as exc:
        raise Problem(exc.message, exc.line) from None


def load_file(path: str, strict: bool, yaml_1_1_bools: bool) -> Value:
    text = read_text(path)
    try:
        return load(text, strict=strict, yaml_1_1_bools=yaml_1_1_bools)
    except MemoryError:
        raise Problem(f"cannot load: {NOT_ENOUGH_MEMORY}") from None
    except CorvaneError as exc:
        raise Problem(exc.message, exc.line) from None
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as exc:
        # The loader's internal error (the interpreter could not build the value, as when
        # memory runs out) derives from BaseException so that programs do not swallow it; the
        # command reports it as one more problem with the file.
        raise Problem(f"cannot load: {exc}") from None


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


def json_keys(mapping: dict[Scalar, Value]) -> list[str]:
    """The keys as JSON strings; two keys that become the same string (1 and '1') cannot both
    be written, and silently keeping one would lose data."""
    keys = [key if isinstance(key, str) else plain_text(key) for key in mapping]
    if len(set(keys)) != len(keys):
        first_by_text: dict[str, Scalar] = {}
        for original, text in zip(mapping, keys):
            if text in first_by_text:
                raise Problem(f"cannot write as JSON: the keys {first_by_text[text]!r} and "
                              f"{original!r} both become {json.dumps(text, ensure_ascii=False)}")
            first_by_text[text] = original
    return keys


def check_json_keys(value: Value) -> None:
    """Raises the Problem of the first mapping, in document order, whose keys cannot all be
    written; run before anything is written, so that a refused value leaves no partial output."""
    stack: list[Iterator[Value]] = [iter((value,))]
    while stack:
        for item in stack[-1]:
            if isinstance(item, dict):
                json_keys(item)
                stack.append(iter(item.values()))
                break
            if isinstance(item, list):
                stack.append(iter(item))
                break
        else:
            stack.pop()


def json_members(mapping: dict[Scalar, Value]) -> Iterator[tuple[str | None, Value]]:
    return zip(json_keys(mapping), mapping.values())


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


def wait_until_writable(fd: int) -> None:
    # A non-blocking descriptor (shared with a parent that set it so) that is full: sleep until
    # the reader has taken some, rather than retrying at once.
    select.select([], [fd], [])


def write_all(fd: int, data: bytes) -> None:
    view = memoryview(data)
    while view:
        try:
            written = os.write(fd, view)
        except BlockingIOError:
            written = 0
        if written:
            view = view[written:]
        else:
            wait_until_writable(fd)


class Output:
    """Text for standard output or standard error, encoded as UTF-8 whatever the locale and
    written to the descriptor in blocks as it is produced, so memory stays bounded whatever
    the output's size."""

    def __init__(self, stream: TextIO | None, name: str) -> None:
        self.stream = stream
        self.name = name
        self.pending: list[str] = []
        self.size = 0

    def write(self, text: str) -> None:
        self.pending.append(text)
        self.size += len(text)
        if self.size >= OUTPUT_BLOCK:
            self.flush()

    def write_line(self, text: str) -> None:
        self.write(text + "\n")
        self.flush()

    def flush(self) -> None:
        # surrogateescape gives back the undecodable bytes of paths.
        data = "".join(self.pending).encode("utf-8", "surrogateescape")
        self.pending.clear()
        self.size = 0
        if self.stream is None:
            raise OutputError(f"cannot write to {self.name}: it is closed")
        try:
            fd = self.stream.fileno()
        except (AttributeError, OSError, ValueError):
            fd = None  # a replaced stream without a descriptor, as under a test runner
        try:
            if fd is None:
                self.stream.write(data.decode("utf-8", "surrogateescape"))
            else:
                # Whatever the stream holds goes first; then its descriptor is written directly.
                self.stream.flush()
                write_all(fd, data)
        except BrokenPipeError:
            raise
        except OSError as exc:
            raise OutputError(f"cannot write to {self.name}: {exc.strerror or exc}") from None


def report_error(text: str) -> None:
    """One line on standard error, as well as it can be written: a failure here has nowhere
    left to be reported, and the exit status already says that something went wrong."""
    try:
        Output(sys.stderr, "standard error").write_line(text)
    except (OutputError, OSError):
        pass


def quiet_standard_output() -> None:
    # Whatever is left in the interpreter's own stdout buffer must not fail again at exit.
    try:
        os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
    except OSError:
        pass


def writing_output(work: Callable[[], int]) -> int:
    """Runs `work`, which writes to standard output; the exit status: `work`'s, or 1 when
    writing failed."""
    try:
        return work()
    except BrokenPipeError:
        # The reader left early (`corvane big.yaml | head`): end quietly like other filters.
        quiet_standard_output()
        return 1
    except OutputError as error:
        report_error(f"corvane: {error}")
        quiet_standard_output()
        return 1


def print_line(text: str) -> int:
    """Writes one line to standard output; the exit status: 1 when that fails."""
    def write() -> int:
        Output(sys.stdout, "standard output").write_line(text)
        return 0
    return writing_output(write)


class PrintAndExit(argparse.Action):
    """--help and --version: argparse's own actions ignore a failed write."""

    def __init__(self, option_strings: Sequence[str], dest: str, help: str) -> None:
        super().__init__(option_strings, dest, nargs=0, help=help)

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace,
                 values: object, option_string: str | None = None) -> None:
        text = f"{parser.prog} {__version__}" if option_string == "--version" else parser.format_help()
        parser.exit(print_line(text.rstrip("\n")))


def indent_width(text: str) -> int:
    # Only ASCII digits: int() would also take "1_0", "３" and " 3".
    if re.fullmatch(r"[0-9]{1,3}", text) is None or int(text) > MAX_INDENT:
        raise argparse.ArgumentTypeError(f"expected a number of spaces from 0 to {MAX_INDENT}, "
                                         f"not {text[:MESSAGE_LIMIT]!r}")
    return int(text)


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="corvane", add_help=False,
        description="Load a YAML file with Corvane and print it as JSON, or check that files load.",
        epilog="NaN and infinities are written as the strings \".nan\", \".inf\" and \"-.inf\"; "
               "mapping keys that are not strings are written as JSON text (1 -> \"1\", "
               "true -> \"true\", null -> \"null\"). Exit status: 0 when every file loads, 1 "
               "when one does not or the output cannot be written, 2 for a usage error.")
    parser.add_argument("-h", "--help", action=PrintAndExit, help="show this help and exit")
    parser.add_argument("files", nargs="+", metavar="FILE", help="a YAML file, or - for standard input")
    parser.add_argument("--check", action="store_true",
                        help="only check that each FILE loads; print PATH:LINE: message for each "
                             "one that does not. A FILE that is a folder stands for the *.yaml "
                             "and *.yml files under it (hidden folders and symbolic links left "
                             "out)")
    parser.add_argument("--strict", action="store_true", help="a mapping that repeats a key is an error")
    parser.add_argument("--yaml-1-1-bools", action="store_true",
                        help="read yes/no/on/off/y/n as booleans too")
    parser.add_argument("--indent", type=indent_width, metavar="N",
                        help=f"spaces per level of JSON output, 0 to {MAX_INDENT} (default 2); "
                             "0 writes one line")
    parser.add_argument("--to-yaml", action="store_true",
                        help="read FILE as JSON and print it as YAML (--indent: 2, 4, 6 or 8)")
    parser.add_argument("--version", action=PrintAndExit, help="show the version and exit")
    return parser


def folder_listing(path: str) -> list[os.DirEntry[str]]:
    try:
        with os.scandir(path) as entries:
            return sorted(entries, key=lambda entry: entry.name)
    except OSError as exc:
        raise Problem(f"cannot read: {exc.strerror or exc}") from None


def yaml_files_under(folder: str) -> Iterator[tuple[str, Problem | None]]:
    """The *.yaml and *.yml files under `folder`, depth first in name order, with a problem for
    each folder that cannot be listed. Symbolic links are not followed and hidden folders
    (.git, .venv) are skipped: only a folder named on the command line is walked whatever
    its name."""
    try:
        stack = [iter(folder_listing(folder))]
    except Problem as problem:
        yield folder, problem
        return
    while stack:
        entry = next(stack[-1], None)
        if entry is None:
            stack.pop()
        elif entry.is_symlink():
            continue
        elif entry.is_dir(follow_symlinks=False):
            if entry.name.startswith("."):
                continue
            try:
                stack.append(iter(folder_listing(entry.path)))
            except Problem as problem:
                yield entry.path, problem
        elif entry.name.endswith(YAML_SUFFIXES) and entry.is_file(follow_symlinks=False):
            yield entry.path, None


def files_to_check(paths: Sequence[str]) -> Iterator[tuple[str, Problem | None]]:
    for path in paths:
        if path != STDIN and os.path.isdir(path):
            yield from yaml_files_under(path)
        else:
            yield path, None


def check(paths: Sequence[str], strict: bool, yaml_1_1_bools: bool, out: Output) -> int:
    failed = False
    for path, problem in files_to_check(paths):
        if problem is None:
            try:
                load_file(path, strict, yaml_1_1_bools)
            except Problem as found:
                problem = found
        if problem is not None:
            out.write_line(problem.report(display_name(path)))
            failed = True
    return 1 if failed else 0


def print_json(path: str, strict: bool, yaml_1_1_bools: bool, indent: int, out: Output) -> int:
    try:
        value = load_file(path, strict, yaml_1_1_bools)
        check_json_keys(value)
    except Problem as problem:
        report_error(problem.report(display_name(path)))
        return 1
    for chunk in json_chunks(value, indent):
        out.write(chunk)
    out.write_line("")
    return 0


def print_yaml(path: str, indent: int, out: Output) -> int:
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
        report_error(problem.report(display_name(path)))
        return 1
    out.write_line(text.removesuffix("\n"))
    return 0


def parse_arguments(argv: Sequence[str] | None) -> argparse.Namespace | int:
    """The arguments, or the exit status when argparse is done (usage error, --help, --version)."""
    parser = build_parser()
    try:
        args = parser.parse_args(argv)
        if args.to_yaml:
            if args.check or args.strict or args.yaml_1_1_bools or len(args.files) != 1:
                parser.error("--to-yaml takes one FILE and no other option than --indent")
            if args.indent is not None and args.indent not in (2, 4, 6, 8):
                parser.error("--indent with --to-yaml must be 2, 4, 6 or 8")
        if args.check and args.indent is not None:
            parser.error("--indent applies to JSON output, not to --check")
        if not args.check and len(args.files) != 1:
            parser.error("give one FILE to print as JSON, or --check to check several")
    except SystemExit as done:
        return done.code if isinstance(done.code, int) else 1
    return args


def main(argv: Sequence[str] | None = None) -> int:
    args = parse_arguments(argv)
    if isinstance(args, int):
        return args
    out = Output(sys.stdout, "standard output")
    indent = 2 if args.indent is None else args.indent

    def run() -> int:
        if args.to_yaml:
            return print_yaml(args.files[0], indent, out)
        if args.check:
            return check(args.files, args.strict, args.yaml_1_1_bools, out)
        return print_json(args.files[0], args.strict, args.yaml_1_1_bools, indent, out)
    try:
        return writing_output(run)
    except MemoryError:
        report_error(f"corvane: {NOT_ENOUGH_MEMORY}")
        return 1
    except KeyboardInterrupt:
        return 130
