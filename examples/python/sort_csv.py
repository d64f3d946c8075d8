#!/usr/bin/env python3
"""Sorts a CSV file by one of its columns and prints it.

usage: sort_csv.py FILE.csv COLUMN [--descending] [--numeric]

The file's first line names the columns; records may end with LF, CR LF or
CR, as RFC 4180 reads them (quorvel.csv). Fields are text, compared ignoring
case, so "100" sorts before "42"; with --numeric the column is compared as
numbers. A field that a short record lacks sorts first (last when
descending) and prints empty. The output is CSV with CR LF line ends.
"""

import csv
import sys

import quorvel.csv


def sort_csv(path, column, descending=False, numeric=False):
    with open(path, encoding="utf-8", newline="") as source:
        rows = quorvel.csv.read(source.read())
    if rows and column not in rows[0]:
        sys.exit(f"sort_csv.py: no column {column!r} in {path}")

    def key(row):
        field = row[column]
        if field is None:
            return (0, 0)
        return (1, float(field) if numeric else field.casefold())

    rows.sort(key=key, reverse=descending)
    out = csv.writer(sys.stdout, lineterminator="\r\n")
    if rows:
        out.writerow(rows[0].keys())
    out.writerows([(field or "") for field in row.values()] for row in rows)


def main(argv):
    flags = {a for a in argv[1:] if a.startswith("--")}
    args = [a for a in argv[1:] if not a.startswith("--")]
    if len(args) != 2 or not flags <= {"--descending", "--numeric"}:
        sys.exit(__doc__)
    sys.stdout.reconfigure(newline="")
    sort_csv(args[0], args[1], "--descending" in flags, "--numeric" in flags)


if __name__ == "__main__":
    main(sys.argv)
