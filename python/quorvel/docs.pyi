from collections.abc import Iterator, Mapping
from os import PathLike
from typing import Any, Literal, TypeVar, overload

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

class Store(Closing, Mapping[str, dict[str, Any]]):
    def __new__(
        cls,
        path: _Path,
        *,
        readonly: bool = ...,
        create: bool = ...,
        errors: Literal["strict", "replace"] = ...,
    ) -> Store: ...
    def __getitem__(self, id: str, /) -> dict[str, Any]: ...
    def __setitem__(self, id: str, doc: dict[str, Any], /) -> None: ...
    def __delitem__(self, id: str, /) -> None: ...
    @property
    def closed(self) -> bool: ...
    @property
    def path(self) -> str: ...
    def __iter__(self) -> Iterator[str]: ...
    def __len__(self) -> int: ...
    def __contains__(self, id: object, /) -> bool: ...
    @overload
    def get(self, __id: object) -> dict[str, Any] | None: ...
    @overload
    def get(self, __id: object, __default: _T) -> dict[str, Any] | _T: ...
    def add(self, doc: dict[str, Any], id: str | None = ...) -> str: ...
    def update(
        self, id: str, fields: Mapping[str, Any] | None = ..., /, **more: Any
    ) -> None: ...
    def find(self, field: str, value: Any, /) -> list[str]: ...
    def compact(self) -> None: ...
    def close(self) -> None: ...

def open(
    path: _Path,
    *,
    readonly: bool = ...,
    create: bool = ...,
    errors: Literal["strict", "replace"] = ...,
) -> Store: ...
