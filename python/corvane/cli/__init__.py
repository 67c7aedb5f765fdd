"""The `corvane` command: print a YAML file as JSON, check that many files load, or print a JSON
file as YAML.

    corvane [--strict] [--yaml-1-1-bools] [--indent N] FILE
    corvane --check [--strict] [--yaml-1-1-bools] FILE...
    corvane --to-yaml [--indent N] FILE

FILE `-` is standard input; with --check a FILE that is a folder stands for the *.yaml and
*.yml files under it. Problems are reported one a line as `PATH:LINE: message` (or
`PATH: message` when no line applies); exit status 0 when every file loads, 1 when one does
not or the output cannot be written, 2 for a usage error.

The parts: `arguments` (the three forms and their options), `files` (reading, loading and the
folder walk), `problems` (what is reported), `json_text` and `output` (what is written).
"""

from __future__ import annotations

import json
import sys
from collections.abc import Sequence

from corvane import dump
from corvane.cli.arguments import parse_arguments
from corvane.cli.check import Checker
from corvane.cli.files import NOT_ENOUGH_MEMORY, display_name, load_path, read_text
from corvane.cli.json_text import KeyClash, write_json
from corvane.cli.output import Output, report_error, writing_output
from corvane.cli.problems import Failed, Problem
from corvane.cli.report import Report


def report_failure(problem: Problem, format: str) -> None:
    """The problem that ends a command on one file, on standard error."""
    report = Report(format, report_error)
    report.files_checked = report.files_failed = 1
    report.add(problem)
    report.finish()


def print_json(path: str, strict: bool, yaml_1_1_bools: bool, indent: int, format: str, out: Output) -> int:
    try:
        value = load_path(path, strict, yaml_1_1_bools)
        try:
            write_json(value, indent, out)
        except KeyClash as clash:
            # Raised before anything is written.
            raise Failed(Problem.with_file(display_name(path), str(clash))) from None
    except Failed as failure:
        report_failure(failure.problem, format)
        return 1
    out.write_line("")
    return 0


# JSON allows no leading zeros, so an integer of more digits than this is outside the signed
# 64-bit range that dump writes; Python would also refuse to read one of over 4300 digits.
LONGEST_INT = len(str(-(1 << 63)))


def json_int(text: str) -> int:
    """An int of the JSON text, or, for one too long to write, one that dump refuses just the same."""
    return int(text) if len(text) <= LONGEST_INT else 1 << 64


def print_yaml(path: str, indent: int, format: str, out: Output) -> int:
    """The JSON file `path` written as YAML by dump, which load reads back as the same value."""
    name = display_name(path)
    try:
        try:
            # A byte order mark is allowed before JSON as before YAML.
            value = json.loads(read_text(path).removeprefix("\ufeff"), parse_int=json_int)
        except json.JSONDecodeError as exc:
            raise Failed(Problem(name, exc.lineno, "syntax", f"not valid JSON: {exc.msg}")) from None
        except RecursionError:
            raise Failed(Problem.with_file(name, "cannot read: JSON nested too deeply for the json module")) from None
        try:
            text = dump(value, indent=indent)
        except ValueError as exc:
            raise Failed(Problem.with_file(name, f"cannot write as YAML: {exc}")) from None
    except Failed as failure:
        report_failure(failure.problem, format)
        return 1
    out.write_line(text.removesuffix("\n"))
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    args = parse_arguments(argv)
    if isinstance(args, int):
        return args
    out = Output(sys.stdout, "standard output")
    indent = 2 if args.indent is None else args.indent

    def run() -> int:
        if args.to_yaml:
            return print_yaml(args.files[0], indent, args.format, out)
        if args.check:
            checker = Checker(Report(args.format, out.write_line), args.strict, args.yaml_1_1_bools,
                              args.portable, args.schema_validator)
            return checker.run(args.files, not args.no_ignore)
        return print_json(args.files[0], args.strict, args.yaml_1_1_bools, indent, args.format, out)
    try:
        return writing_output(run)
    except MemoryError:
        report_error(f"corvane: {NOT_ENOUGH_MEMORY}")
        return 1
    except KeyboardInterrupt:
        return 130
