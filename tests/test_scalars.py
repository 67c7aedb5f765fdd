"""Typing of plain scalars: null, booleans, integers, floats and strings, wherever they stand."""

import random
import struct

import pytest

from conftest import (ALL_FLAGS, FLAG_IDS, ParseError, UnsupportedFeatureError, assert_fails, assert_loads, load,
                      same_value)

# Every test here runs through both flow readers (see conftest).
pytestmark = pytest.mark.usefixtures("both_flow_readers")

S, F, I = object(), object(), object()  # expected: the text itself, float(text), int(text)
INF, NAN = float("inf"), float("nan")


# Every place a plain scalar can stand: how to write the document, and the value it loads as.
CONTEXTS = {
    "root": (lambda t: t, lambda v: v),
    "block-value": (lambda t: "v: " + t, lambda v: {"v": v}),
    "seq-item": (lambda t: "- " + t, lambda v: [v]),
    "block-key": (lambda t: t + ": x", lambda v: {v: "x"}),
    "flow-item": (lambda t: "[" + t + ", z]", lambda v: [v, "z"]),
    "flow-key": (lambda t: "{" + t + ": x}", lambda v: {v: "x"}),
    "flow-value": (lambda t: "{v: " + t + "}", lambda v: {"v": v}),
}


def fits(ctx, text):
    if ctx.startswith("flow") and any(c in text for c in ",[]{}"):
        return False
    return not (ctx == "flow-key" and ":" in text) and not (ctx in ("root", "seq-item") and text == "-")


def check(ctx, text, expected, **flags):
    write, wrap = CONTEXTS[ctx]
    expected = text if expected is S else float(text) if expected is F else int(text) if expected is I else expected
    assert_loads(write(text), wrap(expected), **flags)


def rows(table, contexts=CONTEXTS):
    for name, expected, texts in table:
        for text, value in texts.items() if isinstance(texts, dict) else [(t, expected) for t in texts]:
            for ctx in contexts:
                if fits(ctx, text):
                    yield pytest.param(ctx, text, value, id=f"{ctx}-{name}-{text!r}")


