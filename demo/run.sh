#!/usr/bin/env bash
# make demo: the setup program's whole job against a real web server on this machine.
#
#   demo/run.sh          (after `make build`; the Makefile's `demo` target runs both)
#
# 1. A sample client (demo/make_client.py: about 200 MB, a few hundred files; made once) is
#    published with the native orvpak into build/demo/www, signed with a demo key made once
#    under build/demo/keys, and nginx serves it over HTTPS on 127.0.0.1 with a certificate
#    authority that only the demo's Wine prefix trusts. The program is built with that key's
#    public half in build/demo/win-signed (ORVANE_MANIFEST_KEYS), so it checks the signature.
# 2. OrvaneSetup.exe starts without a location: its choose screen shows the client's size
#    from the manifest it fetched during the splash; a folder is picked with Browse..., and
#    the screen adds that drive's free space. Where the demo may mount a 100 MB drive (as
#    root; DEMO_SMALL_DRIVE=0 skips it), it picks that one too, which the client does not fit.
# 3. OrvaneSetup.exe installs it into build/demo/player/OrvaneOnline; PLAY then starts the
#    client's Engine.exe (a stand-in window), which is closed again.
# 4. Two installed files are damaged (size and time kept) and one is deleted; a second run
#    of the program repairs exactly those.
# Every screen it passes through is saved under build/demo/screens/, and a summary printed.
#
# DEMO_MIRROR=1: a second nginx serves the same tree on other ports and the manifest names it
# as a mirror (orvpak publish --mirror). The first, at 10 MiB/s per connection, is stopped at
# once, as a host that goes down, when its log shows half the archive sent: the install
# finishes from the mirror, and the repair, with only the mirror left, reads the manifest
# there too. Both access logs are copied to build/demo/nginx-primary.log and
# nginx-mirror.log, and the summary shows what each origin sent during the install.
#
# The window shows on $DISPLAY when there is one (watch it; the script clicks for you), else
# on an X server of the demo's own. DEMO_XVFB=1 always uses its own; DEMO_DPI sets the dpi
# of the demo's Wine prefix (default 144). Everything it starts ends with it, also on Ctrl-C.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
demo=$root/build/demo
# The program the demo runs is built apart, with the demo's public key (section 1).
setup_exe=$demo/win-signed/OrvaneSetup.exe
keys=$demo/keys
engine_exe=$root/build/win/demo/demo_engine.exe
orvpak=$root/build/native/tools/orvpak/orvpak
screens=$demo/screens
probe=$root/demo/screen_probe.py
dpi=${DEMO_DPI:-144}
mirrored=${DEMO_MIRROR:-0}

for built in "$engine_exe" "$orvpak"; do
    [ -x "$built" ] || [ -f "$built" ] || { echo "demo: $built is missing: run make build first" >&2; exit 1; }
done

script_name=demo
# shellcheck source=../scripts/nginx_fixture.sh
source "$root/scripts/nginx_fixture.sh"
small_drive=$demo/small-drive
gui_on_exit() {
    nginx_fixture_stop
    if mountpoint -q "$small_drive" 2>/dev/null; then umount "$small_drive"; fi
}
# shellcheck source=../scripts/gui_session.sh
source "$root/scripts/gui_session.sh"

now_ms() { date +%s%3N; }
seconds() { printf '%d.%d' $(( $1 / 1000 )) $(( $1 % 1000 / 100 )); }
step() { echo; say "== $*"; }
demo_started=$(now_ms)

# --- More of the window, in 96-dpi units (render/layout.h); the rest is in scripts/lib.sh ---
readonly kBarLeft=88 kBarRight=672 kBarTop=334 kBarBottom=346
readonly kDoneMarkY=140 kDoneMarkRadius=36 kFailedMarkY=106 kFailedMarkRadius=30
accent=$(palette_colour kAccent) accent_hover=$(palette_colour kAccentHover)
track=$(palette_colour kTrack) success=$(palette_colour kSuccess) danger=$(palette_colour kDanger)
[ -n "$accent" ] && [ -n "$accent_hover" ] && [ -n "$track" ] && [ -n "$success" ] && [ -n "$danger" ] ||
    fail "cannot read kAccent, kAccentHover, kTrack, kSuccess and kDanger from render/palette.h"
