"""Large and deep inputs: each ends in a value or a clean error, and memory stays bounded.

No timing here. Run this file as a script to print the time and peak memory of each input:
    python tests/test_resources.py
"""

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


MEASURE = textwrap.dedent("""
    import re, sys, time
    sys.path.insert(0, {tests!r})
    import _corvane, test_resources
    def status(key):
        return int(re.search(key + r":\\s+(\\d+)", open("/proc/self/status").read()).group(1)) * 1024
    text = test_resources.LARGE[{name!r}]()
    size = len(text.encode("utf-8"))
    before = status("VmRSS")
    open("/proc/self/clear_refs", "w").write("5")  # restart the peak from here
    start = time.perf_counter()
    value = _corvane.load(text)
    seconds = time.perf_counter() - start
    print(size, seconds, status("VmHWM") - before, status("VmRSS") - before)
""")


def measure(name):
    """(input bytes, seconds, peak growth, growth kept by the result) in a fresh process."""
    code = MEASURE.format(tests=os.path.dirname(__file__), name=name)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    size, seconds, peak, kept = out.stdout.split()
    return int(size), float(seconds), int(peak), int(kept)


@pytest.mark.skipif(SANITIZED or not os.path.exists("/proc/self/clear_refs"),
                    reason="needs an unsanitized build and Linux's peak-memory reset")
def test_peak_memory_of_a_100_mb_document_stays_below_input_plus_result():
    size, _, peak, kept = measure("100 MB config")
    assert size >= 100 * MB
    # The call's own UTF-8 copy of the input, the result, and a few MB of parser state.
    assert peak <= size + kept + 16 * MB, (size, peak, kept)


if __name__ == "__main__":
    print(f"{'input':<22}{'MB':>9}{'seconds':>10}{'ns/byte':>9}{'peak MB':>10}{'result MB':>11}")
    for name in LARGE:
        size, seconds, peak, kept = measure(name)
        print(f"{name:<22}{size / MB:>9.1f}{seconds:>10.3f}{seconds * 1e9 / size:>9.2f}"
              f"{peak / MB:>10.1f}{kept / MB:>11.1f}")
