"""The command line, end to end: `python -m corvane` and the `corvane` script in subprocesses."""

import importlib.metadata
import json
import os
import pathlib
import subprocess
import sys

import pytest

import corvane

EXAMPLES = sorted((pathlib.Path(__file__).resolve().parents[1] / "examples").glob("*.yaml"))
# Whatever the locale says, the output is UTF-8.
ASCII_ENV = dict(os.environ, PYTHONIOENCODING="ascii", LC_ALL="C")


def run(*args, stdin=b"", env=None, command=(sys.executable, "-m", "corvane")):
    return subprocess.run([*command, *map(str, args)], input=stdin, capture_output=True, env=env, timeout=120)


def write(tmp_path, name, data):
    path = tmp_path / name
    path.write_bytes(data.encode() if isinstance(data, str) else data)
    return path


def strict_json(text):
    """Parses JSON that must be valid: NaN and Infinity are not."""
    def refuse(constant):
        raise AssertionError(f"{constant} in the output")
    return json.loads(text, parse_constant=refuse)


@pytest.mark.parametrize("path", EXAMPLES, ids=lambda p: p.name)
@pytest.mark.parametrize("indent", [None, 4, 0])
def test_examples_print_as_json_dumps_writes_them(path, indent):
    args = [] if indent is None else ["--indent", indent]
    result = run(*args, path)
    assert (result.returncode, result.stderr) == (0, b"")
    value = corvane.load(path.read_text(encoding="utf-8"))
    expected = json.dumps(value, ensure_ascii=False, indent=2 if indent is None else (indent or None))
    assert result.stdout.decode("utf-8") == expected + "\n"


@pytest.mark.parametrize("document, expected", [
    pytest.param("name: café ✓\n", '{"name": "café ✓"}', id="non-ascii-kept"),
    pytest.param("a: 1\r\nb: [x, '']\r\n", '{"a": 1, "b": ["x", ""]}', id="crlf-lines"),
    pytest.param("[.nan, .inf, -.inf, -0.0, 1e300]", '[".nan", ".inf", "-.inf", -0.0, 1e+300]', id="nonfinite-as-strings"),
    pytest.param("{.nan: a, -.inf: b, 1: c, 2.5: d, false: e, ~: f, '': g}",
                 '{".nan": "a", "-.inf": "b", "1": "c", "2.5": "d", "false": "e", "null": "f", "": "g"}', id="keys"),
    pytest.param("a: {}\nb: []\nc:\n", '{"a": {}, "b": [], "c": null}', id="empty"),
    pytest.param("", "null", id="empty-document"),
])
def test_values_are_written_as_valid_json(document, expected):
    result = run("--indent", 0, "-", stdin=document.encode(), env=ASCII_ENV)
    assert (result.returncode, result.stderr) == (0, b"")
    assert result.stdout == expected.encode() + b"\n"
    strict_json(result.stdout)


def test_nesting_deeper_than_the_recursion_limit():
    depth = 20 * sys.getrecursionlimit()
    result = run("--indent", 0, "-", stdin=("a: " + "[" * depth + "]" * depth).encode())
    assert (result.returncode, result.stderr) == (0, b"")
    assert result.stdout == b'{"a": ' + b"[" * depth + b"]" * depth + b"}\n"
    levels = 2 * sys.getrecursionlimit()
    blocks = "".join(f"{'  ' * level}k{level}:\n" for level in range(levels))
    result = run("-", stdin=blocks.encode())
    assert result.returncode == 0, result.stderr
    lines = result.stdout.decode().splitlines()
    assert len(lines) == 2 * levels + 1 and lines[levels] == f'{"  " * levels}"k{levels - 1}": null'


