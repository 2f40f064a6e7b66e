#!/usr/bin/env bash
# Model 0x0102 with a zero grid: both targets where the geometry puts them, green then red, no
# third target, the success message, and the calibration page written with the edge limits.
# The message is dismissed by a click on OK, or with "touch" by a touch there (KWin only).
# usage: raw_0102.sh PROGRAM PRELOAD PROBE [click|touch]
set -euo pipefail
. "$(dirname "$0")/lib.sh"

# rest= keeps each target green for a number of polls, so it is on screen long enough to see.
WAYLAND_DEBUG=client start_program "device 0596:0102
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

# Held there on kwin-scale2 for the shot in the output's pixels: the box follows within 1.5 s.
KEEP_STOPPED=$([ "$SCREEN_KIND" = kwin-scale2 ] && echo 1 || true) \
    screenshot_when target2-red "target 2 red" pixel-is 902 100 "$RED"
expect_target "$SHOT" 872 72 "$RED" "target 2 red"
expect_no_target "$SHOT" 104 72 "a third target"
if [ "$SCREEN_KIND" = kwin-scale2 ]; then
    # In the output's own pixels the target is where the logical ones put it, twice as far and
    # twice as big, and drawn at that scale: its box holds the painter's three colours only
    # (without antialiasing), not the blends of a buffer that the compositor scaled up.
    native=$(screenshot_native target2-red-native)
    thaw
    [ "$(identify -format '%wx%h' "$native")" = 2048x1536 ] ||
        fail "the output's own pixels are $(identify -format '%wx%h' "$native"), expected 2048x1536"
    expect_shot_pixel "$native" 1804 200 "$RED" "target 2's disc in the output's pixels"
    expect_shot_pixel "$native" 1792 192 "$BLACK" "target 2's centre in the output's pixels"
    expect_shot_pixel "$native" 1738 192 "$WHITE" "left of target 2's box in the output's pixels"
    colours=$(convert "$native" -crop 96x96+1744+144 +repage -unique-colors -format '%w' info:)
    [ "$colours" -le 3 ] || fail "target 2's box has $colours colours in the output's pixels: scaled up, not drawn at scale 2"
fi

expect_message "Calibration" "Calibration completed successfully." information "${4:-click}"
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
