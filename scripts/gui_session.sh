# Sourced by the scripts that drive the setup window (tests/ui/smoke/smoke.sh,
# bench/idle_cpu.sh, demo/run.sh): an X server and a Wine prefix of their own, and everything
# they started gone when the script ends, whichever way it ends.
#
# Before sourcing, set `gui_name` (the prefix of every message). A script that starts more
# (a web server) defines `gui_on_exit`, which runs first when the script ends.
#
#   gui_start PREFIX [DPI] [current]   the prefix at DPI (default 144); with `current`, the
#                                      X display in $DISPLAY instead of an Xvfb of our own

gui_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
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
    trap - EXIT INT TERM HUP
    declare -F gui_on_exit >/dev/null && gui_on_exit
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

# Readies the prefix `$1` at `$2` dpi (made once, then kept: a fresh one costs ten seconds)
# and the X display: an Xvfb on a free display, or with `current` as $3 the one in $DISPLAY.
gui_start() {
    export WINEPREFIX=$1
    local dpi=${2:-144} display=${3:-own}
    if [ "$display" = current ]; then
        [ -n "${DISPLAY:-}" ] || fail "no X display in \$DISPLAY"
        xdotool getmouselocation >/dev/null 2>&1 || fail "cannot reach the X display $DISPLAY"
    else
        Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
        gui_xvfb_pid=$!
        wait_until 10 "Xvfb starts" test -s "$work/display"
        export DISPLAY=:$(head -n1 "$work/display")
    fi
    # A wineserver left by a killed run would keep its desktop on a display that is gone.
    wineserver -k 2>/dev/null

    # scripts/wine-run makes the prefix with fonts and unmanaged windows; the dpi is ours.
    if [ "$(cat "$WINEPREFIX/.gui-dpi" 2>/dev/null)" != "$dpi" ]; then
        say "preparing the Wine prefix $WINEPREFIX at $dpi dpi"
        "$wine_run" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
            >/dev/null 2>&1 || fail "setting $dpi dpi in the prefix $WINEPREFIX"
        wineserver -w
        echo "$dpi" >"$WINEPREFIX/.gui-dpi"
    fi
    # No hover colour on any button; on a display of the player's own, nothing is moved.
    [ "$display" = current ] || xdotool mousemove 0 0
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
