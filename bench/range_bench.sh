#!/usr/bin/env bash
# The full archive from nginx over one connection and over four (run by `make bench`):
#   [RATE=4m] bench/range_bench.sh BUILD [RANGE_BENCH ARGUMENTS...]
# Writes the generated archive once into BUILD/range-bench/www (250 MB by default; --mb N
# names another), serves it with nginx on 127.0.0.1 (plain HTTP; /limited/ at RATE per
# connection, 10m by default) and runs BUILD/bench/range_bench.exe against both locations.
# Where the machine cannot install at 4 x 10 MiB/s at all (a busy shared one), a lower RATE
# still shows what the connections add.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 BUILD [range_bench arguments]" >&2; exit 2; }
build=$(realpath "$1")
shift
scripts=$(cd "$(dirname "$0")/../scripts" && pwd)
# shellcheck source=../scripts/nginx_fixture.sh
source "$scripts/nginx_fixture.sh"  # and scripts/lib.sh

mb=250
args=("$@")
for ((i = 0; i + 1 < ${#args[@]}; i++)); do [ "${args[i]}" != --mb ] || mb=${args[i + 1]}; done
work=$build/range-bench
mkdir -p "$work/www" "$work/nginx"
trap nginx_fixture_stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

exe=$build/bench/range_bench.exe
archive=archive-$mb.orvpak
if [ ! -f "$work/www/$archive.done" ]; then
    rm -f "$work"/www/archive-*
    "$wine_run" "$exe" --write "$(windows_path "$work/www/$archive")" --mb "$mb"
    touch "$work/www/$archive.done"
fi
nginx_fixture_start "$work/nginx" "$work/www"
# Under Wine the speeds swing with CPU placement: say whether the run was pinned.
echo "range_bench: CPUs allowed: $(taskset -pc $$ | sed 's/.*: //') of $(nproc --all);" \
    "limit ${RATE:-10m} per connection"
"$wine_run" "$exe" --limited "http://127.0.0.1:$NGINX_HTTP_PORT/limited/$archive?rate=${RATE:-10m}" \
    --unlimited "http://127.0.0.1:$NGINX_HTTP_PORT/$archive" "$@"
