#!/usr/bin/env bash
# Model 0x0300: the run ends in success, and while the controller saves, the notice is up:
# centred, on top of the calibration window, with its caption and its text readable.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

start_0300_until_notice
if on_wayland; then
    # The shot that showed the notice: saving may end before the program is stopped.
    shot=$WORK/notice.png
    cp "$WORK/live.png" "$shot"
    thaw
    # Found by its colours: the caption bar's navy and the grey frame below it.
    box() { convert "$shot" -fill black +opaque "#$1" -fill white -opaque "#$1" -trim -format '%X %Y %w %h' info: | tr -d +; }
    read -r x y w _ <<<"$(box 000080)"
    read -r _ frame_y _ frame_h <<<"$(box 808080)"
    h=$((frame_y + frame_h - y))
    # The calibration window is still there around the notice, and no one names the window on
    # top: what is seen is the notice in front of it.
    top=$NOTICE
    calibration_up=0
    [ "$(shot_pixel "$shot" 2 2)" = "$WHITE" ] && calibration_up=1
    convert "$shot" -crop "${w}x$h+$x+$y" +repage "$WORK/notice-only.png"
    text=$(screen_text "$WORK/notice-only.png")
    ocr_holds "$text" "Saving data - please do not touch the screen" ||
        fail "the notice reads \"$text\""
    # A compositor centres the notice on the window with rounding of its own.
    slack=1
else
    shot=$(screenshot notice)
    id=$("$PROBE" find "$NOTICE")
    read -r x y w h <<<"$("$PROBE" geometry "$id")"
    top=$("$PROBE" top-at $((x + w / 2)) $((y + h / 2)))
    calibration_up=0
    window_exists "Calibration" && calibration_up=1
    thaw
    slack=0
fi

[ $calibration_up = 1 ] || fail "the calibration window was gone while the notice was up"
dx=$((x - (1024 - w) / 2))
dy=$((y - (768 - h) / 2))
[ ${dx#-} -le $slack ] && [ ${dy#-} -le $slack ] || fail "notice at $x,$y size ${w}x$h is not centred"
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
if on_wayland; then
    has_colour "$WORK/message.png" 000080 && fail "the notice outlived the run"
else
    window_exists "$NOTICE" && fail "the notice outlived the run"
fi
expect_exit_zero
echo PASS
