#!/usr/bin/python3
"""Writes the release package: TavokRemover-<version>-win32.zip with the
program, its read-me and SHA256SUMS, in one folder of that name. The same
inputs and date give the same bytes: fixed entry dates and permissions,
entries in sorted order.

Usage: package.py RESOURCE_SCRIPT PRODUCT.exe README_TEMPLATE OUTPUT_DIR EPOCH
"""
import hashlib
import os
import re
import sys
import time
import zipfile

EXE = "TavokRemover.exe"


def version_of(resource_script):
    """The version of the program's version block, e.g. "1.0.0.1"; the
    numeric and the text form must agree."""
    text = open(resource_script, encoding="utf-8").read()
    numbers = re.search(r"^\s*FILEVERSION\s+(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*,\s*(\d+)\s*$", text, re.M)
    if not numbers:
        raise SystemExit("no FILEVERSION in " + resource_script)
    words = re.search(r'VALUE\s+"FileVersion"\s*,\s*"([^"]*)"', text)
    if not words or [w.strip() for w in words.group(1).split(",")] != list(numbers.groups()):
        raise SystemExit("FILEVERSION and \"FileVersion\" disagree in " + resource_script)
    return ".".join(numbers.groups())


def read_me(template, version):
    """UTF-8 with a byte order mark and CRLF line ends, as Notepad wants
    them: before Windows 10 it takes the mark as the sign of UTF-8, and
    reads text without it in the ANSI code page."""
    text = open(template, encoding="utf-8").read().replace("@VERSION@", version)
    return b"\xef\xbb\xbf" + text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8")


def main():
    resource_script, product, template, output_dir, epoch = sys.argv[1:6]
    version = version_of(resource_script)
    exe = open(product, "rb").read()
    exe_hash = hashlib.sha256(exe).hexdigest()
    folder = "TavokRemover-%s-win32" % version
    files = {
        EXE: exe,
        "README.txt": read_me(template, version),
        # sha256sum's own format, which it checks with -c.
        "SHA256SUMS": ("%s  %s\n" % (exe_hash, EXE)).encode("ascii"),
    }

    # Zip times are local times in two-second steps from 1980 on; the same
    # date is written for every entry whatever the machine's time zone.
    date = time.gmtime(max(int(epoch), 315532800))[:6]
    os.makedirs(output_dir, exist_ok=True)
    package = os.path.join(output_dir, folder + ".zip")
    partial = package + ".part"
    with zipfile.ZipFile(partial, "w") as archive:
        for name in sorted(files):
            entry = zipfile.ZipInfo(folder + "/" + name, date_time=date)
            entry.create_system = 3
            entry.external_attr = 0o100644 << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, files[name], compresslevel=9)
    os.replace(partial, package)

    package_hash = hashlib.sha256(open(package, "rb").read()).hexdigest()
    print("%s  %s (version %s)" % (exe_hash, EXE, version))
    print("%s  %s" % (package_hash, package))


if __name__ == "__main__":
    main()