P63 = 2**63
TYPING = [
    ("null-words", None, ["~", "null", "Null", "NULL"]),
    ("null-lookalikes", S, ["nULL", "~x", "None", "nul", "nulls"]),
    ("true-words", True, ["true", "True", "TRUE"]),
    ("false-words", False, ["false", "False", "FALSE"]),
    ("bool-lookalikes", S, ["tRUE", "truE", "fALSE", "t", "truee", "F"]),
    ("decimal-int", I, ["0", "007", "+12", "-0", "-007", "0000000000000000000000000042"]),
    ("int64-edges", I, ["9223372036854775807", "+9223372036854775807", "-9223372036854775807", "09223372036854775807"]),
    ("int64-minimum", None, {"-9223372036854775808": -P63, "-09223372036854775808": -P63, "-0x8000000000000000": -P63,
                             "-0o1000000000000000000000": -P63, "-0X+8000000000000000": -P63}),
    ("beyond-int64", S, ["9223372036854775808", "-9223372036854775809", "18446744073709551615", "18446744073709551617"]),
    ("not-decimal", S, ["1_000", "1,000", "--5", "+-5", "+", "-", "5-", "1 2", "0b101"]),
    ("radix", None, {"0X1f": 31, "0x1e5": 485, "+0x10": 16, "0o17": 15, "-0o17": -15, "0x+1f": 31, "0x-1f": -31,
                     "-0x-1f": 31, "0x00000000000000000001": 1, "0xabcDEF": 0xABCDEF, "0o01234567": 0o1234567}),
    ("radix-edges", None, {"0x7FFFFFFFFFFFFFFF": P63 - 1, "-0x7fffffffffffffff": 1 - P63, "0x-8000000000000000": -P63,
                           "0o777777777777777777777": P63 - 1, "0o-1000000000000000000000": -P63}),
    ("radix-out-of-range", S, ["0x8000000000000000", "+0x8000000000000000", "-0x-8000000000000000", "-0x8000000000000001",
                               "0o1000000000000000000000", "0xFFFFFFFFFFFFFFFF", "0x-8000000000000001"]),
    ("bad-radix", S, ["0x", "0o", "0o8", "0xg", "0x1g", "0x-", "0x--1", "0x 1", "0x1_0", "00x1", "0o1.5", "0x1.8p1"]),
    ("floats", F, ["1.5", "1.", ".5", "+.5", "1e5", "1E+5", "-1e-5", "0e0", "1.e5", ".5e-3", "00.5", "+1.5e+5",
                   "9223372036854775808.0", "123456789012345678901234567890e-30"]),
    ("rounding", F, ["0.1", "0.30000000000000004", "1e23", "8.98846567431158e307", "9007199254740993.0",
                     "9007199254740993.0000000000000000001", "2.2250738585072011e-308", "2.2250738585072012e-308",
                     "3.141592653589793238462643383279502884197169399375105820974944592307816406286",
                     "1" + "0" * 400 + ".5e-400", "0." + "0" * 400 + "1e400", "0.000001e6"]),
    # float(text) keeps the sign of a negative zero, and same_value tells -0.0 from 0.0
    ("range-ends", F, ["4.9e-324", "2.4703282292062327e-324", "2.4703282292062328e-324", "1.7976931348623157e308",
                       "1.7976931348623158e308", "1.7976931348623159e308", "1e400", "-1e400", "1e-400", "-1e-400",
                       "-0.000001e-320", "0.00e400", "123.5e-330", "1e+99999999999999999999",
                       "-1e-99999999999999999999", "-0.0", "-0e0", "+0.0", "-.0", "-0.", "-2e-324", "-0.0e-5"]),
    ("not-floats", S, [".", "1.2.3", "1e", ".e5", "1.5f", "+.", "+-1.5", "1.5e+-3", "1e5.5", "e5", "1.5 e3"]),
    ("inf-nan-words", None, {".inf": INF, ".Inf": INF, ".INF": INF, "+.inf": INF, "+.Inf": INF, "+.INF": INF,
                             "-.inf": -INF, "-.Inf": -INF, "-.INF": -INF, ".nan": NAN, ".NaN": NAN, ".NAN": NAN}),
    ("inf-nan-lookalikes", S, ["+.nan", "-.nan", ".INf", ".nAN", ".Nan", "inf", "infinity", "nan", "..inf", ".inf."]),
    ("non-ascii-digits", S, ["١٢٣", "１２", "１.５", "1.5١", "1١", "٣e5"]),
    ("words", S, ["hello world", "a&b", "x*y", "@x", "`x", "?x", "-x", ".x", "+x", "<<x", "日本"]),
    ("whitespace-trimmed", 12, ["\u00a012\u3000", "12\t", "12\x0b\x0c", "\u2003 12 \u205f", "12\u0085",
                                "\u168012\u2028\u2029\u202f\u200a\r"]),
    ("whitespace-trimmed-null", None, ["\u3000~\u00a0"]),
    ("not-whitespace", S, ["12\u200b", "\u200b12", "12\ufeff", "12\x1c", "1\u00a02"]),
]


@pytest.mark.parametrize("ctx, text, expected", list(rows(TYPING)))
def test_typing_in_every_context(ctx, text, expected):
    check(ctx, text, expected)


@pytest.mark.parametrize("flags", ALL_FLAGS, ids=FLAG_IDS)
@pytest.mark.parametrize("ctx, text, expected", list(rows(TYPING, ["block-value"])))
def test_typing_does_not_depend_on_flags(ctx, text, expected, flags):
    check(ctx, text, expected, **flags)


BOOLS_1_1 = [
    ("yes-words", True, ["y", "Y", "yes", "Yes", "YES", "on", "On", "ON"]),
    ("no-words", False, ["n", "N", "no", "No", "NO", "off", "Off", "OFF"]),
    ("mixed-case", S, ["YeS", "yES", "oN", "OfF", "nO", "ye", "of", "onn", "yess", "non", "Y.", "o"]),
    ("core-words-kept", None, {"true": True, "False": False, "null": None, "NULL": None, "nULL": "nULL", "nu": "nu"}),
    ("quoted-words-kept", None, {"'yes'": "yes", '"on"': "on", "'N'": "N", '"off"': "off"}),
]


@pytest.mark.parametrize("ctx, text, expected", list(rows(BOOLS_1_1)))
def test_yaml_1_1_bools_on(ctx, text, expected):
    check(ctx, text, expected, yaml_1_1_bools=True)


@pytest.mark.parametrize("ctx, text, expected", list(rows(BOOLS_1_1[:3])))
def test_yaml_1_1_words_are_strings_by_default(ctx, text, expected):
    check(ctx, text, S, yaml_1_1_bools=False)


