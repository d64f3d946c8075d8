# Types of the package's own module: the late-bound objects, their errors
# and the values that have no plain Python form.
import enum
from decimal import Decimal
from typing import Any, Callable, Iterable, Sequence

from quorvel._quorvel import Database as Database
from quorvel._quorvel import Object as Object
from quorvel import base64 as base64
from quorvel import csv as csv
from quorvel import docs as docs
from quorvel import json as json
from quorvel import kv as kv
from quorvel import lzss as lzss
from quorvel import msgpack as msgpack
from quorvel import rc4 as rc4
from quorvel import verhoeff as verhoeff

__version__: str

__all__ = [
    "Array",
    "CallType",
    "CreateObject",
    "ArgumentError",
    "Database",
    "Error",
    "ErrorValue",
    "InexactError",
    "InexactTextError",
    "KeyNotFoundError",
    "NumberOverflowError",
    "SubscriptError",
    "TypeMismatchError",
    "FilterCallback",
    "MemberError",
    "Missing",
    "Null",
    "Object",
    "SortCallback",
    "call_by_name",
    "member",
]

class Error(Exception):
    class_name: str | None
    member: str | None
    expected: str | None
    given: int | None
    number: int
    source: str
    description: str
    def __init__(self, number: int, source: str, description: str) -> None: ...

class MemberError(Error, AttributeError): ...
class ArgumentError(Error, ValueError): ...

class InexactError(ArgumentError):
    where: str
    def __init__(
        self, number: int, source: str, description: str, where: str = ...
    ) -> None: ...

class InexactTextError(InexactError, UnicodeEncodeError):
    def __init__(
        self,
        number: int,
        source: str,
        description: str,
        where: str = ...,
        text: str = ...,
        start: int = ...,
        end: int = ...,
    ) -> None: ...

class NumberOverflowError(Error, OverflowError): ...
class SubscriptError(Error, IndexError): ...
class TypeMismatchError(Error, TypeError): ...
class KeyNotFoundError(Error, KeyError): ...

class CallType(enum.IntEnum):
    Method: int
    Get: int
    Let: int
    Set: int

class _NullType:
    def __new__(cls) -> _NullType: ...
    def __bool__(self) -> bool: ...

Null: _NullType

class ErrorValue:
    code: int
    def __init__(self, code: int) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

Missing: ErrorValue

class Array(list[Any]):
    bounds: tuple[tuple[int, int], ...]
    def __init__(
        self,
        items: Iterable[Any] = ...,
        bounds: Sequence[tuple[int, int]] | None = ...,
    ) -> None: ...

class SortCallback:
    def Apply(self, value: Any) -> Any: ...

class FilterCallback:
    def Test(self, value: Any) -> bool: ...

def CreateObject(class_name: str) -> Object: ...
def member(obj: Object, name: str) -> Callable[..., Any]: ...
def call_by_name(
    obj: Object | None,
    name: str,
    call_type: int,
    *args: Any,
    errors: str | None = ...,
) -> Any: ...
