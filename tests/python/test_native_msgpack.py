"""quorvel.msgpack on native Python data: the conversion rules both ways,
exact by default, the dialect's losses on request, byte-exact output."""

import datetime
import math
import struct
import unittest
from decimal import Decimal

import quorvel
from quorvel import msgpack

UTC = datetime.timezone.utc


def currency(scaled):
    return b"\xc7\x02" + struct.pack("<q", scaled)


class MsgpackTest(unittest.TestCase):
    def test_values_come_back_equal_and_of_their_type(self):
        cases = [
            None, True, 0, -(2**31), 2**31 - 1, 2**31, -(2**49), 1.5, -0.0,
            math.inf, 5e-324, "", "h\u00e9llo \u20ac", "a\x00b", Decimal("1.5"),
            Decimal("-0.0001"), datetime.datetime(1899, 12, 29, 6, 0),
            datetime.datetime(9999, 12, 31, 23, 59, 59, 999000),
            {"a": [1, {"b": None, "": []}], "c d": {}},
        ]
        for value in cases:
            with self.subTest(value=str(value)[:40]):
                back = msgpack.unpackb(msgpack.packb(value))
                self.assertEqual((back, type(back)), (value, type(value)))
        self.assertTrue(math.isnan(msgpack.unpackb(msgpack.packb(math.nan))))
        self.assertEqual(math.copysign(1, msgpack.unpackb(msgpack.packb(-0.0))), -1)
        # What has no form of its own comes back as its nearest kin; Currency
        # whole as an int, else as a Decimal.
        for value, back in [((1, (2,)), [1, [2]]), (Decimal("2.500"), Decimal("2.5")),
                            (datetime.date(2024, 1, 1), datetime.datetime(2024, 1, 1)),
                            (Decimal("7"), 7), (currency(2**63 - 1), Decimal("922337203685477.5807"))]:
            with self.subTest(value=value):
                packed = value if isinstance(value, bytes) else msgpack.packb(value)
                self.assertEqual(repr(msgpack.unpackb(packed)), repr(back))

    def test_bytes_are_the_dialects(self):
        cases = [
            (None, b"\xc0"), (False, b"\xc2"), (True, b"\xc3"), (-1, b"\xd2\xff\xff\xff\xff"),
            (1.5, b"\xcb" + struct.pack("<d", 1.5)),
            ("\u00e9\u20ac", b"\xd9\x02\xe9\x80"),
            (Decimal("-1.5"), currency(-15000)),
            (2**31, currency(2**31 * 10000)),
            (datetime.datetime(1899, 12, 29, 6), b"\xc7\x01" + struct.pack("<d", -1.25)),
            ([1], b"\xdc\x00\x01\xd2\x01\x00\x00\x00"),
            ({"k": None}, b"\xde\x00\x01\xd9\x01k\xc0"),
        ]
        for value, encoded in cases:
            with self.subTest(value=value):
                self.assertEqual(msgpack.packb(value), encoded)

    def test_losses_are_refused_by_default_and_taken_on_request(self):
        # value, class refused with, where, what errors="replace" gives back,
        # and the description unless it is the text's
        cases = [
            ({"a": ["x", "y\u6771z"]}, quorvel.InexactTextError, "a[1]", {"a": ["x", "y?z"]}, ""),
            ({"\u6771 k": 1}, quorvel.InexactTextError, '["\u6771 k"]', {"? k": 1}, ""),
            ({"p": Decimal("0.123456")}, quorvel.InexactError, "p", {"p": Decimal("0.1235")},
             "the number 0.123456 at p would be rounded to 4 decimal places"),
            ({"d": Decimal("1E-29")}, quorvel.InexactError, "d", {"d": 0},
             "the number 1E-29 at d would be rounded to 28 decimal places"),
            ({"w": datetime.datetime(2000, 1, 1, 0, 0, 0, 123456)}, quorvel.InexactError, "w",
             {"w": datetime.datetime(2000, 1, 1, 0, 0, 0, 123000)},
             "the datetime 2000-01-01T00:00:00.123456 at w has microseconds, "
             "which a Date keeps only to the millisecond"),
            ({"t": [datetime.datetime(2024, 1, 1, 12, tzinfo=UTC)]}, quorvel.InexactError, "t[0]",
             {"t": [datetime.datetime(2024, 1, 1, 12)]}, "the datetime 2024-01-01T12:00:00+00:00 "
             "at t[0] has a time zone, which a Date does not keep"),
            ({"n": [2**100]}, quorvel.InexactError, "n[0]", {"n": [float(2**100)]},
             "the integer 1267650600228229401496703205376 at n[0] "
             "has more than 96 bits and would be rounded to a Double"),
            (Decimal("8E+28"), quorvel.InexactError, "", 8e28, ""),
        ]
        for value, error, where, replaced, description in cases:
            with self.subTest(value=value):
                with self.assertRaises(error) as caught:
                    msgpack.packb(value)
                e = caught.exception
                self.assertEqual((e.number, e.where, isinstance(e, ValueError)), (5, where, True))
                if description:
                    self.assertEqual(e.description, description)
                self.assertEqual(msgpack.unpackb(msgpack.packb(value, errors="replace")),
                                 replaced)
        self.assertTrue(math.isnan(msgpack.unpackb(
            msgpack.packb(Decimal("NaN"), errors="replace"))))
        with self.assertRaises(UnicodeEncodeError) as caught:
            msgpack.packb({"a": {"b c": ["ok", "\U0001F600x\u6771"]}})
        e = caught.exception
        self.assertEqual((e.encoding, e.object, e.start, e.end, e.where),
                         ("cp1252", "\U0001F600x\u6771", 0, 1, 'a["b c"][1]'))
        self.assertIn("U+1F600", e.description)
        self.assertIn('a["b c"][1]', str(e))

    def test_values_without_any_form(self):
        itself = []
        itself.append(itself)
        for value, error in [(datetime.date(99, 12, 31), quorvel.NumberOverflowError),
                             ({"x": {1: 2}}, TypeError), (datetime.time(12), TypeError),
                             (itself, RecursionError)]:
            for errors in ("strict", "replace"):
                with self.subTest(value=value, errors=errors):
                    self.assertRaises(error, msgpack.packb, value, errors=errors)
        with self.assertRaises(TypeError) as caught:
            msgpack.packb({"x": [1, {2: 3}]})
        self.assertIn("x[1]", str(caught.exception))
        # The dialect's own refusals: no bytes; no Currency or count past its
        # range, even on request.
        for value, where in [({"b": b"x"}, "b"), ({"k": [0] * 65536}, "k"), ("x" * 65536, "")]:
            with self.assertRaises(quorvel.InexactError) as caught:
                msgpack.packb(value)
            self.assertEqual(caught.exception.where, where)
        for value in (10**400, 2**60, "x" * 65536):
            self.assertRaises(quorvel.NumberOverflowError, msgpack.packb, value, errors="replace")
        self.assertRaises(ValueError, msgpack.packb, 1, errors="ignore")

    def test_bad_data(self):
        for data, error, number in [
            (b"", quorvel.SubscriptError, 9), (b"\xd2\x01", quorvel.SubscriptError, 9),
            (b"\xc1", quorvel.ArgumentError, 5), (b"\xc0\xc0", quorvel.ArgumentError, 5),
            (b"\xc7\x01" + struct.pack("<d", 2958466.0), quorvel.NumberOverflowError, 6),
        ]:
            with self.subTest(data=data):
                with self.assertRaises(error) as caught:
                    msgpack.unpackb(data)
                self.assertEqual(caught.exception.number, number)
        self.assertEqual((msgpack.unpackb(bytearray(b"\xc3")), msgpack.unpackb(memoryview(b"\xd9\x01\x80"))),
                         (True, "\u20ac"))
