"""Python's cost of a call: d.Item(k) on a library Dictionary through the
quorvel package, and through the least a ctypes binding over libquorvel_c.so
could do, each against the same lookup through a plain Python method of the
same shape (obj.get(k) on a class wrapping a dict). Then the resident memory
around 1,000,000 calls.

Run by `make bench` through build/bench/bench/python_bench, which sets
PYTHONPATH and QUORVEL_C_LIBRARY. Like the C++ programs it alternates the
sides round by round and reports medians and the spread of the ratios.
"""

import ctypes
import json
import os
import random
import statistics
import subprocess
import sys
import threading
import time
import timeit

import quorvel

KEYS = [f"key{i:04d}" for i in range(1000)]
KEY = KEYS[421]


class DictWrapper:
    """The peer: a Python class whose method looks a key up in a dict."""

    def __init__(self):
        self.d = {k: i for i, k in enumerate(KEYS)}

    def get(self, k):
        return self.d.get(k)


# ---- The least a ctypes binding could do ----


class _Decimal(ctypes.Structure):
    _fields_ = [("lo", ctypes.c_uint64), ("hi", ctypes.c_uint32),
                ("scale", ctypes.c_uint8), ("negative", ctypes.c_uint8)]


class _Utf8(ctypes.Structure):
    _fields_ = [("data", ctypes.c_char_p), ("size", ctypes.c_size_t)]


class _Payload(ctypes.Union):
    _fields_ = [("long_value", ctypes.c_int32), ("double_value", ctypes.c_double),
                ("decimal", _Decimal), ("utf8", _Utf8), ("object", ctypes.c_void_p)]


class _Variant(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int32), ("flags", ctypes.c_uint32),
                ("as_", _Payload)]


class CtypesDictionary:
    """A Scripting.Dictionary through ctypes, with only what d.Item(k)
    needs: the key made into a variant, the call, a Long result read."""

    def __init__(self, lib):
        self._lib = lib
        lib.quorvel_call_by_name.argtypes = [
            ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int32,
            ctypes.POINTER(_Variant), ctypes.c_size_t, ctypes.POINTER(_Variant)]
        lib.quorvel_call_by_name.restype = ctypes.c_int32
        self._handle = ctypes.c_void_p()
        if lib.quorvel_create_object(b"Scripting.Dictionary",
                                     ctypes.byref(self._handle)) != 0:
            raise RuntimeError("quorvel_create_object failed")
        self._args = (_Variant * 2)()
        self._result = _Variant()
        for i, k in enumerate(KEYS):
            self._set_text(self._args[0], k)
            self._args[1].type = 3
            self._args[1].as_.long_value = i
            self._call(b"Add", 1, 2)

    @staticmethod
    def _set_text(variant, text):
        data = text.encode("utf-8")
        variant.type = 8
        variant.flags = 0
        variant.as_.utf8.data = data
        variant.as_.utf8.size = len(data)

    def _call(self, name, call_type, nargs):
        status = self._lib.quorvel_call_by_name(
            self._handle, name, call_type, self._args, nargs,
            ctypes.byref(self._result))
        if status != 0:
            raise RuntimeError(f"error {status}")
        return self._result

    def Item(self, key):
        self._set_text(self._args[0], key)
        result = self._call(b"Item", 2, 1)
        return result.as_.long_value if result.type == 3 else None


# ---- Measuring ----


def per_call(statement, names, number):
    return timeit.timeit(statement, globals=names, number=number) / number