@pytest.mark.parametrize("args, document, status, stdout, stderr", [
    pytest.param([], "a: 1\na: yes", 0, '{"a": "yes"}', "", id="defaults"),
    pytest.param(["--strict"], "a: 1\na: yes", 1, "", "<stdin>:2: Duplicate key: 'a'", id="strict"),
    pytest.param(["--yaml-1-1-bools"], "a: 1\na: yes", 0, '{"a": true}', "", id="bools"),
    pytest.param(["--strict", "--yaml-1-1-bools"], "[{on: 1, yes: 2}]", 1, "",
                 "<stdin>:1: Duplicate key in flow map: True", id="both"),
    pytest.param([], "a: 1\nb: &x 2", 1, "", "<stdin>:2: Anchors are not supported in Corvane", id="unsupported"),
    pytest.param([], "{1: a, '1': b}", 1, "", "<stdin>: cannot write as JSON: the keys 1 and '1' both become \"1\"",
                 id="keys-that-collide-in-json"),
])
def test_flags_and_errors_from_standard_input(args, document, status, stdout, stderr):
    result = run("--indent", 0, *args, "-", stdin=document.encode())
    assert result.returncode == status
    assert result.stdout.decode() == (stdout + "\n" if stdout else "")
    assert result.stderr.decode() == (stderr + "\n" if stderr else "")


def test_check_reports_each_problem_as_path_line_message(tmp_path):
    good = write(tmp_path, "good.yaml", "a: 1\n")
    files = [
        good,
        write(tmp_path, "anchor.yaml", "a: 1\nb: &x 2\n"),
        write(tmp_path, "twice.yaml", "a: 1\n\na: 2\n"),
        write(tmp_path, "latin1.yaml", "a: 1\nb: x\nc: caf\xe9\n".encode("latin-1")),
        tmp_path / "missing.yaml",
        tmp_path,
        EXAMPLES[0],
    ]
    result = run("--check", "--strict", *files)
    assert (result.returncode, result.stderr) == (1, b"")
    assert result.stdout.decode().splitlines() == [
        f"{tmp_path}/anchor.yaml:2: Anchors are not supported in Corvane",
        f"{tmp_path}/twice.yaml:3: Duplicate key: 'a'",
        f"{tmp_path}/latin1.yaml:3: not valid UTF-8: invalid continuation byte (byte 0xe9)",
        f"{tmp_path}/missing.yaml: cannot read: No such file or directory",
        # A folder stands for the YAML files under it.
        f"{tmp_path}/anchor.yaml:2: Anchors are not supported in Corvane",
        f"{tmp_path}/latin1.yaml:3: not valid UTF-8: invalid continuation byte (byte 0xe9)",
        f"{tmp_path}/twice.yaml:3: Duplicate key: 'a'",
    ]
    assert run("--check", good, *EXAMPLES).returncode == 0
    lenient = run("--check", good, files[2], "-", stdin=b"x: [1]")
    assert (lenient.returncode, lenient.stdout, lenient.stderr) == (0, b"", b"")


# `bad.yaml` holds `data`; the path is relative to the test's directory (an absolute one stands).
@pytest.mark.parametrize("name, data, report", [
    pytest.param("missing.yaml", b"", ": cannot read: No such file or directory", id="missing"),
    pytest.param(".", b"", ": cannot read: Is a directory", id="directory"),
    pytest.param("bad.yaml/x.yaml", b"", ": cannot read: Not a directory", id="under-a-file"),
    # Opens, then fails to read: address 0 of the reading process is not mapped.
    pytest.param("/proc/self/mem", b"", ": cannot read: Input/output error", id="read-fails"),
    pytest.param("bad.yaml", b"\xff", ":1: not valid UTF-8: invalid start byte (byte 0xff)", id="utf8-first-byte"),
    pytest.param("bad.yaml", b"a: 1\n\nb: \xc3(\n", ":3: not valid UTF-8: invalid continuation byte (byte 0xc3)",
                 id="utf8-third-line"),
    pytest.param("bad.yaml", b"a: 1\nb: \xe2\x82", ":2: not valid UTF-8: unexpected end of data (byte 0xe2)",
                 id="utf8-cut-short"),
])
def test_file_problem_gives_one_line(tmp_path, name, data, report):
    write(tmp_path, "bad.yaml", data)
    path = tmp_path / name
    result = run(path)
    assert (result.returncode, result.stdout) == (1, b"")
    assert result.stderr.decode() == f"{path}{report}\n"


