#!/usr/bin/env bash
# The setup window end to end, under an X server of its own at 144 dpi:
#   smoke.sh ORVANESETUP_EXE FIXTURE_SERVER_EXE BUILD_DIR PLANTED_DLL ORVPAK_EXE ACCESS_PROBE_EXE
# a. A fresh install from a loopback update host with the keyboard alone: Enter on Browse, the
#    folder typed into the picker, Tab to INSTALL, Enter. It reaches the done screen: the
#    published files are in place, the shortcut is on the desktop and PLAY shows in the accent
#    colour; Enter on PLAY ends the program with exit code 0. What a screen reader finds on the
#    choose, working, done and failed screens is read from the running window by
#    ACCESS_PROBE_EXE, from a process of its own as a screen reader does.
# b. The setup's copy in the install folder removes the install of a. in its window: the
#    question, then the done screen with CLOSE; a player's file stays, the rest is gone.
# c. Escape while the archive is still downloading asks first; Yes ends the program, code 0.
# d. An update host that cannot be reached, with --lang=ru: the failed screen reads out its
#    heading, its error and its button in Russian.
# The program of a. runs from a "Downloads" folder, and the removal of b. from %TEMP%, each
# beside a planted winhttp.dll, bcrypt.dll, gdiplus.dll and oleacc.dll that leaves a marker
# when loaded; orvpak.exe makes a key from there too. Between them they call into all four
# DLLs (oleacc once a screen reader asks, as the probe does), and not one planted copy may
# load. (Wine prefers its own DLLs to any beside a program unless told native-first, as
# Windows is: WINEDLLOVERRIDES below.)
# Screenshots go to BUILD_DIR/screens/smoke-*.png. The Wine prefix (BUILD_DIR/wineprefix-ui-smoke)
# is made once and kept: a fresh one costs ten seconds.
set -uo pipefail

