"""Flow collections: splitting, typing, errors and their order, deep nesting, quoting of the rest
of line; random texts are compared with a recursive reference."""

import math
import re
import unicodedata

import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

from conftest import (CorvaneError, ParseError as P, UnsupportedFeatureError as U, assert_fails,
                      assert_loads, load)

# Every test here runs through both flow readers (see conftest).
pytestmark = pytest.mark.usefixtures("both_flow_readers")

UNCLOSED_SEQ = "Unclosed flow collection: missing ']'"
UNCLOSED_MAP = "Unclosed flow collection: missing '}'"
NO_COLON = "Flow map entry missing ':' separator"
MERGE = "Merge keys (<<) are not supported in Corvane"
ALIAS = "Aliases are not supported in Corvane"
REST = "Unexpected content after flow collection: "
WS = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"
ESCAPES = {'"': '\\"', "\\": "\\\\", "\t": "\\t", "\r": "\\r", "\n": "\\n", "\0": "\\0"}
STRICT = dict(strict=True)


def quote_rest(text):
    return '"' + "".join(ESCAPES.get(c) or (c if c.isprintable() else f"\\u{{{ord(c):x}}}") for c in text) + '"'


# ---- reference: the recursive splitting algorithm ----

# a closed quoted run, a quoted run that reaches the end (group 1), or one character. A
# single-quoted run ends at a quote that is not followed by another (one that is, is an
# escaped quote), so backtracking cannot end it early.
TOKEN = re.compile(r'"(?:\\.|[^"\\])*"|\'(?:\'\'|[^\'])*\'(?!\')|(["\']).*|.', re.S)


class RefError(Exception):
    """args: the exception class and the message the loader must raise."""


def first_stop(t, start, stops):
    """Index and character of the first character in `stops` or closing bracket at depth 0
    outside quoted runs; (len(t), None) when the text or an open quoted run reaches the end."""
    depth = 0
    for token in TOKEN.finditer(t, start):
        c = token.group()
        if token.group(1):
            break
        if depth == 0 and (c in stops or c in "]}"):
            return token.start(), c
        depth += (c in "[{") - (c in "]}")
    return len(t), None


def classify(t):
    """Scalar typing, for the words the random texts below can contain."""
    t = t.lstrip(WS)
    if t[:1] == "*":
        raise RefError(U, ALIAS)
    if t[:1] in ("'", '"'):  # a quoted text is decoded the same way as a block value
        try:
            return load("k: " + t)["k"]
        except CorvaneError as e:
            raise RefError(type(e), e.args[0].split(": ", 1)[1]) from None
    t = re.sub("[ \t]#.*", "", t, flags=re.S).rstrip(WS)  # cut the comment
    if t in ("", "~", "true"):
        return {"true": True}.get(t)
    return int(t) if re.fullmatch("[0-9]+", t) and int(t) < 2**63 else t


def ref_item(t, strict):
    t = t.strip(WS)
    return ref_flow(t, strict) if t[:1] in ("[", "{") else classify(t)


def ref_flow(text, strict):
    text = text.lstrip(WS)
    close = "]" if text[0] == "[" else "}"
    end, found = first_stop(text, 1, "")
    if found is None:
        raise RefError(P, f"Unclosed flow collection: missing '{close}'")
    if found != close:
        raise RefError(P, f"Mismatched brackets: expected '{close}', found '{found}'")
    rest = text[end + 1:].lstrip(WS)
    if rest and rest[0] != "#":
        raise RefError(P, REST + quote_rest(rest))
    out, body = ([] if close == "]" else {}), text[1:end].lstrip(WS)
    while body:
        if close == "]":
            end = first_stop(body, 0, ",")[0]
            out.append(ref_item(body[:end], strict))
        else:
            colon, found = first_stop(body, 0, ":")
            if found != ":":
                raise RefError(P, NO_COLON)
            if body[:colon].strip(WS) == "<<":
                raise RefError(U, MERGE)
            key = classify(body[:colon].strip(WS))
            if strict and key in out:
                raise RefError(P, f"Duplicate key in flow map: {key!r}")
            body = body[colon + 1:].lstrip(WS)
            end = first_stop(body, 0, ",")[0]
            out[key] = ref_item(body[:end], strict)
        after = body[end:].lstrip(WS)
        if not after.startswith(","):
            break
        body = after[1:].lstrip(WS)
    return out


