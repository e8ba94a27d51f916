#!/usr/bin/env python3
"""Draws the program's bitmaps: toolbar images, the file list's images, the hand and grab
cursors, the thumbnail placeholder's hourglass and its mask, and the raster copies of the icon. Run from this folder; it rewrites the PNG files beside it."""

import math
import struct
import zlib


def write_png(path, width, height, pixels):
    """pixels: rows of (r, g, b, a) tuples, top row first."""
    raw = bytearray()
    for row in pixels:
        raw.append(0)
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


class Canvas:
    """A small RGBA canvas drawn with supersampled shapes, so edges come out smooth."""

    def __init__(self, size, scale=4):
        self.size = size
        self.scale = scale
        n = size * scale
        self.px = [[(0, 0, 0, 0)] * n for _ in range(n)]

    def _blend(self, x, y, colour):
        r, g, b, a = colour
        if a == 0:
            return
        pr, pg, pb, pa = self.px[y][x]
        fa = a / 255.0
        out_a = fa + pa / 255.0 * (1 - fa)
        if out_a <= 0:
            return
        mix = lambda c, p: int(round((c * fa + p * (pa / 255.0) * (1 - fa)) / out_a))
        self.px[y][x] = (mix(r, pr), mix(g, pg), mix(b, pb), int(round(out_a * 255)))

    def fill(self, inside, colour):
        n = self.size * self.scale
        for y in range(n):
            fy = (y + 0.5) / self.scale
            for x in range(n):
                if inside((x + 0.5) / self.scale, fy):
                    self._blend(x, y, colour)

    def rect(self, x0, y0, x1, y1, colour):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1, colour)

    def circle(self, cx, cy, r, colour, width=None):
        if width is None:
            self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour)
        else:
            self.fill(lambda x, y: (r - width) ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour)

    def polygon(self, points, colour):
        def inside(x, y):
            hit = False
            j = len(points) - 1
            for i in range(len(points)):
                xi, yi = points[i]
                xj, yj = points[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    hit = not hit
                j = i
            return hit
        self.fill(inside, colour)

    def line(self, x0, y0, x1, y1, width, colour):
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2)) if length2 else 0.0
            px, py = x0 + t * dx, y0 + t * dy
            return (x - px) ** 2 + (y - py) ** 2 <= (width / 2.0) ** 2
        self.fill(inside, colour)

    def arrow(self, x0, y0, x1, y1, colour, width=2.0, head=4.0):
        angle = math.atan2(y1 - y0, x1 - x0)
        bx, by = x1 - head * math.cos(angle), y1 - head * math.sin(angle)
        self.line(x0, y0, bx, by, width, colour)
        nx, ny = -math.sin(angle), math.cos(angle)
        self.polygon([(x1, y1), (bx + nx * head * 0.8, by + ny * head * 0.8),
                      (bx - nx * head * 0.8, by - ny * head * 0.8)], colour)

    def pixels(self):
        s = self.scale
        out = []
        for y in range(self.size):
            row = []
            for x in range(self.size):
                acc = [0.0, 0.0, 0.0, 0.0]
                for sy in range(s):
                    for sx in range(s):
                        r, g, b, a = self.px[y * s + sy][x * s + sx]
                        acc[0] += r * a
                        acc[1] += g * a
                        acc[2] += b * a
                        acc[3] += a
                if acc[3] == 0:
                    row.append((0, 0, 0, 0))
                else:
                    row.append((int(acc[0] / acc[3]), int(acc[1] / acc[3]), int(acc[2] / acc[3]),
                                int(acc[3] / (s * s))))
            out.append(row)
        return out

    def save(self, path):
        write_png(path, self.size, self.size, self.pixels())


INK = (40, 48, 64, 255)
BLUE = (38, 110, 200, 255)
GREEN = (40, 150, 90, 255)
ORANGE = (230, 140, 30, 255)
FRAME = (120, 128, 140, 255)


def toolbar(name, draw):
    c = Canvas(17)
    draw(c)
    c.save("toolbar/%s.png" % name)


def picture_frame(c):
    c.rect(3, 4, 14, 13, (255, 255, 255, 255))
    c.rect(3, 4, 14, 5, FRAME)
    c.rect(3, 12, 14, 13, FRAME)
    c.rect(3, 4, 4, 13, FRAME)
    c.rect(13, 4, 14, 13, FRAME)


