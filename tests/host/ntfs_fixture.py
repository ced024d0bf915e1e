#!/usr/bin/env python3
"""NTFS images for the file-table tests, made with mkntfs and filled through
an ntfs-3g mount (FUSE, as root).

  ntfs_fixture.py make FOLDER LETTER PREFIX...
  ntfs_fixture.py bench FOLDER LETTER FILES PREFIX...
  ntfs_fixture.py remove FOLDER LETTER PREFIX...

make: builds FOLDER/cases.img once (again only when this script changes),
mounts it read-only at FOLDER/mnt and links each prefix's dosdevices:
LETTER:: is the raw volume (the image), LETTER: the mounted files, so that
a walk of LETTER: and the file table of the same volume meet the same files.
bench: the same with FOLDER/bench.img, which holds the benchmark's tree of
FILES files (bench/ScanBench.cpp makes the same tree on C:).
remove: unmounts and takes the links away; run as the fixture's clean-up,
whatever the tests did.
"""
import hashlib
import os
import struct
import subprocess
import sys

IMAGE_MIB = 64


def run(*args, **kw):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw)


def mounted(path):
    path = os.path.realpath(path)
    with open("/proc/mounts") as mounts:
        return any(line.split()[1] == path for line in mounts)


def unmount(path):
    if mounted(path):
        # A test that died may leave a handle open: detach it all the same.
        if subprocess.run(["umount", path], stderr=subprocess.DEVNULL).returncode != 0:
            subprocess.run(["umount", "-l", path], check=False)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def pattern(size, seed):
    out = bytearray()
    block = hashlib.sha256(str(seed).encode()).digest()
    while len(out) < size:
        out += block
        block = hashlib.sha256(block).digest()
    return bytes(out[:size])


def fill(root):
    """The cases that break readers of the file table."""
    # A fragmented table: with the volume nearly full outside the table's
    # zone, data and new records take turns there; half the records are
    # then deleted.
    stat = os.statvfs(root)
    filler = os.path.join(root, "filler.bin")
    with open(filler, "wb") as f:
        f.write(b"\0" * (stat.f_bavail * stat.f_frsize - 7 * 1024 * 1024))
    churn = os.path.join(root, "churn")
    os.mkdir(churn)
    for r in range(12):
        for i in range(150):
            write(os.path.join(churn, "r%d-%d.txt" % (r, i)), b"x%d-%d\n" % (r, i))
        write(os.path.join(churn, "data%d.bin" % r), pattern(200 * 1024, r))
    for r in range(0, 12, 2):
        for i in range(150):
            os.remove(os.path.join(churn, "r%d-%d.txt" % (r, i)))
    os.remove(filler)

    # Resident and non-resident content, and the signature sizes' files.
    write(os.path.join(root, "resident.bin"), pattern(300, 1))
    write(os.path.join(root, "nonresident.bin"), pattern(1300, 2))
    write(os.path.join(root, "empty.txt"), b"")
    # Many hard links with long names: the names overflow one record, so
    # the file gets an attribute list.
    links = os.path.join(root, "links")
    os.makedirs(os.path.join(links, "other"))
    target = os.path.join(links, "target.bin")
    write(target, pattern(1300, 3))
    for i in range(40):
        os.link(target, os.path.join(links, "a-rather-long-hard-link-name-that-fills-the-record-%02d.bin" % i))
    os.link(target, os.path.join(links, "other", "elsewhere.bin"))
    # Named streams beside the unnamed one.
    streams = os.path.join(root, "streams.bin")
    write(streams, pattern(300, 4))
    for i in range(40):
        os.setxattr(streams, "user.stream-with-a-long-name-%02d" % i, pattern(100, 100 + i))
    # 4 GiB and more, sparse.
    large = os.path.join(root, "large")
    os.mkdir(large)
    for name, size in (("exactly-4g.bin", 4 << 30), ("over-5g.bin", (5 << 30) + 1300)):
        with open(os.path.join(large, name), "wb") as f:
            f.truncate(size)
            f.seek(size - 4)
            f.write(b"tail")
    # Compressed: files made in a folder with the compressed attribute.
    compressed = os.path.join(root, "compressed")
    os.mkdir(compressed)
    os.setxattr(compressed, "system.ntfs_attrib_be", (0x800).to_bytes(4, "big"))
    write(os.path.join(compressed, "squeezed.bin"), b"compressible " * 10000)
    write(os.path.join(compressed, "small.bin"), pattern(1300, 5))
    # Long names with short ones, and names in many scripts.
    names = os.path.join(root, "names")
    os.mkdir(names)
    long_name = os.path.join(names, "A long file name with spaces.bin")
    write(long_name, pattern(1300, 6))
    os.setxattr(long_name, "system.ntfs_dos_name", b"ALONGF~1.BIN")
    for i, name in enumerate(["中文名字", "العربية", "עברית", "Русский", "Ελληνικά", "हिन्दी", "ภาษาไทย",
                              "한국어", "日本語のファイル", "emoji-\U0001F600", "ÆØÅ-ß-ñ"]):
        write(os.path.join(names, name + ".bin"), pattern(300 if i % 2 else 1300, 10 + i))
    os.mkdir(os.path.join(names, "文件夹"))
    write(os.path.join(names, "文件夹", "inner.bin"), pattern(1300, 30))
    # Deep folders.
    deep = root
    for level in range(40):
        deep = os.path.join(deep, "level-%02d" % level)
    os.makedirs(deep)
    write(os.path.join(deep, "bottom.bin"), pattern(1300, 40))
    # Reparse points the walk never follows: a folder's symbolic link and a
    # junction (ntfs-3g's own links are Interix files, not reparse points).
    set_reparse(os.path.join(root, "link-to-names"), 0xA000000C, "names", "names", struct.pack("<I", 1))
    set_reparse(os.path.join(root, "junction"), 0xA0000003, "\\??\\B:\\names", "B:\\names", b"")


