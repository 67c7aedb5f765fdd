"""Block mappings and sequences: pending keys and items, indentation, root, entries, duplicates."""

import pytest

from conftest import (ALL_FLAGS, FLAG_IDS, ParseError as P, UnsupportedFeatureError as U,
                      assert_fails, assert_loads)

# Every test here runs through both flow readers (see conftest).
pytestmark = pytest.mark.usefixtures("both_flow_readers")

BAD_INDENT = "Unexpected indentation (no pending key or item)"
BARE = "Unexpected bare scalar inside a container"
FLOW = "Unexpected flow collection (no pending key or item)"
AFTER_ROOT = ("Unexpected content after the document root (multi-line plain scalars and "
              "multi-document streams are not supported)")
WANT_SEQ = "Expected sequence entry but found a mapping context"
WANT_MAP = "Expected mapping entry but found a sequence context"
MERGE = "Merge keys (<<) are not supported in Corvane"
TAB = "Tabs are not permitted; use 2-space indentation"


@pytest.mark.parametrize("text, expected", [
    # pending keys and items
    pytest.param("a:\nb: 1", {"a": None, "b": 1}, id="pending-key-resolved-by-next-key"),
    pytest.param("a:\n  b:", {"a": {"b": None}}, id="nested-pending-key-at-end"),
    pytest.param("-\n- b", [None, "b"], id="pending-item-resolved-by-next-item"),
    pytest.param("-\n  - a", [["a"]], id="pending-item-takes-sequence"),
    pytest.param("- \n  a: 1", [{"a": 1}], id="dash-space-pending-takes-mapping"),
    pytest.param("a: \u3000 \n  b: 1", {"a": {"b": 1}}, id="whitespace-value-leaves-key-pending"),
    pytest.param("a: \u00a0\n  b: 1\nc: \x85\n  - 2", {"a": {"b": 1}, "c": [2]}, id="two-byte-whitespace-value-leaves-key-pending"),
    pytest.param("key:\n[1, 2]", {"key": [1, 2]}, id="flow-line-at-key-column"),
    pytest.param("key:\n      [1]\nb: 2", {"key": [1], "b": 2}, id="flow-line-any-deeper-indent"),
    # nesting and closing
    pytest.param("key:\n- a\n- b\nnext: 1", {"key": ["a", "b"], "next": 1}, id="sequence-at-key-column"),
    pytest.param("a:\n  b:\n  - 1\n  c: 2\nd: 3", {"a": {"b": [1], "c": 2}, "d": 3}, id="nested-sequence-at-key-column"),
    pytest.param("a:\n    b: 1", {"a": {"b": 1}}, id="four-space-step"),
    pytest.param("a:\n  b:\n    c: 1\n  d: 2\ne: 3", {"a": {"b": {"c": 1}, "d": 2}, "e": 3}, id="close-several-levels"),
    pytest.param("- - x\n  - y\n- z", [["x", "y"], "z"], id="nested-sequence-in-item"),
    pytest.param("- -\n  - y", [[None, "y"]], id="nested-pending-item-resolved"),
    pytest.param("- a: 1\n  b: 2\n- c: 3", [{"a": 1, "b": 2}, {"c": 3}], id="mappings-in-items"),
    pytest.param("- a:\n  - 1\n  b: 2", [{"a": [1], "b": 2}], id="item-mapping-key-column-sequence"),
    pytest.param("  a: 1\n  b: 2", {"a": 1, "b": 2}, id="indented-root-mapping"),
    pytest.param("  hello", "hello", id="indented-root-scalar"),
    # more than one space after the dash
    pytest.param("-  a: 1\n  b: 2", [{"a": 1, "b": 2}], id="wide-dash-mapping"),
    pytest.param("-  k: |\n    t", [{"k": "t\n"}], id="wide-dash-mapping-block-value"),
    pytest.param("-   ", [None], id="spaces-only-item"),
    pytest.param("k:\n  -  [1]\n  -  - x\n    - y\n  -  # c\n  -  |\n   t",
                 {"k": [[1], ["x", "y"], None, "t\n"]}, id="wide-dash-forms-in-mapping"),
    # mapping entries
    pytest.param("key  :  v\nk2\u00a0: \u3000v", {"key": "v", "k2": "v"}, id="whitespace-around-entry-trimmed"),
    pytest.param("1: a\nnull: b\ntrue: c\n1.5: d\n~x: e", {1: "c", None: "b", 1.5: "d", "~x": "e"}, id="typed-keys"),
    pytest.param("'<<': x\n\"<<\": y\n<<<: z", {"<<": "y", "<<<": "z"}, id="not-merge-keys"),
    # value dispatch
    pytest.param("- #y\n- z", [None, "z"], id="hash-first-item-is-comment"),
    pytest.param("- # a: b", [None], id="comment-item-with-colon-is-null"),
    pytest.param("-   # todo: x", [None], id="wide-dash-comment-item-with-colon-is-null"),
    pytest.param("- - # a: b", [[None]], id="nested-comment-item-with-colon-is-null"),
    pytest.param("k:\n  - #a: b\n  - c", {"k": [None, "c"]}, id="comment-item-in-mapping"),
    pytest.param("key: # a: b", {"key": None}, id="comment-value-with-colon-is-null"),
    pytest.param("- [ # c ]", [["# c"]], id="hash-inside-flow-item-unchanged"),
    pytest.param("key: - a\nk2: ? b\nk3: %x\nk4: ---", {"key": "- a", "k2": "? b", "k3": "%x", "k4": "---"},
                 id="plain-values-not-special"),
])
def test_loads(text, expected):
    assert_loads(text, expected)


