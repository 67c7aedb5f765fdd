"""Single- and double-quoted scalars: closing quote, what may follow it, escapes, and never typing."""

import pytest

from conftest import ParseError, assert_fails, assert_loads
from test_scalars import CONTEXTS  # every place a scalar can stand: (write the text, wrap the value)

# Every test here runs through both flow readers (see conftest).
pytestmark = pytest.mark.usefixtures("both_flow_readers")

UNCLOSED = "Unclosed quote; quoted strings must be on a single line"
TAIL = "Unexpected content after quoted scalar"
HEX = "invalid hex escape in double-quoted string"
CODE_POINT = "escape resolves to an invalid code point"


def unknown(c):
    return "unknown escape '\\" + c + "'"


def everywhere(table, keep=lambda ctx, value: True):
    return [pytest.param(ctx, text, value, id=f"{ctx}-{text!r}") for text, value in table for ctx in CONTEXTS
            if keep(ctx, value)]


QUOTED = [
    ('""', ""), ('"abc"', "abc"), ('"a\\\\"', "a\\"), ('"a\\"b"', 'a"b'), ('"C:\\\\dir"', "C:\\dir"),
    ('"  a  "', "  a  "), ('"a\tb"', "a\tb"), ('"é😀"', "é😀"), ("\"it's\"", "it's"), ('"a\'"', "a'"),
    ('"#x"', "#x"), ('"a # b"', "a # b"), ('"a: b"', "a: b"), ('"a, [b]}"', "a, [b]}"), ('"&a *b !c"', "&a *b !c"),
    ('"12"', "12"), ('"null"', "null"), ('"~"', "~"), ('"true"', "true"), ('"0x1F"', "0x1F"), ('".inf"', ".inf"),
    ("''", ""), ("'abc'", "abc"), ("'it''s'", "it's"), ("'a\\nb'", "a\\nb"), ("''''", "'"), ("'a'''", "a'"),
    ("'''a'", "'a"), ("''''''", "''"), ("'a''''b'", "a''b"), ("'\"'", '"'), ("'\\'", "\\"),
    ("'  sp  '", "  sp  "), ("'a: b'", "a: b"), ("'a # b'", "a # b"), ("'true'", "true"), ("'~'", "~"),
    ("'1.5'", "1.5"), ("'a, ]'", "a, ]"), ("'*a'", "*a"),
    # Escapes that decode longer than they are written, alone: the output is widest here.
    ('"\\L\\P\\L"', "\u2028\u2029\u2028"), ('"\\L"', "\u2028"),
]

ESCAPES = [
    ("0", "\0"), ("a", "\a"), ("b", "\b"), ("t", "\t"), ("\t", "\t"), ("n", "\n"), ("v", "\v"), ("f", "\f"),
    ("r", "\r"), ("e", "\x1b"), (" ", " "), ('"', '"'), ("/", "/"), ("\\", "\\"), ("N", "\x85"), ("_", "\xa0"),
    ("L", "\u2028"), ("P", "\u2029"), ("x41", "A"), ("xe9", "é"), ("xE9", "é"), ("xff", "ÿ"), ("x00", "\0"),
    ("x7f", "\x7f"), ("u00e9", "é"), ("u20AC", "€"), ("uFFFF", "\uffff"), ("uD7FF", "\ud7ff"),
    ("uE000", "\ue000"), ("U0001F600", "😀"), ("U0010FFFF", "\U0010ffff"), ("U00000041", "A"),
    ("x414", "A4"), ("u12345", "\u12345"), ("x41\\x42\\n", "AB\n"), ("u00e9\\u00e9", "éé"),
    # the first and last code points written with two, three and four UTF-8 bytes
    ("x80", "\x80"), ("u07FF", "\u07ff"), ("u0800", "\u0800"), ("U00010000", "\U00010000"),
]


@pytest.mark.parametrize("ctx, text, expected",
                         everywhere(QUOTED + [('"é\\' + esc + 'é"', "é" + ch + "é") for esc, ch in ESCAPES]))
def test_quoted_content_and_escapes(ctx, text, expected):
    write, wrap = CONTEXTS[ctx]
    assert_loads(write(text), wrap(expected))