@pytest.mark.parametrize("doc", [".nan", "v: .NaN", "[.NAN]"])
def test_nan_is_the_quiet_positive_nan(doc):
    value = load(doc)
    value = value["v"] if isinstance(value, dict) else value[0] if isinstance(value, list) else value
    assert struct.pack("<d", value) == struct.pack("<Q", 0x7FF8000000000000)


@pytest.mark.parametrize("doc, expected", [
    pytest.param("abc # note # more", "abc", id="root-first-comment-cut"),
    pytest.param("v: abc\t# note", {"v": "abc"}, id="tab-before-comment"),
    pytest.param("v: abc#note", {"v": "abc#note"}, id="hash-without-blank-value"),
    pytest.param("v: a\u00a0#b", {"v": "a\u00a0#b"}, id="nbsp-is-not-a-blank"),
    pytest.param("v: a #", {"v": "a"}, id="bare-hash-comment"),
    pytest.param("v: #x", {"v": None}, id="value-only-comment-is-null"),
    pytest.param("v: a #b: c", {"v": "a"}, id="colon-in-comment-ignored"),
    pytest.param("v: a:b", {"v": "a:b"}, id="colon-without-space"),
    pytest.param("v: a:", {"v": "a:"}, id="colon-at-end"),
    pytest.param("v: a:\tb", {"v": "a:\tb"}, id="colon-then-tab"),
    pytest.param("v: a:\u00a0b", {"v": "a:\u00a0b"}, id="colon-then-nbsp"),
    pytest.param("a:b: x", {"a:b": "x"}, id="key-with-inner-colon"),
    pytest.param(": v", {None: "v"}, id="empty-key-null"),
    pytest.param("- \u00a0", [None], id="whitespace-item-null"),
    pytest.param("\u00a0", None, id="whitespace-root-null"),
])
def test_comments_and_colons(doc, expected):
    assert_loads(doc, expected)


TAG, ANCHOR, ALIAS = (f"{w} are not supported in Corvane" for w in ("Tags", "Anchors", "Aliases"))
KEY_COMMENT = "Mapping key ends in a comment; the ':' separator is inside it"
COLON = "Unexpected ':' in a plain scalar value (nested mappings must use quotes or a new line)"


@pytest.mark.parametrize("doc, message", [
    pytest.param("a: 1\nb # c: 2", "line 2: " + KEY_COMMENT, id="key-comment-line-2"),
    pytest.param("v: a: ", "line 1: " + COLON, id="value-colon-trailing-space"),
    pytest.param("v: : x", "line 1: " + COLON, id="value-leading-colon"),
    pytest.param("k: 1\n# c\nv: x: y", "line 3: " + COLON, id="value-colon-line-3"),
    pytest.param("- a\n- [1, *x]", "line 2: " + ALIAS, id="alias-in-flow-line-2"),
    pytest.param("# c\n\nk: &a", "line 3: " + ANCHOR, id="anchor-line-3"),
    pytest.param("&a: *b", "line 1: " + ANCHOR, id="key-refused-before-value"),
])
def test_plain_text_errors(doc, message):
    kind = ParseError if message.split(": ", 1)[1] in (KEY_COMMENT, COLON) else UnsupportedFeatureError
    assert_fails(doc, kind, message)


REFUSED = [("!t x", TAG), ("!!str x", TAG), ("&", ANCHOR), ("*a", ALIAS), ("\u00a0*a", ALIAS), ("\u3000!t", TAG)]


@pytest.mark.parametrize("ctx", CONTEXTS)
@pytest.mark.parametrize("text, message", REFUSED)
def test_tags_anchors_aliases_refused(ctx, text, message):
    assert_fails(CONTEXTS[ctx][0](text), UnsupportedFeatureError, "line 1: " + message)


def random_decimals(count, seed):
    """Decimal texts of every shape: signs, leading zeros, up to 25 digits on each side of the
    point, exponents of up to three digits."""
    rng = random.Random(seed)
    digits = lambda n: "".join(rng.choice("0000123456789") for _ in range(n))
    for _ in range(count):
        mantissa = digits(rng.randrange(0, 26)) + "." + digits(rng.randrange(0, 26))
        if mantissa == ".":
            mantissa = "0."
        exponent = rng.choice(["", "e" + rng.choice(["", "+", "-"]) + str(rng.randrange(0, 400))])
        yield rng.choice(["", "+", "-"]) + mantissa + exponent


