#!/usr/bin/python3
"""Draws the tool's pictures and writes them in the formats the resource
script needs: banner.bmp (402 x 102, 16 bpp, BI_RGB), app.ico (16/24/32/48 px
at 8 and 32 bpp, 16/32 px at 4 bpp) and about.ico (32 and 48 px, 32 bpp: 48 is the size the About
dialog's icon takes at 150 %).

Usage: res/make-pictures.py [OUTPUT_DIR]   (default: the folder of this script)
"""
import os
import struct
import sys

from PIL import Image, ImageDraw, ImageFont

SHIELD_BLUE = (28, 84, 160)
SHIELD_EDGE = (12, 40, 88)
WORM_GREEN = (96, 170, 48)
WORM_DARK = (40, 90, 20)
BAN_RED = (210, 30, 30)
WHITE = (255, 255, 255)

FONT_PATHS = [
    "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf",
    "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc",
]


def shield_polygon(s):
    """A shield outline on an s x s square."""
    top, side = 0.08 * s, 0.12 * s
    return [
        (s / 2, top), (s - side, top + 0.1 * s), (s - side, 0.5 * s),
        (s * 0.72, 0.78 * s), (s / 2, 0.94 * s), (s * 0.28, 0.78 * s),
        (side, 0.5 * s), (side, top + 0.1 * s),
    ]


def draw_emblem(size):
    """The shield with a worm under a red bar, drawn 4 times larger and
    reduced, so that the edges stay smooth at every size."""
    s = size * 4
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.polygon(shield_polygon(s), fill=SHIELD_BLUE, outline=SHIELD_EDGE, width=max(4, s // 24))
    # The worm: a row of round segments across the shield.
    r = s * 0.075
    for i in range(5):
        cx = s * (0.3 + 0.1 * i)
        cy = s * (0.5 + (0.05 if i % 2 else -0.05))
        d.ellipse((cx - r, cy - r, cx + r, cy + r), fill=WORM_GREEN, outline=WORM_DARK,
                  width=max(2, s // 64))
    # The "removed" bar.
    w = max(6, int(s * 0.09))
    d.line((s * 0.24, s * 0.28, s * 0.76, s * 0.72), fill=BAN_RED, width=w)
    return img.resize((size, size), Image.LANCZOS)


def ico_entry(img, bpp):
    """One icon image: BITMAPINFOHEADER, palette, XOR bits, AND mask."""
    w, h = img.size
    alpha = img.getchannel("A")
    mask_rows = []
    mask_stride = ((w + 31) // 32) * 4
    for y in range(h - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(w):
            if alpha.getpixel((x, y)) < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        mask_rows.append(bytes(row))
    mask = b"".join(mask_rows)

    palette = b""
    if bpp == 32:
        rows = []
        for y in range(h - 1, -1, -1):
            row = bytearray()
            for x in range(w):
                r, g, b, a = img.getpixel((x, y))
                row += bytes((b, g, r, a))
            rows.append(bytes(row))
        bits = b"".join(rows)
        colors = 0
    else:
        colors = 1 << bpp
        flat = Image.new("RGB", (w, h), (255, 255, 255))
        flat.paste(img, mask=alpha)
        q = flat.quantize(colors=colors, method=Image.MEDIANCUT, dither=Image.NONE)
        pal = q.getpalette()[: colors * 3]
        pal += [0] * (colors * 3 - len(pal))
        palette = b"".join(bytes((pal[i + 2], pal[i + 1], pal[i], 0)) for i in range(0, colors * 3, 3))
        stride = ((w * bpp + 31) // 32) * 4
        rows = []
        for y in range(h - 1, -1, -1):
            row = bytearray(stride)
            for x in range(w):
                v = q.getpixel((x, y))
                if bpp == 8:
                    row[x] = v
                else:
                    row[x // 2] |= v << (4 if x % 2 == 0 else 0)
            rows.append(bytes(row))
        bits = b"".join(rows)
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bpp, 0, len(bits) + len(mask), 0, 0,
                         0, 0)
    return header + palette + bits + mask, colors


def write_ico(path, images):
    """images: list of (PIL RGBA image, bits per pixel)."""
    blobs = [ico_entry(img, bpp) + (img.size[0], bpp) for img, bpp in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for data, colors, size, bpp in blobs:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colors % 256, 0, 1, bpp,
                           len(data), offset)
        offset += len(data)
    out += b"".join(data for data, _, _, _ in blobs)
    with open(path, "wb") as f:
        f.write(out)


def load_font(px):
    for p in FONT_PATHS:
        if os.path.exists(p):
            return ImageFont.truetype(p, px)
    return ImageFont.load_default()


def draw_banner():
    w, h = 402, 102
    img = Image.new("RGB", (w, h), WHITE)
    d = ImageDraw.Draw(img)
    for y in range(h):  # a soft vertical gradient
        t = y / (h - 1)
        d.line((0, y, w, y), fill=(int(230 - 40 * t), int(238 - 30 * t), 255))
    d.rectangle((0, 0, w - 1, h - 1), outline=SHIELD_EDGE)
    emblem = draw_emblem(88)
    img.paste(emblem, (8, 7), emblem)
    d.text((108, 14), "Worm.Win32.Tavok", font=load_font(26), fill=SHIELD_EDGE)
    d.text((108, 48), "Remover", font=load_font(26), fill=BAN_RED)
    d.text((110, 80), "Veltrane  -  www.veltrane.com", font=load_font(12), fill=(60, 60, 60))
    return img


def write_bmp565(path, img):
    """16 bits per pixel, BI_RGB (5-5-5), bottom-up."""
    w, h = img.size
    stride = ((w * 16 + 31) // 32) * 4
    rows = []
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = img.getpixel((x, y))[:3]
            row += struct.pack("<H", ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    bits = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 16, 0, len(bits), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(bits), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(head + info + bits)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    write_bmp565(os.path.join(out, "banner.bmp"), draw_banner())
    app = [(draw_emblem(s), bpp) for bpp in (8, 32) for s in (16, 24, 32, 48)]
    app += [(draw_emblem(s), 4) for s in (16, 32)]
    write_ico(os.path.join(out, "app.ico"), app)
    write_ico(os.path.join(out, "about.ico"), [(draw_emblem(s), 32) for s in (32, 48)])


if __name__ == "__main__":
    main()
