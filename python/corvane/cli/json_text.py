"""The loaded value as JSON text, written by corvane._native as it is produced: the same text as
`json.dumps(value, ensure_ascii=False, indent=indent or None)` for finite values, NaN and
infinities as the strings ".nan", ".inf" and "-.inf" (spelt as in YAML, so that the output stays
valid JSON for every reader and the values stay recognisable), and keys that are not strings as
JSON writes them (1 -> "1", None -> "null")."""

from __future__ import annotations

from corvane import Value
from corvane._native import JSONKeyClash as KeyClash
from corvane._native import _write_json
from corvane.cli.output import Output

__all__ = ["KeyClash", "write_json"]


def write_json(value: Value, indent: int, out: Output) -> None:
    """Writes `value` to `out` in blocks, without a final line feed. Two keys of one mapping
    that become the same JSON string (1 and '1') raise KeyClash, a ValueError, before anything
    is written: writing both is impossible and keeping one would silently lose data."""
    _write_json(value, out.write_bytes, indent)