NOISE = ["[", "]", "{", "}", ",", ":", ": ", "'", '"', "\\", "#"]
WORDS = ["a", "1", "true", "~", "<<", "*", "#", " ", " #c", "\t", "a b", "é", "😀", "\u3000", "\x85", "'x'", "''",
         "'a, b'", "'it''s'", '"[:]"', '"\\a"', '"\\"]"', '"\\\\"', "[a]", "{b: 1}", "99999999999999999999"]
scalars = st.tuples(st.lists(st.sampled_from(WORDS), max_size=3).map("".join),
                    st.sampled_from([""] * 300 + NOISE)).map("".join)


def nest(children):
    seqs = st.lists(children, max_size=4).map(lambda xs: "[" + ", ".join(xs) + "]")
    maps = st.lists(st.tuples(scalars, children), max_size=3).map(lambda kv: "{" + ", ".join(f"{k}: {v}" for k, v in kv) + "}")
    return seqs | maps


trees = st.builds(str.__add__, nest(st.recursive(scalars, nest, max_leaves=10)),
                  st.sampled_from(["", "", "", " #c", "#", " x", "]", "}", ",\t", "'"]))
soups = st.tuples(st.sampled_from("[{"), st.lists(st.sampled_from(WORDS + NOISE), max_size=25).map("".join), st.sampled_from("]}"))
flow_texts = trees | trees | soups.map("".join)


@settings(max_examples=2000, derandomize=True, deadline=None, database=None, suppress_health_check=list(HealthCheck))
@given(text=flow_texts, strict=st.booleans())
def test_agrees_with_recursive_reference(text, strict):
    try:
        expected = ref_flow(text, strict)
    except RefError as e:
        assert_fails("k: " + text, e.args[0], "line 1: " + e.args[1], strict=strict)
    else:
        assert_loads("k: " + text, {"k": expected}, strict=strict)


@pytest.mark.parametrize("text, expected, flags", [
    pytest.param("[[], [ \u3000], {}, { }]", [[], [], {}, {}], {}, id="empty-collections"),
    pytest.param("[a, b,, ]", ["a", "b", None], {}, id="empty-item-before-trailing-comma"),
    pytest.param("[,]", [None], {}, id="lone-comma"),
    pytest.param("[a b, 1, 0x1F, 1.5, -.inf, '~', \"\\t\"]", ["a b", 1, 31, 1.5, -math.inf, "~", "\t"], {}, id="items-typed"),
    pytest.param("{a:1, at: 12:30}", {"a": 1, "at": "12:30"}, {}, id="no-space-needed-first-colon-splits"),
    pytest.param("{a: b: c}", {"a": "b: c"}, {}, id="colon-space-allowed-in-value"),
    pytest.param("[a: b]", ["a: b"], {}, id="seq-item-never-a-pair"),
    pytest.param("['a, b', 'c]d', it]", ["a, b", "c]d", "it"], {}, id="quoted-comma-and-bracket"),
    pytest.param('["a\\"b", \'it\'\'s\', \'a\'\'\']', ['a"b', "it's", "a'"], {}, id="escaped-and-doubled-quotes"),
    pytest.param("[a # c, a#c, b\t#c, #]", ["a", "a#c", "b", "#"], {}, id="comment-in-item-needs-blank"),
    pytest.param("[[1, 2] # c, [3]#c, 4]", [[1, 2], [3], 4], {}, id="comment-after-nested-with-or-without-blank"),
    pytest.param("[1, 2]#note", [1, 2], {}, id="trailing-comment-without-blank"),
    pytest.param("{a: 1, , b: 2}", {"a": 1, ", b": 2}, {}, id="stray-comma-joins-next-key"),
    pytest.param("{a, b: 1}", {"a, b": 1}, {}, id="key-spans-comma"),
    pytest.param("{a: 1,}", {"a": 1}, {}, id="map-trailing-comma"),
    pytest.param("{a: , b:, : v}", {"a": None, "b": None, None: "v"}, {}, id="empty-values-and-key"),
    pytest.param("{1: a, true: b, ~: c}", {1: "b", None: "c"}, {}, id="keys-typed-one-equals-true"),
    pytest.param("{'<<': x, \"<<\": y}", {"<<": "y"}, {}, id="quoted-merge-key-is-text"),
    pytest.param("{[a]: 1, {b: c}: 2}", {"[a]": 1, "{b: c}": 2}, {}, id="bracket-keys-are-text"),
    pytest.param("{a # c: 1}", {"a": 1}, {}, id="comment-cut-from-key"),
    pytest.param("[\u3000a\u3000, \xa0b\u2028]", ["a", "b"], {}, id="unicode-whitespace-trimmed"),
    pytest.param("[{a: 1}, {a: 2}]", [{"a": 1}, {"a": 2}], STRICT, id="strict-separate-maps"),
])
def test_flow_values(text, expected, flags):
    assert_loads("k: " + text, {"k": expected}, **flags)


