"""Corvane: a strict, fast loader (and exact writer) for the small subset of YAML that configuration
files use."""

from _corvane import CorvaneError, ParseError, UnsupportedFeatureError, load
from corvane._files import load_file
from corvane._lines import Lines, load_with_lines
from corvane._native import InternalError, dump
from corvane._types import Path, Scalar, Value

__all__ = [
    "load",
    "CorvaneError",
    "ParseError",
    "UnsupportedFeatureError",
    "InternalError",
    "dump",
    "load_with_lines",
    "load_file",
    "Lines",
    "Scalar",
    "Value",
    "Path",
]

# The package's version, read from here by the build (pyproject.toml), so that importing the
# package does not have to look up its installed metadata.
__version__ = "0.1.0"


def __dir__() -> list[str]:
    # The public names, without the submodules that importing them binds here.
    return [*__all__, "__version__"]