if [ $# -ne 6 ]; then
    echo "usage: smoke.sh ORVANESETUP_EXE FIXTURE_SERVER_EXE BUILD_DIR PLANTED_DLL ORVPAK_EXE ACCESS_PROBE_EXE" >&2
    exit 2
fi
setup_exe=$1
fixture_exe=$2
build=$(cd "$3" && pwd)
planted_dll=$4
orvpak_exe=$5
access_probe=$6
screens=$build/screens
script_name=ui_smoke
gui_on_exit() { stop_fixtures; }
source "$(dirname "$0")/../../../scripts/gui_session.sh"

started=$(date +%s%3N)
gui_start "$build/wineprefix-ui-smoke"
mkdir -p "$screens"
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winhttp,bcrypt,gdiplus,oleacc=n,b"

# --- Helpers ------------------------------------------------------------------------------
screenshot() { import -window root "$screens/smoke-$1.png" || fail "screenshot $1"; }
# The colour at screen point x,y of a screenshot, as RRGGBB.
pixel() {
    convert "$screens/smoke-$1.png" -crop "1x1+$2+$3" +repage -depth 8 txt:- |
        grep -o '#[0-9A-Fa-f]\{6\}' | head -n1 | tr -d '#' | tr a-f A-F
}
# Both ends of the primary button's fill show the accent colour.
button_is_accent() {
    local y=$(( wy + $(scaled $(( (kButtonTop + kButtonBottom) / 2 ))) ))
    local left=$(( wx + $(scaled $(( kButtonLeft + kButtonInset ))) ))
    local right=$(( wx + $(scaled $(( kButtonRight - kButtonInset ))) ))
    screenshot "$1"
    local at_left at_right
    at_left=$(pixel "$1" "$left" "$y") at_right=$(pixel "$1" "$right" "$y")
    seen="last saw #$at_left at $left,$y and #$at_right at $right,$y"
    [ "$at_left" = "$accent" ] && [ "$at_right" = "$accent" ]
}
# Puts the planted DLLs into folder $1 under the names the program imports.
plant() {
    local name
    for name in winhttp bcrypt gdiplus oleacc; do cp -f "$planted_dll" "$1/$name.dll" || fail "cannot plant $1/$name.dll"; done
    rm -f "$1/planted.marker"
}
expect_nothing_planted_loaded() {
    local marker
    for marker in "$downloads/planted.marker" "$temp/planted.marker"; do
        [ -e "$marker" ] && fail "$1: the program loaded the planted $(cat "$marker")"
    done
    say "$1: no planted DLL was loaded"
}
# What a screen reader finds in the setup window now, one item a line (role, name, value,
# states, tab-separated), into $work/access-$1.txt.
read_window() { "$wine_run" "$access_probe" >"$work/access-$1.txt" 2>"$work/access-$1.err"; }
# Waits until the window reads out a line that matches the extended regular expression $3.
expect_read() {
    local name=$1 seconds=$2 pattern=$3
    reads() { read_window "$name" && grep -Eq "$pattern" "$work/access-$name.txt"; }
    wait_until "$seconds" "$name: a screen reader finds /$pattern/" reads
}
tab=$'\t'
downloads=$work/Downloads
mkdir -p "$downloads"
cp -f "$setup_exe" "$orvpak_exe" "$downloads/"
plant "$downloads"
temp=$("$wine_run" winepath -u "$("$wine_run" cmd /c echo %TEMP% | tr -d '\r')" 2>/dev/null)
[ -d "$temp" ] || fail "no %TEMP% folder in the prefix ($temp)"
plant "$temp"

# The fill of primary buttons, from the painter's palette (0xAARRGGBB there).
accent=$(palette_colour kAccent)
[ -n "$accent" ] || fail "no kAccent colour in render/palette.h"

# --- a. Fresh install with the keyboard alone ---------------------------------------------
start_fixture fast
start_fixture slow --slow
url=$(fixture_url fast)
install_a=$work/install-a
mkdir -p "$install_a"
remove_desktop_shortcut
say "a. fresh install from $url, with the keyboard alone"
start_setup "$downloads/OrvaneSetup.exe" --manifest="$url" --log="$(windows_path "$work/window.log")"
# A program that took a planted DLL never shows its window: say so rather than wait for it.
window_or_planted() { window_count_is 1 || [ -e "$downloads/planted.marker" ]; }
wait_until 20 "a. fresh install: the setup window appears" window_or_planted
expect_nothing_planted_loaded "a. start from Downloads"
find_setup_window 20 "a. fresh install"
# Give the first frame a moment to reach the screen; the splash is on it for 1.5 s.
for _ in 1 2 3 4 5; do
    screenshot splash
    [ "$(pixel splash $(( wx + $(scaled $(( kWidth / 2 ))) )) $(( wy + $(scaled 40) )))" != 000000 ] && break
    sleep 0.1
done
# Nothing is chosen yet, so INSTALL cannot be pressed and the focus starts on Browse (which a
# reader names only while the window has the keyboard).
timeout 5 xdotool windowfocus --sync "$wid" || fail "cannot focus the setup window"
expect_read choose 10 "^push button${tab}Browse\.\.\.${tab}${tab}.*focused"
grep -Eq "^push button${tab}INSTALL${tab}${tab}unavailable" "$work/access-choose.txt" ||
    fail "a. choose: INSTALL is not read as unavailable: $(cat "$work/access-choose.txt")"
grep -Eq "^static text${tab}Choose where to install" "$work/access-choose.txt" ||
    fail "a. choose: the heading is not read out: $(cat "$work/access-choose.txt")"
press "$wid" Return
picker_open() { xdotool search --onlyvisible --name '^Choose where to install Orvane Online$' >/dev/null 2>&1; }
wait_until 10 "a. Enter on Browse opens the folder picker" picker_open
xdotool type --delay 10 "$(windows_path "$install_a")"
xdotool key Return
wait_until 10 "a. the folder picker closes" eval '! picker_open'
expect_read chosen 10 "^static text${tab}Install location: .*install-a"
screenshot choose-keyboard
press "$wid" Tab
expect_read focus 5 "^push button${tab}INSTALL${tab}${tab}.*focused"
press "$wid" Return
wait_until 60 "a. fresh install: the files are in place" \
    client_installed "$work/fixture-fast/client" "$install_a/OrvaneOnline"
wait_until 10 "a. fresh install: the desktop shortcut is there" desktop_shortcut_placed
wait_until 10 "a. fresh install: PLAY in the accent colour #$accent" button_is_accent done
grep -q "Installation complete" "$work/window.log" || fail "a. fresh install: the log does not say it is complete"
expect_read done 10 "^static text${tab}Installation complete"
grep -Eq "^push button${tab}PLAY${tab}${tab}.*focused" "$work/access-done.txt" ||
    fail "a. done: PLAY is not read as focused: $(cat "$work/access-done.txt")"
say "a. fresh install: done screen reached, logged and read out"
press "$wid" Return
expect_exit_zero 10 "a. Enter on PLAY"
expect_nothing_planted_loaded "a. run from Downloads"

# --- b. Removal from the install folder, in the window ----------------------------------
mkdir -p "$install_a/OrvaneOnline/screenshots"
printf 'player' >"$install_a/OrvaneOnline/screenshots/shot1.png"
say "b. removal from the install folder"
start_setup "$install_a/OrvaneOnline/OrvaneSetup.exe" --uninstall
wait_until 20 "b. removal: the question appears" window_count_is 1
screenshot remove-question
press "$(setup_windows)" Return
only_player_file() { [ "$(cd "$install_a/OrvaneOnline" && find . -type f)" = "./screenshots/shot1.png" ]; }
wait_until 30 "b. removal: only the player's file stays" only_player_file
wait_until 10 "b. removal: the window shows" window_count_is 1
find_setup_window 20 "b. removal"
wait_until 10 "b. removal: CLOSE in the accent colour #$accent" button_is_accent removed
desktop_shortcut_placed && fail "b. removal: the desktop shortcut is still there"
# The setup that was started ended with the copy's result, as soon as it had it.
expect_exit_zero 10 "b. the setup started from the install folder"
press "$wid" Escape
wait_until 10 "b. removal: the window closes" window_count_is 0
expect_nothing_planted_loaded "b. removal run from %TEMP%"
"$wine_run" "$downloads/orvpak.exe" keygen "$(windows_path "$work/operator.key")" >"$work/orvpak.log" 2>&1 ||
    fail "orvpak keygen from Downloads failed: $(cat "$work/orvpak.log")"
expect_nothing_planted_loaded "orvpak.exe run from Downloads"

# --- c. Cancel while working --------------------------------------------------------------
url=$(fixture_url slow)
install_b=$work/install-b
mkdir -p "$install_b"
say "c. cancel while working, from $url (slow archive)"
start_setup "$setup_exe" --manifest="$url" --install="$(windows_path "$install_b")"
find_setup_window 20 "c. cancel"
# The archive request shows that the splash is over and the work has begun.
wait_until 20 "c. cancel: the program starts downloading" test -f "$work/fixture-slow/archive-requested"
screenshot working
expect_read working 10 "^progress bar${tab}Progress${tab}[0-9]+%"
grep -Eq "^static text${tab}(Downloading client|Installing)" "$work/access-working.txt" ||
    fail "c. working: the status is not read out: $(cat "$work/access-working.txt")"
press "$wid" Escape
wait_until 10 "c. cancel: Escape while working shows the message box" window_count_is 2
screenshot cancel
box=$(setup_windows | grep -vx "$wid" | head -n1)
press "$box" Return
expect_exit_zero 10 "c. Yes in the message box"

# --- d. A host that cannot be reached, in Russian -----------------------------------------
say "d. failed screen, with --lang=ru"
start_setup "$setup_exe" --lang=ru --manifest=http://127.0.0.1:9/pc/manifest.json \
    --install="$(windows_path "$work/install-d")"
setup_title='Orvane Online$'  # "Установка Orvane Online"
find_setup_window 20 "d. failed"
expect_read failed 30 "^static text${tab}Ошибка установки"
grep -Eq "^(editable )?text${tab}Подробности${tab}.*Не удалось подключиться к серверу обновлений" \
    "$work/access-failed.txt" || fail "d. failed: the error is not read out in Russian: $(cat "$work/access-failed.txt")"
grep -Eq "^push button${tab}ПОВТОРИТЬ${tab}${tab}.*focused" "$work/access-failed.txt" ||
    fail "d. failed: ПОВТОРИТЬ is not read as focused: $(cat "$work/access-failed.txt")"
setup_title=
screenshot failed
press "$wid" Escape
expect_exit_zero 10 "d. Escape on the failed screen"

elapsed=$(( $(date +%s%3N) - started ))
say "passed in $(( elapsed / 1000 )).$(( elapsed % 1000 / 100 )) s; screenshots in $screens"