N = 2000


@pytest.mark.parametrize("text, message, flags", [
    pytest.param("[it's, x]", UNCLOSED_SEQ, {}, id="apostrophe-opens-run"),
    pytest.param('["a\\"]', UNCLOSED_SEQ, {}, id="escaped-quote-keeps-run-open"),
    pytest.param("{a: [1}", UNCLOSED_MAP, {}, id="brace-closes-inner-bracket"),
    pytest.param("{a: 1]", "Mismatched brackets: expected '}', found ']'", {}, id="mismatched-map"),
    pytest.param("[{a: 1]}", "Mismatched brackets: expected ']', found '}'", {}, id="mismatched-after-kind-blind-depth"),
    pytest.param("[[1} ] x", REST + '"x"', {}, id="outer-rest-before-items"),
    pytest.param("{a: [1] x}", REST + '"x"', {}, id="rest-in-nested-value"),
    pytest.param("[[1] 'a, b' c, 2]", REST + "\"'a, b' c\"", {}, id="rest-in-item-spans-quoted-comma"),
    pytest.param("{a}", NO_COLON, {}, id="no-colon"),
    pytest.param("{a: 1,,}", NO_COLON, {}, id="second-comma-is-entry"),
    pytest.param("{ << : x}", MERGE, {}, id="merge-key-trimmed"),
    pytest.param("{a: 1, <<: *b}", MERGE, {}, id="merge-before-value-alias"),
    pytest.param("{*a: {b}}", ALIAS, {}, id="key-alias-before-value-error"),
    pytest.param("[*a, {b}]", ALIAS, {}, id="items-left-to-right"),
    pytest.param("[{b}, *a]", NO_COLON, {}, id="items-left-to-right-nested-first"),
    pytest.param('["a" b]', "Unexpected content after quoted scalar", {}, id="quoted-item-tail"),
    pytest.param('{"\\q": 1}', "unknown escape '\\q'", {}, id="quoted-key-escape"),
    pytest.param("{\"it's\": 1, 'it''s': 2}", "Duplicate key in flow map: \"it's\"", STRICT, id="strict-repr"),
    pytest.param("{a: 1, a: {b}}", "Duplicate key in flow map: 'a'", STRICT, id="duplicate-before-value"),
    pytest.param("{a: 1, a: {b}}", NO_COLON, {}, id="non-strict-reaches-value"),
    # quoting of the rest
    pytest.param("[1]\u3000\t x \t", REST + '"x \\t"', {}, id="rest-leading-whitespace-removed-trailing-kept"),
    pytest.param("[1] it's \"q\" \\ é😀", REST + '"it\'s \\"q\\" \\\\ é😀"', {}, id="rest-quotes-backslash-non-ascii"),
    pytest.param("[1] a\tb\rc\0d", REST + '"a\\tb\\rc\\0d"', {}, id="rest-short-escapes"),
    pytest.param("[1] \x01\x1f\x7f\x85\xa0\u200b\ufeff\U000e0001",
                 REST + '"\\u{1}\\u{1f}\\u{7f}\\u{85}\\u{a0}\\u{200b}\\u{feff}\\u{e0001}"', {}, id="rest-hex-escapes"),
    # deep nesting
    pytest.param("[" * N, UNCLOSED_SEQ, {}, id="deep-unclosed"),
    pytest.param("{a: " * N + "b}" + "}" * (N - 2), UNCLOSED_MAP, {}, id="deep-one-brace-short"),
    pytest.param("[" * N + "]" * (N - 1) + "}", "Mismatched brackets: expected ']', found '}'", {}, id="deep-mismatched-outermost"),
    pytest.param("[" * N + "}" + "]" * N, REST + '"]"', {}, id="deep-kind-blind-depth-leaves-rest"),
    pytest.param("[" * N + "{b}" + "]" * N, NO_COLON, {}, id="deep-innermost-no-colon"),
    pytest.param("[" * N + "[1] x" + "]" * N, REST + '"x"', {}, id="deep-innermost-rest"),
    pytest.param("[" * N + "[1}" + "]" * N, "Mismatched brackets: expected ']', found '}'", {}, id="deep-innermost-mismatched"),
    pytest.param("{a: " * N + "{a: 1, a: 2}" + "}" * N, "Duplicate key in flow map: 'a'", STRICT, id="deep-innermost-duplicate"),
])
def test_flow_errors(text, message, flags):
    cls = U if message.endswith("are not supported in Corvane") else P
    assert_fails("k: " + text, cls, "line 1: " + message, **flags)


