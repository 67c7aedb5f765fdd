"""Lines: endings and numbers, tabs, blank and comment lines, refused forms, key separator, BOM."""

import pytest

import _corvane

from conftest import ParseError as P, UnsupportedFeatureError as U, assert_fails, assert_loads

TAB = "Tabs are not permitted; use 2-space indentation"
DIRECTIVE = "Directives are not supported in Corvane"
MARKER = "YAML document markers are not supported in Corvane"
EXPLICIT = "Explicit (complex) keys and sets are not supported in Corvane"
BAD_INDENT = "Unexpected indentation (no pending key or item)"
AFTER_QUOTE = "Unexpected content after quoted scalar"


@pytest.mark.parametrize("text, expected", [
    # line endings
    pytest.param("a: 1\nb: 2\r\nc: 3", {"a": 1, "b": 2, "c": 3}, id="mixed-endings-last-line-unterminated"),
    pytest.param("a\rb", "a\rb", id="lone-cr-is-not-a-line-break"),
    pytest.param('k: "v"\r\r\n', {"k": "v"}, id="every-trailing-cr-removed"),
    pytest.param('k: "v"\r\r', {"k": "v"}, id="trailing-cr-on-unterminated-line"),
    pytest.param("- \r\n  a: 1", [{"a": 1}], id="cr-removed-before-item-is-read"),
    pytest.param("\r\n\r", None, id="cr-only-lines-blank"),
    pytest.param("a\n\n", "a", id="final-blank-lines"),
    # blank and comment lines
    pytest.param("", None, id="empty-input"),
    pytest.param("#x\n# c\n\n", None, id="comment-only-document"),
    pytest.param("  \t  ", None, id="spaces-tab-spaces-blank"),
    pytest.param("a: 1\n\t\n  \t \n\nb: 2", {"a": 1, "b": 2}, id="blank-lines-with-tabs-inside-mapping"),
    pytest.param("a:\n   # odd comment\n     \n  b: 1", {"a": {"b": 1}}, id="comment-and-blank-lines-ignore-indentation"),
    # tabs after the leading run are content
    pytest.param("key:\tvalue", "key:\tvalue", id="tab-after-colon-is-no-separator"),
    pytest.param("a:\t", "a:", id="colon-tab-at-end-is-no-separator"),
    pytest.param("key: \tvalue\t", {"key": "value"}, id="tabs-around-value-trimmed"),
    # forms that look like refused ones
    pytest.param("- ---", ["---"], id="marker-text-as-item"),
    pytest.param("--x", "--x", id="double-dash-text"),
    pytest.param("-", [None], id="lone-dash"),
    pytest.param("?key: 1", {"?key": 1}, id="question-mark-key"),
    pytest.param("..x: 1", {"..x": 1}, id="two-dots-key"),
    # key separator
    pytest.param("time: 12:30", {"time": "12:30"}, id="first-colon-space"),
    pytest.param("a:b", "a:b", id="colon-without-space"),
    pytest.param("a#b: c", {"a#b": "c"}, id="hash-in-plain-key"),
    pytest.param("a 'b: c'", {"a 'b": "c'"}, id="quotes-ignored-in-plain-key"),
    pytest.param("'a'': b': c", {"a': b": "c"}, id="doubled-quote-keeps-span-open"),
    pytest.param('"a\\": b": c', {'a": b': "c"}, id="escaped-double-quote-keeps-span-open"),
    pytest.param('"a\\\\": b', {"a\\": "b"}, id="escaped-backslash-closes-span"),
    pytest.param('"a:b" : c', {"a:b": "c"}, id="space-before-colon-after-quote"),
    pytest.param('"a":', {"a": None}, id="quoted-key-colon-at-end"),
    pytest.param('"a #b": c', {"a #b": "c"}, id="hash-inside-quotes-not-comment"),
    pytest.param("'a'\t# c: x", "a", id="tab-then-comment-after-quoted-root"),
    pytest.param('"a": b # c: d', {"a": "b"}, id="separator-before-comment"),
    pytest.param('- "x" # y: z', ["x"], id="comment-after-quoted-item"),
    # A document that is not ASCII is read from a buffer of its own: an empty first line is
    # the first byte of that buffer.
    pytest.param("\n\u00e9: 1\n\r\n", {"\u00e9": 1}, id="non-ascii-document-starting-with-empty-line"),
    pytest.param("\r\n\u00e9", "\u00e9", id="non-ascii-document-starting-with-crlf"),
    # byte order mark
    pytest.param("\ufeff", None, id="bom-only"),
    pytest.param("\ufeff  a: 1\n  b: 2", {"a": 1, "b": 2}, id="bom-before-indentation"),
    pytest.param("\ufeff\ufeffx", "\ufeffx", id="second-bom-is-text"),
    pytest.param("a: 1\n\ufeffb: \ufeff", {"a": 1, "\ufeffb": "\ufeff"}, id="bom-later-is-text"),
])
def test_loads(text, expected):
    assert_loads(text, expected)


