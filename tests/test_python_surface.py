"""The Python face of the loader: the module and its exception classes, how `load` binds and
checks its arguments, the shape of the errors it raises, and how values land in Python objects."""

import inspect
import math
import os
import re
import subprocess
import sys
import types

import pytest

import _corvane
from conftest import (ALL_FLAGS, FLAG_IDS, CorvaneError, ParseError, UnsupportedFeatureError,
                      assert_fails, assert_loads, load, same_value)

NAMES = ["load", "CorvaneError", "ParseError", "UnsupportedFeatureError"]
SIGNATURE = "(input, strict=False, yaml_1_1_bools=False)"
NAN = float("nan")


def outcome(*args, **kwargs):
    """The loaded value, or (exception class, args) for a refused document."""
    try:
        return load(*args, **kwargs)
    except CorvaneError as exc:
        return type(exc), exc.args


def names(message, *words):
    """Whether every word appears in the message as a word of its own."""
    return all(re.search(rf"\b{word}\b", message) for word in words)


def test_module_attributes_in_order():
    assert _corvane.__name__ == "_corvane"
    assert _corvane.__doc__ == ""
    assert type(_corvane.__all__) is list and _corvane.__all__ == NAMES
    assert [name for name in vars(_corvane) if not name.startswith("__")] == NAMES


def test_load_is_a_builtin_with_text_signature_and_no_doc():
    assert type(load) is types.BuiltinFunctionType
    assert (load.__name__, load.__qualname__, load.__module__) == ("load", "load", "_corvane")
    assert load.__self__ is _corvane
    assert load.__text_signature__ == SIGNATURE
    assert load.__doc__ is None
    assert str(inspect.signature(load)) == SIGNATURE


@pytest.mark.parametrize("cls, name, base", [
    pytest.param(CorvaneError, "CorvaneError", ValueError, id="base-derives-from-ValueError"),
    pytest.param(ParseError, "ParseError", CorvaneError, id="parse-error"),
    pytest.param(UnsupportedFeatureError, "UnsupportedFeatureError", CorvaneError, id="unsupp"),
])
def test_exception_classes(cls, name, base):
    assert getattr(_corvane, name) is cls
    assert (cls.__module__, cls.__name__, cls.__qualname__) == ("corvane", name, name)
    assert repr(cls) == f"<class 'corvane.{name}'>"
    assert cls.__bases__ == (base,)
    assert cls.__mro__[1:] == base.__mro__  # the two concrete ones are unrelated
    assert cls.__doc__ is None
    assert set(vars(cls)) <= {"__module__", "__doc__", "__weakref__"}


@pytest.mark.parametrize("args, kwargs, expected", [
    pytest.param(("a: 1\na: 2",), {}, {"a": 2}, id="defaults-lenient"),
    pytest.param(("x: yes",), {}, {"x": "yes"}, id="defaults-core-bools"),
    pytest.param(("a: 1\na: 2", True), {}, (ParseError, ("line 2: Duplicate key: 'a'",)),
                 id="second-positional-is-strict"),
    pytest.param(("x: yes", True), {}, {"x": "yes"}, id="second-positional-not-bools"),
    pytest.param(("x: yes", False, True), {}, {"x": True}, id="third-positional-is-bools"),
    pytest.param((), {"input": "x: yes", "yaml_1_1_bools": True}, {"x": True}, id="all-keywords"),
    pytest.param(("a: 1\na: 2",), {"yaml_1_1_bools": False, "strict": True},
                 (ParseError, ("line 2: Duplicate key: 'a'",)), id="keywords-any-order"),
])
def test_arguments_bind_by_position_and_keyword(args, kwargs, expected):
    assert same_value(outcome(*args, **kwargs), expected)


