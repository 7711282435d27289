#!/usr/bin/env python3
"""Writes a zip of a folder's files that is the same byte for byte on every
run: names sorted, every entry dated SOURCE_DATE_EPOCH (zip dates start in
1980), fixed permissions, no extra fields.

usage: make_zip.py OUT.zip FOLDER
"""
import os
import sys
import time
import zipfile


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    out, folder = sys.argv[1], sys.argv[2]
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH", "315532800"))
    date = time.gmtime(max(epoch, 315532800))[:6]
    names = []
    for base, dirs, files in os.walk(folder):
        dirs.sort()
        for f in files:
            names.append(os.path.relpath(os.path.join(base, f), folder))
    names.sort()
    tmp = out + ".tmp"
    with zipfile.ZipFile(tmp, "w") as z:
        for name in names:
            info = zipfile.ZipInfo(name.replace(os.sep, "/"), date_time=date)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o100644 << 16
            with open(os.path.join(folder, name), "rb") as f:
                z.writestr(info, f.read(), compress_type=zipfile.ZIP_DEFLATED, compresslevel=9)
    os.replace(tmp, out)


if __name__ == "__main__":
    main()
