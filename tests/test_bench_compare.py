"""The benchmark's value comparison: what it calls equal, and where it says two values differ, as
the report prints it for a peer whose typing is not Corvane's."""

import pathlib
import sys

import pytest

BENCH = pathlib.Path(__file__).resolve().parents[1] / "bench"
sys.path.insert(0, str(BENCH))
import bench  # noqa: E402

DIFFERENT = [
    (1, True, "value: 1 != True"),
    (1, 1.0, "value: 1 != 1.0"),
    ({"a": [1, "017"]}, {"a": [1, 17]}, "['a'][1]: '017' != 17"),
    ({"a": 1, "b": 2}, {"b": 2, "a": 1}, "[key 0]: 'a' != 'b'"),
    ({"a": {"b": [1, 2]}}, {"a": {"b": [1]}}, "['a']['b']: 2 != 1 items"),
    ({"a": 1}, {"a": 1, "b": 2}, "value: 1 != 2 entries"),
    ([0.0], [-0.0], "[0]: 0.0 != -0.0"),
    (["2001-01-01"], [None], "[0]: '2001-01-01' != None"),
    ("x" * 50, "y", "value: '" + "x" * 36 + "... != 'y'"),
]


@pytest.mark.parametrize("a, b, where", DIFFERENT)
def test_first_difference_names_the_path_and_both_values(a, b, where):
    assert not bench.same_value(a, b)
    assert bench.first_difference(a, b) == where


@pytest.mark.parametrize("value", [{"a": [1, 2.5, None, True, "x"]}, [float("nan")], {}, [], {1: {"b": []}}])
def test_equal_values_have_no_difference(value):
    assert bench.same(value, value)
    assert bench.first_difference(value, value) is None
