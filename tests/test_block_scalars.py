"""Literal and folded block scalars: headers, indentation, folding, chomping, where they end."""

import pytest

from conftest import ALL_FLAGS, FLAG_IDS, ParseError, assert_fails, assert_loads

HEADER = "invalid block scalar header"
TAB = "Tabs are not permitted; use 2-space indentation"
LEADING = "A leading empty line in a block scalar is more indented than the first content line"


@pytest.mark.parametrize("text, expected", [
    # literal and chomping
    pytest.param("a: |\n  x\n  y\n\n\n", {"a": "x\ny\n"}, id="literal-clip-collapses-trailing-line-feeds"),
    pytest.param("a: |-\n  x\n  y\n     ", {"a": "x\ny\n   "}, id="literal-strip-removes-only-line-feeds"),
    pytest.param("a: |+\n  x\n  y\n\n", {"a": "x\ny\n\n"}, id="literal-keep-trailing-empty-line"),
    pytest.param("a: |+\n  x\n\n\nb: 1", {"a": "x\n\n\n", "b": 1}, id="blank-lines-before-next-key-belong-to-scalar"),
    pytest.param("a: |\n  a\n    b\n  c", {"a": "a\n  b\nc\n"}, id="literal-keeps-extra-indentation"),
    pytest.param("a: |\n  a\tb\n   \t\n  y", {"a": "a\tb\n \t\ny\n"}, id="tabs-after-first-character-kept"),
    pytest.param("a: |-\n  x\u2028\n  \u3000", {"a": "x\u2028\n\u3000"}, id="only-spaces-and-tabs-make-blank-lines"),
    # folded
    pytest.param("a: >\n  one\n  two\n\n  three", {"a": "one two\nthree\n"}, id="folded-joins-with-space"),
    pytest.param("a: >\n  a\n    b\n  c", {"a": "a\n  b\nc\n"}, id="folded-more-indented-line"),
    pytest.param("a: >\n  a\n\n    b\n\n  c", {"a": "a\n\n  b\n\nc\n"}, id="folded-blank-around-more-indented"),
    pytest.param("a: >\n  a\n\n\n  b", {"a": "a\n\nb\n"}, id="folded-two-blank-lines"),
    pytest.param("a: >\n\n  a", {"a": "\na\n"}, id="folded-leading-empty-line"),
    pytest.param("a: >\n  a\n      \n  b", {"a": "a\nb\n"}, id="folded-drops-blank-line-whitespace"),
    pytest.param("a: >\n  a  \n  b", {"a": "a   b\n"}, id="folded-keeps-trailing-spaces"),
    pytest.param("a: >1\n  a\n  b", {"a": " a\n b\n"}, id="folded-lines-beyond-explicit-indent-are-more-indented"),
    # headers
    pytest.param("a: |2-\n    x\n", {"a": "  x"}, id="digit-then-chomping"),
    pytest.param("a: |-2\n    x\n", {"a": "  x"}, id="chomping-then-digit"),
    pytest.param("a: >+1   # note\n  x\n", {"a": " x\n"}, id="indicators-and-comment"),
    pytest.param("a: |\t# note\n  x", {"a": "x\n"}, id="comment-after-tab"),
    pytest.param("a: |- \u00a0\u3000\n  x", {"a": "x"}, id="trailing-unicode-whitespace-in-header"),
    # explicit indentation
    pytest.param("a: |1\n   x", {"a": "  x\n"}, id="digit-sets-content-indent"),
    pytest.param("- |1\n  x", [" x\n"], id="digit-added-to-dash-column"),
    pytest.param("a: |2\nb: 1", {"a": "", "b": 1}, id="digit-no-content"),
    pytest.param("a: |1+\n\n   \n", {"a": "\n  \n"}, id="digit-keep-blank-line-beyond-indent"),
    pytest.param("a: >1+\n\n \n", {"a": "\n\n"}, id="folded-digit-keep-only-blank-lines"),
    pytest.param("a: |2\n    \n  x", {"a": "  \nx\n"}, id="digit-allows-deeper-leading-blank"),
    # With a digit the content indentation is known, so empty lines alone are content: clip
    # removes their line feeds and adds none to the empty text; a longer blank line keeps its rest.
    pytest.param("a: |2\n\n\nb: 1", {"a": "", "b": 1}, id="digit-clip-only-empty-lines"),
    pytest.param("a: >2\n\n\n", {"a": ""}, id="folded-digit-clip-only-empty-lines"),
    pytest.param("- |1\n\n", [""], id="item-digit-clip-only-empty-line"),
    pytest.param("a: |1\n\n   \n", {"a": "\n  \n"}, id="digit-clip-blank-line-beyond-indent"),
    pytest.param("a: |1-\n\n   \n", {"a": "\n  "}, id="digit-strip-blank-line-beyond-indent"),
    # no content
    pytest.param("a: |", {"a": ""}, id="header-at-end-of-input"),
    pytest.param("a: >+\n\n\n", {"a": ""}, id="keep-with-only-empty-lines-is-empty"),
    pytest.param("a: |\n    \n\nb: 1", {"a": "", "b": 1}, id="deep-blank-then-next-key-is-empty"),
    pytest.param("a: |\n  \n  x", {"a": "\nx\n"}, id="leading-blank-as-deep-as-content"),
    # parent indentation and the line that ends the scalar
    pytest.param("- |\n text", ["text\n"], id="item-content-one-space"),
    pytest.param("-   |\n x", ["x\n"], id="extra-spaces-after-dash-keep-dash-column"),
    pytest.param("- k: |\n   text\n  j: 1", [{"k": "text\n", "j": 1}], id="key-in-item-is-parent"),
    pytest.param("- |\n  a\n- >\n  b", ["a\n", "b\n"], id="next-item-after-scalar"),
    pytest.param("a:\n  b: |\n    x\n  c: 1", {"a": {"b": "x\n", "c": 1}}, id="nested-then-sibling-key"),
    pytest.param("  >\n   a\n   b", "a b\n", id="indented-root-folded"),
    pytest.param("a: |\n  ---\n  %x\n  ? y\n  # c\n  - z: w", {"a": "---\n%x\n? y\n# c\n- z: w\n"}, id="content-lines-not-checked"),
    pytest.param("a: |\n  x\n# c\nb: 1", {"a": "x\n", "b": 1}, id="comment-line-ends-scalar"),
    pytest.param("a: |+\r\n  x\r\n\r\n  y\r\r\n", {"a": "x\n\ny\n"}, id="crlf-lines"),
    pytest.param("a: |\n  x\r\r\n\r\n  y\r", {"a": "x\n\ny\n"}, id="carriage-returns-end-of-input"),
    # runs of blank lines
    pytest.param("a: |+2\n", {"a": ""}, id="digit-keep-at-end-of-input-is-empty"),
    pytest.param("a: |\n \t \n  x", {"a": " \nx\n"}, id="leading-blank-keeps-bytes-beyond-indent"),
    pytest.param("a: |\n  x\n   \n\n    \t\n  y", {"a": "x\n \n\n  \t\ny\n"}, id="literal-run-keeps-each-lines-whitespace"),
    pytest.param("a: >-\n  x\n   \n\n    \t\n  y\n\n", {"a": "x\n\n\ny"}, id="folded-run-counts-lines"),
    pytest.param("a: |\n  x\n" + "\n" * 5000 + "  y\nb: 1", {"a": "x\n" + "\n" * 5000 + "y\n", "b": 1}, id="long-literal-run"),
    pytest.param("a: >+\n  x\n" + " \n" * 5000 + "  y\n \n", {"a": "x" + "\n" * 5000 + "y\n\n"}, id="long-folded-run-keep"),
])
def test_block_scalar_values(text, expected):
    assert_loads(text, expected)


