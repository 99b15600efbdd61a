# The helpers that the scripts around the setup program share: the smoke and silent tests
# (tests/ui/smoke), the nginx run (tests/e2e/run.sh), the demo (demo/run.sh) and the idle
# benchmark (bench/idle_cpu.sh), sourced directly or through scripts/gui_session.sh and
# scripts/nginx_fixture.sh. Sourcing defines functions and the paths and window measures
# below, nothing else.
#
# say and fail put `$script_name` before their message; fail also shows what the setup
# program printed ($work/setup.log, see start_setup) and ends the script.

[ -z "${lib_sourced:-}" ] || return 0
lib_sourced=1

lib_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
wine_run=$lib_root/scripts/wine-run

say() { echo "$script_name: $*"; }
fail() {
    echo "$script_name: FAILED: $*" >&2
    if [ -n "${work:-}" ] && [ -s "$work/setup.log" ]; then sed 's/^/  setup: /' "$work/setup.log" >&2; fi
    exit 1
}

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

# A path on this machine as Wine's programs name it (drive Z: is the root).
windows_path() { local path=${1//\//\\}; echo "Z:$path"; }

# True when every file under CLIENT is under TARGET with the same bytes; otherwise the first
# that differs is in $seen.
client_installed() {
    local client=$1 target=$2 file
    while IFS= read -r -d '' file; do
        cmp -s "$client/$file" "$target/$file" || { seen="$file differs"; return 1; }
    done < <(cd "$client" && find . -type f -print0)
}

# A colour of the painter's palette (0xAARRGGBB in render/palette.h) as RRGGBB.
palette_colour() {
    grep -o "$1 *= *0x[0-9A-Fa-f]\{8\}" "$lib_root/render/palette.h" | grep -o '[0-9A-Fa-f]\{6\}$' |
        tr a-f A-F
}

# The desktop shortcut in $WINEPREFIX; Wine links the desktop into HOME (scripts/wine-run).
desktop_shortcut_placed() {
    compgen -G "$WINEPREFIX/drive_c/users/*/Desktop/Orvane Online.lnk" >/dev/null ||
        [ -f "$WINEPREFIX-home/Desktop/Orvane Online.lnk" ]
}
remove_desktop_shortcut() {
    rm -f "$WINEPREFIX"/drive_c/users/*/Desktop/"Orvane Online.lnk" "$WINEPREFIX-home/Desktop/Orvane Online.lnk"
}

# --- The loopback update host (tests/ui/smoke/fixture_server.cpp) ------------------------
# Starts `$fixture_exe` in $work/fixture-NAME with ARGS...; fixture_url NAME waits until it
# has published its client and prints its manifest URL. Each ends when it sees its stop file:
# stop_fixtures, for the script's gui_on_exit.
start_fixture() {
    mkdir -p "$work/fixture-$1"
    "$wine_run" "$fixture_exe" "$(windows_path "$work/fixture-$1")" "${@:2}" \
        >"$work/fixture-$1.log" 2>&1 &
}
fixture_url() {
    wait_until 30 "the $1 update host publishes its client" test -s "$work/fixture-$1/url.txt"
    cat "$work/fixture-$1/url.txt"
}
stop_fixtures() { touch "$work"/fixture-*/stop 2>/dev/null; }

# --- The setup program and its window ---------------------------------------------------
# The window in 96-dpi units (ui/window_metrics, render/layout.h), and where the primary
# button's flat fill is: clear of its rounded corners and of the centred label.
kWidth=760 kHeight=500
kButtonLeft=264 kButtonRight=496 kButtonTop=392 kButtonBottom=442 kButtonInset=16
# 96-dpi units in pixels at the dpi gui_start set.
scaled() { echo $(( $1 * gui_dpi / 96 )); }

# Starts the setup program with `args...`; its pid (the Wine process itself) in setup_pid.
start_setup() {
    local exe=$1
    shift
    "$wine_run" "$exe" "$@" >"$work/setup.log" 2>&1 &
    setup_pid=$!
}
setup_ended() { ! kill -0 "$setup_pid" 2>/dev/null; }
# The window's title is in its language: a caller that starts it in another sets setup_title.
setup_windows() { xdotool search --onlyvisible --name "${setup_title:-^Orvane Online Setup\$}" 2>/dev/null; }
window_count_is() { [ "$(setup_windows | wc -l)" -eq "$1" ]; }

# Waits up to SECONDS for the one setup window; sets wid, wx, wy, ww, wh and checks its size.
# WHAT names the step in messages.
find_setup_window() {
    wait_until "$1" "$2: the setup window appears" window_count_is 1
    wid=$(setup_windows)
    local WIDTH= HEIGHT= X= Y= SCREEN= WINDOW=
    eval "$(xdotool getwindowgeometry --shell "$wid")"
    wx=$X wy=$Y ww=$WIDTH wh=$HEIGHT
    say "$2: window $wid at $X,$Y, ${WIDTH}x${HEIGHT}"
    [ "$ww" -eq "$(scaled $kWidth)" ] && [ "$wh" -eq "$(scaled $kHeight)" ] ||
        fail "$2: the window is ${ww}x${wh}, expected $(scaled $kWidth)x$(scaled $kHeight) at $gui_dpi dpi"
}

# Waits up to SECONDS for the program to end and checks that its exit code is 0.
expect_exit_zero() {
    wait_until "$1" "$2: the program ends" setup_ended
    wait "$setup_pid"
    local code=$?
    setup_pid=
    say "$2: exit code $code"
    [ "$code" -eq 0 ] || fail "$2: exit code $code, expected 0"
}

# Focuses a window and types a key into it, as a player would.
press() {
    timeout 5 xdotool windowfocus --sync "$1" || fail "cannot focus window $1 for $2"
    xdotool key "$2"
}
