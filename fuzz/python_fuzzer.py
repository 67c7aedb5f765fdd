"""Fuzzes the Python module: every call returns a value or raises CorvaneError, never
anything else, and a value loads the same way twice.

The first byte picks the flags (bit 0: yaml_1_1_bools, bit 1: strict), as for the C++
target; the rest is decoded as UTF-8 with surrogates escaped, so that any byte string becomes
a str. Run with atheris (pip install atheris):

    python fuzz/python_fuzzer.py -max_total_time=600 -dict=fuzz/yaml.dict fuzz/corpus
"""

import math
import sys

import atheris

with atheris.instrument_imports():
    import _corvane


def same(a, b):
    """Equal, with the same types throughout, NaN equal to NaN."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return a == b or (math.isnan(a) and math.isnan(b))
    if isinstance(a, dict):
        return len(a) == len(b) and all(
            same(ka, kb) and same(va, vb) for (ka, va), (kb, vb) in zip(a.items(), b.items()))
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def test_one_input(data: bytes) -> None:
    if not data:
        return
    flags = {"strict": bool(data[0] & 2), "yaml_1_1_bools": bool(data[0] & 1)}
    text = data[1:].decode("utf-8", "surrogateescape")
    try:
        first = _corvane.load(text, **flags)
    except UnicodeEncodeError:
        # Lone surrogates cannot be encoded; the interpreter's own error is the documented one.
        return
    except _corvane.CorvaneError as error:
        message = error.args[0]
        if len(error.args) != 1 or not message.startswith("line ") or type(error) not in (
                _corvane.ParseError, _corvane.UnsupportedFeatureError):
            raise AssertionError(f"malformed error {error!r}") from error
        return
    if not same(first, _corvane.load(text, **flags)):
        raise AssertionError("a second load gave another value")


if __name__ == "__main__":
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()
