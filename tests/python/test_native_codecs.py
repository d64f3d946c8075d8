"""quorvel.lzss, quorvel.base64, quorvel.rc4 and quorvel.verhoeff on bytes
and str; quorvel.csv: RFC 4180 text, and the classes' own reading, into rows."""

import base64 as std_base64
import os
import random
import struct
import unittest
import zlib

import quorvel
from quorvel import base64, csv, lzss, rc4, verhoeff

MAGIC = b"\x8eQLZSS1\r\n\x1a\n"


class CodecsTest(unittest.TestCase):
    def test_lzss_round_trips_framed_and_bare(self):
        rng = random.Random(7)
        for data in [b"a", bytes(rng.getrandbits(8) for _ in range(5000)),
                     bytearray(b"xyz" * 30), memoryview(b"0123456789" * 9)]:
            for framed in (True, False):
                with self.subTest(size=len(data), framed=framed):
                    packed = lzss.compress(data, framed=framed)
                    self.assertEqual(lzss.decompress(packed, framed=framed), bytes(data))
        # The formats' bytes: a bare stream, and a frame around it.
        self.assertEqual(lzss.compress(b"aaaa", framed=False), b"\x01a\x01\x00")
        data = b"hello, hello, hello"
        frame = lzss.compress(data)
        self.assertEqual((frame[:11], frame[11:-12], frame[-12:]),
                         (MAGIC, lzss.compress(data, framed=False),
                          struct.pack("<QI", len(data), zlib.crc32(data))))
        self.assertEqual(lzss.compress(b""), MAGIC + struct.pack("<QI", 0, 0))
        self.assertEqual(lzss.decompress(lzss.compress(b"")), b"")
        for data, framed in [(frame[:-1], True), (frame[:-1] + bytes([frame[-1] ^ 1]), True),
                             (b"", False), (b"\x01a\x05", False)]:
            with self.subTest(data=data, framed=framed):
                with self.assertRaises(quorvel.SubscriptError):
                    lzss.decompress(data, framed=framed)
        with self.assertRaises(quorvel.SubscriptError):
            lzss.compress(b"", framed=False)
        with self.assertRaises(TypeError):
            lzss.compress("text")

    def test_base64_rc4_and_verhoeff(self):
        for size in (0, 1, 2, 3, 100000):
            data = os.urandom(size)
            text = base64.encode(data)
            self.assertEqual(text, std_base64.b64encode(data).decode())
            self.assertEqual((base64.decode(text), base64.decode(text.encode())), (data, data))
        self.assertEqual(base64.decode("Zm9v\r\nYmFy"), b"foobar")
        for text, error, number in [("Zg", quorvel.SubscriptError, 9),
                                    ("Zm9vZg", quorvel.ArgumentError, 5),
                                    ("\u6771m9v", quorvel.NumberOverflowError, 6)]:
            with self.assertRaises(error) as caught:
                base64.decode(text)
            self.assertEqual(caught.exception.number, number)

        self.assertEqual((rc4.encrypt("Plaintext", "Key"), rc4.encrypt("", "k")),
                         ("BBF316E8D940AF0AD3", ""))
        self.assertEqual(rc4.decrypt(rc4.encrypt("\u20ac\u00ff", "k\u00e9y"), "k\u00e9y"),
                         "\u20ac\u00ff")
        # Text and key exactly, or refused naming the place.
        for text, key, where, start in [("a\u6771", "k", "text", 1), ("a\x00b", "k", "text", 1),
                                        ("ab", "\U0001F600", "key", 0)]:
            with self.subTest(text=text, key=key):
                with self.assertRaises(quorvel.InexactTextError) as caught:
                    rc4.encrypt(text, key)
                e = caught.exception
                self.assertEqual((e.where, e.start, e.object),
                                 (where, start, text if where == "text" else key))
        self.assertEqual(rc4.decrypt(rc4.encrypt("a\u6771", "k", errors="replace"), "k"), "a?")
        # The empty key is the cipher's own error, before any other.
        for call in (lambda: rc4.encrypt("\u6771", ""), lambda: rc4.decrypt("00", "")):
            with self.assertRaises(quorvel.Error) as caught:
                call()
            self.assertEqual(caught.exception.number, 11)
        with self.assertRaises(quorvel.TypeMismatchError):
            rc4.decrypt("0G", "k")

        for digits, check in [("236", 3), (236, 3), ("142857", 0)]:
            self.assertEqual(verhoeff.generate(digits), check)
            self.assertTrue(verhoeff.validate(f"{digits}{check}"))
            self.assertFalse(verhoeff.validate(f"{digits}{(check + 1) % 10}"))
        self.assertFalse(verhoeff.validate("abc"))
        for call in (lambda: verhoeff.generate(""), lambda: verhoeff.validate("+123")):
            with self.assertRaises(quorvel.SubscriptError):
                call()
        with self.assertRaises(TypeError):
            verhoeff.generate(True)


class CsvTest(unittest.TestCase):
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
            ("a", {"standard": False, "comment": "#"}, ValueError, None),
        ]
        for text, options, error, place in cases:
            with self.subTest(text=text, options=options):
                with self.assertRaises(error) as caught:
                    csv.read(text, **options)
                if place:
                    self.assertEqual((caught.exception.source, caught.exception.number), ("CSV", 9))
                    self.assertTrue(caught.exception.description.startswith(place))
