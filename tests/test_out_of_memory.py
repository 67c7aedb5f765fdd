"""Running out of memory during `load` ends in a Python exception, never in a dead process,
and leaves the interpreter usable.

Each case runs in a fresh interpreter. CI runs a few memory limits; more are run with
    CORVANE_MEMORY_LIMIT_RUNS=24 python -m pytest tests/test_out_of_memory.py
"""

import importlib.util
import os
import subprocess
import sys
import textwrap

import pytest

# An address-space limit means nothing under AddressSanitizer, which reserves terabytes.
SANITIZED = os.environ.get("CORVANE_SANITIZED") == "1"
RUNS = int(os.environ.get("CORVANE_MEMORY_LIMIT_RUNS", "4"))
MB = 1 << 20
# The exceptions that memory exhaustion may end in: the internal error, or the interpreter's
# MemoryError when not even the internal error's message can be made.
OUT_OF_MEMORY = {"corvane.InternalError", "builtins.MemoryError"}
HAS_TESTCAPI = importlib.util.find_spec("_testcapi") is not None

# The child builds a document of one million items, sets the address-space limit a little
# above what the process already uses, loads the document (from a new thread if asked), then
# lifts the limit and shows that a later load still works and that the collector is back on.
UNDER_LIMIT = textwrap.dedent("""
    import gc, re, resource, sys, threading
    import _corvane
    headroom, in_thread = int(sys.argv[1]), sys.argv[2] == "thread"
    text = "".join(f"- {i}\\n" for i in range(1_000_000))
    outcome = []
    def run():
        try:
            value = _corvane.load(text)
        except BaseException as exc:
            outcome.append(f"{type(exc).__module__}.{type(exc).__qualname__}")
        else:
            outcome.append("value" if len(value) == 1_000_000 else "wrong value")
    go = threading.Event()
    worker = threading.Thread(target=lambda: (go.wait(), run()))
    if in_thread:
        worker.start()  # its stack is mapped before the limit
    size = int(re.search(r"VmSize:\\s+(\\d+)", open("/proc/self/status").read()).group(1)) * 1024
    _, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (size + headroom, hard))
    if in_thread:
        go.set()
        worker.join()
    else:
        run()
    resource.setrlimit(resource.RLIMIT_AS, (hard, hard))
    print(outcome[0], _corvane.load("a: [1, {b: c}]") == {"a": [1, {"b": "c"}]}, gc.isenabled())
""")


def load_under_limit(headroom, where):
    # One malloc arena for every thread: a thread's own arena would reserve 64 MB of address
    # space before the limit is set, and the load would never reach the limit.
    env = dict(os.environ, MALLOC_ARENA_MAX="1")
    return subprocess.run([sys.executable, "-c", UNDER_LIMIT, str(headroom), where],
                          capture_output=True, text=True, env=env, timeout=300)


# Headroom from nothing to 16 MB, far less than the million items need (over 40 MB).
HEADROOMS = [run * 16 * MB // max(RUNS - 1, 1) for run in range(RUNS)]


@pytest.mark.skipif(SANITIZED or not os.path.exists("/proc/self/status"),
                    reason="needs an unsanitized build and Linux's /proc")
@pytest.mark.parametrize("where", ["main", "thread"])
@pytest.mark.parametrize("headroom", HEADROOMS, ids=[f"{h // 1024}KB" for h in HEADROOMS])
def test_a_memory_limit_ends_in_an_exception_not_a_dead_process(headroom, where):
    run = load_under_limit(headroom, where)
    assert run.returncode == 0, run.stderr[-2000:]
    outcome, usable, collecting = run.stdout.split()
    assert outcome in OUT_OF_MEMORY and usable == collecting == "True", run.stdout


def test_a_failed_cpp_allocation_is_the_internal_error():
    # The block scalar's text (64 MB) is assembled in C++ memory, which the limit refuses.
    code = textwrap.dedent("""
        import gc, re, resource
        import _corvane
        text = "a: |\\n" + "  xxxxxxxxxxxxxx\\n" * (4 << 20)
        size = int(re.search(r"VmSize:\\s+(\\d+)", open("/proc/self/status").read()).group(1))
        resource.setrlimit(resource.RLIMIT_AS, (size * 1024 + (8 << 20), resource.RLIM_INFINITY))
        try:
            _corvane.load(text)
        except BaseException as exc:
            print(f"{type(exc).__module__}.{type(exc).__qualname__}: {exc}", gc.isenabled())
    """)
    if SANITIZED or not os.path.exists("/proc/self/status"):
        pytest.skip("needs an unsanitized build and Linux's /proc")
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=300)
    assert (run.returncode, run.stdout) == (0, "corvane.InternalError: Memory allocation failed True\n")


