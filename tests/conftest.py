"""Shared helpers for the loader tests.

Every test goes through the public `load` function of the extension module; nothing here
reaches into the implementation.
"""

import itertools
import math
import os
import pathlib
import sys
import tracemalloc

import pytest

import _corvane
from corvane import _native

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


# Flow collections have two readers: a quick one that reads a common shape and gives up on
# anything else, and the exact one it falls back to. A test module that marks itself with
# `pytestmark = pytest.mark.usefixtures("both_flow_readers")` runs every test twice, the second
# time with `load` (its own name and the one the helpers here call) reading every flow collection
# through the exact reader alone; both runs must see the same values and the same errors.
# A build without the test hooks (as published wheels are) has only the quick reader to offer.
FLOW_READERS = {"quick": _corvane.load}
if hasattr(_native, "_load_exact_flow"):
    FLOW_READERS["exact"] = _native._load_exact_flow


@pytest.fixture(scope="module", params=list(FLOW_READERS))
def both_flow_readers(request):
    patch = pytest.MonkeyPatch()
    reader = FLOW_READERS[request.param]
    patch.setattr(request.module, "load", reader, raising=False)
    patch.setattr(sys.modules[__name__], "load", reader)
    yield request.param
    patch.undo()


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


def traced_growth(run, rounds):
    """How many bytes the traced memory grows over `rounds` calls of `run`, after one more call
    that settles caches."""
    tracemalloc.start()
    try:
        run()
        baseline, _ = tracemalloc.get_traced_memory()
        for _ in range(rounds):
            run()
        current, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    return current - baseline
