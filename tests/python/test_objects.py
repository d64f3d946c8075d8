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


class MembersTest(unittest.TestCase):
    def test_the_script_users_dictionary(self):
        d = quorvel.CreateObject("Scripting.Dictionary")
        self.assertIsNone(d.Add("a", 1))
        d["b"] = 2.5
        self.assertEqual(
            (d.Count, d.Item("a"), list(d.Keys()), len(d), "a" in d, "z" in d),
            (2, 1, ["a", "b"], 2, True, False),
        )
        # Member names in any letter case; the same member under each.
        self.assertEqual((d.count, d.COUNT, d.item("b"), d["b"]), (2, 2, 2.5, 2.5))
        del d["a"]
        self.assertEqual(list(d), ["b"])

    def test_properties_are_read_at_once_and_the_rest_called(self):
        array = numbers(3, 1, 2)
        self.assertEqual(array.Count, 3)  # a property with no argument
        self.assertTrue(callable(array.Sort))  # a method
        self.assertTrue(callable(array.Item))  # a property with an argument
        self.assertEqual(repr(array.Sort), "<quorvel member CArray.Sort>")
        array.Sort()
        self.assertEqual(list(array), [1, 2, 3])
        array.Sort(True)
        self.assertEqual(list(array), [3, 2, 1])

    def test_assignment_is_let_and_set_for_objects(self):
        d = quorvel.CreateObject("Scripting.Dictionary")
        d.CompareMode = 1  # Let of a property
        self.assertEqual(d.CompareMode, 1)
        array = numbers(10, 20)
        array[0] = 5  # Let through the default member
        inner = numbers(1)
        array[1] = inner  # Set: the object itself is stored
        self.assertEqual(array[0], 5)
        self.assertEqual(array.Item(1), inner)
        self.assertEqual(array[-1].Count, 1)
        d["inner"] = inner
        inner.Add(2)
        self.assertEqual(d["inner"].Count, 2)  # the same object, changed
        self.assertEqual(hash(d["inner"]), hash(inner))
        self.assertNotEqual(d["inner"], array)

    def test_explicit_calls_and_keyword_arguments(self):
        array = numbers(10, 20, 30)
        self.assertEqual(quorvel.call_by_name(array, "Item", CallType.Get, 1), 20)
        quorvel.call_by_name(array, "Item", CallType.Let, 1, 99)
        self.assertEqual(quorvel.call_by_name(array, "count", CallType.Method), 3)
        self.assertEqual(list(array), [10, 99, 30])
        self.assertEqual(list(array.Slice(Step=2)), [10, 30])
        self.assertEqual(list(array.Slice(quorvel.Missing, 1)), [10, 99])
        self.assertEqual(list(array.slice(finish=0, start=1, step=-1)), [99, 10])
        with self.assertRaisesRegex(TypeError, "Slice\\(\\) has no parameter 'Nope'"):
            array.Slice(Nope=1)
        with self.assertRaisesRegex(TypeError, "Slice\\(\\) got 'Start' twice"):
            array.Slice(1, Start=2)
        with self.assertRaisesRegex(TypeError, "has no parameter 'Values'"):
            array.AddMultiple(Values=1)

    def test_len_in_bool_and_iteration(self):
        array = numbers(10, "b", None)
        self.assertEqual((len(array), bool(array)), (3, True))
        self.assertFalse(quorvel.CreateObject("CArray"))
        # CArray has no Exists: `in` walks the elements.
        self.assertIn("b", array)
        self.assertNotIn(11, array)
        walker = iter(array)
        array.Add(40)  # the enumerator walks a snapshot
        self.assertEqual(list(walker), [10, "b", None])
        collection = quorvel.CreateObject("Collection")
        collection.Add("p")
        self.assertEqual(list(collection), ["p"])
        builder = quorvel.CreateObject("cStringBuilder")
        self.assertTrue(builder)  # no Count: an object is true
        with self.assertRaisesRegex(TypeError, "cStringBuilder has no Count"):
            len(builder)
        for walk in (iter, lambda b: "x" in b):
            with self.assertRaisesRegex(TypeError, "a cStringBuilder cannot be walked"):
                walk(builder)

    def test_dir_lists_the_members(self):
        names = dir(quorvel.CreateObject("Collection"))
        self.assertEqual(names, ["Add", "Count", "Item", "Remove", "_NewEnum"])
        self.assertIn("AddMultipleFromArray", dir(numbers()))
        self.assertEqual(repr(numbers()), "<quorvel CArray object>")


