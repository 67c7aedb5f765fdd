"""The cyclic garbage collector around a load: before Python 3.12 a load of 32 MiB or more pauses
it while it builds, and every load leaves it as it found it, however the load ends. (Running out of memory
and the internal error are covered, in a child process each, by test_out_of_memory.py.)"""

import gc
import sys

import pytest

from conftest import ParseError

import _corvane
from corvane import _native

INTERPRETER_PAUSES = sys.version_info < (3, 12)


def records(count):
    return "".join(f"- id: {i}\n  name: n{i}\n  tags: [a, {{b: {i}}}]\n" for i in range(count))


# From 32 MiB of input a load pauses the collector; below, it leaves it running. The medium
# document is large enough that an interpreter collects many times while it builds the value.
LARGE = records(700_000)
MEDIUM = records(100_000)
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


@pytest.mark.parametrize("text, pauses", [(LARGE, INTERPRETER_PAUSES), (MEDIUM, False)], ids=["32 MiB", "5 MB"])
@pytest.mark.parametrize("function", LOADS.values(), ids=LOADS)
def test_only_a_large_load_on_an_interpreter_that_collects_during_it_runs_no_collection(function, text, pauses):
    assert (len(text) >= 32 << 20) == (text is LARGE)
    gc.collect()
    started = collections_during(lambda: function(text))
    assert (started == []) == pauses, started[:10]


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
    def load_twice():
        _corvane.load(LARGE)
        try:
            _corvane.load(TEXTS["large ParseError"])
        except ParseError:
            pass
        assert gc.collect() == 0  # a tree holds no cycle for the collector to find

    load_twice()
    before = sys.getallocatedblocks()
    load_twice()
    # 700,000 entries, several objects each: one leaked object per entry would be 700,000 blocks.
    assert sys.getallocatedblocks() - before < 1_000
