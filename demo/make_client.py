#!/usr/bin/env python3
"""The demo's sample game client: a few hundred files, about 200 MB, the same bytes every time.

    make_client.py OUT_DIR ENGINE_EXE

Writes OUT_DIR (nested folders, a name with non-ASCII letters and a space, empty files, a few
packs of tens of MB and many small files) with ENGINE_EXE as its Engine.exe. The tree is made
again only when it is missing, incomplete, or this script has changed since; Engine.exe is
refreshed whenever it differs. OUT_DIR.stamp records what the tree was made from.
"""

import hashlib
import os
import random
import shutil
import sys
import time

SEED = 0x0A7E
KB = 1024
MB = 1024 * KB


def plan():
    """(relative path, size) for every generated file, in a fixed order."""
    rng = random.Random(SEED)
    files = []

    def add(path, size):
        files.append((path, size))

    # The bulk of a client: a few large packs.
    for name, size in (("world_00", 40), ("world_01", 34), ("characters", 27), ("interface", 14)):
        add(f"data/packs/{name}.pak", size * MB + rng.randrange(64 * KB))
    for region in ("north", "south", "isles", "underdeep"):
        for index in range(9):
            add(f"data/maps/{region}/{region}_{index:02}.map", rng.randrange(120 * KB, 900 * KB))
    for texture_set in ("terrain", "buildings", "creatures", "effects", "ui"):
        for index in range(32):
            add(f"data/textures/{texture_set}/{texture_set}_{index:03}.tex",
                rng.randrange(16 * KB, 420 * KB))
    for index in range(14):
        add(f"sound/music/theme_{index:02}.ogg", rng.randrange(1 * MB, 3 * MB))
    for index in range(70):
        add(f"sound/effects/sfx_{index:03}.wav", rng.randrange(4 * KB, 90 * KB))
    for index in range(24):
        add(f"sound/voice/en/line_{index:03}.ogg", rng.randrange(20 * KB, 160 * KB))
    # A folder and a file whose names are not ASCII, one with a space.
    add("data/Größe Karten/übersicht.dat", 1536 * KB + rng.randrange(64 * KB))
    add("data/Größe Karten/Ærø fjord.map", rng.randrange(200 * KB, 500 * KB))
    # Files a client ships empty: caches and markers filled in later.
    for name in ("data/cache/shaders.idx", "data/cache/streaming.idx", "logs/.keep",
                 "config/user.cfg", "sound/voice/en/.complete"):
        add(name, 0)
    return files


TEXT_FILES = {
    "config/client.ini": "[client]\nlanguage=en\nregion=auto\n\n[graphics]\nwindowed=0\nvsync=1\n",
    "config/servers.ini": "[login]\nhost=login.orvane.example\nport=7000\n",
    "readme.txt": "Orvane Online\n\nThis sample client is generated for the setup program's demo.\n"
                  "Its data files hold random bytes.\n",
}


def expected_files():
    files = [(path, size) for path, size in plan()]
    files += [(path, len(text.encode("utf-8"))) for path, text in TEXT_FILES.items()]
    return files


def write_tree(out):
    rng = random.Random(SEED + 1)
    for path, size in plan():
        target = os.path.join(out, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            left = size
            while left:  # in pieces, so the largest pack never sits whole in memory
                piece = min(left, 8 * MB)
                f.write(rng.randbytes(piece))
                left -= piece
    for path, text in TEXT_FILES.items():
        target = os.path.join(out, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)


def script_digest():
    with open(os.path.abspath(__file__), "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def tree_complete(out):
    for path, size in expected_files():
        target = os.path.join(out, path)
        if not os.path.isfile(target) or os.path.getsize(target) != size:
            return False
    return True


def same_bytes(a, b):
    if not os.path.isfile(b) or os.path.getsize(a) != os.path.getsize(b):
        return False
    with open(a, "rb") as fa, open(b, "rb") as fb:
        return fa.read() == fb.read()


def main(argv):
    if len(argv) != 3:
        print("usage: make_client.py OUT_DIR ENGINE_EXE", file=sys.stderr)
        return 2
    out, engine = os.path.abspath(argv[1]), argv[2]
    if not os.path.isfile(engine):
        print(f"make_client: no stand-in program at {engine} (make build)", file=sys.stderr)
        return 1
    stamp = out + ".stamp"
    digest = script_digest()
    current = False
    if os.path.isfile(stamp):
        with open(stamp, encoding="utf-8") as f:
            current = f.read().strip() == digest and tree_complete(out)

    started = time.monotonic()
    if not current:
        # Made beside, then moved into place: an interrupted run leaves no half tree behind.
        partial = out + ".partial"
        shutil.rmtree(partial, ignore_errors=True)
        write_tree(partial)
        if os.path.exists(stamp):
            os.remove(stamp)
        shutil.rmtree(out, ignore_errors=True)
        os.rename(partial, out)
        with open(stamp, "w", encoding="utf-8") as f:
            f.write(digest + "\n")
    engine_target = os.path.join(out, "Engine.exe")
    if not same_bytes(engine, engine_target):
        shutil.copyfile(engine, engine_target)

    count = len(expected_files()) + 1
    total = sum(size for _, size in expected_files()) + os.path.getsize(engine_target)
    how = f"generated in {time.monotonic() - started:.1f} s" if not current else "unchanged"
    print(f"sample client: {count} files, {total / 1e6:.0f} MB in {out} ({how})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
