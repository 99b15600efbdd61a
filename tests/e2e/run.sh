#!/usr/bin/env bash
# Runs the end-to-end tests against a real nginx:
#   tests/e2e/run.sh BUILD/tests/e2e/e2e_tests.exe [GOOGLETEST ARGUMENTS...]
# nginx serves a fresh folder under /tmp, removed with the server's logs on every exit. The
# test certificates (BUILD/e2e-certs) and the Wine prefix that trusts their authority
# (BUILD/wineprefix-e2e) stay in the build tree, so only the first run pays for them.
# A second nginx (NGINX_STOPPING_*) serves the same folder slowly, for the one case that has
# an origin go down mid-download: the case creates the file E2E_STOP_ORIGIN names, and this
# script then stops that nginx at once and creates the same name with ".done" added.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 e2e_tests.exe [gtest arguments]" >&2; exit 2; }
exe=$(realpath "$1")
shift
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)

build=$(dirname "$exe")
until [ -f "$build/CMakeCache.txt" ]; do
    [ "$build" != / ] || { echo "run.sh: $exe is not inside a CMake build tree" >&2; exit 1; }
    build=$(dirname "$build")
done
export WINEPREFIX=$build/wineprefix-e2e

# shellcheck source=../../scripts/nginx_fixture.sh
source "$scripts/nginx_fixture.sh"  # and scripts/lib.sh
work=$(mktemp -d /tmp/orvane-e2e.XXXXXX)
watcher=
cleanup() {
    [ -z "$watcher" ] || kill "$watcher" 2>/dev/null || true
    nginx_fixture_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$work/www" "$work/nginx" "$build/e2e-certs"
ln -s "$build/e2e-certs" "$work/nginx/certs"

# Two runs in one build tree must not both make the certificates or trust them.
exec 8>"$build/e2e-certs.lock"
flock 8
nginx_fixture_start "$work/nginx" "$work/www" || { echo "run.sh: nginx could not start" >&2; exit 1; }
# The prefix trusts the authority it was given last.
marker=$WINEPREFIX/.e2e-trusted-ca
wine_trusts_ca "$NGINX_CA_PEM" "$marker" || wine_trust_ca "$NGINX_CA_PEM" "$marker" || exit 1
exec 8>&-
# Slow enough that a few MB take seconds, so the case can ask for the stop midway.
nginx_fixture_start --name STOPPING --rate 1m "$work/nginx-stopping" "$work/www" ||
    { echo "run.sh: the second nginx could not start" >&2; exit 1; }
(
    while [ ! -e "$work/stop-origin" ]; do sleep 0.05; done
    nginx_fixture_kill STOPPING && touch "$work/stop-origin.done"
) &
watcher=$!

export E2E_WWW E2E_ACCESS_LOG E2E_STOP_ORIGIN
E2E_WWW=$(windows_path "$work/www")
E2E_ACCESS_LOG=$(windows_path "$NGINX_ACCESS_LOG")
E2E_STOP_ORIGIN=$(windows_path "$work/stop-origin")

status=0
"$wine_run" "$exe" "$@" || status=$?
if [ "$status" -ne 0 ]; then
    echo "run.sh: e2e_tests exited with $status; nginx saw:" >&2
    tail -n 40 "$NGINX_ACCESS_LOG" >&2 || true
    echo "run.sh: and the nginx that stops (NGINX_STOPPING_*):" >&2
    tail -n 10 "$NGINX_STOPPING_ACCESS_LOG" >&2 || true
fi
exit "$status"
