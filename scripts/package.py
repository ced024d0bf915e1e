#!/usr/bin/python3
"""Writes the release package: TavokRemover-<version>-win32.zip with, in one
folder of that name, the program, its read-me in English and simplified
Chinese, the Chinese half again in GBK, the licence, SHA256SUMS and
SHA1SUMS. The same inputs, date and commit give the same bytes: fixed entry
dates and permissions, entries in sorted order.

Usage: package.py RESOURCE_SCRIPT PRODUCT.exe SOURCE_DIR OUTPUT_DIR EPOCH COMMIT
SOURCE_DIR holds LICENSE and release/README-en.txt, release/README-zh-CN.txt.
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


def windows_text(text):
    """CRLF line ends: Notepad before Windows 10 runs lines that end in a
    bare LF together."""
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def template(path, version, commit):
    return open(path, encoding="utf-8").read().replace("@VERSION@", version).replace("@COMMIT@", commit)


def read_me(english, chinese):
    """UTF-8 with a byte order mark, as Notepad wants it: before Windows 10
    it takes the mark as the sign of UTF-8, and reads text without it in the
    ANSI code page."""
    return b"\xef\xbb\xbf" + windows_text(english + "\n\n" + chinese).encode("utf-8")


def read_me_gbk(chinese):
    """The Chinese half in code page 936, which the Notepad of Chinese
    Windows 95, 98 and Me reads (it knows no UTF-8). A character outside
    GBK stops the package here rather than reaching a user as '?'."""
    return windows_text(chinese).encode("gbk")


def main():
    resource_script, product, source, output_dir, epoch, commit = sys.argv[1:7]
    if not re.fullmatch(r"[0-9a-f]{7,64}(-dirty)?", commit):
        raise SystemExit("not a commit: %r" % commit)
    version = version_of(resource_script)
    exe = open(product, "rb").read()
    folder = "TavokRemover-%s-win32" % version
    english = template(os.path.join(source, "release", "README-en.txt"), version, commit)
    chinese = template(os.path.join(source, "release", "README-zh-CN.txt"), version, commit)
    files = {
        EXE: exe,
        "README.txt": read_me(english, chinese),
        "README-zh-CN-GBK.txt": read_me_gbk(chinese),
        "LICENSE.txt": windows_text(open(os.path.join(source, "LICENSE"), encoding="utf-8").read()).encode("ascii"),
        # sha256sum's and sha1sum's own format, which they check with -c.
        # The SHA-1 is for Microsoft's fciv, the hash tool that Windows 2000
        # and XP can have, which computes no SHA-256.
        "SHA256SUMS": ("%s  %s\n" % (hashlib.sha256(exe).hexdigest(), EXE)).encode("ascii"),
        "SHA1SUMS": ("%s  %s\n" % (hashlib.sha1(exe).hexdigest(), EXE)).encode("ascii"),
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
    print("%s  %s (version %s, commit %s)" % (hashlib.sha256(exe).hexdigest(), EXE, version, commit))
    print("%s  %s" % (package_hash, package))


if __name__ == "__main__":
    main()
