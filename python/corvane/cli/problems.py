"""What the command reports: one problem with a file (its path, its line when one applies, what
kind of problem it is and the message), made from the error that found it, and its report line."""

from __future__ import annotations

from typing import NamedTuple

from corvane import CorvaneError, UnsupportedFeatureError

# Messages can embed input (the rest of a line, a key's repr) and so be megabytes long; a
# report line shows this much of one and says how much it left out.
MESSAGE_LIMIT = 300


# Each kind of problem, with the name and description a SARIF rule gives it.
KINDS = {
    "syntax": ("InvalidYaml", "The file is not valid in the YAML that Corvane reads."),
    "unsupported": ("UnsupportedFeature", "The file uses a YAML feature that Corvane leaves out."),
    "duplicate-key": ("DuplicateKey", "A mapping repeats a key."),
    "schema": ("SchemaViolation", "A value does not match the JSON Schema."),
    "portability": ("ReadDifferently", "A plain value that YAML 1.1 readers read as another type or value."),
    "file": ("UnreadableFile", "The file cannot be read or loaded as a whole."),
}


class Problem(NamedTuple):
    path: str
    line: int | None  # None for a problem with the whole file
    kind: str  # one of KINDS
    message: str

    @classmethod
    def of_error(cls, path: str, error: CorvaneError) -> Problem:
        if isinstance(error, UnsupportedFeatureError):
            kind = "unsupported"
        elif error.message.startswith("Duplicate key"):
            # The strict loads' one refusal of a well-formed document.
            kind = "duplicate-key"
        else:
            kind = "syntax"
        return cls(path, error.line, kind, error.message)

    @classmethod
    def with_file(cls, path: str, message: str) -> Problem:
        return cls(path, None, "file", message)


class Failed(Exception):
    """Carries the problem that ends the work on one file."""

    def __init__(self, problem: Problem) -> None:
        super().__init__(problem.message)
        self.problem = problem


def shortened(message: str) -> str:
    if len(message) <= MESSAGE_LIMIT:
        return message
    left_out = len(message) - MESSAGE_LIMIT
    return f"{message[:MESSAGE_LIMIT]}... ({left_out} more character{'s' * (left_out != 1)})"


# Control characters in a file name would break its report line (a line feed) or the terminal;
# they are shown escaped. Bytes that are not UTF-8 stay as they are, written back as those bytes.
CONTROL_ESCAPES = {code: f"\\x{code:02x}" for code in [*range(0x20), 0x7F]} | {
    ord("\t"): "\\t", ord("\n"): "\\n", ord("\r"): "\\r"}


def shown_path(path: str) -> str:
    return path.translate(CONTROL_ESCAPES)


def report_line(problem: Problem) -> str:
    """`PATH:LINE: message`, or `PATH: message` when no line applies: the form compilers and
    linters use, which editors and CI annotators jump from."""
    path = shown_path(problem.path)
    where = path if problem.line is None else f"{path}:{problem.line}"
    return f"{where}: {shortened(problem.message)}"
