#!/usr/bin/python3
"""The resources of the built product: both dialog templates, the banner,
the icons, the version block and the manifest.

Usage: check_resources.py PRODUCT.exe
"""
import os
import re
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_resources import Reader, parse_dialogex, read_resources  # noqa: E402

RT_ICON, RT_BITMAP, RT_DIALOG, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 2, 5, 14, 16, 24
ZH_CN = 0x0804

WS_POPUP, WS_CHILD, WS_VISIBLE, WS_DISABLED = 0x80000000, 0x40000000, 0x10000000, 0x08000000
WS_CAPTION, WS_BORDER, WS_SYSMENU = 0x00C00000, 0x00800000, 0x00080000
WS_GROUP, WS_TABSTOP, WS_MINIMIZEBOX = 0x00020000, 0x00010000, 0x00020000
DS_SETFONT, DS_MODALFRAME, DS_CENTER = 0x40, 0x80, 0x800
BS_PUSHBUTTON, BS_DEFPUSHBUTTON = 0, 1
SS_LEFT, SS_CENTER, SS_ICON, SS_BITMAP, SS_LEFTNOWORDWRAP, SS_ETCHEDHORZ = 0, 1, 3, 0xE, 0xC, 0x10
LVS_REPORT, LVS_SINGLESEL, LVS_SHOWSELALWAYS, LVS_NOSORTHEADER = 1, 4, 8, 0x8000
WS_EX_STATICEDGE = 0x20000
CHILD = WS_CHILD | WS_VISIBLE

MAIN_CONTROLS = [
    (1001, "msctls_progress32", "Progress1", 42, 83, 233, 11, CHILD | WS_DISABLED, 0),
    (1, "button", "", 281, 7, 50, 14, CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON, 0),
    (2, "button", "", 281, 31, 50, 14, CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0),
    (3, "button", "", 281, 56, 50, 14, CHILD | WS_TABSTOP | BS_PUSHBUTTON, 0),
    (4, "button", "", 281, 81, 50, 14, CHILD | WS_DISABLED | WS_TABSTOP | BS_PUSHBUTTON, 0),
    (1003, "static", "Static", 7, 85, 33, 8, CHILD | WS_GROUP | SS_LEFT, 0),
    (-1, "static", "", 1, 192, 336, 1, CHILD | SS_ETCHEDHORZ, 0),
    (1000, "static", "", 1, 194, 336, 10, CHILD | SS_LEFTNOWORDWRAP, WS_EX_STATICEDGE),
    (1002, "syslistview32", "List1", 7, 103, 324, 87,
     CHILD | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER, 0),
    (1012, "static", 118, 7, 7, 268, 68, CHILD | SS_BITMAP, 0),
]

ABOUT_CONTROLS = [
    (1, "button", "Ok", 112, 96, 50, 14, CHILD | WS_TABSTOP | BS_DEFPUSHBUTTON, 0),
    (1005, "static", "Worm.Win32.Tavok Sweeper", 45, 15, 221, 8, CHILD | WS_GROUP | SS_LEFT, 0),
    (-1, "static", 106, 7, 7, 21, 21, CHILD | SS_ICON, 0),
    (1006, "static", "Version: ", 45, 31, 40, 8, CHILD | WS_GROUP | SS_LEFT, 0),
    (1007, "static", "Update: ", 45, 45, 40, 8, CHILD | WS_GROUP | SS_LEFT, 0),
    (1008, "static", "Veltrane Tech Co. Ltd.", 7, 63, 259, 8, CHILD | WS_GROUP | SS_CENTER, 0),
    (-1, "static", "1.0", 88, 31, 42, 8, CHILD | WS_GROUP | SS_LEFT, 0),
    (-1, "static", "2012-05-30", 88, 45, 42, 8, CHILD | WS_GROUP | SS_LEFT, 0),
    (1004, "static", "www.veltrane.com", 7, 75, 259, 12, CHILD | WS_GROUP | SS_CENTER, 0),
]

# Predefined classes may be stored as ordinals.
CLASS_ORDINALS = {0x80: "button", 0x82: "static"}