@pytest.mark.parametrize("text, exc, message", [
    pytest.param("-  \n  a: 1", P, f"line 2: {BAD_INDENT}", id="spaces-only-item-not-pending"),
    pytest.param("-  # note\n  a: 1", P, f"line 2: {BAD_INDENT}", id="wide-dash-comment-not-pending"),
    pytest.param("key: # note\n  nested: 1", P, f"line 2: {BAD_INDENT}", id="comment-value-not-pending"),
    pytest.param("- # a: b\n  c: 1", P, f"line 2: {BAD_INDENT}", id="comment-item-with-colon-opens-no-mapping"),
    pytest.param("a: 1\n  b: 2", P, f"line 2: {BAD_INDENT}", id="mapping-over-indented"),
    pytest.param("a: 1\n  - b", P, f"line 2: {BAD_INDENT}", id="sequence-over-indented"),
    pytest.param("a:\n   b: 1", P, "line 2: Invalid indentation: 3 spaces (must be a multiple of 2)", id="odd-indent"),
    pytest.param("-  - x\n   - y", P, "line 2: Invalid indentation: 3 spaces (must be a multiple of 2)", id="wide-dash-column-unchanged"),
    pytest.param("a: 1\n- b", P, f"line 2: {WANT_SEQ}", id="sequence-in-complete-mapping"),
    pytest.param("- a\nb: 1", P, f"line 2: {WANT_MAP}", id="mapping-in-sequence"),
    # A sequence is closed by an entry at its column only when it fills a key at that column.
    pytest.param("a:\n  - 1\n  - 2\n  b: 3", P, f"line 4: {WANT_MAP}", id="entry-at-column-of-sequence-under-key"),
    pytest.param("x:\n  a:\n    - 1\n    b: 2", P, f"line 4: {WANT_MAP}", id="entry-at-column-of-nested-sequence-under-key"),
    pytest.param("- - 1\n  b: 2", P, f"line 2: {WANT_MAP}", id="entry-at-column-of-sequence-in-item"),
    pytest.param("a: 1\n[1, 2]", P, f"line 2: {FLOW}", id="flow-line-no-pending"),
    pytest.param("- a\n  [1]", P, f"line 2: {FLOW}", id="flow-line-under-complete-item"),
    pytest.param("key:\n  value", P, f"line 2: {BARE}", id="scalar-for-pending-key"),
    pytest.param("hello\nworld", P, f"line 2: {AFTER_ROOT}", id="second-scalar-line"),
    pytest.param("[1]\n[2]", P, f"line 2: {AFTER_ROOT}", id="second-flow-root"),
    pytest.param("  a: 1\nb: 2", P, f"line 2: {AFTER_ROOT}", id="outdent-below-root-column"),
    pytest.param("[1]\n<<: !x", P, f"line 2: {AFTER_ROOT}", id="after-root-before-entry-checks"),
    pytest.param("x\n- !t", P, f"line 2: {AFTER_ROOT}", id="after-root-before-item-checks"),
    pytest.param("a: 1\n<<  :", U, f"line 2: {MERGE}", id="merge-key-pending-trailing-spaces"),
    pytest.param("<<: !x", U, f"line 1: {MERGE}", id="merge-before-value"),
    pytest.param("k:\n  -   <<: x", U, f"line 2: {MERGE}", id="merge-after-wide-dash-nested"),
    pytest.param("a: 1\n  <<: x", P, f"line 2: {BAD_INDENT}", id="indentation-before-merge"),
])
def test_fails(text, exc, message):
    assert_fails(text, exc, message)


# (text, value without strict or None for a tag error, full strict error or None)
DUPLICATES = [
    pytest.param("a:\na: 1", {"a": 1}, "line 2: Duplicate key: 'a'", id="pending-key-counts"),
    pytest.param("a:\n  x: 1\nb: 2\na: 3", {"a": 3, "b": 2}, "line 4: Duplicate key: 'a'",
                 id="after-nested-block-first-position-kept"),
    pytest.param("a:\n- 1\na: 2", {"a": 2}, "line 3: Duplicate key: 'a'", id="after-key-column-sequence"),
    pytest.param("1: a\n1.0: b", {1: "b"}, "line 2: Duplicate key: 1.0", id="int-and-float"),
    pytest.param("~: 1\nnull: 2", {None: 2}, "line 2: Duplicate key: None", id="null-forms"),
    pytest.param("\"a\": 1\na: 2", {"a": 2}, "line 2: Duplicate key: 'a'", id="quoted-and-plain"),
    pytest.param("it's: 1\nit's: 2", {"it's": 2}, "line 2: Duplicate key: \"it's\"", id="repr-quoting"),
    pytest.param("ключ: 1\nключ: 2", {"ключ": 2}, "line 2: Duplicate key: 'ключ'", id="non-ascii-repr"),
    pytest.param("- a: 1\n  a: 2", [{"a": 2}], "line 2: Duplicate key: 'a'", id="item-mapping"),
    pytest.param("a: 1\na: !x", None, "line 2: Duplicate key: 'a'", id="checked-before-value"),
    pytest.param("- a: 1\n- a: 2", [{"a": 1}, {"a": 2}], None, id="separate-mappings"),
    pytest.param("'1': a\n1: b", {"1": "a", 1: "b"}, None, id="string-and-int-differ"),
]


@pytest.mark.parametrize("flags", ALL_FLAGS, ids=FLAG_IDS)
@pytest.mark.parametrize("text, loose, strict_error", DUPLICATES)
def test_duplicate_keys(text, loose, strict_error, flags):
    if flags["strict"] and strict_error:
        assert_fails(text, P, strict_error, **flags)
    elif loose is None:
        assert_fails(text, U, "line 2: Tags are not supported in Corvane", **flags)
    else:
        assert_loads(text, loose, **flags)

