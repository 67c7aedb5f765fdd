"""Repeated loads leave nothing behind, on success and on every kind of failure, and
concurrent loads from several threads give the sequential results."""

import ast
import gc
import pathlib
import sys
import threading
import tracemalloc

import pytest

from conftest import ALL_FLAGS, CorvaneError, load, same_value, traced_growth

DOCUMENTS = [
    "a:\n  - 1\n  - x: y\n    z: [1, {b: ~}, 'q''s', \"\\u00e9\"]\nc: |\n  text\nd: .nan\ne: true",
    "- - - x\n  - {a: [true, false, null]}\n- >-\n  folded\n  text\n-",
    "k: 1\nk: 2\n1: a\ntrue: b\n1.0: c",  # strict refuses at line 2
    "a:\n  b:\n    c: [1, 2, {d: [3, \"\\q\"]}]",  # fails deep inside a flow collection
    "a:\n  - b: {x: 1}\n    c: \"unclosed",
    "a:\n  - 1\n  - &anchor 2",
    "a: [1, 2\nb: 3",
    "x: |\n  one\n   \t\n\tbad",
    "- a\n- b\nc: d",
    "a: {k: [1, [2, [3}]]}",
    "---\na: 1",
]



def suite_documents():
    """Every string literal of the test suite: valid documents, invalid ones and fragments."""
    texts = set()
    for path in sorted(pathlib.Path(__file__).parent.glob("test_*.py")):
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            if isinstance(node, ast.Constant) and isinstance(node.value, str):
                texts.add(node.value)
    return sorted(texts)


def outcome(text, flags):
    try:
        return load(text, **flags)
    except CorvaneError as exc:
        return (type(exc), exc.args)
    except UnicodeEncodeError:  # literals with lone surrogates
        return UnicodeEncodeError


def load_all(documents=DOCUMENTS):
    for text in documents:
        for flags in ALL_FLAGS:
            outcome(text, flags)


def test_singleton_reference_counts_stay_flat():
    load_all()
    before = [sys.getrefcount(obj) for obj in (None, True, False)]
    for _ in range(200):
        load_all()
    assert [sys.getrefcount(obj) for obj in (None, True, False)] == before


def test_traced_memory_stays_flat():
    load_all()
    # 300 rounds of 44 loads: a single leaked object per load would add hundreds of kilobytes.
    assert traced_growth(load_all, 300) < 20_000


def test_failed_load_leaves_no_pending_exception():
    for text in DOCUMENTS:
        try:
            load(text, strict=True)
        except CorvaneError as exc:
            assert exc.__context__ is None
        # A pending exception would surface here as a SystemError or be chained.
        assert load("ok: 1") == {"ok": 1}
        assert sys.exc_info() == (None, None, None)


def test_every_test_document_leaves_nothing_behind():
    documents = suite_documents()
    assert len(documents) > 1000
    load_all(documents)
    gc.collect()
    refcounts = [sys.getrefcount(obj) for obj in (None, True, False)]
    objects = len(gc.get_objects())
    tracemalloc.start()
    try:
        baseline, _ = tracemalloc.get_traced_memory()
        for _ in range(5):
            load_all(documents)
        gc.collect()
        current, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert [sys.getrefcount(obj) for obj in (None, True, False)] == refcounts
    # A container kept alive by a stray reference would stay tracked by the collector.
    assert len(gc.get_objects()) - objects < 50
    assert current - baseline < 50_000


