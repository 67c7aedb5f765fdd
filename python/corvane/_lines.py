"""Where values come from: `load_with_lines` and its `Lines`."""

from __future__ import annotations

import sys

# The interpreter has loaded these at start-up already; `collections.abc` and `typing` would
# cost `import corvane` several times what the extension does.
from _collections_abc import Iterator, Mapping

from corvane._native import load_with_lines as _load_with_lines
from corvane._types import Path, Scalar, Value

# Type checkers take any TYPE_CHECKING as true; at run time nothing below it is imported.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence

    from corvane._native import LineTable


class Lines(Mapping[Path, int]):
    """The line of every value of a loaded document, by path: a mapping entry's line is its
    key's, a sequence item's that of its dash, and every entry of a flow collection has the
    collection's line. Read-only; the table is built by `load_with_lines`."""

    __slots__ = ("_table",)

    def __init__(self, table: LineTable) -> None:
        self._table = table

    def __getitem__(self, path: Path) -> int:
        return self._table[path]

    def __iter__(self) -> Iterator[Path]:
        return iter(self._table)

    def __len__(self) -> int:
        return len(self._table)

    def find(self, path: Sequence[Scalar]) -> int:
        """The line of the longest prefix of `path` that the document has: for a missing key,
        the line of the mapping that lacks it. `path` is any sequence of keys and indexes (a
        tuple, a list, a deque), but not a string."""
        return self._table.find(path)

    def __repr__(self) -> str:
        return f"<corvane.Lines of {len(self)} values>"

    def __sizeof__(self) -> int:
        return object.__sizeof__(self) + sys.getsizeof(self._table)


def load_with_lines(input: str, strict: bool = False, yaml_1_1_bools: bool = False) -> tuple[Value, Lines]:
    """`load`'s value, with the line of each of its values."""
    value, table = _load_with_lines(input, strict, yaml_1_1_bools)
    return value, Lines(table)
