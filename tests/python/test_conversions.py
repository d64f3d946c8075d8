"""Python values into the library and back, at the edges of each rule."""

import datetime
import math
import struct
import unittest
from decimal import Decimal

import quorvel


def round_trip(value):
    """Stores a value in a CArray and reads it back."""
    array = quorvel.CreateObject("CArray")
    array.Add(value)
    return array.Item(0)


class KindsTest(unittest.TestCase):
    def setUp(self):
        self.pi = quorvel.CreateObject("CQuorvelPI")

    def encoded(self, value):
        """The library's MessagePack form of a value tells its kind."""
        return self.pi.MsgPack_Encode(value)

    def test_scalars_come_back_as_they_went(self):
        cases = [
            None,
            quorvel.Null,
            True,
            False,
            0,
            -(2**31),
            2**31 - 1,
            1.5,
            -0.0,
            math.inf,
            5e-324,
            "",
            "h\u00e9llo \u20ac",
            "\U0001F600",
            "a\x00b",
            quorvel.ErrorValue(0x800A0005),
        ]
        for value in cases:
            with self.subTest(value=value):
                back = round_trip(value)
                self.assertEqual(back, value)
                self.assertIs(type(back), type(value))
        self.assertTrue(math.isnan(round_trip(math.nan)))
        self.assertEqual(math.copysign(1, round_trip(-0.0)), -1)

    def test_ints_are_long_then_decimal_then_overflow(self):
        for value in (-(2**31), 2**31 - 1):
            self.assertEqual(self.encoded(value), b"\xd2" + struct.pack("<i", value))
        # Past 32 bits an int is a Decimal, which comes back as one.
        for value in (2**31, -(2**31) - 1, 2**96 - 1, -(2**96) + 1, 2**64):
            with self.subTest(value=value):
                back = round_trip(value)
                self.assertIsInstance(back, Decimal)
                self.assertEqual(back, value)
        # MessagePack writes a Decimal as Currency: the kind is Decimal.
        self.assertEqual(
            self.encoded(2**31), b"\xc7\x02" + struct.pack("<q", 2**31 * 10000)
        )
        # Beyond 96 bits it would be rounded to a Double: refused.
        for value in (2**96, -(2**96), 10**40):
            with self.subTest(value=value):
                with self.assertRaises(quorvel.InexactError) as caught:
                    round_trip(value)
                self.assertEqual(caught.exception.number, 5)
                self.assertIn("more than 96 bits", caught.exception.description)
        with self.assertRaises(quorvel.InexactError) as caught:
            round_trip([1, [2, 2**96]])
        self.assertEqual(caught.exception.where, "[1][1]")

    def test_decimals_keep_scale_and_round_to_the_limits(self):
        cases = {
            "1.50": "1.50",
            "-79228162514264337593543950335": "-79228162514264337593543950335",
            "7.9228162514264337593543950335": "7.9228162514264337593543950335",
            "0.0000000000000000000000000001": "1E-28",
            # Trailing zeros past 28 places go: the value stays.
            "1.0000000000000000000000000000000": "1.0000000000000000000000000000",
            "1E+28": "10000000000000000000000000000",
            "-0": "-0",
        }
        for given, expected in cases.items():
            with self.subTest(given=given):
                back = round_trip(Decimal(given))
                self.assertEqual(str(back), str(Decimal(expected)))
        # What a Decimal would round, or not hold at all, is refused.
        for given in ("0.00000000000000000000000000015", "1E-40",
                      "7922816251426433759354395033.55", "NaN", "Infinity",
                      "-Infinity", "1E+29", "79228162514264337593543950335.5"):
            with self.subTest(given=given):
                with self.assertRaises(quorvel.InexactError) as caught:
                    round_trip(Decimal(given))
                self.assertEqual(caught.exception.number, 5)

    def test_an_integer_comes_back_as_int(self):
        # Verhoeff_Generate returns the library's 16-bit Integer.
        digit = self.pi.Verhoeff_Generate("236")
        self.assertEqual((digit, type(digit)), (3, int))

    def test_currency_comes_back_as_decimal(self):
        def currency(scaled):
            return self.pi.MsgPack_Decode(b"\xc7\x02" + struct.pack("<q", scaled))

        self.assertEqual(str(currency(-(2**63))), "-922337203685477.5808")
        self.assertEqual(str(currency(2**63 - 1)), "922337203685477.5807")
        self.assertEqual(str(currency(15000)), "1.5000")
        self.assertIsInstance(currency(0), Decimal)

    def test_dates_both_ways(self):
        cases = [
            datetime.datetime(2024, 2, 29, 13, 45, 30, 123000),
            datetime.datetime(1899, 12, 30),  # day number 0
            datetime.datetime(1899, 12, 29, 6, 0),  # day number -1.25
            datetime.datetime(100, 1, 1),
            datetime.datetime(9999, 12, 31, 23, 59, 59, 999000),
        ]
        for value in cases:
            with self.subTest(value=value):
                self.assertEqual(round_trip(value), value)
        self.assertEqual(
            self.encoded(datetime.datetime(1899, 12, 29, 6, 0)),
            b"\xc7\x01" + struct.pack("<d", -1.25),
        )
        # A date is midnight; time is kept to the millisecond, so finer
        # times and time zones are refused.
        self.assertEqual(
            round_trip(datetime.date(2024, 1, 1)), datetime.datetime(2024, 1, 1)
        )
        utc = datetime.timezone.utc
        for value in (datetime.datetime(2024, 1, 1, 0, 0, 0, 123456),
                      datetime.datetime(2024, 1, 1, 23, 59, 59, 999600),
                      datetime.datetime(2024, 1, 1, tzinfo=utc)):
            with self.subTest(value=value):
                with self.assertRaises(quorvel.InexactError):
                    round_trip(value)
        with self.assertRaises(quorvel.Error) as caught:
            round_trip(datetime.datetime(99, 12, 31))
        self.assertEqual(caught.exception.number, 6)
        # Day numbers outside the calendar are refused on the way in too.
        with self.assertRaises(quorvel.Error) as caught:
            self.pi.MsgPack_Decode(b"\xc7\x01" + struct.pack("<d", 2958466.0))
        self.assertEqual(caught.exception.number, 6)

    def test_lone_surrogates_survive(self):
        for text in ("\ud800", "a\udfffb", "\udc00\ud800", "\ud83d"):
            with self.subTest(text=text):
                self.assertEqual(round_trip(text), text)
        # Two halves given separately come back as the pair they make.
        self.assertEqual(round_trip("\ud83d\ude00"), "\U0001F600")

    def test_bytes_and_arrays(self):
        self.assertEqual(round_trip(b""), b"")
        self.assertEqual(round_trip(bytes(range(256))), bytes(range(256)))
        self.assertEqual(round_trip(bytearray(b"\x00\xff")), b"\x00\xff")
        self.assertEqual(self.pi.Base64_Encode(b"\x00\x01\xfe\xff"), "AAH+/w==")

        nested = [1, "a", None, [2.5, [quorvel.Null]], ()]
        self.assertEqual(round_trip(nested), [1, "a", None, [2.5, [quorvel.Null]], []])
        self.assertEqual(round_trip((1, 2)), [1, 2])

        grid = quorvel.Array([[1, 2, 3], [4, 5, 6]], bounds=((0, 1), (1, 3)))
        back = round_trip(grid)
        self.assertIsInstance(back, quorvel.Array)
        self.assertEqual(back, grid)
        self.assertEqual(back.bounds, ((0, 1), (1, 3)))
        from_one = round_trip(quorvel.Array([7, 8], bounds=((1, 2),)))
        self.assertEqual((from_one, from_one.bounds), ([7, 8], ((1, 2),)))

        with self.assertRaises(ValueError):
            round_trip(quorvel.Array([[1, 2], [3]], bounds=((0, 1), (0, 1))))

    def test_values_without_a_value_form(self):
        for value in ({1}, object(), 1j, {"a": 1}, round_trip):
            with self.subTest(value=value):
                with self.assertRaises(TypeError):
                    round_trip(value)
        itself = []
        itself.append(itself)
        with self.assertRaises(RecursionError):
            round_trip(itself)


if __name__ == "__main__":
    unittest.main()
