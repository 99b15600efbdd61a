#!/usr/bin/env python3
"""Draws the game's emblem and writes logo.png (512 x 512) and orvane.ico into OUTDIR.

    python3 make_art.py OUTDIR

Standard library only, so the build needs nothing beyond python3. Shapes are signed distance
fields: one evaluation per pixel gives an anti-aliased edge (coverage = 0.5 - distance in
pixels), which is both sharper and far faster than supersampling in pure Python. Every number
below is fixed and zlib is deterministic, so each run writes the same bytes.
"""
import math
import os
import struct
import sys
import zlib

# Palette, tuned against the window's navy background (#0B1020).
TEAL_LIGHT = (150, 246, 232)
TEAL = (38, 206, 196)
AZURE = (46, 140, 236)
BLUE = (40, 86, 214)
DEEP = (22, 38, 124)
WHITE = (236, 255, 252)
GLOW = (40, 170, 220)


class Style:
    """How much detail a given size can carry; small icons drop what would turn to mush."""

    def __init__(self, size, icon):
        self.small = size <= 32
        # Without the outer halo the emblem may fill more of its square.
        self.zoom = 1.0 if size >= 128 else 1.1
        px = 2.0 / size / self.zoom
        # The glow is for the dark window; on a light desktop it would read as a stain.
        self.glow = 0.0 if size < 256 else (0.18 if icon else 0.42)
        self.halo = size >= 128          # the thin outer ring with its four notches
        self.studs = size >= 128         # small diamonds riding on the ring
        self.six_facets = size >= 48     # below that, four facets read more clearly
        # Below 64 px the ring, and the gap that sets the gem in front of it, must stay at
        # least two pixels and one pixel wide, or they blur into the crystal.
        self.ring_w = max(0.125 if size >= 128 else 0.15, 2.0 * px)
        self.gap = max(0.045, 1.0 * px)
        if size >= 32:
            # Its tips reach past the ring, which passes behind it.
            self.ring_r = 0.62 if size >= 48 else 0.66
            self.gem = Gem(-0.86, 0.88, -0.20, 0.36)
        else:
            # Too few pixels for the crossing to read: the crystal sits inside the ring.
            self.ring_r = 0.76
            self.gem = Gem(-0.56, 0.58, -0.12, 0.37)

def clamp01(v):
    return 0.0 if v <= 0.0 else (1.0 if v >= 1.0 else v)


def mix(a, b, t):
    return (a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t)


def convex(points):
    """Edges of a convex polygon (clockwise on screen) as (nx, ny, c): distance = nx*x+ny*y-c."""
    edges = []
    for i, (x0, y0) in enumerate(points):
        x1, y1 = points[(i + 1) % len(points)]
        dx, dy = x1 - x0, y1 - y0
        length = math.hypot(dx, dy)
        nx, ny = dy / length, -dx / length        # outward for clockwise order (y down)
        edges.append((nx, ny, nx * x0 + ny * y0))
    return edges


def polygon_distance(edges, x, y):
    d = -1e9
    for nx, ny, c in edges:
        e = nx * x + ny * y - c
        if e > d:
            d = e
    return d


class Gem:
    """A tall crystal whose girdle sits above the middle."""

    def __init__(self, top, bottom, girdle, half):
        self.top, self.bottom, self.girdle, self.half = top, bottom, girdle, half
        self.edges = convex([(0.0, top), (half, girdle), (0.0, bottom), (-half, girdle)])
        self.table = half / 3.0      # where the inner facet lines meet the girdle


def stud(cx, cy, r):
    return convex([(cx, cy - r), (cx + r * 0.7, cy), (cx, cy + r), (cx - r * 0.7, cy)])


