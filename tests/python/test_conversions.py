"""Python values into the library and back, at the edges of each rule."""

import datetime
import math
import struct
import unittest
from decimal import Decimal

import quorvel

UTC = datetime.timezone.utc


def round_trip(value):
    """Stores a value in a CArray and reads it back."""
    array = quorvel.CreateObject("CArray")
    array.Add(value)
    return array.Item(0)


class ConversionTest(unittest.TestCase):
    def setUp(self):
        self.pi = quorvel.CreateObject("CQuorvelPI")

    def test_values_come_back_as_they_went(self):
        cases = [
            None, quorvel.Null, True, False, 0, -(2**31), 2**31 - 1, 1.5, -0.0,
            math.inf, 5e-324, "", "h\u00e9llo \u20ac", "\U0001F600", "a\x00b",
            quorvel.ErrorValue(0x800A0005), "\ud800", "a\udfffb", "\udc00\ud800",
            b"", bytes(range(256)),
            datetime.datetime(2024, 2, 29, 13, 45, 30, 123000),
            datetime.datetime(1899, 12, 29, 6, 0),  # day number -1.25
            datetime.datetime(100, 1, 1),
            datetime.datetime(9999, 12, 31, 23, 59, 59, 999000),
            # Past 32 bits an int is a Decimal, which comes back as one.
            (2**31, Decimal), (-(2**96) + 1, Decimal),
            # Decimals keep their scale; past 28 places trailing zeros go.
            (Decimal("1.50"), "1.50"), (Decimal("-0"), "-0"),
            (Decimal("7.9228162514264337593543950335"), "7.9228162514264337593543950335"),
            (Decimal("0.0000000000000000000000000001"), "1E-28"),
            (Decimal("1.0000000000000000000000000000000"), "1.0000000000000000000000000000"),
            (Decimal("1E+28"), "10000000000000000000000000000"),
            # What has no form of its own comes back as its nearest kin.
            (bytearray(b"\x00\xff"), b"\x00\xff"), ((1, 2), [1, 2]),
            ([1, "a", None, [2.5, [quorvel.Null]], ()], [1, "a", None, [2.5, [quorvel.Null]], []]),
            (datetime.date(2024, 1, 1), datetime.datetime(2024, 1, 1)),
            ("\ud83d\ude00", "\U0001F600"),  # two halves make their pair
        ]
        for case in cases:
            value, expected = case if isinstance(case, tuple) else (case, case)
            with self.subTest(value=value):
                back = round_trip(value)
                if isinstance(expected, type):
                    self.assertEqual((type(back), back), (expected, value))
                elif isinstance(expected, str) and isinstance(value, Decimal):
                    self.assertEqual(str(back), str(Decimal(expected)))
                else:
                    self.assertEqual(back, expected)
                    self.assertIs(type(back), type(expected))
        self.assertTrue(math.isnan(round_trip(math.nan)))
        self.assertEqual(math.copysign(1, round_trip(-0.0)), -1)

    def test_the_librarys_kinds_as_python_sees_them(self):
        encoded = self.pi.MsgPack_Encode
        self.assertEqual(encoded(2**31 - 1), b"\xd2" + struct.pack("<i", 2**31 - 1))
        self.assertEqual(encoded(2**31), b"\xc7\x02" + struct.pack("<q", 2**31 * 10000))
        self.assertEqual(encoded(datetime.datetime(1899, 12, 29, 6)),
                         b"\xc7\x01" + struct.pack("<d", -1.25))
        # An Integer comes back as int, a Currency as a Decimal of 4 places.
        self.assertEqual((self.pi.Verhoeff_Generate("236"), type(self.pi.Verhoeff_Generate("236"))),
                         (3, int))
        for scaled, text in ((-(2**63), "-922337203685477.5808"), (2**63 - 1, "922337203685477.5807"),
                             (15000, "1.5000")):
            back = self.pi.MsgPack_Decode(b"\xc7\x02" + struct.pack("<q", scaled))
            self.assertEqual((type(back), str(back)), (Decimal, text))

    def test_arrays_keep_their_bounds(self):
        grid = quorvel.Array([[1, 2, 3], [4, 5, 6]], bounds=((0, 1), (1, 3)))
        back = round_trip(grid)
        self.assertIsInstance(back, quorvel.Array)
        self.assertEqual((back, back.bounds), (grid, ((0, 1), (1, 3))))
        from_one = round_trip(quorvel.Array([7, 8], bounds=((1, 2),)))
        self.assertEqual((from_one, from_one.bounds), ([7, 8], ((1, 2),)))
        with self.assertRaises(ValueError):
            round_trip(quorvel.Array([[1, 2], [3]], bounds=((0, 1), (0, 1))))

    def test_what_would_change_is_refused(self):
        inexact = [
            (2**96, "more than 96 bits"), (-(2**96), "more than 96 bits"),
            (Decimal("0.00000000000000000000000000015"), ""), (Decimal("NaN"), ""),
            (Decimal("7922816251426433759354395033.55"), ""), (Decimal("1E+29"), ""),
            (Decimal("79228162514264337593543950335.5"), ""),
            # Time is kept to the millisecond, and without a zone.
            (datetime.datetime(2024, 1, 1, 0, 0, 0, 123456), ""),
            (datetime.datetime(2024, 1, 1, 23, 59, 59, 999600), ""),
            (datetime.datetime(2024, 1, 1, tzinfo=UTC), ""),
        ]
        for value, text in inexact:
            with self.subTest(value=value):
                with self.assertRaises(quorvel.InexactError) as caught:
                    round_trip(value)
                self.assertEqual(caught.exception.number, 5)
                self.assertIn(text, caught.exception.description)
        with self.assertRaises(quorvel.InexactError) as caught:
            round_trip([1, [2, 2**96]])
        self.assertEqual(caught.exception.where, "[1][1]")
        # Day numbers outside the calendar, both ways.
        for call in (lambda: round_trip(datetime.datetime(99, 12, 31)),
                     lambda: self.pi.MsgPack_Decode(b"\xc7\x01" + struct.pack("<d", 2958466.0))):
            with self.assertRaises(quorvel.Error) as caught:
                call()
            self.assertEqual(caught.exception.number, 6)
        itself = []
        itself.append(itself)
        for value, error in [({1}, TypeError), (1j, TypeError), ({"a": 1}, TypeError),
                             (itself, RecursionError)]:
            with self.subTest(value=value):
                with self.assertRaises(error):
                    round_trip(value)
