"""quorvel.json: the strict reader into Python objects, the standard writer
from them, exact by default."""

import datetime
import json as std_json
import math
import unittest
from decimal import Decimal

import quorvel
from quorvel import json


class LoadsTest(unittest.TestCase):
    def test_values_and_their_python_types(self):
        cases = [
            ("-0", 0), ("1E2", 100.0), ("-0.0", -0.0), ("9007199254740993", 9007199254740993),
            ("123456789012345678901234567890", 123456789012345678901234567890),
            ("1.7976931348623157e308", 1.7976931348623157e308), ("5e-324", 5e-324),
            ("0.30000000000000004", 0.30000000000000004), ("1.00000000000000011102230246251565404236316680908203125", 1.0),
            ("1.00000000000000011102230246251565404236316680908203126", 1.0000000000000002),
            ('"a\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9"', 'a"\\/\b\f\n\r\t\u00e9'),
            ('"\\ud83d\\ude00 \\ud800"', "\U0001F600 \ud800"),
            (' [1, "x", null, true, false, {}] ', [1, "x", None, True, False, {}]),
            ('{"a": 1, "b": 2, "a": 3}', {"a": 3, "b": 2}),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                self.assertEqual(repr(json.loads(text)), repr(expected))
                self.assertEqual(repr(json.loads(text.encode("utf-8"))), repr(expected))
        self.assertEqual(list(json.loads('{"b": 1, "a": 2, "b": 3}')), ["b", "a"])

    def test_faults(self):
        cases = [
            ("", 1, 1), ("[1,]", 1, 4), ("[1]\n x", 2, 2), ("[01]", 1, 3), ("1e400", 1, 1),
        ]
        for text, line, column in cases:
            with self.subTest(text=text):
                with self.assertRaises(json.JSONDecodeError) as caught:
                    json.loads(text)
                e = caught.exception
                self.assertIsInstance(e, quorvel.Error)
                self.assertEqual((e.number, e.source, e.lineno, e.colno), (9, "JSON", line, column))
                self.assertTrue(e.description.startswith(f"Line {line}, column {column}: "))
        with self.assertRaises(UnicodeDecodeError) as caught:
            json.loads(b'["\xe1\x80A"]')
        self.assertEqual((caught.exception.start, caught.exception.end), (2, 4))
        with self.assertRaises(TypeError):
            json.loads(12)

    def test_lenient(self):  # past 64 bits a whole Decimal is still an int
        wide = "[-79228162514264337593543950335, 9223372036854775808, 1.50]"
        for text, expected in [("[1, 2] tail", [1, 2]), ("plain", None), ('{"a": [1}', {"a": [1]}),
                               (wide, [-(2**96 - 1), 2**63, Decimal("1.5")])]:
            with self.subTest(text=text):
                self.assertEqual(json.loads(text, lenient=True), expected)


class DumpsTest(unittest.TestCase):
    def test_text_is_the_standard_writers(self):
        cases = [
            (None, {}, "null"), (2.0, {}, "2.0"), (-0.0, {}, "-0.0"), (1e16, {}, "1e+16"),
            (5e-324, {}, "5e-324"),
            (2**100, {}, "1267650600228229401496703205376"), (-(2**63), {}, "-9223372036854775808"),
            (Decimal("1.50"), {}, "1.50"), (Decimal("-1E-40"), {}, "-1E-40"),
            ("\u00e9\x7f\U0001F600\ud800", {}, '"\u00e9\\u007f\U0001F600\\ud800"'),
            ("\u00e9\U0001F600", {"ensure_ascii": True}, '"\\u00e9\\ud83d\\ude00"'),
            (datetime.datetime(2024, 1, 2, 3, 4, 5, 678000), {}, '"2024-01-02T03:04:05.678"'),
            (datetime.date(2024, 1, 2), {}, '"2024-01-02"'),
            ((1, [], {"k": "v"}), {}, '[1,[],{"k":"v"}]'),
            ({"a": [1, {}], "b": {"c": None}}, {"indent": 2},
             '{\n  "a": [\n    1,\n    {}\n  ],\n  "b": {\n    "c": null\n  }\n}'),
        ]
        for value, options, text in cases:
            with self.subTest(value=value, options=options):
                self.assertEqual(json.dumps(value, **options), text)

    def test_what_json_would_not_give_back(self):
        utc = datetime.timezone.utc
        cases = [
            ([1, math.nan], "[1]", "[1,null]"),
            ({"d": [Decimal("-Infinity")]}, "d[0]", '{"d":[null]}'),
            ({"t": datetime.datetime(2024, 1, 1, 0, 0, 0, 1600)}, "t",
             '{"t":"2024-01-01T00:00:00.002"}'),
            ([datetime.datetime(2024, 1, 1, 12, tzinfo=utc)], "[0]", '["2024-01-01T12:00:00"]'),
        ]
        for value, where, replaced in cases:
            with self.subTest(value=value):
                with self.assertRaises(quorvel.InexactError) as caught:
                    json.dumps(value)
                self.assertEqual(caught.exception.where, where)
                self.assertEqual(json.dumps(value, errors="replace"), replaced)
        itself = {}
        itself["me"] = itself
        for value, error in [({1: 2}, TypeError), ([b"x"], TypeError), (itself, RecursionError),
                             (datetime.date(99, 1, 1), quorvel.NumberOverflowError)]:
            self.assertRaises(error, json.dumps, value)
        for indent in (-1, 17):
            self.assertRaises(quorvel.ArgumentError, json.dumps, [], indent=indent)

    def test_python_data_round_trips(self):
        value = {"int": [0, -1, 2**31, 2**64, -(10**30)], "float": [0.5, 1e300, -2.0, 1e-310],
                 "text": ["", "a\x00b", "\u20ac\U0001F600", "\udfff"], "deep": [[[[{"x": None}]]]],
                 "flags": [True, False]}
        self.assertEqual(json.loads(json.dumps(value)), value)
        self.assertEqual(json.loads(json.dumps(value, ensure_ascii=True, indent=3)), value)
        del value["text"][3]  # Python's own writer leaves a lone surrogate bare
        self.assertEqual(json.dumps(value), std_json.dumps(value, separators=(",", ":"), ensure_ascii=False))
