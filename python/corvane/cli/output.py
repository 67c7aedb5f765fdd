"""Writing the command's output: text encoded as UTF-8 whatever the locale, handed to the
descriptor in blocks as it is produced, and the exit status when writing fails."""

from __future__ import annotations

import os
import select
import sys
from collections.abc import Callable
from typing import TextIO

# Output is handed to the system in blocks of about this many characters.
OUTPUT_BLOCK = 1 << 16


class OutputError(Exception):
    """Standard output cannot be written (closed, or the disk is full); a reader that left
    early is a BrokenPipeError instead, which ends the command quietly."""


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

    def write_bytes(self, data: bytes) -> None:
        """UTF-8 text already encoded, written after whatever text is pending, at once: the
        blocks of the JSON writer are of about OUTPUT_BLOCK bytes."""
        if self.pending:
            self.flush()
        self.send(data)

    def flush(self) -> None:
        # surrogateescape gives back the undecodable bytes of paths.
        data = "".join(self.pending).encode("utf-8", "surrogateescape")
        self.pending.clear()
        self.size = 0
        self.send(data)

    def send(self, data: bytes) -> None:
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
