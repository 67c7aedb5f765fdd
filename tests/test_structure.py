"""Block structure: mappings and sequences, pending keys and items, indentation and root
errors, mapping entries (typed keys, merge key, duplicate keys) and value dispatch."""

import pytest

from conftest import (ALL_FLAGS, FLAG_IDS, ParseError as P, UnsupportedFeatureError as U,
                      assert_fails, assert_loads)

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
    pytest.param("a:", {"a": None}, id="key-alone"),
    pytest.param("a:\nb: 1", {"a": None, "b": 1}, id="pending-key-resolved-by-next-key"),
    pytest.param("a:\n  b:", {"a": {"b": None}}, id="nested-pending-key-at-end"),
    pytest.param("-\n- b", [None, "b"], id="pending-item-resolved-by-next-item"),
    pytest.param("- a\n-", ["a", None], id="pending-item-at-end"),
    pytest.param("-\n  - a", [["a"]], id="pending-item-takes-sequence"),
    pytest.param("- \n  a: 1", [{"a": 1}], id="dash-space-pending-takes-mapping"),
    pytest.param("-\n  {a: 1}", [{"a": 1}], id="pending-item-takes-flow-line"),
    pytest.param("a:  \n  b: 1", {"a": {"b": 1}}, id="trailing-spaces-leave-key-pending"),
    pytest.param("a: \u3000\n  b: 1", {"a": {"b": 1}}, id="unicode-space-value-leaves-key-pending"),
    pytest.param("key:\n  [1, 2]", {"key": [1, 2]}, id="flow-line-more-indented"),
    pytest.param("key:\n[1, 2]", {"key": [1, 2]}, id="flow-line-at-key-column"),
    pytest.param("key:\n      [1]\nb: 2", {"key": [1], "b": 2}, id="flow-line-any-deeper-indent"),
    # nesting and closing
    pytest.param("key:\n- a\n- b\nnext: 1", {"key": ["a", "b"], "next": 1}, id="sequence-at-key-column"),
    pytest.param("a:\n  b:\n  - 1\n  c: 2\nd: 3", {"a": {"b": [1], "c": 2}, "d": 3}, id="nested-sequence-at-key-column"),
    pytest.param("a:\n  b:\n  - 1\nc: 2", {"a": {"b": [1]}, "c": 2}, id="key-column-sequence-closed-by-outdent"),
    pytest.param("a:\n    b: 1", {"a": {"b": 1}}, id="four-space-step"),
    pytest.param("a:\n  b:\n    c: 1\n  d: 2\ne: 3", {"a": {"b": {"c": 1}, "d": 2}, "e": 3}, id="close-several-levels"),
    pytest.param("- - x\n  - y\n- z", [["x", "y"], "z"], id="nested-sequence-in-item"),
    pytest.param("- -", [[None]], id="nested-lone-dash"),
    pytest.param("- -\n  - y", [[None, "y"]], id="nested-pending-item-resolved"),
    pytest.param("- a: 1\n  b: 2\n- c: 3", [{"a": 1, "b": 2}, {"c": 3}], id="mappings-in-items"),
    pytest.param("- a:\n  - 1\n  b: 2", [{"a": [1], "b": 2}], id="item-mapping-key-column-sequence"),
    pytest.param("  a: 1\n  b: 2", {"a": 1, "b": 2}, id="indented-root-mapping"),
    pytest.param("  hello", "hello", id="indented-root-scalar"),
    pytest.param("[1, 2]\n# c\n\n", [1, 2], id="flow-root-then-comment"),
    pytest.param("|\n  text", "text\n", id="block-scalar-root"),
    # more than one space after the dash
    pytest.param("-  [1, 2]", [[1, 2]], id="wide-dash-flow-sequence"),
    pytest.param("-  # note\n- b", [None, "b"], id="wide-dash-comment"),
    pytest.param("-  - x\n  - y", [["x", "y"]], id="wide-dash-nested-sequence"),
    pytest.param("-   - x\n  - y", [["x", "y"]], id="three-spaces-nested-sequence-same-column"),
    pytest.param("-  - - x", [[["x"]]], id="wide-dash-twice-nested"),
    pytest.param("-  a: 1\n  b: 2", [{"a": 1, "b": 2}], id="wide-dash-mapping"),
    pytest.param('-  "a: b": c', [{"a: b": "c"}], id="wide-dash-quoted-key"),
    pytest.param("-  '<<': x", [{"<<": "x"}], id="wide-dash-quoted-merge-text"),
    pytest.param('-  "x" # y: z', ["x"], id="wide-dash-quoted-comment"),
    pytest.param("-  |\n  text", ["text\n"], id="wide-dash-literal"),
    pytest.param("-  >-\n a\n b", ["a b"], id="wide-dash-folded-dash-column"),
    pytest.param("-  k: |\n    t", [{"k": "t\n"}], id="wide-dash-mapping-block-value"),
    pytest.param("-   ", [None], id="spaces-only-item"),
    pytest.param("k:\n  -  [1]\n  -  - x\n    - y\n  -  # c\n  -  |\n   t",
                 {"k": [[1], ["x", "y"], None, "t\n"]}, id="wide-dash-forms-in-mapping"),
    # mapping entries
    pytest.param("key:   value", {"key": "value"}, id="value-leading-spaces"),
    pytest.param("key  : value", {"key": "value"}, id="key-trailing-spaces"),
    pytest.param("key\u00a0: \u3000value", {"key": "value"}, id="unicode-whitespace-around-entry"),
    pytest.param("1: a\nnull: b\ntrue: c\n1.5: d\n~x: e", {1: "c", None: "b", 1.5: "d", "~x": "e"}, id="typed-keys"),
    pytest.param("'1': a\n\"null\": b", {"1": "a", "null": "b"}, id="quoted-keys-untyped"),
    pytest.param("'<<': x\n\"<<\": y\n<<<: z", {"<<": "y", "<<<": "z"}, id="not-merge-keys"),
    # value dispatch
    pytest.param("a: # note", {"a": None}, id="comment-value-null"),
    pytest.param("a: #x\nb: 1", {"a": None, "b": 1}, id="hash-first-value-is-comment"),
    pytest.param("- #y\n- z", [None, "z"], id="hash-first-item-is-comment"),
    pytest.param("key: [1, 2]\nk2: {a: 1}", {"key": [1, 2], "k2": {"a": 1}}, id="flow-values"),
    pytest.param("key: |\n  text\nk2: >\n  a\n  b", {"key": "text\n", "k2": "a b\n"}, id="block-values"),
    pytest.param("key: 'q'\nk2: \"12\"\nk3: 12", {"key": "q", "k2": "12", "k3": 12}, id="scalar-values"),
    pytest.param("key: - a\nk2: ? b\nk3: a#b", {"key": "- a", "k2": "? b", "k3": "a#b"}, id="plain-values-not-special"),
    pytest.param("- |\n text", ["text\n"], id="item-block-parent-is-dash-column"),
    pytest.param("- k: |\n   text", [{"k": "text\n"}], id="item-mapping-block-parent-is-key-column"),
    pytest.param("a:\n  b: |\n    x\n  c: 1", {"a": {"b": "x\n", "c": 1}}, id="line-after-block-parsed"),
])
def test_loads(text, expected):
    assert_loads(text, expected)


