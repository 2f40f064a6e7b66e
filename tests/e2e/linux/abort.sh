#!/usr/bin/env bash
# The user stops the run while target 2 waits: by Esc (argument "escape") or by the window
# manager's close request (argument "close"). Either only raises the flag; the run then ends
# with "Calibration terminated by user.".
set -euo pipefail
. "$(dirname "$0")/lib.sh"
how=$4

# One scripted touch only: target 2 waits for a touch that never comes.
start_program "device 0596:0102
touch -1536 -1536"

wait_for "target 2 green" pixel-is 902 100 "$GREEN"
case $how in
escape)
    # Other keys are swallowed: the target keeps waiting.
    xdotool key a Return space
    sleep 1
    pixel_is 902 100 "$GREEN" || fail "a key other than Esc ended the wait"
    xdotool key Escape
    ;;
close)
    id=$("$PROBE" find Calibration)
    "$PROBE" close "$id"
    ;;
*) fail "unknown way to abort: $how" ;;
esac
expect_message "Calibration" "Calibration terminated by user." information space
expect_exit_zero
echo PASS