# One object per distinct key is kept in a cache of a thousand-odd slots for the length of a load,
# and a key that lands on a taken slot replaces the one there: these documents, with fifty
# times more distinct keys than slots, make every load release most of its cached keys that
# way, and the rest when the load ends.
MANY_KEYS = 50_000
KEY_DOCUMENTS = {
    "block-keys": ("".join(f"key{i}: {i}\n" for i in range(MANY_KEYS)),
                   {f"key{i}": i for i in range(MANY_KEYS)}),
    "quoted-block-keys": ("".join(f"'q{i}': {i}\n" for i in range(MANY_KEYS)),
                          {f"q{i}": i for i in range(MANY_KEYS)}),
    "flow-keys": ("{" + ", ".join(f"f{i}: {i}" for i in range(MANY_KEYS)) + "}",
                  {f"f{i}": i for i in range(MANY_KEYS)}),
    "flow-maps-in-items": ("".join(f"- {{a{i}: 1, 'b{i}': 2}}\n" for i in range(MANY_KEYS // 2)),
                           [{f"a{i}": 1, f"b{i}": 2} for i in range(MANY_KEYS // 2)]),
}


@pytest.mark.skipif(sys.getallocatedblocks() == 0,
                    reason="the interpreter's own allocator is off (PYTHONMALLOC=malloc)")
@pytest.mark.parametrize("name", KEY_DOCUMENTS)
def test_keys_that_leave_the_key_cache_are_released(name):
    text, expected = KEY_DOCUMENTS[name]
    assert load(text) == expected
    gc.collect()
    blocks = sys.getallocatedblocks()
    for _ in range(5):
        load(text)
    gc.collect()
    # Each key object is a block of the interpreter's allocator: five loads that kept alive
    # only the keys in the first 64 slots at the end would leave hundreds.
    assert sys.getallocatedblocks() - blocks < 100


def test_eight_threads_get_the_sequential_results():
    documents = suite_documents()
    jobs = [(documents[i::8], ALL_FLAGS[i % 4]) for i in range(8)]
    expected = [[outcome(text, flags) for text in texts] for texts, flags in jobs]
    results = [None] * 8
    start = threading.Barrier(8)

    def work(index):
        texts, flags = jobs[index]
        start.wait()
        results[index] = [[outcome(text, flags) for text in texts] for _ in range(3)]

    threads = [threading.Thread(target=work, args=(i,)) for i in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for index in range(8):
        for run in results[index]:
            assert len(run) == len(expected[index])
            for got, want in zip(run, expected[index]):
                assert got == want if isinstance(want, tuple) or want is UnicodeEncodeError \
                    else same_value(got, want)


# A load that fails, or a flow reader that gives up, inside nested sequences releases the
# items read so far. Long items make a leak of one show.
LONG = "x" * 2000
PENDING_ITEMS = [
    # Fails in a flow sequence nested in block sequences.
    (f"- - {LONG}\n  - [{LONG}, [{LONG}, \"\\q\"]]\n", None),
    # Fails at the next line with items of three open block sequences waiting.
    (f"- - - {LONG}\n    - {LONG}\n  - {LONG}\n - bad", None),
    # The quick reader gives up at the trailing comma, the exact reader reads it again.
    (f"k: [{LONG}, [{LONG}, ], ]", {"k": [LONG, [LONG]]}),
    # The exact reader fails after the quick one gave up.
    (f"k: [{LONG}, [{LONG}, ], !tag x]", None),
    # Sequences finished inside a mapping that then fails.
    (f"a:\n  - {LONG}\n  - [{LONG}]\nb: [{LONG}\n", None),
    # Fails after many items.
    ("k: [" + ", ".join(["a"] * 5000) + f", [{LONG}, \"\\q\"]]", None),
    ("".join("- a\n" for _ in range(5000)) + f"- - {LONG}\n  - [{LONG}\n", None),
]


# Long sequences keep their items in order, nested sequences among them.
@pytest.mark.parametrize("count", [1, 4095, 4096, 4097, 20_000])
def test_long_sequences_keep_their_items_in_order(count):
    numbers = list(range(count))
    flow = "k: [" + ", ".join(map(str, numbers)) + ", [x, [y]]]\nj: [a, [b, c]]"
    assert load(flow) == {"k": numbers + [["x", ["y"]]], "j": ["a", ["b", "c"]]}
    block = "".join(f"- {i}\n" for i in numbers) + "- [x, [y]]\n- - z\n  - w\n"
    assert load(block) == numbers + [["x", ["y"]], ["z", "w"]]
    nested = "- - " + "\n  - ".join(map(str, numbers)) + "\n- q\n"
    assert load(nested) == [numbers, "q"]


@pytest.mark.parametrize("text, expected", PENDING_ITEMS)
def test_items_of_unfinished_sequences_are_released(text, expected):
    def run():
        # Outcomes are compared after the traced rounds: pytest.raises keeps tracebacks.
        return [outcome(text, flags) for flags in ALL_FLAGS]
    outcomes = run()
    if expected is None:
        assert all(isinstance(o, tuple) and issubclass(o[0], CorvaneError) for o in outcomes)
    else:
        assert outcomes == [expected] * len(ALL_FLAGS)
    # One item of 2 KB left behind per load would add 800 KB.
    assert traced_growth(run, 100) < 20_000
