#!/usr/bin/env python3
"""Loads a JSON file of documents into a KxDocsDB database file, then opens
the file afresh and prints every document back as JSON.

usage: json_to_docsdb.py DOCUMENTS.json DATABASE.kxd

DOCUMENTS.json holds an array of objects; each becomes one document, with
an identifier the database makes up (DOC000001, DOC000002, ...).
"""

import sys

import quorvel


def load(json_path, db_path):
    pi = quorvel.CreateObject("CQuorvelPI")
    with open(json_path, encoding="utf-8") as source:
        documents = pi.JSON_parse(source.read())  # a CArray of Dictionaries
    db = quorvel.CreateObject("KxDocsDB")
    db.OpenDB(db_path)
    for fields in documents:
        doc = db.AddDoc()
        for name in fields.Keys():
            doc[name] = fields[name]
        doc.Save()
    db.CloseDB()
    return documents.Count


def dump(db_path):
    pi = quorvel.CreateObject("CQuorvelPI")
    db = quorvel.CreateObject("KxDocsDB")
    db.OpenDB(db_path)
    for doc_id in db.Keys:
        print(doc_id, pi.JSON_MakeJSON(db[doc_id]))
    db.CloseDB()


def main(argv):
    if len(argv) != 3:
        sys.exit(__doc__)
    count = load(argv[1], argv[2])
    print(f"stored {count} documents")
    dump(argv[2])


if __name__ == "__main__":
    main(sys.argv)
