"""Line numbers as data: the `line`, `message` and `path` of errors, `load_with_lines` and its
`Lines`, `load_file`, and the validation example that puts them together."""

import collections
import copy
import importlib
import math
import os
import pathlib
import pickle
import random
import re
import subprocess
import sys

import pytest
import yaml
from hypothesis import HealthCheck, given, settings, strategies as st

import corvane
from conftest import (ALL_FLAGS, FLAG_IDS, SHARED, CorvaneError, ParseError, UnsupportedFeatureError, load,
                      same_value)

REPO = pathlib.Path(__file__).resolve().parents[1]
REAL = SHARED / "corpus" / "real"
SUITE = SHARED / "yaml-test-suite"


def raised(call, *args, **flags):
    with pytest.raises(CorvaneError) as info:
        call(*args, **flags)
    return info.value


# ---- errors carry their line ----

@pytest.mark.parametrize("text, flags, cls, line, message", [
    ("a: 1\nb: &x 2", {}, UnsupportedFeatureError, 2, "Anchors are not supported in Corvane"),
    ("a: 1\na: 2", dict(strict=True), ParseError, 2, "Duplicate key: 'a'"),
    ("k: 'it''s: fine'\n\n\n" * 4 + "x: [1", {}, ParseError, 13, "Unclosed flow collection: missing ']'"),
    ("é: 'ü'\né: 2", dict(strict=True), ParseError, 2, "Duplicate key: 'é'"),
    ("a: 1\nline 7: x\n   b: 2", {}, ParseError, 3, "Invalid indentation: 3 spaces (must be a multiple of 2)"),
])
def test_errors_of_load_carry_line_and_message_beside_unchanged_args(text, flags, cls, line, message):
    exc = raised(load, text, **flags)
    assert type(exc) is cls
    assert exc.args == (f"line {line}: {message}",)
    assert (exc.line, exc.message, exc.path) == (line, message, None)
    assert vars(exc) == {}


@pytest.mark.parametrize("duplicate", [
    lambda exc, protocol: pickle.loads(pickle.dumps(exc, protocol)),
    lambda exc, protocol: copy.copy(exc),
    lambda exc, protocol: copy.deepcopy(exc),
], ids=["pickle", "copy", "deepcopy"])
@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickling_and_copying_keep_line_and_message(duplicate, protocol):
    exc = raised(load, "a:\n  - 1\n  - &x 2")
    back = duplicate(exc, protocol)
    assert (type(back), back.args, back.line, back.message, back.path) == (
        UnsupportedFeatureError, ("line 3: Anchors are not supported in Corvane",), 3,
        "Anchors are not supported in Corvane", None)


def test_line_message_and_path_are_read_only():
    exc = raised(load, "a: &x 1")
    for name in ("line", "message", "path"):
        with pytest.raises(AttributeError):
            setattr(exc, name, 5)
    assert (exc.line, exc.message, exc.path) == (1, "Anchors are not supported in Corvane", None)


@pytest.mark.parametrize("cls", [CorvaneError, ParseError, UnsupportedFeatureError])
def test_errors_made_by_hand(cls):
    exc = cls("line 12: made here")
    assert (exc.line, exc.message, exc.path) == (12, "made here", None)
    for text in ["no line here", "line : x", "line 3 x", "Line 3: x"]:
        with pytest.raises(AttributeError, match="does not start with a line number"):
            cls(text).line
    with pytest.raises(AttributeError):
        cls().message


# ---- load_with_lines: same value, same errors, and a line for every path ----

def paths_of(value):
    """Every path of a value, parents first, in the value's own order (without recursion: some
    table documents nest deeper than the interpreter's stack)."""
    stack = [((), value)]
    while stack:
        path, value = stack.pop()
        yield path
        if isinstance(value, dict):
            stack.extend(reversed([(path + (key,), item) for key, item in value.items()]))
        elif isinstance(value, list):
            stack.extend(reversed([(path + (index,), item) for index, item in enumerate(value)]))


