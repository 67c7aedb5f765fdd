"""Large and deep inputs: each ends in a value or a clean error, and memory stays bounded.

No timing here. Run this file as a script to print the time and peak memory of each input:
    python tests/test_resources.py
"""

import functools
import os
import re
import subprocess
import sys
import textwrap
import time

import pytest

from conftest import ParseError, load

DEPTH = 100_000
MB = 1 << 20
# Under AddressSanitizer freed memory sits in quarantine, so peak figures mean nothing there.
SANITIZED = os.environ.get("CORVANE_SANITIZED") == "1"


def record(i):
    return (f"- id: {i}\n  name: \"item {i}\\t\\u00e9\"\n  tags: [alpha, {i}, true, ~]\n"
            f"  ratio: {i}.5\n  meta:\n    owner: 'team {i % 97}'\n    note: |\n"
            f"      line one of {i}\n      line two\n")


def config_document(size):
    parts, total, i = [], 0, 0
    while total < size:
        parts.append(record(i))
        total += len(parts[-1])
        i += 1
    return "".join(parts), i


def many_keys(count):
    return "".join(f"k{i}: {i}\n" for i in range(count))


def long_block_scalar(size):
    line = "  " + "x" * 76 + "\n"
    return "a: |\n" + line * (size // len(line))


def long_flow_line(size):
    item = "abc, "
    return "[" + item * (size // len(item)) + "1]"


LARGE = {
    "1M keys": lambda: many_keys(1_000_000),
    "50 MB block scalar": lambda: long_block_scalar(50 * MB),
    "10 MB plain line": lambda: "a: " + "x" * (10 * MB),
    "10 MB flow line": lambda: long_flow_line(10 * MB),
    "1M blank lines": lambda: "\n" * 1_000_000 + "a: 1\n",
    "16M blank lines in a block scalar": lambda: "a: |\n  x\n" + "\n" * (16 * MB) + "  y\n",
    "100k-deep block": lambda: "- " * DEPTH + "x",
    "100k-deep flow seq": lambda: "[" * DEPTH + "]" * DEPTH,
    "100k-deep flow map": lambda: "{a: " * DEPTH + "b" + "}" * DEPTH,
    "100 MB config": lambda: config_document(100 * MB)[0],
}


def depth_of(value):
    """Nesting depth, without recursion (the values are 100,000 levels deep)."""
    depth = 0
    while isinstance(value, (list, dict)) and value:
        value = value[0] if isinstance(value, list) else next(iter(value.values()))
        depth += 1
    return depth, value


def test_large_inputs_load_whole():
    assert load(LARGE["1M keys"]()) == {f"k{i}": i for i in range(1_000_000)}
    text = LARGE["50 MB block scalar"]()
    assert load(text) == {"a": "".join(line[2:] + "\n" for line in text.splitlines()[1:])}
    assert load(LARGE["10 MB plain line"]()) == {"a": "x" * (10 * MB)}
    flow = load(LARGE["10 MB flow line"]())
    assert len(flow) == 10 * MB // 5 + 1 and flow[0] == "abc" and flow[-1] == 1
    assert load(LARGE["1M blank lines"]()) == {"a": 1}
    assert load(LARGE["16M blank lines in a block scalar"]()) == {"a": "x\n" + "\n" * (16 * MB) + "y\n"}


@pytest.mark.parametrize("name, leaf", [("100k-deep block", "x"), ("100k-deep flow map", "b")])
def test_deep_nesting_gives_the_whole_value(name, leaf):
    assert depth_of(load(LARGE[name]())) == (DEPTH, leaf)


def test_deep_flow_sequence_and_its_errors():
    assert depth_of(load(LARGE["100k-deep flow seq"]())) == (DEPTH - 1, [])
    for text in ("[" * DEPTH, "a: " + "[" * DEPTH + "]" * (DEPTH - 1) + "}"):
        with pytest.raises(ParseError, match=r"^line 1: "):
            load(text)
    with pytest.raises(ParseError, match=r"^line 2: "):
        load("a: 1\n" + "- " * DEPTH + "x: [")


def test_error_deep_inside_a_big_document_names_its_line():
    text, records = config_document(MB)
    with pytest.raises(ParseError, match=rf"^line {records * 9 + 1}: "):
        load(text + "bad: [\n")


# Peak memory is the growth of the resident set during `load`, from a state where the C library
# holds no freed memory (malloc_trim), up to Linux's high-water mark (reset through
# clear_refs). The result's own size is what stays resident after the call, freed memory
# given back first. Growing its big dicts and lists needs more for a moment (a dict resize
# holds the old table and the new): that growth is measured by rebuilding the result's
# containers in Python, one insertion at a time, as `load` builds them.
MEASURE = textwrap.dedent("""
    import ctypes, gc, re, sys, time
    sys.path.insert(0, {tests!r})
    import _corvane, test_resources
    trim = ctypes.CDLL(None).malloc_trim
    def status(key):
        return int(re.search(key + r":\\s+(\\d+)", open("/proc/self/status").read()).group(1)) * 1024
    def measured(build, *args):
        gc.collect()
        trim(0)
        before = status("VmRSS")
        open("/proc/self/clear_refs", "w").write("5")  # restart the peak from here
        start = time.perf_counter()
        value = build(*args)
        seconds = time.perf_counter() - start
        peak = status("VmHWM") - before
        trim(0)
        return value, seconds, peak, status("VmRSS") - before
    text = test_resources.LARGE[{name!r}]()
    size = len(text.encode("utf-8"))
    value, seconds, peak, kept = measured(_corvane.load, text)
    _, _, copy_peak, copy_kept = measured(test_resources.rebuild_containers, value)
    print(size, seconds, peak, kept, copy_peak - copy_kept)
""")


def rebuild_containers(value):
    """A copy of every dict and list of `value`, each filled one entry at a time in document
    order, as `load` fills them; scalars are shared. Depth-first with a stack of iterators, so
    it holds no more than one iterator per level."""
    if not isinstance(value, (dict, list)):
        return value
    entries = lambda c: iter(c.items()) if isinstance(c, dict) else enumerate(c)  # noqa: E731
    root = type(value)()
    stack = [(entries(value), root)]
    while stack:
        for key, item in stack[-1][0]:
            copy = stack[-1][1]
            child = type(item)() if isinstance(item, (dict, list)) else item
            if isinstance(copy, dict):
                copy[key] = child
            else:
                copy.append(child)
            if child is not item:
                stack.append((entries(item), child))
                break
        else:
            stack.pop()
    return root


@functools.lru_cache(maxsize=None)
def measure(name):
    """(input bytes, seconds, peak growth, the result's size, the extra its containers need
    while they grow) in a fresh process."""
    code = MEASURE.format(tests=os.path.dirname(os.path.abspath(__file__)), name=name)
    # A fixed threshold for the C library's own mappings: every large block is mapped alone
    # and given back when freed, whatever was freed before, so two runs see the same peak.
    env = dict(os.environ, MALLOC_MMAP_THRESHOLD_=str(128 * 1024))
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         env=env)
    size, seconds, peak, kept, growth = out.stdout.split()
    return int(size), float(seconds), int(peak), int(kept), int(growth)


# Beyond the input and the result, `load` may use a small constant, plus, for nesting, one
# entry per open container (a block frame is 56 bytes, a flow level less; with the growth of
# the stack that holds them).
CONSTANT = 2 * MB
PER_LEVEL = 96
LEVELS = {name: DEPTH for name in LARGE if "deep" in name}


def bound(name, size, growth):
    return size + growth + CONSTANT + PER_LEVEL * LEVELS.get(name, 0)


MEASURABLE = pytest.mark.skipif(
    SANITIZED or not os.path.exists("/proc/self/clear_refs") or not sys.platform.startswith("linux"),
    reason="needs an unsanitized build, Linux's peak-memory reset and glibc's malloc_trim")


@MEASURABLE
def test_peak_memory_of_a_100_mb_document_stays_below_input_plus_result():
    size, _, peak, kept, _ = measure("100 MB config")
    assert size >= 100 * MB
    # The call's own UTF-8 copy of the input, the result, and a few MB of parser state.
    assert peak <= size + kept + 16 * MB, (size, peak, kept)


@MEASURABLE
@pytest.mark.parametrize("name", LARGE)
def test_peak_memory_beyond_the_result_is_bounded_by_the_input(name):
    size, _, peak, kept, growth = measure(name)
    assert peak - kept <= bound(name, size, growth), (size, peak, kept, growth)


if __name__ == "__main__":
    print(f"{'input':<34}{'MB':>7}{'seconds':>9}{'ns/byte':>8}{'peak MB':>9}{'result MB':>10}"
          f"{'growth MB':>10}{'peak-result':>12}{'bound MB':>9}")
    for name in LARGE:
        size, seconds, peak, kept, growth = measure(name)
        print(f"{name:<34}{size / MB:>7.1f}{seconds:>9.3f}{seconds * 1e9 / size:>8.2f}"
              f"{peak / MB:>9.1f}{kept / MB:>10.1f}{growth / MB:>10.1f}{(peak - kept) / MB:>12.1f}"
              f"{bound(name, size, growth) / MB:>9.1f}")