@pytest.mark.parametrize("text, expected", [
    pytest.param("[1, 2] # c\n# d\n", [1, 2], id="root"),
    pytest.param("-  [1, 2]\n-   {a: 1} # c", [[1, 2], {"a": 1}], id="items-after-extra-spaces"),
    pytest.param("- - [a]", [[["a"]]], id="nested-block-item"),
    pytest.param("k: [1,\n  2]", P("line 1: " + UNCLOSED_SEQ), id="continued-on-next-line"),
    pytest.param("a: 1\nb: {c: 1", P("line 2: " + UNCLOSED_MAP), id="line-number"),
    pytest.param("a:\n  - [1] x", P("line 2: " + REST + '"x"'), id="rest-in-item"),
])
def test_flow_in_block_context(text, expected):
    if isinstance(expected, P):
        assert_fails(text, P, expected.args[0])
    else:
        assert_loads(text, expected)


@pytest.mark.skipif(unicodedata.unidata_version != "14.0.0", reason="printable table of the loader is Unicode 14.0.0")
def test_rest_quoting_every_code_point():
    rest = "x" + "".join(chr(c) for c in range(1, 0x110000) if c != 10 and not 0xD800 <= c <= 0xDFFF)
    with pytest.raises(P) as info:
        load("k: [1] " + rest)
    got, want = info.value.args[0], "line 1: " + REST + quote_rest(rest)
    at = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    same = got == want
    assert same, f"first difference at {at}: {got[at - 30:at + 30]!r} != {want[at - 30:at + 30]!r}"


@pytest.mark.parametrize("depth", [N, 100_000])
def test_deep_nesting_loads(depth):
    seq = load("k: " + "[" * depth + "]" * depth)["k"]
    mixed = load("k: " + "{a: [" * depth + "x" + "]}" * depth)["k"]
    for _ in range(depth - 1):
        assert type(seq) is list and len(seq) == 1
        seq = seq[0]
    for _ in range(depth):
        assert type(mixed) is dict and list(mixed) == ["a"] and type(mixed["a"]) is list and len(mixed["a"]) == 1
        mixed = mixed["a"][0]
    assert seq == [] and type(seq) is list and mixed == "x"


BOOLS = dict(yaml_1_1_bools=True)