def same_tree(a, b):
    """conftest.same_value, without recursion."""
    stack = [(a, b)]
    while stack:
        a, b = stack.pop()
        if isinstance(a, (dict, list)) or isinstance(b, (dict, list)):
            if type(a) is not type(b) or len(a) != len(b):
                return False
            if isinstance(a, dict):
                if not all(same_value(x, y) for x, y in zip(a, b)):
                    return False
                stack.extend(zip(a.values(), b.values()))
            else:
                stack.extend(zip(a, b))
        elif not same_value(a, b):
            return False
    return True


def same_outcome(text, flags):
    """load_with_lines gives load's value (the same types, order and key objects' values) or
    load's error, and its Lines hold exactly the value's paths, each with a line of the text."""
    try:
        expected = load(text, **flags)
    except Exception as exc:  # our errors, and the interpreter's for a text with lone surrogates
        with pytest.raises(Exception) as info:
            corvane.load_with_lines(text, **flags)
        assert (type(info.value), info.value.args) == (type(exc), exc.args)
        return
    value, lines = corvane.load_with_lines(text, **flags)
    assert same_tree(value, expected)
    paths = list(paths_of(value))
    assert list(lines) == paths
    assert len(lines) == len(paths)
    last_line = max(1, text.count("\n") + 1)
    for path in paths:
        assert 1 <= lines[path] <= last_line
        assert lines.find(path) == lines[path]


def table_documents():
    """The documents of every test table of the other test files: the `text` argument of each
    parametrized test."""
    documents = set()
    for test_file in sorted(pathlib.Path(__file__).parent.glob("test_*.py")):
        if test_file.stem == "test_line_numbers":
            continue
        module = importlib.import_module(test_file.stem)
        for function in vars(module).values():
            for mark in getattr(function, "pytestmark", []):
                names = mark.args[0] if mark.name == "parametrize" else ""
                names = [n.strip() for n in names.split(",")] if isinstance(names, str) else list(names)
                if "text" not in names:
                    continue
                for case in mark.args[1]:
                    values = getattr(case, "values", case)
                    text = values[names.index("text")] if len(names) > 1 else values
                    if isinstance(text, str):
                        documents.add(text)
    return sorted(documents)


TABLE_DOCUMENTS = table_documents()


def test_the_tables_are_found():
    assert len(TABLE_DOCUMENTS) > 300
    assert "key:\n- a\n- b\nnext: 1" in TABLE_DOCUMENTS


@pytest.mark.parametrize("flags", ALL_FLAGS, ids=FLAG_IDS)
def test_every_table_document_gives_loads_outcome_and_exactly_its_paths(flags):
    for text in TABLE_DOCUMENTS:
        same_outcome(text, flags)


def shared_documents():
    found = []
    for root, keep in [(REAL, lambda p: p.name not in ("MANIFEST.tsv", "README.md")),
                       (SUITE, lambda p: p.name == "in.yaml")]:
        if root.is_dir():
            found += [p for p in sorted(root.rglob("*")) if p.is_file() and keep(p)]
    return found


@pytest.mark.skipif(not shared_documents(), reason=f"no documents under {SHARED}")
@pytest.mark.parametrize("flags", ALL_FLAGS, ids=FLAG_IDS)
def test_every_corpus_document_gives_loads_outcome_and_exactly_its_paths(flags):
    for path in shared_documents():
        try:
            text = path.read_bytes().decode("utf-8")
        except UnicodeDecodeError:
            continue
        same_outcome(text, flags)


