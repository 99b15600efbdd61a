# Sourced by the window's scripts (smoke.sh, bench/idle_cpu.sh): an X server of their own, a
# Wine prefix of their own at 144 dpi, and everything of both gone when the script ends,
# whichever way it ends. Before sourcing, set `gui_name` (the prefix of every message).

gui_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)
wine_run=$gui_root/scripts/wine-run
export WINEDEBUG=-all
work=$(mktemp -d "/tmp/$gui_name.XXXXXX")
gui_xvfb_pid=

say() { echo "$gui_name: $*"; }
fail() {
    echo "$gui_name: FAILED: $*" >&2
    if [ -s "$work/setup.log" ]; then sed 's/^/  setup: /' "$work/setup.log" >&2; fi
    exit 1
}

gui_cleanup() {
    touch "$work"/fixture-*/stop 2>/dev/null
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
    [ -n "$gui_xvfb_pid" ] && kill "$gui_xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap gui_cleanup EXIT
trap 'exit 1' INT TERM HUP

# Polls `command...` every 0.1 s until it succeeds; fails naming `what` after `seconds`, with
# what the command last left in $seen.
wait_until() {
    local seconds=$1 what=$2
    shift 2
    seen=
    local deadline=$(( $(date +%s%N) + seconds * 1000000000 ))
    until "$@"; do
        [ "$(date +%s%N)" -lt "$deadline" ] || fail "$what (not within ${seconds} s)${seen:+; $seen}"
        sleep 0.1
    done
}

windows_path() { local path=${1//\//\\}; echo "Z:$path"; }

# Starts Xvfb on a free display and readies the prefix `$1` (made once, then kept: a fresh
# one costs ten seconds).
gui_start() {
    export WINEPREFIX=$1
    Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    gui_xvfb_pid=$!
    wait_until 10 "Xvfb starts" test -s "$work/display"
    export DISPLAY=:$(head -n1 "$work/display")
    # A wineserver left by a killed run would keep its desktop on a display that is gone.
    wineserver -k 2>/dev/null

    # scripts/wine-run makes the prefix with fonts and unmanaged windows; the dpi is ours.
    if [ ! -f "$WINEPREFIX/.gui-ready" ]; then
        say "preparing the Wine prefix $WINEPREFIX (once)"
        "$wine_run" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f \
            >/dev/null 2>&1 || fail "setting 144 dpi in the prefix $WINEPREFIX"
        wineserver -w
        touch "$WINEPREFIX/.gui-ready"
    fi
    xdotool mousemove 0 0  # no hover colour on any button
}

# Starts the setup program with `args...`; its pid (the Wine process itself) in setup_pid.
start_setup() {
    local exe=$1
    shift
    "$wine_run" "$exe" "$@" >"$work/setup.log" 2>&1 &
    setup_pid=$!
}
setup_ended() { ! kill -0 "$setup_pid" 2>/dev/null; }
setup_windows() { xdotool search --onlyvisible --name '^Orvane Online Setup$' 2>/dev/null; }
window_count_is() { [ "$(setup_windows | wc -l)" -eq "$1" ]; }

# Focuses a window and types a key into it, as a player would.
press() {
    timeout 5 xdotool windowfocus --sync "$1" || fail "cannot focus window $1 for $2"
    xdotool key "$2"
}
