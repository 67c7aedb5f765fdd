"""Shared helpers for the loader tests.

Every test goes through the public `load` function of the extension module; nothing here
reaches into the implementation.
"""

import itertools
import math
import os
import pathlib

import pytest

import _corvane

load = _corvane.load
ParseError = _corvane.ParseError
UnsupportedFeatureError = _corvane.UnsupportedFeatureError
CorvaneError = _corvane.CorvaneError

# The four flag combinations (strict, yaml_1_1_bools).
ALL_FLAGS = [dict(strict=s, yaml_1_1_bools=b) for s, b in itertools.product((False, True), repeat=2)]
FLAG_IDS = [f"strict={f['strict']},bools={f['yaml_1_1_bools']}" for f in ALL_FLAGS]

# The shared test data (the YAML test suite, real-world files) beside the repository, or
# where CORVANE_SHARED points, as from a worktree.
SHARED = pathlib.Path(os.environ.get("CORVANE_SHARED") or pathlib.Path(__file__).resolve().parents[1].parent / "shared")
SKIPPED_WITHOUT_SHARED = "skipped without shared data"


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: builds Corvane from scratch, for minutes; deselect with -m 'not slow'")


def pytest_report_teststatus(report, config):
    """Tests skipped for want of the shared data are counted apart in the summary line, so
    that a green run without it is not mistaken for the whole suite."""
    if report.skipped and isinstance(report.longrepr, tuple) and str(SHARED) in report.longrepr[2]:
        return SKIPPED_WITHOUT_SHARED, "s", "SKIPPED"
    return None


def pytest_terminal_summary(terminalreporter):
    skipped = len(terminalreporter.stats.get(SKIPPED_WITHOUT_SHARED, []))
    if skipped:
        terminalreporter.write_line(
            f"{skipped} test{'s' * (skipped != 1)} skipped without shared data: {SHARED} is absent, so the YAML test suite "
            "and the real-world corpus were not run (set CORVANE_SHARED to their folder)", yellow=True)


def same_value(a, b):
    """Equality that also compares types exactly (1 != True != 1.0), treats NaN as equal to
    NaN and distinguishes -0.0 from 0.0, recursively through dicts and lists."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)
    if isinstance(a, dict):
        return len(a) == len(b) and all(
            same_value(ka, kb) and same_value(va, vb)
            for (ka, va), (kb, vb) in zip(a.items(), b.items())
        )
    if isinstance(a, list):
        return len(a) == len(b) and all(same_value(x, y) for x, y in zip(a, b))
    return a == b


def assert_loads(text, expected, **flags):
    value = load(text, **flags)
    assert same_value(value, expected), f"{text!r} gave {value!r}, expected {expected!r}"


def assert_fails(text, exc_class, message, **flags):
    """`message` is the full exception text, "line N: ..."."""
    with pytest.raises(exc_class) as info:
        load(text, **flags)
    assert type(info.value) is exc_class
    assert info.value.args == (message,)
    assert str(info.value) == message
