"""Fuzzes the writer and the line map with values drawn from the input bytes: nested dicts and
lists of every scalar type, subclasses (str, int, float, dict, OrderedDict, list, tuple, IntEnum),
keys of every type and odd strings. For each value, at an indentation and key order the bytes pick:

- `load(dump(value), strict=True)` is the value exactly (subclasses as their base types, tuples
  as lists, every mapping in its own order), with either boolean setting, and so is PyYAML's safe
  loader where the README's limits allow it (no NaN key, no key written longer than 1024
  characters);
- `load_with_lines` of the written text gives load's value, a line for every path of it, and the
  line of every mapping entry holds its key;
- the command line's JSON of the value is json.dumps's text of the value with keys and
  non-finite floats named as the command names them, or a key clash, refused before any byte is
  written, exactly when two keys of a mapping get one name;
- the rest of the bytes, read as a document, give the same value or the same error through
  `load_with_lines` as through `load`, and a line within the document for every path.

    python fuzz/writer_fuzzer.py -max_total_time=600 -dict=fuzz/yaml.dict fuzz/corpus
"""

import collections
import enum
import json
import math
import sys

import atheris

with atheris.instrument_imports():
    import yaml

    import _corvane
    import corvane
    from corvane import _native

# Words and characters that each style rule of the writer is about.
WORDS = ["yes", "No", "ON", "off", "y", "~", "null", "True", "<<", "=", "1_000", "2024-01-01", "12:30",
         "0b101", "0x1F", "0o17", "017", ".5", "1e3", ".inf", "-.INF", ".NaN", "+1", "-", "---", "...",
         "- x", "? x", "%YAML", "@x", "#x", "a #b", "a: b", "a:", "!t", "&a", "*a", "|", ">", "[a]",
         "{a: 1}", "'q'", '"q"', "\\", "", " ", "\t", "\r\n", "\n", "\n\n", "  \n", "\x85", "\u2028",
         "\ufeff", "\xa0", "\x00", "\x7f", "\u200b", "é", "日本", "\U0001f600"]
CHARACTERS = list(" \t\r\n:#-?'\"\\|>[]{},&*!%@`~.0123456789e+_\x85\u2028\ufeffyesnoé\x00\x1b")


class Text(str):
    pass


class Number(int):
    pass


class Real(float):
    pass


class Mapping(dict):
    pass


class Items(list):
    pass


class Level(enum.IntEnum):
    LOW = 1
    HIGH = 2 ** 40


def draw_string(data: atheris.FuzzedDataProvider) -> str:
    how = data.ConsumeIntInRange(0, 3)
    if how == 0:
        return data.PickValueInList(WORDS)
    if how == 1:
        return "".join(data.PickValueInList(WORDS) for _ in range(data.ConsumeIntInRange(0, 4)))
    if how == 2:
        return "".join(data.PickValueInList(CHARACTERS) for _ in range(data.ConsumeIntInRange(0, 12)))
    # Any code point but a surrogate, which a str written as UTF-8 cannot hold.
    return "".join(chr(code if not 0xD800 <= code <= 0xDFFF else 0xFFFD)
                   for code in (data.ConsumeIntInRange(0, 0x10FFFF) for _ in range(data.ConsumeIntInRange(0, 6))))


def draw_float(data: atheris.FuzzedDataProvider) -> float:
    how = data.ConsumeIntInRange(0, 2)
    if how == 0:
        return data.PickValueInList([0.0, -0.0, math.inf, -math.inf, math.nan, 1e16, 1e-7, 5e-324,
                                     1.7976931348623157e308, 0.1, 123456789012345.6])
    if how == 1:
        return data.ConsumeIntInRange(-10**6, 10**6) / 10 ** data.ConsumeIntInRange(0, 8)
    return data.ConsumeRegularFloat() if data.ConsumeBool() else data.ConsumeFloat()