@pytest.mark.parametrize("flags", ALL_FLAGS, ids=FLAG_IDS)
def test_block_scalars_ignore_flags(flags):
    assert_loads("a: |-\n  yes\nb: >-\n  1\n  2\nc: |+\n  ~", {"a": "yes", "b": "1 2", "c": "~\n"}, **flags)


@pytest.mark.parametrize("text, message", [
    pytest.param("a: | -", "line 1: " + HEADER, id="space-before-chomping"),
    pytest.param("a: |#x", "line 1: " + HEADER, id="hash-without-blank"),
    pytest.param("a: |+-", "line 1: " + HEADER, id="two-chomping-indicators"),
    pytest.param("a: |0", "line 1: " + HEADER, id="zero-indent"),
    pytest.param("a: |12", "line 1: " + HEADER, id="two-digits"),
    pytest.param("a: |x\n  y", "line 1: " + HEADER, id="letter"),
    pytest.param("a: |\u00a0-", "line 1: " + HEADER, id="leading-unicode-space-not-removed"),
    pytest.param("a: 1\nb:\n  - >+2-", "line 3: " + HEADER, id="header-line-number"),
    pytest.param("a: |\n\t \n  x", "line 2: " + TAB, id="blank-line-starting-with-tab"),
    pytest.param("a: |\n  x\n  \ty", "line 3: " + TAB, id="tab-after-indentation"),
    pytest.param("a: |\n  x\n \ty", "line 3: " + TAB, id="tab-checked-before-scalar-ends"),
    pytest.param("- |\n\n   \n  x", "line 4: " + LEADING, id="deeper-leading-blank-in-item"),
    pytest.param("a: |2\n x", "line 2: Invalid indentation: 1 spaces (must be a multiple of 2)", id="less-indented-line-returned"),
    pytest.param("a: |\n  x\n # c\n  y", "line 4: Unexpected bare scalar inside a container", id="less-indented-comment-ends-scalar"),
    pytest.param("- k: |\n  text", "line 2: Unexpected bare scalar inside a container", id="content-at-key-column-not-taken"),
])
def test_block_scalar_errors(text, message):
    assert_fails(text, ParseError, message)
