"""JSON text and native Python data, through the library's strict reader and
standard writer.

    from quorvel import json
    json.loads('{"a": [1, 2.5, "x"]}')      # {'a': [1, 2.5, 'x']}
    json.dumps({"a": [1, 2.5, "x"]})        # '{"a":[1,2.5,"x"]}'

``loads`` reads RFC 8259 text and nothing more (``lenient=True`` reads as
the library's lenient reader does); an integer comes back as an int of any
size, any other number as the nearest float, as Python's own reader has
them. ``dumps`` writes what any reader takes back as the same value: every
int and decimal.Decimal with all its digits, a float in its shortest form,
a datetime or date as ISO 8601 text to the millisecond. NaN and infinities
have no JSON form and are refused, as are a datetime with a time zone or
microseconds, unless ``errors="replace"`` asks for null and the wall clock
to the millisecond.
"""

import re as _re

import quorvel
from quorvel import _native

__all__ = ["JSONDecodeError", "dumps", "loads"]

_PLACE = _re.compile(r"Line (\d+), column (\d+): ")


class JSONDecodeError(quorvel.SubscriptError, ValueError):
    """Text that is not JSON: error 9 of the library's reader, also a
    ValueError as Python's own json.JSONDecodeError is. ``lineno`` and
    ``colno`` count from 1, columns in characters."""

    def __init__(self, number, source, description):
        super().__init__(number, source, description)
        place = _PLACE.match(description)
        self.lineno, self.colno = map(int, place.groups()) if place else (0, 0)


def loads(text, *, lenient=False):
    """Returns the value of the JSON text ``text`` (str, or UTF-8 bytes):
    dicts, lists, str, int, float, bool and None. Raises JSONDecodeError at
    the first fault, UnicodeDecodeError for bytes that are not UTF-8. With
    ``lenient``, reads what the library's lenient reader reads (None for
    text that holds no object or array) and raises nothing for bad JSON."""
    try:
        return _native.json_loads(text, lenient)
    except quorvel.SubscriptError as error:
        if error.source != "JSON":
            raise
        raise JSONDecodeError(error.number, error.source, error.description) from None


def dumps(obj, *, indent=None, ensure_ascii=False, errors="strict"):
    """Returns the JSON text of ``obj``: dicts (str keys), lists, tuples,
    str, int, float, bool, None, decimal.Decimal, datetime and date.
    ``indent`` (0 to 16, None for compact text) puts each member on a line
    of its own; ``ensure_ascii`` escapes every character past U+007E.
    Raises quorvel.InexactError, naming the place, for what JSON would not
    give back (NaN, infinities; a datetime with a zone or microseconds),
    unless ``errors="replace"``; TypeError for other types."""
    return _native.json_dumps(obj, indent, ensure_ascii, errors)