def draw_scalar(data: atheris.FuzzedDataProvider, as_key: bool):
    kind = data.ConsumeIntInRange(0, 9)
    if kind == 0:
        return None
    if kind == 1:
        return data.ConsumeBool()
    if kind == 2:
        return data.ConsumeIntInRange(-(2 ** 63), 2 ** 63 - 1)
    if kind == 3:
        return draw_float(data)
    if kind == 4:
        return Text(draw_string(data))
    if kind == 5:
        return Number(data.ConsumeIntInRange(-(2 ** 63), 2 ** 63 - 1))
    if kind == 6:
        return Real(draw_float(data))
    if kind == 7:
        return data.PickValueInList(list(Level))
    return draw_string(data)


def draw_value(data: atheris.FuzzedDataProvider, depth: int = 0):
    kind = data.ConsumeIntInRange(0, 7) if depth < 6 else 0
    if kind <= 2:
        return draw_scalar(data, False)
    size = data.ConsumeIntInRange(0, 4)
    if kind <= 4:
        items = [draw_value(data, depth + 1) for _ in range(size)]
        return data.PickValueInList([list, tuple, Items])(items)
    pairs = [(draw_scalar(data, True), draw_value(data, depth + 1)) for _ in range(size)]
    mapping = data.PickValueInList([dict, Mapping, collections.OrderedDict])(pairs)
    if isinstance(mapping, collections.OrderedDict) and mapping and data.ConsumeBool():
        mapping.move_to_end(next(iter(mapping)))  # its own order is not the order of insertion
    return mapping


def plain(value, sort_keys: bool):
    """What the written value reads back as: base types, tuples as lists, mappings in their own
    order (their keys sorted, with `sort_keys`)."""
    if isinstance(value, dict):
        items = list(value.items())
        if sort_keys:
            items.sort(key=lambda item: item[0])
        return {plain(key, False): plain(member, sort_keys) for key, member in items}
    if isinstance(value, (list, tuple)):
        return [plain(item, sort_keys) for item in value]
    for base in (bool, int, float, str):
        if isinstance(value, base):
            return base(value)
    return value


