#!/usr/bin/env bash
# Not a test. Measures under Wine (1) the program's CPU time while it waits 10 s for a touch,
# (2) the wall time of a whole 0x0102 run against the pauses the design imposes, and (3) the
# program's own overhead from its first transfer to its last before the message, on the
# transcript's clock, so that Wine's start-up is not counted.
# usage: tools/bench-wine.sh [WINDOWS_BUILD_DIR]   (default: build/windows, built first)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/lib/display.sh"
BUILD=$(realpath -m "${1:-$ROOT/build/windows}")
if [ $# -eq 0 ]; then cmake --preset windows >/dev/null && cmake --build --preset windows -j2 >/dev/null; fi
WORK="$BUILD/bench-wine"
qavel_wine_stage "$BUILD" "$WORK/run" inspect
qavel_wine_env "$WORK/prefix"
trap 'qavel_wine_stop; qavel_stop_xvfb' EXIT
qavel_start_xvfb "$WORK/xvfb.log"
qavel_wine_prefix "$WORK/wineboot.log"

inspect() { qavel_wine_inspect "$WORK/run" "$WORK" qbench "$@"; }

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# The program's own process in our prefix (not the desktop that started it, nor another user's).
program_pid() {
    local pid found=
    for pid in $(pgrep -f 'qavel-calib\.exe' || true); do
        tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | grep -q explorer && continue
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && found=$pid
    done
    echo "$found"
}

echo "== CPU while waiting 10 s for a touch (model 0x0102, no touch scripted)"
printf 'device 0596:0102\n' >"$WORK/waiting.txt"
qavel_wine_program "$WORK/run" qbench "$WORK/waiting.txt" >/dev/null 2>&1 &
PID=""
for _ in $(seq 1 120); do
    PID=$(program_pid)
    [ -n "$PID" ] && break
    sleep 0.5
done
sleep 2  # past its start-up, into the wait
[ -n "$PID" ] || { echo "program process not found" >&2; exit 1; }
HZ=$(getconf CLK_TCK)
before=$(cpu_ticks "$PID"); sleep 10; after=$(cpu_ticks "$PID")
echo "cpu: $(( (after - before) * 1000 / HZ )) ms in 10000 ms of waiting"
inspect close-calibration >/dev/null
inspect message 120 >/dev/null && inspect press-ok >/dev/null
wineserver -w

echo "== wall time of a whole 0x0102 run"
printf 'device 0596:0102\ntouch -1536 -1536\ntouch 1536 1536\n' >"$WORK/run.txt"
rm -f "$WORK/transcript.log"
start=$(date +%s%N)
qavel_wine_program "$WORK/run" qbench "$WORK/run.txt" "$WORK/transcript.log" >/dev/null 2>&1 &
inspect message 240 >/dev/null
shown=$(date +%s%N)
# Everything in the transcript now came before the message; closing transfers come after OK.
tr -d '\r' <"$WORK/transcript.log" >"$WORK/before-message.log"
inspect press-ok >/dev/null
transfers=$(grep -c . "$WORK/before-message.log")
# Every transfer is preceded by a 100 ms pause; after the touches 1000 ms and 500 ms.
echo "from start to the outcome message: $(( (shown - start) / 1000000 )) ms"
echo "transfers before the message: $transfers; their pauses plus 1500 ms after the targets: $(( transfers * 100 + 1500 )) ms"
awk 'NR == 1 { first = $1 } { last = $1; n = NR; if ($5 != "ok") refused++ }
     END {
         span = last - first; pauses = (n - 1) * 100 + 1500
         printf "first to last transfer before the message: %d ms; pauses in between: %d ms\n", span, pauses
         printf "program overhead: %d ms over %d transfers (%.1f ms each); failed transfers: %d\n",
                span - pauses, n - 1, (n > 1 ? (span - pauses) / (n - 1) : 0), refused
     }' "$WORK/before-message.log"
wineserver -w
