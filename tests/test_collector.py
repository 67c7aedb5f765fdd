"""The cyclic garbage collector around a load: before Python 3.12 a load pauses it while it
builds, and every load leaves it as it found it, however the load ends. (Running out of memory
and the internal error are covered, in a child process each, by test_out_of_memory.py.)"""

import gc
import sys

import pytest

from conftest import ParseError, traced_growth

import _corvane
from corvane import _native

PAUSES = sys.version_info < (3, 12)
# Large enough that an interpreter collects many times while it builds the value.
LARGE = "".join(f"- id: {i}\n  name: n{i}\n  tags: [a, {{b: {i}}}]\n" for i in range(100_000))
TEXTS = {
    "small value": "a: [1, {b: c}]\n",
    "small ParseError": "a: [1, {b: c}\n",
    "large value": LARGE,
    "large ParseError": LARGE + "b: late\n",
}
# The entry points themselves: a Python wrapper around one allocates after the collector is
# back on, and the young collection that the load put off may run there.
LOADS = {
    "load": _corvane.load,
    "load_with_lines": _native.load_with_lines,
}


def collections_during(call):
    started = []

    def note(phase, info):
        if phase == "start":
            started.append(info["generation"])

    gc.callbacks.append(note)
    try:
        call()
    finally:
        gc.callbacks.remove(note)
    return started


@pytest.mark.parametrize("function", LOADS.values(), ids=LOADS)
def test_a_large_load_runs_collections_only_where_it_does_not_pause(function):
    gc.collect()
    started = collections_during(lambda: function(LARGE))
    assert (started == []) == PAUSES, started[:10]


@pytest.mark.parametrize("enabled", [True, False], ids=["collector on", "collector off"])
@pytest.mark.parametrize("text", TEXTS.values(), ids=TEXTS)
@pytest.mark.parametrize("function", LOADS.values(), ids=LOADS)
def test_a_load_leaves_the_collector_as_it_found_it(function, text, enabled):
    (gc.enable if enabled else gc.disable)()
    try:
        try:
            function(text)
        except ParseError:
            pass
        assert gc.isenabled() == enabled
    finally:
        gc.enable()


def test_paused_loads_leave_nothing_behind():
    def load_both():
        for function in LOADS.values():
            function(LARGE)
            try:
                function(TEXTS["large ParseError"])
            except ParseError:
                pass
        assert gc.collect() == 0  # a tree holds no cycle for the collector to find

    # Three rounds of four loads of 100,000 entries: one leaked object per entry would be
    # megabytes.
    assert traced_growth(load_both, 3) < 50_000
