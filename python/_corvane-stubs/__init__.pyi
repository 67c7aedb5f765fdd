# Types of the extension module. The aliases have the shape of corvane.Scalar and corvane.Value,
# which are the names to use in annotations.
from typing import TypeAlias, Union

_Scalar: TypeAlias = Union[str, int, float, bool, None]
_Value: TypeAlias = Union[dict[_Scalar, "_Value"], list["_Value"], _Scalar]

__all__ = ["load", "CorvaneError", "ParseError", "UnsupportedFeatureError"]

def load(input: str, strict: bool = False, yaml_1_1_bools: bool = False) -> _Value: ...

class CorvaneError(ValueError):
    @property
    def line(self) -> int: ...
    @property
    def message(self) -> str: ...
    @property
    def path(self) -> str | None: ...

class ParseError(CorvaneError): ...
class UnsupportedFeatureError(CorvaneError): ...
