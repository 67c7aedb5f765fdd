"""The corvane package: the same objects as the extension, its version, and exceptions that
pickle and print under their public names."""

import importlib.metadata
import pickle
import subprocess
import sys
import traceback

import pytest

import _corvane
import corvane

CLASSES = [corvane.CorvaneError, corvane.ParseError, corvane.UnsupportedFeatureError]


def test_reexports_are_the_extension_objects():
    assert corvane.__all__ == [*_corvane.__all__, "InternalError", "dump", "load_with_lines", "load_file",
                               "Lines", "Scalar", "Value", "Path"]
    for name in _corvane.__all__:
        assert getattr(corvane, name) is getattr(_corvane, name), name
    assert corvane.dump is corvane._native.dump


def test_version_comes_from_the_installed_metadata():
    assert corvane.__version__ == importlib.metadata.version("corvane")


def test_import_needs_neither_the_installed_metadata_nor_typing():
    code = "import sys, corvane; print(sorted({'importlib.metadata', 'typing'} & set(sys.modules)))"
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, timeout=120, check=True)
    assert run.stdout == b"[]\n"


def test_dir_shows_the_public_names_only():
    # In a fresh interpreter: importing a submodule here (corvane.cli) adds it to the package.
    code = "import corvane; print([name for name in dir(corvane) if not name.startswith('__')])"
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, timeout=120, check=True)
    assert run.stdout.decode() == f"{sorted(corvane.__all__)}\n"


def failed_load(text, **flags):
    with pytest.raises(corvane.CorvaneError) as info:
        corvane.load(text, **flags)
    return info.value


# Exceptions made by hand and ones raised by a real load, carrying a traceback.
EXCEPTIONS = [
    *[pytest.param(lambda cls=cls: cls("line 1: x"), id=cls.__name__) for cls in CLASSES],
    pytest.param(lambda: failed_load("a: &x 1"), id="raised-unsupported"),
    pytest.param(lambda: failed_load("a: 1\na: 2", strict=True), id="raised-duplicate"),
]


@pytest.mark.parametrize("make", EXCEPTIONS)
@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickle_round_trip_keeps_class_and_message(make, protocol):
    exc = make()
    back = pickle.loads(pickle.dumps(exc, protocol))
    assert type(back) is type(exc) and back.args == exc.args and str(back) == str(exc)


def test_unpickling_in_a_fresh_interpreter_imports_corvane():
    exc = failed_load("a: 1\nb: [1, 2")
    data = pickle.dumps(exc)
    code = ("import pickle, sys\nexc = pickle.loads(sys.stdin.buffer.read())\n"
            "print(type(exc).__module__, type(exc).__qualname__, exc.args)")
    run = subprocess.run([sys.executable, "-c", code], input=data, capture_output=True, timeout=120, check=True)
    assert run.stdout.decode() == f"corvane ParseError {exc.args}\n"


def test_repr_and_traceback_use_the_public_names():
    exc = failed_load("a: 1\na: 2", strict=True)
    assert repr(exc) == "ParseError(\"line 2: Duplicate key: 'a'\")"
    assert traceback.format_exception_only(type(exc), exc) == ["corvane.ParseError: line 2: Duplicate key: 'a'\n"]
