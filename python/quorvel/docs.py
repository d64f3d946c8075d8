"""Document files on native Python data: a KxDocsDB file as a mapping from
id (str) to document (dict), kept on disk as it changes.

    from quorvel import docs
    with docs.open("people.kxd") as db:
        ada = db.add({"name": "Ada", "born": 1815, "langs": ["en", "fr"]})
        db.update(ada, born=1816, title="Countess")
        db[ada]["born"]              # 1816
        db.find("langs", ["en", "fr"])   # ['DOC000001']

A document is a dict of str keys whose values are None, bool, int, float,
str, decimal.Decimal, datetime (and date) and lists and dicts of them; it
is stored as the library's MessagePack dialect, which keeps text as
Windows-1252, a number with a fraction as a Currency of four decimal places
and a datetime to the millisecond. By default a document that would not
come back equal is refused before anything is written, with
``quorvel.InexactError`` (``quorvel.InexactTextError`` for a character
without a byte) whose ``where`` names the place (``address.city[2]``);
``errors="replace"`` takes the dialect's losses instead. A document comes
back as a new dict each time: a whole number as an int, a number with a
fraction as a decimal.Decimal, a date as a naive datetime.
"""

from collections.abc import Mapping as _Mapping

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


class Store(_native.DocsStore, _Closing, _Mapping):
    """A KxDocsDB file as a mapping from id to dict; make one with
    ``quorvel.docs.open``.

    Ids are taken exactly as given (``add`` returns the form it stored).
    ``db[id]`` returns a new dict each time and raises KeyError for an id
    the file does not have; ``db[id] = doc`` stores ``doc`` as the whole
    document ``id``; ``del db[id]`` deletes it (KeyError when absent).
    ``in`` and ``get`` take an id that is not a str as absent. Iteration
    goes over the ids as they were when it began, in file order. The file
    work runs without the interpreter lock; one store may be shared by
    threads.
    """

    __slots__ = ()


open = _opener(Store, "KxDocsDB")
