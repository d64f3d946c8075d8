from typing import Any, Literal

import quorvel

__all__ = ["JSONDecodeError", "dumps", "loads"]

class JSONDecodeError(quorvel.SubscriptError, ValueError):
    lineno: int
    colno: int
    def __init__(self, number: int, source: str, description: str) -> None: ...

def loads(text: str | bytes | bytearray | memoryview, *, lenient: bool = ...) -> Any: ...
def dumps(
    obj: Any,
    *,
    indent: int | None = ...,
    ensure_ascii: bool = ...,
    errors: Literal["strict", "replace"] = ...,
) -> str: ...
