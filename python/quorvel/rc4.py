"""The library's RC4 on text, written as upper-case hex.

    from quorvel import rc4
    hex_text = rc4.encrypt("attack at dawn", "key")
    rc4.decrypt(hex_text, "key")    # 'attack at dawn'

Text and key are taken one Windows-1252 byte per character. By default a
character without a byte (which would be enciphered as "?") is refused with
quorvel.InexactTextError, in the key and in the text, and so is U+0000 in
the text, which deciphers to another character; ``errors="replace"`` takes
the cipher's losses.
"""

from quorvel import _native

__all__ = ["decrypt", "encrypt"]


def encrypt(text, key, *, errors="strict"):
    """Returns the enciphered ``text`` as upper-case hex, two digits per
    character. Raises quorvel.Error 11 for an empty key."""
    return _native.rc4_encrypt(text, key, errors)


def decrypt(hex_text, key, *, errors="strict"):
    """Returns the text that ``hex_text`` enciphers. Raises
    quorvel.TypeMismatchError for text that is not hex, quorvel.Error 11
    for an empty key."""
    return _native.rc4_decrypt(hex_text, key, errors)
