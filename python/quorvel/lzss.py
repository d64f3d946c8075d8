"""The library's LZSS compression on bytes.

    from quorvel import lzss
    packed = lzss.compress(data)
    assert lzss.decompress(packed) == data

By default the stream goes in a frame (a magic, the length and a CRC-32),
so that a cut or a changed byte is refused instead of restored into other
bytes. ``framed=False`` reads and writes the bare stream, which is what
other clients of the format exchange; it carries no check at all. The
interpreter lock is released while large data is worked on.
"""

from quorvel import _native

__all__ = ["compress", "decompress"]


def compress(data, *, framed=True):
    """Returns the compressed form of ``data`` (bytes-like). The bare stream
    of no bytes does not exist: quorvel.SubscriptError."""
    return _native.lzss_compress(data, framed)


def decompress(data, *, framed=True):
    """Returns the bytes ``data`` restores. Raises quorvel.SubscriptError
    (error 9) for data that is not such a stream or frame: a frame names
    the offset and the reason."""
    return _native.lzss_decompress(data, framed)