@pytest.mark.parametrize("text, exc, message", [
    pytest.param("-  \n  a: 1", P, f"line 2: {BAD_INDENT}", id="spaces-only-item-not-pending"),
    pytest.param("-  # note\n  a: 1", P, f"line 2: {BAD_INDENT}", id="wide-dash-comment-not-pending"),
    pytest.param("key: # note\n  nested: 1", P, f"line 2: {BAD_INDENT}", id="comment-value-not-pending"),
    pytest.param("- a: 1\n    b: 2", P, f"line 2: {BAD_INDENT}", id="item-mapping-over-indented"),
    pytest.param("a: 1\n  b: 2", P, f"line 2: {BAD_INDENT}", id="mapping-over-indented"),
    pytest.param("a: 1\n  - b", P, f"line 2: {BAD_INDENT}", id="sequence-over-indented"),
    pytest.param("a:\n  b: 1\n      c: 2", P, f"line 3: {BAD_INDENT}", id="deep-over-indent"),
    pytest.param("k:\n- a\n  c: 1", P, f"line 3: {BAD_INDENT}", id="mapping-under-complete-item"),
    pytest.param("a:\n   b: 1", P, "line 2: Invalid indentation: 3 spaces (must be a multiple of 2)", id="odd-indent"),
    pytest.param("-  - x\n   - y", P, "line 2: Invalid indentation: 3 spaces (must be a multiple of 2)", id="wide-dash-column-unchanged"),
    pytest.param("a: 1\n- b", P, f"line 2: {WANT_SEQ}", id="sequence-in-complete-mapping"),
    pytest.param("- a: 1\n  - b", P, f"line 2: {WANT_SEQ}", id="sequence-in-item-mapping"),
    pytest.param("- a\nb: 1", P, f"line 2: {WANT_MAP}", id="mapping-in-sequence"),
    pytest.param("- - a\n  b: 1", P, f"line 2: {WANT_MAP}", id="mapping-in-nested-sequence"),
    pytest.param("a: 1\n[1, 2]", P, f"line 2: {FLOW}", id="flow-line-no-pending"),
    pytest.param("- a\n  [1]", P, f"line 2: {FLOW}", id="flow-line-under-complete-item"),
    pytest.param("a:\n  b: 1\n[2]", P, f"line 3: {FLOW}", id="flow-line-after-close"),
    pytest.param("key:\n  value", P, f"line 2: {BARE}", id="scalar-for-pending-key"),
    pytest.param("-\n  x", P, f"line 2: {BARE}", id="scalar-for-pending-item"),
    pytest.param("a: 1\nb", P, f"line 2: {BARE}", id="bare-scalar-in-mapping"),
    pytest.param("- k: |\n  text", P, f"line 2: {BARE}", id="block-not-deeper-than-key"),
    pytest.param("hello\nworld", P, f"line 2: {AFTER_ROOT}", id="second-scalar-line"),
    pytest.param("|\n  text\nmore", P, f"line 3: {AFTER_ROOT}", id="after-block-root"),
    pytest.param("[1]\n[2]", P, f"line 2: {AFTER_ROOT}", id="second-flow-root"),
    pytest.param("x\na: 1", P, f"line 2: {AFTER_ROOT}", id="mapping-after-scalar"),
    pytest.param("x\n- a", P, f"line 2: {AFTER_ROOT}", id="sequence-after-scalar"),
    pytest.param("  a: 1\nb: 2", P, f"line 2: {AFTER_ROOT}", id="outdent-below-root-column"),
    pytest.param("[1]\n<<: !x", P, f"line 2: {AFTER_ROOT}", id="after-root-before-entry-checks"),
    pytest.param("x\n- !t", P, f"line 2: {AFTER_ROOT}", id="after-root-before-item-checks"),
    pytest.param("- \t[1]", P, f"line 1: {TAB}", id="tab-check-before-space-skip"),
    pytest.param("<<: x", U, f"line 1: {MERGE}", id="merge-key"),
    pytest.param("a: 1\n<<  :", U, f"line 2: {MERGE}", id="merge-key-pending-trailing-spaces"),
    pytest.param("<<: !x", U, f"line 1: {MERGE}", id="merge-before-value"),
    pytest.param("- <<: {a: 1}", U, f"line 1: {MERGE}", id="merge-in-item"),
    pytest.param("-  <<: x", U, f"line 1: {MERGE}", id="merge-after-wide-dash"),
    pytest.param("k:\n  -   <<: x", U, f"line 2: {MERGE}", id="merge-after-wide-dash-nested"),
    pytest.param("a: 1\n  <<: x", P, f"line 2: {BAD_INDENT}", id="indentation-before-merge"),
    pytest.param("!t k: v", U, "line 1: Tags are not supported in Corvane", id="key-tag"),
    pytest.param("a: *x", U, "line 1: Aliases are not supported in Corvane", id="value-alias"),
    pytest.param('"k" x: v', P, "line 1: Unexpected content after quoted scalar", id="key-quote-tail"),
    pytest.param("a:\n  b: c: d", P, "line 2: Unexpected ':' in a plain scalar value (nested mappings "
                 "must use quotes or a new line)", id="value-colon"),
    pytest.param("- |x", P, "line 1: invalid block scalar header", id="item-block-header"),
])
def test_fails(text, exc, message):
    assert_fails(text, exc, message)