# Generated documents: trees of mappings and sequences written in the block forms the parser
# accepts, each choice of form (compact items, a sequence at its key's column, an item whose
# content starts below its dash, flow and block-scalar values, blank and comment lines) drawn
# at random. Keys repeat, so non-strict loads replace entries. The writer notes the line of
# every entry it writes, which the table must give back.
KEYS = ["a", "b", "a", "1", "true", "'a'", ".nan", "k k", "1.0"]
SCALARS = ["1", "x", "~", "'s: t'", '"d\\n"', "[1, [2]]", "{f: [g], f: h}", "# only a comment", "yes", ""]
trees = st.recursive(st.sampled_from(SCALARS),
                     lambda children: st.lists(children, min_size=1, max_size=4)
                     | st.lists(st.tuples(st.sampled_from(KEYS), children), min_size=1, max_size=4),
                     max_leaves=12)


def render(tree, indent, pick, out, compact=False):
    """Appends the lines of `tree` (a scalar text, a list of items, or a list of (key text,
    item) pairs) to `out`, its entries at column `indent`; returns a list of (key text or None,
    line, child) for its entries. With `compact`, the first entry goes on the line already
    started in out[-1] (after a dash)."""
    pad = " " * indent
    written = []
    for position, entry in enumerate(tree):
        key, item = entry if isinstance(entry, tuple) else (None, entry)
        shared = compact and position == 0
        if not shared and pick(4) == 0:
            out.append(pad + "# note" if pick(2) else "")
        head = ("" if shared else pad) + ("- " if key is None else f"{key}: ")
        if shared:
            out[-1] += head
        else:
            out.append(head)
        line = len(out)
        if isinstance(item, str):
            if item == "" and pick(2):
                out[-1] += "|"
                out += [pad + "  text", pad + "  more"]
            else:
                out[-1] += item
            written.append((key, line, None))
            continue
        form = pick(3)
        if key is None and form == 0:
            children = render(item, indent + 2, pick, out, compact=True)
            written.append((key, line, children))
            continue
        out[-1] = out[-1].rstrip()
        if key is not None and form == 0 and not isinstance(item[0], tuple):
            children = render(item, indent, pick, out)  # a sequence at its key's own column
        else:
            children = render(item, indent + 2, pick, out)
        written.append((key, line, children))
    return written


def check_lines(lines, value, written, path):
    """Every entry has the line the writer noted; a flow collection's entries, its line."""
    if isinstance(value, dict):
        if written is None:
            kept = [(key, lines[path], None) for key in value]
        else:
            by_key = {}
            for key_text, line, children in written:  # as a dict keeps them: first position, last value
                by_key[corvane.load(key_text)] = (line, children)
            kept = [(key, line, children) for key, (line, children) in zip(value, by_key.values())]
        assert len(kept) == len(value)
        for key, line, children in kept:
            assert lines[path + (key,)] == line
            check_lines(lines, value[key], children, path + (key,))
    elif isinstance(value, list):
        items = written if written is not None else [(None, lines[path], None)] * len(value)
        assert len(items) == len(value)
        for index, ((_, line, children), item) in enumerate(zip(items, value)):
            assert lines[path + (index,)] == line
            check_lines(lines, item, children, path + (index,))


@settings(max_examples=700, derandomize=True, deadline=None, database=None, suppress_health_check=list(HealthCheck))
@given(tree=trees.filter(lambda tree: not isinstance(tree, str)), seed=st.integers(0, 2**32),
       flags=st.sampled_from(ALL_FLAGS))
def test_generated_documents_give_the_lines_they_were_written_on(tree, seed, flags):
    out = []
    written = render(tree, 0, random.Random(seed).randrange, out)
    text = "\n".join(out) + "\n"
    same_outcome(text, flags)
    try:
        value, lines = corvane.load_with_lines(text, **flags)
    except CorvaneError:
        return
    check_lines(lines, value, written, ())


