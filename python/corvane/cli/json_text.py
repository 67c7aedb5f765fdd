"""The loaded value as JSON text, written as it is produced: the same text as
`json.dumps(value, ensure_ascii=False, indent=...)` for finite values, NaN and infinities as the
strings ".nan", ".inf" and "-.inf", and keys that are not strings as JSON writes them."""

from __future__ import annotations

import json
import math
from collections.abc import Iterator

from corvane import Scalar, Value

# JSON has no NaN or infinities: they are written as strings, spelt as in YAML, so that the
# output stays valid JSON for every reader and the values stay recognisable.
NONFINITE_NAMES = {math.inf: ".inf", -math.inf: "-.inf"}
NAN_NAME = ".nan"


class KeyClash(ValueError):
    """Two keys of one mapping that become the same JSON string (1 and '1'): writing both is
    impossible and keeping one would silently lose data."""


def plain_text(value: bool | int | float | None) -> str:
    """A non-string scalar as JSON writes it, and as it appears when used as a mapping key."""
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, float) and not math.isfinite(value):
        return NAN_NAME if math.isnan(value) else NONFINITE_NAMES[value]
    return repr(value)


def scalar_json(value: Scalar | dict[Scalar, Value] | list[Value]) -> str:
    """JSON for a scalar or an empty collection."""
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=False)
    if isinstance(value, dict):
        return "{}"
    if isinstance(value, list):
        return "[]"
    if isinstance(value, float) and not math.isfinite(value):
        return json.dumps(plain_text(value))
    return plain_text(value)


def json_keys(mapping: dict[Scalar, Value]) -> list[str]:
    """The keys as JSON strings; two keys that become the same string (1 and '1') cannot both
    be written, and silently keeping one would lose data."""
    keys = [key if isinstance(key, str) else plain_text(key) for key in mapping]
    if len(set(keys)) != len(keys):
        first_by_text: dict[str, Scalar] = {}
        for original, text in zip(mapping, keys):
            if text in first_by_text:
                raise KeyClash(f"cannot write as JSON: the keys {first_by_text[text]!r} and "
                              f"{original!r} both become {json.dumps(text, ensure_ascii=False)}")
            first_by_text[text] = original
    return keys


def check_json_keys(value: Value) -> None:
    """Raises the KeyClash of the first mapping, in document order, whose keys cannot all be
    written; run before anything is written, so that a refused value leaves no partial output."""
    stack: list[Iterator[Value]] = [iter((value,))]
    while stack:
        for item in stack[-1]:
            if isinstance(item, dict):
                json_keys(item)
                stack.append(iter(item.values()))
                break
            if isinstance(item, list):
                stack.append(iter(item))
                break
        else:
            stack.pop()


def json_members(mapping: dict[Scalar, Value]) -> Iterator[tuple[str | None, Value]]:
    return zip(json_keys(mapping), mapping.values())


class OpenContainer:
    __slots__ = ("items", "closing", "written")

    def __init__(self, items: Iterator[tuple[str | None, Value]], closing: str) -> None:
        self.items = items  # (key, value) pairs; the key is None in a list
        self.closing = closing
        self.written = 0


def json_chunks(value: Value, indent: int) -> Iterator[str]:
    """The text json.dumps(value, ensure_ascii=False, indent=indent or None) gives for finite
    values, built without recursion so that any nesting depth load accepts can be written."""
    item_separator = "," if indent else ", "

    def line_break(depth: int) -> str:
        return "\n" + " " * (indent * depth) if indent else ""

    stack: list[OpenContainer] = []
    pending: Value = value
    while True:
        if isinstance(pending, dict) and pending:
            yield "{"
            stack.append(OpenContainer(json_members(pending), "}"))
        elif isinstance(pending, list) and pending:
            yield "["
            stack.append(OpenContainer(((None, item) for item in pending), "]"))
        else:
            yield scalar_json(pending)
        # Close the containers whose items are all written, up to one with an item left.
        while stack:
            container = stack[-1]
            member = next(container.items, None)
            if member is None:
                stack.pop()
                yield line_break(len(stack)) + container.closing
                continue
            key, pending = member
            yield (item_separator if container.written else "") + line_break(len(stack))
            if key is not None:
                yield json.dumps(key, ensure_ascii=False) + ": "
            container.written += 1
            break
        else:
            return
