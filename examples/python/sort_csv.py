#!/usr/bin/env python3
"""Sorts a CSV file by one of its columns through CDataset and prints it.

usage: sort_csv.py FILE.csv COLUMN [--descending] [--numeric]

The file's first line names the columns. CSV fields are read as text, so
"100" sorts before "42"; with --numeric the column's fields are turned into
numbers first.
"""

import sys

import quorvel


def sort_csv(path, column, descending=False, numeric=False):
    with open(path, encoding="utf-8", newline="") as source:
        text = source.read()
    table = quorvel.CreateObject("CDataset")
    table.FromCSV(text)
    if numeric:
        for row in range(1, table.RowCount + 1):
            table[row, column] = float(table[row, column])
    table.Sort(column, descending)
    return table.ToCSV()


def main(argv):
    flags = {a for a in argv[1:] if a.startswith("--")}
    args = [a for a in argv[1:] if not a.startswith("--")]
    if len(args) != 2 or not flags <= {"--descending", "--numeric"}:
        sys.exit(__doc__)
    sys.stdout.write(
        sort_csv(args[0], args[1], "--descending" in flags, "--numeric" in flags)
    )


if __name__ == "__main__":
    main(sys.argv)