@pytest.mark.parametrize("text, expected", [
    pytest.param("", {(): 1}, id="empty"),
    pytest.param("# only\n\n", {(): 1}, id="comments-only"),
    pytest.param("# head\n\n  hello  # c\n", {(): 3}, id="scalar-root"),
    pytest.param("\n|\n  text\n", {(): 2}, id="block-scalar-root"),
    pytest.param("# c\n[1, {a: [2]}]\n", {(): 2, (0,): 2, (1,): 2, (1, "a"): 2, (1, "a", 0): 2}, id="flow-root"),
    pytest.param("a: 1\n\n# c\nb:\n  c: 2\n  d:\n    e: 3\n",
                 {(): 1, ("a",): 1, ("b",): 4, ("b", "c"): 5, ("b", "d"): 6, ("b", "d", "e"): 7}, id="block"),
    pytest.param("key:\n- a\n-\n- - x\n  - y\n  -\nnext: 1\n",
                 {(): 1, ("key",): 1, ("key", 0): 2, ("key", 1): 3, ("key", 2): 4, ("key", 2, 0): 4,
                  ("key", 2, 1): 5, ("key", 2, 2): 6, ("next",): 7}, id="sequence-at-key-column"),
    pytest.param("- a: 1\n  b:\n  - x\n-\n  c: 2\n- # note\n-\n\n  - d\n- - - deep\n",
                 {(): 1, (0,): 1, (0, "a"): 1, (0, "b"): 2, (0, "b", 0): 3, (1,): 4, (1, "c"): 5,
                  (2,): 6, (3,): 7, (3, 0): 9, (4,): 10, (4, 0): 10, (4, 0, 0): 10}, id="compact"),
    pytest.param("a: [1, [2, {b: 3}]]\nc:\n  [x, y]\nd: {}\n-e: []\n",
                 {(): 1, ("a",): 1, ("a", 0): 1, ("a", 1): 1, ("a", 1, 0): 1, ("a", 1, 1): 1,
                  ("a", 1, 1, "b"): 1, ("c",): 2, ("c", 0): 3, ("c", 1): 3, ("d",): 4, ("-e",): 5},
                 id="flow"),
    pytest.param("a: |\n  one\n  two\nb: >-\n  x\n\n  y\nc:\n  - |+\n    z\n\n  - end\n",
                 {(): 1, ("a",): 1, ("b",): 4, ("c",): 8, ("c", 0): 9, ("c", 1): 12}, id="block-scalars"),
    pytest.param("".join("  " * i + f"k{i}:\n" for i in range(30)) + "  " * 30 + "- [v]\n",
                 {(): 1, **{tuple(f"k{j}" for j in range(i + 1)): i + 1 for i in range(30)},
                  tuple(f"k{j}" for j in range(30)) + (0,): 31, tuple(f"k{j}" for j in range(30)) + (0, 0): 31},
                 id="deep"),
    pytest.param("a: 1\nb:\n  x: 1\n  y: 2\na: 3\nb: 4\n", {(): 1, ("a",): 5, ("b",): 6}, id="repeated-keys"),
    pytest.param("a:\n  old: 1\nb: 2\na:\n  new: 3\n", {(): 1, ("a",): 4, ("a", "new"): 5, ("b",): 3},
                 id="repeated-key-drops-the-old-subtree"),
    pytest.param("{a: 1, b: {c: 2}, a: [3]}", {(): 1, ("a",): 1, ("a", 0): 1, ("b",): 1, ("b", "c"): 1},
                 id="repeated-flow-key"),
    pytest.param("\ufeffa: 1\r\nb:\r\n  - 2\r\n", {(): 1, ("a",): 1, ("b",): 2, ("b", 0): 3}, id="bom-crlf"),
])
def test_line_table(text, expected):
    value, lines = corvane.load_with_lines(text)
    assert dict(lines) == expected
    assert list(lines) == list(paths_of(value))


