"""Writing YAML with corvane.dump: the exact round trip through load and PyYAML's safe loader,
the style chosen for each kind of string, number formatting, errors, and deep nesting."""

import collections
import enum
import locale
import math
import operator
import re
import sys

import pytest
import yaml
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import corvane
from conftest import SHARED, CorvaneError, load, same_value

dump = corvane.dump


def loads_back(value, text):
    """Both loaders, and the loader with YAML 1.1 booleans, read `text` as `value`."""
    for bools in (False, True):
        back = load(text, strict=True, yaml_1_1_bools=bools)
        assert same_value(back, value), f"{text!r} loaded as {back!r}, yaml_1_1_bools={bools}"


def pyyaml_holds(value):
    """PyYAML can give back `value` itself: no NaN keys (a new NaN is not equal to the old),
    and keys short enough for its one-line simple keys."""
    stack = [value]
    while stack:
        item = stack.pop()
        if isinstance(item, dict):
            for key, member in item.items():
                if isinstance(key, float) and math.isnan(key):
                    return False
                if isinstance(key, str) and len(dump(key)) > 512:
                    return False
                stack.append(member)
        elif isinstance(item, list):
            stack.extend(item)
    return True


# ---------------------------------------------------------------------------------------------
# Property: whatever dump writes, both loaders read back as the same value.

TRICKY_WORDS = ["yes", "No", "ON", "off", "y", "N", "~", "null", "Null", "true", "FALSE", "<<", "=",
                "1_000", "2024-01-01", "2001-12-14 21:59:43.10 -5", "12:30", "190:20:30", "0b101",
                "0x1F", "0o17", "017", ".5", "._5", "1e3", "1.0e+3", ".inf", "-.INF", ".NaN", "+1",
                "-", "---", "...", "- x", "? x", "%YAML", "@x", "`x", "#x", "a #b", "a: b", "a:",
                "a:b", "!t", "&a", "*a", "|", ">", "[a]", "{a: 1}", "'q'", '"q"', "\\", "",
                " ", "\t", "\r\n", "\r", "\n", "\x85", "\u2028", "\u2029", "\ufeff", "\xa0"]
ALPHABET = st.characters(blacklist_categories=("Cs",))
SPECIALS = st.sampled_from(list(" \t\r\n:#-?'\"\\|>[]{},&*!%@`~.0123456789e+_\x85\u2028\ufeffyesno"))
strings = st.one_of(
    st.text(ALPHABET, max_size=20),
    st.text(SPECIALS, max_size=12),
    st.lists(st.one_of(st.sampled_from(TRICKY_WORDS), st.text(SPECIALS, max_size=3)), max_size=5).map("".join),
    st.sampled_from(TRICKY_WORDS),
)
ints = st.integers(min_value=-(2**63), max_value=2**63 - 1)
scalars = st.one_of(st.none(), st.booleans(), ints, st.floats(), strings)
keys = st.one_of(st.none(), st.booleans(), ints, st.floats(allow_nan=False), strings)
values = st.recursive(
    scalars,
    lambda children: st.one_of(st.lists(children, max_size=5), st.dictionaries(keys, children, max_size=5)),
    max_leaves=30,
)
ROUND_TRIPS = 2000


