"""Standard Base64 (alphabet A-Z a-z 0-9 + /, "=" padding) through the
library's codec.

    from quorvel import base64
    base64.encode(b"\\x00\\xff")    # 'AP8='
    base64.decode("AP8=")          # b'\\x00\\xff'

The text is one unbroken line. Decoding drops CR LF pairs and reads groups
of four characters as the library does: a character outside the alphabet
counts as a pad in the third or fourth place of a group. The empty text
is the empty bytes' both ways.
"""

from quorvel import _native

__all__ = ["decode", "encode"]


def encode(data):
    """Returns the Base64 text (str) of ``data`` (bytes-like)."""
    return _native.base64_encode(data)


def decode(text):
    """Returns the bytes that ``text`` (str or ASCII bytes) spells. Raises
    quorvel.SubscriptError when fewer than four characters remain,
    quorvel.ArgumentError when the last group is short and
    quorvel.NumberOverflowError when a group begins outside the alphabet."""
    return _native.base64_decode(text)
