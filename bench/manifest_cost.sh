#!/usr/bin/env bash
# What the manifest costs a player, measured against nginx as the fixture configures it:
#   bench/manifest_cost.sh [NATIVE_BUILD]      (default build/native; needs orvpak built)
# Generates a client of 5,250 files shaped after a real game (sizes from its histogram,
# paths two and three folders deep, real-looking names), publishes it signed, then an update
# of 10 changed large files, 40 rewritten small ones, 10 added and 10 dropped, and prints
# the manifest's size plain and as nginx sends it compressed, the patch from the first
# manifest to the second (plain and compressed), and what a run with nothing new fetches: the
# signature's conditional GET, answered 304. About a minute; everything lives under /tmp.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
native=$(cd "${1:-$root/build/native}" && pwd)
orvpak=$native/tools/orvpak/orvpak
[ -x "$orvpak" ] || { echo "manifest_cost: build $orvpak first (make build)" >&2; exit 1; }
# shellcheck source=../scripts/nginx_fixture.sh
source "$root/scripts/nginx_fixture.sh"
work=$(mktemp -d /tmp/orvane-manifest-cost.XXXXXX)
trap 'nginx_fixture_stop; rm -rf "$work"' EXIT

python3 "$root/bench/real_game_layout.py" make "$work/client"

nginx_fixture_start "$work/nginx" "$work" >/dev/null || exit 1
base=http://127.0.0.1:$NGINX_HTTP_PORT/www
"$orvpak" keygen "$work/key.pem" >/dev/null 2>&1
publish() { "$orvpak" publish "$work/client" "$work/www" --base-url "$base" --sign-key "$work/key.pem" >/dev/null; }
publish
cp "$work/www/pc/manifest.json" "$work/first.json"

# The update: 10 changed large files, 40 rewritten small ones, 10 added, 10 dropped.
python3 "$root/bench/real_game_layout.py" change "$work/client"
publish
patch=$work/www/pc/patches/$(sha256sum "$work/first.json" | cut -d' ' -f1)
[ -f "$patch" ] || { echo "manifest_cost: no patch was published" >&2; exit 1; }

# Bytes of a body as nginx sends it to a client that asks for gzip, and the whole response.
sent() { curl -s -o /dev/null -H 'Accept-Encoding: gzip' -w '%{size_download}' "$@"; }
url=$base/pc/manifest.json
etag=$(curl -s -D - -o /dev/null "$url.sig" | tr -d '\r' | sed -n 's/^[Ee][Tt]ag: //p')
read -r status body head < <(curl -s -o /dev/null -H "If-None-Match: $etag" \
    -w '%{http_code} %{size_download} %{size_header}\n' "$url.sig")
files=$(grep -c '"path"' "$work/www/pc/manifest.json")
printf 'client                 %s files (%s MB)\n' "$files" "$(( $(du -sb "$work/client" | cut -f1) / 1000000 ))"
printf 'manifest.json          %s bytes, %s gzip-compressed by nginx\n' \
    "$(stat -c %s "$work/www/pc/manifest.json")" "$(sent "$url")"
printf 'patch from the first   %s bytes, %s compressed (10 changed large, 40 rewritten small,\n' \
    "$(stat -c %s "$patch")" "$(sent "$base/pc/patches/$(basename "$patch")")"
printf '                       10 added, 10 dropped)\n'
printf 'nothing new            one conditional GET of the signature: status %s, %s body bytes,\n' \
    "$status" "$body"
printf '                       %s bytes of response head\n' "$head"
