#!/usr/bin/env python3
"""A cache of slow answers in a KxKVDB key-value file, kept between runs.

usage: kv_cache.py CACHE.kv WORD...

For each word the script prints its digest, computed the slow way only the
first time any run asks for it; later runs find it in the file.
"""

import hashlib
import sys

import quorvel


def slow_digest(word):
    # Stands in for real work: a hundred thousand rounds of hashing.
    digest = word.encode("utf-8")
    for _ in range(100_000):
        digest = hashlib.sha256(digest).digest()
    return digest.hex()[:16]


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    cache = quorvel.CreateObject("KxKVDB")
    cache.OpenDB(argv[1])
    try:
        for word in argv[2:]:
            known = word in cache.Keys
            if not known:
                cache[word] = slow_digest(word)
            print(word, cache[word], "(cached)" if known else "(computed)")
    finally:
        cache.CloseDB()


if __name__ == "__main__":
    main(sys.argv)
