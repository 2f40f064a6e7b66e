#!/usr/bin/env bash
# Not a test: what the Linux program costs while it waits, and how long a whole run takes.
#  1. CPU time of the program while target 1 waits 10 s for a touch that does not come.
#  2. Wall time of a whole model 0x0102 run (start to the message box) against the sum of the
#     pauses the design imposes on that run (every transfer's 100 ms, the 1000 ms and 500 ms
#     after the targets), counted from the transcript.
# Runs on a private Xvfb; uses the build of the linux preset (tools/demo.sh builds it too).
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
    qavel_stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT

qavel_start_xvfb "$work/xvfb.log"

cpu_ticks() {  # utime + stime of a process, in clock ticks
    awk '{ print $14 + $15 }' "/proc/$1/stat"
}

# 1. Waiting: a 0x0102 with no scripted touch waits at target 1 (its time-out is far longer).
printf 'device 0596:0102\n' >"$work/wait.txt"
QAVEL_SIM=$work/wait.txt LD_PRELOAD=$preload "$program" &
prog=$!
"$probe" until 60 "$prog" pixel-is 134 676 00ff00
before=$(cpu_ticks "$prog")
sleep 10
after=$(cpu_ticks "$prog")
kill "$prog"
wait "$prog" 2>/dev/null || true
prog=
hz=$(getconf CLK_TCK)
wait_cpu_ms=$(((after - before) * 1000 / hz))

# 2. A whole run with two scripted touches.
printf 'device 0596:0102\ntouch -1536 -1536\ntouch 1536 1536\n' >"$work/run.txt"
start_ns=$(date +%s%N)
QAVEL_SIM=$work/run.txt QAVEL_SIM_LOG=$work/transcript.txt LD_PRELOAD=$preload "$program" &
prog=$!
"$probe" until 120 "$prog" window Calibration _QAVEL_MESSAGE_TEXT
end_ns=$(date +%s%N)
xdotool key Return
wait "$prog" 2>/dev/null || true
prog=
wall_ms=$(((end_ns - start_ns) / 1000000))
transfers=$(grep -c . "$work/transcript.txt")
# The transcript includes the closing mode command sent after the message; leave it out.
transfers=$((transfers - 1))
imposed_ms=$((transfers * 100 + 1000 + 500))

printf '%-48s %10s\n' "measure" "value"
printf '%-48s %10s\n' "CPU while waiting 10 s for a touch" "${wait_cpu_ms} ms"
printf '%-48s %10s\n' "whole 0x0102 run, start to message (wall)" "${wall_ms} ms"
printf '%-48s %10s\n' "pauses imposed ($transfers transfers, 1 s, 0.5 s)" "${imposed_ms} ms"
printf '%-48s %10s\n' "overhead beyond the imposed pauses" "$((wall_ms - imposed_ms)) ms"