ERRORS = [
    ('"abc', UNCLOSED), ("'abc", UNCLOSED), ('"abc\\"', UNCLOSED), ('"a\\\\\\"', UNCLOSED), ("'''", UNCLOSED),
    ("'a''", UNCLOSED), ('"a" b', TAIL), ('"a""b"', TAIL), ('"a"# note', TAIL), ("'a'b", TAIL), ('"\\q" x', TAIL),
    ('"\\x4"', HEX), ('"\\x4g"', HEX), ('"\\xg1"', HEX), ('"\\U0001F60"', HEX), ('"\\x"', HEX), ('"\\x 4"', HEX),
    ('"\\x+1"', HEX), ('"\\x-1"', HEX), ('"\\u0x41"', HEX), ('"\\u１２３４"', HEX), ('"\\xé9"', HEX), ('"\\u00E"', HEX),
    ('"\\x4\\q"', HEX), ('"\\uD800"', CODE_POINT), ('"\\uDFFF"', CODE_POINT), ('"\\U0000DC00"', CODE_POINT),
    ('"\\U00110000"', CODE_POINT), ('"\\UFFFFFFFF"', CODE_POINT), ('"\\U80000041"', CODE_POINT),
    ('"\\uD83D\\uDE00"', CODE_POINT), ('"\\uD800\\q"', CODE_POINT), ('"\\q"', unknown("q")), ('"\\\'"', unknown("'")),
    ('"a\\é"', unknown("é")), ('"\\😀"', unknown("😀")), ('"\\X41"', unknown("X")), ('"\\1"', unknown("1")),
    ('"\\%s"', unknown("%")), ('"\\q\\x4"', unknown("q")), ('"\\x41\\z"', unknown("z")),
]


# An open quote inside a flow collection leaves the collection itself unclosed.
@pytest.mark.parametrize("ctx, text, message", everywhere(ERRORS, lambda ctx, m: m != UNCLOSED or "flow" not in ctx))
def test_errors_everywhere(ctx, text, message):
    assert_fails(CONTEXTS[ctx][0](text), ParseError, "line 1: " + message)


@pytest.mark.parametrize("doc, expected", [
    pytest.param('v: "a" \t ', {"v": "a"}, id="trailing-blanks"),
    pytest.param("v: 'a' #", {"v": "a"}, id="bare-hash-comment"),
    pytest.param('["a" # n, b]', ["a", "b"], id="flow-item-comment"),
    pytest.param('["a"\u00a0, {k: "b"\u3000}]', ["a", {"k": "b"}], id="flow-trims-unicode-whitespace"),
    pytest.param('"a"\u00a0: x', {"a": "x"}, id="block-key-trims-nbsp"),
    pytest.param('v: \u00a0"a"', {"v": "a"}, id="leading-nbsp-dropped"),
    pytest.param("'it''s: x': y", {"it's: x": "y"}, id="doubled-quote-in-key"),
    pytest.param('"1": a\n1: b', {"1": "a", 1: "b"}, id="quoted-key-not-typed"),
    pytest.param("'': x\n\"\": y", {"": "y"}, id="empty-keys-equal"),
])
def test_tails_and_contexts(doc, expected):
    assert_loads(doc, expected)


@pytest.mark.parametrize("doc, message", [
    pytest.param('v: "a"\u00a0', "line 1: " + TAIL, id="value-nbsp-after-quote"),
    pytest.param('v: "a"\u00a0# c', "line 1: " + TAIL, id="nbsp-is-not-a-blank"),
    pytest.param('v: "a": b', "line 1: " + TAIL, id="colon-after-value-quote"),
    pytest.param('v: "abc\n  def"', "line 1: " + UNCLOSED, id="two-line-double"),
    pytest.param('a: 1\nb: "x', "line 2: " + UNCLOSED, id="unclosed-line-2"),
    pytest.param('a: 1\nb: "\\q"', "line 2: " + unknown("q"), id="escape-line-2"),
    pytest.param('- x\n- ["\\x4"]', "line 2: " + HEX, id="hex-line-2"),
    pytest.param('# c\n\n"\\uD800"', "line 3: " + CODE_POINT, id="code-point-line-3"),
    pytest.param("a: 1\nb: 'x' y", "line 2: " + TAIL, id="tail-line-2"),
])
def test_context_errors(doc, message):
    assert_fails(doc, ParseError, message)


