#!/usr/bin/env bash
# The program without a window, as support staff and launchers run it, through the real
# OrvaneSetup.exe against a loopback update host:
#   silent.sh ORVANESETUP_EXE FIXTURE_SERVER_EXE BUILD_DIR
# a. Wrong command lines end with code 2 and say why.
# b. A silent install in German (code 0, its log lines in English, naming the language), its
#    Apps & features entry read back from the registry, both shortcuts and the setup's own
#    copy; a silent repair; a failing install (code 1, the error in the log).
# c. The entry's quiet uninstall command, run from the install folder, with a player's file
#    in it: only that file and its folder stay; shortcuts and entry are gone.
# d. Removal aimed at a folder without the record, at a drive root and at the profile folder
#    (both holding a forged record) deletes nothing, whatever the spelling (8.3, \\.\); an
#    install into Documents itself (its 8.3 spelling) is refused with nothing written.
# e. A removal run from a program in the install folder that is not the setup's own copy
#    (a player's download) leaves that program where it is.
# f. A client that ships OrvaneSetup.exe: the installed copy, run against the next release,
#    puts the new setup in its own place; the new one then runs and clears the old file.
# Its own Wine prefix (BUILD_DIR/wineprefix-silent), kept between runs; no X display needed.
set -uo pipefail

if [ $# -ne 3 ]; then
    echo "usage: silent.sh ORVANESETUP_EXE FIXTURE_SERVER_EXE BUILD_DIR" >&2
    exit 2
fi
setup_exe=$1
fixture_exe=$2
build=$(cd "$3" && pwd)
script_name=setup_silent
gui_on_exit() { stop_fixtures; }
source "$(dirname "$0")/../../../scripts/gui_session.sh"

started=$(date +%s%3N)
export WINEPREFIX=$build/wineprefix-silent
unset DISPLAY
"$wine_run" cmd /c exit 0 >/dev/null 2>&1 || fail "cannot make the Wine prefix $WINEPREFIX"
wineserver -k 2>/dev/null

readonly key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvaneOnline'
profile=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n1)
[ -n "$profile" ] || fail "no user profile in $WINEPREFIX"
# The Start-menu shortcut lives where Windows says.
start_menu_link() { compgen -G "$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Orvane Online.lnk" >/dev/null; }

