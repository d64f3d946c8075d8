"""quorvel.kv: a KxKVDB file as a mapping of str to str."""

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
from quorvel import kv

# Non-ASCII characters that have Windows-1252 bytes (0x81 is one of the five
# unassigned bytes, which map to their own code points).
LATIN = "é€ŠÿÆ\u0081"


def text(rng, longest):
    size = rng.choice([0, 1, rng.randrange(longest), rng.randrange(longest)])
    return "".join(rng.choice("ab z" + LATIN) for _ in range(size))


class KvTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = os.path.join(self.dir.name, "store.kv")

    def tearDown(self):
        self.dir.cleanup()

    def test_matches_a_dict_across_reopen_and_compact(self):
        rng = random.Random(11)
        keys = [text(rng, 30) for _ in range(60)]
        model = {}
        store = kv.open(self.path)
        for step in range(700):
            key = rng.choice(keys)
            action = rng.random()
            if action < 0.6:
                # Values cross the 512-byte first read, a few by far.
                value = text(rng, 70_000 if step % 97 == 0 else 1500)
                store[key] = model[key] = value
            elif action < 0.8:
                if key in model:
                    del store[key], model[key]
                else:
                    self.assertRaises(KeyError, store.__delitem__, key)
            elif action < 0.95:
                store.close()
                store = kv.open(self.path)
            else:
                store.compact()
            if step % 50 == 0:
                self.assertEqual(list(store.items()), list(model.items()))
        store.close()
        with kv.open(self.path, readonly=True) as store:
            self.assertEqual(list(store.items()), list(model.items()))
            self.assertEqual(len(store), len(model))

    def test_a_batch_is_seen_whole_and_ends_on_an_exception(self):
        with kv.open(self.path) as store:
            with store.batch():
                for i in range(2000):
                    store[f"k{i}"] = LATIN * (i % 300)
                del store["k5"]
                self.assertEqual(store["k1999"], LATIN * (1999 % 300))
            with self.assertRaises(ZeroDivisionError):
                with store.batch():
                    store["late"] = "x"
                    1 / 0
            with kv.open(self.path) as other:  # the lock was released
                other["other"] = "y"
        with kv.open(self.path, readonly=True) as store:
            self.assertEqual(len(store), 2001)
            self.assertEqual((store["late"], store["k7"]), ("x", LATIN * 7))

    def test_exact_refuses_and_writes_nothing(self):
        rows = [  # key, value, where, the text named, its start
            ("\u6771\u4eac", "v", "", "\u6771\u4eac", 0),
            ("city", "Z\u00fcri\u0080", "city", "Z\u00fcri\u0080", 4),
            ("a b", "\ud83d\ude00", '["a b"]', "\ud83d\ude00", 0),
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

    def test_a_second_opener_writing_meanwhile(self):
        with kv.open(self.path) as a, kv.open(self.path) as b:
            a["x"] = "1"
            b["y"] = "2"  # a write first takes in what others wrote
            self.assertEqual(dict(b), {"x": "1", "y": "2"})
            self.assertEqual(dict(a), {"x": "1"})
            a["x"] = "3"
            del b["x"]  # both records of x, a's too
            a["z"] = "4"
            self.assertEqual((a["y"], a["z"]), ("2", "4"))
        with kv.open(self.path) as again:
            self.assertEqual(dict(again), {"y": "2", "z": "4"})

    def test_mapping_behaviour_and_errors(self):
        store = kv.open(self.path)
        self.assertIsInstance(store, collections.abc.MutableMapping)
        store.update({"a": "1", "b": "2"})
        self.assertEqual((store.setdefault("c", "3"), store.pop("a"), store.get("a"),
                          store.get(5, "d"), 5 in store, len(store)),
                         ("3", "1", None, "d", False, 2))
        self.assertRaises(KeyError, store.__getitem__, "missing")
        self.assertNotIn("missing", store)  # a read never adds a key
        store["empty"] = ""
        self.assertEqual((store["empty"], store.get("empty")), ("", ""))
        for call in (lambda: store[5], lambda: store.__setitem__(5, "v"),
                     lambda: store.__setitem__("k", 5)):
            self.assertRaises(TypeError, call)
        store.clear()
        self.assertEqual(len(store), 0)
        with store:
            pass
        self.assertTrue(store.closed)
        store.close()  # again: nothing
        with self.assertRaises(kv.StoreError) as caught:
            len(store)
        self.assertIsInstance(caught.exception, ValueError)
        self.assertEqual(caught.exception.description, "DB is not open")

        missing = os.path.join(self.dir.name, "none.kv")
        for kwargs in ({"create": False}, {"readonly": True}):
            with self.assertRaises(FileNotFoundError) as caught:
                kv.open(missing, **kwargs)
            e = caught.exception
            self.assertIsInstance(e, quorvel.Error)
            self.assertEqual((e.number, e.filename), (53, missing))
        self.assertRaises(FileNotFoundError, kv.open,
                          os.path.join(self.dir.name, "no", "such.kv"))
        self.assertFalse(os.path.exists(missing))
        with kv.open(self.path, readonly=True) as store:
            with self.assertRaises(PermissionError) as caught:
                store["a"] = "b"
            self.assertEqual(caught.exception.number, 75)
        with open(missing, "wb") as f:
            f.write(b"no database" * 20)
        self.assertRaisesRegex(kv.StoreError, "not a valid CKVDB file", kv.open, missing)
        self.assertRaises(ValueError, kv.open, self.path, errors="ignore")

    def test_threads_share_a_store(self):
        with kv.open(self.path) as store:
            def write(n):
                for i in range(300):
                    store[f"{n}:{i}"] = str(i)
            threads = [threading.Thread(target=write, args=(n,)) for n in range(4)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
        with kv.open(self.path) as store:
            self.assertEqual(len(store), 1200)
            self.assertEqual(store["3:299"], "299")

    def test_a_write_waiting_for_the_file_lets_python_run(self):
        kv.open(self.path).close()
        holder = subprocess.Popen(
            [sys.executable, "-c",
             "import fcntl, sys, time\n"
             "f = open(sys.argv[1], 'r+b')\n"
             "fcntl.lockf(f, fcntl.LOCK_EX)\n"
             "print('locked', flush=True)\n"
             "time.sleep(2)\n", self.path],
            stdout=subprocess.PIPE)
        self.assertEqual(holder.stdout.readline(), b"locked\n")
        with kv.open(self.path) as store:
            writer = threading.Thread(target=store.__setitem__, args=("k", "v"))
            writer.start()
            ticks, deadline = 0, time.monotonic() + 0.3
            while time.monotonic() < deadline:
                ticks += 1
                time.sleep(0.01)
            self.assertTrue(writer.is_alive())  # still waiting for the lock
            self.assertGreater(ticks, 5)
            writer.join()
            self.assertEqual(store["k"], "v")
        holder.communicate()


if __name__ == "__main__":
    unittest.main()
