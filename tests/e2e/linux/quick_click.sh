#!/usr/bin/env bash
# Touches from the mouse: a 50 ms click on each green target, made while the program is stopped
# so that no poll can catch the button down, still completes the target, and the run succeeds.
#   quick_click.sh PROGRAM PRELOAD PROBE MODEL   (MODEL: 0003, 0300 or 0102)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
model=$4

start_program "device 0596:$model
touch-from pointer"

click_target 1 128 672
click_target 2 896 96
expect_message "Calibration" "Calibration completed successfully." information Return
expect_exit_zero
echo PASS
