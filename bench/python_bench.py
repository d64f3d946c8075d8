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
import os
import statistics
import sys
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


if __name__ == "__main__":
    main(sys.argv)
