#!/usr/bin/env bash
# Runs the Windows program under Wine against the simulated controller and prints the calibration
# page it wrote.   usage: tools/run-wine.sh [SCENARIO_FILE]
# Default scenario: model 0x0102 with touches from the mouse (click each target; Esc aborts).
# Set DISPLAY to use your own X server; without one a 1024 x 768 Xvfb screen is started.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/lib/display.sh"
BUILD="$ROOT/build/windows"
WORK="$BUILD/run-wine"

cmake --preset windows >/dev/null
cmake --build --preset windows -j2 >/dev/null

qavel_wine_stage "$BUILD" "$WORK/run"
if [ $# -ge 1 ]; then
    SCENARIO=$(realpath "$1")
else
    SCENARIO="$WORK/pointer-0102.txt"
    printf 'device 0596:0102\ntouch-from pointer\n' >"$SCENARIO"
fi
qavel_wine_env "$WORK/prefix"
trap 'qavel_wine_stop; qavel_stop_xvfb' EXIT
if [ -z "${DISPLAY:-}" ]; then
    qavel_start_xvfb "$WORK/xvfb.log"
    echo "Xvfb on $DISPLAY (use xdotool there to click the targets)"
fi
qavel_wine_prefix "$WORK/wineboot.log"

TRANSCRIPT="$WORK/transcript.log"
rm -f "$TRANSCRIPT"
(qavel_wine_program "$WORK/run" qavel "$SCENARIO" "$TRANSCRIPT")
echo "transcript: $TRANSCRIPT"
echo "calibration page written (report 5, page 1):"
awk '$2 == "set" && $3 == "05" && $10 == "01"' "$TRANSCRIPT" | cut -d' ' -f6- || true