@settings(max_examples=ROUND_TRIPS, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(values, st.sampled_from([2, 4, 6, 8]), st.booleans())
def test_load_reads_back_what_dump_writes(value, indent, sort_keys):
    try:
        text = dump(value, indent=indent, sort_keys=sort_keys)
    except TypeError:
        assert sort_keys  # keys of different types cannot be sorted
        return
    if sort_keys:
        value = sort_mappings(value)
    loads_back(value, text)


@settings(max_examples=ROUND_TRIPS, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(values, st.sampled_from([2, 4, 6, 8]))
def test_pyyaml_safe_loader_reads_back_what_dump_writes(value, indent):
    text = dump(value, indent=indent)
    if pyyaml_holds(value):
        back = yaml.load(text, Loader=yaml.CSafeLoader)
        assert same_value(back, value), f"{text!r} loaded by PyYAML as {back!r}"


# The writer writes plain only what YAML 1.1 readers read as written: the portability check,
# which applies the same rule, finds nothing in what it writes.
@settings(max_examples=ROUND_TRIPS, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(values, st.sampled_from([2, 4, 6, 8]), st.booleans())
def test_portability_check_finds_nothing_in_what_dump_writes(value, indent, bools):
    text = dump(value, indent=indent)
    assert corvane._native._portability(text, yaml_1_1_bools=bools) == []


def sort_mappings(value):
    if isinstance(value, dict):
        return {key: sort_mappings(value[key]) for key in sorted(value)}
    if isinstance(value, list):
        return [sort_mappings(item) for item in value]
    return value


# ---------------------------------------------------------------------------------------------
# Styles of strings, as values and as keys.

STYLES = [
    # plain
    ("word", "word"), ("two words", "two words"), ("a:b", "a:b"), ("a#b", "a#b"), ("é", "é"),
    ("C:\\dir", "C:\\dir"), ("it's", "it's"), ('say "hi"', 'say "hi"'), (".env", ".env"),
    ("http://x/y?z=1", "http://x/y?z=1"), ("1st", "1st"), ("v1.2", "v1.2"), ("~home", "~home"),
    ("<x>", "<x>"), ("a - b", "a - b"), ("inf", "inf"), ("nan", "nan"), ("None", "None"),
    ("yess", "yess"), ("tRUE", "tRUE"), ("日本語", "日本語"),
    # numbers to no reader: PyYAML's floats need one point, and a digit right after a leading one
    ("1.2.3", "1.2.3"), ("._1", "._1"), ("1.5e3x", "1.5e3x"), ("12:60", "12:60"), ("2024-1-1", "2024-1-1"),
    # words and numbers that some reader types: single quotes
    ("yes", "'yes'"), ("No", "'No'"), ("on", "'on'"), ("OFF", "'OFF'"), ("y", "'y'"), ("n", "'n'"),
    ("~", "'~'"), ("null", "'null'"), ("true", "'true'"), ("False", "'False'"), ("12", "'12'"),
    ("-7", "'-7'"), ("1_000", "'1_000'"), ("2024-01-01", "'2024-01-01'"), ("12:30", "'12:30'"),
    ("0b101", "'0b101'"), ("0x1F", "'0x1F'"), ("0o17", "'0o17'"), (".5", "'.5'"), ("1e3", "'1e3'"),
    ("1:30.5", "'1:30.5'"), ("1.", "'1.'"), ("1_0.5", "'1_0.5'"), ("0_7", "'0_7'"), (".inf", "'.inf'"), ("-.Inf", "'-.Inf'"), (".NaN", "'.NaN'"),
    ("<<", "'<<'"), ("=", "'='"), ("+1", "'+1'"), ("2001-12-14 21:59:43.10 -5", "'2001-12-14 21:59:43.10 -5'"),
    # indicators and structure: single quotes
    ("", "''"), (" a", "' a'"), ("a ", "'a '"), ("a: b", "'a: b'"), ("a:", "'a:'"), ("a #b", "'a #b'"),
    ("-", "'-'"), ("-x", "'-x'"), ("- x", "'- x'"), ("?x", "'?x'"), (":x", "':x'"), ("#x", "'#x'"),
    ("%x", "'%x'"), ("@x", "'@x'"), ("`x", "'`x'"), ("!x", "'!x'"), ("&x", "'&x'"), ("*x", "'*x'"),
    ("|", "'|'"), (">", "'>'"), ("[a]", "'[a]'"), ("{a}", "'{a}'"), (",", "','"), ("'q'", "'''q'''"),
    ('"q"', "'\"q\"'"), ("...", "'...'"), ("---", "'---'"),
    # characters str.isprintable() rejects: double quotes with escapes
    ("a\tb", '"a\\tb"'), ("\r", '"\\r"'), ("a\rb", '"a\\rb"'), ("\x00\x07\x08\x0b\x0c\x1b", '"\\0\\a\\b\\v\\f\\e"'),
    ("\x7f", '"\\x7F"'), ("\x85", '"\\N"'), ("\xa0", '"\\_"'), ("\u2028\u2029", '"\\L\\P"'),
    ("\ufeffa", '"\\uFEFFa"'), ("\U000e0001", '"\\U000E0001"'), ("\u3000", '"\\u3000"'),
    ('\t"\\', '"\\t\\"\\\\"'), ("\u00ad", '"\\xAD"'),
]


@pytest.mark.parametrize("text, written", STYLES, ids=[repr(t) for t, _ in STYLES])
def test_string_style(text, written):
    assert dump(text) == written + "\n"
    assert dump({"k": text}) == f"k: {written}\n"
    assert dump({text: 1}) == f"{written}: 1\n"
    loads_back({text: [text]}, dump({text: [text]}))
    assert yaml.load(dump({text: [text]}), Loader=yaml.CSafeLoader) == {text: [text]}


@pytest.mark.parametrize("char, escape", [("\x01", "\\x01"), ("\x85", "\\N"), ("\x9f", "\\x9F"),
                                          ("\u200b", "\\u200B"), ("\U000e0001", "\\U000E0001"), ("\t", "\\t")])
def test_long_text_of_escapes_only(char, escape):
    # The most that escaping can grow a text, over a text longer than the output's first buffer.
    assert dump({"k": char * 5000}) == f'k: "{escape * 5000}"\n'


# Texts past sixteen bytes are checked a block at a time, the last block going back over bytes
# already checked; the byte that decides the style is put at every place around those blocks.
LONG_STYLES = [
    (" #b", "' #b'"), (":", "':'"), (" ", "' '"), (": b", "': b'"), (" x", " x"), (":x", ":x"),
    ("#", "#"), ("é", "é"), ("\tz", '"\\tz"'), ('"\\\t', '"\\"\\\\\\t"'),
    ("\x85\u6771", '"\\N\u6771"'), ("\u6771 ", "'\u6771 '"),
]


@pytest.mark.parametrize("tail, written", LONG_STYLES, ids=[repr(t) for t, _ in LONG_STYLES])
@pytest.mark.parametrize("head", [12, 15, 16, 17, 31, 32, 33])
def test_string_style_at_block_edges(head, tail, written):
    text = "w" * head + tail
    quote = written[0] if written[0] in "'\"" else ""
    written = quote + "w" * head + written[len(quote):]
    assert dump({"k": text}) == f"k: {written}\n"
    assert dump({text: 1}) == f"{written}: 1\n"


# Several lines: a literal block scalar where it reads back exactly, else double quotes.
MULTILINE = [
    ("a\nb", "k: |-\n  a\n  b\n"),
    ("a\nb\n", "k: |\n  a\n  b\n"),
    ("a\nb\n\n", "k: |+\n  a\n  b\n\n"),
    ("\na", "k: |-\n\n  a\n"),
    ("a\n\nb", "k: |-\n  a\n\n  b\n"),
    (" a\nb", "k: |2-\n   a\n  b\n"),
    ("\n  a\n", "k: |2\n\n    a\n"),
    ("a\n  b\n", "k: |\n  a\n    b\n"),
    ("# a\n- b\n", "k: |\n  # a\n  - b\n"),
    ("a \nb", "k: |-\n  a \n  b\n"),
    # no line with content: the readers would give the empty string
    ("\n", 'k: "\\n"\n'), ("\n\n", 'k: "\\n\\n"\n'),
    # a line of spaces alone is a blank line, whose spaces the readers treat differently
    ("a\n  \nb", 'k: "a\\n  \\nb"\n'), ("  \na", 'k: "  \\na"\n'),
    # carriage returns, tabs and other line breaks are escaped
    ("a\r\nb", 'k: "a\\r\\nb"\n'), ("a\nb\r", 'k: "a\\nb\\r"\n'), ("a\n\tb", 'k: "a\\n\\tb"\n'),
    ("a\x85b\nc", 'k: "a\\Nb\\nc"\n'), ("a\u2028b\n", 'k: "a\\Lb\\n"\n'),
]


@pytest.mark.parametrize("text, written", MULTILINE, ids=[repr(t) for t, _ in MULTILINE])
def test_multiline_string_style(text, written):
    assert dump({"k": text}) == written
    loads_back({"k": text, "after": [text]}, dump({"k": text, "after": [text]}))
    assert yaml.load(dump([{"k": text}, text]), Loader=yaml.CSafeLoader) == [{"k": text}, text]


# A line of spaces alone keeps a text out of a block scalar wherever it falls among the
# sixteen-byte blocks that the style is checked in.
LITERAL_EDGES = [("\n  \nb", False), ("\n  ", False), ("\n \n", False), ("\n  b\n  ", False),
                 ("\n \n\n", False), ("\n b", True), ("\n\n b\n", True), ("\nb \n", True), ("\n \tb", False),
                 ("\n\n   \n\nb", False), ("\nb  \n  b \n", True)]


@pytest.mark.parametrize("tail, literal", LITERAL_EDGES, ids=[repr(t) for t, _ in LITERAL_EDGES])
@pytest.mark.parametrize("head", ["w" * 1, "w" * 12, "w" * 15, "w" * 16, "w" * 17, "w" * 31, "w" * 33,
                                  "ab\n" * 5, "ab\n" * 11, "  x\n" * 4])
def test_literal_block_scalar_at_block_edges(head, tail, literal):
    text = head + tail
    assert dump({"k": text}).startswith("k: |" if literal else 'k: "')
    loads_back({"k": text}, dump({"k": text}))


def test_multiline_keys_and_block_scalars_in_every_place():
    assert dump({"a\nb": 1}) == '"a\\nb": 1\n'
    assert dump("x\ny\n") == "|\n  x\n  y\n"
    assert dump([" x\n"], indent=4) == "- |4\n     x\n"
    assert dump({"a": [{"b": " x\ny"}]}) == "a:\n  - b: |2-\n       x\n      y\n"


def test_long_output_with_a_few_non_ascii_runs():
    # Mostly ASCII text with rare other characters is built from pieces: each must land exactly.
    items = ["é€😀"] + ["x" * 60] * 2000 + ["ü", "日本", "x" * 60, "\u00ff" * 40] + ["y" * 60] * 2000 + ["Ω"]
    expected = "".join(f"- {item}\n" for item in items)
    assert dump(items) == expected
    assert dump(["a"]) == "- a\n"  # the reused buffer holds nothing of the call before


# ---------------------------------------------------------------------------------------------
# Scalars other than strings, and layout.

def test_scalars_and_layout():
    value = {"none": None, "t": True, "f": False, "i": -42, "big": 2**63 - 1, "small": -(2**63),
             "x": 1.5, "e": [], "m": {}, "list": [1, [2, [3]], {"a": 1, "b": [{}]}],
             None: 0, 1: 1, True: 2, 2.5: 3, -0.0: 4}
    assert dump(value) == (
        "none: null\nt: true\nf: false\ni: -42\nbig: 9223372036854775807\nsmall: -9223372036854775808\n"
        "x: 1.5\ne: []\nm: {}\nlist:\n  - 1\n  - - 2\n    - - 3\n  - a: 1\n    b:\n      - {}\n"
        "null: 0\n1: 2\n2.5: 3\n-0.0: 4\n")
    assert dump(value["list"], indent=4) == "- 1\n- - 2\n  - - 3\n- a: 1\n  b:\n      - {}\n"
    assert dump({"a": {"b": {"c": 1}}}, indent=8) == "a:\n        b:\n                c: 1\n"
    loads_back(value, dump(value))


FLOATS = [(0.0, "0.0"), (-0.0, "-0.0"), (1.0, "1.0"), (0.1, "0.1"), (-2.5, "-2.5"), (1e15, "1000000000000000.0"),
          (1e16, "1.0e+16"), (1.5e300, "1.5e+300"), (1e-4, "0.0001"), (1e-5, "1.0e-05"), (5e-324, "5.0e-324"),
          (1.7976931348623157e308, "1.7976931348623157e+308"), (123456789.123, "123456789.123"),
          (math.inf, ".inf"), (-math.inf, "-.inf"), (math.nan, ".nan"),
          # Where repr pads with zeros or moves the point: the same text from every conversion.
          (100.0, "100.0"), (-1e15, "-1000000000000000.0"), (9999999999999998.0, "9999999999999998.0"),
          (1234567890123456.8, "1234567890123456.8"), (1.2345e16, "1.2345e+16"), (1e22, "1.0e+22"),
          (0.000123, "0.000123"), (-0.00010000000000000002, "-0.00010000000000000002"),
          (1.234e-05, "1.234e-05"), (9.999999999999999e-05, "9.999999999999999e-05"),
          (0.30000000000000004, "0.30000000000000004"), (-1e-100, "-1.0e-100"),
          (2.2250738585072014e-308, "2.2250738585072014e-308"), (123.456, "123.456")]


@pytest.mark.parametrize("number, written", FLOATS, ids=[w for _, w in FLOATS])
def test_float_text(number, written):
    assert dump(number) == written + "\n"
    assert dump({number: number}) == f"{written}: {written}\n"


def repr_with_dot_and_signed_exponent(number):
    mantissa, _, exponent = repr(number).partition("e")
    if "." not in mantissa:
        mantissa += ".0"
    return mantissa + ("e" + exponent if exponent else "")


@settings(max_examples=2000)
@given(st.floats(allow_nan=False, allow_infinity=False))
def test_floats_are_written_with_the_digits_of_repr(number):
    text = dump(number)
    assert text == repr_with_dot_and_signed_exponent(number) + "\n"
    loads_back(number, text)


@settings(max_examples=2000)
@given(st.integers(-10**16, 10**16), st.integers(-30, 40))
def test_floats_of_few_digits_are_written_with_the_digits_of_repr(mantissa, exponent):
    # Most floats in configuration are short decimals, which some builds format on a path of
    # their own.
    number = float(f"{mantissa}e{exponent}")
    assert dump(number) == repr_with_dot_and_signed_exponent(number) + "\n"


# Locales whose decimal point is not `.`: some builds take the digits from the C library's
# printf, which writes the point of the locale a program has set.
COMMA_LOCALES = ["de_DE.UTF-8", "fr_FR.UTF-8", "ps_AF.UTF-8", "ar_SA.UTF-8"]
# Shortest digits of every length, subnormals among them, and powers of two whose correctly
# rounded sixteen digits read back as their lower neighbour.
LOCALE_FLOATS = [0.1, 1 / 3, -2 / 3, 1e22, 5e-324, 2.2250738585e-313, 1.7976931348623157e308,
                 2.0**-1017, 2.0**-1007, 0.30000000000000004, 123456789.123456789]


@pytest.mark.parametrize("name", COMMA_LOCALES)
def test_float_text_does_not_follow_the_c_locale(name):
    saved = locale.setlocale(locale.LC_NUMERIC)
    try:
        try:
            locale.setlocale(locale.LC_NUMERIC, name)
        except locale.Error:
            pytest.skip(f"no locale {name} on this machine")
        assert locale.localeconv()["decimal_point"] != "."
        for number in LOCALE_FLOATS:
            assert dump(number) == repr_with_dot_and_signed_exponent(number) + "\n"
    finally:
        locale.setlocale(locale.LC_NUMERIC, saved)


class Color(enum.IntEnum):
    RED = 1


class Name(str):
    pass


def test_subclasses_tuples_and_bools_are_written_as_their_base_shapes():
    value = collections.OrderedDict([("c", Color.RED), (Name("k"), Name("yes")), ("t", (1, (2,), ())),
                                     ("b", [True, False]), ("f", type("F", (float,), {})(0.5))])
    assert dump(value) == "c: 1\nk: 'yes'\nt:\n  - 1\n  - - 2\n  - []\nb:\n  - true\n  - false\nf: 0.5\n"
    assert dump({Color.RED: 1}) == "1: 1\n"


class ReversedItems(dict):
    def items(self):
        return list(reversed(list(dict.items(self))))


class NoItems(dict):
    def items(self):
        return iter(())


class EveryOther(list):
    def __iter__(self):
        return iter(list.copy(self)[::2])


def moved_to_end(*keys):
    ordered = collections.OrderedDict(a=1, b=2, c=3)
    for key in keys:
        ordered.move_to_end(key)
    return ordered


# A dict or list subclass is written as its own items() or iteration gives it, as json.dumps
# writes it: an OrderedDict in its own order, which need not be the order of its storage.
SUBCLASS_ENTRIES = [
    (moved_to_end("a"), False, "b: 2\nc: 3\na: 1\n"),
    (moved_to_end("b", "a"), False, "c: 3\nb: 2\na: 1\n"),
    (moved_to_end("a"), True, "a: 1\nb: 2\nc: 3\n"),
    (ReversedItems(a=1, b={"c": 2}), False, "b:\n  c: 2\na: 1\n"),
    (ReversedItems(b=1, a=2), True, "a: 2\nb: 1\n"),
    ({"k": NoItems(a=1)}, False, "k: {}\n"),
    (EveryOther([1, [2], 3, 4]), False, "- 1\n- 3\n"),
    ({"k": EveryOther([1])}, False, "k:\n  - 1\n"),
    ([EveryOther([]), EveryOther([[]])], False, "- []\n- - []\n"),
]


@pytest.mark.parametrize("value, sort_keys, written", SUBCLASS_ENTRIES, ids=[w for _, _, w in SUBCLASS_ENTRIES])
def test_subclasses_are_written_as_their_items_and_iteration_give_them(value, sort_keys, written):
    assert dump(value, sort_keys=sort_keys) == written


def test_sort_keys():
    assert dump({"b": 1, "a": {"d": 1, "c": 2}}, sort_keys=True) == "a:\n  c: 2\n  d: 1\nb: 1\n"
    assert dump({2: "x", 1: "w", 1.5: "z"}, sort_keys=True) == "1: w\n1.5: z\n2: x\n"
    with pytest.raises(TypeError, match="'<' not supported between instances of 'str' and 'int'"):
        dump({1: "x", "a": "y"}, sort_keys=True)


# ---------------------------------------------------------------------------------------------
# Errors

class ItemsOf(dict):
    """A mapping whose items() gives what it was made with."""

    def __init__(self, items):
        super().__init__()
        self.given = items

    def items(self):
        return self.given


ERRORS = [
    (b"x", TypeError, "cannot write a value of type 'bytes' (at the top level)"),
    ({"services": [{"port": {1, 2}}]}, TypeError, "cannot write a value of type 'set' (at services[0].port)"),
    ({"a b": [object()]}, TypeError, "cannot write a value of type 'object' (at ['a b'][0])"),
    ({1: {None: b""}}, TypeError, "cannot write a value of type 'bytes' (at [1][None])"),
    ({"a": {(1, 2): 3}}, TypeError, "cannot write a key of type 'tuple' (keys must be str, int, float, bool or "
                                    "None) (at a)"),
    ({"n": [2**63]}, ValueError, "int outside the signed 64-bit range, which would read back as a string (at n[0])"),
    (-(2**63) - 1, ValueError, "int outside the signed 64-bit range, which would read back as a string "
                               "(at the top level)"),
    ({"m": {2**64: 1}}, ValueError, "int key outside the signed 64-bit range, which would read back as a string "
                                    "(at m)"),
    ({"k": [ItemsOf([1])]}, TypeError, "items() of a mapping must give (key, value) pairs (at k[0])"),
    (ItemsOf([("a", 1), ("b",)]), TypeError, "items() of a mapping must give (key, value) pairs (at the top level)"),
    ({"a": ["\ud800"]}, UnicodeEncodeError, "'utf-8' codec can't encode character '\\ud800' in position 0: "
                                            "surrogates not allowed (at a[0])"),
    ({"b": {"x\udc80": 1}}, UnicodeEncodeError, "'utf-8' codec can't encode character '\\udc80' in position 1: "
                                                "surrogates not allowed (at b)"),
]


@pytest.mark.parametrize("value, error, message", ERRORS, ids=[m for _, _, m in ERRORS])
def test_errors_name_the_type_and_the_path(value, error, message):
    with pytest.raises(error) as info:
        dump(value)
    assert type(info.value) is error and str(info.value) == message


def test_circular_references():
    itself = []
    itself.append(itself)
    inner = {"x": 1}
    inner["loop"] = [inner]
    deep = {"a": inner}
    cases = [(itself, "the top-level value contains itself"),
             ({"k": [0, deep]}, "the value at k[1].a contains itself")]
    for value, message in cases:
        with pytest.raises(ValueError) as info:
            dump(value)
        assert str(info.value) == "circular reference: " + message
    shared = [1]
    assert dump([shared, shared]) == "- - 1\n- - 1\n"  # the same object twice is no cycle


def test_circular_reference_past_the_depth_where_containers_are_tracked():
    # Lists nested 1200 deep whose innermost one holds the list at depth 1100 again.
    chain = [[] for _ in range(1200)]
    for outer, inner in zip(chain, chain[1:]):
        outer.append(inner)
    chain[-1].append(chain[1100])
    with pytest.raises(ValueError) as info:
        dump(chain[0])
    assert str(info.value) == "circular reference: the value at " + "[0]" * 1100 + " contains itself"
    # Deep but without a cycle, and with the same list at two places below that depth.
    shared = [0]
    chain[-1][0] = [shared, shared]
    assert dump(chain[0]) == "- " * 1200 + "- - 0\n" + "  " * 1200 + "- - 0\n"


class Index:
    def __init__(self, number):
        self.number = number

    def __index__(self):
        return self.number


# Any int but 2, 4, 6 and 8 is a ValueError, however large; what is no int is a TypeError.
INDENTS = [
    (4, None), (Index(8), None), (0, "not 0"), (1, "not 1"), (3, "not 3"), (10, "not 10"), (-2, "not -2"),
    (True, "not 1"), (2**31, "not 2147483648"), (-(2**31) - 1, "not -2147483649"), (2**64 + 2, f"not {2**64 + 2}"),
    (Index(2**100), f"not {2**100}"),
]


@pytest.mark.parametrize("indent, error", INDENTS, ids=[str(e) for _, e in INDENTS])
def test_indent_must_be_even_from_two_to_eight(indent, error):
    if error is None:
        assert dump({"a": [1]}, indent=indent) == f"a:\n{' ' * operator.index(indent)}- 1\n"
        return
    with pytest.raises(ValueError) as info:
        dump({}, indent=indent)
    assert str(info.value) == f"indent must be 2, 4, 6 or 8, {error}"


@pytest.mark.parametrize("indent", ["4", 4.0, None, b"4"])
def test_indent_must_be_an_int(indent):
    with pytest.raises(TypeError, match="cannot be interpreted as an integer"):
        dump({}, indent=indent)


def numpy_bool(truth):
    numpy = pytest.importorskip("numpy")
    return numpy.bool_(truth)


# sort_keys is a bool, as load's flags are: numpy's bool is one, 1 and "yes" are not.
SORT_KEYS = [
    (False, "b: 1\na: 2\n"), (True, "a: 2\nb: 1\n"),
    (lambda: numpy_bool(True), "a: 2\nb: 1\n"), (lambda: numpy_bool(False), "b: 1\na: 2\n"),
    (1, "dump() argument 'sort_keys' must be bool, not int"),
    ("yes", "dump() argument 'sort_keys' must be bool, not str"),
    (None, "dump() argument 'sort_keys' must be bool, not NoneType"),
]


@pytest.mark.parametrize("flag, outcome", SORT_KEYS, ids=[o for _, o in SORT_KEYS])
def test_sort_keys_must_be_a_bool(flag, outcome):
    flag = flag() if callable(flag) else flag
    if outcome.startswith("dump()"):
        with pytest.raises(TypeError) as info:
            dump({"b": 1, "a": 2}, sort_keys=flag)
        assert str(info.value) == outcome
    else:
        assert dump({"b": 1, "a": 2}, sort_keys=flag) == outcome


def test_arguments():
    with pytest.raises(TypeError):
        dump({}, 2)  # indent is keyword-only
    with pytest.raises(TypeError):
        dump()
    with pytest.raises(UnicodeEncodeError):
        dump({"a": "\ud800"})


# ---------------------------------------------------------------------------------------------
# Depth: no recursion, whatever the nesting.

DEPTH = 100_000


def test_nesting_of_100000_levels_dumps_and_loads_back():
    value = "leaf"
    for _ in range(DEPTH):
        value = [value]
    text = dump(value)
    assert text == "- " * DEPTH + "leaf\n"
    back = load(text)
    for _ in range(DEPTH):
        assert type(back) is list and len(back) == 1
        back = back[0]
    assert back == "leaf"
    assert sys.getrecursionlimit() < DEPTH


def test_deep_mappings_dump_and_load_back():
    # Each level of a mapping is indented further, so the text grows with the square of the depth.
    depth = 1000
    value = {"k": None}
    for level in range(depth):
        value = {"k": value, "level": level}
    text = dump(value)
    assert text.startswith("k:\n  k:\n    k:\n") and text.endswith("\nlevel: 999\n")
    back = load(text, strict=True)
    for level in reversed(range(depth)):
        assert list(back) == ["k", "level"] and back["level"] == level
        back = back["k"]
    assert back == {"k": None}


# ---------------------------------------------------------------------------------------------
# Real configuration files: every one that loads round-trips through dump.

REAL = SHARED / "corpus" / "real"


def real_documents():
    documents = []
    for path in sorted(REAL.rglob("*")) if REAL.is_dir() else []:
        if not path.is_file() or path.name in ("MANIFEST.tsv", "README.md"):
            continue
        try:
            documents.append((path, load(path.read_bytes().decode("utf-8"))))
        except (UnicodeDecodeError, CorvaneError):
            continue
    return documents


def test_real_corpus_round_trips():
    documents = real_documents()
    if not documents:
        pytest.skip(f"no loadable documents under {REAL}")
    for path, value in documents:
        text = dump(value)
        loads_back(value, text)
        if pyyaml_holds(value):
            assert same_value(yaml.load(text, Loader=yaml.CSafeLoader), value), path
    print(f"{len(documents)} real documents round-tripped")
