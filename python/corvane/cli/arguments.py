"""The command's arguments: its three forms, the options of each, and the usage errors."""

from __future__ import annotations

import argparse
import os
import re
from collections.abc import Sequence
from typing import NoReturn

from corvane import __version__
from corvane.cli.output import print_line, report_error
from corvane.cli.problems import MESSAGE_LIMIT
from corvane.cli.report import FORMATS
from corvane.cli.schema import INSTALL_HINT, SchemaUnusable, load_schema_file

MAX_INDENT = 16
# Shown in the usage line of --help and of every usage error.
USAGE = """%(prog)s [--strict] [--yaml-1-1-bools] [--indent N] [--format F] FILE
       %(prog)s --check [--strict] [--yaml-1-1-bools] [--portable] [--schema FILE]
                       [--no-ignore] [--format F] FILE...
       %(prog)s --to-yaml [--indent N] [--format F] FILE"""


class Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:
        # argparse prints the usage of an error to standard output when standard error is
        # closed; a usage error belongs on standard error or nowhere.
        report_error(f"{self.format_usage().rstrip()}\n{self.prog}: error: {message}")
        raise SystemExit(2)


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
    parser = Parser(
        prog="corvane", add_help=False, usage=USAGE,
        description="Print a YAML file as JSON, check that YAML files load (a folder standing for "
                    "the YAML files under it), or print a JSON file as YAML.",
        epilog="NaN and infinities are written as the strings \".nan\", \".inf\" and \"-.inf\"; "
               "mapping keys that are not strings are written as JSON text (1 -> \"1\", "
               "true -> \"true\", null -> \"null\"). Exit status: 0 when every file loads, 1 "
               "when one does not or the output cannot be written, 2 for a usage error.")
    parser.add_argument("-h", "--help", action=PrintAndExit, help="show this help and exit")
    parser.add_argument("files", nargs="+", metavar="FILE",
                        help="a YAML file (a JSON file with --to-yaml), or - for standard input; "
                             "several with --check")
    parser.add_argument("--check", action="store_true",
                        help="only check that each FILE loads; report each problem (see --format). "
                             "A FILE that is a folder stands for the *.yaml and *.yml files under "
                             "it: those git would list inside a git work tree, otherwise all but "
                             "those in hidden folders (symbolic links are not followed)")
    parser.add_argument("--no-ignore", action="store_true",
                        help="with --check, a folder stands for every *.yaml and *.yml file under it; "
                             "otherwise, inside a git work tree, for those git would list (tracked "
                             "and untracked, less what .gitignore excludes)")
    parser.add_argument("--portable", action="store_true",
                        help="with --check, also report every plain value or key that YAML 1.1 "
                             "readers (PyYAML, Go's yaml.v2, many CI systems) read as another type "
                             "or value: on, NO, 012, 1:30, 2024-01-01, 1_000, 5e-5, ...")
    parser.add_argument("--schema", metavar="FILE",
                        help="with --check, also check each file that loads against this JSON Schema "
                             "(a JSON or YAML file; needs the jsonschema package: "
                             f"{INSTALL_HINT}); a file may name its own with a leading "
                             "'# yaml-language-server: $schema=PATH' comment")
    parser.add_argument("--strict", action="store_true", help="a mapping that repeats a key is an error")
    parser.add_argument("--yaml-1-1-bools", action="store_true",
                        help="read yes/no/on/off/y/n as booleans too")
    parser.add_argument("--indent", type=indent_width, metavar="N",
                        help=f"spaces per level of JSON output, 0 to {MAX_INDENT} (default 2); "
                             "0 writes one line")
    parser.add_argument("--to-yaml", action="store_true",
                        help="read FILE as JSON and print it as YAML (--indent: 2, 4, 6 or 8)")
    parser.add_argument("--format", choices=FORMATS, default=None,
                        help="how problems are reported: text (PATH:LINE: message, the default), "
                             "github (workflow commands that annotate the files; the default when "
                             "GITHUB_ACTIONS is true), json, sarif (code scanning) or gitlab (Code "
                             "Quality); with --check on standard output, otherwise on standard error")
    parser.add_argument("--version", action=PrintAndExit, help="show the version and exit")
    return parser


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
        if (args.no_ignore or args.portable or args.schema is not None) and not args.check:
            parser.error("--no-ignore, --portable and --schema apply to --check")
        args.schema_validator = None
        if args.schema is not None:
            try:
                args.schema_validator = load_schema_file(args.schema)
            except SchemaUnusable as unusable:
                parser.error(str(unusable))
        if args.check and args.indent is not None:
            parser.error("--indent applies to JSON output, not to --check")
        if not args.check and len(args.files) != 1:
            parser.error("give one FILE to print as JSON, or --check to check several")
    except SystemExit as done:
        return done.code if isinstance(done.code, int) else 1
    if args.format is None:
        args.format = "github" if os.environ.get("GITHUB_ACTIONS") == "true" else "text"
    return args
