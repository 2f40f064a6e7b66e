#!/usr/bin/env bash
# Model 0x0102 with a zero grid: both targets where the geometry puts them, green then red, no
# third target, the success message, and the calibration page written with the edge limits.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

# rest= keeps each target green for a number of polls, so it is on screen long enough to see.
start_program "device 0596:0102
touch -1536 -1536 rest=10
touch 1536 1536 rest=10"

# Target 1: box (104,648)-(152,696). Target 2: box (872,72)-(920,120).
# Where a third target would be: box (104,72)-(152,120).
screenshot_when target1-green "target 1 green" pixel-is 134 676 "$GREEN"
expect_target "$SHOT" 104 648 "$GREEN" "target 1 green"
expect_no_target "$SHOT" 872 72 "target 2 while target 1 waits"

screenshot_when target1-red "target 1 red" pixel-is 134 676 "$RED"
expect_target "$SHOT" 104 648 "$RED" "target 1 red"

screenshot_when target2-green "target 2 green" pixel-is 902 100 "$GREEN"
expect_target "$SHOT" 872 72 "$GREEN" "target 2 green"
expect_no_target "$SHOT" 104 648 "target 1 once target 2 is shown"

screenshot_when target2-red "target 2 red" pixel-is 902 100 "$RED"
expect_target "$SHOT" 872 72 "$RED" "target 2 red"
expect_no_target "$SHOT" 104 72 "a third target"

expect_message "Calibration" "Calibration completed successfully." information click
expect_exit_zero

page=$(last_write 05 72)
[ -n "$page" ] || fail "no calibration page was written"
case $page in
"05 01 00 00 01 00 1a 00 "*) ;;
*) fail "calibration page header: $page" ;;
esac
read -r -a bytes <<<"$page"
limits="${bytes[*]:8:8}"
[ "$limits" = "00 01 07 fe 00 01 07 fe" ] || fail "limits are $limits"
[ "${bytes[28]}" = 00 ] || fail "orientation byte is ${bytes[28]}"
echo PASS
