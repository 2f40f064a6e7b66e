#!/usr/bin/env bash
# Touches from the mouse: a 50 ms click on each green target, made while the program is stopped
# so that no poll can catch the button down, still completes the target, and the run succeeds.
#   quick_click.sh PROGRAM PRELOAD PROBE MODEL   (MODEL: 0003, 0300 or 0102)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
model=$4

start_program "device 0596:$model
touch-from pointer"

gets() {  # transfers read so far; none before the transcript exists
    local n
    n=$(grep -c ' get ' "$TRANSCRIPT" 2>/dev/null) || true
    echo "${n:-0}"
}

click_target() {  # NUMBER CENTRE-X CENTRE-Y
    wait_for "target $1 green" pixel-is $(($2 + 6)) $(($3 + 4)) "$GREEN"
    # A raw capture first waits for a released screen, and a touch that reaches it is not taken;
    # as with a finger, click once the controller is being polled for the touch.
    local seen deadline=$((SECONDS + WAIT_LIMIT))
    seen=$(gets)
    until [ "$(gets)" -ge $((seen + 2)) ]; do
        [ $SECONDS -lt $deadline ] || fail "the controller is not polled for target $1"
        sleep 0.05
    done
    freeze
    xdotool mousemove "$2" "$3" mousedown 1
    sleep 0.05
    xdotool mouseup 1
    thaw
    wait_for "target $1 red after a quick click" pixel-is $(($2 + 6)) $(($3 + 4)) "$RED"
}

click_target 1 128 672
click_target 2 896 96
expect_message "Calibration" "Calibration completed successfully." information Return
expect_exit_zero
echo PASS
