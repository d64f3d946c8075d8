"""Python classes and any other callables as the library's callbacks: Map,
Filter and SortByKey call them, and what they raise comes back out,
traceback and all."""

import functools
import os
import traceback
import unittest
import weakref

import quorvel
from quorvel import CallType


def numbers(*values):
    array = quorvel.CreateObject("CArray")
    array.AddMultiple(*values)
    return array


def raised_frames(kind, call):
    """Calls `call`, which must raise `kind`; returns the function names of
    the traceback, the last with the exception's message."""
    try:
        call()
    except kind as error:
        names = [f.name for f in traceback.extract_tb(error.__traceback__)]
        return [(name, None) for name in names[:-1]] + [
            (names[-1], error.args[0] if error.args else None)
        ]
    raise AssertionError(f"{kind.__name__} not raised")


class Length(quorvel.SortCallback):
    def __init__(self):
        self.calls = 0

    def Apply(self, value):
        self.calls += 1
        return len(value)


class Even(quorvel.FilterCallback):
    def Test(self, value):
        return value % 2 == 0


class Broken(quorvel.SortCallback):
    def Apply(self, value):
        raise ValueError(f"no key for {value!r}")


class CallbacksTest(unittest.TestCase):
    def test_map_filter_and_sort_by_key(self):
        words = numbers("ccc", "a", "bb")
        length = Length()
        self.assertEqual(list(words.Map(length)), [3, 1, 2])
        words.SortByKey(length, True)
        self.assertEqual(list(words), ["ccc", "bb", "a"])
        self.assertEqual(list(numbers(1, 2, 3, 4).Filter(Even())), [2, 4])
        # A single element is never passed to the key selector.
        length.calls = 0
        numbers("x").SortByKey(length)
        self.assertEqual(length.calls, 0)
        # The base classes do what the library's own do: Empty and False.
        self.assertEqual(list(numbers(1, 2).Map(quorvel.SortCallback())), [None, None])
        self.assertEqual(list(numbers(1, 2).Filter(quorvel.FilterCallback())), [])

    def test_any_callable_is_taken_where_a_callback_is(self):
        words = numbers("ccc", "a", "bb")
        known = quorvel.CreateObject("Scripting.Dictionary")
        known["bb"] = 1
        cases = [
            (lambda: words.SortByKey(Callback=lambda w: -len(w)), ["ccc", "bb", "a"]),
            (lambda: words.Map(str.upper), ["CCC", "BB", "A"]),
            (lambda: words.Map(functools.partial(max, "b")), ["ccc", "bb", "b"]),
            (lambda: words.Filter(lambda w: "c" in w), ["ccc"]),
            (lambda: words.Filter(known.Exists), ["bb"]),  # a member is a callable too
            (lambda: quorvel.call_by_name(words, "filter", CallType.Method, bool), ["ccc", "bb", "a"]),
        ]
        for call, expected in cases:
            with self.subTest(expected=expected):
                result = call()
                self.assertEqual(list(words if result is None else result), expected)
        # Only where a callback is taken: a function is no Value otherwise.
        with self.assertRaises(TypeError):
            words.Add(len)
        frames = raised_frames(ZeroDivisionError, lambda: words.Map(lambda w: 1 / 0))
        self.assertEqual(frames[-1], ("<lambda>", "division by zero"))

    def test_values_cross_both_ways(self):
        class Echo(quorvel.SortCallback):
            def Apply(self, value):
                return value

        inner = numbers(1)
        values = [None, quorvel.Null, "\ud800x", 2**40, inner, b"\x00", [1, [2]]]
        array = quorvel.CreateObject("CArray")
        for value in values:
            array.Add(value)
        self.assertEqual(list(array.Map(Echo())), list(array))
        self.assertEqual(array.Map(Echo())[4], inner)

    def test_exceptions_come_out_with_their_traceback_or_number(self):
        array = numbers(1, 2)
        frames = raised_frames(ValueError, lambda: array.Map(Broken()))
        self.assertEqual(frames[-1], ("Apply", "no key for 1"))
        # The library saw error 440 in between, and goes on working.
        self.assertEqual(list(array.Filter(Even())), [2])

        class Refuse(quorvel.FilterCallback):
            def Test(self, value):
                raise quorvel.Error(1001, "MyFilter", "no thanks")

        with self.assertRaises(quorvel.Error) as caught:
            numbers(1).Filter(Refuse())
        self.assertEqual((caught.exception.number, caught.exception.source), (1001, "MyFilter"))

    def test_errors_inside_a_callback_nest(self):
        # Each level maps a list again from inside Apply; the innermost one
        # raises, and the exception passes out through every level.
        class Nested(quorvel.SortCallback):
            def __init__(self, depth):
                self.depth = depth

            def Apply(self, value):
                if self.depth == 0:
                    raise KeyError("innermost")
                return numbers(value).Map(Nested(self.depth - 1))[0]

        frames = raised_frames(KeyError, lambda: numbers(7).Map(Nested(5)))
        self.assertEqual([name for name, _ in frames].count("Apply"), 6)

        class Forever(quorvel.SortCallback):
            def Apply(self, value):
                return numbers(value).Map(self)[0]

        with self.assertRaises(quorvel.Error) as caught:
            numbers(1).Map(Forever())
        self.assertEqual(
            (caught.exception.number, caught.exception.description),
            (28, "Out of stack space"),
        )

class LifetimeTest(unittest.TestCase):
    def test_objects_live_while_python_holds_them(self):
        # A library object owns a Python callback; when the object dies the
        # callback is let go, which a weak reference shows.
        def watched_list():
            array = quorvel.CreateObject("CArray")
            callback = Length()
            array.Add(callback)
            self.assertIs(array[0], callback)
            return array, weakref.ref(callback)

        array, watch = watched_list()
        self.assertIsInstance(array[0], Length)  # comes back as itself
        holder = quorvel.CreateObject("Scripting.Dictionary")
        holder["list"] = array
        del array
        self.assertIsNotNone(watch())  # the dictionary holds the list
        again = holder["list"]  # a new wrapper of the same object
        holder.RemoveAll()
        self.assertIsNotNone(watch())  # `again` still holds it
        self.assertEqual(again.Count, 1)
        del again
        self.assertIsNone(watch())

    @unittest.skipIf(
        os.environ.get("QUORVEL_SANITIZED"),
        "the sanitizers hold freed memory back, so memory use says nothing",
    )
    def test_calls_do_not_leak(self):
        def rss_kib():
            with open("/proc/self/status") as status:
                for line in status:
                    if line.startswith("VmRSS:"):
                        return int(line.split()[1])
            return 0

        d = quorvel.CreateObject("Scripting.Dictionary")
        d["k"] = "value"
        inner = numbers(1)
        d["o"] = inner

        def work(n):
            for _ in range(n):
                d.Item("k")
                d["o"].Count
                d.Keys()

        work(20000)
        before = rss_kib()
        work(100000)
        self.assertLess(rss_kib() - before, 2048)


if __name__ == "__main__":
    unittest.main()
