"""quorvel.docs: a KxDocsDB file as a mapping from id to dict."""

import collections.abc
import datetime
import decimal
import os
import random
import tempfile
import unittest

import quorvel
from quorvel import docs

D = decimal.Decimal
LATIN = "é€ŠÿÆ\u0081"


def same(a, b):
    """Equal, and of the same types all the way down (1 is not True)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(map(same, a, b))
    return a == b


def value(rng, depth=0):
    """A value that comes back from the file as it went in."""
    kinds = [
        lambda: rng.randrange(-2**31, 2**31),
        lambda: rng.randrange(2**40),  # a Currency in the file, an int again
        lambda: rng.random() * 1e6,
        lambda: D(f"{rng.randrange(10**6)}.{rng.randrange(1, 10**4):04d}".rstrip("0")),
        lambda: rng.random() < 0.5,
        lambda: None,
        lambda: datetime.datetime(2000, 1, 1) + datetime.timedelta(
            milliseconds=rng.randrange(10**11)),
        lambda: "".join(rng.choice("xy " + LATIN) for _ in range(rng.choice(
            [0, 3, rng.randrange(2000), rng.randrange(30_000)]))),
    ]
    if depth < 2:
        kinds.append(lambda: [value(rng, depth + 1) for _ in range(rng.randrange(4))])
        kinds.append(lambda: {f"k{i}{LATIN[i % 6]}": value(rng, depth + 1)
                              for i in range(rng.randrange(4))})
    return rng.choice(kinds)()


def document(rng):
    return {f"f{i}": value(rng) for i in range(rng.randrange(6))}


class DocsTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "store.kxd")

    def tearDown(self):
        self.dir.cleanup()

    def check(self, db, model):
        self.assertEqual(list(db), list(model))
        for doc_id, doc in model.items():
            self.assertTrue(same(db[doc_id], doc), (doc_id, db[doc_id], doc))

    def test_matches_a_dict_across_reopen_and_compact(self):
        rng = random.Random(5)
        model = {}
        db = docs.open(self.path)
        for step in range(300):
            action = rng.random()
            if action < 0.4 or not model:
                given = rng.choice([None, None, f"id{rng.randrange(50)}"])
                if given is not None and given.upper() in model:
                    self.assertRaises(docs.StoreError, db.add, {}, given)
                else:
                    doc = document(rng)
                    model[db.add(doc, id=given)] = doc
            elif action < 0.55:
                doc_id = rng.choice(list(model))
                db[doc_id] = model[doc_id] = document(rng)
            elif action < 0.7:
                doc_id = rng.choice(list(model))
                fields = document(rng)
                db.update(doc_id, fields)
                model[doc_id].update(fields)
            elif action < 0.8:
                doc_id = rng.choice(list(model))
                del db[doc_id], model[doc_id]
            elif action < 0.95:
                db.close()
                db = docs.open(self.path)
            else:
                db.compact()
            if step % 30 == 0:
                self.check(db, model)
        db.close()
        with docs.open(self.path, readonly=True) as db:
            self.check(db, model)

    def test_find(self):
        rows = [
            {"n": 1, "d": D("1.5"), "big": 2**40, "t": "Oslo", "l": [1, "a"],
             "o": {"x": 1, "y": [None]}, "z": None},
            {"n": 1.0, "d": 1.5, "big": 2**40 + 1, "t": "oslo", "l": ["a", 1],
             "o": {"y": [None], "x": 1}, "z": False},
            {"n": True, "t": "\u00c6r\u00f8", "l": [1, "a", None]},
        ]
        db = docs.open(self.path)
        for row in rows:
            db.add(row)
        for reopened in (False, True):  # records kept in memory, then read
            if reopened:
                db.close()
                db = docs.open(self.path)
            for field, wanted, found in [
                ("n", 1, ["DOC000001"]),                # the same kind only
                ("n", 1.0, ["DOC000002"]),
                ("n", True, ["DOC000003"]),
                ("d", D("1.50"), ["DOC000001"]),        # as the file keeps it
                ("big", 2**40, ["DOC000001"]),
                ("t", "Oslo", ["DOC000001"]),           # letter case counts
                ("t", "\u00c6r\u00f8", ["DOC000003"]),
                ("t", "\u6771\u4eac", []),              # no file can hold it
                ("d", D("0.12345"), []),
                ("n", datetime.datetime(2000, 1, 1, tzinfo=datetime.timezone.utc), []),
                ("l", [1, "a"], ["DOC000001"]),         # lists in order
                ("o", {"x": 1, "y": [None]}, ["DOC000001", "DOC000002"]),
                ("z", None, ["DOC000001"]),
                ("missing", 1, []),
            ]:
                self.assertEqual(db.find(field, wanted), found, (field, wanted))
            self.assertRaises(TypeError, db.find, "n", {1, 2})
            self.assertRaises(TypeError, db.find, 5, 1)
        db.close()

    def test_exact_refuses_and_writes_nothing(self):
        aware = datetime.datetime(2024, 5, 1, 12, tzinfo=datetime.timezone.utc)
        rows = [  # the document, the place named, the text named
            ({"a": "\u6771"}, "a", "\u6771"),
            ({"a": {"b": ["x", "Z\u00fcri\u0080"]}}, "a.b[1]", "Z\u00fcri\u0080"),
            ({"a b": {"\u6771": 1}}, '["a b"]["\u6771"]', "\u6771"),
            ({"p": D("0.12345")}, "p", None),
            ({"t": aware}, "t", None),
            ({"t": datetime.datetime(2024, 5, 1, 0, 0, 0, 1)}, "t", None),
            ({"n": 2**100}, "n", None),
            ({"b": b"bytes"}, "b", None),
            ({"s": "x" * 65_536}, "s", None),
        ]
        with docs.open(self.path) as db:
            kept = db.add({"kept": 1})
            size = os.path.getsize(self.path)
            for doc, where, named in rows:
                for write in (db.add, lambda d: db.__setitem__(kept, d),
                              lambda d: db.update(kept, d)):
                    with self.assertRaises(quorvel.InexactError) as caught:
                        write(doc)
                    e = caught.exception
                    self.assertEqual(e.where, where, doc)
                    self.assertEqual(isinstance(e, UnicodeEncodeError), named is not None)
                    if named is not None:
                        self.assertEqual(e.object, named)
            for doc_id, stored in (("\u6771", "\u6771"), ("\u00b5", "\u039c")):
                with self.assertRaises(quorvel.InexactTextError) as caught:
                    db.add({}, id=doc_id)
                self.assertEqual((caught.exception.object, caught.exception.where),
                                 (stored, ""))
            self.assertRaises(TypeError, db.add, [1])
            self.assertRaises(TypeError, db.add, {1: "x"})
            self.assertEqual((list(db), db[kept], os.path.getsize(self.path)),
                             ([kept], {"kept": 1}, size))
        with docs.open(self.path, errors="replace") as db:
            doc_id = db.add({"a": "\u6771", "p": D("0.12345"), "t": aware})
        with docs.open(self.path) as db:
            self.assertEqual(db[doc_id], {"a": "?", "p": D("0.1234"),  # half to even
                                          "t": datetime.datetime(2024, 5, 1, 12)})

    def test_a_second_opener_writing_meanwhile(self):
        with docs.open(self.path) as a, docs.open(self.path) as b:
            first, second = a.add({"by": "a"}), b.add({"by": "b"})
            self.assertNotEqual(first, second)  # an id is reserved at once
            self.assertEqual(b[first], {"by": "a"})  # a write takes in others'
            self.assertNotIn(second, a)
            b.update(first, seen=True)
            del a[first]  # both records of it, b's too
            self.assertEqual(a[second], {"by": "b"})
        with docs.open(self.path) as db:
            self.assertEqual(dict(db), {second: {"by": "b"}})

    def test_mapping_behaviour_and_errors(self):
        db = docs.open(self.path)
        self.assertIsInstance(db, collections.abc.Mapping)
        doc_id = db.add({"a": 1}, id=" doc one ")
        self.assertEqual(doc_id, "DOC ONE")
        db.update(doc_id, {"a": 2}, id="the field", b=[1])
        self.assertEqual(db[doc_id], {"a": 2, "id": "the field", "b": [1]})
        db["lower"] = {"x": None}  # stored under exactly that id
        self.assertIsNot(db["lower"], db["lower"])
        self.assertEqual((list(db), "lower" in db, "LOWER" in db, 5 in db,
                          db.get("nope", 0), db == {doc_id: db[doc_id], "lower": {"x": None}}),
                         ([doc_id, "lower"], True, False, False, 0, True))
        for call, error in [
            (lambda: db["nope"], KeyError),
            (lambda: db.update("nope", a=1), KeyError),
            (lambda: db.__delitem__("nope"), KeyError),
            (lambda: db[5], TypeError),
            (lambda: db.add({}, id=5), TypeError),
            (lambda: db.__setitem__("x", "not a dict"), TypeError),
            (lambda: db.add({}, "LOWER", 3), TypeError),
            (lambda: db.add({}, doc={}), TypeError),
        ]:
            self.assertRaises(error, call)
        with self.assertRaises(docs.StoreError) as caught:
            db.add({}, id="doc one")
        self.assertEqual(caught.exception.description, "Document already exists: DOC ONE")
        with db:
            pass
        self.assertRaisesRegex(docs.StoreError, "DB is not open", db.add, {})
        missing = os.path.join(self.dir.name, "none.kxd")
        self.assertRaises(FileNotFoundError, docs.open, missing, create=False)
        with open(missing, "wb") as f:
            f.write(b"KVDBSTOR" * 40)
        self.assertRaisesRegex(docs.StoreError, "not a valid KxDocsDB file",
                               docs.open, missing)


if __name__ == "__main__":
    unittest.main()