@pytest.mark.parametrize("args, kwargs, needles", [
    pytest.param(("a", False, False, False), {}, ["load()", "4"], id="four-positional"),
    pytest.param(("a",), {"strcit": True}, ["load()", "strcit"], id="unknown-keyword"),
    pytest.param(("a", True), {"strict": True}, ["load()", "strict"], id="strict-twice"),
    pytest.param(("a", True, True), {"yaml_1_1_bools": True}, ["load()", "yaml_1_1_bools"],
                 id="bools-twice"),
    pytest.param(("a",), {"input": "b"}, ["load()", "input"], id="input-twice"),
    pytest.param((), {}, ["load()", "input"], id="input-missing"),
    pytest.param((), {"strict": True, "yaml_1_1_bools": True}, ["load()", "input"],
                 id="input-missing-flags-given"),
])
def test_binding_errors(args, kwargs, needles):
    with pytest.raises(TypeError) as info:
        load(*args, **kwargs)
    assert type(info.value) is TypeError
    assert all(needle in str(info.value) for needle in needles), str(info.value)


@pytest.mark.parametrize("value", [b"a: 1", bytearray(b"a: 1"), memoryview(b"a: 1"), None, 1, True,
                                   ["a: 1"]], ids=lambda v: type(v).__name__)
def test_input_must_be_str_checked_before_flags(value):
    with pytest.raises(TypeError) as info:
        load(value, None, None)
    message = str(info.value)
    assert names(message, "input", type(value).__name__), message
    assert "strict" not in message and "yaml_1_1_bools" not in message, message


FLAG_PAIRS = [("strict", "yaml_1_1_bools"), ("yaml_1_1_bools", "strict")]


@pytest.mark.parametrize("flag, other", FLAG_PAIRS)
@pytest.mark.parametrize("value", [None, 0, 1, "yes", 1.0, "", []], ids=repr)
def test_flags_must_be_bools(flag, other, value):
    with pytest.raises(TypeError) as info:
        load("a: 1", **{flag: value})
    message = str(info.value)
    assert names(message, flag, type(value).__name__) and other not in message, message


@pytest.mark.parametrize("args, named, other, type_name", [
    pytest.param(("a: 1", None, 0), "strict", "yaml_1_1_bools", "NoneType", id="strict-first"),
    pytest.param(("a: 1", 1), "strict", "yaml_1_1_bools", "int", id="positional-int-strict"),
    pytest.param(("a: 1", True, "no"), "yaml_1_1_bools", "strict", "str", id="bools-second"),
])
def test_flag_check_order(args, named, other, type_name):
    with pytest.raises(TypeError) as info:
        load(*args)
    assert names(str(info.value), named, type_name) and other not in str(info.value)


def test_numpy_bools_are_accepted_as_flags():
    np = pytest.importorskip("numpy")
    doc = "a: yes\na: on"
    assert outcome(doc, np.True_, np.True_) == (ParseError, ("line 2: Duplicate key: 'a'",))
    assert same_value(outcome(doc, np.False_, np.True_), {"a": True})
    assert same_value(outcome(doc, strict=np.bool_(False), yaml_1_1_bools=np.bool_(False)),
                      {"a": "on"})
    with pytest.raises(TypeError, match="strict"):
        load(doc, strict=np.int64(1))


class Text(str):
    def __str__(self):
        return "b: 2"

    def encode(self, *args, **kwargs):
        return b"b: 2"


def test_str_subclass_is_read_by_its_characters():
    assert_loads(Text("a: 1"), {"a": 1})


@pytest.mark.parametrize("text", ["a: \udc80", "\ud800", "- '\udfff'", "k: [x, \ud83d]"])
def test_lone_surrogate_raises_the_encoding_error_before_flag_checks(text):
    with pytest.raises(UnicodeEncodeError) as info:
        load(text, strict=None)
    exc = info.value
    assert (exc.encoding, exc.reason, exc.object) == ("utf-8", "surrogates not allowed", text)
    assert exc.start == next(i for i, c in enumerate(text) if 0xD800 <= ord(c) <= 0xDFFF)