# Fails each allocation of the interpreter during a small load in turn, in all four flag
# combinations, and counts how the loads ended. The internal error must get past
# `except Exception` handlers.
EACH_ALLOCATION = textwrap.dedent("""
    import collections, itertools, _corvane, _testcapi
    text = ("a:\\n  - 1\\n  - x: [y, 2.5, {k: true}]\\n  - |\\n    text \u00e9\\n"
            "b: \\"q\\\\u00e9\\"\\nc: {d: [e, -7]}\\nd: > \\n  f\\n  g\\n")
    counts = collections.Counter()
    for strict, bools in itertools.product((False, True), repeat=2):
        expected = _corvane.load(text, strict, bools)
        clean = 0
        for failing in itertools.count():
            _testcapi.set_nomemory(failing, failing + 1)
            try:
                value = _corvane.load(text, strict, bools)
            except BaseException as exc:
                _testcapi.remove_mem_hooks()
                counts[f"{type(exc).__module__}.{type(exc).__qualname__}"] += 1
                assert type(exc) is MemoryError or type(exc).__bases__ == (BaseException,)
                clean = 0
            else:
                _testcapi.remove_mem_hooks()
                counts["value" if value == expected else "wrong value"] += 1
                clean += 1
            assert _corvane.load(text, strict, bools) == expected
            if clean == 200:  # the loads no longer reach the failing allocation
                break
    print(sorted(counts.items()))
""")


@pytest.mark.skipif(not HAS_TESTCAPI, reason="the interpreter has no _testcapi")
def test_a_failed_allocation_at_each_point_of_a_load_leaves_the_interpreter_usable():
    run = subprocess.run([sys.executable, "-c", EACH_ALLOCATION],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr[-2000:]
    counts = dict(eval(run.stdout))
    assert set(counts) <= OUT_OF_MEMORY | {"value"}, counts
    assert counts.get("corvane.InternalError", 0) > 0, counts


# The internal error names the operation that failed and, where the interpreter's error is
# still pending, that error too.
EACH_ALLOCATION_MESSAGES = textwrap.dedent("""
    import itertools, _corvane, _testcapi
    text = "a:\\n  - 1\\n  - x: [y, 2.5, {k: true}]\\nb: {c: [d, e, f, g, h]}\\n"
    messages, clean = set(), 0
    for failing in itertools.count():
        _testcapi.set_nomemory(failing, failing + 1)
        try:
            _corvane.load(text)
        except BaseException as exc:
            _testcapi.remove_mem_hooks()
            if type(exc).__name__ == "InternalError":
                messages.add(str(exc))
            clean = 0
        else:
            _testcapi.remove_mem_hooks()
            clean += 1
            if clean == 200:
                break
    print(sorted(messages))
""")


@pytest.mark.skipif(not HAS_TESTCAPI, reason="the interpreter has no _testcapi")
def test_the_internal_error_of_a_failed_allocation_names_the_call_and_the_error():
    run = subprocess.run([sys.executable, "-c", EACH_ALLOCATION_MESSAGES],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr[-2000:]
    assert eval(run.stdout) == ["PyDict::set_item failed: MemoryError", "PyList::append failed: MemoryError",
                                "Python API call failed"]