class ProductResources(unittest.TestCase):
    resources = {}

    def resource(self, kind, name):
        key = (kind, name, ZH_CN)
        self.assertIn(key, self.resources, "resource %r under 0x0804" % (key,))
        return self.resources[key]

    def check_dialog(self, name, style, size, charset, controls):
        d = parse_dialogex(self.resource(RT_DIALOG, name))
        self.assertEqual(d["style"], style, hex(d["style"]))
        self.assertEqual((d["exstyle"], d["helpid"]), (0, 0))
        self.assertEqual((d["x"], d["y"], d["cx"], d["cy"]), (0, 0) + size)
        self.assertEqual((d["menu"], d["cls"], d["title"]), ("", "", ""))
        self.assertEqual((d["point"], d["weight"], d["italic"], d["charset"]), (9, 0, 0, charset))
        self.assertEqual(d["face"], "\u5b8b\u4f53")  # the UTF-16 of the face name
        self.assertEqual(len(d["controls"]), len(controls))
        for got, want in zip(d["controls"], controls):
            cid, cls, text, x, y, cx, cy, cstyle, exstyle = want
            with self.subTest(control=cid, text=text):
                got_cls = got["cls"]
                got_cls = CLASS_ORDINALS.get(got_cls, got_cls) if isinstance(got_cls, int) else got_cls.lower()
                self.assertEqual(got_cls, cls)
                self.assertEqual(got["id"], cid)
                self.assertEqual(got["text"], text)
                self.assertEqual((got["x"], got["y"], got["cx"], got["cy"]), (x, y, cx, cy))
                self.assertEqual(got["style"], cstyle, hex(got["style"]))
                self.assertEqual((got["exstyle"], got["helpid"], got["extra"]), (exstyle, 0, 0))

    def test_main_dialog_template(self):
        style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_CENTER | DS_SETFONT
        self.check_dialog(101, style, (338, 207), 1, MAIN_CONTROLS)

    def test_about_dialog_template(self):
        style = DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU
        self.check_dialog(102, style, (276, 117), 0, ABOUT_CONTROLS)

    def test_banner_bitmap(self):
        data = self.resource(RT_BITMAP, 118)
        size, w, h, planes, bpp, compression = struct.unpack_from("<IiiHHI", data)
        self.assertEqual((size, w, h, planes, bpp, compression), (40, 402, 102, 1, 16, 0))
        self.assertGreaterEqual(len(data), 40 + 102 * 804)

    def icon_group(self, name):
        r = Reader(self.resource(RT_GROUP_ICON, name))
        reserved, kind, count = r.take("HHH")
        self.assertEqual((reserved, kind), (0, 1))
        images = []
        for _ in range(count):
            w, h, colors, _, planes, bpp, size, icon_id = r.take("BBBBHHIH")
            image = self.resource(RT_ICON, icon_id)
            self.assertEqual(len(image), size)
            hsize, iw, ih, _, ibpp = struct.unpack_from("<IiiHH", image)
            self.assertEqual((hsize, iw, ih, ibpp), (40, w or 256, 2 * (h or 256), bpp))
            images.append((w, bpp))
        return sorted(images)

    def test_application_icon(self):
        want = sorted([(s, b) for b in (8, 32) for s in (16, 24, 32, 48)] + [(16, 4), (32, 4)])
        self.assertEqual(self.icon_group(119), want)

    def test_about_icon(self):
        # 32 px at 100 %, 48 px at 150 %, where the dialog's icon is larger.
        self.assertEqual(self.icon_group(106), [(32, 32), (48, 32)])

    def test_version_block(self):
        data = self.resource(RT_VERSION, 1)
        text = data.decode("utf-16-le", errors="replace")
        at = data.find(b"\xbd\x04\xef\xfe")  # VS_FIXEDFILEINFO signature
        self.assertGreater(at, 0)
        fixed = struct.unpack_from("<13I", data, at)
        self.assertEqual(fixed[2:6], (0x00010000, 0x00000001, 0x00010000, 0x00000001))
        self.assertIn("080404b0", text)
        for key in ("FileVersion", "ProductVersion"):
            # key, padding, value: the padding depends on the key's length
            self.assertRegex(text, key + "\0+" + re.escape("1, 0, 0, 1") + "\0")
        at = data.find("Translation".encode("utf-16-le"))
        self.assertGreater(at, 0)
        value = data[(at + 24 + 3) // 4 * 4:][:4]
        self.assertEqual(struct.unpack("<HH", value), (0x0804, 1200))

    def test_manifest(self):
        manifests = [v for (kind, name, _), v in self.resources.items() if kind == RT_MANIFEST and name == 1]
        self.assertEqual(len(manifests), 1)
        text = manifests[0].decode("utf-8")
        self.assertIn('level="asInvoker"', text)
        self.assertIn('uiAccess="false"', text)
        # The common controls of version 6, from the system's store.
        identity = re.search(r"<dependency>\s*<dependentAssembly>\s*<assemblyIdentity([^>]*)/>", text)
        self.assertIsNotNone(identity, "a dependency on the common controls")
        attributes = dict(re.findall(r'(\w+)="([^"]*)"', identity.group(1)))
        self.assertEqual(attributes, {"type": "win32", "name": "Microsoft.Windows.Common-Controls",
                                      "version": "6.0.0.0", "processorArchitecture": "*",
                                      "publicKeyToken": "6595b64144ccf1df", "language": "*"})
        # System-aware: drawn by the program at the scale the session
        # started with, not stretched by Windows.
        self.assertRegex(text, r'<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">'
                               r'true</dpiAware>')
        self.assertNotIn("dpiAwareness", text)


if __name__ == "__main__":
    ProductResources.resources = read_resources(sys.argv.pop(1))
    unittest.main(verbosity=1)
