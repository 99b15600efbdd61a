#!/usr/bin/env python3
"""A client shaped after a real game, and the next release of it, made from fixed seeds.

    real_game_layout.py make DIR [--random]    5,250 files (722 MB); sizes from the real
                                               game's histogram, paths two and three folders
                                               deep, real-looking names. Without --random each
                                               file is 64 random bytes then zeros (sparse,
                                               quick); with it, every byte is random, as
                                               compressed game data is.
    real_game_layout.py change DIR [--insert]  The next release: 10 large files (>= 1 MiB)
                                               changed, 40 small ones (< 16 KiB) rewritten,
                                               10 added, 10 dropped. Without --insert the
                                               large files get their first 64 bytes
                                               overwritten and the small ones too; with it
                                               the large files get 100 random bytes inserted
                                               in the middle and the small ones new random
                                               bytes throughout, the same size.
"""
import os
import random
import sys

# Per size band of the real game: its files and their bytes (5,250 files, 721,858,544 bytes in
# all) and its smallest size. Each band's sizes are spread evenly from the smallest up to what
# gives the band its bytes.
BANDS = [(1136, 456706, 16), (917, 2250251, 1024), (948, 8142658, 4096), (815, 27865434, 16384),
         (829, 110510835, 65536), (422, 217908136, 262144), (177, 314899492, 1048576),
         (6, 39825032, 4194304)]
KINDS = {"textures": ".png", "models": ".spm", "tracks": ".xml", "gui": ".stkgui",
         "music": ".ogg", "shaders": ".frag", "po": ".po", "replay": ".replay",
         "karts": ".spm", "library": ".xml", "challenges": ".challenge", "fonts": ".ttf"}
WORDS = ["forest", "coast", "canyon", "harbor", "volcano", "glacier", "market", "temple",
         "bridge", "tunnel", "garden", "castle", "desert", "meadow", "station", "island"]
PARTS = ["wall", "rock", "tree", "sign", "road", "grass", "water", "cloud", "lamp", "fence",
         "crate", "banner", "roof", "arch", "pillar", "stair"]


def make(root, random_content):
    names = random.Random(5250)
    content = random.Random(723)
    taken = set()
    for count, total, low in BANDS:
        high = 2 * total // count - low
        for i in range(count):
            while True:
                folder = names.choice(list(KINDS))
                sub = names.choice(WORDS)
                path = (f"{folder}/{sub}" if names.random() < 0.22 else
                        f"{folder}/{sub}/{names.choice(PARTS)}s")
                name = f"{names.choice(PARTS)}_{names.choice(WORDS)}_{names.randint(1, 999):03d}"
                full = f"{path}/{name}{KINDS[folder]}"
                if full not in taken:
                    break
            taken.add(full)
            size = low + (high - low) * i // max(count - 1, 1)
            os.makedirs(os.path.join(root, os.path.dirname(full)), exist_ok=True)
            with open(os.path.join(root, full), "wb") as out:
                if random_content:
                    out.write(content.randbytes(size))
                else:
                    out.write(os.urandom(min(size, 64)))  # a digest of its own
                    out.truncate(size)


def change(root, insert):
    pick = random.Random(70)
    content = random.Random(71)
    files = sorted(os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs)
    large = [f for f in files if os.path.getsize(f) >= 1 << 20]
    small = [f for f in files if os.path.getsize(f) < 16384]
    picked_large, picked_small = pick.sample(large, 10), pick.sample(small, 40)
    for path in picked_large:
        if insert:
            with open(path, "rb") as f:
                data = f.read()
            middle = len(data) // 2
            data = data[:middle] + content.randbytes(100) + data[middle:]
            with open(path, "wb") as f:
                f.write(data)
        else:
            with open(path, "r+b") as f:
                f.write(content.randbytes(64))
    for path in picked_small:
        with open(path, "r+b") as f:
            f.write(content.randbytes(os.path.getsize(path) if insert else 64))
    picked = set(picked_large + picked_small)
    for path in pick.sample([f for f in files if f not in picked], 10):
        os.remove(path)
    for i in range(10):
        path = os.path.join(root, "tracks", "aurora", f"aurora_part_{i:02d}.xml")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(content.randbytes(2000))


if __name__ == "__main__":
    if len(sys.argv) < 3 or sys.argv[1] not in ("make", "change"):
        sys.exit(__doc__)
    if sys.argv[1] == "make":
        make(sys.argv[2], "--random" in sys.argv[3:])
    else:
        change(sys.argv[2], "--insert" in sys.argv[3:])