def test_decimals_read_as_float_reads_them():
    # Short decimals take a quicker conversion than long ones; both must round as float() does.
    texts = list(random_decimals(3000, seed=20261208))
    values = load("[" + ", ".join(texts) + "]")
    mismatched = [(t, v) for t, v in zip(texts, values) if not same_value(v, float(t))]
    assert mismatched == []


# Decimals whose digits fit 2^53 and whose power of ten is within 10^22 are converted by one
# correctly rounded operation; the others by the general conversion. Both sides of each edge
# must round as float() does: the last power of the table and the first beyond it, digits at
# 2^53 and just above it (where rounding the digits first and then scaling would be off by one
# unit in the last place).
@pytest.mark.parametrize("text, expected", [
    ("1e22", 1e22), ("1e23", 1e23), ("9e22", 9e22), ("15e21", 1.5e22), ("-7e22", -7e22),
    ("123456789e14", 1.23456789e22), ("1234567890123456789e4", 1.234567890123456789e22),
    ("1e-22", 1e-22), ("1e-23", 1e-23), ("3e-22", 3e-22), ("3e-23", 3e-23),
    ("0.0000000000000000000001", 1e-22), ("0.00000000000000000000001", 1e-23),
    ("123456789e-30", 1.23456789e-22), ("1.5e+022", 1.5e22), ("25e-0024", 2.5e-23),
    ("9007199254740992e-22", 9.007199254740992e-07), ("0.9007199254740992", 0.9007199254740992),
    ("0.9007199254740993", 0.9007199254740993), ("9007199254740993e-22", 9.007199254740993e-07),
    ("90071992547409.93", 90071992547409.93), ("18014398509481983e-3", 18014398509481.984),
])
def test_decimals_at_the_edges_of_the_exact_conversion(text, expected):
    assert_loads("[" + text + "]", [expected])
    assert_loads("v: " + text, {"v": expected})


# Out of the double range, the position of the first significant digit and the written exponent
# together decide between infinity and zero; long digit strings whose exponent brings them only
# part of the way back must still land on the right side.
@pytest.mark.parametrize("text, expected", [
    pytest.param("1" + "0" * 700 + "e-300", INF, id="1e400-from-701-digits"),
    pytest.param("-1" + "0" * 700 + "e-300", -INF, id="minus-1e400-from-701-digits"),
    pytest.param("0." + "0" * 599 + "1e1000", INF, id="1e400-from-600-fraction-digits"),
    pytest.param("0." + "0" * 700 + "1e300", 0.0, id="1e-401-from-701-fraction-digits"),
    pytest.param("-0." + "0" * 700 + "1e300", -0.0, id="minus-1e-401-from-701-fraction-digits"),
    pytest.param("1" + "0" * 700 + "e-1100", 0.0, id="1e-400-from-701-digits"),
    pytest.param("1" + "0" * 400 + ".5", INF, id="401-digits-and-a-fraction"),
    pytest.param("12.5e-399", 0.0, id="fraction-and-large-negative-exponent"),
])
def test_out_of_range_decimals_overflow_or_underflow_by_their_value(text, expected):
    assert_loads("[" + text + "]", [expected])
    assert_loads("v: " + text, {"v": expected})