# A backslash as the last byte of the document: the search for the closing quote resumes
# past the end of the text, at every length of text before it, as key, value and item.
@pytest.mark.parametrize("length", range(0, 20))
@pytest.mark.parametrize("template", ['"{}', 'k: "{}', '- "{}', '- k: "{}', 'k: ["{}'])
def test_unclosed_quote_ending_in_a_backslash(template, length):
    text = template.format("é" * (length % 3) + "x" * length + "\\")
    message = "line 1: Unclosed flow collection: missing ']'" if "[" in template else \
        "line 1: Unclosed quote; quoted strings must be on a single line"
    assert_fails(text, ParseError, message)


# Decoded scalars share one buffer per thread from scalar to scalar, and a text too long for it
# gets one of its own: each value must keep its own text, whatever was decoded before or after.
@pytest.mark.parametrize("doc, expected", [
    pytest.param('{"a\\tb": "c\\nd", \'e\'\'f\': "g\\\\h"}', {"a\tb": "c\nd", "e'f": "g\\h"}, id="flow-map"),
    pytest.param('["\\x41", \'\'\'\', "\\u00e9", "x\\ty"]', ["A", "'", "é", "x\ty"], id="flow-seq"),
    pytest.param('"k\\t1": "v\\n1"\n\'k\'\'2\': "v\\n2"\n"k\\t3":\n  - "i\\x41"\n  - \'i\'\'B\'',
                 {"k\t1": "v\n1", "k'2": "v\n2", "k\t3": ["iA", "i'B"]}, id="block"),
    pytest.param('- "' + "ab\\n" * 30000 + '"\n- "x\\ty"', ["ab\n" * 30000, "x\ty"], id="long-then-short"),
    pytest.param('- "x\\ty"\n- "' + "\\u00e9" * 20000 + '"\n- "z\\tw"', ["x\ty", "é" * 20000, "z\tw"],
                 id="short-long-short"),
    pytest.param("- '" + "it''s" * 20000 + "'\n- 'a''b'", ["it's" * 20000, "a'b"], id="long-single"),
    pytest.param('[' + ", ".join(f'"v\\t{i}"' for i in range(3000)) + ']', [f"v\t{i}" for i in range(3000)],
                 id="many-in-one-line"),
])
def test_decoded_texts_stay_apart(doc, expected):
    assert_loads(doc, expected)


# The closing quote and the escapes are found in one pass over sixteen-byte blocks: an escape or
# the closing quote at every offset around the first two block boundaries.
@pytest.mark.parametrize("before", range(0, 36))
@pytest.mark.parametrize("escape, decoded", [("\\t", "\t"), ("\\u00e9", "é"), ("\\\\", "\\"), ("\\\"", '"')])
def test_escape_at_every_offset(before, escape, decoded):
    head = "x" * before
    assert_loads(f'k: "{head}{escape}"\nl: ["{head}{escape}", "{escape}{head}"]',
                 {"k": head + decoded, "l": [head + decoded, decoded + head]})


# When the one-pass reading stops at an error, the error reported is the one found first by
# looking for the closing quote, then at what follows it, then at the escapes in order.
@pytest.mark.parametrize("doc, message", [
    pytest.param('k: "\\q', UNCLOSED, id="unclosed-before-unknown"),
    pytest.param('k: "\\x4', UNCLOSED, id="unclosed-before-hex"),
    pytest.param('k: "\\uD800', UNCLOSED, id="unclosed-before-code-point"),
    pytest.param('k: "\\q" x', TAIL, id="tail-before-unknown"),
    pytest.param('k: "a\\tb\\x4" x', TAIL, id="tail-before-hex-after-good-escape"),
    pytest.param('k: "' + "ab\\n" * 30000 + '\\q"', unknown("q"), id="unknown-after-long-text"),
    pytest.param('k: "a\\tb\\\\"c"', TAIL, id="escaped-backslash-then-quote"),
])
def test_first_error_wins(doc, message):
    assert_fails(doc, ParseError, "line 1: " + message)