# Runs the program (or the program at $1) with the rest as arguments; code in $code, its
# console lines in $work/out.txt.
run() {
    local exe=$1
    shift
    "$wine_run" "$exe" "$@" >"$work/out.txt" 2>"$work/err.txt"
    code=$?
}
expect_code() { [ "$code" -eq "$1" ] || fail "$2: exit code $code, expected $1; output: $(cat "$work/out.txt")"; }
expect_line() {
    grep -qF -- "$2" "$1" || fail "$3: no line with '$2' in $1: $(cat "$1")"
}
# The value of the entry's `$1` as `reg query` shows it; empty when there is no such value.
reg_value() {
    "$wine_run" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
# Every file under $1, relative, sorted.
files_under() { (cd "$1" && find . -type f | sort); }

start_fixture main
url=$(fixture_url main)
client=$work/fixture-main/client
"$wine_run" reg delete "$key" /f >/dev/null 2>&1
remove_desktop_shortcut
rm -f "$profile/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Orvane Online.lnk"

# --- a. Wrong command lines --------------------------------------------------------------
run "$setup_exe" --silent
expect_code 2 "a. --silent without a location"
expect_line "$work/out.txt" "--silent needs --install=" "a. --silent without a location"
run "$setup_exe" --silent --install=C:\\x --colour=blue --log="$(windows_path "$work/usage.log")"
expect_code 2 "a. an unknown option"
expect_line "$work/out.txt" "Unknown option: --colour=blue" "a. an unknown option"
expect_line "$work/usage.log" "Unknown option: --colour=blue" "a. an unknown option, in the log"
say "a. wrong command lines: code 2 and the reason"

# --- b. Install, entry, repair, failure -------------------------------------------------
location=$work/games
install=$location/OrvaneOnline
log=$work/logs/setup.log
# In German: the log stays English, for whoever helps the player, and names the window's language.
run "$setup_exe" --silent --lang=de --manifest="$url" --install="$(windows_path "$location")" \
    --log="$(windows_path "$log")"
expect_code 0 "b. silent install"
for line in "Window language: de" "Installing Orvane Online to" "Downloading client..." \
    "Downloading from ${url%%/pc/*}" "Verifying files..." "Installation complete"; do
    expect_line "$log" "$line" "b. silent install log"
done
expect_line "$work/out.txt" "Installation complete" "b. silent install console"
client_installed "$client" "$install" || fail "b. the installed files differ from the published ones"
cmp -s "$setup_exe" "$install/OrvaneSetup.exe" || fail "b. no copy of the setup in the install folder"
desktop_shortcut_placed || fail "b. no desktop shortcut"
start_menu_link || fail "b. no Start-menu shortcut"
windows_install="Z:${install//\//\\}"
expect_value() {
    local value
    value=$(reg_value "$1")
    [ "$value" = "$2" ] || fail "b. $1 is '$value', expected '$2'"
}
expect_value DisplayName "Orvane Online"
expect_value DisplayVersion "1.4.2"
expect_value Publisher "Orvane Games"
expect_value InstallLocation "$windows_install"
expect_value DisplayIcon "$windows_install\\Engine.exe,0"
expect_value UninstallString "\"$windows_install\\OrvaneSetup.exe\" --uninstall"
expect_value QuietUninstallString "\"$windows_install\\OrvaneSetup.exe\" --uninstall --silent"
expect_value ModifyPath "\"$windows_install\\OrvaneSetup.exe\" --install=\"Z:${location//\//\\}\" --manifest=$url"
kib=$(( ($(cd "$client" && find . -type f -printf '%s+') 0 + 1023) / 1024 ))
expect_value EstimatedSize "$(printf '0x%x' "$kib")"
say "b. silent install: code 0, files, shortcuts, setup copy and the Apps & features entry"

printf 'damaged' >"$install/data/maps/coast.pak"
run "$setup_exe" --silent --manifest="$url" --install="$(windows_path "$location")" --log="$(windows_path "$log")"
expect_code 0 "b. silent repair"
expect_line "$log" "Repairing Orvane Online in" "b. silent repair log"
expect_line "$log" "Repair complete" "b. silent repair log"
client_installed "$client" "$install" || fail "b. the repair left a file wrong"

run "$setup_exe" --silent --manifest=http://127.0.0.1:9/pc/manifest.json --install="$(windows_path "$work/elsewhere")"
expect_code 1 "b. install from a host that does not answer"
expect_line "$work/out.txt" "Error: Could not read the update manifest" "b. failing install"
say "b. silent repair: code 0; a failing install: code 1 with its error"

# --- c. The entry's quiet uninstall, from the install folder ----------------------------
mkdir -p "$install/screenshots"
printf 'player' >"$install/screenshots/shot1.png"
quiet=$(reg_value QuietUninstallString)
[ -n "$quiet" ] || fail "c. no QuietUninstallString"
run "$install/OrvaneSetup.exe" --uninstall --silent --log="$(windows_path "$log")"
expect_code 0 "c. quiet uninstall"
expect_line "$log" "1 file made by the game or by you was kept in" "c. quiet uninstall log"
# The temporary copy deletes the setup's own file as soon as the original has ended.
only_player_file() {
    seen="left: $(files_under "$install" | tr '\n' ' ')"
    [ "$(files_under "$install")" = "./screenshots/shot1.png" ]
}
wait_until 10 "c. only the player's file stays" only_player_file
! desktop_shortcut_placed || fail "c. the desktop shortcut is still there"
! start_menu_link || fail "c. the Start-menu shortcut is still there"
[ -z "$(reg_value DisplayName)" ] || fail "c. the Apps & features entry is still there"
no_temporary_copy() { ! compgen -G "$profile/Temp/OrvaneSetup-removal-*.exe" >/dev/null; }
wait_until 10 "c. the temporary copy deletes itself" no_temporary_copy
say "c. quiet uninstall from the install folder: only the player's file stays, no copy left"

# --- d. Nothing outside a recorded installation is touched ------------------------------
stranger=$work/stranger
mkdir -p "$stranger/data"
printf 'mine' >"$stranger/data/notes.txt"
printf 'MZ' >"$stranger/Engine.exe"
run "$setup_exe" --silent --uninstall --install-dir="$(windows_path "$stranger")"
expect_code 1 "d. a folder without the record"
expect_line "$work/out.txt" "Nothing to remove: no installation of Orvane Online was found here." "d. no record"
[ "$(files_under "$stranger")" = "$(printf './Engine.exe\n./data/notes.txt')" ] || fail "d. a file went from a folder without the record"

# A drive whose root holds a forged record, with the setup run from there.
drive=$work/drive
mkdir -p "$drive/data"
printf 'pcupd.files 1\ndata/keep.txt\n' >"$drive/pcupd.files"
printf 'keep' >"$drive/data/keep.txt"
cp "$setup_exe" "$drive/OrvaneSetup.exe"
ln -sfn "$drive" "$WINEPREFIX/dosdevices/q:"
run 'Q:\OrvaneSetup.exe' --silent --uninstall
rm -f "$WINEPREFIX/dosdevices/q:"
expect_code 1 "d. a drive root"
[ -f "$drive/data/keep.txt" ] && [ -f "$drive/pcupd.files" ] || fail "d. a file went from a drive root"

printf 'pcupd.files 1\nforged.txt\n' >"$profile/pcupd.files"
printf 'keep' >"$profile/forged.txt"
me=$(basename "$profile")
# The short name Wine gives Documents, as `dir /x` lists it.
short_documents=$("$wine_run" cmd /c "dir /x C:\\users\\$me" 2>/dev/null | tr -d '\r' |
                  awk '$NF == "Documents" && $(NF-1) ~ /~/ { print $(NF-1) }')
[ -n "$short_documents" ] || fail "d. no 8.3 name for Documents"
mkdir -p "$profile/Documents/My Folder"
printf 'pcupd.files 1\nMy Folder/x.txt\n' >"$profile/Documents/pcupd.files"
kept_profile=yes
for spelling in "C:\\users\\$me" "\\\\.\\C:\\users\\$me" "\\\\?\\C:\\users\\$me\\" \
                "C:\\users\\$me\\$short_documents" "\\\\.\\C:\\users\\$me\\Documents"; do
    run "$setup_exe" --silent --uninstall --install-dir="$spelling"
    expect_code 1 "d. removal of $spelling"
    expect_line "$work/out.txt" "is a system or personal folder" "d. removal of $spelling"
    [ -f "$profile/forged.txt" ] && [ -f "$profile/pcupd.files" ] && [ -d "$profile/Documents/My Folder" ] &&
        [ -f "$profile/Documents/pcupd.files" ] || kept_profile=no
done
rm -f "$profile/pcupd.files" "$profile/forged.txt" "$profile/Documents/pcupd.files"
[ "$kept_profile" = yes ] || fail "d. something went from the profile folder"
run "$setup_exe" --silent --manifest="$url" --install-dir="C:\\users\\$me\\$short_documents"
expect_code 1 "d. an install into Documents itself"
expect_line "$work/out.txt" "is a system or personal folder; choose a folder of its own" "d. install into Documents"
[ ! -e "$profile/Documents/pcupd.files" ] && [ -z "$(reg_value DisplayName)" ] ||
    fail "d. an install into Documents wrote its record or its entry"
rmdir "$profile/Documents/My Folder"
say "d. no record, a drive root, the profile and Documents in five spellings: nothing deleted or installed"

# --- e. A program in the folder that is not the setup's copy stays ----------------------
rm -rf "$install"
run "$setup_exe" --silent --manifest="$url" --install="$(windows_path "$location")"
expect_code 0 "e. install again"
cp "$setup_exe" "$install/OrvaneSetup (2).exe"
run "$install/OrvaneSetup (2).exe" --uninstall --silent
expect_code 0 "e. removal from a player's copy"
only_download() {
    seen="left: $(files_under "$install" | tr '\n' ' ')"
    [ "$(files_under "$install")" = "./OrvaneSetup (2).exe" ]
}
wait_until 10 "e. the recorded copy goes, the player's program stays" only_download
sleep 1
only_download || fail "e. the player's program went: $seen"
rm -rf "$install"
say "e. a removal run from a player's copy of the setup: that copy stays"

# --- f. The setup the operator ships updates itself -------------------------------------
mkdir -p "$work/fixture-self"
"$wine_run" "$fixture_exe" "$(windows_path "$work/fixture-self")" --setup="$(windows_path "$setup_exe")" \
    >"$work/fixture-self.log" 2>&1 &
wait_until 30 "f. the update host publishes a client with its setup" test -s "$work/fixture-self/url.txt"
self_url=$(cat "$work/fixture-self/url.txt")
run "$setup_exe" --silent --manifest="$self_url" --install="$(windows_path "$location")"
expect_code 0 "f. install a client that ships the setup"
cmp -s "$setup_exe" "$install/OrvaneSetup.exe" || fail "f. the installed setup is not the published one"
touch "$work/fixture-self/republish"
wait_until 30 "f. the next release is published" test -e "$work/fixture-self/republished"
# The installed copy, as Apps & features starts it, repairs the client and with it itself.
run "$install/OrvaneSetup.exe" --silent --manifest="$self_url" --install="$(windows_path "$location")"
expect_code 0 "f. the installed setup repairs against a release with a new setup"
cmp -s "$work/fixture-self/client/OrvaneSetup.exe" "$install/OrvaneSetup.exe" ||
    fail "f. the setup in the folder is not the new release's"
client_installed "$work/fixture-self/client" "$install" || fail "f. the repair left a file wrong"
run "$install/OrvaneSetup.exe" --silent --manifest="$self_url" --install="$(windows_path "$location")"
expect_code 0 "f. the new setup runs"
[ ! -e "$install/OrvaneSetup.exe.old" ] || fail "f. the replaced setup is still there"
touch "$work/fixture-self/stop"
rm -rf "$install"
say "f. a client that ships its setup: the installed copy replaced itself, and the new one runs"

elapsed=$(( $(date +%s%3N) - started ))
say "passed in $(( elapsed / 1000 )).$(( elapsed % 1000 / 100 )) s"
