"""Library objects as Python sees them: members by attribute, the default
member by subscript, len, in, iteration, dir, identity, and every error."""

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
        with self.assertRaises(quorvel.MemberError):
            iter(builder)

    def test_dir_lists_the_members(self):
        names = dir(quorvel.CreateObject("Collection"))
        self.assertEqual(names, ["Add", "Count", "Item", "Remove", "_NewEnum"])
        self.assertIn("AddMultipleFromArray", dir(numbers()))
        self.assertEqual(repr(numbers()), "<quorvel CArray object>")


class ErrorsTest(unittest.TestCase):
    def check(self, error, number, source, description):
        self.assertIsInstance(error, quorvel.Error)
        self.assertEqual(
            (error.number, error.source, error.description),
            (number, source, description),
        )
        self.assertEqual(str(error), f"error {number} ({source}): {description}")

    def test_library_errors_carry_number_source_and_description(self):
        array = numbers(1, 2)
        no_member = "Object doesn't support this property or method"
        wrong_count = "Wrong number of arguments or invalid property assignment"
        cases = [
            (lambda: array.Item(9), 9, "CArray", "Index (9) is out of bounds (0 - 1)"),
            (lambda: array.Nope, 438, "KxQuorvel", no_member),
            (lambda: array.Nope(), 438, "KxQuorvel", no_member),
            (lambda: setattr(array, "Nope", 1), 438, "KxQuorvel", no_member),
            (lambda: array.Add(), 450, "KxQuorvel", wrong_count),
            (lambda: array.Add(1, 2), 450, "KxQuorvel", wrong_count),
            (lambda: array.Item("x"), 13, "KxQuorvel", "Type mismatch"),
            (lambda: array.Item(2**40), 6, "KxQuorvel", "Overflow"),
            (lambda: array.Add(quorvel.Missing), 449, "KxQuorvel", "Argument not optional"),
            (lambda: array.Map(array), 13, "KxQuorvel", "Type mismatch"),
            (lambda: array.Map(None), 13, "KxQuorvel", "Type mismatch"),
            (
                lambda: quorvel.call_by_name(None, "Count", CallType.Get),
                91,
                "KxQuorvel",
                "Object variable or With block variable not set",
            ),
            (
                lambda: quorvel.call_by_name(5, "Count", CallType.Get),
                424,
                "KxQuorvel",
                "Object required",
            ),
            (
                lambda: quorvel.call_by_name(array, "Count", 3),
                5,
                "KxQuorvel",
                "Invalid procedure call or argument: call_type is not Method, Get, "
                "Let or Set",
            ),
            (
                lambda: quorvel.CreateObject("NoSuchClass"),
                429,
                "KxQuorvel",
                "ActiveX component can't create object",
            ),
            (
                lambda: quorvel.CreateObject("Scripting.Dictionary").Remove("x"),
                32811,
                "KxQuorvel",
                "Element not found",
            ),
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
        for call, number, source, description in cases:
            with self.subTest(number=number, description=description):
                with self.assertRaises(python_type.get(number, quorvel.Error)) as caught:
                    call()
                self.check(caught.exception, number, source, description)

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
