#!/usr/bin/env python3
"""Loads a JSON file of documents into a KxDocsDB database file, then opens
the file afresh and prints every document back as JSON, one line each.

usage: json_to_docsdb.py DOCUMENTS.json DATABASE.kxd [--replace]

DOCUMENTS.json holds an array of objects; each becomes one document, with
an id the database makes up (DOC000001, DOC000002, ...). A document the
file would not give back equal (text outside Windows-1252, a number with
more than four decimal places) is refused, naming the place, unless
--replace asks for the file's losses ("?" for such a character).
"""

import sys

import quorvel
from quorvel import docs, json


def load(json_path, db_path, errors):
    with open(json_path, encoding="utf-8") as source:
        documents = json.loads(source.read())
    with docs.open(db_path, errors=errors) as db:
        for number, doc in enumerate(documents, 1):
            try:
                db.add(doc)
            except quorvel.InexactError as e:
                print(f"document {number} refused at {e.where}: {e.description}")
                sys.exit(1)
    return len(documents)


def dump(db_path):
    with docs.open(db_path, readonly=True) as db:
        for doc_id, doc in db.items():
            print(doc_id, json.dumps(doc))


def main(argv):
    args = [a for a in argv[1:] if a != "--replace"]
    if len(args) != 2:
        sys.exit(__doc__)
    count = load(args[0], args[1], "replace" if "--replace" in argv else "strict")
    print(f"stored {count} documents")
    dump(args[1])


if __name__ == "__main__":
    main(sys.argv)
