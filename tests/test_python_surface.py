"""The Python face: module, exception classes, argument binding and checks, error shape, values."""

import os
import re
import subprocess
import sys

import pytest

import _corvane
from corvane import _native
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


def test_module_and_load_attributes():
    assert _corvane.__all__ == NAMES and [name for name in vars(_corvane) if not name.startswith("__")] == NAMES
    assert (load.__module__, load.__text_signature__, load.__doc__) == ("_corvane", SIGNATURE, None)


@pytest.mark.parametrize("cls, name, base", [
    pytest.param(CorvaneError, "CorvaneError", ValueError, id="base-derives-from-ValueError"),
    pytest.param(ParseError, "ParseError", CorvaneError, id="parse-error"),
    pytest.param(UnsupportedFeatureError, "UnsupportedFeatureError", CorvaneError, id="unsupp"),
])
def test_exception_classes(cls, name, base):
    assert getattr(_corvane, name) is cls and cls.__bases__ == (base,) and cls.__doc__ is None
    assert (cls.__module__, cls.__name__, cls.__qualname__) == ("corvane", name, name)


BLOCK, FLOW = "yes: 1\nON: 2\nk: a\nk: b", "[n, off, Y, {no: 1, n: 2}]"


# The flags bind by position (strict second, yaml_1_1_bools third) or by keyword, and each
# combination chooses its own behaviour.
@pytest.mark.parametrize("args, kwargs, expected", [
    pytest.param((BLOCK,), {}, {"yes": 1, "ON": 2, "k": "b"}, id="block-defaults"),
    pytest.param((BLOCK,), {"yaml_1_1_bools": True}, {True: 2, "k": "b"}, id="block-1.1"),
    pytest.param((BLOCK, True), {}, (ParseError, ("line 4: Duplicate key: 'k'",)), id="block-strict-second-positional"),
    pytest.param((BLOCK,), {"yaml_1_1_bools": True, "strict": True}, (ParseError, ("line 2: Duplicate key: True",)),
                 id="block-both-keywords-any-order"),
    pytest.param((FLOW,), {}, ["n", "off", "Y", {"no": 1, "n": 2}], id="flow-defaults"),
    pytest.param((FLOW, False, True), {}, [False, False, True, {False: 2}], id="flow-1.1-third-positional"),
    pytest.param((FLOW, True), {}, ["n", "off", "Y", {"no": 1, "n": 2}], id="flow-strict-second-positional-not-bools"),
    pytest.param((), {"input": FLOW, "strict": True, "yaml_1_1_bools": True},
                 (ParseError, ("line 1: Duplicate key in flow map: False",)), id="flow-both-all-keywords"),
])
def test_arguments_and_flags_choose_the_behaviour(args, kwargs, expected):
    got = outcome(*args, **kwargs)
    assert same_value(got, expected), got


@pytest.mark.parametrize("args, kwargs, needles", [
    pytest.param(("a", False, False, False), {}, ["load()", "4"], id="four-positional"),
    pytest.param(("a", False, False, False), {"strict": True}, ["load()", "5"], id="four-positional-and-a-keyword"),
    pytest.param(("a",), {"strcit": True}, ["load()", "strcit"], id="unknown-keyword"),
    pytest.param(("a", True), {"strict": True}, ["load()", "strict"], id="strict-twice"),
    pytest.param(("a", True, True), {"yaml_1_1_bools": True}, ["load()", "yaml_1_1_bools"], id="bools-twice"),
    pytest.param(("a",), {"input": "b"}, ["load()", "input"], id="input-twice"),
    pytest.param((), {}, ["load()", "input"], id="input-missing"),
])
def test_binding_errors(args, kwargs, needles):
    with pytest.raises(TypeError) as info:
        load(*args, **kwargs)
    assert type(info.value) is TypeError
    assert all(needle in str(info.value) for needle in needles), str(info.value)


# Every loading entry point binds its arguments alike and names itself in the message.
ENTRY_POINTS = {"load": (load, "load"), "load_with_lines": (_native.load_with_lines, "load_with_lines")}
if hasattr(_native, "_load_exact_flow"):
    ENTRY_POINTS["exact-flow"] = (_native._load_exact_flow, "load")


