#!/usr/bin/env bash
set -euo pipefail
# Two monitors side by side on one X screen, the right one primary and smaller: the calibration
# window covers that monitor alone, the targets lie within it, and the notice and the message
# box are centred on it. The demo's touches from the mouse are mapped over that monitor too.
QAVEL_SCREEN=2304x1024
. "$(dirname "$0")/lib.sh"

# Left 1280 x 1024 at the origin, right (primary) 1024 x 768 beside it.
MX=1280
MY=0
MW=1024
MH=768
"$PROBE" monitors LEFT 0 0 1280 1024 0 RIGHT $MX $MY $MW $MH 1 >"$WORK/monitors.out" &
MONITORS_PID=$!
trap 'status=$?; kill $MONITORS_PID 2>/dev/null; cleanup $status' EXIT
deadline=$((SECONDS + WAIT_LIMIT))
until grep -q ready "$WORK/monitors.out"; do
    kill -0 $MONITORS_PID 2>/dev/null || fail "the server refused the RandR monitors"
    [ $SECONDS -lt $deadline ] || fail "the RandR monitors were not set"
    sleep 0.05
done

expect_centred() {  # WINDOW-NAME [ATOM]
    local id x y w h
    id=$("$PROBE" find "$@") || fail "no window \"$1\""
    read -r x y w h <<<"$("$PROBE" geometry "$id")"
    [ "$x" = $((MX + (MW - w) / 2)) ] && [ "$y" = $((MY + (MH - h) / 2)) ] ||
        fail "\"$1\" at $x,$y size ${w}x$h is not centred on the primary monitor"
}

# A raw model, each target held green for a while.
start_program "device 0596:0102
touch -1536 -1536 rest=10
touch 1536 1536 rest=10"

wait_for "target 1 green" pixel-is $((MX + 134)) $((MY + 676)) "$GREEN"
freeze
id=$("$PROBE" find Calibration)
geometry=$("$PROBE" geometry "$id")
shot=$(screenshot target1-green)
# Where target 1 would be centred on the whole screen, and on the left monitor.
on_whole=$("$PROBE" top-at 288 896)
on_left=$("$PROBE" top-at 160 896)
thaw
[ "$geometry" = "$MX $MY $MW $MH" ] || fail "calibration window at $geometry"
expect_identity "$id" "calibration window"
expect_target "$shot" $((MX + 104)) $((MY + 648)) "$GREEN" "target 1 on the primary monitor"
[ "$on_whole" != Calibration ] && [ "$on_left" != Calibration ] ||
    fail "the calibration window reaches onto the left monitor"

wait_for "target 2 green" pixel-is $((MX + 902)) $((MY + 100)) "$GREEN"
freeze
shot=$(screenshot target2-green)
thaw
expect_target "$shot" $((MX + 872)) $((MY + 72)) "$GREEN" "target 2 on the primary monitor"

wait_for "the message box" window Calibration _QAVEL_MESSAGE_TEXT
expect_centred Calibration _QAVEL_MESSAGE_TEXT
expect_message "Calibration" "Calibration completed successfully." information Return
expect_exit_zero

# The demo: each target clicked through the real pointer.
start_program "device 0596:0102
touch-from pointer"
click_target 1 $((MX + 128)) $((MY + 672))
click_target 2 $((MX + 896)) $((MY + 96))
expect_message "Calibration" "Calibration completed successfully." information Return
expect_exit_zero

# Model 0x0300 shows the notice while it saves.
start_0300_until_notice
expect_centred "$NOTICE"
expect_identity "$("$PROBE" find "$NOTICE")" "notice"
thaw
expect_message "Calibration" "Calibration completed successfully." information Return
expect_exit_zero
echo PASS
