"""The library's MessagePack dialect on native Python data: the body format
of its document database files, which other clients of the dialect read.

    from quorvel import msgpack
    data = msgpack.packb({"name": "Ada", "born": 1815, "langs": ["en"]})
    msgpack.unpackb(data)   # {'name': 'Ada', 'born': 1815, 'langs': ['en']}

The dialect keeps text as Windows-1252, a number with a fraction as a
Currency of four decimal places, and a datetime to the millisecond. By
default a value it would not give back equal is refused before anything is
written, with ``quorvel.InexactError`` (``quorvel.InexactTextError`` for a
character without a byte) naming the place (``where``); ``errors="replace"``
takes the dialect's losses instead ("?" for such a character, a Decimal
rounded to four places).
"""

from quorvel import _native

__all__ = ["packb", "unpackb"]


def packb(obj, *, errors="strict"):
    """Returns the encoding of ``obj``: None, bool, int, float, str,
    decimal.Decimal, datetime and date, and lists, tuples and dicts (str
    keys) of them. Raises quorvel.InexactError when the value would not come
    back equal (unless ``errors="replace"``), TypeError for a type the
    dialect has no form for (bytes among them)."""
    return _native.msgpack_pack(obj, errors=errors)


def unpackb(data):
    """Returns the value encoded in ``data`` (bytes-like): dicts, lists,
    str, int, float, bool, None, decimal.Decimal and datetime. A whole
    number comes back as an int, a Date as a naive datetime. Raises
    quorvel.Error for data that is no encoding (quorvel.SubscriptError when
    it ends early) and quorvel.ArgumentError when more follows the value."""
    return _native.msgpack_unpack(data)