# Collections of the common shape are read in one pass; the others, and every error, are left to
# the exact reading. Both must give the same results: the first group is of the common shape,
# the second sits just past its edge.
@pytest.mark.parametrize("text, expected, flags", [
    pytest.param("[a, b c, 1, -2, 0x1F, 1.5e3, true, ~, null, .nan]", ["a", "b c", 1, -2, 31, 1500.0, True, None, None, math.nan], {}, id="plain-items-typed"),
    pytest.param("[yes, No, on, y]", [True, False, True, True], BOOLS, id="yaml-1-1-words"),
    pytest.param("{a: 1, b: [x, y], c: {d: e}, f: []}", {"a": 1, "b": ["x", "y"], "c": {"d": "e"}, "f": []}, {}, id="nested"),
    pytest.param("[ [ ] , { } , [[1]] ]", [[], {}, [[1]]], {}, id="spaces-around-everything"),
    pytest.param('["a\\tb", "caf\\u00e9", \'it\'\'s\', "", \'\', "x\\\\"]', ["a\tb", "café", "it's", "", "", "x\\"], {}, id="quoted-decoded"),
    pytest.param('[ "q" , \'r\' ]', ["q", "r"], {}, id="quoted-then-spaces"),
    pytest.param("{\"k\" : v, 'k2': [1], \"\\u0041\": 2}", {"k": "v", "k2": [1], "A": 2}, {}, id="quoted-keys"),
    pytest.param("{a:1, b: 12:30, c: http://x:80/p}", {"a": 1, "b": "12:30", "c": "http://x:80/p"}, {}, id="first-colon-ends-key"),
    pytest.param("[a: b, :c, -, ?, |x, %y]", ["a: b", ":c", "-", "?", "|x", "%y"], {}, id="indicator-like-plain-items"),
    pytest.param("{a b: c d, 2: x}", {"a b": "c d", 2: "x"}, {}, id="spaces-inside-keys-and-values"),
    pytest.param("[é, 😀 x, a\u3000, b\xa0]", ["é", "😀 x", "a", "b"], {}, id="non-ascii-starts-and-trailing-whitespace"),
    pytest.param("[x]  ", ["x"], {}, id="trailing-spaces"),
    pytest.param("[x] # c", ["x"], {}, id="trailing-comment"),
    pytest.param("{a: 1, a: 2}", {"a": 2}, {}, id="repeated-key-non-strict"),
    pytest.param("{a: {a: 1}, b: {a: 2}}", {"a": {"a": 1}, "b": {"a": 2}}, STRICT, id="strict-same-key-in-other-maps"),
    # past the edge of the common shape
    pytest.param("[a, , b]", ["a", None, "b"], {}, id="empty-item"),
    pytest.param("[a,]", ["a"], {}, id="trailing-comma"),
    pytest.param("{a: }", {"a": None}, {}, id="empty-value"),
    pytest.param("{a:, b: c}", {"a": None, "b": "c"}, {}, id="empty-value-before-comma"),
    pytest.param("[a#b, c #d, e]", ["a#b", "c", "e"], {}, id="hash-in-item"),
    pytest.param("[a\tb, c\t, \td]", ["a\tb", "c", "d"], {}, id="tabs"),
    pytest.param("[a,\u3000b]", ["a", "b"], {}, id="unicode-space-before-item"),
    pytest.param("[\u00a0]", [], {}, id="two-byte-space-alone-in-sequence"),
    pytest.param("{\x85}", {}, {}, id="two-byte-space-alone-in-mapping"),
    pytest.param("[a,\u00a0]", ["a"], {}, id="two-byte-space-after-last-comma"),
    pytest.param("[a'b', c]", ["a'b'", "c"], {}, id="quote-inside-plain"),
    pytest.param("[a[b]c, d]", ["a[b]c", "d"], {}, id="bracket-inside-plain"),
    pytest.param("{a b, c: d}", {"a b, c": "d"}, {}, id="comma-inside-key"),
    pytest.param("{[a]: 1}", {"[a]": 1}, {}, id="bracket-key"),
    pytest.param("[1, 2]#c", [1, 2], {}, id="comment-without-blank"),
    # A comment after a nested collection, or after one whose items need the exact reading.
    pytest.param("[[1, 2] # c, 3]", [[1, 2], 3], {}, id="comment-after-nested-drops-rest-of-item"),
    pytest.param("{a: [x] # c, b: 1}", {"a": ["x"], "b": 1}, {}, id="comment-after-nested-value"),
    pytest.param("[x#y] # note", ["x#y"], {}, id="comment-after-collection-with-hash-item"),
    pytest.param("[a, , b]#note", ["a", None, "b"], {}, id="comment-after-collection-with-empty-item"),
    pytest.param("{a: 1, a: 2} # c", {"a": 2}, {}, id="comment-after-repeated-key"),
    pytest.param("[[1]x # c]", P(REST + '"x # c"'), {}, id="comment-inside-rest-of-nested"),
    pytest.param("[1]\t", [1], {}, id="trailing-tab"),
    pytest.param("[a] x", P(REST + '"x"'), {}, id="rest"),
    pytest.param("[a, b]]", P(REST + '"]"'), {}, id="extra-closing-bracket"),
    pytest.param("[a}", P("Mismatched brackets: expected ']', found '}'"), {}, id="wrong-closing-bracket"),
    pytest.param("{a: [b}]", P("Mismatched brackets: expected '}', found ']'"), {}, id="wrong-nested-closing-bracket"),
    pytest.param("[a, b", P(UNCLOSED_SEQ), {}, id="unclosed"),
    pytest.param('["a', P(UNCLOSED_SEQ), {}, id="unclosed-quote"),
    pytest.param("{a: 1, <<: x}", U(MERGE), {}, id="merge-key"),
    pytest.param("[!t x]", U("Tags are not supported in Corvane"), {}, id="tag"),
    pytest.param("{!a!: 1}", U("Tags are not supported in Corvane"), {}, id="tag-key-with-second-mark"),
    pytest.param("{a: 1, &b&: 2}", U("Anchors are not supported in Corvane"), {}, id="anchor-key-with-second-mark"),
    pytest.param("{*a*: 1}", U(ALIAS), {}, id="alias-key-with-second-mark"),
    pytest.param("{#a#: 1}", {"#a#": 1}, {}, id="hash-key-with-second-hash"),
    pytest.param("[&a x]", U("Anchors are not supported in Corvane"), {}, id="anchor"),
    pytest.param("{a: *b}", U(ALIAS), {}, id="alias-value"),
    pytest.param('["\\q"]', P("unknown escape '\\q'"), {}, id="bad-escape"),
    pytest.param('["\\x4"]', P("invalid hex escape in double-quoted string"), {}, id="short-hex-escape"),
    pytest.param('["a" x, b]', P("Unexpected content after quoted scalar"), {}, id="after-quoted-item"),
    pytest.param("{'a' x: 1}", P("Unexpected content after quoted scalar"), {}, id="after-quoted-key"),
    pytest.param('["a"]x', P(REST + '"x"'), {}, id="rest-after-quoted"),
    pytest.param("{a: 1, a: 2}", P("Duplicate key in flow map: 'a'"), STRICT, id="strict-duplicate"),
    pytest.param("{1: a, true: b}", P("Duplicate key in flow map: True"), STRICT, id="strict-duplicate-equal-in-python"),
    pytest.param("{a: 1, b}", P(NO_COLON), {}, id="no-colon"),
])
def test_one_pass_reading_and_its_edges(text, expected, flags):
    if isinstance(expected, CorvaneError):
        assert_fails("k: " + text, type(expected), "line 1: " + expected.args[0], **flags)
    else:
        assert_loads("k: " + text, {"k": expected}, **flags)


