"""The types of what a document holds, for annotations."""

from typing import TypeAlias, Union

# What `load` can return: a scalar, or lists and dicts of values. Mapping keys are always
# scalars, since flow collections are not accepted as keys.
Scalar: TypeAlias = Union[str, int, float, bool, None]
Value: TypeAlias = Union[dict[Scalar, "Value"], list["Value"], Scalar]
# Where a value stands in a document: the mapping keys and sequence indexes that lead to it
# from the root; () for the root itself.
Path: TypeAlias = tuple[Scalar, ...]
