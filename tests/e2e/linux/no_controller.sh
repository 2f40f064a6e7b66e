#!/usr/bin/env bash
# Only foreign or unusable interfaces: an unsupported product, and a supported one whose
# descriptor declares no feature values. The one thing shown is message 1009. Then a supported
# one whose node the user may not open: message 1009 names it, and so does standard error.
# Last, without a display (neither Wayland nor X11): one line on standard error that says why for
# both, exit status 1, the controller untouched.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

start_program "device 0596:0101
device 0596:0102 nofeatures
device 1234:0102"

# Watch for the calibration window for as long as the message is not up: the X server names
# windows; on Wayland the compositor lists the program's windows (wayland_windows), and until
# the box is there, any window of the program is one that should not be.
deadline=$((SECONDS + WAIT_LIMIT))
if ! lists_windows; then
    # No list of windows with places: the calibration window would be white over the dark
    # background of mutter or labwc.
    until has_colour "$(screenshot live)" d32f2f; do
        [ "$(shot_pixel "$WORK/live.png" 2 2)" != "$WHITE" ] || fail "the calibration window appeared"
        [ $SECONDS -lt $deadline ] || fail "no message appeared"
        kill -0 "$PROGRAM_PID" 2>/dev/null || fail "program ended without a message"
        sleep 0.05
    done
elif on_wayland; then
    for (( ; ; )); do
        windows=$(wayland_windows)
        grep -qx '.* Error' <<<"$windows" && break
        [ -z "$windows" ] ||
            fail "the calibration window appeared: $SCREEN_KIND shows \"$(tr '\n' ';' <<<"$windows")\""
        [ $SECONDS -lt $deadline ] || fail "no message appeared"
        kill -0 "$PROGRAM_PID" 2>/dev/null || fail "program ended without a message"
        sleep 0.05
    done
    [ "$(grep -c . <<<"$windows")" = 1 ] ||
        fail "the calibration window appeared: $SCREEN_KIND shows \"$(tr '\n' ';' <<<"$windows")\" with the message"
else
    until window_exists "Error"; do
        window_exists "Calibration" && fail "the calibration window appeared"
        [ $SECONDS -lt $deadline ] || fail "no message appeared"
        kill -0 "$PROGRAM_PID" 2>/dev/null || fail "program ended without a message"
        sleep 0.05
    done
    ! window_exists "Calibration" || fail "the calibration window appeared"
fi
expect_message "Error" "Cannot find Qavel touch controller." error Escape
expect_exit_zero
[ ! -s "$TRANSCRIPT" ] || fail "a report was exchanged with an interface that does not qualify"

start_program "device 0596:0101 denied
device 0596:0400 denied"
blocked="/dev/hidraw1 (0596:0400): permission denied. Install the udev rule 70-qavel-touch.rules \
(or the qavel-calib package), then plug the controller in again."
expect_message "Error" "Cannot find Qavel touch controller.
$blocked" error Return
expect_exit_zero
[ "$(cat "$WORK/program.log")" = "qavel: $blocked" ] ||
    fail "standard error is not the one line naming the node: $(cat "$WORK/program.log")"

printf 'device 0596:0102\n' >"$WORK/scenario.txt"
for wayland in "" qavel-none; do
    code=0
    wayland_env=(-u WAYLAND_DISPLAY)
    [ -z "$wayland" ] || wayland_env=(WAYLAND_DISPLAY="$wayland")
    # An argument other than --help and --version changes nothing.
    env -u DISPLAY "${wayland_env[@]}" QAVEL_SIM="$WORK/scenario.txt" QAVEL_SIM_LOG="$TRANSCRIPT" \
        LD_PRELOAD="$PRELOAD" "$PROGRAM" --calibrate >"$WORK/program.out" 2>"$WORK/program.log" || code=$?
    [ "$code" = 1 ] || fail "without a display the exit status is $code"
    why="WAYLAND_DISPLAY is not set"
    [ -z "$wayland" ] || why="Wayland display \"$wayland\" does not answer"
    [ "$(cat "$WORK/program.log")" = "qavel-calib: cannot open display ($why; DISPLAY is not set)" ] ||
        fail "standard error without a display: $(cat "$WORK/program.log")"
    [ ! -s "$WORK/program.out" ] && [ ! -s "$TRANSCRIPT" ] || fail "output or transfers without a display"
done
echo PASS
