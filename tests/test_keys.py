"""Mapping keys: every spelling of one key is the same key, however keys repeat, collide or
are spelled, in block and flow mappings alike."""

import pytest

from conftest import ParseError, assert_fails, assert_loads, load

# Every test here runs through both flow readers (see conftest).
pytestmark = pytest.mark.usefixtures("both_flow_readers")

LONG = "k" * 64


@pytest.mark.parametrize("text, expected", [
    ("a: 1\n'a': 2\n\"a\": 3", {"a": 3}),
    ("ab: 1\n\"a\\x62\": 2\n'a''b': 3\n\"a'b\": 4", {"ab": 2, "a'b": 4}),
    ("{a: 1, 'a': 2, \"\\x61\": 3}", {"a": 3}),
    (f"{LONG}: 1\n{LONG}x: 2\n'{LONG}': 3\n{LONG}x: 4", {LONG: 3, LONG + "x": 4}),
    # Same bytes, other types: only the string spellings meet.
    ("1: a\n'1': b\nnull: c\n'null': d\n~: e", {1: "a", "1": "b", None: "e", "null": "d"}),
    ("- {a: 1}\n- a: 2\n- {'a': 3, b: 4}", [{"a": 1}, {"a": 2}, {"a": 3, "b": 4}]),
    ("'': 1\n\"\": 2\n: 3", {"": 2, None: 3}),
    # Three-byte keys (one character each) whose last bytes differ in their lowest bit only.
    ("\u20ac: 1\n\u20ad: 2\n'\u20ac': 3\n\u20ad: 4", {"\u20ac": 3, "\u20ad": 4}),
    ("{\u20ac: 1, \u20ad: 2, '\u20ac': 3}", {"\u20ac": 3, "\u20ad": 2}),
], ids=["quoting", "escapes-and-doubled-quotes", "flow", "long-keys", "typed-keys", "across-maps", "empty",
        "three-byte-keys-one-bit-apart", "three-byte-flow-keys-one-bit-apart"])
def test_spellings_of_one_key_meet(text, expected):
    assert_loads(text, expected)


@pytest.mark.parametrize("text, line, key", [
    ("a: 1\n'a': 2", 2, "'a'"),
    ("ab: 1\n\"a\\x62\": 2", 2, "'ab'"),
    (f"{LONG}x: 1\n'{LONG}x': 2", 2, repr(LONG + "x")),
    ("- a: 1\n  b: 2\n- b: 3\n  b: 4", 4, "'b'"),
])
def test_strict_refuses_every_spelling_of_a_repeated_key(text, line, key):
    assert_fails(text, ParseError, f"line {line}: Duplicate key: {key}", strict=True)


def test_many_distinct_keys_in_many_maps():
    names = [f"key{i}" for i in range(5000)]
    text = "".join(f"m{m}:\n" + "".join(f"  {n}: {i * m}\n" for i, n in enumerate(names))
                   for m in range(3))
    expected = {f"m{m}": {n: i * m for i, n in enumerate(names)} for m in range(3)}
    assert load(text) == expected
    assert load(text, strict=True) == expected
    last = 3 * 5001 + 3
    assert_fails(text + "a:\n  key0: 1\n  key0: 2", ParseError,
                 f"line {last}: Duplicate key: 'key0'", strict=True)


@pytest.mark.parametrize("length", [1, 2, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 24, 64])
def test_keys_differing_in_one_byte_stay_apart(length):
    # Every key of the document has the same length and differs from the first in one
    # position only, so a cache that looked at too few bytes would merge some of them.
    keys = ["a" * length] + ["a" * i + "b" + "a" * (length - i - 1) for i in range(length)]
    text = "".join(f"{key}: {n}\n" for n, key in enumerate(keys * 2))
    expected = {key: n + len(keys) for n, key in enumerate(keys)}
    assert load(text) == expected
    assert load("{" + ", ".join(f"{key}: {n}" for n, key in enumerate(keys)) + "}") == \
        {key: n for n, key in enumerate(keys)}


# Quoted keys whose text is decoded (escapes, doubled single quotes) are distinct keys even when
# they agree in length and in their first and last eight characters, one right after another.
@pytest.mark.parametrize("text, expected", [
    pytest.param('"abcdefgh\\tA\\tijklmnop": 1\n"abcdefgh\\tB\\tijklmnop": 2',
                 {"abcdefgh\tA\tijklmnop": 1, "abcdefgh\tB\tijklmnop": 2}, id="block-double"),
    pytest.param("'abcdefgh''A''ijklmnop': 1\n'abcdefgh''B''ijklmnop': 2",
                 {"abcdefgh'A'ijklmnop": 1, "abcdefgh'B'ijklmnop": 2}, id="block-single"),
    pytest.param('{"abcdefgh\\nA\\nijklmnop": 1, "abcdefgh\\nB\\nijklmnop": 2}',
                 {"abcdefgh\nA\nijklmnop": 1, "abcdefgh\nB\nijklmnop": 2}, id="flow-double"),
    pytest.param('- "abcdefgh\\x41ijklmnop": 1\n  "abcdefgh\\x42ijklmnop": 2\n  "abcdefgh\\x41ijklmnop": 3',
                 [{"abcdefghAijklmnop": 3, "abcdefghBijklmnop": 2}], id="repeated-after-another"),
])
def test_decoded_keys_alike_at_both_ends_stay_apart(text, expected):
    assert_loads(text, expected)


# A block key that repeats is taken from the cache by its source text instead of being typed
# again: it must come back as the same key whatever the spelling, the type, the flags, and
# whatever flow keys with the same bytes the document holds.
NAN = float("nan")


@pytest.mark.parametrize("text, flags, expected", [
    pytest.param("k: {\"'a'\": 1}\n'a': 2\nm:\n  'a': 3", {}, {"k": {"'a'": 1}, "a": 2, "m": {"a": 3}},
                 id="flow-text-then-quoted-source"),
    pytest.param("'a': 2\nk: {\"'a'\": 1}\nm: {\"'a'\": 3}", {}, {"a": 2, "k": {"'a'": 1}, "m": {"'a'": 3}},
                 id="quoted-source-then-flow-text"),
    pytest.param("- 1: a\n  '1': b\n- 1: c\n  '1': d", {}, [{1: "a", "1": "b"}, {1: "c", "1": "d"}],
                 id="int-and-quoted-source"),
    pytest.param("- yes: 1\n  'yes': 2\n- yes: 3", {"yaml_1_1_bools": True}, [{True: 1, "yes": 2}, {True: 3}],
                 id="yaml-1-1-bool-key"),
    pytest.param("- yes: 1\n- yes: 2", {}, [{"yes": 1}, {"yes": 2}], id="yaml-1-2-string-key"),
    pytest.param("- \"a\\tb\": 1\n- \"a\\tb\": 2\n- 'a''b': 3\n- 'a''b': 4", {},
                 [{"a\tb": 1}, {"a\tb": 2}, {"a'b": 3}, {"a'b": 4}], id="decoded-sources"),
    pytest.param("- .nan: 1\n  .nan: 2\n- .nan: 3", {}, [{NAN: 1, float("nan"): 2}, {NAN: 3}], id="nan-keys-stay-apart"),
])
def test_repeated_block_keys_come_back_the_same(text, flags, expected):
    assert_loads(text, expected, **flags)