def made(class_name, *calls):
    """Creates a class and calls (member, *args) on it in turn."""
    obj = quorvel.CreateObject(class_name)
    for name, *args in calls:
        getattr(obj, name)(*args)
    return obj


class FileCase(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.dir = pathlib.Path(folder.name)

    def opened(self, class_name, name, **options):
        db = quorvel.CreateObject(class_name)
        db.OpenDB(str(self.dir / name), **options)
        self.addCleanup(db.CloseDB)
        return db


class WalkTest(FileCase):
    def test_every_class_that_holds_things_walks_them_and_answers_in(self):
        kv = self.opened("KxKVDB", "w.kv")
        kv["b"], kv["a"] = "1", "2"
        docs = self.opened("KxDocsDB", "w.docs")
        docs.AddDoc("x").Save()
        docs.AddDoc("y").Save()
        record = docs.GetDoc("X")
        record["f"], record["g"] = 1, 2
        table = made("CDataset", ("AddColumn", "a"), ("AddColumn", "b"),
                     ("AddRow", 1, "p"), ("AddRow", 2, "q"))
        # What each walks (in its own order), a value in it, one not.
        cases = [
            (numbers(3, "b", None), [3, "b", None], None, 4),
            (made("Collection", ("Add", "p"), ("Add", 2)), ["p", 2], 2, "q"),
            (made("Scripting.Dictionary", ("Add", "k", 1), ("Add", "j", 2)),
             ["k", "j"], "j", 1),
            (made("CDict", ("Add", "k", 1)), ["k"], "k", "x"),
            (made("KxDocStore", ("AddDoc", "d1")), ["D1"], "D1", "d2"),
            (record, ["f", "g"], "g", 1),
            (made("CStack", ("Push", 1), ("Push", 2)), [1, 2], 2, 3),
            (made("CQueue", ("Push", "a"), ("Push", "b")), ["a", "b"], "a", "c"),
            (table, [[1, "p"], [2, "q"]], [2, "q"], [1, "q"]),
            (kv, ["b", "a"], "a", "c"),
            # Ids are stored normalised, and read back as they are stored.
            (docs, ["X", "Y"], "Y", "y"),
        ]
        for obj, items, present, absent in cases:
            with self.subTest(cls=repr(obj)):
                self.assertEqual(list(obj), items)
                self.assertEqual(list(obj), items)  # walked again from the start
                self.assertIn(present, obj)
                self.assertNotIn(absent, obj)

    def test_the_databases_are_context_managers_that_close_the_file(self):
        path = str(self.dir / "c.kv")
        for class_name, name in (("KxKVDB", "c.kv"), ("KxDocsDB", "c.docs")):
            with self.subTest(class_name):
                with quorvel.CreateObject(class_name) as db:
                    self.assertIsInstance(db, quorvel.Database)
                    db.OpenDB(str(self.dir / name))
                    self.assertEqual(len(db), 0)
                with self.assertRaisesRegex(quorvel.Error, "DB is not open"):
                    db["k"]
        # The file is closed when the block ends by an exception too.
        with self.assertRaises(KeyError):
            with quorvel.CreateObject("KxKVDB") as db:
                db.OpenDB(path)
                raise KeyError("inside")
        with self.assertRaisesRegex(quorvel.Error, "DB is not open"):
            db["k"]
        self.assertFalse(hasattr(numbers(), "__enter__"))


class MapTest(FileCase):
    def test_python_names_on_maps_and_the_library_names_beside_them(self):
        docs = self.opened("KxDocsDB", "m.docs")
        for cls, make in (
            ("Scripting.Dictionary", lambda: quorvel.CreateObject("Dictionary")),
            ("CDict", lambda: quorvel.CreateObject("CDict")),
            ("KxDocRec", lambda: docs.AddDoc()),
        ):
            with self.subTest(cls):
                m = make()
                m.Add("a", 1)
                m.Add("b", "two")
                self.assertEqual(
                    (m.items(), m.keys(), m.values()),
                    ([("a", 1), ("b", "two")], ["a", "b"], [1, "two"]),
                )
                self.assertEqual((m.get("a"), m.get("z"), m.get("z", 0)), (1, None, 0))
                with self.assertRaises(KeyError) as caught:
                    m["z"]
                self.assertIsInstance(caught.exception, quorvel.KeyNotFoundError)
                self.assertEqual(caught.exception.number, 32811)
                self.assertEqual(len(m), 2)  # neither get nor [] added "z"
                self.assertEqual(m.Item("z"), None)  # the library's member does
                self.assertEqual(len(m), 3)
        d = quorvel.CreateObject("Scripting.Dictionary")
        d["a"], d["b"] = 1, 2
        self.assertEqual(list(d.Items()), [1, 2])  # spelt as the library spells it
        self.assertEqual((d.pop("a"), d.pop("a", "gone"), list(d)), (1, "gone", ["b"]))
        with self.assertRaises(KeyError):
            d.pop("a")
        with self.assertRaisesRegex(AttributeError, "a CDict has no Remove"):
            quorvel.CreateObject("CDict").pop("a")
        self.assertIn("items", dir(d))
        # Not a map: the lower-case names are member names like any other.
        with self.assertRaises(quorvel.MemberError):
            numbers().items()


class ExactTest(FileCase):
    def test_files_and_codecs_refuse_what_they_would_lose_unless_asked(self):
        pi = quorvel.CreateObject("CQuorvelPI")
        kv = self.opened("KxKVDB", "e.kv")
        docs = self.opened("KxDocsDB", "e.docs")
        rounded = decimal.Decimal("0.123456")
        # A call refused by default, where the refusal names the place, and
        # the same call asking for the lossy default.
        cases = [
            (lambda **o: pi.MsgPack_Encode(numbers("x", rounded), **o),
             r"0\.123456 at \[1\] would be rounded"),
            (lambda **o: pi.RC4_Encrypt("\u6771", "key", **o), "U\\+6771 .* of the text"),
            (lambda **o: quorvel.call_by_name(pi, "RC4_Encrypt", CallType.Method,
                                              "a", "\u0100", **o), "U\\+0100 .* of the key"),
        ]
        for call, place in cases:
            with self.subTest(place):
                with self.assertRaisesRegex(quorvel.ArgumentError, place) as caught:
                    call()
                self.assertIsInstance(caught.exception, ValueError)
                self.assertTrue(call(errors="replace"))
        # A database keeps what its open chose, for every write made to it.
        for write in (lambda: kv.PutValue("k", "\u6771"),
                      lambda: kv.__setitem__("k", 5),
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


class DescribeTest(unittest.TestCase):
    def test_members_carry_signatures_and_docstrings_from_their_tables(self):
        array = numbers()
        cases = [
            (array.Slice, "(Start=quorvel.Missing, Finish=quorvel.Missing, "
             "Step=quorvel.Missing, *, errors=None)"),
            (array.AddMultiple, "(*Values, errors=None)"),
            (quorvel.member(array, "count"), "(*, errors=None)"),
            (quorvel.CreateObject("KxDocsDB").GetDoc,
             "(doc_id, AutoCreate=quorvel.Missing, *, errors=None)"),
        ]
        for member, signature in cases:
            with self.subTest(signature):
                self.assertEqual(str(inspect.signature(member)), signature)
                self.assertTrue(member.__doc__.startswith(member.__name__ + signature))
        self.assertIn("Calls the method Slice of the library's CArray", array.Slice.__doc__)
        self.assertIn("property Count of the library's CArray",
                      quorvel.member(array, "Count").__doc__)
        self.assertEqual(quorvel.member(array, "count")(), 0)
        with self.assertRaises(quorvel.MemberError):
            quorvel.member(array, "Nope")


class ErrorsTest(unittest.TestCase):
    def test_library_errors_carry_number_source_description_and_place(self):
        array = numbers(1, 2)
        no_member = "Object doesn't support this property or method"
        wrong_count = "Wrong number of arguments or invalid property assignment"
        mismatch = "error 13 (KxQuorvel): Type mismatch"
        # The call, then number, source and description as the library says
        # them, then str(error), which also names class, member and counts.
        cases = [
            (lambda: array.Item(9), 9, "CArray", "Index (9) is out of bounds (0 - 1)",
             "CArray.Item: error 9 (CArray): Index (9) is out of bounds (0 - 1)"),
            (lambda: array.Nope, 438, "KxQuorvel", no_member,
             f"CArray.Nope: error 438 (KxQuorvel): {no_member}"),
            (lambda: array.nope(), 438, "KxQuorvel", no_member,
             f"CArray.nope: error 438 (KxQuorvel): {no_member}"),
            (lambda: setattr(array, "Nope", 1), 438, "KxQuorvel", no_member,
             f"CArray.Nope: error 438 (KxQuorvel): {no_member}"),
            (lambda: array.Add(), 450, "KxQuorvel", wrong_count,
             f"CArray.Add: error 450 (KxQuorvel): {wrong_count} "
             "(Add takes 1 argument, 0 given)"),
            (lambda: array.item(1, 2), 450, "KxQuorvel", wrong_count,
             f"CArray.Item: error 450 (KxQuorvel): {wrong_count} "
             "(Item takes 1 argument, 2 given)"),
            (lambda: array.Slice(1, 2, 3, 4), 450, "KxQuorvel", wrong_count,
             f"CArray.Slice: error 450 (KxQuorvel): {wrong_count} "
             "(Slice takes 0 to 3 arguments, 4 given)"),
            (lambda: array.Item("x"), 13, "KxQuorvel", "Type mismatch",
             f"CArray.Item: {mismatch}"),
            (lambda: array.Item(2**40), 6, "KxQuorvel", "Overflow",
             "CArray.Item: error 6 (KxQuorvel): Overflow"),
            (lambda: array.Add(quorvel.Missing), 449, "KxQuorvel", "Argument not optional",
             "CArray.Add: error 449 (KxQuorvel): Argument not optional"),
            (lambda: array.Map(array), 13, "KxQuorvel", "Type mismatch",
             f"CArray.Map: {mismatch}"),
            (lambda: array.Map(None), 13, "KxQuorvel", "Type mismatch",
             f"CArray.Map: {mismatch}"),
            (lambda: quorvel.call_by_name(None, "Count", CallType.Get), 91, "KxQuorvel",
             "Object variable or With block variable not set",
             "Count: error 91 (KxQuorvel): Object variable or With block variable not set"),
            (lambda: quorvel.call_by_name(5, "Count", CallType.Get), 424, "KxQuorvel",
             "Object required", "error 424 (KxQuorvel): Object required"),
            (lambda: quorvel.call_by_name(array, "Count", 3), 5, "KxQuorvel",
             "Invalid procedure call or argument: call_type is not Method, Get, Let or Set",
             "CArray.Count: error 5 (KxQuorvel): Invalid procedure call or argument: "
             "call_type is not Method, Get, Let or Set"),
            (lambda: quorvel.CreateObject("NoSuchClass"), 429, "KxQuorvel",
             "ActiveX component can't create object",
             "error 429 (KxQuorvel): ActiveX component can't create object "
             "(class 'NoSuchClass')"),
            (lambda: quorvel.CreateObject("Scripting.Dictionary").Remove("x"), 32811,
             "KxQuorvel", "Element not found",
             "Dictionary.Remove: error 32811 (KxQuorvel): Element not found"),
        ]
        # The numbers Python has an exception type for raise that type too.
        python_type = {
            5: ValueError,
            6: OverflowError,
            9: IndexError,
            13: TypeError,
            438: AttributeError,
            32811: KeyError,
        }
        for call, number, source, description, text in cases:
            with self.subTest(text=text):
                with self.assertRaises(python_type.get(number, quorvel.Error)) as caught:
                    call()
                error = caught.exception
                self.assertIsInstance(error, quorvel.Error)
                self.assertEqual(
                    (error.number, error.source, error.description, str(error)),
                    (number, source, description, text),
                )

    def test_unknown_members_are_attribute_errors_too(self):
        array = numbers()
        self.assertFalse(hasattr(array, "Nope"))
        self.assertEqual(getattr(array, "Nope", "default"), "default")
        self.assertTrue(hasattr(array, "Count"))
        with self.assertRaises(AttributeError):
            array.Nope
        with self.assertRaisesRegex(TypeError, "cannot be deleted"):
            del array.Count
        # Python's own attributes stay Python's.
        self.assertIs(array.__class__, quorvel.Object)

    def test_a_key_already_present(self):
        d = quorvel.CreateObject("Scripting.Dictionary")
        d.Add("a", 1)
        with self.assertRaises(quorvel.Error) as caught:
            d.Add("a", 2)
        self.assertEqual(caught.exception.number, 457)
        self.assertEqual(d["a"], 1)


if __name__ == "__main__":
    unittest.main()
