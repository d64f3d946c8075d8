"""quorvel.kv: a KxKVDB file as a mapping of str to str; and what it shares
with quorvel.docs (opening, errors, closing, batches, threads)."""

import collections.abc
import os
import tempfile
import threading
import unittest

import quorvel
from quorvel import docs, kv

# Non-ASCII characters that have Windows-1252 bytes (0x81 is one of the five
# unassigned bytes, which map to their own code points).
LATIN = "é€ŠÿÆ\u0081"


class Scratch(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.dir = folder.name
        self.path = os.path.join(folder.name, "store")


class KvTest(Scratch):
    def test_exact_refuses_and_writes_nothing(self):
        rows = [  # key, value, where, the text named, its start
            ("\u6771\u4eac", "v", "", "\u6771\u4eac", 0),
            ("city", "Z\u00fcri\u0080", "city", "Z\u00fcri\u0080", 4),
            ("k", "lone \udc00", "k", "lone \udc00", 5),
        ]
        with kv.open(self.path) as store:
            store["kept"] = "x"
            size = os.path.getsize(self.path)
            for key, value, where, named, start in rows:
                with self.assertRaises(quorvel.InexactTextError) as caught:
                    store[key] = value
                e = caught.exception
                self.assertIsInstance(e, UnicodeEncodeError)
                self.assertEqual((e.number, e.source, e.where, e.object, e.start,
                                  e.end), (5, "CKVDB", where, named, start, start + 1))
            with self.assertRaises(quorvel.InexactError) as caught:
                store["k" * 32_768] = "v"
            self.assertNotIsInstance(caught.exception, UnicodeEncodeError)
            self.assertEqual((list(store), os.path.getsize(self.path)), (["kept"], size))
        with kv.open(self.path, errors="replace") as store:
            store["\u6771\u4eac"] = "a\u6771"
            self.assertRaises(quorvel.NumberOverflowError, store.__setitem__,
                              "k" * 32_768, "v")
        with kv.open(self.path) as store:
            self.assertEqual(dict(store), {"kept": "x", "??": "a?"})

    def test_mapping_behaviour(self):
        with kv.open(self.path) as store:
            self.assertIsInstance(store, collections.abc.MutableMapping)
            store["e"] = ""
            self.assertEqual((store["e"], store.get(5, "d"), 5 in store), ("", "d", False))
            self.assertRaises(KeyError, store.__getitem__, "missing")
            self.assertNotIn("missing", store)  # a read never adds a key
            for call in (lambda: store[5], lambda: store.__setitem__(5, "v"),
                         lambda: store.__setitem__("k", 5)):
                self.assertRaises(TypeError, call)
            store.clear()
            self.assertEqual(len(store), 0)


# Each store, a write of its entry "k{i}", and the kind its errors name.
STORES = [(kv, lambda s, i: s.__setitem__(f"k{i}", LATIN * (i % 300)), "CKVDB"),
          (docs, lambda s, i: s.__setitem__(f"k{i}", {"i": i}), "KxDocsDB")]


class StoresTest(Scratch):
    def test_opening_closing_and_their_errors(self):
        for module, write, kind in STORES:
            with self.subTest(module.__name__):
                missing = os.path.join(self.dir, module.__name__)
                for kwargs in ({"create": False}, {"readonly": True}):
                    with self.assertRaises(FileNotFoundError) as caught:
                        module.open(missing, **kwargs)
                    self.assertEqual((caught.exception.number, caught.exception.filename,
                                      isinstance(caught.exception, quorvel.Error)), (53, missing, True))
                self.assertRaises(FileNotFoundError, module.open,
                                  os.path.join(self.dir, "no", "such"))
                self.assertFalse(os.path.exists(missing))
                self.assertRaises(ValueError, module.open, missing, errors="ignore")
                with open(missing, "wb") as f:
                    f.write(b"no database" * 20)
                self.assertRaisesRegex(module.StoreError, f"not a valid {kind} file",
                                       module.open, missing)
                with module.open(self.path + kind) as store:
                    write(store, 1)
                self.assertTrue(store.closed)
                store.close()  # again: nothing
                with self.assertRaises(module.StoreError) as caught:
                    len(store)
                self.assertEqual((caught.exception.description, isinstance(caught.exception, ValueError)),
                                 ("DB is not open", True))
                with module.open(self.path + kind, readonly=True) as store:
                    with self.assertRaises(PermissionError) as caught:
                        write(store, 2)
                    self.assertEqual((caught.exception.number, len(store)), (75, 1))

    def test_batches_and_threads(self):
        for module, write, _ in STORES:
            path = self.path + module.__name__
            with self.subTest(module.__name__), module.open(path) as store:
                with store.batch():  # seen whole, and ended by an exception too
                    for i in range(2000):
                        write(store, i)
                    del store["k5"]
                    self.assertIn("k1999", store)
                with self.assertRaises(ZeroDivisionError):
                    with store.batch():
                        write(store, 2000)
                        1 / 0
                with module.open(path) as other:  # the lock was released
                    write(other, 2001)
                    self.assertEqual((len(other), store["k7"]), (2001, other["k7"]))
                threads = [threading.Thread(target=lambda n=n: [
                    write(store, 10000 + n * 1000 + i) for i in range(300)]) for n in range(4)]
                for t in threads:
                    t.start()
                for t in threads:
                    t.join()
                self.assertEqual((len(store), "k13299" in store), (3201, True))
