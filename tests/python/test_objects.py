"""Library objects as Python sees them: members by attribute, the default
member by subscript, len, in, iteration, maps, databases as context
managers, exactness, signatures, identity, and every error."""

import decimal
import inspect
import pathlib
import tempfile
import unittest

import quorvel
from quorvel import CallType


def numbers(*values):
    array = quorvel.CreateObject("CArray")
    array.AddMultiple(*values)
    return array


def made(class_name, *calls):
    """Creates a class and calls (member, *args) on it in turn."""
    obj = quorvel.CreateObject(class_name)
    for name, *args in calls:
        getattr(obj, name)(*args)
    return obj


class ObjectsTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.dir = pathlib.Path(folder.name)

    def opened(self, class_name, name, **options):
        db = quorvel.CreateObject(class_name)
        db.OpenDB(str(self.dir / name), **options)
        self.addCleanup(db.CloseDB)
        return db

    def test_members_subscripts_and_calls(self):
        d = quorvel.CreateObject("Scripting.Dictionary")
        d.CompareMode = 1  # Let of a property
        self.assertIsNone(d.Add("a", 1))
        d["b"] = 2.5  # Let through the default member
        # Member names in any letter case; properties read at once.
        self.assertEqual((d.COUNT, d.item("b"), d["b"], list(d.Keys()), d.CompareMode),
                         (2, 2.5, 2.5, ["a", "b"], 1))
        del d["a"]
        self.assertEqual(list(d), ["b"])
        array, inner = numbers(10, 20, 30), numbers(1)
        d["inner"] = inner  # Set: the object itself is stored
        inner.Add(2)
        self.assertEqual((d["inner"].Count, hash(d["inner"])), (2, hash(inner)))
        self.assertNotEqual(d["inner"], array)
        # Explicit calls, Missing and keyword arguments.
        quorvel.call_by_name(array, "Item", CallType.Let, 1, 99)
        self.assertEqual(quorvel.call_by_name(array, "count", CallType.Method), 3)
        self.assertEqual(list(array.Slice(quorvel.Missing, 1)), [10, 99])
        self.assertEqual(list(array.slice(finish=0, start=1, step=-1)), [99, 10])
        for call, text in [(lambda: array.Slice(Nope=1), r"Slice\(\) has no parameter 'Nope'"),
                           (lambda: array.Slice(1, Start=2), r"Slice\(\) got 'Start' twice")]:
            with self.assertRaisesRegex(TypeError, text):
                call()
        self.assertEqual(dir(quorvel.CreateObject("Collection")),
                         ["Add", "Count", "Item", "Remove", "_NewEnum"])
        self.assertEqual((repr(array), repr(array.Sort)),
                         ("<quorvel CArray object>", "<quorvel member CArray.Sort>"))

    def test_len_bool_in_and_iteration(self):
        array = numbers(10, "b", None)
        self.assertEqual((len(array), bool(array), bool(numbers())), (3, True, False))
        walker = iter(array)
        array.Add(40)  # the enumerator walks a snapshot
        self.assertEqual(list(walker), [10, "b", None])
        builder = quorvel.CreateObject("cStringBuilder")
        self.assertTrue(builder)  # no Count: an object is true
        with self.assertRaisesRegex(TypeError, "cStringBuilder has no Count"):
            len(builder)
        for walk in (iter, lambda b: "x" in b):
            with self.assertRaisesRegex(TypeError, "a cStringBuilder cannot be walked"):
                walk(builder)
        kv = self.opened("KxKVDB", "w.kv")
        kv["b"], kv["a"] = "1", "2"
        # One of each way to walk: an enumerator, Keys, Item(1) to Item(Count),
        # rows; what it yields (in its own order, twice), a value in it, one not.
        cases = [
            (numbers(3, "b", None), [3, "b", None], None, 4),  # `in` walks
            (made("Scripting.Dictionary", ("Add", "k", 1), ("Add", "j", 2)), ["k", "j"], "j", 1),
            (made("CDict", ("Add", "k", 1)), ["k"], "k", "x"),
            (made("CStack", ("Push", 1), ("Push", 2)), [1, 2], 2, 3),
            (made("CDataset", ("AddColumn", "a"), ("AddColumn", "b"), ("AddRow", 1, "p"),
                  ("AddRow", 2, "q")), [[1, "p"], [2, "q"]], [2, "q"], [1, "q"]),
            (kv, ["b", "a"], "a", "c"),
        ]
        for obj, items, present, absent in cases:
            with self.subTest(cls=repr(obj)):
                self.assertEqual((list(obj), list(obj)), (items, items))
                self.assertIn(present, obj)
                self.assertNotIn(absent, obj)

    def test_databases_are_context_managers_that_close_the_file(self):
        with self.assertRaises(KeyError):  # closed on an exception too
            with quorvel.CreateObject("KxDocsDB") as db:
                self.assertIsInstance(db, quorvel.Database)
                db.OpenDB(str(self.dir / "c.docs"))
                raise KeyError("inside")
        self.assertRaisesRegex(quorvel.Error, "DB is not open", db.__getitem__, "k")
        self.assertIsInstance(quorvel.CreateObject("KxKVDB"), quorvel.Database)
        self.assertFalse(hasattr(numbers(), "__enter__"))

    def test_maps_have_python_names_beside_the_librarys(self):
        docs = self.opened("KxDocsDB", "m.docs")
        for m in (quorvel.CreateObject("Dictionary"), quorvel.CreateObject("CDict"), docs.AddDoc()):
            with self.subTest(repr(m)):
                m.Add("a", 1)
                m.Add("b", "two")
                self.assertEqual((m.items(), m.keys(), m.values(), m.get("a"), m.get("z", 0)),
                                 ([("a", 1), ("b", "two")], ["a", "b"], [1, "two"], 1, 0))
                with self.assertRaises(quorvel.KeyNotFoundError) as caught:
                    m["z"]
                self.assertEqual((caught.exception.number, len(m)), (32811, 2))  # nothing added
                self.assertEqual((m.Item("z"), len(m)), (None, 3))  # the library's member adds
        d = made("Scripting.Dictionary", ("Add", "a", 1), ("Add", "b", 2))
        self.assertEqual((d.pop("a"), d.pop("a", "gone"), list(d)), (1, "gone", ["b"]))
        self.assertRaises(KeyError, d.pop, "a")
        self.assertRaisesRegex(AttributeError, "a CDict has no Remove",
                               quorvel.CreateObject("CDict").pop, "a")
        self.assertRaises(quorvel.MemberError, getattr, numbers(), "items")  # a member name

    def test_files_and_codecs_refuse_what_they_would_lose_unless_asked(self):
        pi = quorvel.CreateObject("CQuorvelPI")
        kv = self.opened("KxKVDB", "e.kv")
        docs = self.opened("KxDocsDB", "e.docs")
        rounded = decimal.Decimal("0.123456")
        # A call refused by default, naming the place, and the lossy default.
        cases = [
            (lambda **o: pi.MsgPack_Encode(numbers("x", rounded), **o),
             r"0\.123456 at \[1\] would be rounded"),
            (lambda **o: quorvel.call_by_name(pi, "RC4_Encrypt", CallType.Method, "a", "\u0100", **o),
             "U\\+0100 .* of the key"),
        ]
        for call, place in cases:
            with self.subTest(place):
                with self.assertRaisesRegex(quorvel.ArgumentError, place):
                    call()
                self.assertTrue(call(errors="replace"))
        # A database keeps what its open chose, for every write made to it.
        for write in (lambda: kv.__setitem__("k", 5),
                      lambda: kv.PutValue("k", "\u6771", errors="replace"),
                      lambda: docs.AddDoc("\u6771")):
            with self.assertRaises(ValueError):
                write()
        record = docs.AddDoc("r")
        record["p"] = rounded
        with self.assertRaisesRegex(ValueError, "at p would be rounded"):
            record.Save()
        self.assertEqual((len(kv), len(docs)), (0, 0))  # nothing written
        lossy = self.opened("KxKVDB", "l.kv", errors="replace")
        lossy["k"] = "\u6771"
        lossy.CloseDB()
        self.assertEqual(self.opened("KxKVDB", "l.kv")["k"], "?")
        with self.assertRaisesRegex(ValueError, "errors must be 'strict', 'replace' or None"):
            pi.RC4_Encrypt("a", "k", errors="ignore")

    def test_members_carry_signatures_and_docstrings(self):
        array = numbers()
        for member, signature in [
            (array.Slice, "(Start=quorvel.Missing, Finish=quorvel.Missing, "
             "Step=quorvel.Missing, *, errors=None)"),
            (array.AddMultiple, "(*Values, errors=None)"),
            (quorvel.member(array, "count"), "(*, errors=None)"),
        ]:
            with self.subTest(signature):
                self.assertEqual(str(inspect.signature(member)), signature)
                self.assertTrue(member.__doc__.startswith(member.__name__ + signature))
        self.assertIn("Calls the method Slice of the library's CArray", array.Slice.__doc__)
        self.assertEqual(quorvel.member(array, "count")(), 0)
        self.assertRaises(quorvel.MemberError, quorvel.member, array, "Nope")

    def test_library_errors_carry_number_source_description_and_place(self):
        array = numbers(1, 2)
        wrong_count = "Wrong number of arguments or invalid property assignment"
        # The call, the number, the description, the exception type the number
        # raises as, and what str(error) puts before and after them.
        cases = [
            (lambda: array.Item(9), 9, "Index (9) is out of bounds (0 - 1)", IndexError,
             "CArray.Item", ""),
            (lambda: setattr(array, "Nope", 1), 438, "Object doesn't support this property or "
             "method", AttributeError, "CArray.Nope", ""),
            (lambda: array.Add(), 450, wrong_count, quorvel.Error, "CArray.Add",
             " (Add takes 1 argument, 0 given)"),
            (lambda: array.Slice(1, 2, 3, 4), 450, wrong_count, quorvel.Error, "CArray.Slice",
             " (Slice takes 0 to 3 arguments, 4 given)"),
            (lambda: array.Item("x"), 13, "Type mismatch", TypeError, "CArray.Item", ""),
            (lambda: array.Item(2**40), 6, "Overflow", OverflowError, "CArray.Item", ""),
            (lambda: quorvel.call_by_name(None, "Count", CallType.Get), 91,
             "Object variable or With block variable not set", quorvel.Error, "Count", ""),
            (lambda: quorvel.call_by_name(5, "Count", CallType.Get), 424, "Object required",
             quorvel.Error, "", ""),
            (lambda: quorvel.call_by_name(array, "Count", 3), 5, "Invalid procedure call or "
             "argument: call_type is not Method, Get, Let or Set", ValueError, "CArray.Count", ""),
            (lambda: quorvel.CreateObject("NoSuchClass"), 429,
             "ActiveX component can't create object", quorvel.Error, "", " (class 'NoSuchClass')"),
            (lambda: quorvel.CreateObject("Scripting.Dictionary").Remove("x"), 32811,
             "Element not found", KeyError, "Dictionary.Remove", ""),
        ]
        for call, number, description, python_type, place, more in cases:
            with self.subTest(number=number, place=place):
                with self.assertRaises(python_type) as caught:
                    call()
                error = caught.exception
                self.assertIsInstance(error, quorvel.Error)
                source = "CArray" if number == 9 else "KxQuorvel"
                self.assertEqual((error.number, error.source, error.description, str(error)),
                                 (number, source, description, (place and place + ": ") +
                                  f"error {number} ({source}): {description}{more}"))
        # Unknown members are attribute errors to Python's own functions too.
        self.assertEqual((hasattr(array, "Nope"), getattr(array, "Nope", "d"), hasattr(array, "Count")),
                         (False, "d", True))
        with self.assertRaisesRegex(TypeError, "cannot be deleted"):
            del array.Count
        self.assertIs(array.__class__, quorvel.Object)  # Python's own stay Python's
