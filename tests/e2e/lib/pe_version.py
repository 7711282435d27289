#!/usr/bin/env python3
"""Prints the version a Windows program carries, as Explorer shows it:
   fixed=<FILEVERSION numbers> product=<ProductVersion> file=<FileVersion>
   manifest=<the Kestrova assembly's version, if the program has a manifest>
usage: pe_version.py PROGRAM.exe
"""
import re
import struct
import sys


def string_value(data, key):
    needle = key.encode("utf-16le") + b"\0\0"
    at = data.find(needle)
    if at < 0:
        return ""
    at += len(needle)
    while at % 4:  # values start on a 32-bit boundary
        at += 1
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16le")


def main():
    data = open(sys.argv[1], "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    fixed = ""
    if at >= 0:
        ms, ls = struct.unpack_from("<II", data, at + 8)
        fixed = "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    m = re.search(rb'<assemblyIdentity type="win32" name="Kestrova" version="([0-9.]+)"', data)
    print("fixed=%s product=%s file=%s manifest=%s" % (
        fixed, string_value(data, "ProductVersion"), string_value(data, "FileVersion"),
        m.group(1).decode() if m else ""))


if __name__ == "__main__":
    main()