@pytest.mark.parametrize("text, exc, message", [
    # line numbers count every physical line
    pytest.param("# c\n\n\tkey: 1", P, f"line 3: {TAB}", id="tab-error-counts-blank-and-comment-lines"),
    pytest.param("a: 1\r\n\r\n\r\n  b: 2", P, f"line 4: {BAD_INDENT}", id="crlf-lines-counted"),
    pytest.param("a: 1\rb: 2", P, "line 1: Unexpected ':' in a plain scalar value (nested mappings "
                 "must use quotes or a new line)", id="lone-cr-keeps-one-line"),
    pytest.param("\ufeff\n\tx", P, f"line 2: {TAB}", id="bom-does-not-shift-line-numbers"),
    pytest.param(" \ufeffa: 1", P, "line 1: Invalid indentation: 1 spaces (must be a multiple of 2)",
                 id="bom-after-space-is-content"),
    # tabs in the indentation and after a dash
    pytest.param("  \t# note", P, f"line 1: {TAB}", id="tab-before-comment"),
    pytest.param("-\tx", P, f"line 1: {TAB}", id="tab-right-after-dash"),
    pytest.param("- \tx", P, f"line 1: {TAB}", id="tab-after-dash-space"),
    # refused line forms
    pytest.param("%YAML 1.2", U, f"line 1: {DIRECTIVE}", id="directive"),
    pytest.param("----", U, f"line 1: {MARKER}", id="four-dashes"),
    pytest.param("---\tx", U, f"line 1: {MARKER}", id="marker-wins-over-dash-tab"),
    pytest.param("a:\n  ...x", U, f"line 2: {MARKER}", id="document-end-prefix-indented"),
    pytest.param("?", U, f"line 1: {EXPLICIT}", id="lone-question-mark"),
    pytest.param("?\tkey", U, f"line 1: {EXPLICIT}", id="explicit-key-tab"),
    pytest.param("- a\n  ? b", U, f"line 2: {EXPLICIT}", id="explicit-key-indented"),
    pytest.param(" %x", U, f"line 1: {DIRECTIVE}", id="refused-form-wins-over-odd-indent"),
    pytest.param("\ufeff---", U, f"line 1: {MARKER}", id="marker-after-bom"),
    # key separator outcomes that fail later
    pytest.param("key # c: x", P, "line 1: Mapping key ends in a comment; the ':' separator is inside it",
                 id="plain-scan-ignores-hash"),
    pytest.param("'open: x", P, "line 1: Unclosed quote; quoted strings must be on a single line",
                 id="unclosed-quote-no-separator"),
    pytest.param('"a" x # c: d', P, f"line 1: {AFTER_QUOTE}", id="comment-ends-search-text-before-it"),
    pytest.param('"k":v', P, f"line 1: {AFTER_QUOTE}", id="quoted-key-colon-without-space"),
    pytest.param('k: 1\n"a" # c: x', P, "line 2: Unexpected bare scalar inside a container",
                 id="commented-quoted-line-in-mapping"),
])
def test_fails(text, exc, message):
    assert_fails(text, exc, message)


# The line search runs in blocks of 16 bytes from the end of the indentation and hands long
# lines to a library search: line feeds and errors must be found at every offset around
# those block edges, after any indentation, with either line ending.
@pytest.mark.parametrize("ending", ["\n", "\r\n"], ids=["lf", "crlf"])
@pytest.mark.parametrize("indent", [0, 2, 14, 16, 18, 32, 64, 78, 80, 96, 144])
def test_line_ends_found_at_every_offset(indent, ending):
    pad = " " * indent
    for length in (*range(1, 20), 31, 32, 33, 47, 48, 49, 62, 63, 64, 65, 66, 79, 80, 81, 200):
        words = ["x" * (length + i) for i in range(3)]
        lines = ["k:"] + [f"{pad}  k{i}: {word}" for i, word in enumerate(words)]
        expected = {"k": {f"k{i}": word for i, word in enumerate(words)}}
        assert_loads(ending.join(lines), expected)
        assert_loads(ending.join(lines) + ending, expected)
        assert_fails(ending.join(lines[:3] + [f"{pad}   bad: {words[0]}"]), P,
                     f"line 4: Invalid indentation: {indent + 3} spaces (must be a multiple of 2)")


# Short keys and values are searched for a separator colon or a comment mark in one or two
# whole-word reads, or, with more input after them, in one read of 32 bytes that takes in
# bytes past the text: a colon or hash at every position of every short length.
@pytest.mark.parametrize("length", range(1, 36))
def test_colon_and_hash_at_every_position_of_short_text(length):
    after = "\nz: '#: x'\ny: '" + "#: " * 12 + "'"
    for pos in range(length):
        text = "x" * pos + "{}" + "x" * (length - pos - 1)
        value = text.format("#")
        for tail, more in (("", {}), (after, {"z": "#: x", "y": "#: " * 12})):
            assert_loads(f"k: {value}{tail}", {"k": None if pos == 0 else value, **more})
            if pos > 0:
                key = text.format(":")
                assert_loads(f"{key}: 1\n{key}x: {value}{tail}", {key: 1, key + "x": value, **more})
        assert_loads(f"- {value}", [None if pos == 0 else value])
        assert_loads(f"- {value}\n- '#: '", [None if pos == 0 else value, "#: "])


# A line with more input after it is searched for its separator colon in one read of 32
# bytes, which takes in bytes past the end of a shorter line; those must not count. The last line of
# the input is searched byte by byte instead, so it serves as the reference.
@pytest.mark.parametrize("ending", ["\n", "\r\n"], ids=["lf", "crlf"])
@pytest.mark.parametrize("length", range(1, 36))
def test_separator_colon_at_every_position_of_a_short_line_before_more_input(length, ending):
    after = ["- a: b:c", "- 'q: r'", "- " + "z:" * 10 + "z"]
    for pos in range(length):
        item = "x" * pos + ":" + "y" * (length - pos - 1)
        alone = _corvane.load(f"- {item}")
        if pos == length - 1 and pos > 0:
            assert alone == [{"x" * pos: None}]
        assert_loads(ending.join([f"- {item}", *after]),
                     [alone[0], {"a": "b:c"}, "q: r", "z:" * 10 + "z"])
    if length > 1:
        key = "x" * (length - 1)
        assert_loads(ending.join([f"{key}:", "  - 1", f"y{key}: 2"]), {key: [1], f"y{key}": 2})
