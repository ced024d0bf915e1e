#!/usr/bin/python3
"""Builds the product a second time, in a new folder of another path and at a
later second, and checks that its bytes equal the first build's. When they
differ, names the PE sections that differ, the headers counting as one.

Usage: check_reproducible.py SOURCE_DIR TOOLCHAIN_FILE PRODUCT.exe WORK_PARENT
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

TARGET = "TavokRemover"
RELATIVE_EXE = os.path.join("ui", TARGET + ".exe")

# Header fields worth naming: (offset from the "PE\0\0" signature, size, name).
# The optional header starts 24 bytes after the signature.
HEADER_FIELDS = [
    (8, 4, "COFF TimeDateStamp"),
    (24 + 64, 4, "CheckSum"),
    (24 + 4, 4, "SizeOfCode"),
    (24 + 8, 4, "SizeOfInitializedData"),
    (24 + 16, 4, "AddressOfEntryPoint"),
    (24 + 56, 4, "SizeOfImage"),
]


def regions(data):
    """[(name, start, end)] of the file: headers, each section's raw data,
    and whatever follows the last section."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    count, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    headers_size, = struct.unpack_from("<I", data, pe + 24 + 60)
    result = [("headers", 0, headers_size)]
    table = pe + 24 + optional_size
    end = headers_size
    for i in range(count):
        raw_name, _, _, raw_size, raw_at = struct.unpack_from("<8sIIII", data, table + 40 * i)
        name = raw_name.rstrip(b"\0").decode("ascii", "replace")
        if raw_size:
            result.append((name, raw_at, raw_at + raw_size))
            end = max(end, raw_at + raw_size)
    if end < len(data):
        result.append(("(after the last section)", end, len(data)))
    return result, pe


def header_field(pe, offset):
    for at, size, name in HEADER_FIELDS:
        if pe + at <= offset < pe + at + size:
            return name
    return None


def differences(first, second):
    """Lines naming every region that differs, in file order."""
    first_regions, pe = regions(first)
    second_regions = dict((name, (start, end)) for name, start, end in regions(second)[0])
    lines = []
    for name, start, end in first_regions:
        if name not in second_regions:
            lines.append("%s: only in the first build" % name)
            continue
        other_start, other_end = second_regions[name]
        a, b = first[start:end], second[other_start:other_end]
        if a == b:
            continue
        at = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
        line = "%s differs (%d and %d bytes), first at offset %#x into it" % (name, len(a), len(b), at)
        if name == "headers":
            fields = sorted(set(f for f in (header_field(pe, i) for i in range(len(a))
                                            if i >= len(b) or a[i] != b[i]) if f))
            if fields:
                line += "; fields: " + ", ".join(fields)
        lines.append(line)
    for name in second_regions:
        if name not in dict((n, 0) for n, _, _ in first_regions):
            lines.append("%s: only in the second build" % name)
    return lines


def main():
    source, toolchain, product, work_parent = sys.argv[1:5]
    first = open(product, "rb").read()

    # The PE header counts seconds: start a second after the first build at
    # the earliest, so that a link time left in the header shows.
    while time.time() < os.path.getmtime(product) + 1.5:
        time.sleep(0.2)

    os.makedirs(work_parent, exist_ok=True)
    folder = tempfile.mkdtemp(prefix="reproduce-", dir=work_parent)
    try:
        subprocess.run(["cmake", "-S", source, "-B", folder, "-G", "Ninja",
                        "-DCMAKE_TOOLCHAIN_FILE=" + toolchain],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", folder, "--target", TARGET],
                       check=True, stdout=subprocess.DEVNULL)
        second = open(os.path.join(folder, RELATIVE_EXE), "rb").read()
    finally:
        shutil.rmtree(folder, ignore_errors=True)

    first_hash = hashlib.sha256(first).hexdigest()
    second_hash = hashlib.sha256(second).hexdigest()
    print("first build:  %s  %s" % (first_hash, product))
    print("second build: %s  %s" % (second_hash, os.path.join(folder, RELATIVE_EXE)))
    if first_hash == second_hash:
        print("The two builds are byte-identical.")
        return 0
    print("The two builds differ:")
    for line in differences(first, second):
        print("  " + line)
    return 1


if __name__ == "__main__":
    sys.exit(main())
