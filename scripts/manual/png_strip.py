#!/usr/bin/env python3
"""Removes text and time chunks from PNG files, in place.

sox and Graphviz write none today, but a tool version that stamps a date or
its own version into the picture would make the committed images change on
every run; the pixels are all the manual needs.

usage: png_strip.py FILE.png...
"""

import struct
import sys
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"
DROPPED = {b"tEXt", b"zTXt", b"iTXt", b"tIME"}


def strip(path):
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(SIGNATURE):
        sys.exit("png_strip: %s is not a PNG file" % path)
    out = [SIGNATURE]
    pos = len(SIGNATURE)
    changed = False
    while pos < len(data):
        if pos + 12 > len(data):
            sys.exit("png_strip: %s is truncated" % path)
        (length,) = struct.unpack(">I", data[pos:pos + 4])
        kind = data[pos + 4:pos + 8]
        end = pos + 12 + length
        if end > len(data) or zlib.crc32(data[pos + 4:end - 4]) != struct.unpack(">I", data[end - 4:end])[0]:
            sys.exit("png_strip: %s has a damaged %r chunk" % (path, kind))
        if kind in DROPPED:
            changed = True
        else:
            out.append(data[pos:end])
        pos = end
    if changed:
        with open(path, "wb") as f:
            f.write(b"".join(out))


def main():
    for path in sys.argv[1:]:
        strip(path)


if __name__ == "__main__":
    main()