@pytest.mark.parametrize("args, needle", [
    pytest.param([], "the following arguments are required: FILE", id="no-file"),
    pytest.param(["a.yaml", "b.yaml"], "give one FILE to print as JSON, or --check", id="two-files-to-print"),
    pytest.param(["--check", "--indent", "2", "a.yaml"], "--indent applies to JSON output", id="indent-with-check"),
    pytest.param(["--strcit", "a.yaml"], "unrecognized arguments: --strcit", id="unknown-option"),
])
def test_usage_errors_exit_2(args, needle):
    result = run(*args)
    assert (result.returncode, result.stdout) == (2, b"")
    assert result.stderr.startswith(b"usage: corvane ") and needle.encode() in result.stderr, result.stderr


def test_help_shows_the_three_forms_of_the_command():
    result = run("--help")
    assert (result.returncode, result.stderr) == (0, b"")
    assert result.stdout.decode().splitlines()[:4] == [
        "usage: corvane [--strict] [--yaml-1-1-bools] [--indent N] [--format F] FILE",
        "       corvane --check [--strict] [--yaml-1-1-bools] [--portable] [--schema FILE]",
        "                       [--no-ignore] [--format F] FILE...",
        "       corvane --to-yaml [--indent N] [--format F] FILE"]


def test_console_script_and_version():
    script = pathlib.Path(sys.executable).with_name("corvane")
    result = run(EXAMPLES[0], command=(script,))
    assert (result.returncode, result.stdout) == (0, run(EXAMPLES[0]).stdout)
    version = run("--version", command=(script,))
    assert version.stdout.decode() == f"corvane {importlib.metadata.version('corvane')}\n"