@pytest.mark.parametrize("entry", ENTRY_POINTS)
@pytest.mark.parametrize("args, kwargs, message", [
    pytest.param(("a",), {"input": "b"}, "argument for {}() given by name ('input') and position (1)",
                 id="input-twice"),
    pytest.param(("a", True), {"strict": True}, "argument for {}() given by name ('strict') and position (2)",
                 id="strict-twice"),
    pytest.param(("a", True, True), {"yaml_1_1_bools": False},
                 "argument for {}() given by name ('yaml_1_1_bools') and position (3)", id="bools-twice"),
    pytest.param(("a", False, False, False), {}, "{}() takes at most 3 arguments (4 given)", id="four-positional"),
    pytest.param((), {}, "{}() missing required argument 'input' (pos 1)", id="input-missing"),
    pytest.param((b"a",), {}, "{}() argument 'input' must be str, not bytes", id="input-bytes"),
    pytest.param(("a",), {"strict": 1}, "{}() argument 'strict' must be bool, not int", id="strict-int"),
    pytest.param(("a", False, "yes"), {}, "{}() argument 'yaml_1_1_bools' must be bool, not str", id="bools-str"),
])
def test_every_entry_point_binds_alike(entry, args, kwargs, message):
    function, name = ENTRY_POINTS[entry]
    with pytest.raises(TypeError) as info:
        function(*args, **kwargs)
    assert str(info.value) == message.format(name)


@pytest.mark.parametrize("value", [b"a: 1", bytearray(b"a: 1"), memoryview(b"a: 1"), None, True, ["a: 1"]],
                         ids=lambda v: type(v).__name__)
def test_input_must_be_str_checked_before_flags(value):
    with pytest.raises(TypeError) as info:
        load(value, None, None)
    message = str(info.value)
    assert names(message, "input", type(value).__name__), message
    assert "strict" not in message and "yaml_1_1_bools" not in message, message


# When both flags are wrong, strict is the one named.
@pytest.mark.parametrize("flag, other", [("strict", "yaml_1_1_bools"), ("yaml_1_1_bools", "strict")])
@pytest.mark.parametrize("value", [None, 0, 1, "yes", 1.0, "", []], ids=repr)
def test_flags_must_be_bools_strict_checked_first(flag, other, value):
    with pytest.raises(TypeError) as info:
        load("a: 1", **{flag: value, other: value if flag == "strict" else True})
    message = str(info.value)
    assert names(message, flag, type(value).__name__) and other not in message, message


def test_numpy_bools_are_accepted_as_flags():
    np = pytest.importorskip("numpy")
    doc = "a: yes\na: on"
    assert outcome(doc, np.True_, np.True_) == (ParseError, ("line 2: Duplicate key: 'a'",))
    assert same_value(outcome(doc, np.False_, np.True_), {"a": True})
    assert same_value(outcome(doc, strict=np.bool_(False), yaml_1_1_bools=np.bool_(False)), {"a": "on"})
    with pytest.raises(TypeError, match="strict"):
        load(doc, strict=np.int64(1))


class Text(str):
    __str__ = lambda self: "b: 2"
    encode = lambda self, *args, **kwargs: b"b: 2"


def test_str_subclass_is_read_by_its_characters():
    assert_loads(Text("a: 1"), {"a": 1})


def exact_types(value):
    """Every str, list and dict in `value` is of the exact built-in type."""
    if isinstance(value, dict):
        return type(value) is dict and all(exact_types(k) and exact_types(v) for k, v in value.items())
    if isinstance(value, list):
        return type(value) is list and all(map(exact_types, value))
    return type(value) in (str, int, float, bool, type(None))


# Strings of an ASCII document are cut straight out of the input; a document with one
# non-ASCII character anywhere goes the decoding way. Both must give the same exact strs,
# including a scalar that is the whole input or sits at either end of it.
@pytest.mark.parametrize("text", [
    "abc", "a", "x: y", "- first\n- last", "'quoted'", '"dq \\t"', "k: [a, 'b', \"c\"]",
    "k: {a: b}", "k: |\n  block\n", "'it''s'", "key with spaces: value with spaces",
])
@pytest.mark.parametrize("wrap", [str, Text], ids=["str", "subclass"])
def test_ascii_and_non_ascii_inputs_give_the_same_strings(text, wrap):
    ascii_value = load(wrap(text))
    assert load(wrap(text + "\n# \u00e9")) == ascii_value
    assert exact_types(ascii_value)


@pytest.mark.parametrize("text", ["a: \udc80", "\ud800", "- '\udfff'", "k: [x, \ud83d]"])
def test_lone_surrogate_raises_the_encoding_error_before_flag_checks(text):
    with pytest.raises(UnicodeEncodeError) as info:
        load(text, strict=None)
    exc = info.value
    assert (exc.encoding, exc.reason, exc.object) == ("utf-8", "surrogates not allowed", text)
    assert exc.start == next(i for i, c in enumerate(text) if 0xD800 <= ord(c) <= 0xDFFF)


