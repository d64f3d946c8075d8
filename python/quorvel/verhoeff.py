"""Verhoeff check digits, which catch every single-digit error and every
swap of adjacent digits.

    from quorvel import verhoeff
    verhoeff.generate("236")      # 3
    verhoeff.validate("2363")     # True
"""

from quorvel import _native

__all__ = ["generate", "validate"]


def generate(digits):
    """Returns the check digit (0 to 9) to append to ``digits`` (a str of
    the digits 0 to 9, or an int). Raises quorvel.SubscriptError for
    anything else, the empty text included."""
    return _native.verhoeff_generate(digits)


def validate(number):
    """Returns whether the last digit of ``number`` (str or int) is the
    check digit of the digits before it; False for text that is not a
    number. Raises quorvel.SubscriptError for a number written with
    anything but digits (a sign, a point, blanks)."""
    return _native.verhoeff_validate(number)