# Numbers are read in one pass while their digits fit 64 bits unchecked (nineteen decimal,
# sixteen hex, twenty-one octal digits) and a float takes one exact operation; the rest go the
# general way. Both sides of each of its limits: digit counts (leading zeros, and values past
# 2^64 that would wrap around), exponent lengths, signs, prefixes, a leading point, and texts
# that stop being numbers in their last byte.
@pytest.mark.parametrize("text, expected", [
    ("0", 0), ("-0", 0), ("007", 7), ("-007", -7), ("123456789012345678", 123456789012345678),
    ("-123456789012345678", -123456789012345678), ("1234567890123456789", 1234567890123456789),
    ("9223372036854775807", 9223372036854775807), ("-9223372036854775808", -9223372036854775808),
    ("9223372036854775808", "9223372036854775808"), ("12345678901234567890", "12345678901234567890"),
    ("+5", 5), ("0x1F", 31), ("-0o17", -15), ("1.", 1.0), ("-1.", -1.0), ("1.e5", 1e5), ("1e5", 1e5),
    ("1E+5", 1e5), ("1e-5", 1e-5), ("-0.0", -0.0), ("0.0", 0.0), ("-0e0", -0.0), (".5", 0.5), ("-.5", -0.5),
    ("1e999", INF), ("1e022", 1e22), ("1e0022", 1e22), ("2.5e-007", 2.5e-7),
    ("1234567890.123456789", 1234567890.123456789), ("1234567890.1234567891", 1234567890.1234567891),
    ("0.0000000000000000001", 1e-19), ("00000000000000000001.5", 1.5), ("123456789012345678.5", 123456789012345678.5),
    ("1e", "1e"), ("1e+", "1e+"), ("1.5x", "1.5x"), ("1.5.", "1.5."), ("-", "-"), ("1_000", "1_000"),
    ("12a", "12a"), ("1e5e", "1e5e"), ("1e-1x", "1e-1x"), ("--1", "--1"), ("1.5e5.", "1.5e5."),
    ("1000000000000000000", 10**18), ("9999999999999999999", "9999999999999999999"),
    ("-9223372036854775809", "-9223372036854775809"), ("0x", "0x"), ("0xg", "0xg"), ("0x1g", "0x1g"),
    ("0xFFFFFFFFFFFFFFF", 0xFFFFFFFFFFFFFFF), ("0x7FFFFFFFFFFFFFFF", 0x7FFFFFFFFFFFFFFF),
    ("0x8000000000000000", "0x8000000000000000"), ("-0x8000000000000000", -0x8000000000000000),
    ("0x+1F", 31), ("0x-1F", -31), ("-0x1f", -31), ("-0x-1f", 31), ("00x1", "00x1"), ("1x1", "1x1"), ("0X1a", 26),
    ("1.5e0000000000000000001", 15.0), ("2e-99999999999", 0.0), ("1e+99999999999999999999", INF),
    ("-09223372036854775809", "-09223372036854775809"), ("0x0000000000000001F", 31),
    ("0x10000000000000001", "0x10000000000000001"), ("-0x08000000000000001", "-0x08000000000000001"),
    ("0o0000000000000000000017", 15), ("0o2000000000000000000001", "0o2000000000000000000001"),
])
def test_numbers_read_in_one_pass_and_beside_it(text, expected):
    assert_loads("[" + text + "]", [expected])
    assert_loads("v: " + text, {"v": expected})


# Non-ASCII White_Space is trimmed from the ends of plain scalars; a quick look at the lead byte
# (C2, or E1 to E3) decides whether the slower check runs. Characters that share a last byte
# (é and U+2029 both end in A9) or a lead byte (U+20A9, U+3001) with whitespace stay.
@pytest.mark.parametrize("text, expected", [
    ("a\u00a0", "a"), ("a\u0085", "a"), ("a\u1680", "a"), ("a\u2000", "a"), ("a\u200a", "a"), ("a\u2029", "a"),
    ("a\u202f", "a"), ("a\u205f", "a"), ("a\u3000", "a"), ("a\u3000\u00a0", "a"), ("\u00a0", None),
    ("aé", "aé"), ("a\u20a9", "a\u20a9"), ("a\u3001", "a\u3001"), ("a\u1681", "a\u1681"), ("a\u00a1", "a\u00a1"),
    ("a\u200b", "a\u200b"), ("a\u2030", "a\u2030"), ("a大", "a大"), ("a😀", "a😀"), ("é", "é"), ("ü\u2028", "ü"),
    ("\u00e9\u00a0é", "\u00e9\u00a0é"),
])
def test_plain_scalars_trim_unicode_whitespace_at_the_end(text, expected):
    assert_loads("v: " + text, {"v": expected})
    assert_loads("[" + text + ", x]", [expected, "x"] if expected is not None else [None, "x"])


# The same at the start of a flow item, where the quick flow reader hands whitespace to the
# exact one.
@pytest.mark.parametrize("item, expected", [
    ("\u3000a", "a"), ("\u00a0a", "a"), ("\u2028a", "a"), ("\u3001a", "\u3001a"), ("\u00a1a", "\u00a1a"),
    ("\u20a9a", "\u20a9a"), ("éa", "éa"), ("大a", "大a"), ("\u1680a\u1680", "a"),
])
def test_flow_items_trim_unicode_whitespace_at_the_start(item, expected):
    assert_loads("[" + item + ", b]", [expected, "b"])
    assert_loads("{k: " + item + "}", {"k": expected})
