#!/usr/bin/env bash
# One model's whole run to the success message: MODEL is the first argument after lib.sh's three.
# With "stderr-gone" after it, standard error is a pipe whose reader has gone, and two failed
# transfers of model 0x0003 write their lines there: the run still ends as usual.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
model=$4
how=${5:-}

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

if [ "$how" = stderr-gone ]; then
    mkfifo "$WORK/stderr"
    exec 4<>"$WORK/stderr" 5>"$WORK/stderr" 4<&-
    start_program "$scenario
refuse set 0x10 times=1
refuse get 0x80 times=1 from=2" 5
    exec 5>&-
else
    start_program "$scenario"
fi
wait_for "the calibration window" window "Calibration"
expect_message "Calibration" "Calibration completed successfully." information "$dismiss"
expect_exit_zero
[ -s "$TRANSCRIPT" ] || fail "no report was exchanged"
if [ "$how" = stderr-gone ]; then
    # Each refused once, so each wrote its line to the pipe.
    for transfer in "set 10" "get 80"; do
        count=$(grep -Ec "^[0-9]+ $transfer [0-9]+ fail( |$)" "$TRANSCRIPT" || true)
        [ "$count" = 1 ] || fail "$count refused \"$transfer\" transfers in the transcript, expected 1"
    done
fi
echo PASS
