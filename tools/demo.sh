#!/usr/bin/env bash
# Builds the Linux program and runs it against the simulated controller, touched with the mouse,
# then prints the calibration page the program wrote. Needs a desktop (X11, or Wayland with
# XWayland for a scenario whose touches come from the mouse).
#   tools/demo.sh [SCENARIO]   (default: tools/demo-0102.scenario)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
scenario=$(realpath "${1:-$root/tools/demo-0102.scenario}")
build=$root/build/linux

# The simulated controller's mouse-as-finger reads the X pointer, which sees only X windows: on
# a Wayland desktop such a demo runs the program on X11, through XWayland.
if grep -q '^touch-from pointer' "$scenario" && [ -n "${WAYLAND_DISPLAY:-}" ]; then
    if [ -z "${DISPLAY:-}" ]; then
        echo "demo: the simulated controller takes its touches from the X pointer, and this Wayland" >&2
        echo "desktop has no XWayland (DISPLAY is not set); run it where XWayland is on" >&2
        exit 1
    fi
    echo "demo: this is a Wayland desktop; the program runs on X11 through XWayland, where the"
    echo "simulated controller can follow the mouse."
    unset WAYLAND_DISPLAY
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no DISPLAY or WAYLAND_DISPLAY; run it from a desktop session" >&2
    exit 1
fi

cd "$root"
transcript=$(mktemp "${TMPDIR:-/tmp}/qavel-demo.XXXXXX")
log=$(mktemp "${TMPDIR:-/tmp}/qavel-demo-build.XXXXXX")
trap 'rm -f "$transcript" "$log"' EXIT
echo "demo: building the program and the simulated controller in build/linux (the first time takes"
echo "a minute or two)..."
if ! { cmake --preset linux && cmake --build --preset linux -j2 --target qavel-calib qavel_sim_preload; } \
    >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "demo: the build failed" >&2
    exit 1
fi

echo "Click each green target with the first mouse button; a short click is enough (the simulated"
echo "controller makes every click a touch as long as it needs). Esc stops."
QAVEL_SIM=$scenario QAVEL_SIM_LOG=$transcript \
    LD_PRELOAD=$build/sim/preload/libqavel_sim_preload.so \
    "$build/src/platform/linux/qavel-calib"

# The calibration page is the report 5 whose header names page 1 (model 0x0100 also clears page 2).
page=$(grep ' set 05 72 ok 05 01 00 00 01 ' "$transcript" | tail -n 1 | cut -d' ' -f6- || true)
if [ -z "$page" ]; then
    echo "No calibration page was written."
    exit 0
fi
read -r -a b <<<"$page"
echo "Calibration page written (report 5, 72 bytes):"
echo "  $page"
echo "  x limits: 0x${b[8]}${b[9]} .. 0x${b[10]}${b[11]}   y limits: 0x${b[12]}${b[13]} .. 0x${b[14]}${b[15]}   orientation: ${b[28]}"
