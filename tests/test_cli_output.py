"""The command line when writing fails or memory is short: one line on standard error (none
for a reader that left early) and a non-zero exit status, never a traceback, never a spin."""

import fcntl
import os
import pathlib
import resource
import select
import subprocess
import sys
import termios

import pytest

EXAMPLE = pathlib.Path(__file__).resolve().parents[1] / "examples" / "service.yaml"
CORVANE = [sys.executable, "-m", "corvane"]
# Under AddressSanitizer an address-space limit leaves no room for the shadow memory.
SANITIZED = os.environ.get("CORVANE_SANITIZED") == "1"
MB = 1 << 20
CLOSED = "corvane: cannot write to standard output: it is closed\n"
FULL = "corvane: cannot write to standard output: No space left on device\n"


def run(args, stdout=subprocess.PIPE, stdin=b"", wrapper=(), **options):
    return subprocess.run([*wrapper, *CORVANE, *map(str, args)], input=stdin, stdout=stdout,
                          stderr=subprocess.PIPE, timeout=300, **options)


def close_stdout_then(*command):
    return ("sh", "-c", 'exec "$@" >&-', "sh", *command)


def limit_memory(size):
    def apply():
        resource.setrlimit(resource.RLIMIT_AS, (size, size))
    return apply


@pytest.fixture
def bad_file(tmp_path):
    path = tmp_path / "bad.yaml"
    path.write_text("a: &x 1\n")
    return path


@pytest.mark.parametrize("args, status, stderr", [
    pytest.param([EXAMPLE], 1, CLOSED, id="json"),
    pytest.param(["--check", "BAD"], 1, CLOSED, id="check-with-a-problem"),
    pytest.param(["--check", EXAMPLE], 0, "", id="check-with-nothing-to-say"),
    pytest.param(["--version"], 1, CLOSED, id="version"),
])
def test_closed_standard_output(bad_file, args, status, stderr):
    args = [bad_file if arg == "BAD" else arg for arg in args]
    result = run(args, stdout=None, wrapper=close_stdout_then())
    assert (result.returncode, result.stderr.decode()) == (status, stderr)


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="no /dev/full")
@pytest.mark.parametrize("args", [
    pytest.param([EXAMPLE], id="json"),
    pytest.param(["--indent", "0", EXAMPLE], id="json-one-line"),
    pytest.param(["--check", "BAD"], id="check"),
    pytest.param(["--version"], id="version"),
])
def test_full_disk(bad_file, args):
    args = [bad_file if arg == "BAD" else arg for arg in args]
    with open("/dev/full", "wb") as full:
        result = run(args, stdout=full)
    assert (result.returncode, result.stderr.decode()) == (1, FULL)


def test_closed_standard_error_still_gives_the_status(bad_file):
    result = subprocess.run(("sh", "-c", 'exec "$@" 2>&-', "sh", *CORVANE, str(bad_file)),
                            capture_output=True, timeout=300)
    assert (result.returncode, result.stdout, result.stderr) == (1, b"", b"")


def test_reader_leaving_a_check_early_is_not_an_error_report(tmp_path):
    files = []
    for i in range(3000):
        files.append(tmp_path / f"{i:04}.yaml")
        files[-1].write_text("a: &x 1\n")
    process = subprocess.Popen([*CORVANE, "--check", tmp_path], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert process.stdout.readline() == f"{tmp_path}/0000.yaml:1: Anchors are not supported in Corvane\n".encode()
    process.stdout.close()
    assert process.wait(timeout=300) == 1
    assert process.stderr.read() == b""


def process_state(pid):
    # The field after the parenthesised command name: R running, S sleeping.
    return pathlib.Path(f"/proc/{pid}/stat").read_text().rpartition(")")[2].split()[0]


def bytes_waiting(fd):
    count = bytearray(4)
    fcntl.ioctl(fd, termios.FIONREAD, count)
    return int.from_bytes(count, sys.byteorder)


@pytest.mark.skipif(not os.path.exists("/proc/self/stat"), reason="needs /proc to see the process state")
@pytest.mark.parametrize("unbuffered", [False, True])
def test_full_non_blocking_output_is_waited_for_without_spinning(unbuffered):
    document = "".join(f"- item number {i}\n" for i in range(50_000)).encode()
    expected = run(["-"], stdin=document).stdout
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)
    process = subprocess.Popen([sys.executable, *(["-u"] if unbuffered else []), "-m", "corvane", "-"],
                               stdin=subprocess.PIPE, stdout=write_end, stderr=subprocess.PIPE)
    os.close(write_end)
    process.stdin.write(document)
    process.stdin.close()
    # Once the pipe is full, the writer must fall asleep and stay asleep, not retry.
    capacity = fcntl.fcntl(read_end, fcntl.F_GETPIPE_SZ)
    while bytes_waiting(read_end) < capacity and process.poll() is None:
        select.select([], [], [], 0.01)
    for _ in range(1000):
        if process_state(process.pid) == "S":
            break
        select.select([], [], [], 0.01)
    states = set()
    for _ in range(20):
        states.add(process_state(process.pid))
        select.select([], [], [], 0.01)
    output = bytearray()
    with os.fdopen(read_end, "rb") as reader:
        while chunk := reader.read(1 << 16):
            output += chunk
    assert process.wait(timeout=300) == 0
    assert (states, process.stderr.read(), bytes(output)) == ({"S"}, b"", expected)


@pytest.mark.skipif(SANITIZED, reason="an address-space limit and AddressSanitizer do not mix")
def test_json_is_written_as_it_is_produced():
    # 3,000 levels at 16 spaces a level: 144 MB of output, from a process allowed 128 MB.
    depth = 3000
    document = ("a: " + "[" * depth + "1" + "]" * depth).encode()
    process = subprocess.Popen([*CORVANE, "--indent", "16", "-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, preexec_fn=limit_memory(128 * MB))
    process.stdin.write(document)
    process.stdin.close()
    size = lines = 0
    deepest = b""
    for line in process.stdout:
        size += len(line)
        lines += 1
        if line.strip() == b"1":
            deepest = line
    assert process.wait(timeout=300) == 0
    assert process.stderr.read() == b""
    # `{`, `"a": [`, a line for each deeper `[`, the `1`, a line for each `]`, `}`.
    assert lines == 2 * depth + 3
    assert deepest == b" " * 16 * (depth + 1) + b"1\n"
    opening = len(b'{\n') + len(b' ' * 16 + b'"a": [\n') + sum(16 * level + 2 for level in range(2, depth + 1))
    closing = sum(16 * level + 2 for level in range(1, depth + 1)) + len(b"}\n")
    assert size == opening + len(deepest) + closing


@pytest.mark.skipif(SANITIZED, reason="an address-space limit and AddressSanitizer do not mix")
@pytest.mark.skipif(not os.path.exists("/dev/zero"), reason="no /dev/zero")
def test_a_file_too_large_for_memory_is_one_problem_and_the_check_goes_on(bad_file):
    result = run(["--check", "/dev/zero", bad_file, EXAMPLE], preexec_fn=limit_memory(256 * MB))
    assert (result.returncode, result.stderr) == (1, b"")
    assert result.stdout.decode().splitlines() == [
        "/dev/zero: cannot read: not enough memory",
        f"{bad_file}:1: Anchors are not supported in Corvane",
    ]
