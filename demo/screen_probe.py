#!/usr/bin/env python3
"""Reads colours from a screenshot in binary PPM (what `import -window root x.ppm` writes).

    screen_probe.py pixels FILE X Y [X Y ...]          RRGGBB of each point, one a line
    screen_probe.py count FILE X0 Y0 X1 Y1 RRGGBB TOL  how many pixels of the box (X1, Y1
                                                        excluded) are within TOL of RRGGBB
                                                        in every channel
Points outside the image read as 000000 and count for nothing.
"""

import sys


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 4:  # magic, width, height, maximum; comments start with '#'
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at) + 1
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    if fields[0] != b"P6" or int(fields[3]) != 255:
        raise SystemExit(f"screen_probe: {path} is not an 8-bit binary PPM")
    return int(fields[1]), int(fields[2]), data[at + 1:]


def rgb(image, x, y):
    width, height, pixels = image
    if not (0 <= x < width and 0 <= y < height):
        return (0, 0, 0)
    at = (y * width + x) * 3
    return tuple(pixels[at:at + 3])


def main(argv):
    if len(argv) >= 5 and argv[1] == "pixels" and len(argv) % 2 == 1:
        image = read_ppm(argv[2])
        points = list(map(int, argv[3:]))
        for x, y in zip(points[0::2], points[1::2]):
            print("%02X%02X%02X" % rgb(image, x, y))
        return 0
    if len(argv) == 9 and argv[1] == "count":
        image = read_ppm(argv[2])
        x0, y0, x1, y1 = map(int, argv[3:7])
        want = bytes.fromhex(argv[7])
        tolerance = int(argv[8])
        found = 0
        for y in range(y0, y1):
            for x in range(x0, x1):
                if all(abs(a - b) <= tolerance for a, b in zip(rgb(image, x, y), want)):
                    found += 1
        print(found)
        return 0
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
