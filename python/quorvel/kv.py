"""Key-value files on native Python data: a KxKVDB file as a mapping of
str to str, kept on disk as it changes.

    from quorvel import kv
    with kv.open("cache.kv") as cache:
        cache["Ada"] = "Lovelace"
        cache.get("Grace")          # None
        for key, value in cache.items():
            print(key, value)       # in the order the keys were first stored

Every write goes straight to the file (another process or store opened on
the same file sees it at its next write, or when it opens the file), and a
key keeps its place when its value changes. Keys match exactly, letter case
included. The file keeps text as Windows-1252, one byte a character: by
default a key or value with a character outside it is refused with
``quorvel.InexactTextError`` (a ``UnicodeEncodeError`` naming the
character) before anything is written; ``errors="replace"`` stores "?" for
such a character instead, as the library's own writes do.
"""

from collections.abc import MutableMapping as _MutableMapping

from quorvel import _native
from quorvel._stores import (
    Closing as _Closing,
    StoreError,
    StoreFileNotFoundError,
    StorePermissionError,
    opener as _opener,
)

__all__ = [
    "Store",
    "StoreError",
    "StoreFileNotFoundError",
    "StorePermissionError",
    "open",
]


class Store(_native.KvStore, _Closing, _MutableMapping):
    """A KxKVDB file as a ``MutableMapping[str, str]``; make one with
    ``quorvel.kv.open``.

    ``store[key]`` raises KeyError for a key the file does not have (it
    never adds one); keys and values must be str (TypeError otherwise), and
    ``in`` and ``get`` take any other key as absent. Iteration goes over the
    keys as they were when it began, in file order. ``len``, ``del``,
    ``get`` and the other mapping methods work as on a dict. The file work
    runs without the interpreter lock; one store may be shared by threads.
    """

    __slots__ = ()

    def clear(self):
        """Deletes every key (the file keeps growing: see ``compact``)."""
        for key in list(self):
            del self[key]


open = _opener(Store, "KxKVDB")
