#!/usr/bin/env bash
# Not a test: what the Linux program costs while it waits, and how long it takes, on X11 (a
# private Xvfb) and on Wayland (weston's kiosk shell on its X11 backend, in a private Xvfb of its
# own), one after the other in one run:
#  1. the wall time from start to the first target on screen;
#  2. CPU time of the program while target 1 waits 10 s for a touch that does not come;
#  3. wall time of a whole model 0x0102 run (start to the message box) against the sum of the
#     pauses the design imposes on that run (every transfer's 100 ms, the 1000 ms and 500 ms
#     after the targets), counted from the transcript.
# Uses the build of the linux preset (tools/demo.sh builds it too).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/lib/display.sh"
build=${QAVEL_BUILD:-$root/build/linux}
program=$build/src/platform/linux/qavel-calib
preload=$build/sim/preload/libqavel_sim_preload.so
probe=$build/tests/e2e/linux/x11probe
for f in "$program" "$preload" "$probe"; do
    [ -e "$f" ] || { echo "missing $f: build the linux preset first" >&2; exit 1; }
done

work=$(mktemp -d)
prog=
cleanup() {
    if [ -n "$prog" ]; then
        kill "$prog" 2>/dev/null || true
        wait "$prog" 2>/dev/null || true
    fi
    qavel_stop_wayland
    rm -rf "$work"
}
trap cleanup EXIT

cpu_ticks() {  # utime + stime of a process, in clock ticks
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

now_ms() {
    echo $(($(date +%s%N) / 1000000))
}

# The program on the display of KIND (x11 or wayland), with SCENARIO, in the background.
start() {  # KIND SCENARIO [TRANSCRIPT]
    local other=WAYLAND_DISPLAY
    [ "$1" = wayland ] && other=DISPLAY
    QAVEL_SIM=$2 QAVEL_SIM_LOG=${3:-} LD_PRELOAD=$preload env -u "$other" "$program" &
    prog=$!
}

printf 'device 0596:0102\n' >"$work/wait.txt"
printf 'device 0596:0102\ntouch -1536 -1536\ntouch 1536 1536\n' >"$work/run.txt"

# Measures on the display of KIND; leaves first_ms, wait_cpu_ms, wall_ms and transfers.
measure() {  # KIND
    local kind=$1 before after started ended
    # 1 and 2. A 0x0102 with no scripted touch waits at target 1 (its time-out is far longer).
    started=$(now_ms)
    start "$kind" "$work/wait.txt"
    "$probe" until 60 "$prog" pixel-is 134 676 00ff00
    first_ms=$(($(now_ms) - started))
    before=$(cpu_ticks "$prog")
    sleep 10
    after=$(cpu_ticks "$prog")
    kill "$prog"
    wait "$prog" 2>/dev/null || true
    prog=
    wait_cpu_ms=$(((after - before) * 1000 / $(getconf CLK_TCK)))

    # 3. A whole run with two scripted touches, to the message box: on X11 the box's window, on
    # weston's kiosk shell the box's face colour filling the screen.
    : >"$work/transcript.txt"
    started=$(now_ms)
    start "$kind" "$work/run.txt" "$work/transcript.txt"
    if [ "$kind" = x11 ]; then
        "$probe" until 120 "$prog" window Calibration _QAVEL_MESSAGE_TEXT
    else
        "$probe" until 120 "$prog" pixel-is 2 2 f0f0f0
    fi
    ended=$(now_ms)
    xdotool key Return
    wait "$prog" 2>/dev/null || true
    prog=
    wall_ms=$((ended - started))
    # The transcript includes the closing mode command sent after the message; leave it out.
    transfers=$(($(grep -c . "$work/transcript.txt") - 1))
}

qavel_start_xvfb "$work/xvfb.log"
measure x11
x11=("$first_ms" "$wait_cpu_ms" "$wall_ms" "$transfers")
qavel_stop_xvfb
qavel_start_wayland weston-kiosk "$work/weston.log"
measure wayland
wayland=("$first_ms" "$wait_cpu_ms" "$wall_ms" "$transfers")
qavel_stop_wayland

row() {  # LABEL X11 WAYLAND
    printf '%-52s %12s %12s\n' "$1" "$2" "$3"
}
imposed() {  # TRANSFERS
    echo $(($1 * 100 + 1000 + 500))
}
row "measure" "X11 (Xvfb)" "Wayland"
row "start to the first target (wall)" "${x11[0]} ms" "${wayland[0]} ms"
row "CPU while waiting 10 s for a touch" "${x11[1]} ms" "${wayland[1]} ms"
row "whole 0x0102 run, start to message (wall)" "${x11[2]} ms" "${wayland[2]} ms"
row "pauses imposed (${x11[3]} transfers, 1 s, 0.5 s)" "$(imposed "${x11[3]}") ms" \
    "$(imposed "${wayland[3]}") ms"
row "overhead beyond the imposed pauses" "$((x11[2] - $(imposed "${x11[3]}"))) ms" \
    "$((wayland[2] - $(imposed "${wayland[3]}"))) ms"
echo "Wayland: weston's kiosk shell on its X11 backend (pixman), in a private Xvfb."
