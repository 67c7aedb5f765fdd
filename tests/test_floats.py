"""Decimal floats round as Python's float() rounds them: on the exact midpoints between
neighbouring doubles and just beside them, with hundreds of digits, and on random decimal texts
(CORVANE_FLOAT_TEXTS of them, 20000 by default). Builds whose standard library lacks
std::from_chars for double run these through the own conversion."""

import decimal
import os
import random
import struct

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

from conftest import load, same_value

EXACT = decimal.Context(prec=1500, Emin=-5000, Emax=5000)
LARGEST_FINITE_BITS = 0x7FEFFFFFFFFFFFFF


def from_bits(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def midpoint_above(bits):
    """The exact midpoint between the positive double with these bits and the next one up (for
    the largest double: 2^1024, where rounding goes to infinity)."""
    low = decimal.Decimal(from_bits(bits))
    high = EXACT.power(2, 1024) if bits == LARGEST_FINITE_BITS else decimal.Decimal(from_bits(bits + 1))
    return EXACT.divide(EXACT.add(low, high), 2)


def loads_as_float_does(texts):
    values = load("[" + ", ".join(texts) + "]")
    return [(t, v, float(t)) for t, v in zip(texts, values) if not same_value(v, float(t))]


@settings(max_examples=300, deadline=None)
@given(bits=st.integers(0, LARGEST_FINITE_BITS), negative=st.booleans())
@example(bits=0, negative=False)  # halfway to the smallest subnormal: rounds to zero
@example(bits=1, negative=True)
@example(bits=0x000FFFFFFFFFFFFF, negative=False)  # the largest subnormal
@example(bits=0x0010000000000000, negative=False)  # the smallest normal
@example(bits=0x433FFFFFFFFFFFFF, negative=False)  # 2^53 - 1
@example(bits=LARGEST_FINITE_BITS, negative=False)  # the edge of infinity
def test_midpoints_and_their_neighbours(bits, negative):
    middle = midpoint_above(bits)
    nudge = EXACT.power(10, middle.adjusted() - 780)
    sign = "-" if negative else ""
    texts = [sign + format(value, "E") for value in
             (middle, EXACT.add(middle, nudge), EXACT.subtract(middle, nudge))]
    assert loads_as_float_does(texts) == []


def random_decimal(rng):
    """A decimal text of one of several shapes: short, long (past 800 significant digits), or
    written near the ends of the double range."""
    digits = lambda n: "".join(rng.choice("0000123456789") for _ in range(n))
    shape = rng.randrange(3)
    if shape == 0:
        mantissa, exponent = digits(rng.randrange(26)) + "." + digits(rng.randrange(26)), rng.randrange(-400, 401)
    elif shape == 1:
        mantissa, exponent = digits(rng.randrange(900)) + "." + digits(rng.randrange(900)), rng.randrange(-1200, 1201)
    else:
        mantissa, exponent = rng.choice("12345") + "." + digits(rng.randrange(40)), rng.choice([-324, -323, -308, 308])
    if mantissa == ".":
        mantissa = "0."
    written = rng.choice(["", "e" + str(exponent), "E+" + str(exponent) if exponent >= 0 else "e" + str(exponent)])
    return rng.choice(["", "+", "-"]) + mantissa + (written if shape or rng.randrange(4) else "")


def test_random_decimals_round_as_float_does():
    count = int(os.environ.get("CORVANE_FLOAT_TEXTS", "20000"))
    rng = random.Random(20261209)
    mismatched = []
    for start in range(0, count, 5000):
        texts = [random_decimal(rng) for _ in range(min(5000, count - start))]
        mismatched += loads_as_float_does(texts)
    assert mismatched == []


@pytest.mark.parametrize("text, expected", [
    # Past the 800th significant digit only "a nonzero digit follows" can still matter.
    ("9007199254740993" + "0" * 900 + "1e-901", 9007199254740994.0),
    ("9007199254740993" + "0" * 900 + "e-900", 9007199254740992.0),
    ("0." + "0" * 1000 + "1e1001", 1.0),
    ("1" * 1000 + "e-999", 1.1111111111111112),
    ("-" + "1" * 1000 + "e-999", -1.1111111111111112),
    ("59.7050816e-13", 5.97050816e-12),
])
def test_long_and_awkward_texts(text, expected):
    assert same_value(load(text), expected)
