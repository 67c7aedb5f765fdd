"""Corvane: a strict, fast loader (and exact writer) for the small subset of YAML that configuration
files use."""

from importlib.metadata import version as _version

from _corvane import CorvaneError, ParseError, UnsupportedFeatureError, load
from corvane._lines import Lines, load_file, load_with_lines
from corvane._native import dump
from corvane._types import Path, Scalar, Value

__all__ = ["load", "CorvaneError", "ParseError", "UnsupportedFeatureError", "dump",
           "load_with_lines", "load_file", "Lines", "Scalar", "Value", "Path"]
__version__: str = _version("corvane")