def test_repeated_keys_keep_the_first_key_object_and_the_last_value():
    value, lines = corvane.load_with_lines("1: a\ntrue: b\n1.0: c\nx: 1\n.nan: n\n.nan: m\n")
    keys = list(value)
    assert [type(k) for k in keys] == [int, str, float, float]
    assert list(lines) == [(), (1,), ("x",), (keys[2],), (keys[3],)]
    assert [type(path[0]) for path in list(lines)[1:]] == [int, str, float, float]
    assert (lines[(1,)], lines[(True,)], lines[(1.0,)], lines[(keys[2],)], lines[(keys[3],)]) == (3, 3, 3, 5, 6)
    assert (math.nan,) not in lines


@pytest.mark.parametrize("path, found, line", [
    ((), 1, 1),
    (("b", 0, "c"), 3, 3),
    (("b", 0, "c", "deeper"), None, 3),
    (("b", 1), 4, 4),
    (("b", True), 4, 4),
    (("b", 1.0), 4, 4),
    (("b", 2), None, 2),
    (("b", -1), None, 2),
    (("b", "0"), None, 2),
    (("missing", "x"), None, 1),
    (("a", 0), None, 1),
    (("b", 1, 0), 4, 4),
    (("b", 1, 0, 0), None, 4),
    ("b", None, TypeError),  # a sequence of characters, which are no keys
    (b"b", None, TypeError),
])
def test_lookup_and_find(path, found, line):
    _, lines = corvane.load_with_lines("a: 1\nb:\n  - c: 3\n  - [d]\n")
    assert lines.get(path) == found
    assert (path in lines) == (found is not None)
    if line is TypeError:
        with pytest.raises(TypeError, match=f"must be a sequence of keys and indexes, not {type(path).__name__}$"):
            lines.find(path)
        return
    for sequence in (tuple, list, collections.deque):  # a pydantic loc, a jsonschema path
        assert lines.find(sequence(path)) == line


def test_lines_is_a_read_only_mapping():
    _, lines = corvane.load_with_lines("a: [1]\n")
    assert isinstance(lines, corvane.Lines)
    assert dict(lines.items()) == {(): 1, ("a",): 1, ("a", 0): 1}
    assert lines == {(): 1, ("a",): 1, ("a", 0): 1}
    assert repr(lines) == "<corvane.Lines of 3 values>"
    with pytest.raises(TypeError):
        lines[("b",)] = 2  # type: ignore[index]
    with pytest.raises(KeyError) as info:
        lines[("a", 1)]
    assert info.value.args == (("a", 1),)
    with pytest.raises(KeyError):
        lines["a"]
    with pytest.raises(TypeError):
        lines[(["unhashable"],)]
    with pytest.raises(ZeroDivisionError):  # a comparison with the key "a" raises
        lines[(KeyThatFailsToCompare(),)]
    with pytest.raises(ZeroDivisionError):
        lines.find([KeyThatFailsToCompare(), 0])


class KeyThatFailsToCompare:
    def __hash__(self):
        return hash("a")

    def __eq__(self, other):
        raise ZeroDivisionError


def test_lines_outlive_the_value_and_keep_their_keys():
    value, lines = corvane.load_with_lines("key: [x]\nother: 1\n")
    value.clear()
    del value
    assert list(lines) == [(), ("key",), ("key", 0), ("other",)]
    iterator = iter(lines)
    del lines
    assert list(iterator) == [(), ("key",), ("key", 0), ("other",)]


@pytest.mark.parametrize("text", [
    "- [1, 2, 3, 4]\n" * 20000,
    "".join(f"k{i}:\n  a: {i}\n  b: [x, y]\n" for i in range(10000)),
    "a: 1\n" * 50000,
])
def test_the_table_holds_a_small_entry_per_value(text):
    _, lines = corvane.load_with_lines(text)
    assert sys.getsizeof(lines) <= 48 * len(lines) + 1024


