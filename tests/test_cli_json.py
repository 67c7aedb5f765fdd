"""The JSON that `corvane FILE` prints, written by corvane._native._write_json: the very bytes of
json.dumps(ensure_ascii=False) over the value with its keys and non-finite floats named as the
command names them, read back by json.loads as that value, and a key clash refused before any
byte is written."""

import json
import math
import pathlib
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import corvane
from corvane import _native
from corvane.cli.json_text import KeyClash

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "bench"))
import make_corpora  # noqa: E402

NAMES = {math.inf: ".inf", -math.inf: "-.inf"}


def name(scalar):
    """A float JSON has no number for, as the command names it."""
    if isinstance(scalar, float) and not math.isfinite(scalar):
        return ".nan" if math.isnan(scalar) else NAMES[scalar]
    return scalar


def key_text(key):
    if isinstance(key, float) and not math.isfinite(key):
        return name(key)
    return key if isinstance(key, str) else json.dumps(key)


def keys_distinct(value):
    """Whether no mapping in `value` has two keys of one text."""
    if isinstance(value, dict):
        return len({key_text(key) for key in value}) == len(value) and all(map(keys_distinct, value.values()))
    return not isinstance(value, list) or all(map(keys_distinct, value))


def converted(value):
    """The value with the command's key texts and float names: what the output reads back as."""
    if isinstance(value, dict):
        return {key_text(key): converted(member) for key, member in value.items()}
    if isinstance(value, list):
        return [converted(item) for item in value]
    return name(value)


def expected(value, indent):
    return json.dumps(converted(value), ensure_ascii=False, indent=indent or None).encode()


def written(value, indent=0):
    blocks = []
    _native._write_json(value, blocks.append, indent)
    return blocks


CONTROLS = "".join(map(chr, range(0x80))) + "é€\U0001f600\u2028\ufeff"
VALUES = [
    ("scalars", [None, True, False, 0, -1, 2**63 - 1, -(2**63), 2**70, "", "a\"b\\c", CONTROLS]),
    ("floats", [0.0, -0.0, 0.1, 1e16, 1e15, 1e-4, 1e-5, 1.5e300, -2.5e-300, 5e-324, 123456789.125,
                math.nan, math.inf, -math.inf]),
    ("keys", {None: 1, True: 2, False: 3, 7: 4, -2**64: 5, 2.5: 6, 1e16: 7, math.nan: 8,
              math.inf: 9, -math.inf: 10, "": 11, "k\n\"": 12}),
    ("empty", {"a": {}, "b": [], "c": [{}, [[]]]}),
    ("nested", {"a": [1, {"b": [2, 3], "c": {"d": None}}], "e": [[[]], [["x"]]]}),
    ("top-empty-map", {}),
    ("top-scalar", "only"),
    ("long-string", "x" * 40000 + "\n" + "\x01" * 20000 + "é" * 20000),
]


@pytest.mark.parametrize("indent", [0, 1, 2, 4, 16])
@pytest.mark.parametrize("value", [v for _, v in VALUES], ids=[i for i, _ in VALUES])
def test_bytes_of_json_dumps_over_the_converted_value(value, indent):
    text = b"".join(written(value, indent))
    assert text == expected(value, indent)
    assert json.loads(text) == converted(value)


DOCUMENTS = {path.name: path.read_text(encoding="utf-8") for path in (ROOT / "examples").glob("*.yaml")
             if path.name != "broken.yaml"}


@pytest.mark.parametrize("indent", [0, 2])
@pytest.mark.parametrize("name", [*sorted(DOCUMENTS), "config_100KB"])
def test_documents_as_json_dumps_writes_them(name, indent):
    value = corvane.load(DOCUMENTS[name] if name in DOCUMENTS else make_corpora.generate(name))
    blocks = written(value, indent)
    assert b"".join(blocks) == expected(value, indent)
    # Handed on in blocks of about 64 KiB, not as one text.
    assert all(len(block) < (1 << 16) + 4096 for block in blocks)


@pytest.mark.parametrize("value, message", [
    ({1: "a", "1": "b"}, "the keys 1 and '1' both become \"1\""),
    ({"null": 0, None: 1}, "the keys 'null' and None both become \"null\""),
    ({True: 0, "true": 1}, "the keys True and 'true' both become \"true\""),
    ({math.nan: 0, ".nan": 1}, "the keys nan and '.nan' both become \".nan\""),
    ({"-.inf": 0, -math.inf: 1}, "the keys '-.inf' and -inf both become \"-.inf\""),
    ({2.5: 0, "2.5": 1, 3: 2, "3": 3}, "the keys 2.5 and '2.5' both become \"2.5\""),
    # The first clash in document order, after much text would have been written.
    ([list(range(50000)), {"a": {0: 1, "0": 2}}, {1: 0, "1": 1}],
     "the keys 0 and '0' both become \"0\""),
])
def test_key_clash_is_refused_before_anything_is_written(value, message):
    blocks = []
    with pytest.raises(KeyClash) as info:
        _native._write_json(value, blocks.append, 2)
    assert (blocks, str(info.value)) == ([], "cannot write as JSON: " + message)
    assert isinstance(info.value, ValueError)


@pytest.mark.parametrize("value, indent, error, message", [
    ({"a": {1}}, 2, TypeError, "cannot write a value of type 'set' (at a)"),
    ({(1,): 0}, 2, TypeError, "cannot write a key of type 'tuple'"),
    (["\ud800"], 2, UnicodeEncodeError, "surrogates not allowed (at [0])"),
    ([], 17, ValueError, "indent must be from 0 to 16, not 17"),
    ([], -1, ValueError, "indent must be from 0 to 16, not -1"),
])
def test_values_it_cannot_write_leave_no_output(value, indent, error, message):
    blocks = []
    with pytest.raises(error) as info:
        _native._write_json(value, blocks.append, indent)
    assert blocks == [] and message in str(info.value)


def test_an_error_of_write_ends_the_writing():
    calls = []

    def write(block):
        calls.append(block)
        raise BrokenPipeError

    with pytest.raises(BrokenPipeError):
        _native._write_json([str(i) for i in range(100000)], write, 0)
    assert len(calls) == 1


scalars = st.one_of(st.none(), st.booleans(), st.integers(-(2**63), 2**63 - 1), st.floats(),
                    st.text(st.characters(blacklist_categories=("Cs",)), max_size=12))
keys = st.one_of(st.none(), st.booleans(), st.integers(-(2**63), 2**63 - 1),
                 st.floats(allow_nan=False), st.text(max_size=4, alphabet="01.aefnlu\n"))
values = st.recursive(scalars, lambda children: st.one_of(
    st.lists(children, max_size=4), st.dictionaries(keys, children, max_size=4)), max_leaves=25)


@settings(max_examples=500, deadline=None)
@given(values, st.sampled_from([0, 2, 3]))
def test_property_json_dumps_bytes_or_a_clash(value, indent):
    if not keys_distinct(value):
        with pytest.raises(KeyClash):
            written(value, indent)
        return
    text = b"".join(written(value, indent))
    assert text == expected(value, indent)
    assert json.loads(text) == converted(value)
