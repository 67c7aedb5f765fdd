"""Corvane: a strict, fast loader (and exact writer) for the small subset of YAML that configuration
files use."""

from _corvane import CorvaneError, ParseError, UnsupportedFeatureError, load
from corvane._native import dump

__all__ = [
    "load",
    "CorvaneError",
    "ParseError",
    "UnsupportedFeatureError",
    "dump",
    "Scalar",
    "Value",
]

# The package's version, read from here by the build (pyproject.toml), so that importing the
# package does not have to look up its installed metadata.
__version__ = "0.1.0"


def __dir__() -> list[str]:
    # The public names, without the submodules that importing them binds here (_native).
    return [*__all__, "__version__"]

# What `load` can return, for annotations: a scalar, or lists and dicts of values. Mapping keys
# are always scalars, since flow collections are not accepted as keys. Written without the
# typing module, which would cost more to import than the extension does.
Scalar = str | int | float | bool | None
Value = dict[Scalar, "Value"] | list["Value"] | Scalar