@pytest.mark.parametrize("text, flags, cls, message", [
    pytest.param("\n" * 1233 + "---", {}, UnsupportedFeatureError,
                 "line 1234: YAML document markers are not supported in Corvane", id="line-1234-no-commas"),
    pytest.param("a:\n  b: [1, {c: 2}]\n  d: \"\\uD800\"", {}, ParseError,
                 "line 3: escape resolves to an invalid code point", id="nested-partial-tree"),
    pytest.param("a:\n  x: [1]\na: 2", {"strict": True}, ParseError, "line 3: Duplicate key: 'a'", id="strict-block"),
    pytest.param("[{a: 1, a: 2}]", {"strict": True}, ParseError, "line 1: Duplicate key in flow map: 'a'", id="strict-flow"),
])
def test_error_shape_and_module_keeps_working(text, flags, cls, message):
    for _ in range(2):
        assert_fails(text, cls, message, **flags)
        with pytest.raises(ValueError) as info:
            load(text, **flags)
        exc = info.value
        assert len(exc.args) == 1 and vars(exc) == {} and exc.__cause__ is None and exc.__context__ is None
    assert_loads("a: [1, {b: c}]", {"a": [1, {"b": "c"}]}, **flags)


# Under every flag combination; NaN keys never equal each other, so even strict mode keeps both.
@pytest.mark.parametrize("flags", ALL_FLAGS, ids=FLAG_IDS)
@pytest.mark.parametrize("text, expected", [
    pytest.param(".nan: a\n.nan: b", {NAN: "a", float("nan"): "b"}, id="nan-keys-never-equal"),
    pytest.param("{.nan: a, .NaN: b}", {NAN: "a", float("nan"): "b"}, id="flow-nan-keys"),
])
def test_python_values(text, expected, flags):
    assert_loads(text, expected, **flags)


def test_second_initialisation_in_one_process_fails():
    code = ("import importlib, sys, _corvane\nfirst = _corvane\ndel sys.modules['_corvane']\n"
            "try:\n    importlib.import_module('_corvane')\nexcept ImportError as exc:\n    print('ImportError:', exc)\n"
            "else:\n    print('imported twice')\nprint(first.load('a: [1]'))\n")
    env = dict(os.environ, PYTHONPATH=os.path.dirname(_corvane.__file__))
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, timeout=120, check=True)
    first, second = run.stdout.splitlines()
    assert first.startswith("ImportError:") and "once" in first, first
    assert second == "{'a': [1]}"


def test_module_holds_its_name_list_by_one_reference():
    # In a fresh interpreter nothing else refers to __all__: the module's own reference and
    # the argument of getrefcount make two.
    code = "import sys, _corvane\nprint(sys.getrefcount(_corvane.__all__), _corvane.__all__)\n"
    env = dict(os.environ, PYTHONPATH=os.path.dirname(_corvane.__file__))
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, timeout=120, check=True)
    assert run.stdout == f"2 {NAMES}\n"


# corvane._native raises the very classes of `_corvane`, taken when it is first imported: an
# import that cannot take them fails with the reason, and a later import, once they can be had,
# works. The module is loaded from its file, before the package (which imports `_corvane` itself).
NATIVE_FIRST = """
import glob, importlib.machinery, importlib.util, os, sys, types
folder = os.path.dirname(importlib.util.find_spec("corvane").origin)
path = glob.glob(os.path.join(folder, "_native.*so"))[0]
def load_native():
    loader = importlib.machinery.ExtensionFileLoader("corvane._native", path)
    return importlib.util.module_from_spec(importlib.util.spec_from_file_location("corvane._native", path, loader=loader))
sys.modules["_corvane"] = REPLACEMENT
try:
    load_native()
except Exception as exc:
    print(f"{type(exc).__name__}: {exc}")
del sys.modules["_corvane"]
import _corvane
native = load_native()
print(native.load_with_lines("a: [1]")[0], native.InternalError is _corvane.CorvaneError._internal_error)
try:
    native.load_with_lines("a: &x 1")
except _corvane.UnsupportedFeatureError as exc:
    print(exc)
"""


@pytest.mark.parametrize("replacement, expected", [
    pytest.param("None", "ModuleNotFoundError: import of _corvane halted; None in sys.modules", id="module-missing"),
    pytest.param("types.SimpleNamespace(UnsupportedFeatureError=ValueError)",
                 "AttributeError: 'types.SimpleNamespace' object has no attribute 'CorvaneError'",
                 id="classes-missing"),
])
def test_native_module_import_fails_without_the_error_classes_and_can_be_retried(replacement, expected):
    code = NATIVE_FIRST.replace("REPLACEMENT", replacement)
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120, check=True)
    assert run.stdout == f"{expected}\n{{'a': [1]}} True\nline 1: Anchors are not supported in Corvane\n"
