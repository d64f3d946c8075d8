"""CSV text read into native Python rows.

    from quorvel import csv
    csv.read("name,age\\nAda,36\\n")    # [{'name': 'Ada', 'age': '36'}]

By default the text is read as RFC 4180 has it, with LF, CR LF or CR
ending records: a quoted field may hold the separator, line breaks and
doubled quotes; a stray quote is an error, and so is a record with more
fields than the header. Every value is a str; a field a short record
lacks is None. ``standard=False`` reads as the library's classes do
(records end only at CR LF, quotes do not protect a separator).
"""

from quorvel import _native

__all__ = ["read"]


def read(text, *, standard=True, separator=",", header=True, quotes=True,
         comment=None, uneven=False):
    """Returns the records of ``text``: with ``header`` a list of dicts by
    column name (an empty name becomes Col and its number, a repeated one
    gets _2, _3...), otherwise a list of lists. ``quotes=False`` makes the
    double quote a character like any other; a line beginning with
    ``comment`` is skipped; ``uneven`` lets records without a header differ
    in length. Raises quorvel.SubscriptError (error 9) naming the line and
    column of the first fault."""
    return _native.csv_read(text, standard, separator, header, quotes,
                            comment, uneven)
