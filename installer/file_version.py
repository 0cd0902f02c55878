#!/usr/bin/env python3
"""Prints the file version of a Windows program's version resource as a.b.c.d.

Reads the fixed-size part of the resource (VS_FIXEDFILEINFO), which is what Windows Installer
compares; prints nothing and fails when the file has none.
"""
import struct
import sys

FIXED_INFO_SIGNATURE = b"\xbd\x04\xef\xfe"


def file_version(data):
    at = data.find(FIXED_INFO_SIGNATURE)
    if at < 0:
        return None
    most, least = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)


def main():
    with open(sys.argv[1], "rb") as program:
        version = file_version(program.read())
    if version is None:
        sys.stderr.write("%s: no version resource\n" % sys.argv[1])
        return 1
    print(version)
    return 0


if __name__ == "__main__":
    sys.exit(main())
