from collections.abc import Iterator, MutableMapping
from os import PathLike
from typing import Literal, TypeVar, overload

from quorvel._stores import (
    Closing,
    StoreError as StoreError,
    StoreFileNotFoundError as StoreFileNotFoundError,
    StorePermissionError as StorePermissionError,
)

__all__ = [
    "Store",
    "StoreError",
    "StoreFileNotFoundError",
    "StorePermissionError",
    "open",
]

_T = TypeVar("_T")
_Path = str | bytes | PathLike[str] | PathLike[bytes]

class Store(Closing, MutableMapping[str, str]):
    def __new__(
        cls,
        path: _Path,
        *,
        readonly: bool = ...,
        create: bool = ...,
        errors: Literal["strict", "replace"] = ...,
    ) -> Store: ...
    def __getitem__(self, key: str, /) -> str: ...
    def __setitem__(self, key: str, value: str, /) -> None: ...
    def __delitem__(self, key: str, /) -> None: ...
    @property
    def closed(self) -> bool: ...
    @property
    def path(self) -> str: ...
    def __iter__(self) -> Iterator[str]: ...
    def __len__(self) -> int: ...
    def __contains__(self, key: object, /) -> bool: ...
    @overload
    def get(self, __key: object) -> str | None: ...
    @overload
    def get(self, __key: object, __default: _T) -> str | _T: ...
    def compact(self) -> None: ...
    def close(self) -> None: ...
    def clear(self) -> None: ...

def open(
    path: _Path,
    *,
    readonly: bool = ...,
    create: bool = ...,
    errors: Literal["strict", "replace"] = ...,
) -> Store: ...
