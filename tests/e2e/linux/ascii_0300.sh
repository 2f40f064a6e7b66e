#!/usr/bin/env bash
# Model 0x0300: the run ends in success, and while the controller saves, the notice is up:
# centred, on top of the calibration window, with its caption and its text readable.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

start_0300_until_notice
id=$("$PROBE" find "$NOTICE")
read -r x y w h <<<"$("$PROBE" geometry "$id")"
shot=$(screenshot notice)
top=$("$PROBE" top-at $((x + w / 2)) $((y + h / 2)))
calibration_up=0
window_exists "Calibration" && calibration_up=1
thaw

[ $calibration_up = 1 ] || fail "the calibration window was gone while the notice was up"
[ "$x" = $(((1024 - w) / 2)) ] && [ "$y" = $(((768 - h) / 2)) ] ||
    fail "notice at $x,$y size ${w}x$h is not centred"
[ "$top" = "$NOTICE" ] || fail "the window on top at the notice's centre is \"$top\""
[ "$w" -ge 200 ] && [ "$h" -ge 50 ] || fail "notice of ${w}x$h is too small to read"

# The caption bar is dark with light text; the text area below it is light with dark text.
caption_light=$(convert "$shot" -crop "$((w - 8))x8+$((x + 4))+$((y + 6))" -colorspace Gray \
    -format '%[fx:maxima]' info:)
text_dark=$(convert "$shot" -crop "$((w - 4))x$((h / 2))+$((x + 2))+$((y + h / 4))" \
    -colorspace Gray -format '%[fx:minima]' info:)
text_background=$(shot_pixel "$shot" $((x + 3)) $((y + h - 4)))
awk -v v="$caption_light" 'BEGIN { exit !(v > 0.8) }' || fail "no caption text in the notice"
awk -v v="$text_dark" 'BEGIN { exit !(v < 0.3) }' || fail "no dark text in the notice"
[ "$text_background" = f0f0f0 ] || fail "notice body is $text_background"

expect_message "Calibration" "Calibration completed successfully." information Return
window_exists "$NOTICE" && fail "the notice outlived the run"
expect_exit_zero
echo PASS
