#!/usr/bin/env bash
# What a player's update costs on the wire, against rsync moving the same change (make bench):
#   bench/update_cost.sh [WIN_BUILD [NATIVE_BUILD]]     (defaults build/win, build/native)
# Generates a client shaped after a real game (bench/real_game_layout.py: 5,250 files, 723 MB,
# every byte random, as compressed game data is), publishes it signed with the native orvpak
# to nginx on 127.0.0.1 and installs it with the update engine under Wine
# (BUILD/bench/update_cost.exe). Then the next release: 10 large files with 100 bytes inserted
# mid-file, 40 small files rewritten with new bytes, 10 added, 10 dropped; publishes it, runs
# the update and sums the body bytes nginx sent for that run. rsync then moves the same change
# between a copy of the first tree and the second (rsync -a --no-whole-file --delete): its
# --stats bytes sent plus received, both directions, as it counts them. Prints both and the
# ratio. A few minutes; about 2.2 GB under BUILD/update-cost, removed at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
win=$(cd "${1:-$root/build/win}" && pwd)
native=$(cd "${2:-$root/build/native}" && pwd)
orvpak=$native/tools/orvpak/orvpak
exe=$win/bench/update_cost.exe
for built in "$orvpak" "$exe"; do
    [ -x "$built" ] || { echo "update_cost: build $built first (make build)" >&2; exit 1; }
done
if ! command -v rsync >/dev/null; then  # only this comparison needs it
    apt-get install -y rsync >/dev/null 2>&1 || { apt-get update >/dev/null && apt-get install -y rsync >/dev/null; }
fi
# shellcheck source=../scripts/nginx_fixture.sh
source "$root/scripts/nginx_fixture.sh"  # and scripts/lib.sh
work=$win/update-cost
rm -rf "$work"
mkdir -p "$work"
trap 'nginx_fixture_stop; rm -rf "$work"' EXIT

layout=$root/bench/real_game_layout.py
python3 "$layout" make "$work/client" --random
cp -a "$work/client" "$work/rsync-copy"  # what rsync updates: the first release, times kept
nginx_fixture_start "$work/nginx" "$work" >/dev/null
key=$("$orvpak" keygen "$work/key.pem" 2>/dev/null | grep -Eo '[0-9a-f]{128}' | head -1)
publish() { "$orvpak" publish "$work/client" "$work/www" --base-url "http://127.0.0.1:$NGINX_HTTP_PORT/www" \
                --sign-key "$work/key.pem" >/dev/null; }
update() { "$wine_run" "$exe" --manifest "http://127.0.0.1:$NGINX_HTTP_PORT/www/pc/manifest.json" \
               --install-dir "$(windows_path "$work/player")" --key "$key" 2>>"$work/wine.log"; }
publish
echo "update_cost: release 1 installed: $(update)"

python3 "$layout" change "$work/client" --insert
publish
: >"$NGINX_ACCESS_LOG"
echo "update_cost: release 2 update:    $(update)"
# The engine leaves files a release dropped (the setup removes them with its install record).
client_installed "$work/client" "$work/player" ||
    { echo "update_cost: FAILED: the player's folder is not the second release: $seen" >&2; exit 1; }

# nginx's lines: port "request" status body-bytes seconds "range". Chunk indexes are told
# from the files' objects by the digests the manifest lists.
python3 - "$NGINX_ACCESS_LOG" "$work/www/pc/manifest.json" >"$work/ours" <<'PY'
import json, sys
indexes = {f.get("chunksSha256") for f in json.load(open(sys.argv[2]))["files"]} - {None}
kinds = {}
for line in open(sys.argv[1]):
    _, request, rest = line.split('"')[:3]
    status, sent = rest.split()[:2]
    target = request.split()[1].split("?")[0]
    name = target.rsplit("/", 1)[-1]
    kind = ("manifest and signature" if "/pc/manifest" in target or "/patches/" in target else
            "chunk indexes" if name in indexes else
            "byte ranges" if status == "206" else "whole files")
    bytes_, requests = kinds.get(kind, (0, 0))
    kinds[kind] = (bytes_ + int(sent), requests + 1)
total = sum(b for b, _ in kinds.values())
print(total, sum(r for _, r in kinds.values()))
for kind in ("manifest and signature", "chunk indexes", "byte ranges", "whole files"):
    b, r = kinds.get(kind, (0, 0))
    print(f"    {kind:<24} {b:>10,} bytes in {r:>3} requests")
PY
read -r ours requests <"$work/ours"

stats=$(rsync -a --no-whole-file --delete --stats "$work/client/" "$work/rsync-copy/")
count() { echo "$stats" | sed -n "s/^Total bytes $1: //p" | tr -d ,; }
sent=$(count sent)
received=$(count received)
theirs=$((sent + received))
diff -rq "$work/client" "$work/rsync-copy" >/dev/null || { echo "update_cost: FAILED: rsync's copy differs" >&2; exit 1; }

printf 'update_cost: the second release: %s files, %s MB of random bytes; from the first: 10 large\n' \
    "$(find "$work/client" -type f | wc -l)" \
    "$(find "$work/client" -type f -printf '%s\n' | awk '{ s += $1 } END { printf "%.0f", s / 1e6 }')"
printf '             files with 100 bytes inserted mid-file, 40 small rewritten, 10 added, 10 dropped\n'
printf '  update     %12s body bytes from nginx in %s requests\n' "$ours" "$requests"
tail -n +2 "$work/ours"
printf '  rsync      %12s bytes (sent %s + received %s, --stats, both directions)\n' "$theirs" "$sent" "$received"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "  ratio      %.2fx rsync (goal 1.5x)\n", a / b }'
