# Sourced by the scripts that drive the setup window (tests/ui/smoke/smoke.sh,
# bench/idle_cpu.sh, demo/run.sh) and by tests/ui/smoke/silent.sh: a work folder, an X server
# and a Wine prefix of their own, and everything they started gone when the script ends,
# whichever way it ends. The helpers they call are in scripts/lib.sh, sourced here.
#
# Before sourcing, set `script_name` (the prefix of every message). A script that starts more
# (a web server) defines `gui_on_exit`, which runs first when the script ends.
#
#   gui_start PREFIX [DPI] [current]   the prefix at DPI (default 144); with `current`, the
#                                      X display in $DISPLAY instead of an Xvfb of our own

# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
export WINEDEBUG=-all
work=$(mktemp -d "/tmp/$script_name.XXXXXX")
gui_xvfb_pid=

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

# Readies the prefix `$1` at `$2` dpi (made once, then kept: a fresh one costs ten seconds)
# and the X display: an Xvfb on a free display, or with `current` as $3 the one in $DISPLAY.
gui_start() {
    export WINEPREFIX=$1
    local dpi=${2:-144} display=${3:-own}
    gui_dpi=$dpi  # for scaled
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