def test_arguments_are_checked_as_load_checks_them():
    with pytest.raises(TypeError, match="load_with_lines\\(\\) argument 'input' must be str, not bytes"):
        corvane.load_with_lines(b"a: 1")
    with pytest.raises(TypeError, match="load_with_lines\\(\\) argument 'strict' must be bool, not int"):
        corvane.load_with_lines("a: 1", 1)
    with pytest.raises(TypeError, match="argument 'yaml_1_1_bools' must be bool, not NoneType"):
        corvane.load_with_lines("a: 1", yaml_1_1_bools=None)
    assert corvane.load_with_lines("a: on", yaml_1_1_bools=True)[0] == {"a": True}


# ---- real-world files against PyYAML's composer ----

ONLY_DASHES = re.compile(r"\s*(-\s*)+(#.*)?")


def compare_with_composer(text):
    """(compared, later_content, unexplained): entries whose line agrees with PyYAML's
    composer, sequence items whose content starts below their dash (our line is the dash's,
    PyYAML's the content's), and everything else."""
    value, lines = corvane.load_with_lines(text)
    source = text.splitlines()
    counts = [0, 0, []]

    def walk(node, value, path):
        if isinstance(node, yaml.MappingNode):
            pairs = zip(node.value, value)
            if len(node.value) != len(value):
                # A repeated key: the entry kept is the last one under each key, typed as we
                # type keys (its text, or its plain scalar typed).
                kept = {key_node.value if key_node.style else load(key_node.value): (key_node, value_node)
                        for key_node, value_node in node.value}
                pairs = ((kept[key], key) for key in value)
            for (key_node, value_node), key in pairs:
                check(key_node, path + (key,), False)
                walk(value_node, value[key], path + (key,))
        elif isinstance(node, yaml.SequenceNode):
            for index, (item_node, item) in enumerate(zip(node.value, value)):
                check(item_node, path + (index,), node.flow_style is False)
                walk(item_node, item, path + (index,))

    def check(node, path, block_item):
        ours, theirs = lines[path], node.start_mark.line + 1
        if ours == theirs:
            counts[0] += 1
        elif block_item and ours < theirs and ONLY_DASHES.fullmatch(source[ours - 1]):
            counts[1] += 1
        else:
            counts[2].append((path, ours, theirs))

    walk(yaml.compose(text, Loader=yaml.SafeLoader), value, ())
    return counts


def real_documents():
    """The real-world files that both Corvane and PyYAML load."""
    found = []
    for path in sorted(REAL.rglob("*")) if REAL.is_dir() else []:
        if not path.is_file() or path.name in ("MANIFEST.tsv", "README.md"):
            continue
        try:
            text = path.read_bytes().decode("utf-8")
            load(text)
            yaml.compose(text, Loader=yaml.SafeLoader)
        except (UnicodeDecodeError, CorvaneError, yaml.YAMLError):
            continue
        found.append((path, text))
    return found


@pytest.mark.skipif(not REAL.is_dir(), reason=f"no real-world corpus at {REAL}")
def test_entry_lines_match_pyyaml_composer_on_real_world_files():
    documents = real_documents()
    agreed = later = 0
    for path, text in documents:
        same, below, unexplained = compare_with_composer(text)
        assert unexplained == [], path
        agreed, later = agreed + same, later + below
    assert len(documents) > 50 and agreed > 1000


@pytest.mark.parametrize("text, expected", [
    ("a:\n  - x\n  -\n    b: 1\n  -\n\n    - y\n", [4, 2, []]),
    ("- {a: 1}\n- [2]\n- |\n  t\n", [5, 0, []]),
])
def test_composer_comparison_counts_items_whose_content_is_below_the_dash(text, expected):
    assert compare_with_composer(text) == expected


# ---- load_file ----

