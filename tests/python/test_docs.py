"""quorvel.docs: a KxDocsDB file as a mapping from id to dict (what it
shares with quorvel.kv is tested there)."""

import collections.abc
import datetime
import decimal
import os
import random
import tempfile
import unittest

import quorvel
from quorvel import docs
from test_kv import LATIN

D = decimal.Decimal


def document(rng, depth=0):
    """A document that comes back from the file as it went in (the rules of
    each kind are quorvel.msgpack's, tested there)."""
    kinds = [lambda: rng.randrange(-2**31, 2**40), lambda: None,
             lambda: D(f"{rng.randrange(10**6)}.{rng.randrange(1, 10**4):04d}".rstrip("0")),
             lambda: "".join(rng.choice("xy " + LATIN) for _ in range(rng.choice(
                 [0, 3, rng.randrange(2000), rng.randrange(30_000)])))]
    if depth < 2:
        kinds += [lambda: [document(rng, depth + 1)], lambda: document(rng, depth + 1)]
    return {f"f{i}{LATIN[i]}": rng.choice(kinds)() for i in range(rng.randrange(6))}


def same(a, b):
    """Equal, and of the same types all the way down (1 is not True)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(map(same, a, b))
    return a == b


class DocsTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.path = os.path.join(folder.name, "store.kxd")

    def test_matches_a_dict_across_reopen_and_compact(self):
        rng, model, db = random.Random(5), {}, docs.open(self.path)
        for step in range(300):
            action = rng.random()
            if action < 0.15:
                db.close()
                db = docs.open(self.path)
            elif action < 0.2:
                db.compact()
            elif action < 0.6 or not model:
                given = rng.choice([None, None, f"id{rng.randrange(50)}"])
                if given is not None and given.upper() in model:
                    self.assertRaises(docs.StoreError, db.add, {}, given)
                else:
                    doc = document(rng)
                    model[db.add(doc, id=given)] = doc
            else:
                doc_id = rng.choice(list(model))
                if action < 0.76:
                    db[doc_id] = model[doc_id] = document(rng)
                elif action < 0.9:
                    fields = document(rng)
                    db.update(doc_id, fields)
                    model[doc_id].update(fields)
                else:
                    del db[doc_id], model[doc_id]
            if step % 30 == 0:
                self.assertTrue(same(dict(db), model), step)
        db.close()
        with docs.open(self.path, readonly=True) as db:
            self.assertTrue(same(dict(db), model))
            self.assertEqual(len(db), len(model))

    def test_find_and_exact_writes_convert_as_the_file_keeps_values(self):
        aware = datetime.datetime(2024, 5, 1, 12, tzinfo=datetime.timezone.utc)
        with docs.open(self.path) as db:
            for row in ({"n": 1, "d": D("1.5"), "o": {"x": 1, "y": [None]}},
                        {"n": 1.0, "d": 1.5, "o": {"y": [None], "x": 1}}, {"n": True}):
                db.add(row)
            for field, wanted, found in [
                ("n", 1, ["DOC000001"]),  # the same kind only
                ("n", 1.0, ["DOC000002"]),
                ("n", True, ["DOC000003"]),
                ("d", D("1.50"), ["DOC000001"]),  # as the file keeps it
                ("d", "\u6771", []),  # no file can hold it
                ("n", aware, []),
                ("o", {"x": 1, "y": [None]}, ["DOC000001", "DOC000002"]),
            ]:
                self.assertEqual(db.find(field, wanted), found, (field, wanted))
            self.assertRaises(TypeError, db.find, "n", {1, 2})
            self.assertRaises(TypeError, db.find, 5, 1)

            kept, size = "DOC000001", os.path.getsize(self.path)
            for doc, where, named in [  # the document, the place named, the text named
                ({"a": {"b": ["x", "Z\u00fcri\u0080"]}}, "a.b[1]", "Z\u00fcri\u0080"),
                ({"a b": {"\u6771": 1}}, '["a b"]["\u6771"]', "\u6771"),
                ({"p": D("0.12345")}, "p", None),
                ({"s": "x" * 65_536}, "s", None),
            ]:
                for write in (db.add, lambda d: db.__setitem__(kept, d),
                              lambda d: db.update(kept, d)):
                    with self.assertRaises(quorvel.InexactError) as caught:
                        write(doc)
                    e = caught.exception
                    self.assertEqual((e.where, isinstance(e, UnicodeEncodeError),
                                      getattr(e, "object", None)), (where, bool(named), named))
            for doc_id, stored in (("\u6771", "\u6771"), ("\u00b5", "\u039c")):
                with self.assertRaises(quorvel.InexactTextError) as caught:
                    db.add({}, id=doc_id)
                self.assertEqual((caught.exception.object, caught.exception.where),
                                 (stored, ""))
            self.assertEqual((len(db), os.path.getsize(self.path)), (3, size))
        with docs.open(self.path, errors="replace") as db:
            doc_id = db.add({"a": "\u6771", "p": D("0.12345"), "t": aware})
        with docs.open(self.path) as db:
            self.assertEqual(db[doc_id], {"a": "?", "p": D("0.1234"),  # half to even
                                          "t": datetime.datetime(2024, 5, 1, 12)})

    def test_mapping_behaviour_and_errors(self):
        with docs.open(self.path) as db:
            self.assertIsInstance(db, collections.abc.Mapping)
            doc_id = db.add({"a": 1}, id=" doc one ")
            self.assertEqual(doc_id, "DOC ONE")
            db.update(doc_id, {"a": 2}, id="the field", b=[1])
            self.assertEqual(db[doc_id], {"a": 2, "id": "the field", "b": [1]})
            db["lower"] = {"x": None}  # stored under exactly that id
            self.assertIsNot(db["lower"], db["lower"])
            self.assertEqual((list(db), "lower" in db, "LOWER" in db, 5 in db, db.get("nope", 0)),
                             ([doc_id, "lower"], True, False, False, 0))
            for call, error in [
                (lambda: db["nope"], KeyError),
                (lambda: db.update("nope", a=1), KeyError),
                (lambda: db[5], TypeError),
                (lambda: db.add({}, id=5), TypeError),
                (lambda: db.add([1]), TypeError),
                (lambda: db.add({1: "x"}), TypeError),
                (lambda: db.__setitem__("x", "not a dict"), TypeError),
                (lambda: db.add({}, "LOWER", 3), TypeError),
            ]:
                self.assertRaises(error, call)
            with self.assertRaises(docs.StoreError) as caught:
                db.add({}, id="doc one")
            self.assertEqual(caught.exception.description, "Document already exists: DOC ONE")
