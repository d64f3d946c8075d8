"""quorvel.lzss, quorvel.base64, quorvel.rc4 and quorvel.verhoeff on bytes
and str, and the interpreter lock given up meanwhile."""

import base64 as std_base64
import os
import random
import struct
import threading
import unittest
import zlib

import quorvel
from quorvel import base64, lzss, rc4, verhoeff

MAGIC = b"\x8eQLZSS1\r\n\x1a\n"


class CodecsTest(unittest.TestCase):
    def test_lzss_round_trips_framed_and_bare(self):
        rng = random.Random(7)
        for data in [b"a", b"abc" * 1000, bytes(rng.getrandbits(8) for _ in range(5000)),
                     bytearray(b"xyz" * 30), memoryview(b"0123456789" * 9)]:
            for framed in (True, False):
                with self.subTest(size=len(data), framed=framed):
                    packed = lzss.compress(data, framed=framed)
                    self.assertEqual(packed.startswith(MAGIC), framed)
                    self.assertEqual(lzss.decompress(packed, framed=framed), bytes(data))
        # The formats' bytes: a bare stream, and a frame around it.
        self.assertEqual(lzss.compress(b"aaaa", framed=False), b"\x01a\x01\x00")
        data = b"hello, hello, hello"
        frame = lzss.compress(data)
        self.assertEqual(frame[:11], MAGIC)
        self.assertEqual(frame[11:-12], lzss.compress(data, framed=False))
        self.assertEqual(frame[-12:], struct.pack("<QI", len(data), zlib.crc32(data)))
        self.assertEqual(lzss.compress(b""), MAGIC + struct.pack("<QI", 0, 0))
        self.assertEqual(lzss.decompress(lzss.compress(b"")), b"")
        # Damage is refused.
        frame = lzss.compress(b"some text, some text, some more text")
        for data, framed in [(frame[:-1], True), (frame[:5], True),
                             (frame[:20] + b"\xff" + frame[21:], True),
                             (frame[:-1] + bytes([frame[-1] ^ 1]), True), (b"\x01a", True),
                             (b"", False), (b"\x00\x01", False), (b"\x01a\x05", False)]:
            with self.subTest(data=data, framed=framed):
                with self.assertRaises(quorvel.SubscriptError):
                    lzss.decompress(data, framed=framed)
        with self.assertRaises(quorvel.SubscriptError):
            lzss.compress(b"", framed=False)
        with self.assertRaises(TypeError):
            lzss.compress("text")

    def test_other_threads_run_while_lzss_works(self):
        data = (os.urandom(4096) + bytes(4096)) * 1024
        done = threading.Event()
        ticks = 0

        def work():
            lzss.decompress(lzss.compress(data))
            done.set()

        worker = threading.Thread(target=work)
        worker.start()
        while not done.is_set():
            ticks += 1
        worker.join()
        self.assertGreater(ticks, 1000)  # holding the lock, a few turns

    def test_base64(self):
        rng = random.Random(3)
        for size in (0, 1, 2, 3, 57, 100000):
            data = bytes(rng.getrandbits(8) for _ in range(size))
            with self.subTest(size=size):
                text = base64.encode(data)
                self.assertEqual(text, std_base64.b64encode(data).decode())
                self.assertEqual((base64.decode(text), base64.decode(text.encode())), (data, data))
        self.assertEqual(base64.decode("Zm9v\r\nYmFy"), b"foobar")
        self.assertEqual(base64.decode("Zg==Zg=="), b"ff")
        for text, error, number in [("Zg", quorvel.SubscriptError, 9),
                                    ("Zm9vZg", quorvel.ArgumentError, 5),
                                    ("*m9v", quorvel.NumberOverflowError, 6),
                                    ("\u6771m9v", quorvel.NumberOverflowError, 6)]:
            with self.subTest(text=text):
                with self.assertRaises(error) as caught:
                    base64.decode(text)
                self.assertEqual(caught.exception.number, number)

    def test_rc4(self):
        for text, key, hex_text in [("Plaintext", "Key", "BBF316E8D940AF0AD3"),
                                    ("pedia", "Wiki", "1021BF0420"),
                                    ("\u20ac\u00ff", "k\u00e9y", None), ("", "k", "")]:
            with self.subTest(text=text):
                encrypted = rc4.encrypt(text, key)
                if hex_text is not None:
                    self.assertEqual(encrypted, hex_text)
                self.assertEqual(rc4.decrypt(encrypted, key), text)
        # Text and key exactly, or refused naming the place.
        for text, key, where, start in [("a\u6771", "k", "text", 1), ("a\x00b", "k", "text", 1),
                                        ("ab", "\U0001F600", "key", 0)]:
            with self.subTest(text=text, key=key):
                with self.assertRaises(quorvel.InexactTextError) as caught:
                    rc4.encrypt(text, key)
                e = caught.exception
                self.assertIsInstance(e, UnicodeEncodeError)
                self.assertEqual((e.where, e.start, e.object),
                                 (where, start, text if where == "text" else key))
                replaced = rc4.decrypt(rc4.encrypt(text, key, errors="replace"), key,
                                       errors="replace")
                if "\x00" not in text:
                    self.assertEqual(replaced, text.replace("\u6771", "?"))
        with self.assertRaises(quorvel.InexactTextError):
            rc4.decrypt("00", "\u6771")
        # The empty key is the cipher's own error, before any other.
        for call in (lambda: rc4.encrypt("\u6771", ""), lambda: rc4.decrypt("00", "")):
            with self.assertRaises(quorvel.Error) as caught:
                call()
            self.assertEqual(caught.exception.number, 11)
        with self.assertRaises(quorvel.TypeMismatchError):
            rc4.decrypt("0G", "k")

    def test_verhoeff(self):
        for digits, check in [("236", 3), ("0", 4), ("12345", 1), (236, 3), ("142857", 0)]:
            with self.subTest(digits=digits):
                self.assertEqual(verhoeff.generate(digits), check)
                self.assertTrue(verhoeff.validate(f"{digits}{check}"))
                self.assertFalse(verhoeff.validate(f"{digits}{(check + 1) % 10}"))
        self.assertFalse(verhoeff.validate("abc"))
        for call in (lambda: verhoeff.generate(""), lambda: verhoeff.generate("12a"),
                     lambda: verhoeff.validate("+123")):
            with self.assertRaises(quorvel.SubscriptError):
                call()
        with self.assertRaises(TypeError):
            verhoeff.generate(True)


if __name__ == "__main__":
    unittest.main()