@pytest.mark.parametrize("unbuffered", [False, True])
def test_reader_leaving_early_is_not_an_error_report(unbuffered):
    document = "".join(f"- item number {i}\n" for i in range(50_000)).encode()
    env = {name: value for name, value in os.environ.items() if name != "PYTHONUNBUFFERED"}
    process = subprocess.Popen([sys.executable, *(["-u"] if unbuffered else []), "-m", "corvane", "-"],
                               stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    process.stdin.write(document)
    process.stdin.close()
    assert process.stdout.read(2) == b"[\n"
    process.stdout.close()
    assert process.wait(timeout=120) == 1
    assert process.stderr.read() == b""


@pytest.mark.parametrize("width", ["-1", "two", "17", "1000000000", "99999999999999999999", "1_0", "\uff13", " 3",
                                   "3 ", "+3", "", "3\n"])
def test_indent_is_a_small_ascii_number_or_a_usage_error(width):
    result = run("--indent", width, EXAMPLES[0])
    assert (result.returncode, result.stdout) == (2, b"")
    assert result.stderr.decode().splitlines()[-1] == (
        f"corvane: error: argument --indent: expected a number of spaces from 0 to 16, not {width!r}")


@pytest.mark.parametrize("width", ["0", "16", "07"])
def test_indent_bounds_are_accepted(width):
    result = run("--indent", width, "-", stdin=b"a: [1]")
    assert (result.returncode, result.stderr) == (0, b"")
    assert result.stdout.decode() == json.dumps({"a": [1]}, indent=int(width) or None) + "\n"


def make_tree(root, files):
    for name, data in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(data)


ANCHOR = ":1: Anchors are not supported in Corvane"


def test_check_walks_folders_for_yaml_files_in_name_order(tmp_path):
    make_tree(tmp_path, {
        "b.yaml": "a: &x 1\n", "a.yml": "k: 1\nk: 2\n", "aa/x.yaml": "a: &x 1\n", "notes.txt": "a: &x 1\n",
        "x.YAML.bak": "a: &x 1\n", ".dot.yaml": "a: &x 1\n", ".hidden/h.yaml": "a: &x 1\n", "sub/z.yaml": "- [\n",
        "sub/deeper/y.yaml": "a: &x 1\n", "empty/.keep": "", "good.yaml": "a: 1\n",
    })
    (tmp_path / "link.yaml").symlink_to(tmp_path / "b.yaml")
    (tmp_path / "linked").symlink_to(tmp_path / "sub", target_is_directory=True)
    result = run("--check", "--strict", tmp_path)
    assert (result.returncode, result.stderr) == (1, b"")
    assert result.stdout.decode().splitlines() == [
        f"{tmp_path}/.dot.yaml{ANCHOR}",
        f"{tmp_path}/a.yml:2: Duplicate key: 'k'",
        f"{tmp_path}/aa/x.yaml{ANCHOR}",
        f"{tmp_path}/b.yaml{ANCHOR}",
        f"{tmp_path}/sub/deeper/y.yaml{ANCHOR}",
        f"{tmp_path}/sub/z.yaml:1: Unclosed flow collection: missing ']'",
    ]
    # A hidden folder or a link named on the command line is walked; so is a folder named twice.
    named = run("--check", tmp_path / ".hidden", tmp_path / "linked" / "deeper", tmp_path / "aa", tmp_path / "aa")
    assert (named.returncode, named.stderr) == (1, b"")
    assert named.stdout.decode().splitlines() == [
        f"{tmp_path}/.hidden/h.yaml{ANCHOR}",
        f"{tmp_path}/linked/deeper/y.yaml{ANCHOR}",
        f"{tmp_path}/aa/x.yaml{ANCHOR}",
        f"{tmp_path}/aa/x.yaml{ANCHOR}",
    ]


def test_check_of_a_folder_without_yaml_files_is_not_an_error(tmp_path):
    make_tree(tmp_path, {"empty/.keep": "", "other/notes.txt": "a: &x 1\n", ".git/config.yaml": "a: &x 1\n"})
    result = run("--check", tmp_path / "empty", tmp_path)
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")


# Messages that embed input are cut in problem lines, never in the exception of `load`.
LONG_KEY = "k" * 1000
CONTROL = "\x01" * 100_000


@pytest.mark.parametrize("document, message, report", [
    pytest.param(f"{LONG_KEY}: 1\n{LONG_KEY}: 2\n", f"line 2: Duplicate key: '{LONG_KEY}'",
                 "2: Duplicate key: '" + "k" * 284 + "... (717 more characters)", id="duplicate-key"),
    pytest.param(f"a: [1] {CONTROL}", 'line 1: Unexpected content after flow collection: "' + "\\u{1}" * 100_000 + '"',
                 '1: Unexpected content after flow collection: "' + "\\u{1}" * 51 + "\\u... (499744 more characters)",
                 id="after-flow-collection"),
    pytest.param("k" * 283 + ": 1\n" + "k" * 283 + ": 2\n", "line 2: Duplicate key: '" + "k" * 283 + "'",
                 "2: Duplicate key: '" + "k" * 283 + "'", id="at-the-limit"),
    pytest.param("k" * 284 + ": 1\n" + "k" * 284 + ": 2\n", "line 2: Duplicate key: '" + "k" * 284 + "'",
                 "2: Duplicate key: '" + "k" * 284 + "... (1 more character)", id="one-over-the-limit"),
])
def test_long_problem_lines_are_cut(tmp_path, document, message, report):
    path = write(tmp_path, "long.yaml", document)
    result = run("--check", "--strict", path)
    assert (result.returncode, result.stderr) == (1, b"")
    assert result.stdout.decode() == f"{path}:{report}\n"
    with pytest.raises(corvane.CorvaneError) as info:
        corvane.load(document, strict=True)
    assert info.value.args == (message,)


def test_main_in_process_writes_to_a_replaced_standard_output(capsys, tmp_path):
    from corvane.cli import main
    assert main(["--indent", "0", str(EXAMPLES[0])]) == 0
    assert main(["--check", str(EXAMPLES[0]), str(tmp_path / "missing.yaml")]) == 1
    value = corvane.load(EXAMPLES[0].read_text(encoding="utf-8"))
    assert capsys.readouterr() == (json.dumps(value, ensure_ascii=False) + "\n"
                                   + f"{tmp_path}/missing.yaml: cannot read: No such file or directory\n", "")


def bad_names(tmp_path):
    """A folder with a file whose name and contents are not UTF-8, a file whose name holds a line
    feed, and a good file after them."""
    folder = tmp_path / "d"
    folder.mkdir()
    (folder / os.fsdecode(b"x\xff.yaml")).write_bytes(b"a: \xe9\n")
    (folder / "y\nz.yaml").write_text("a: &x 1\n")
    (folder / "zz.yaml").write_text("a: 1\na: 2\n")
    return folder


# Every case ends in one line per problem (or none) and its exit status, never a traceback.
@pytest.mark.parametrize("make_args, stdin, status, stdout, stderr", [
    pytest.param(lambda tmp: ["--check", "--strict", bad_names(tmp)], b"", 1,
                 b"{d}/x\xff.yaml:1: not valid UTF-8: invalid continuation byte (byte 0xe9)\n"
                 b"{d}/y\\nz.yaml:1: Anchors are not supported in Corvane\n"
                 b"{d}/zz.yaml:2: Duplicate key: 'a'\n", b"", id="names-not-utf8-and-with-a-line-feed"),
    pytest.param(lambda tmp: ["--to-yaml", "-"], b"[" + b"1" * 4301 + b"]", 1, b"",
                 b"<stdin>: cannot write as YAML: int outside the signed 64-bit range, which would read back "
                 b"as a string (at [0])\n", id="json-int-too-long-for-python"),
    pytest.param(lambda tmp: ["--to-yaml", "-"], b"\xef\xbb\xbf{\"a\": [1]}", 0, b"a:\n  - 1\n", b"",
                 id="json-with-byte-order-mark"),
    pytest.param(lambda tmp: ["--indent", "0", "-"], b"\xef\xbb\xbfa: [1]", 0, b'{"a": [1]}\n', b"",
                 id="yaml-with-byte-order-mark"),
])
def test_command_line_cases_end_in_one_line_each(tmp_path, make_args, stdin, status, stdout, stderr):
    args = make_args(tmp_path)
    folder = os.fsencode(tmp_path / "d")
    result = run(*args, stdin=stdin)
    assert (result.returncode, result.stdout, result.stderr) == (
        status, stdout.replace(b"{d}", folder), stderr.replace(b"{d}", folder))


def test_usage_error_with_standard_error_closed_writes_nothing():
    result = subprocess.run(("sh", "-c", 'exec "$@" 2>&-', "sh", sys.executable, "-m", "corvane", "--indent", "99", "x"),
                            capture_output=True, timeout=120)
    assert (result.returncode, result.stdout) == (2, b"")


def test_an_internal_error_while_loading_is_reported_as_memory_running_out(monkeypatch, capsys, tmp_path):
    from corvane.cli import files, main

    def fail(*args):
        raise corvane.InternalError("Python API call failed")
    monkeypatch.setattr(files, "load_text", fail)
    path = write(tmp_path, "a.yaml", "a: 1\n")
    assert main(["--check", str(path), str(path)]) == 1
    assert capsys.readouterr() == (f"{path}: cannot load: not enough memory\n" * 2, "")
