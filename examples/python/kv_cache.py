#!/usr/bin/env python3
"""A cache of slow answers in a KxKVDB key-value file, kept between runs.

usage: kv_cache.py CACHE.kv WORD...

For each word the script prints its digest, computed the slow way only the
first time any run asks for it; later runs find it in the file. A word the
file cannot hold as it is (a character outside Windows-1252) is computed
every time rather than stored under a key that would not match it.
"""

import hashlib
import sys

from quorvel import kv


def slow_digest(word):
    # Stands in for real work: a hundred thousand rounds of hashing.
    digest = word.encode("utf-8")
    for _ in range(100_000):
        digest = hashlib.sha256(digest).digest()
    return digest.hex()[:16]


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    with kv.open(argv[1]) as cache:
        for word in argv[2:]:
            digest = cache.get(word)
            if digest is not None:
                print(word, digest, "(cached)")
                continue
            digest = slow_digest(word)
            try:
                cache[word] = digest
                print(word, digest, "(computed)")
            except UnicodeEncodeError:
                print(word, digest, "(not cacheable)")


if __name__ == "__main__":
    main(sys.argv)
