"""Corvane: a strict, fast loader (and exact writer) for the small subset of YAML that configuration
files use."""

from importlib.metadata import version as _version
from typing import TypeAlias, Union

from _corvane import CorvaneError, ParseError, UnsupportedFeatureError, load
from corvane._native import dump

__all__ = ["load", "CorvaneError", "ParseError", "UnsupportedFeatureError", "dump", "Scalar", "Value"]
__version__: str = _version("corvane")

# What `load` can return, for annotations: a scalar, or lists and dicts of values. Mapping keys
# are always scalars, since flow collections are not accepted as keys.
Scalar: TypeAlias = Union[str, int, float, bool, None]
Value: TypeAlias = Union[dict[Scalar, "Value"], list["Value"], Scalar]
