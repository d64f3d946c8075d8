"""Python classes and any other callables as the library's callbacks: Map,
Filter and SortByKey call them, and what they raise comes back out,
traceback and all; and the interpreter lock, let go while the library works
and taken back for callbacks."""

import random
import sys
import threading
import traceback
import unittest
import weakref

import quorvel
from quorvel import CallType


def numbers(*values):
    array = quorvel.CreateObject("CArray")
    array.AddMultipleFromArray(list(values))
    return array


def raised_frames(kind, call):
    """The function names of the traceback of the `kind` that `call` must
    raise, and the exception's message."""
    try:
        call()
    except kind as error:
        names = [f.name for f in traceback.extract_tb(error.__traceback__)]
        return names, error.args[0] if error.args else None
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


class CallbacksTest(unittest.TestCase):
    def test_map_filter_and_sort_by_key(self):
        words = numbers("ccc", "a", "bb")
        length = Length()
        self.assertEqual(list(words.Map(length)), [3, 1, 2])
        words.SortByKey(length, True)
        self.assertEqual(list(words), ["ccc", "bb", "a"])
        self.assertEqual(list(numbers(1, 2, 3, 4).Filter(Even())), [2, 4])
        length.calls = 0  # a single element is never passed to the key selector
        numbers("x").SortByKey(length)
        self.assertEqual(length.calls, 0)
        # The base classes do what the library's own do: Empty and False.
        self.assertEqual(list(numbers(1, 2).Map(quorvel.SortCallback())), [None, None])
        self.assertEqual(list(numbers(1, 2).Filter(quorvel.FilterCallback())), [])

    def test_any_callable_is_taken_where_a_callback_is(self):
        words = numbers("ccc", "a", "bb")
        known = quorvel.CreateObject("Scripting.Dictionary")
        known["bb"] = 1
        for call, expected in [
            (lambda: words.SortByKey(Callback=lambda w: -len(w)), ["ccc", "bb", "a"]),
            (lambda: words.Map(str.upper), ["CCC", "BB", "A"]),
            (lambda: words.Filter(known.Exists), ["bb"]),  # a member is a callable too
            (lambda: quorvel.call_by_name(words, "filter", CallType.Method, bool), ["ccc", "bb", "a"]),
        ]:
            with self.subTest(expected=expected):
                result = call()
                self.assertEqual(list(words if result is None else result), expected)
        with self.assertRaises(TypeError):  # a function is no Value elsewhere
            words.Add(len)

    def test_values_cross_both_ways(self):
        class Echo(quorvel.SortCallback):
            def Apply(self, value):
                return value

        inner = numbers(1)
        array = numbers(None, quorvel.Null, "\ud800x", 2**40, inner, b"\x00", [1, [2]])
        self.assertEqual(list(array.Map(Echo())), list(array))
        self.assertEqual(array.Map(Echo())[4], inner)

    def test_exceptions_come_out_with_their_traceback_or_number(self):
        class Broken(quorvel.SortCallback):
            def Apply(self, value):
                raise ValueError(f"no key for {value!r}")

        class Refuse(quorvel.FilterCallback):
            def Test(self, value):
                raise quorvel.Error(1001, "MyFilter", "no thanks")

        array = numbers(1, 2)
        names, message = raised_frames(ValueError, lambda: array.Map(Broken()))
        self.assertEqual((names[-1], message), ("Apply", "no key for 1"))
        names, message = raised_frames(ZeroDivisionError, lambda: array.Map(lambda w: 1 / 0))
        self.assertEqual((names[-1], message), ("<lambda>", "division by zero"))
        # The library saw error 440 in between, and goes on working.
        self.assertEqual(list(array.Filter(Even())), [2])
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

        names, _ = raised_frames(KeyError, lambda: numbers(7).Map(Nested(5)))
        self.assertEqual(names.count("Apply"), 6)

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


class LockTest(unittest.TestCase):
    def setUp(self):
        # Threads change hands only where the lock is let go, not on a timer.
        interval = sys.getswitchinterval()
        sys.setswitchinterval(60)
        self.addCleanup(sys.setswitchinterval, interval)

    def test_other_threads_run_during_a_long_call(self):
        rng = random.Random(7)
        data = rng.randbytes(1 << 21)
        unsorted = numbers(*(rng.random() for _ in range(300_000)))
        for call in (lambda: quorvel.CreateObject("CQuorvelPI").LZSS_Encode(data), unsorted.Sort):
            started, done = threading.Event(), []
            worker = threading.Thread(target=lambda: (started.set(), call(), done.append(True)))
            worker.start()
            started.wait()  # the worker keeps the lock past here
            # Back here before the call ends only if the call let go.
            self.assertEqual(done, [])
            worker.join()
            self.assertEqual(done, [True])

    def test_callbacks_take_the_lock_back(self):
        # With a second thread alive every call lets the lock go.
        idle = threading.Event()
        other = threading.Thread(target=idle.wait)
        other.start()
        self.addCleanup(other.join)
        self.addCleanup(idle.set)
        results = {}

        def work(key, values):
            words = numbers(*values)
            words.SortByKey(lambda w: f"{len(w)}{w}")
            mapped = list(words.Map(lambda w: numbers(w).Map(str.upper)[0]))
            try:
                words.Filter(lambda w: 1 / 0)
            except ZeroDivisionError:  # kept only when it came out
                results[key] = mapped

        rng = random.Random(3)
        lists = [["".join(rng.choices("abc", k=rng.randint(1, 5))) for _ in range(300)]
                 for _ in range(2)]
        workers = [threading.Thread(target=work, args=item) for item in enumerate(lists)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
        self.assertEqual([results[key] for key in range(2)],
                         [[w.upper() for w in sorted(values, key=lambda w: (len(w), w))]
                          for values in lists])
