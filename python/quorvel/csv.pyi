from typing import Any

__all__ = ["read"]

def read(
    text: str,
    *,
    standard: bool = ...,
    separator: str = ...,
    header: bool = ...,
    quotes: bool = ...,
    comment: str | None = ...,
    uneven: bool = ...,
) -> list[Any]: ...