@pytest.mark.parametrize("data, flags, expected", [
    (b"a: 1\n", {}, {"a": 1}),
    (b"\xef\xbb\xbfa: caf\xc3\xa9\r\nb: on\r\n", dict(yaml_1_1_bools=True), {"a": "café", "b": True}),
    (b"", {}, None),
])
def test_load_file_reads_utf8(tmp_path, data, flags, expected):
    path = tmp_path / "config.yaml"
    path.write_bytes(data)
    assert corvane.load_file(path, **flags) == expected
    assert corvane.load_file(str(path), **flags) == expected


@pytest.mark.parametrize("data, flags, cls, line, message", [
    (b"a: 1\nb: &x 2\n", {}, UnsupportedFeatureError, 2, "Anchors are not supported in Corvane"),
    (b"a: 1\na: 2\n", dict(strict=True), ParseError, 2, "Duplicate key: 'a'"),
    (b"a: 1\n\nb: caf\xe9\n", {}, ParseError, 3, "not valid UTF-8: invalid continuation byte (byte 0xe9)"),
    (b"\xff", {}, ParseError, 1, "not valid UTF-8: invalid start byte (byte 0xff)"),
    (b"a: b\n" * 3 + b"c: \xe2\x82", {}, ParseError, 4, "not valid UTF-8: unexpected end of data (byte 0xe2)"),
])
@pytest.mark.parametrize("name", ["d:1: x.yaml", os.fsdecode(b"x\xff.yaml")], ids=["colons", "not-utf8"])
def test_load_file_errors_name_the_file(tmp_path, data, flags, cls, line, message, name):
    path = tmp_path / name
    path.write_bytes(data)
    exc = raised(corvane.load_file, path, **flags)
    assert type(exc) is cls
    assert str(exc) == f"{path}:{line}: {message}"
    assert exc.args == (str(exc),)
    assert (exc.path, exc.line, exc.message) == (str(path), line, message)
    back = pickle.loads(pickle.dumps(exc))
    assert (type(back), back.args, back.path, back.line, back.message) == (cls, exc.args, str(path), line, message)
    assert copy.copy(exc).path == str(path)


def test_load_file_raises_oserror_for_an_unreadable_file(tmp_path):
    with pytest.raises(FileNotFoundError):
        corvane.load_file(tmp_path / "missing.yaml")
    with pytest.raises(IsADirectoryError):
        corvane.load_file(tmp_path)


@pytest.mark.parametrize("path", [b"x.yaml", pathlib.PurePath, 3], ids=["bytes", "class", "int"])
def test_load_file_takes_a_str_or_a_path_of_one(path):
    with pytest.raises(TypeError):
        corvane.load_file(path)


# ---- the validation example ----

def run_example(*args):
    return subprocess.run([sys.executable, str(REPO / "examples" / "validate.py"), *args],
                          capture_output=True, text=True, timeout=120, cwd=REPO)


def test_validation_example_reports_each_problem_of_the_broken_example_with_its_line():
    pytest.importorskip("pydantic")
    run = run_example("examples/broken.yaml")
    assert (run.returncode, run.stderr) == (1, "")
    assert run.stdout.splitlines() == [
        "examples/broken.yaml:9: service.listen.port: Input should be a valid integer",
        "examples/broken.yaml:6: service.debgu: Extra inputs are not permitted",
        "examples/broken.yaml:18: database.pool.max: Input should be a valid integer",
        "examples/broken.yaml:28: workers.1.name: Field required",
        "examples/broken.yaml:28: workers.1.nam: Extra inputs are not permitted",
    ]


def test_validation_example_accepts_the_example_and_reports_load_errors(tmp_path):
    pytest.importorskip("pydantic")
    run = run_example()
    assert (run.returncode, run.stdout, run.stderr) == (0, f"{REPO / 'examples' / 'service.yaml'}: valid\n", "")
    bad = tmp_path / "bad.yaml"
    bad.write_text("service:\n  name: x\n  name: y\n", encoding="utf-8")
    run = run_example(str(bad))
    assert (run.returncode, run.stdout) == (1, f"{bad}:3: Duplicate key: 'name'\n")
