"""quorvel.csv: RFC 4180 text, and the classes' own reading, into rows."""

import unittest

import quorvel
from quorvel import csv


class ReadTest(unittest.TestCase):
    def test_records_and_fields(self):
        cases = [
            ("a,b\n1,2\n", {}, [{"a": "1", "b": "2"}]),
            ("a,b\r\n1,2\r3,4", {}, [{"a": "1", "b": "2"}, {"a": "3", "b": "4"}]),
            ('\ufeffa,b\n"x,y","say ""hi""\nbye"\n\n', {},
             [{"a": "x,y", "b": 'say "hi"\nbye'}]),
            ("a,b,c\n1\n", {}, [{"a": "1", "b": None, "c": None}]),
            ("n,,n\n1,2,3", {}, [{"n": "1", "Col2": "2", "n_2": "3"}]),
            (" a ;b\n 1 ;\u6771", {"separator": ";"}, [{" a ": " 1 ", "b": "\u6771"}]),
            ("1,2\n3,4", {"header": False}, [["1", "2"], ["3", "4"]]),
            ("1\n2,3", {"header": False, "uneven": True}, [["1", None], ["2", "3"]]),
            ('a\tb\n"x\ty', {"separator": "\t", "quotes": False}, [{"a": '"x', "b": "y"}]),
            ("# note\na\n1\n#2", {"comment": "#"}, [{"a": "1"}]),
            ("a,b\r\n1,2\r\n", {"standard": False}, [{"a": "1", "b": "2"}]),
            ("a,b\n1,2\n", {"standard": False, "header": False}, [["a", "b\n1", "2\n"]]),
            ("", {}, []),
        ]
        for text, options, rows in cases:
            with self.subTest(text=text, options=options):
                self.assertEqual(csv.read(text, **options), rows)

    def test_faults(self):
        cases = [
            ('a,b\n1,x"y\n', {}, quorvel.SubscriptError, 'Line 2, column 4: '),
            ("a\n1,2\n", {}, quorvel.SubscriptError, "Line 2, column 3: "),
            ('a\n"open\n', {}, quorvel.SubscriptError, "Line 2, column 1: "),
            ("a", {"separator": '"'}, quorvel.ArgumentError, ""),
            ("a", {"separator": ";;"}, ValueError, None),
            ("a", {"standard": False, "comment": "#"}, ValueError, None),
        ]
        for text, options, error, place in cases:
            with self.subTest(text=text, options=options):
                with self.assertRaises(error) as caught:
                    csv.read(text, **options)
                if place:
                    self.assertEqual((caught.exception.source, caught.exception.number), ("CSV", 9))
                    self.assertTrue(caught.exception.description.startswith(place))


if __name__ == "__main__":
    unittest.main()
