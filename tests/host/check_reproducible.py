#!/usr/bin/python3
"""Builds the product a second time, in a new folder of another path and at a
later second, and checks that its bytes equal the first build's. When they
differ, names the PE sections that differ, the headers counting as one.
Then packages each build, in another time zone and at another second, and
checks that the two packages are the same bytes and hold what a release
holds.

Usage: check_reproducible.py SOURCE_DIR TOOLCHAIN_FILE PRODUCT.exe WORK_PARENT
"""
import hashlib
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

TARGET = "TavokRemover"
RELATIVE_EXE = os.path.join("ui", TARGET + ".exe")

# A package's fixed inputs besides the program.
EPOCH = "1767225600"
COMMIT = "0123456789abcdef0123456789abcdef01234567"
PACKAGE_FILES = ["LICENSE.txt", "README-zh-CN-GBK.txt", "README.txt", "SHA1SUMS",
                 "SHA256SUMS", "TavokRemover.exe"]

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


def package(source, product, output, zone):
    """The release package of the program, made in the given time zone,
    unsigned: a signature holds its own time."""
    env = dict((k, v) for k, v in os.environ.items() if not k.startswith("TAVOK_SIGN_"))
    env["TZ"] = zone
    subprocess.run([sys.executable, os.path.join(source, "scripts", "package.py"),
                    os.path.join(source, "res", "TavokRemover.rc"), product, source, output,
                    EPOCH, COMMIT],
                   check=True, stdout=subprocess.DEVNULL, env=env)
    made = [name for name in os.listdir(output) if name.endswith(".zip")]
    if len(made) != 1:
        raise SystemExit("package.py made %s in %s" % (made, output))
    return open(os.path.join(output, made[0]), "rb").read()


def package_faults(data, product_bytes):
    """Lines naming what the package lacks or holds wrongly."""
    faults = []
    archive = zipfile.ZipFile(io.BytesIO(data))
    names = archive.namelist()
    folder = names[0].split("/")[0] if names else ""
    if sorted(name[len(folder) + 1:] for name in names) != PACKAGE_FILES:
        return ["entries: %s" % names]
    read = lambda name: archive.read(folder + "/" + name)
    if read("TavokRemover.exe") != product_bytes:
        faults.append("TavokRemover.exe is not the program")
    if read("SHA256SUMS").split()[0].decode() != hashlib.sha256(product_bytes).hexdigest():
        faults.append("SHA256SUMS does not hold the program's hash")
    if read("SHA1SUMS").split()[0].decode() != hashlib.sha1(product_bytes).hexdigest():
        faults.append("SHA1SUMS does not hold the program's hash")
    version = folder[len("TavokRemover-"):-len("-win32")]
    english = read("README.txt")
    if not english.startswith(b"\xef\xbb\xbf"):
        faults.append("README.txt has no byte order mark")
    if ("Version %s, built from commit %s" % (version, COMMIT)).encode() not in english:
        faults.append("README.txt does not name the version and the commit")
    if re.search(rb"@[A-Z]+@", english):
        faults.append("README.txt holds a placeholder: %s" % re.search(rb"@[A-Z]+@", english).group().decode())
    chinese = read("README-zh-CN-GBK.txt").decode("gbk")
    if COMMIT not in chinese or chinese not in english.decode("utf-8-sig"):
        faults.append("README-zh-CN-GBK.txt is not the Chinese half of README.txt")
    for name in ("README.txt", "README-zh-CN-GBK.txt", "LICENSE.txt"):
        if read(name).replace(b"\r\n", b"").count(b"\n"):
            faults.append(name + " has a line end without CR")
    return faults


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
        first_package = package(source, product, os.path.join(folder, "package-1"), "UTC")
        subprocess.run(["cmake", "-S", source, "-B", folder, "-G", "Ninja",
                        "-DCMAKE_TOOLCHAIN_FILE=" + toolchain],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", folder, "--target", TARGET],
                       check=True, stdout=subprocess.DEVNULL)
        second = open(os.path.join(folder, RELATIVE_EXE), "rb").read()
        second_package = package(source, os.path.join(folder, RELATIVE_EXE),
                                 os.path.join(folder, "package-2"), "Asia/Shanghai")
    finally:
        shutil.rmtree(folder, ignore_errors=True)

    first_hash = hashlib.sha256(first).hexdigest()
    second_hash = hashlib.sha256(second).hexdigest()
    print("first build:  %s  %s" % (first_hash, product))
    print("second build: %s  %s" % (second_hash, os.path.join(folder, RELATIVE_EXE)))
    if first_hash != second_hash:
        print("The two builds differ:")
        for line in differences(first, second):
            print("  " + line)
        return 1
    print("The two builds are byte-identical.")

    faults = package_faults(first_package, first)
    if faults:
        print("The package is wrong:")
        for line in faults:
            print("  " + line)
        return 1
    print("first package:  %s" % hashlib.sha256(first_package).hexdigest())
    print("second package: %s" % hashlib.sha256(second_package).hexdigest())
    if first_package != second_package:
        print("The two packages differ.")
        return 1
    print("The two packages are byte-identical and hold what a release holds.")
    return 0


if __name__ == "__main__":
    sys.exit(main())
