"""Whole real-world, YAML test suite and example documents: a value or one of our own errors;
where a real-world file loads, the value PyYAML gives it, up to the listed typing departures."""

import datetime
import pathlib
import re

import pytest
import yaml

from conftest import (ALL_FLAGS, FLAG_IDS, SHARED, CorvaneError, ParseError,
                      UnsupportedFeatureError, load, same_value)

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"
REAL = SHARED / "corpus" / "real"


def files(root, keep):
    """Parameters for the files under `root`, or one skipped parameter when there are none."""
    found = sorted(p for p in root.rglob("*") if p.is_file() and keep(p)) if root.is_dir() else []
    if not found:
        return [pytest.param(None, marks=pytest.mark.skip(reason=f"no files under {root}"))]
    return [pytest.param(p, id=str(p.relative_to(root))) for p in found]


def read(path):
    return path.read_bytes().decode("utf-8")  # keeps the original line endings


def load_or_refuse(text, flags):
    """Loads `text` twice: the same value both times, or the same refusal with a valid line."""
    try:
        value = load(text, **flags)
    except CorvaneError as exc:
        assert type(exc) in (ParseError, UnsupportedFeatureError)
        assert len(exc.args) == 1 and re.fullmatch(r"line [1-9][0-9]*: \S.*", exc.args[0], re.S)
        line = int(exc.args[0].split(":")[0][5:])
        assert line <= max(1, text.count("\n") + (not text.endswith("\n"))), exc.args[0]
        with pytest.raises(type(exc)) as again:
            load(text, **flags)
        assert again.value.args == exc.args
    else:
        assert same_value(load(text, **flags), value)


def is_document(path):
    return path.name not in ("MANIFEST.tsv", "README.md")


@pytest.mark.parametrize("flags", ALL_FLAGS, ids=FLAG_IDS)
@pytest.mark.parametrize("path", files(REAL, is_document)
                         + files(SHARED / "yaml-test-suite", lambda p: p.name == "in.yaml"))
def test_real_world_and_yaml_test_suite_file_loads_or_is_refused(path, flags):
    load_or_refuse(read(path), flags)


@pytest.mark.parametrize("path", files(EXAMPLES, lambda p: p.suffix not in (".md", ".rst", ".txt", ".py")))
def test_example_loads(path):
    text = read(path)
    assert same_value(load(text), load(text))


# Real-world files whose value differs from PyYAML's, and why. PyYAML follows YAML 1.1's typing,
# where more plain words are booleans and dates are dates; with yaml_1_1_bools=True the files
# that differ only by such booleans must agree.
BOOLEANS = "booleans"  # PyYAML's yes/no/on/off, which are strings unless yaml_1_1_bools is set
DATES = "dates"  # PyYAML's timestamps (2019-03-30, 2015-02-22T20:00:45.000Z), strings here
FINAL_LINE_FEED = "final line feed"  # a block scalar's last line at the end of the input
PYYAML_DIFFERENT = {
    "citation-cff/Lightning-AI__pytorch-lightning__CITATION.cff": (DATES, "date-released: 2019-03-30"),
    "codecov/matplotlib__matplotlib__.github__codecov.yml": (BOOLEANS, "require_ci_to_pass: no"),
    "codecov/pandas-dev__pandas__codecov.yml": (BOOLEANS, "enabled: no"),
    "codecov/pytest-dev__pytest__codecov.yml": (BOOLEANS, "comment: off"),
    "github-actions/BurntSushi__ripgrep__.github__workflows__ci.yml": (BOOLEANS, "the key on:"),
    "github-actions/actions__checkout__.github__workflows__test.yml": (BOOLEANS, "the key on:"),
    "github-actions/django__django__.github__workflows__linters.yml": (BOOLEANS, "the key on:"),
    "github-actions/pallets__click__.github__workflows__tests.yaml": (BOOLEANS, "the key on:"),
    "github-actions/pallets__flask__.github__workflows__tests.yaml": (BOOLEANS, "the key on:"),
    "github-actions/psf__requests__.github__workflows__run-tests.yml": (BOOLEANS, "the key on:"),
    # The file ends inside a `|` scalar without a line break: every content line ends in a line
    # feed here, and clip keeps one; PyYAML keeps none when the input has none.
    "gitlab-ci/apecloud__kubeblocks__.gitlab-ci.yml": (FINAL_LINE_FEED, "script of release-job"),
    "openapi/APIs-guru__openapi-directory__APIs__apis.guru__2.2.0__openapi.yaml": (DATES, "added: and updated: times"),
}

PyYamlLoader = getattr(yaml, "CSafeLoader", yaml.SafeLoader)


def departures(ours, theirs, path=()):
    """(path, our value, PyYAML's value) for every key or leaf where the two differ."""
    if isinstance(ours, dict) and isinstance(theirs, dict) and len(ours) == len(theirs):
        found = []
        for (key, value), (their_key, their_value) in zip(ours.items(), theirs.items()):
            if not same_value(key, their_key):
                found.append((path, key, their_key))
            found.extend(departures(value, their_value, (*path, key)))
        return found
    if isinstance(ours, list) and isinstance(theirs, list) and len(ours) == len(theirs):
        return [d for i, pair in enumerate(zip(ours, theirs)) for d in departures(*pair, (*path, i))]
    return [] if same_value(ours, theirs) else [(path, ours, theirs)]


def explained_by(kind, ours, theirs):
    """Whether PyYAML's value is ours read by the rule `kind` names."""
    if kind == FINAL_LINE_FEED:
        return isinstance(theirs, str) and ours == theirs + "\n"
    # Our plain string is a text that YAML 1.1 types: PyYAML reads the same text on its own as
    # the value it gave, a boolean or a date.
    wanted = bool if kind == BOOLEANS else datetime.date
    return isinstance(ours, str) and isinstance(theirs, wanted) \
        and yaml.load(ours, Loader=PyYamlLoader) == theirs


@pytest.mark.parametrize("bools", [False, True], ids=["default", "yaml_1_1_bools"])
@pytest.mark.parametrize("path", files(REAL, is_document))
def test_real_world_value_is_pyyaml_value_up_to_listed_typing(path, bools):
    name = path.relative_to(REAL).as_posix()
    try:
        text = read(path)
        ours = load(text, yaml_1_1_bools=bools)
    except (UnicodeDecodeError, CorvaneError):
        assert name not in PYYAML_DIFFERENT
        return
    theirs = yaml.load(text, Loader=PyYamlLoader)
    kind, _ = PYYAML_DIFFERENT.get(name, (None, None))
    if kind is None or (kind == BOOLEANS and bools):
        assert departures(ours, theirs) == []
        return
    found = departures(ours, theirs)
    assert found, f"{name} is listed but agrees with PyYAML"
    unexplained = [d for d in found if not explained_by(kind, d[1], d[2])]
    assert unexplained == []


def test_pyyaml_departures_name_existing_files():
    if not REAL.is_dir():
        pytest.skip(f"{REAL} is absent")
    for name in PYYAML_DIFFERENT:
        assert (REAL / name).is_file(), name