# (text, value without strict or None for a tag error, full strict error or None)
DUPLICATES = [
    pytest.param("a: 1\na: 2", {"a": 2}, "line 2: Duplicate key: 'a'", id="repeated-key"),
    pytest.param("a:\na: 1", {"a": 1}, "line 2: Duplicate key: 'a'", id="pending-key-counts"),
    pytest.param("a:\n  x: 1\na: 2", {"a": 2}, "line 3: Duplicate key: 'a'", id="after-nested-block"),
    pytest.param("a:\n- 1\na: 2", {"a": 2}, "line 3: Duplicate key: 'a'", id="after-key-column-sequence"),
    pytest.param("1: a\n1.0: b", {1: "b"}, "line 2: Duplicate key: 1.0", id="int-and-float"),
    pytest.param("true: 1\n1: 2", {True: 2}, "line 2: Duplicate key: 1", id="bool-and-int"),
    pytest.param("~: 1\nnull: 2", {None: 2}, "line 2: Duplicate key: None", id="null-forms"),
    pytest.param("\"a\": 1\na: 2", {"a": 2}, "line 2: Duplicate key: 'a'", id="quoted-and-plain"),
    pytest.param("it's: 1\nit's: 2", {"it's": 2}, "line 2: Duplicate key: \"it's\"", id="repr-quoting"),
    pytest.param("ключ: 1\nключ: 2", {"ключ": 2}, "line 2: Duplicate key: 'ключ'", id="non-ascii-repr"),
    pytest.param("a:\n  b: 1\n  b: 2", {"a": {"b": 2}}, "line 3: Duplicate key: 'b'", id="nested-mapping"),
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


@pytest.mark.parametrize("flags", ALL_FLAGS, ids=FLAG_IDS)
def test_duplicate_depends_on_boolean_words(flags):
    text = "yes: 1\ntrue: 2\non: 3"
    if not flags["yaml_1_1_bools"]:
        assert_loads(text, {"yes": 1, True: 2, "on": 3}, **flags)
    elif flags["strict"]:
        assert_fails(text, P, "line 2: Duplicate key: True", **flags)
    else:
        assert_loads(text, {True: 3}, **flags)
