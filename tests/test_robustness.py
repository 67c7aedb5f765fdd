"""Repeated loads leave nothing behind, on success and on every kind of failure."""

import sys
import tracemalloc

from conftest import ALL_FLAGS, CorvaneError, load

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


def load_all():
    for text in DOCUMENTS:
        for flags in ALL_FLAGS:
            try:
                load(text, **flags)
            except CorvaneError:
                pass


def test_singleton_reference_counts_stay_flat():
    load_all()
    before = [sys.getrefcount(obj) for obj in (None, True, False)]
    for _ in range(200):
        load_all()
    assert [sys.getrefcount(obj) for obj in (None, True, False)] == before


def test_traced_memory_stays_flat():
    load_all()
    tracemalloc.start()
    try:
        load_all()
        baseline, _ = tracemalloc.get_traced_memory()
        for _ in range(300):
            load_all()
        current, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    # 300 rounds of 44 loads: a single leaked object per load would add hundreds of kilobytes.
    assert current - baseline < 20_000


def test_failed_load_leaves_no_pending_exception():
    for text in DOCUMENTS:
        try:
            load(text, strict=True)
        except CorvaneError as exc:
            assert exc.__context__ is None
        # A pending exception would surface here as a SystemError or be chained.
        assert load("ok: 1") == {"ok": 1}
        assert sys.exc_info() == (None, None, None)