def same(a, b) -> bool:
    """Equal, with the same types throughout, NaN equal to NaN, -0.0 apart from 0.0."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    if isinstance(a, dict):
        return len(a) == len(b) and all(same(ka, kb) and same(va, vb)
                                        for (ka, va), (kb, vb) in zip(a.items(), b.items()))
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def paths(value):
    """Every path of a value with its value, parents first."""
    stack = [((), value)]
    while stack:
        path, item = stack.pop()
        yield path, item
        if isinstance(item, dict):
            stack.extend((path + (key,), member) for key, member in item.items())
        elif isinstance(item, list):
            stack.extend((path + (index,), member) for index, member in enumerate(item))


def pyyaml_reads_back(value) -> bool:
    """Within PyYAML's limits: no NaN key (PyYAML makes two NaN keys one), no key written longer
    than 1024 characters (its limit for a key on one line)."""
    for _, item in paths(value):
        if isinstance(item, dict):
            for key in item:
                if isinstance(key, float) and math.isnan(key):
                    return False
                if len(corvane.dump(key)) > 1024:
                    return False
    return True


def check_lines(text: str, value, lines, entries_hold_keys: bool) -> None:
    rows = text.split("\n")
    found = dict(lines)
    all_paths = [path for path, _ in paths(value)]
    if sorted(map(repr, found)) != sorted(map(repr, all_paths)):
        raise AssertionError(f"paths differ: {list(found)[:5]} against {all_paths[:5]}")
    for path, item in paths(value):
        line = lines[path]
        if not 1 <= line <= len(rows):
            raise AssertionError(f"line {line} of {path!r} is outside the text")
        if entries_hold_keys and path and not isinstance(path[-1], int):
            # The key's line alone, its dashes and indentation taken off, is a mapping whose
            # first key is the entry's key.
            row = rows[line - 1].lstrip(" ")
            while row.startswith("- "):
                row = row[2:].lstrip(" ")
            first = next(iter(_corvane.load(row)))
            if not same(first, path[-1]):
                raise AssertionError(f"line {line} ({rows[line - 1]!r}) does not hold the key {path[-1]!r}")


FLOAT_NAMES = {math.inf: ".inf", -math.inf: "-.inf"}


class Clash(Exception):
    pass


def json_named(value):
    """A plain value as the command's JSON reads back: keys as JSON writes them, NaN and the
    infinities as their YAML names; Clash where two keys of a mapping get one name."""
    if isinstance(value, float) and not math.isfinite(value):
        return ".nan" if math.isnan(value) else FLOAT_NAMES[value]
    if isinstance(value, list):
        return [json_named(item) for item in value]
    if not isinstance(value, dict):
        return value
    named = {}
    for key, member in value.items():
        text = key if isinstance(key, str) else json_named(key)
        text = text if isinstance(text, str) else json.dumps(text)
        if text in named:
            raise Clash
        named[text] = json_named(member)
    return named


def check_json(value, indent: int) -> None:
    blocks = []
    try:
        named = json_named(plain(value, False))
    except Clash:
        named = Clash
    try:
        _native._write_json(value, blocks.append, indent)
    except _native.JSONKeyClash:
        if named is not Clash or blocks:
            raise
        return
    if named is Clash:
        raise AssertionError(f"no key clash reported in {value!r}")
    expected = json.dumps(named, ensure_ascii=False, indent=indent).encode()
    if b"".join(blocks) != expected:
        raise AssertionError(f"JSON of {value!r} is {b''.join(blocks)!r}, not {expected!r}")


def check_writer(data: atheris.FuzzedDataProvider) -> None:
    value = draw_value(data)
    indent = data.PickValueInList([2, 4, 6, 8])
    sort_keys = data.ConsumeBool()
    try:
        text = corvane.dump(value, indent=indent, sort_keys=sort_keys)
    except TypeError:
        if sort_keys:
            return  # keys that do not compare cannot be sorted
        raise
    check_json(value, indent)
    expected = plain(value, sort_keys)
    for bools in (False, True):
        back = _corvane.load(text, strict=True, yaml_1_1_bools=bools)
        if not same(back, expected):
            raise AssertionError(f"{text!r} reads back as {back!r}, not {expected!r}")
    if pyyaml_reads_back(expected):
        back = yaml.load(text, Loader=yaml.CSafeLoader)
        if not same(back, expected):
            raise AssertionError(f"{text!r} reads back in PyYAML as {back!r}, not {expected!r}")
    lined, lines = corvane.load_with_lines(text, strict=True)
    if not same(lined, expected):
        raise AssertionError("load_with_lines gives another value than load")
    # The paths of the value that load_with_lines gave: its keys are the table's own objects,
    # which a NaN key must be to be found.
    check_lines(text, lined, lines, entries_hold_keys=True)


def check_line_map(document: str, flags: dict) -> None:
    try:
        value = _corvane.load(document, **flags)
    except UnicodeEncodeError:
        return  # lone surrogates: the interpreter's own error, before any parsing
    except _corvane.CorvaneError as error:
        try:
            corvane.load_with_lines(document, **flags)
        except _corvane.CorvaneError as other:
            if type(other) is not type(error) or other.args != error.args:
                raise AssertionError(f"{other!r} where load raised {error!r}") from other
            return
        raise AssertionError(f"load_with_lines gave a value where load raised {error!r}") from error
    lined, lines = corvane.load_with_lines(document, **flags)
    if not same(lined, value):
        raise AssertionError("load_with_lines gives another value than load")
    # A NaN key is found only as the very object the table holds: walk load_with_lines's value.
    check_lines(document, lined, lines, entries_hold_keys=False)


def test_one_input(raw: bytes) -> None:
    data = atheris.FuzzedDataProvider(raw)
    flags = {"strict": data.ConsumeBool(), "yaml_1_1_bools": data.ConsumeBool()}
    if data.ConsumeBool():
        check_writer(data)
    else:
        check_line_map(data.ConsumeBytes(data.remaining_bytes()).decode("utf-8", "surrogateescape"), flags)


if __name__ == "__main__":
    sys.setrecursionlimit(10000)
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()