def draw_toolbar():
    toolbar("back", lambda c: c.arrow(14, 8.5, 2.5, 8.5, BLUE, 2.6, 5))
    toolbar("forward", lambda c: c.arrow(3, 8.5, 14.5, 8.5, BLUE, 2.6, 5))

    def fullscreen(c):
        for (x, y, sx, sy) in ((2, 2, 1, 1), (15, 2, -1, 1), (2, 15, 1, -1), (15, 15, -1, -1)):
            c.line(x, y, x + 4 * sx, y, 1.8, INK)
            c.line(x, y, x, y + 4 * sy, 1.8, INK)
        c.rect(6, 6, 11, 11, BLUE)
    toolbar("fullscreen", fullscreen)

    def thumbnails(c):
        for x in (2, 9.5):
            for y in (2, 9.5):
                c.rect(x, y, x + 5.5, y + 5.5, BLUE)
                c.rect(x + 1, y + 1, x + 4.5, y + 4.5, (170, 205, 245, 255))
    toolbar("thumbnails", thumbnails)

    def none(c):
        picture_frame(c)
        c.rect(5, 8, 8, 11, GREEN)
        c.rect(9, 6, 12, 11, BLUE)
    toolbar("resample-none", none)

    def both(c):
        c.arrow(8.5, 8.5, 1.5, 8.5, INK, 1.6, 3.5)
        c.arrow(8.5, 8.5, 15.5, 8.5, INK, 1.6, 3.5)
        c.arrow(8.5, 8.5, 8.5, 1.5, INK, 1.6, 3.5)
        c.arrow(8.5, 8.5, 8.5, 15.5, INK, 1.6, 3.5)
    toolbar("resample-both", both)

    def horizontal(c):
        c.arrow(8.5, 8.5, 1.5, 8.5, INK, 1.8, 4)
        c.arrow(8.5, 8.5, 15.5, 8.5, INK, 1.8, 4)
        c.rect(1, 3, 2.5, 14, BLUE)
        c.rect(14.5, 3, 16, 14, BLUE)
    toolbar("resample-horizontal", horizontal)

    def vertical(c):
        c.arrow(8.5, 8.5, 8.5, 1.5, INK, 1.8, 4)
        c.arrow(8.5, 8.5, 8.5, 15.5, INK, 1.8, 4)
        c.rect(3, 1, 14, 2.5, BLUE)
        c.rect(3, 14.5, 14, 16, BLUE)
    toolbar("resample-vertical", vertical)

    def auto(c):
        c.line(3, 14, 8.5, 2.5, 2.0, BLUE)
        c.line(14, 14, 8.5, 2.5, 2.0, BLUE)
        c.line(5.5, 10, 11.5, 10, 1.8, BLUE)
    toolbar("resample-auto", auto)

    def about(c):
        c.circle(8.5, 8.5, 7.5, BLUE)
        c.circle(8.5, 5, 1.3, (255, 255, 255, 255))
        c.rect(7.5, 7.5, 9.5, 13, (255, 255, 255, 255))
    toolbar("about", about)

    def settings(c):
        for k in range(8):
            a = k * math.pi / 4
            c.line(8.5, 8.5, 8.5 + 7 * math.cos(a), 8.5 + 7 * math.sin(a), 2.6, INK)
        c.circle(8.5, 8.5, 5.2, INK)
        c.circle(8.5, 8.5, 2.2, (0, 0, 0, 0))
        c.fill(lambda x, y: (x - 8.5) ** 2 + (y - 8.5) ** 2 <= 2.2 ** 2, (255, 255, 255, 255))
    toolbar("settings", settings)

    def upscale(c):
        c.rect(1.5, 9.5, 7.5, 15.5, FRAME)
        c.rect(2.5, 10.5, 6.5, 14.5, (255, 255, 255, 255))
        c.arrow(6, 11, 14.5, 2.5, GREEN, 1.8, 4.5)
    toolbar("upscale", upscale)


def file_list(name, draw):
    c = Canvas(17)
    draw(c)
    c.save("list/%s.png" % name)


def draw_file_list():
    def file(c):
        c.polygon([(3.5, 1.5), (10.5, 1.5), (14, 5), (14, 15.5), (3.5, 15.5)], FRAME)
        c.polygon([(4.5, 2.5), (10, 2.5), (13, 5.5), (13, 14.5), (4.5, 14.5)], (255, 255, 255, 255))
        c.polygon([(10, 2.5), (10, 5.5), (13, 5.5)], (200, 205, 215, 255))
        c.rect(6, 9, 9, 13, GREEN)
        c.rect(9, 7, 12, 13, BLUE)
    file_list("file", file)

    def drive(c):
        c.rect(1.5, 5, 15.5, 13, INK)
        c.rect(2.5, 6, 14.5, 12, (196, 202, 212, 255))
        c.rect(3.5, 10, 9.5, 11, FRAME)
        c.circle(12.5, 9.5, 1.2, GREEN)
    file_list("drive", drive)

    def folder(c, colour=ORANGE, light=(250, 200, 95, 255)):
        c.polygon([(1.5, 3.5), (6.5, 3.5), (8, 5), (15.5, 5), (15.5, 14.5), (1.5, 14.5)], colour)
        c.rect(2.5, 7, 14.5, 13.5, light)
    file_list("folder", folder)

    def special(c):
        folder(c, BLUE, (150, 190, 240, 255))
        c.polygon([(8.5, 7.5), (9.6, 9.6), (11.8, 9.8), (10.1, 11.2), (10.7, 13.4), (8.5, 12.2),
                   (6.3, 13.4), (6.9, 11.2), (5.2, 9.8), (7.4, 9.6)], (255, 255, 255, 255))
    file_list("special", special)


