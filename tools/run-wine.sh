#!/usr/bin/env bash
# Runs the Windows program under Wine against the simulated controller and prints the calibration
# page it wrote.   usage: tools/run-wine.sh [SCENARIO_FILE]
# Default scenario: model 0x0102 with touches from the mouse (click each target; Esc aborts).
# Set DISPLAY to use your own X server; without one a 1024 x 768 Xvfb screen is started.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="$ROOT/build/windows"
WORK="$BUILD/run-wine"

cmake --preset windows >/dev/null
cmake --build --preset windows -j2 >/dev/null

mkdir -p "$WORK/run"
cp "$BUILD/bin/qavel-calib.exe" "$BUILD/sim-dlls/hid.dll" "$BUILD/sim-dlls/setupapi.dll" "$WORK/run/"
if [ $# -ge 1 ]; then
    SCENARIO=$(realpath "$1")
else
    SCENARIO="$WORK/pointer-0102.txt"
    printf 'device 0596:0102\ntouch-from pointer\n' >"$SCENARIO"
fi
export WINEPREFIX="$WORK/prefix" WINEDEBUG=-all
XVFB_PID=""
trap '[ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null; WINEPREFIX="$WORK/prefix" wineserver -k 2>/dev/null || true' EXIT
if [ -z "${DISPLAY:-}" ]; then
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>/dev/null &
    XVFB_PID=$!
    until [ -s "$WORK/display" ]; do sleep 0.1; done
    export DISPLAY=":$(cat "$WORK/display")"
    echo "Xvfb on $DISPLAY (use xdotool there to click the targets)"
fi
[ -d "$WINEPREFIX/drive_c" ] || wineboot -i >/dev/null 2>&1

TRANSCRIPT="$WORK/transcript.log"
rm -f "$TRANSCRIPT"
(cd "$WORK/run" && QAVEL_SIM="$SCENARIO" QAVEL_SIM_LOG="$TRANSCRIPT" WINEDLLOVERRIDES="hid,setupapi=n,b" \
    wine explorer /desktop=qavel,1024x768 qavel-calib.exe)
echo "transcript: $TRANSCRIPT"
echo "calibration page written (report 5, page 1):"
awk '$2 == "set" && $3 == "05" && $10 == "01"' "$TRANSCRIPT" | cut -d' ' -f6- || true