def render(size, icon):
    """Returns the emblem at SIZE x SIZE as rows of straight-alpha RGBA bytes."""
    st = Style(size, icon)
    px = 2.0 / size / st.zoom                    # one pixel in emblem units
    aa = 1.0 / px
    gem = st.gem
    gem_halo = [(nx, ny, c + st.gap) for nx, ny, c in gem.edges]
    studs = [stud(-st.ring_r, 0.0, 0.085), stud(st.ring_r, 0.0, 0.085)] if st.studs else []
    lx, ly = -0.6, -0.8                          # light from the upper left
    ring_in, ring_out = st.ring_r - st.ring_w / 2, st.ring_r + st.ring_w / 2
    rows = []
    for j in range(size):
        y = ((j + 0.5) / size * 2.0 - 1.0) / st.zoom
        row = bytearray(size * 4)
        for i in range(size):
            x = ((i + 0.5) / size * 2.0 - 1.0) / st.zoom
            r = math.sqrt(x * x + y * y)
            # Premultiplied accumulator, composited back to front.
            cr = cg = cb = ca = 0.0

            if st.glow and r < 1.0:
                t = 1.0 - r
                a = st.glow * t * t * (3.0 - 2.0 * t) * (0.35 + 0.65 * t)
                cr, cg, cb, ca = GLOW[0] * a, GLOW[1] * a, GLOW[2] * a, a

            if st.halo and 0.82 < r < 0.92:
                cov = clamp01(0.5 - (abs(r - 0.87) - 0.008) * aa)
                # Notches at the four compass points make it read as a crest, not a target.
                notch = min(abs(x), abs(y)) - 0.05
                cov *= clamp01(0.5 + notch * aa)
                if cov > 0.0:
                    a = cov * 0.75
                    c = mix(TEAL, AZURE, clamp01((y + 0.9) / 1.8))
                    cr = c[0] * a + cr * (1 - a)
                    cg = c[1] * a + cg * (1 - a)
                    cb = c[2] * a + cb * (1 - a)
                    ca = a + ca * (1 - a)

            dgem = polygon_distance(gem.edges, x, y)

            if ring_in - px < r < ring_out + px:
                cov = clamp01(0.5 - (abs(r - st.ring_r) - st.ring_w / 2) * aa)
                # The ring passes behind the gem: cut a gap around the crystal.
                cov *= clamp01(0.5 + (polygon_distance(gem_halo, x, y)) * aa)
                if cov > 0.0:
                    # Diagonal sweep from teal (upper right) to blue, shaded as a rounded band.
                    sweep = clamp01(0.5 + (y - x) * 0.45)
                    c = mix(TEAL, AZURE if st.small else BLUE, sweep)
                    across = (r - st.ring_r) / (st.ring_w / 2)        # -1 inner .. 1 outer
                    lit = (x * lx + y * ly) / (r if r > 1e-6 else 1.0)  # +1 facing the light
                    shade = 0.78 + 0.22 * (1.0 - across * across) + 0.18 * lit * across
                    c = (min(255.0, c[0] * shade), min(255.0, c[1] * shade), min(255.0, c[2] * shade))
                    # A bright rim on the outer edge where the light falls.
                    if not st.small:
                        rim = clamp01(0.5 - (ring_out - r - 0.018) * aa) * clamp01(lit) * 0.7
                        c = mix(c, WHITE, rim)
                    a = cov
                    cr = c[0] * a + cr * (1 - a)
                    cg = c[1] * a + cg * (1 - a)
                    cb = c[2] * a + cb * (1 - a)
                    ca = a + ca * (1 - a)

            for edges in studs:
                d = polygon_distance(edges, x, y)
                if d < px:
                    a = clamp01(0.5 - d * aa)
                    c = mix(WHITE, TEAL_LIGHT, clamp01((y + 0.08) / 0.16))
                    cr = c[0] * a + cr * (1 - a)
                    cg = c[1] * a + cg * (1 - a)
                    cb = c[2] * a + cb * (1 - a)
                    ca = a + ca * (1 - a)

            if dgem < px:
                a = clamp01(0.5 - dgem * aa)
                c = gem_colour(x, y, aa, st)
                # A fine light edge along the two lit sides gives the crystal its cut.
                if not st.small and x < 0.0 and dgem > -0.03:
                    edge = clamp01(0.5 - (-dgem - 0.012) * aa) * (0.9 if y < gem.girdle else 0.35)
                    c = mix(c, WHITE, edge)
                cr = c[0] * a + cr * (1 - a)
                cg = c[1] * a + cg * (1 - a)
                cb = c[2] * a + cb * (1 - a)
                ca = a + ca * (1 - a)

            if ca > 0.0:
                k = 4 * i
                inv = 1.0 / ca
                row[k] = min(255, int(cr * inv + 0.5))
                row[k + 1] = min(255, int(cg * inv + 0.5))
                row[k + 2] = min(255, int(cb * inv + 0.5))
                row[k + 3] = min(255, int(ca * 255.0 + 0.5))
        rows.append(bytes(row))
    return rows


