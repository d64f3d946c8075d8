#!/usr/bin/env python3
"""Packs the data of a JSON file in the library's MessagePack dialect and
unpacks it again.

usage: msgpack_round_trip.py FILE.json [--replace]

The dialect keeps text in Windows-1252 and a number with a fraction to four
decimal places, so not every value survives it: by default what would not
come back equal is refused, with the place it sits in; --replace packs it
anyway, taking the losses, and shows what changed.
"""

import sys

import quorvel
from quorvel import json, msgpack


def round_trip(path, replace=False):
    with open(path, "rb") as source:
        data = json.loads(source.read())
    try:
        packed = msgpack.packb(data, errors="replace" if replace else "strict")
    except quorvel.InexactError as e:
        print(f"refused at {e.where or 'the top'}: {e.description}")
        return 1
    back = msgpack.unpackb(packed)
    print(f"{len(json.dumps(data).encode())} bytes of JSON, {len(packed)} bytes packed")
    if back == data:
        print("came back equal")
    else:
        print(f"came back as {json.dumps(back)}")
    return 0


def main(argv):
    flags = {a for a in argv[1:] if a.startswith("--")}
    args = [a for a in argv[1:] if not a.startswith("--")]
    if len(args) != 1 or not flags <= {"--replace"}:
        sys.exit(__doc__)
    sys.exit(round_trip(args[0], "--replace" in flags))


if __name__ == "__main__":
    main(sys.argv)