# Cursors, drawn as 16 x 16 art and doubled: X outline, o fill, blank transparent.
OPEN_HAND = [
    "       XX       ",
    "   XX X..XXX    ",
    "  X..XX..X..X   ",
    "  X..XX..X..X X ",
    "   X..X..X..XX.X",
    "   X..X..X..X..X",
    " XX X.......X..X",
    "X..XX..........X",
    "X...X.........X ",
    " X............X ",
    "  X...........X ",
    "  X..........X  ",
    "   X.........X  ",
    "    X.......X   ",
    "     X......X   ",
    "     X......X   ",
]

CLOSED_HAND = [
    "                ",
    "                ",
    "                ",
    "    XX XX XX    ",
    "   X..X..X..XX  ",
    "   X........X.X ",
    "    X..........X",
    "   XX..........X",
    "  X............X",
    "  X...........X ",
    "  X...........X ",
    "   X..........X ",
    "    X........X  ",
    "     X.......X  ",
    "     X.......X  ",
    "                ",
]


def cursor(path, art):
    rows = []
    for line in art:
        row = []
        for ch in line:
            px = {"X": (0, 0, 0, 255), ".": (255, 255, 255, 255)}.get(ch, (0, 0, 0, 0))
            row += [px, px]
        rows.append(row)
        rows.append(list(row))
    write_png(path, 32, 32, rows)


# The hourglass a thumbnail shows until its picture is there, 15 x 24 in the 16 colours of the
# classic palette: B wood, X outline, . glass, s sand; blank is outside the shape.
HOURGLASS = [
    "BBBBBBBBBBBBBBB",
    "BBBBBBBBBBBBBBB",
    " X...........X ",
    " X.sssssssss.X ",
    " X.sssssssss.X ",
    "  X.sssssss.X  ",
    "  X..sssss..X  ",
    "   X..sss..X   ",
    "    X..s..X    ",
    "     X.s.X     ",
    "      XsX      ",
    "      XsX      ",
    "      XsX      ",
    "     X.s.X     ",
    "    X..s..X    ",
    "   X...s...X   ",
    "  X....s....X  ",
    "  X...sss...X  ",
    " X...sssss...X ",
    " X..sssssss..X ",
    " X.sssssssss.X ",
    " X...........X ",
    "BBBBBBBBBBBBBBB",
    "BBBBBBBBBBBBBBB",
]


def hourglass(colour_path, mask_path):
    """The picture (black outside the shape, as a 16-colour bitmap has no transparency) and its
    monochrome mask: black where the hourglass is, white where the thumbnail shows through."""
    palette = {"B": (128, 0, 0, 255), "X": (0, 0, 0, 255), ".": (255, 255, 255, 255),
               "s": (255, 255, 0, 255), " ": (0, 0, 0, 255)}
    assert len(HOURGLASS) == 24 and all(len(line) == 15 for line in HOURGLASS)
    write_png(colour_path, 15, 24, [[palette[ch] for ch in line] for line in HOURGLASS])
    write_png(mask_path, 15, 24,
              [[(255, 255, 255, 255) if ch == " " else (0, 0, 0, 255) for ch in line]
               for line in HOURGLASS])


def icon(size, path):
    """The program icon: a photograph lit by a rising sun, on a rounded tile."""
    c = Canvas(size, 4 if size <= 64 else 2)
    k = size / 48.0
    r = 9 * k

    def tile(x, y):
        x0, y0, x1, y1 = 3 * k, 3 * k, 45 * k, 45 * k
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    c.fill(tile, (34, 52, 92, 255))
    c.fill(lambda x, y: tile(x, y) and y < 30 * k, (58, 96, 168, 255))
    c.circle(30 * k, 19 * k, 7 * k, (255, 196, 60, 255))
    c.circle(30 * k, 19 * k, 10 * k, (255, 196, 60, 90))
    c.polygon([(3 * k, 40 * k), (16 * k, 22 * k), (27 * k, 36 * k), (33 * k, 29 * k),
               (45 * k, 42 * k), (45 * k, 45 * k), (3 * k, 45 * k)], (70, 150, 110, 255))
    c.fill(lambda x, y: not tile(x, y), (0, 0, 0, 0))
    # Cut everything outside the tile away again (the fills above ignore its corners).
    px = c.px
    n = size * c.scale
    for yy in range(n):
        for xx in range(n):
            if not tile((xx + 0.5) / c.scale, (yy + 0.5) / c.scale):
                px[yy][xx] = (0, 0, 0, 0)
    c.save(path)


if __name__ == "__main__":
    import os
    os.makedirs("toolbar", exist_ok=True)
    os.makedirs("cursors", exist_ok=True)
    os.makedirs("list", exist_ok=True)
    draw_toolbar()
    draw_file_list()
    cursor("cursors/hand.png", OPEN_HAND)
    cursor("cursors/grab.png", CLOSED_HAND)
    os.makedirs("placeholder", exist_ok=True)
    hourglass("placeholder/hourglass.png", "placeholder/hourglass-mask.png")
    icon(48, "icons/lumora-48.png")
    icon(128, "icons/lumora-128.png")
