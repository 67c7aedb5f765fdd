"""The types of what a document holds, for annotations. Written without the typing module,
which would cost more to import than the extension does."""

# What `load` can return: a scalar, or lists and dicts of values. Mapping keys are always
# scalars, since flow collections are not accepted as keys.
Scalar = str | int | float | bool | None
Value = dict[Scalar, "Value"] | list["Value"] | Scalar
# Where a value stands in a document: the mapping keys and sequence indexes that lead to it
# from the root; () for the root itself.
Path = tuple[Scalar, ...]
