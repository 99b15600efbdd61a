#!/usr/bin/env bash
# CPU the setup window costs while it only waits for the player: the choose-location screen,
# under an X server of its own at 144 dpi.
#   bench/idle_cpu.sh [ORVANESETUP_EXE [BUILD_DIR]]     (defaults: build/win/OrvaneSetup.exe,
#                                                         build/win)
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
setup_exe=${1:-$here/../build/win/OrvaneSetup.exe}
build=${2:-$here/../build/win}
readonly kSettleSeconds=3 kMeasureSeconds=10

[ -f "$setup_exe" ] || { echo "idle_cpu: no program at $setup_exe (make build)" >&2; exit 1; }
build=$(cd "$build" && pwd)
script_name=idle_cpu
source "$here/../scripts/gui_session.sh"

# CPU seconds, user and system, the process has used so far, in clock ticks.
cpu_ticks() {
    local stat
    stat=$(cat "/proc/$1/stat") || fail "the program ended while being measured"
    # Fields after the parenthesised name, which may hold spaces: utime is the 12th, stime the 13th.
    set -- ${stat##*) }
    echo $(( ${12} + ${13} ))
}

gui_start "$build/wineprefix-idle-bench"
start_setup "$setup_exe"
wait_until 20 "the setup window appears" window_count_is 1
# The Wine process running the program keeps the pid it was started with.
pid=$(pgrep -f 'OrvaneSetup\.exe' | grep -x "$setup_pid") ||
    fail "no process running OrvaneSetup.exe under pid $setup_pid"
# Past the splash, and past whatever the first frames of the screen cost.
sleep "$kSettleSeconds"

before=$(cpu_ticks "$pid")
start_ns=$(date +%s%N)
sleep "$kMeasureSeconds"
after=$(cpu_ticks "$pid")
wall_ns=$(( $(date +%s%N) - start_ns ))

# Per mille of one core, printed with one decimal of a percent.
permille=$(( (after - before) * 1000000000 / $(getconf CLK_TCK) * 1000 / wall_ns ))
echo "idle CPU on the choose-location screen: $(( permille / 10 )).$(( permille % 10 ))% of a core"

mkdir -p "$build/screens"
import -window root "$build/screens/idle-choose.png"  # what was measured
press "$(setup_windows)" Escape
wait_until 10 "the program ends on Escape" setup_ended