ERRORS = [
    pytest.param("\n" * 11 + "%YAML 1.2", {}, UnsupportedFeatureError,
                 "line 12: Directives are not supported in Corvane", id="line-12-decimal"),
    pytest.param("# c\n" * 11 + "a: [1", {}, ParseError,
                 "line 12: Unclosed flow collection: missing ']'", id="line-12-parse-error"),
    pytest.param("\n" * 1233 + "---", {}, UnsupportedFeatureError,
                 "line 1234: YAML document markers are not supported in Corvane", id="no-commas"),
    pytest.param("a: &x 1", {}, UnsupportedFeatureError,
                 "line 1: Anchors are not supported in Corvane", id="anchor"),
    pytest.param("a:\n  b: [1, {c: 2}]\n  d: \"\\uD800\"", {}, ParseError,
                 "line 3: escape resolves to an invalid code point", id="nested-partial-tree"),
    pytest.param("- [1, 2}", {}, ParseError,
                 "line 1: Mismatched brackets: expected ']', found '}'", id="flow"),
    pytest.param("a: 1\nb", {}, ParseError, "line 2: Unexpected bare scalar inside a container",
                 id="bare-scalar"),
    pytest.param("a:\n  x: [1]\na: 2", {"strict": True}, ParseError, "line 3: Duplicate key: 'a'",
                 id="strict-block"),
    pytest.param("[{a: 1, a: 2}]", {"strict": True}, ParseError,
                 "line 1: Duplicate key in flow map: 'a'", id="strict-flow"),
]


@pytest.mark.parametrize("text, flags, cls, message", ERRORS)
def test_error_shape_and_module_keeps_working(text, flags, cls, message):
    for _ in range(2):
        assert_fails(text, cls, message, **flags)
        with pytest.raises(ValueError) as info:
            load(text, **flags)
        exc = info.value
        assert len(exc.args) == 1 and vars(exc) == {} and exc.__dict__ == {}
        assert exc.__cause__ is None and exc.__context__ is None
    assert_loads("a: [1, {b: c}]", {"a": [1, {"b": "c"}]}, **flags)


TWO_FLAGS_DOCS = ["yes: 1\nON: 2\nk: a\nk: b", "[n, off, Y, {no: 1, n: 2}]"]


@pytest.mark.parametrize("strict, bools, doc, expected", [
    pytest.param(False, False, 0, {"yes": 1, "ON": 2, "k": "b"}, id="block-lenient"),
    pytest.param(False, True, 0, {True: 2, "k": "b"}, id="block-1.1"),
    pytest.param(True, False, 0, (ParseError, ("line 4: Duplicate key: 'k'",)), id="block-strict"),
    pytest.param(True, True, 0, (ParseError, ("line 2: Duplicate key: True",)), id="block-both"),
    pytest.param(False, False, 1, ["n", "off", "Y", {"no": 1, "n": 2}], id="flow-lenient"),
    pytest.param(False, True, 1, [False, False, True, {False: 2}], id="flow-1.1"),
    pytest.param(True, False, 1, ["n", "off", "Y", {"no": 1, "n": 2}], id="flow-strict"),
    pytest.param(True, True, 1, (ParseError, ("line 1: Duplicate key in flow map: False",)),
                 id="flow-both"),
])
def test_flag_combinations_choose_the_behaviour(strict, bools, doc, expected):
    got = outcome(TWO_FLAGS_DOCS[doc], strict=strict, yaml_1_1_bools=bools)
    assert same_value(got, expected), got