# A primary button's fill, under the mouse pointer or not (on a player's own display the
# pointer may rest anywhere).
is_accent() { [ "$1" = "$accent" ] || [ "$1" = "$accent_hover" ]; }

# --- Looking at the screen ----------------------------------------------------------------
# The whole screen into $work/screen.ppm; every check below reads that one picture.
grab() { import -window root -depth 8 "$work/screen.ppm" 2>/dev/null || fail "cannot take a screenshot of $DISPLAY"; }
# Colours at window points given in 96-dpi units.
window_pixels() {
    local args=() x y
    while [ $# -ge 2 ]; do
        x=$(( wx + $(scaled "$1") )) y=$(( wy + $(scaled "$2") ))
        args+=("$x" "$y")
        shift 2
    done
    python3 "$probe" pixels "$work/screen.ppm" "${args[@]}"
}
# How many pixels near `colour` a box of radius r around a window point holds.
colour_near() {
    local cx=$(( wx + $(scaled "$1") )) cy=$(( wy + $(scaled "$2") )) r=$(scaled "$3")
    python3 "$probe" count "$work/screen.ppm" $(( cx - r )) $(( cy - r )) $(( cx + r )) $(( cy + r )) "$4" 24
}
# Saves the window at wx,wy (size ww x wh) from the last grab as NAME.png.
save_screen() {
    convert "$work/screen.ppm" -crop "${ww}x${wh}+${wx}+${wy}" +repage "$screens/$1.png" ||
        fail "saving the screenshot $1"
    say "screenshot $screens/$1.png"
}

# The screen the setup window shows in the last grab: splash-or-choose, working, done,
# failed, or blank (nothing painted yet).
screen_kind() {
    local bar_end bar_start button_left button_right top
    read -r top bar_start bar_end button_left button_right < <(window_pixels \
        $(( kWidth / 2 )) 40 \
        $(( kBarLeft + 8 )) $(( (kBarTop + kBarBottom) / 2 )) \
        $(( kBarRight - 8 )) $(( (kBarTop + kBarBottom) / 2 )) \
        $(( kButtonLeft + kButtonInset )) $(( (kButtonTop + kButtonBottom) / 2 )) \
        $(( kButtonRight - kButtonInset )) $(( (kButtonTop + kButtonBottom) / 2 )) | tr '\n' ' ')
    seen="top #$top, progress bar #$bar_start..#$bar_end, button #$button_left..#$button_right"
    if [ "$top" = 000000 ]; then
        echo blank
    elif [ "$bar_end" = "$track" ]; then
        echo working
    elif is_accent "$button_left" && is_accent "$button_right"; then
        if [ "$(colour_near $(( kWidth / 2 )) $kDoneMarkY $kDoneMarkRadius "$success")" -gt 20 ]; then
            echo "done"
        elif [ "$(colour_near $(( kWidth / 2 )) $kFailedMarkY $kFailedMarkRadius "$danger")" -gt 20 ]; then
            echo failed
        else
            echo other
        fi
    else
        echo other
    fi
}
# Grabs until the window shows `want` (failing at once on the failed screen).
shows() {
    grab
    kind=$(screen_kind)
    if [ "$kind" = failed ] && [ "$1" != failed ]; then
        save_screen "$run-failed"
        fail "$run: the program shows the failed screen ($screens/$run-failed.png)"
    fi
    [ "$kind" = "$1" ]
}

# Ends the demo at once when the window shows the failed screen.
not_failed() {
    local said=$seen
    if shows failed; then
        save_screen "$run-failed"
        fail "$run: the program shows the failed screen"
    fi
    seen=$said
}
# The working screen, or the done screen when the work was quicker than a look (said so).
shows_working_or_done() {
    shows working && return 0
    [ "$kind" = "done" ] || return 1
    say "$run: done before its working screen could be caught"
}

# --- The program --------------------------------------------------------------------------
client_dir() { echo "$demo/player/OrvaneOnline"; }
installed_bytes() { du -sB1 "$(client_dir)" 2>/dev/null | cut -f1; }
installed_at_least() {
    local have
    have=$(installed_bytes)
    seen="$(( ${have:-0} / 1000000 )) MB of $(( client_bytes / 1000000 )) MB written"
    [ "${have:-0}" -ge "$1" ]
}
# Every origin's access log: the primary's, then the mirror's (DEMO_MIRROR=1).
access_logs=()
# Where each log is now, in lines, in the order of access_logs: a mark for the calls below.
log_lines() {
    local log
    for log in "${access_logs[@]}"; do wc -l <"$log"; done | tr '\n' ' '
}
# The lines log number `$2` (0: the primary's) gained after mark `$1` (log_lines).
log_since() {
    local marks
    read -r -a marks <<<"$1"
    tail -n +"$(( ${marks[$2]:-0} + 1 ))" "${access_logs[$2]}"
}
# The lines every log gained after mark `$1`.
lines_since() {
    local i
    for i in "${!access_logs[@]}"; do log_since "$1" "$i"; done
}
# Requests logged after mark `$1`, as: bytes path.
requests_since() { lines_since "$1" | awk '{ print $6, $3 }'; }
archive_logged() { grep -q " \"GET $archive_path " "${access_logs[@]}"; }

# === 1. The update host =====================================================================
step "1. the update host"
mkdir -p "$demo/www" "$screens"
rm -f "$screens"/*.png "$demo/nginx-primary.log" "$demo/nginx-mirror.log"
# The demo's signing key, made once and kept owner-only, as an operator keeps theirs; the
# program is built with its public key, so it accepts only what this key signed.
mkdir -p "$keys" && chmod 700 "$keys"
if [ ! -f "$keys/demo.pem" ]; then
    "$orvpak" keygen "$keys/demo.pem" >"$keys/demo.pub.tmp" && mv "$keys/demo.pub.tmp" "$keys/demo.pub" ||
        fail "orvpak keygen failed"
fi
public_key=$(cat "$keys/demo.pub" 2>/dev/null)
[ ${#public_key} -eq 128 ] || fail "$keys/demo.pub does not hold the demo key's public key: remove $keys and run again"
say "  building the program with the demo's public key into $demo/win-signed"
{ cmake -S "$root" -B "$demo/win-signed" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DORVANE_MANIFEST_KEYS="$public_key" &&
  cmake --build "$demo/win-signed" -j"$(nproc)" --target OrvaneSetup; } >"$demo/win-signed.log" 2>&1 ||
    fail "building the signed program failed (see $demo/win-signed.log)"
python3 "$root/demo/make_client.py" "$demo/client" "$engine_exe" || fail "making the sample client"
primary_args=()
# With a mirror, the primary sends at most 10 MiB/s per connection, as a CDN may: its stop then
# comes while ranges are under way, and the mirror is asked for the rest of each.
if [ "$mirrored" = 1 ]; then primary_args=(--rate 10m); fi
nginx_fixture_start "${primary_args[@]}" "$demo/nginx" "$demo/www" || fail "nginx did not start"
base_url=https://127.0.0.1:$NGINX_HTTPS_PORT
manifest_url=$base_url/pc/manifest.json
access_logs=("$NGINX_ACCESS_LOG")
mirror_args=()
if [ "$mirrored" = 1 ]; then
    # The same folder on other ports: a copy kept in step, as an operator's mirror is.
    nginx_fixture_start --name MIRROR "$demo/nginx-mirror" "$demo/www" || fail "the mirror's nginx did not start"
    mirror_url=https://127.0.0.1:$NGINX_MIRROR_HTTPS_PORT
    mirror_args=(--mirror "$mirror_url")
    access_logs+=("$NGINX_MIRROR_ACCESS_LOG")
fi
# One release per run: the port, and so every URL in the manifest, differs from run to run;
# the objects, named by their bytes, stay and are not written again.
rm -rf "$demo/www/pc/releases" "$demo/www/pc/manifest.json" "$demo/www/pc/manifest.json.sig"
"$orvpak" publish "$demo/client" "$demo/www" --base-url "$base_url" "${mirror_args[@]}" \
    --client-version 1.0-demo --sign-key "$keys/demo.pem" | sed 's/^/  orvpak: /'
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "orvpak publish failed"
"$orvpak" verify-manifest "$demo/www" --key "$public_key" | sed 's/^/  orvpak: /'
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "the published manifest does not verify with the demo key"
read -r file_count client_bytes archive_path archive_bytes < <(python3 - "$demo/www/pc/manifest.json" <<'PY'
import json, sys, urllib.parse
m = json.load(open(sys.argv[1], encoding="utf-8"))
archive = m["fullArchive"]
print(len(m["files"]), sum(f["size"] for f in m["files"]),
      urllib.parse.urlsplit(archive["url"]).path, archive["size"])
PY
)
[ -n "${archive_bytes:-}" ] || fail "cannot read $demo/www/pc/manifest.json"
# nginx answers over TLS with the demo's own authority before Wine is asked to.
for served_url in "$manifest_url" ${mirror_url:+"$mirror_url/pc/manifest.json"}; do
    python3 - "$served_url" "$NGINX_CA_PEM" <<'PY' || fail "nginx does not serve $served_url"
import ssl, sys, urllib.request
urllib.request.urlopen(sys.argv[1], context=ssl.create_default_context(cafile=sys.argv[2]), timeout=10).read()
PY
done
say "nginx serves $manifest_url ($file_count files, archive $(( archive_bytes / 1000000 )) MB)"
if [ "$mirrored" = 1 ]; then say "and, as the manifest's mirror, $mirror_url"; fi

# === 2. Display and Wine prefix =============================================================
step "2. display and Wine prefix"
display=own
if [ -n "${DISPLAY:-}" ] && [ "${DEMO_XVFB:-0}" != 1 ]; then
    if xdotool getmouselocation >/dev/null 2>&1; then
        display=current
    else
        say "cannot reach the display $DISPLAY: using an X server of the demo's own"
    fi
fi
gui_start "$demo/wineprefix" "$dpi" "$display"
say "showing on $DISPLAY ($([ "$display" = current ] && echo "yours" || echo "an Xvfb of the demo's own")), $dpi dpi"
# Only this prefix trusts the demo's authority; new certificates mean trusting again.
if ! wine_trusts_ca "$NGINX_CA_PEM" "$WINEPREFIX/.demo-trusted-ca"; then
    wine_trust_ca "$NGINX_CA_PEM" "$WINEPREFIX/.demo-trusted-ca" ||
        fail "trusting the demo's certificate authority in $WINEPREFIX"
    say "the prefix trusts $NGINX_CA_PEM"
fi
player=$demo/player
install_args=(--manifest="$manifest_url" --install="$(windows_path "$player")")

# === 3. The choose screen ===================================================================
step "3. the choose screen: the client's size, then the chosen drive's free space"
run=choose
picker_windows() { xdotool search --onlyvisible --name '^Choose where to install Orvane Online$' 2>/dev/null; }
picker_shown() { [ -n "$(picker_windows)" ]; }
picker_gone() { ! picker_shown; }
# Browse..., and the folder picker given PATH as a player types it, then Enter (once more
# when the picker went into the folder instead of choosing it).
choose_folder() {
    xdotool mousemove --sync $(( wx + $(scaled 658) )) $(( wy + $(scaled 226) )) click 1
    wait_until 20 "$run: the folder picker opens" picker_shown
    local picker
    picker=$(picker_windows | head -n1)
    timeout 5 xdotool windowfocus --sync "$picker" || fail "cannot focus the folder picker"
    sleep 0.5
    xdotool type --delay 15 "$1"
    xdotool key Return
    sleep 1
    if picker_shown; then xdotool key Return; fi
    wait_until 10 "$run: the folder picker closes on $1" picker_gone
    sleep 0.5
}
manifest_logged() { grep -q ' "GET /pc/manifest.json ' "$NGINX_ACCESS_LOG"; }
: >"$NGINX_ACCESS_LOG"
mkdir -p "$player"
start_setup "$setup_exe" --manifest="$manifest_url"
find_setup_window 30 "$run"
wait_until 20 "$run: the manifest is fetched during the splash" manifest_logged
sleep 2.5  # the splash ends after 1.5 s
grab
save_screen 00-choose
choose_folder "$(windows_path "$player")"
grab
save_screen 00-choose-folder
if [ "${DEMO_SMALL_DRIVE:-1}" = 1 ]; then
    mkdir -p "$small_drive"
    if mountpoint -q "$small_drive" || mount -t tmpfs -o size=100m tmpfs "$small_drive" 2>/dev/null; then
        ln -sfn "$small_drive" "$WINEPREFIX/dosdevices/s:"
        choose_folder 'S:\'
        grab
        save_screen 00-choose-small-drive
    else
        say "$run: cannot mount a small drive here (not root?): no screenshot of a drive too small"
    fi
fi
press "$wid" Escape
expect_exit_zero 15 "Escape on the choose screen"
manifests=$(grep -c ' "GET /pc/manifest.json ' "$NGINX_ACCESS_LOG")
[ "$manifests" -eq 1 ] || fail "$run: the manifest was fetched $manifests times, expected once"
say "$run: the manifest was fetched once, during the splash"

# === 4. Fresh install =======================================================================
step "4. fresh install into $player/OrvaneOnline"
run=install
rm -rf "$player"
mkdir -p "$player"
remove_desktop_shortcut
log_mark=$(log_lines)
start_setup "$setup_exe" "${install_args[@]}"
install_started=$(now_ms)
find_setup_window 30 "$run"
wait_until 10 "$run: the splash is painted" shows other
save_screen 01-splash
if [ "$mirrored" = 1 ]; then
    # nginx logs a request once it has sent it: each range the program finished on the
    # primary. Requests its stop cuts are never logged.
    primary_archive_sent() {
        log_since "$log_mark" 0 | grep " \"GET $archive_path " | awk '{ s += $6 } END { print s + 0 }'
    }
    primary_half_sent() {
        local sent
        sent=$(primary_archive_sent)
        seen="the primary's log shows $(( sent / 1000000 )) MB of the archive sent"
        [ "$sent" -ge $(( archive_bytes / 2 )) ] || { not_failed; return 1; }
    }
    wait_until 120 "$run: the primary sends half the archive" primary_half_sent
    nginx_fixture_kill || fail "$run: the primary's nginx did not stop"
    primary_sent=$(primary_archive_sent)
    say "$run: the primary's nginx stopped (TERM) after its log showed $(( primary_sent / 1000000 )) MB of the archive sent"
fi
# Half way, the speed and the time left are on the screen too.
half_written() { installed_at_least $(( client_bytes / 2 )) || { not_failed; return 1; }; }
wait_until 120 "$run: half the client is written" half_written
wait_until 10 "$run: the working screen shows the download" shows_working_or_done
[ "$kind" = working ] && save_screen 02-working
wait_until 180 "$run: the done screen" shows "done"
install_done=$(now_ms)
save_screen 03-done
wait_until 10 "$run: the desktop shortcut is there" desktop_shortcut_placed
wait_until 10 "$run: nginx logged the archive" archive_logged
client_installed "$demo/client" "$(client_dir)" || fail "$run: the install folder does not hold the published client ($seen)"
archive_counts() { grep " \"GET $archive_path " | awk '{ s += $6; n++ } END { print s + 0, n + 0 }'; }
if [ "$mirrored" = 1 ]; then
    mirror_archive_logged() {
        read -r mirror_sent mirror_requests < <(log_since "$log_mark" 1 | archive_counts)
        [ "$mirror_requests" -gt 0 ]
    }
    for _ in $(seq 50); do mirror_archive_logged && break; sleep 0.1; done
    mirror_archive_logged || fail "$run: the mirror's nginx logged no request for the archive:" \
        "the install did not move to the mirror when the primary stopped ($NGINX_MIRROR_ACCESS_LOG)"
    # What each origin logged during the install, for the summary.
    log_since "$log_mark" 0 >"$work/install-primary.log"
    log_since "$log_mark" 1 >"$work/install-mirror.log"
fi
read -r archive_sent archive_requests < <(lines_since "$log_mark" | archive_counts)
# Over several connections, by byte ranges: every byte at least once (the first request, for
# the whole archive, is cut short once the ranges take over). What a stopped origin was
# sending when it stopped is in no log.
[ "$mirrored" = 1 ] || [ "$archive_sent" -ge "$archive_bytes" ] ||
    fail "$run: nginx sent $archive_sent bytes of the $archive_bytes-byte archive"
say "installed and identical to the published client: $file_count files"

# === 5. PLAY ================================================================================
step "5. PLAY starts the game"
pointer=$(xdotool getmouselocation --shell | grep -E '^[XY]=' | cut -d= -f2 | tr '\n' ' ')
xdotool mousemove --sync $(( wx + $(scaled $(( (kButtonLeft + kButtonRight) / 2 ))) )) \
    $(( wy + $(scaled $(( (kButtonTop + kButtonBottom) / 2 ))) )) click 1
# shellcheck disable=SC2086  # X and Y
xdotool mousemove $pointer  # back where it was
expect_exit_zero 15 "PLAY"
game_windows() { xdotool search --onlyvisible --name '^Orvane Online$' 2>/dev/null; }
game_shown() { [ -n "$(game_windows)" ]; }
wait_until 20 "the game's window (Engine.exe) appears" game_shown
gid=$(game_windows | head -n1)
eval "$(xdotool getwindowgeometry --shell "$gid" | sed 's/^/game_/')"
game_painted() {
    grab
    local corner
    corner=$(python3 "$probe" pixels "$work/screen.ppm" $(( game_X + 12 )) $(( game_Y + game_HEIGHT - 12 )))
    seen="its lower left corner is #$corner"
    [ "$corner" = 0A0F2C ]
}
wait_until 10 "the game's window is painted" game_painted
wx=$game_X wy=$game_Y ww=$game_WIDTH wh=$game_HEIGHT save_screen 04-game
press "$gid" Escape
game_gone() { ! game_shown; }
wait_until 10 "the game's window closes on Escape" game_gone
say "Engine.exe started from PLAY, and closed"

# === 6. Repair ==============================================================================
step "6. repair: two files damaged (size and time kept), one deleted"
damaged=("data/Größe Karten/übersicht.dat" "data/textures/terrain/terrain_007.tex")
deleted="sound/music/theme_03.ogg"
for name in "${damaged[@]}"; do
    file=$(client_dir)/$name
    [ -f "$file" ] || fail "no $name to damage"
    stamp=$(stat -c %Y "$file")
    printf 'damaged by the demo' | dd of="$file" bs=1 seek=$(( $(stat -c %s "$file") / 2 )) conv=notrunc status=none
    touch -d "@$stamp" "$file"
    say "damaged $name"
done
rm -f "$(client_dir)/$deleted" && say "deleted $deleted"
run=repair
repair_args=("${install_args[@]}")
if [ "$mirrored" = 1 ]; then
    # The primary is down: the manifest, like every file, comes from the mirror.
    repair_args=(--manifest="$mirror_url/pc/manifest.json" --install="$(windows_path "$player")")
fi
remove_desktop_shortcut
log_mark=$(log_lines)
start_setup "$setup_exe" "${repair_args[@]}"
repair_started=$(now_ms)
find_setup_window 30 "$run"
wait_until 30 "$run: the working screen" shows_working_or_done
[ "$kind" = working ] && save_screen 05-repair-working
wait_until 120 "$run: the done screen" shows "done"
repair_done=$(now_ms)
save_screen 06-repair-done
wait_until 10 "$run: the desktop shortcut is back" desktop_shortcut_placed
client_installed "$demo/client" "$(client_dir)" || fail "$run: the install folder still differs from the published client ($seen)"
press "$wid" Escape
expect_exit_zero 15 "Escape on the done screen"
repair_requests=$(requests_since "$log_mark")
repair_bytes=$(awk '{ s += $1 } END { print s + 0 }' <<<"$repair_requests")
repair_count=$(grep -c . <<<"$repair_requests")
# The objects it fetched, named by the client files they hold.
echo "$repair_requests" >"$work/repair-requests"
repair_list=$(python3 - "$demo/www/pc/manifest.json" "$work/repair-requests" <<'PY'
import json, sys, urllib.parse
files = json.load(open(sys.argv[1], encoding="utf-8"))["files"]
names = {}
for f in files:
    names.setdefault(urllib.parse.urlsplit(f["url"]).path, []).append(f["path"])
for line in open(sys.argv[2], encoding="utf-8").read().splitlines():
    sent, path = line.split(" ", 1)
    name = ", ".join(names.get(path, [path.rsplit("/", 1)[-1]]))
    print(f"{int(sent):>12,} bytes  {name}")
PY
)
say "repaired: the install folder is identical to the published client again"
if [ "$mirrored" = 1 ]; then
    cp "$NGINX_ACCESS_LOG" "$demo/nginx-primary.log"
    cp "$NGINX_MIRROR_ACCESS_LOG" "$demo/nginx-mirror.log"
fi

# === Summary ================================================================================
mb() { awk -v b="$1" 'BEGIN { printf "%.1f MB", b / 1e6 }'; }
rate() { awk -v b="$1" -v s="$2" 'BEGIN { if (s > 0) printf "%.1f MB/s", b / 1e6 / s; else printf "n/a" }'; }
install_ms=$(( install_done - install_started ))
repair_ms=$(( repair_done - repair_started ))
cpus=$(grep Cpus_allowed_list /proc/self/status | cut -f2)
if [ "$(nproc)" -lt "$(nproc --all)" ]; then
    placement="pinned to CPU$(case $cpus in *[,-]*) echo s ;; esac) $cpus"
else
    placement="not pinned (CPUs $cpus, the scheduler's choice)"
fi
# The install's lines of one origin's log, the archive's object named as such.
install_lines() { sed "s|$archive_path|(the archive)|; s/^/                   /" "$1"; }
origins=
if [ "$mirrored" = 1 ]; then
    origins="  origins        the primary $base_url (10 MiB/s per connection), stopped (TERM) once
                 its log showed $(mb "$primary_sent") of the archive sent, and the mirror $mirror_url,
                 which sent $(mb "$mirror_sent") in $mirror_requests requests; both logs whole: $demo/nginx-primary.log,
                 $demo/nginx-mirror.log (port \"request\" status bytes seconds \"Range\")
                 the primary's during the install (requests its stop cut are never logged):
$(install_lines "$work/install-primary.log")
                 the mirror's during the install:
$(install_lines "$work/install-mirror.log")
"
fi
echo
say "== summary"
cat <<SUMMARY
  install        $(seconds $install_ms) s from the program's start to the done screen (1.5 s splash included):
                 $(mb "$client_bytes") of client, $(rate "$client_bytes" "$(seconds $install_ms)") overall
  archive        $(mb "$archive_bytes") in $archive_requests requests, $(mb "$archive_sent") sent by nginx's log
${origins}  verified       $file_count files (the manifest's count), identical to the published client
  repair         $(seconds $repair_ms) s from the program's start to the done screen; it downloaded
                 $(mb "$repair_bytes") ($repair_bytes bytes) in $repair_count requests:
$(sed 's/^/               /' <<<"$repair_list")
  screenshots    $screens/
$(cd "$screens" && ls *.png | sed 's/^/                   /')
  note           speeds under Wine swing 3-4x with where the scheduler places wine, wineserver
                 and nginx on the CPUs; this run was $placement
  total          $(seconds $(( $(now_ms) - demo_started ))) s
SUMMARY