# Plain items are scanned sixteen bytes at a time for the byte that ends them: that byte at
# every offset of the first blocks, after items that start at every alignment.
@pytest.mark.parametrize("length", range(1, 40))
def test_plain_item_ends_found_at_every_offset(length):
    word = "x" * length
    for lead in ("", "ab, ", "abcdefg, "):
        assert_loads(f"k: [{lead}{word}, y]", {"k": [*lead.split(", ")[:-1], word, "y"]})
        assert_loads(f"k: [{lead}{word}]", {"k": [*lead.split(", ")[:-1], word]})
        assert_loads(f"k: {{{lead.replace(', ', ': 0, ')}{word}: 1, {word}y: [{word}]}}",
                     {"k": {**{w: 0 for w in lead.split(", ")[:-1]}, word: 1, word + "y": [word]}})
        assert_loads(f"k: [{lead}{word}\t, y]", {"k": [*lead.split(", ")[:-1], word, "y"]})


# A closing bracket inside a plain item ends the collection, wherever it falls in the blocks of
# sixteen bytes that are searched at once; what follows it is then the refused rest.
@pytest.mark.parametrize("before", range(1, 20))
@pytest.mark.parametrize("collection, bracket", [("[x", "]"), ("{k: x", "}"), ("{x", "}")],
                         ids=["sequence", "mapping-value", "mapping-key"])
def test_closing_bracket_inside_a_long_plain_item_ends_the_collection(collection, bracket, before):
    rest = "y" * 20 + (", z" if collection.startswith("[") else ": z") + bracket
    text = collection + "x" * (before - 1) + bracket + rest
    assert_fails("k: " + text, P, "line 1: " + REST + quote_rest(rest))