@pytest.mark.parametrize("flags", ALL_FLAGS, ids=FLAG_IDS)
@pytest.mark.parametrize("text, expected", [
    pytest.param("- 1\n- 1.0\n- true\n- ~\n- '1'", [1, 1.0, True, None, "1"], id="exact-types"),
    pytest.param(".nan: a\n.nan: b", {NAN: "a", float("nan"): "b"}, id="nan-keys-never-equal"),
    pytest.param("{.nan: a, .NaN: b}", {NAN: "a", float("nan"): "b"}, id="flow-nan-keys"),
    pytest.param("[-0.0, 0.0, -0e0, -0, -1e-400]", [-0.0, 0.0, -0.0, 0, -0.0], id="negative-zero"),
    pytest.param("[.inf, -.inf, .nan]", [math.inf, -math.inf, NAN], id="infinities-nan"),
    pytest.param("- 9223372036854775807\n- -9223372036854775807\n- 0x-8000000000000000\n"
                 "- 0x7FFFFFFFFFFFFFFF\n- 0o-1000000000000000000000\n- 9223372036854775808\n"
                 "- -0x-8000000000000000", [2**63 - 1, -(2**63 - 1), -2**63, 2**63 - 1, -2**63,
                                            "9223372036854775808", "-0x-8000000000000000"],
                 id="int-range"),
    pytest.param("9223372036854775807: max\n0x-8000000000000000: min",
                 {2**63 - 1: "max", -2**63: "min"}, id="int-range-keys"),
    pytest.param("héllo: wörld\n日本: 語\n😀: \"\\U0001F40D 🐍\"\n'ключ': 'знач'\nmax: \U0010ffff",
                 {"héllo": "wörld", "日本": "語", "😀": "🐍 🐍", "ключ": "знач", "max": "\U0010ffff"},
                 id="non-ascii-unchanged"),
    pytest.param("t: |\n  ünï 😀\n٣: ١٢", {"t": "ünï 😀\n", "٣": "١٢"}, id="non-ascii-block"),
    pytest.param("a: ''\nb: \"\"\nc: ['', \"\"]", {"a": "", "b": "", "c": ["", ""]},
                 id="empty-strings"),
    pytest.param("''", "", id="empty-string-root"),
    pytest.param("", None, id="empty-document"),
])
def test_python_values(text, expected, flags):
    assert_loads(text, expected, **flags)


@pytest.mark.parametrize("bools", [False, True])
@pytest.mark.parametrize("text, lenient, strict_message", [
    pytest.param("1: a\ntrue: b", {1: "b"}, "line 2: Duplicate key: True", id="1-and-true"),
    pytest.param("true: a\n1.0: b", {True: "b"}, "line 2: Duplicate key: 1.0", id="true-and-1.0"),
    pytest.param("1: a\n1.0: b", {1: "b"}, "line 2: Duplicate key: 1.0", id="1-and-1.0"),
    pytest.param("-0.0: a\n0: b", {-0.0: "b"}, "line 2: Duplicate key: 0", id="zero-sign-kept"),
    pytest.param("b: 1\na: 2\nb: 3", {"b": 3, "a": 2}, "line 3: Duplicate key: 'b'", id="order"),
    pytest.param("a:\n  x: 1\nb: 2\na: [3]", {"a": [3], "b": 2}, "line 4: Duplicate key: 'a'",
                 id="container-replaced"),
    pytest.param("{1: a, true: b, ~: c}", {1: "b", None: "c"},
                 "line 1: Duplicate key in flow map: True", id="flow-1-and-true"),
])
def test_equal_keys_follow_dict_semantics(text, lenient, strict_message, bools):
    assert_loads(text, lenient, strict=False, yaml_1_1_bools=bools)
    assert_fails(text, ParseError, strict_message, strict=True, yaml_1_1_bools=bools)


def test_second_initialisation_in_one_process_fails():
    code = (
        "import importlib, sys, _corvane\n"
        "first = _corvane\n"
        "del sys.modules['_corvane']\n"
        "try:\n    importlib.import_module('_corvane')\n"
        "except ImportError as exc:\n    print('ImportError:', exc)\n"
        "else:\n    print('imported twice')\n"
        "print(first.load('a: [1]'))\n"
    )
    env = dict(os.environ, PYTHONPATH=os.path.dirname(_corvane.__file__))
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env,
                         timeout=120, check=True)
    first, second = run.stdout.splitlines()
    assert first.startswith("ImportError:") and "once" in first, first
    assert second == "{'a': [1]}"