def set_reparse(folder, tag, substitute, printed, flags):
    os.mkdir(folder)
    sub = substitute.encode("utf-16-le")
    prn = printed.encode("utf-16-le")
    if flags:
        body = struct.pack("<HHHH", 0, len(sub), len(sub), len(prn)) + flags + sub + prn
    else:
        body = struct.pack("<HHHH", 0, len(sub), len(sub) + 2, len(prn)) + sub + b"\0\0" + prn + b"\0\0"
    os.setxattr(folder, "system.ntfs_reparse_data", struct.pack("<IHH", tag, len(body), 0) + body)


def bench_tree(files):
    def fill_tree(root):
        content = b"x" * 4096
        for i in range(files):
            folder = os.path.join(root, "d%d" % (i // 200))
            if i % 200 == 0:
                os.mkdir(folder)
            write(os.path.join(folder, "file%d.dat" % i), content[:(i * 37) % 4096])
    return fill_tree


def make(folder, letter, prefixes, name="cases", mib=IMAGE_MIB, filler=fill, version=""):
    os.makedirs(folder, exist_ok=True)
    image = os.path.join(folder, name + ".img")
    mnt = os.path.join(folder, "mnt")
    stamp_file = os.path.join(folder, name + ".stamp")
    with open(__file__, "rb") as f:
        stamp = hashlib.sha256(f.read()).hexdigest() + version
    unmount(mnt)
    os.makedirs(mnt, exist_ok=True)
    old = open(stamp_file).read() if os.path.exists(stamp_file) else ""
    if old != stamp or not os.path.exists(image):
        if os.path.exists(image):
            os.remove(image)
        with open(image, "wb") as f:
            f.truncate(mib << 20)
        run("mkntfs", "-F", "-f", "-q", "-c", "4096", image)
        run("ntfs-3g", image, mnt)
        try:
            filler(mnt)
        finally:
            unmount(mnt)
        with open(stamp_file, "w") as f:
            f.write(stamp)
    run("ntfs-3g", "-o", "ro", image, mnt)
    for prefix in prefixes:
        devices = os.path.join(prefix, "dosdevices")
        for name, to in ((letter + "::", image), (letter + ":", mnt)):
            path = os.path.join(devices, name)
            if os.path.lexists(path):
                os.remove(path)
            os.symlink(to, path)


def remove(folder, letter, prefixes):
    for prefix in prefixes:
        for name in (letter + "::", letter + ":"):
            path = os.path.join(prefix, "dosdevices", name)
            if os.path.lexists(path):
                os.remove(path)
    unmount(os.path.join(folder, "mnt"))


def main():
    action, folder, letter, prefixes = sys.argv[1], sys.argv[2], sys.argv[3].lower(), sys.argv[4:]
    if action == "make":
        make(folder, letter, prefixes)
    elif action == "bench":
        files = int(prefixes[0])
        make(folder, letter, prefixes[1:], "bench", 512 + files // 100, bench_tree(files), str(files))
    elif action == "remove":
        remove(folder, letter, prefixes)
    else:
        sys.exit("unknown action " + action)


if __name__ == "__main__":
    main()
