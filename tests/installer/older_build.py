#!/usr/bin/env python3
"""Copies built programs as an older build: the same code with a lower version.

Usage: older_build.py <version a.b.c> <from folder> <to folder> <file>...

Rewrites the fixed part of each version resource (VS_FIXEDFILEINFO), which is what Windows
Installer compares when it decides whether a file is older. The text values of the resource keep
the build's own version: their lengths may differ and nothing compares them.
"""
import os
import struct
import sys

FIXED_INFO_SIGNATURE = b"\xbd\x04\xef\xfe"


def main():
    version, source, target = sys.argv[1:4]
    major, minor, patch = (int(part) for part in version.split("."))
    most, least = (major << 16) | minor, patch << 16
    os.makedirs(target, exist_ok=True)
    for name in sys.argv[4:]:
        with open(os.path.join(source, name), "rb") as program:
            data = bytearray(program.read())
        at = data.find(FIXED_INFO_SIGNATURE)
        if at < 0:
            sys.stderr.write("%s: no version resource\n" % name)
            return 1
        # File version, then product version, after the signature and the structure version.
        struct.pack_into("<IIII", data, at + 8, most, least, most, least)
        with open(os.path.join(target, name), "wb") as program:
            program.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
