#!/usr/bin/env bash
# Runs the Windows program under Wine against the simulated controller and prints the calibration
# page it wrote.   usage: tools/run-wine.sh [SCENARIO_FILE]
# Default scenario: model 0x0102 with touches from the mouse (click each target; Esc aborts).
# Set DISPLAY to use your own X server; without one an Xvfb screen of QAVEL_SCREEN (WIDTHxHEIGHT,
# default 1024x768) is started. QAVEL_SCREEN is also the size of the Wine desktop.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/lib/display.sh"
BUILD="$ROOT/build/windows"
WORK="$BUILD/run-wine"

mkdir -p "$WORK"
echo "run-wine: building the Windows program in build/windows (the first time takes a minute or two)..."
if ! { cmake --preset windows && cmake --build --preset windows -j2; } >"$WORK/build.log" 2>&1; then
    tail -n 40 "$WORK/build.log" >&2
    echo "run-wine: the build failed (log: $WORK/build.log)" >&2
    exit 1
fi

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
# Each target waits 20 s for its touch: the program starts only once Wine is set up.
echo "run-wine: preparing the Wine prefix (about 20 s the first time)..."
qavel_wine_prefix "$WORK/wineboot.log"

TRANSCRIPT="$WORK/transcript.log"
rm -f "$TRANSCRIPT"
echo "run-wine: starting the program on a $QAVEL_SCREEN Wine desktop; click each green target within"
echo "20 s (press, hold briefly, release); Esc aborts."
(qavel_wine_program "$WORK/run" qavel "$SCENARIO" "$TRANSCRIPT")
echo "transcript: $TRANSCRIPT"
echo "calibration page written (report 5, page 1):"
awk '$2 == "set" && $3 == "05" && $10 == "01"' "$TRANSCRIPT" | cut -d' ' -f6- || true
