"""quorvel.kv: a KxKVDB file as a mapping of str to str; and what it shares
with quorvel.docs (opening, errors, closing, batches, threads)."""

import collections.abc
import os
import random
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import quorvel
from quorvel import docs, kv

# Non-ASCII characters that have Windows-1252 bytes (0x81 is one of the five
# unassigned bytes, which map to their own code points).
LATIN = "é€ŠÿÆ\u0081"


def text(rng, longest):
    size = rng.choice([0, 1, rng.randrange(longest), rng.randrange(longest)])
    return "".join(rng.choice("ab z" + LATIN) for _ in range(size))


def same(a, b):
    """Equal, and of the same types all the way down (1 is not True)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(map(same, a, b))
    return a == b


def run_model(test, module, path, seed, steps, change):
    """Random changes to a store and to a dict, with the store reopened and
    compacted between them: the two must agree throughout, and after."""
    rng, model = random.Random(seed), {}
    store = module.open(path)
    for step in range(steps):
        action = rng.random()
        if action < 0.8:
            change(store, model, rng, step)
        elif action < 0.95:
            store.close()
            store = module.open(path)
        else:
            store.compact()
        if step % 30 == 0:
            test.assertTrue(same(dict(store), model), step)
    store.close()
    with module.open(path, readonly=True) as store:
        test.assertTrue(same(dict(store), model))
        test.assertEqual(len(store), len(model))


class Scratch(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.dir = folder.name
        self.path = os.path.join(folder.name, "store")


class KvTest(Scratch):
    def test_matches_a_dict_across_reopen_and_compact(self):
        keys = [text(random.Random(11), 30) for _ in range(60)]

        def change(store, model, rng, step):
            key = rng.choice(keys)
            if rng.random() < 0.75:
                # Values cross the 512-byte first read, a few by far.
                store[key] = model[key] = text(rng, 70_000 if step % 97 == 0 else 1500)
            elif key in model:
                del store[key], model[key]
            else:
                self.assertRaises(KeyError, store.__delitem__, key)

        run_model(self, kv, self.path, 11, 700, change)

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

    def test_a_write_waiting_for_the_file_lets_python_run(self):
        kv.open(self.path).close()
        holder = subprocess.Popen([sys.executable, "-c", "import fcntl, sys, time\n"
                                   "f = open(sys.argv[1], 'r+b')\n"
                                   "fcntl.lockf(f, fcntl.LOCK_EX)\n"
                                   "print('locked', flush=True)\ntime.sleep(2)\n", self.path],
                                  stdout=subprocess.PIPE)
        self.assertEqual(holder.stdout.readline(), b"locked\n")
        with kv.open(self.path) as store:
            writer = threading.Thread(target=store.__setitem__, args=("k", "v"))
            writer.start()
            ticks, deadline = 0, time.monotonic() + 0.3
            while time.monotonic() < deadline:
                ticks += 1
                time.sleep(0.01)
            self.assertTrue(writer.is_alive() and ticks > 5)  # Python ran while it waited
            writer.join()
            self.assertEqual(store["k"], "v")
        holder.communicate()


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
