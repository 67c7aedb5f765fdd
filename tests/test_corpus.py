"""Whole real-world, YAML test suite and example documents: a value or one of our own errors."""

import pathlib
import re

import pytest

from conftest import (ALL_FLAGS, FLAG_IDS, SHARED, CorvaneError, ParseError,
                      UnsupportedFeatureError, load, same_value)

EXAMPLES = pathlib.Path(__file__).resolve().parents[1] / "examples"


def files(root, keep):
    """Parameters for the files under `root`, or one skipped parameter when there are none."""
    found = sorted(p for p in root.rglob("*") if p.is_file() and keep(p)) if root.is_dir() else []
    if not found:
        return [pytest.param(None, marks=pytest.mark.skip(reason=f"no files under {root}"))]
    return [pytest.param(p, id=str(p.relative_to(root))) for p in found]


def read(path):
    return path.read_bytes().decode("utf-8")  # keeps the original line endings


def load_or_refuse(text, flags):
    """Loads `text` twice: the same value both times, or the same refusal with a valid line."""
    try:
        value = load(text, **flags)
    except CorvaneError as exc:
        assert type(exc) in (ParseError, UnsupportedFeatureError)
        assert len(exc.args) == 1 and re.fullmatch(r"line [1-9][0-9]*: \S.*", exc.args[0], re.S)
        line = int(exc.args[0].split(":")[0][5:])
        assert line <= max(1, text.count("\n") + (not text.endswith("\n"))), exc.args[0]
        with pytest.raises(type(exc)) as again:
            load(text, **flags)
        assert again.value.args == exc.args
    else:
        assert same_value(load(text, **flags), value)


@pytest.mark.parametrize("flags", ALL_FLAGS, ids=FLAG_IDS)
@pytest.mark.parametrize("path", files(SHARED / "corpus" / "real", lambda p: p.name not in ("MANIFEST.tsv", "README.md"))
                         + files(SHARED / "yaml-test-suite", lambda p: p.name == "in.yaml"))
def test_real_world_and_yaml_test_suite_file_loads_or_is_refused(path, flags):
    load_or_refuse(read(path), flags)


@pytest.mark.parametrize("path", files(EXAMPLES, lambda p: p.suffix not in (".md", ".rst", ".txt", ".py")))
def test_example_loads(path):
    text = read(path)
    assert same_value(load(text), load(text))
