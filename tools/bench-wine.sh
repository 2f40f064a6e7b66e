#!/usr/bin/env bash
# Not a test. Measures under Wine (1) the program's CPU time while it waits 10 s for a touch and
# (2) the wall time of a whole 0x0102 run against the pauses the design imposes.
# usage: tools/bench-wine.sh [WINDOWS_BUILD_DIR]   (default: build/windows, built first)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build/windows}
if [ $# -eq 0 ]; then cmake --preset windows >/dev/null && cmake --build --preset windows -j2 >/dev/null; fi
WORK="$BUILD/bench-wine"
mkdir -p "$WORK/run"
cp "$BUILD/bin/qavel-calib.exe" "$BUILD/sim-dlls/hid.dll" "$BUILD/sim-dlls/setupapi.dll" \
   "$BUILD/wine-inspect/qavel-inspect.exe" "$WORK/run/"
export WINEPREFIX="$WORK/prefix" WINEDEBUG=-all
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>/dev/null &
XVFB_PID=$!
trap 'wineserver -k 2>/dev/null || true; kill $XVFB_PID 2>/dev/null || true' EXIT
until [ -s "$WORK/display" ]; do sleep 0.1; done
export DISPLAY=":$(cat "$WORK/display")"
[ -d "$WINEPREFIX/drive_c" ] || wineboot -i >/dev/null 2>&1

inspect() { (cd "$WORK" && WINEDLLOVERRIDES= wine run/qavel-inspect.exe --desktop qbench "$@" 2>/dev/null) | tr -d '\r'; }

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

echo "== CPU while waiting 10 s for a touch (model 0x0102, no touch scripted)"
printf 'device 0596:0102\n' >"$WORK/waiting.txt"
(cd "$WORK/run" && QAVEL_SIM="$WORK/waiting.txt" WINEDLLOVERRIDES="hid,setupapi=n,b" \
    exec wine explorer /desktop=qbench,1024x768 "$WORK/run/qavel-calib.exe") >/dev/null 2>&1 &
sleep 5
PID=$(pgrep -n -f "$WORK/run/qavel-calib.exe" | head -n1)
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
(cd "$WORK/run" && QAVEL_SIM="$WORK/run.txt" QAVEL_SIM_LOG="$WORK/transcript.log" WINEDLLOVERRIDES="hid,setupapi=n,b" \
    exec wine explorer /desktop=qbench,1024x768 "$WORK/run/qavel-calib.exe") >/dev/null 2>&1 &
inspect message 240 >/dev/null
shown=$(date +%s%N)
inspect press-ok >/dev/null
transfers=$(grep -c . "$WORK/transcript.log")
# Every transfer is preceded by a 100 ms pause; after the touches 1000 ms and 500 ms; closing adds 1000 ms.
echo "from start to the outcome message: $(( (shown - start) / 1000000 )) ms"
echo "transfers before the message: $((transfers - 1)); their pauses plus 1500 ms after the targets: $(( (transfers - 1) * 100 + 1500 )) ms"
wineserver -w
