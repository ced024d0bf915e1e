"""Reads the resource section of a PE file: {(type, name, language): bytes}."""
import struct


def _sections(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
    table = optional + optional_size
    sections = []
    for i in range(count):
        _, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        sections.append((va, max(vsize, rawsize), rawptr))
    return resource_rva, sections


def _offset(sections, rva):
    for va, size, raw in sections:
        if va <= rva < va + size:
            return raw + rva - va
    raise ValueError("RVA %#x outside every section" % rva)


def read_resources(path):
    data = open(path, "rb").read()
    root_rva, sections = _sections(data)
    base = _offset(sections, root_rva)

    def name_of(entry_name):
        if entry_name & 0x80000000:
            at = base + (entry_name & 0x7FFFFFFF)
            length = struct.unpack_from("<H", data, at)[0]
            return data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
        return entry_name

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + ids):
            yield struct.unpack_from("<II", data, base + directory + 16 + 8 * i)

    result = {}
    for type_name, type_dir in entries(0):
        for res_name, name_dir in entries(type_dir & 0x7FFFFFFF):
            for lang, leaf in entries(name_dir & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                at = _offset(sections, rva)
                result[(name_of(type_name), name_of(res_name), lang)] = data[at:at + size]
    return result


class Reader:
    def __init__(self, data, at=0):
        self.data, self.at = data, at

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def align(self, n=4):
        self.at = (self.at + n - 1) // n * n

    def sz_or_ord(self):
        first = self.take("H")
        if first == 0:
            return ""
        if first == 0xFFFF:
            return self.take("H")
        chars = [first]
        while True:
            c = self.take("H")
            if c == 0:
                return "".join(map(chr, chars))
            chars.append(c)


def parse_dialogex(data):
    """An extended dialog template as a dict, controls as a list of dicts."""
    r = Reader(data)
    version, signature = r.take("HH")
    assert (version, signature) == (1, 0xFFFF), "not a DIALOGEX template"
    helpid, exstyle, style, count, x, y, cx, cy = r.take("IIIHhhhh")
    dialog = dict(helpid=helpid, exstyle=exstyle, style=style, x=x, y=y, cx=cx, cy=cy,
                  menu=r.sz_or_ord(), cls=r.sz_or_ord(), title=r.sz_or_ord())
    if style & 0x40:  # DS_SETFONT
        dialog["point"], dialog["weight"], dialog["italic"], dialog["charset"] = r.take("HHBB")
        dialog["face"] = r.sz_or_ord()
    controls = []
    for _ in range(count):
        r.align()
        helpid, exstyle, style, x, y, cx, cy, cid = r.take("IIIhhhhi")
        control = dict(helpid=helpid, exstyle=exstyle, style=style, x=x, y=y, cx=cx, cy=cy,
                       id=cid, cls=r.sz_or_ord(), text=r.sz_or_ord())
        extra = r.take("H")
        control["extra"] = extra
        r.at += extra
        controls.append(control)
    dialog["controls"] = controls
    return dialog
