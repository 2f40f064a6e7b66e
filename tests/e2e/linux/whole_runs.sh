#!/usr/bin/env bash
# One model's whole run to the success message: MODEL is the first argument after lib.sh's three.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
model=$4

case $model in
0100)
    scenario="device 0596:0100
touch -1536 -1536
touch 1536 1536
touch -1536 1536"
    dismiss=Return ;;
0003)
    scenario="device 0596:0003
status-touch
status-touch
status-touch"
    dismiss=space ;;
0400)
    scenario="device 0596:0400
status-touch
status-touch
status-touch"
    dismiss=KP_Enter ;;
*) fail "unknown model $model" ;;
esac

start_program "$scenario"
wait_for "the calibration window" window "Calibration"
expect_message "Calibration" "Calibration completed successfully." information "$dismiss"
expect_exit_zero
[ -s "$TRANSCRIPT" ] || fail "no report was exchanged"
echo PASS
