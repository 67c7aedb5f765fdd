"""The public YAML test suite: where Corvane loads a case, it agrees with the suite's JSON;
where it refuses a case, it does so with its own errors. Every departure is listed with the
loader rule that explains it. Skipped where the shared data is absent."""

import json

import pytest

from conftest import SHARED, CorvaneError, ParseError, UnsupportedFeatureError, load, same_value

SUITE = SHARED / "yaml-test-suite"

# Cases that load to a value other than the suite's JSON, and why.
DIFFERENT = {
    # Implicit indentation with only empty lines up to the end gives "", even with keep.
    "JEF9/00": "a block scalar with no content line is empty whatever its chomping",
    "JEF9/01": "a block scalar with no content line is empty whatever its chomping",
    "JEF9/02": "a block scalar with no content line is empty whatever its chomping",
    "K858": "a block scalar with no content line is empty whatever its chomping",
    "Y79Y/001": "blank lines before a less-indented line end an empty block scalar",
    "R4YG": "in a folded scalar a blank line (spaces and tabs only) adds only a line break",
}

# Cases without a single JSON document in the suite that load, and what they give.
NO_JSON = {
    "2JQS": "an empty key is the null key",
    "NHX8": "an empty key is the null key",
    "SM9W/01": "an empty key is the null key",
    "UKK6/00": "an empty key is the null key",
    "S3PD": "an empty key is the null key",
    "CFD4": "an item of a flow sequence is a scalar: ': x' is a plain string there",
    "M2N8/00": "'?' after a dash is a plain key; explicit keys are refused at a line's start",
    "SBG9": "a flow key is a scalar: '[d, e]' is a plain string there",
    # The suite's JSON is empty (no document); a document without content is None.
    "8G76": "a document without content is None",
    "98YD": "a document without content is None",
    "AVM7": "a document without content is None",
}

# Cases the suite calls invalid that a rule of the loader accepts.
ACCEPTED_ERRORS = {
    "YJV2": "an item of a flow sequence is typed as a plain scalar, so '-' is a string",
}


def cases():
    if not SUITE.is_dir():
        return [pytest.param(None, marks=pytest.mark.skip(reason=f"{SUITE} is absent"))]
    return [pytest.param(p.parent, id=str(p.parent.relative_to(SUITE)))
            for p in sorted(SUITE.rglob("in.yaml"))]


def outcome(folder):
    text = (folder / "in.yaml").read_bytes().decode("utf-8")
    try:
        return load(text), None
    except CorvaneError as exc:
        assert type(exc) in (ParseError, UnsupportedFeatureError)
        return None, exc


@pytest.mark.parametrize("folder", cases())
def test_case_agrees_with_the_suite_or_is_a_listed_departure(folder):
    case = str(folder.relative_to(SUITE))
    value, error = outcome(folder)
    if (folder / "error").exists():
        assert (error is None) == (case in ACCEPTED_ERRORS), error
        return
    assert case not in ACCEPTED_ERRORS
    if error is not None:
        assert case not in DIFFERENT and case not in NO_JSON, error
        return
    expected_path = folder / "in.json"
    try:
        expected = json.loads(expected_path.read_text(encoding="utf-8"))
    except (FileNotFoundError, json.JSONDecodeError):
        assert case in NO_JSON, value
        return
    assert case not in NO_JSON
    assert same_value(value, expected) == (case not in DIFFERENT), (value, expected)


def test_departure_lists_name_existing_cases():
    if not SUITE.is_dir():
        pytest.skip(f"{SUITE} is absent")
    for case in {**DIFFERENT, **NO_JSON, **ACCEPTED_ERRORS}:
        assert (SUITE / case / "in.yaml").is_file(), case