def compare(label, ours, peer, names, rounds, number):
    ours_times, peer_times, ratios = [], [], []
    per_call(ours, names, number // 10)  # warm up both sides
    per_call(peer, names, number // 10)
    for _ in range(rounds):
        o = per_call(ours, names, number)
        p = per_call(peer, names, number)
        ours_times.append(o)
        peer_times.append(p)
        ratios.append(o / p)
    print(f"{label:<34} {statistics.median(ours_times) * 1e9:8.0f} ns "
          f"{statistics.median(peer_times) * 1e9:8.0f} ns "
          f"{statistics.median(ratios):7.2f}x "
          f"({min(ratios):.2f}..{max(ratios):.2f})")


def rss_kib():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main(argv):
    rounds = 7
    for arg in argv[1:]:
        if arg.startswith("--rounds="):
            rounds = int(arg.split("=", 1)[1])
    rounds = int(os.environ.get("QUORVEL_BENCH_ROUNDS", rounds))
    number = 200_000

    d = quorvel.CreateObject("Scripting.Dictionary")
    for i, k in enumerate(KEYS):
        d.Add(k, i)
    names = {"d": d, "w": DictWrapper(), "k": KEY}
    print(f"{'python: d.Item(k), 1000 keys':<34} {'ours':>11} {'peer':>11} "
          f"{'ratio':>8}  spread   (peer: obj.get(k), a Python method)")
    compare("extension", "d.Item(k)", "w.get(k)", names, rounds, number)
    library = os.environ.get("QUORVEL_C_LIBRARY")
    if library:
        names["c"] = CtypesDictionary(ctypes.CDLL(library))
        assert names["c"].Item(KEY) == d.Item(KEY)
        compare("ctypes, at its least", "c.Item(k)", "w.get(k)", names, rounds,
                number // 4)
    else:
        print("ctypes: skipped (QUORVEL_C_LIBRARY not set)")

    # Memory across a million calls: scalars, and objects coming back.
    inner = quorvel.CreateObject("CArray")
    d.Add("list", inner)
    before = rss_kib()
    for _ in range(1_000_000):
        d.Item(KEY)
    after_scalars = rss_kib()
    for _ in range(1_000_000):
        d.Item("list").Count
    after_objects = rss_kib()
    print(f"RSS: {before} KiB before; {after_scalars} KiB after 1,000,000 "
          f"d.Item(k); {after_objects} KiB after 1,000,000 "
          f"d.Item('list').Count")
    native_main(rounds)
    store_main(rounds)


# ---- The modules on native Python data, against Python's own and peers ----
#
# The JSON benchmark's document (bench/json_document.h), made here from the
# same generator: std::mt19937 seeded with 42 is the generator Python's
# random module runs, once its state is seeded the same way, and GCC
# evaluates the operands of each line right to left.


def json_document():
    state = [42]
    for i in range(1, 624):
        state.append((1812433253 * (state[-1] ^ (state[-1] >> 30)) + i) & 0xFFFFFFFF)
    rng = random.Random()
    rng.setstate((3, tuple(state) + (624,), None))
    r = rng.getrandbits
    cities = ["Z\u00fcrich", "Krak\u00f3w", "\u6771\u4eac", "S\u00e3o Paulo", "Oslo"]
    words = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta"]
    out, size, i = ["["], 1, 0
    while size < 20_000_000:
        word = words[r(32) % 8]
        name = f"user {r(32) % 100000} {word}"
        city = cities[r(32) % 5]
        cents = r(32) % 100
        score = f"{r(32) % 100000}.{cents}"
        balance = r(32) % 1000000
        active = "true" if r(32) % 2 else "false"
        tags = ",".join(f'"{words[r(32) % 8]}"' for _ in range(1 + r(32) % 4))
        record = ("," if i else "") + (
            f'{{"id":{i},"name":"{name}","city":"{city}","score":{score}'
            f',"balance":-{balance},"active":{active},"tags":[{tags}]'
            ',"note":"line one\\nline \\"two\\"","nested":{"a":[1,2,3],'
            '"b":{"c":null,"d":0.25}}}')
        out.append(record)
        size += len(record.encode())
        i += 1
    out.append("]")
    return "".join(out)


def side_by_side(label, ours, peer, rounds, note=""):
    """Times two calls alternately, round by round; prints the medians."""
    ours_times, peer_times, ratios = [], [], []
    for _ in range(rounds):
        for fn, times in ((ours, ours_times), (peer, peer_times)):
            start = time.perf_counter()
            fn()
            times.append(time.perf_counter() - start)
        ratios.append(ours_times[-1] / peer_times[-1])
    print(f"{label:<34} {statistics.median(ours_times) * 1e3:8.1f} ms "
          f"{statistics.median(peer_times) * 1e3:8.1f} ms "
          f"{statistics.median(ratios):7.2f}x "
          f"({min(ratios):.2f}..{max(ratios):.2f}) {note}")


def msgpack_rows(text, rounds):
    """quorvel.msgpack against Debian's python3-msgpack (its C extension)
    on the document's records in lists of 10,000 (the dialect counts to
    65,535), Tokyo spelt in Latin letters (the dialect's text is
    Windows-1252)."""
    import msgpack as peer
    from quorvel import msgpack
    records = json.loads(text.replace("\u6771\u4eac", "Tokyo"))
    tree = [records[i:i + 10000] for i in range(0, len(records), 10000)]
    ours_bytes, peer_bytes = msgpack.packb(tree), peer.packb(tree)
    assert msgpack.unpackb(ours_bytes) == tree
    side_by_side("msgpack.packb", lambda: msgpack.packb(tree),
                 lambda: peer.packb(tree), rounds, "(peer: python3-msgpack)")
    side_by_side("msgpack.unpackb", lambda: msgpack.unpackb(ours_bytes),
                 lambda: peer.unpackb(peer_bytes), rounds,
                 "(peer: python3-msgpack)")


def lzss_threads(rounds):
    """Two threads each compressing 3 x 16 MB, against the same six
    compressions one after the other."""
    from quorvel import lzss
    piece = bytes(random.Random(5).getrandbits(8) for _ in range(4096)) + bytes(4096)
    data = piece * ((16 << 20) // len(piece))

    def work():
        for _ in range(3):
            lzss.compress(data)

    def parallel():
        threads = [threading.Thread(target=work) for _ in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    side_by_side("lzss: 2 threads x 3 x 16 MB", parallel,
                 lambda: (work(), work()), rounds, "(peer: one after the other)")


def native_main(rounds):
    text = json_document()
    from quorvel import json as qjson
    tree = json.loads(text)
    assert qjson.loads(text) == tree
    print(f"\n{'python: 20 MB JSON document':<34} {'ours':>11} {'peer':>11} "
          f"{'ratio':>8}  spread")
    side_by_side("json.loads", lambda: qjson.loads(text), lambda: json.loads(text),
                 rounds, "(peer: json.loads)")
    side_by_side("json.dumps", lambda: qjson.dumps(tree), lambda: json.dumps(tree),
                 rounds, "(peer: json.dumps)")
    with_peer("msgpack", "python3-msgpack", "--msgpack-only", rounds,
              lambda: msgpack_rows(text, rounds))
    lzss_threads(rounds)

    errors_and_threads(rounds)


# ---- Raising a library error, and two threads in the library at once ----


def errors_and_threads(rounds):
    """Raising and catching: a library error (CArray.Item out of range) and
    an unknown member (error 438, answered without a library call), against
    a Python exception raised and caught. Then two threads each compressing
    3 x 16 MB with LZSS, against the same six runs one after the other."""
    import random
    import threading
    import time

    array = quorvel.CreateObject("CArray")

    def library_error():
        try:
            array.Item(9)
        except quorvel.Error:
            pass

    def no_member():
        try:
            array.Nope
        except AttributeError:
            pass

    def python_error():
        try:
            raise ValueError("x")
        except ValueError:
            pass

    names = {"library_error": library_error, "no_member": no_member,
             "python_error": python_error}
    print(f"{'python: raise and catch':<34} {'ours':>11} {'peer':>11} "
          f"{'ratio':>8}  spread   (peer: a Python exception)")
    compare("library error (CArray.Item)", "library_error()", "python_error()",
            names, rounds, 20_000)
    compare("unknown member (438)", "no_member()", "python_error()", names,
            rounds, 20_000)

    rng = random.Random(1)
    words = [bytes(rng.choice(b"abcdefghij") for _ in range(rng.randint(2, 9)))
             for _ in range(5000)]
    data = b" ".join(rng.choice(words) for _ in range(3_000_000))[:16 << 20]

    def compress():
        pi = quorvel.CreateObject("CQuorvelPI")
        for _ in range(3):
            pi.LZSS_Encode(data)

    def both(concurrently):
        started = time.perf_counter()
        if concurrently:
            workers = [threading.Thread(target=compress) for _ in range(2)]
            for worker in workers:
                worker.start()
            for worker in workers:
                worker.join()
        else:
            compress()
            compress()
        return time.perf_counter() - started

    ratios, together, apart = [], [], []
    for _ in range(max(3, rounds // 2)):
        a = both(False)
        t = both(True)
        apart.append(a)
        together.append(t)
        ratios.append(t / a)
    print(f"{'python: 2 threads x 3 x 16 MB LZSS':<34} "
          f"{statistics.median(together) * 1e3:8.0f} ms "
          f"{statistics.median(apart) * 1e3:8.0f} ms "
          f"{statistics.median(ratios):7.2f}x "
          f"({min(ratios):.2f}..{max(ratios):.2f})  "
          "(peer: the same runs one after the other)")


# ---- quorvel.kv and quorvel.docs, against dbm.gnu and sqlite3 ----
#
# Each round writes fresh files in a temporary folder. The stores write
# every change to the file at once, each under the file's lock; the rows
# "in one batch" hold the lock for the whole load (`with store.batch()`),
# as the peers' rows run in one transaction or without any lock.


def _temp_path(folder, name):
    path = os.path.join(folder, name)
    for leftover in (path, path + ".tmp"):
        if os.path.exists(leftover):
            os.remove(leftover)
    return path


def kv_rows(rounds):
    """100,000 puts into a new file, then 100,000 gets after reopening it,
    against Debian's python3-gdbm (dbm.gnu, its default fast mode)."""
    import dbm.gnu
    import tempfile
    from quorvel import kv
    keys = [f"user:{i:06d}" for i in range(100_000)]
    values = [f"{{'name': 'user {i}', 'visits': {i % 97}}}" for i in range(100_000)]
    with tempfile.TemporaryDirectory() as folder:
        ours_path, peer_path = os.path.join(folder, "q.kv"), os.path.join(folder, "g.db")

        def ours_put():
            with kv.open(_temp_path(folder, "q.kv")) as store:
                for k, v in zip(keys, values):
                    store[k] = v

        def peer_put():
            db = dbm.gnu.open(_temp_path(folder, "g.db"), "n")
            for k, v in zip(keys, values):
                db[k] = v
            db.close()

        def ours_get():
            with kv.open(ours_path, readonly=True) as store:
                for k in keys:
                    store[k]

        def peer_get():
            db = dbm.gnu.open(peer_path, "r")
            for k in keys:
                db[k]
            db.close()

        def ours_put_batch():
            with kv.open(_temp_path(folder, "q.kv")) as store, store.batch():
                for k, v in zip(keys, values):
                    store[k] = v

        side_by_side("kv: 100,000 puts", ours_put, peer_put, rounds,
                     "(peer: dbm.gnu)")
        side_by_side("kv: 100,000 puts in one batch", ours_put_batch, peer_put,
                     rounds, "(peer: dbm.gnu)")
        side_by_side("kv: 100,000 gets, reopened", ours_get, peer_get, rounds,
                     "(peer: dbm.gnu)")
        # Read again from stores that have read everything once.
        with kv.open(ours_path) as store:
            db = dbm.gnu.open(peer_path, "r")
            for k in keys:
                store[k], db[k]
            side_by_side("kv: 100,000 gets, read before",
                         lambda: [store[k] for k in keys],
                         lambda: [db[k] for k in keys], rounds, "(peer: dbm.gnu)")
            db.close()


def docs_rows(rounds):
    """100,000 five-field dicts added to a new file, read back after
    reopening, and a search on one field, against sqlite3 keeping each
    dict as JSON text (one transaction for the adds; json_extract over a
    full scan for the search)."""
    import sqlite3
    import tempfile
    from quorvel import docs
    cities = ["Zurich", "Krakow", "Tokyo", "Sao Paulo", "Oslo"]
    rows = [{"name": f"user {i}", "age": 18 + i % 70, "city": cities[i % 5],
             "score": i / 8, "active": i % 3 == 0} for i in range(100_000)]
    with tempfile.TemporaryDirectory() as folder:
        ours_path, peer_path = os.path.join(folder, "q.kxd"), os.path.join(folder, "s.db")

        def ours_add():
            with docs.open(_temp_path(folder, "q.kxd")) as db:
                for row in rows:
                    db.add(row)

        def ours_add_batch():
            with docs.open(_temp_path(folder, "q.kxd")) as db, db.batch():
                for row in rows:
                    db.add(row)

        def peer_add():
            con = sqlite3.connect(_temp_path(folder, "s.db"))
            con.execute("CREATE TABLE docs (id INTEGER PRIMARY KEY, body TEXT)")
            with con:
                con.executemany("INSERT INTO docs (body) VALUES (?)",
                                ((json.dumps(row),) for row in rows))
            con.close()

        def ours_read():
            with docs.open(ours_path, readonly=True) as db:
                return [db[i] for i in db]

        def peer_read():
            con = sqlite3.connect(peer_path)
            back = [json.loads(body) for _, body in
                    con.execute("SELECT id, body FROM docs ORDER BY id")]
            con.close()
            return back

        side_by_side("docs: add 100,000 dicts", ours_add, peer_add, rounds,
                     "(peer: sqlite3, JSON text)")
        side_by_side("docs: add 100,000 dicts in one batch", ours_add_batch,
                     peer_add, rounds, "(peer: sqlite3, one transaction)")
        assert ours_read() == peer_read() == rows
        side_by_side("docs: read them back, reopened", ours_read, peer_read,
                     rounds, "(peer: sqlite3, json.loads)")
        db = docs.open(ours_path, readonly=True)
        con = sqlite3.connect(peer_path)

        def peer_find():
            return [i for (i,) in con.execute(
                "SELECT id FROM docs WHERE json_extract(body, '$.city') = ?",
                ("Oslo",))]

        assert len(db.find("city", "Oslo")) == len(peer_find()) == 20_000
        side_by_side("docs: find on 100,000", lambda: db.find("city", "Oslo"),
                     peer_find, rounds, "(peer: sqlite3 full scan)")
        db.close()
        con.close()


def with_peer(module, package, only_flag, rounds, rows):
    """Runs `rows` when the peer `module` imports here; otherwise reruns
    this program for those rows alone (`only_flag`) under Debian's own
    interpreter, the only one Debian's `package` serves, which loads the
    build's extension as well (both are 3.11)."""
    try:
        __import__(module)
    except ImportError:
        debian = "/usr/bin/python3"
        found = os.path.exists(debian) and subprocess.run(
            [debian, "-c", f"import {module}"], capture_output=True).returncode == 0
        if not found:
            print(f"{module}: skipped ({package} is not installed)")
            return
        sys.stdout.flush()
        subprocess.run([debian, __file__, only_flag, f"--rounds={rounds}"],
                       check=True)
        return
    rows()


def store_main(rounds):
    print(f"\n{'python: stores':<34} {'ours':>11} {'peer':>11} "
          f"{'ratio':>8}  spread")
    docs_rows(rounds)
    with_peer("dbm.gnu", "python3-gdbm", "--kv-only", rounds,
              lambda: kv_rows(rounds))


if __name__ == "__main__":
    if "--msgpack-only" in sys.argv:
        msgpack_rows(json_document(), int(sys.argv[-1].split("=", 1)[1]))
    elif "--kv-only" in sys.argv:
        kv_rows(int(sys.argv[-1].split("=", 1)[1]))
    elif "--stores-only" in sys.argv:
        store_main(int(os.environ.get("QUORVEL_BENCH_ROUNDS", 7)))
    else:
        main(sys.argv)