def gem_colour(x, y, aa, st):
    """Facet shading: lit facets to the upper left, deep ones to the lower right."""
    gem = st.gem
    below = clamp01(0.5 + (y - gem.girdle) * aa)
    if st.six_facets:
        # Inner facet lines run from the tips to the table's corners on the girdle.
        if y < gem.girdle:
            k = (y - gem.top) / (gem.girdle - gem.top)
        else:
            k = (gem.bottom - y) / (gem.bottom - gem.girdle)
        half = gem.table * clamp01(k)
        # Signed distance to the inner lines, roughly: fine for seams a pixel wide.
        left = clamp01(0.5 + (x + half) * aa)    # 0 on the outer left facet
        right = clamp01(0.5 + (x - half) * aa)   # 1 on the outer right facet
        top = mix(mix(TEAL_LIGHT, (104, 226, 232), left), AZURE, right)
        bottom = mix(mix(AZURE, BLUE, left), DEEP, right)
        # Light grows towards the tips, keeping the faces from looking flat.
        top = mix(top, WHITE, 0.25 * clamp01(1.0 - k)) if y < gem.girdle else top
        bottom = mix(bottom, (16, 26, 90), 0.45 * clamp01(1.0 - k)) if y >= gem.girdle else bottom
    else:
        right = clamp01(0.5 + x * aa)
        top = mix(TEAL_LIGHT, AZURE, right)
        # Lighter than the large cut: a deep facet beside the ring's blue would merge with it.
        bottom = mix(AZURE if st.small else BLUE, BLUE if st.small else DEEP, right)
    return mix(top, bottom, below)


def png(rows, size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = bytearray()
    prev = bytes(size * 4)
    for row in rows:
        # Filter "up": rows of a round emblem repeat a lot, and it is simple to get right.
        raw.append(2)
        raw.extend(bytes((row[k] - prev[k]) & 0xFF for k in range(len(row))))
        prev = row
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)   # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def dib(rows, size):
    """A 32-bit icon image: header with doubled height, bottom-up BGRA, then the AND mask."""
    xor = bytearray()
    for row in reversed(rows):
        for k in range(0, len(row), 4):
            xor += bytes((row[k + 2], row[k + 1], row[k], row[k + 3]))
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for i in range(size):
            if row[4 * i + 3] == 0:                 # fully transparent: set in the mask
                line[i >> 3] |= 0x80 >> (i & 7)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def ico(images):
    """images: list of (size, bytes). The directory entry says 0 for 256."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b""
    for size, blob in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset + len(data))
        data += blob
    return out + data


def write(path, data):
    # Write a sibling and rename it, so a stopped build never leaves half a file behind that
    # make would take as up to date.
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_art.py OUTDIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    write(os.path.join(out, "logo.png"), png(render(512, False), 512))
    images = []
    for size in (16, 24, 32, 48, 64, 128, 256):
        rows = render(size, True)
        images.append((size, png(rows, size) if size == 256 else dib(rows, size)))
    write(os.path.join(out, "orvane.ico"), ico(images))


if __name__ == "__main__":
    main()
