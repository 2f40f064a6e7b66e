#!/usr/bin/env bash
# The run is stopped before its end.
# - By the user while target 2 (or TARGET) waits (model 0x0102): Esc (HOW "escape") or the window
#   manager's close request ("close"). Either only raises the flag; the run then ends with
#   "Calibration terminated by user.".
# - From outside, at target 1 of MODEL (0102, 0003 or 0300), or with WHEN "store" during the
#   0x0102 store step: the signal HOW (TERM, HUP or INT), or the X server or the compositor going
#   away ("display-lost"). The run ends as Esc ends it, the controller is closed, no message is
#   shown (the program ends by itself, and a box would wait for someone to dismiss it), and the
#   process ends by the signal (status 128 + its number), or with 0 when the display went.
# - Not at all ("notice-killed"): a client killer takes only the 0x0300 notice while the controller
#   saves; the run ends with its outcome message, as without the kill. Taken the same way, the
#   message box ("box-killed") ends as one that could not be shown: the program ends with 0.
#   On Wayland nothing takes one window alone: these rows kill the compositor, and every window
#   goes with it. With the notice up, the run ends as a display lost ends it: the controller's
#   calibration ends as Esc would end it there (the save under way completes, then the cleanup
#   modes), no box, and the program ends by itself with 0. With the box up (after a whole 0x0102
#   run), the box ends as one that could not be shown: the controller is closed, nothing else
#   reaches it, and the program ends with 0.
# - Esc at target 1 with no keyboard-layout data on the machine ("no-layout", Wayland).
# - The window taken out of full screen at target 1 and kept out ("windowed", sway): it shows no
#   target that way, asks for full screen again, and the run ends as Esc ends it.
# - Where the program can do nothing: KILL (SIGKILL) or SEGV (a crash) at target 1 of 0x0102, KILL
#   with WHEN "write" while the 0x0102 page write is refused, or at model 0300's notice ("notice").
#   With WHEN "group-TERM" or "group-HUP", KILL at target 1 of 0x0102 comes right after that signal
#   went to the program's whole process group (a closed terminal, a session's end), before the
#   program could act on it. The guardian sends what an abort sends at that point, within 2 s of
#   the program's last transfer by the transcript's own clock, and is gone.
# usage: abort.sh PROGRAM PRELOAD PROBE HOW [MODEL [WHEN]]
#        abort.sh PROGRAM PRELOAD PROBE escape|close [TARGET [no-layout]]
set -euo pipefail
. "$(dirname "$0")/lib.sh"
how=$4
model=${5:-0102}
when=${6:-}

# Key presses that reached the program on Wayland, as its own protocol log (WAYLAND_DEBUG) shows.
wayland_key_presses() {
    grep -Ec 'wl_keyboard[@#][0-9]+\.key\([^)]*, (1|pressed)\)' "$WORK/program.log" || true
}

# Presses a, Return and space; fails unless all three reach the calibration window: on X, the
# probe listens on the window for them, on Wayland the program's protocol log shows them.
press_other_keys() {
    if on_wayland; then
        local before deadline=$((SECONDS + WAIT_LIMIT))
        before=$(wayland_key_presses)
        press_keys a Return space
        until [ "$(wayland_key_presses)" -ge $((before + 3)) ]; do
            [ $SECONDS -lt $deadline ] ||
                fail "$(($(wayland_key_presses) - before)) of the keys a, Return and space reached the program"
            sleep 0.1
        done
        return
    fi
    local id listener got
    id=$("$PROBE" find Calibration) || fail "no calibration window to press keys in"
    "$PROBE" keys "$id" 3 "$WAIT_LIMIT" >"$WORK/keys.txt" &
    listener=$!
    until grep -qx listening "$WORK/keys.txt" 2>/dev/null; do
        kill -0 $listener 2>/dev/null || fail "the probe cannot listen on the calibration window"
        sleep 0.1
    done
    press_keys a Return space
    wait $listener || true
    got=$(sed 1d "$WORK/keys.txt" | tr '\n' ' ')
    [ "$got" = "a Return space " ] ||
        fail "keys that reached the calibration window: ${got:-none}; expected a Return space"
}

MODE_7="set 03 ok 03 05 00 00 07 00 00 00"
R_FRAME="set 09 ok 09 0a 03 00 00 00 00 00 01 52 0d 00"

# Fails unless the transcript ends with the transfers given, each a prefix of its line.
expect_ending() {  # TRANSFER...
    local count=$# k
    local ending=("$@")
    mapfile -t seen < <(transcript_tail "$count")
    for ((k = 0; k < count; ++k)); do
        [[ "${seen[k]:-}" == "${ending[k]}"* ]] ||
            fail "transfer $((k + 1)) of the last $count is \"${seen[k]:-}\", expected \"${ending[k]}...\""
    done
}

# On Wayland, the compositor killed while the 0x0300 notice (WHAT notice-killed) or the outcome
# box (box-killed) is up. The program's protocol log (WAYLAND_DEBUG) is in program.log.
compositor_killed_with() {  # WHAT
    local sent_after started
    if [ "$1" = notice-killed ]; then
        start_0300_until_notice
    else
        WAYLAND_DEBUG=client start_program "device 0596:0102
touch -1536 -1536
touch 1536 1536"
        wayland_message_up "the message box" 1565c0
        freeze
    fi
    sent_after=$(wc -l <"$TRANSCRIPT")
    started=$EPOCHREALTIME
    qavel_stop_wayland
    thaw
    expect_exit 0
    echo "the program ended $(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s after the compositor's end"
    grep -q "the Wayland display is gone; ending the run" "$WORK/program.log" ||
        fail "the compositor's end went unnoticed"
    # Only the calibration window, and no box after it, ever asked for on the way to the end.
    local toplevels
    toplevels=$(grep -c -- '-> xdg_surface[@#][0-9]*\.get_toplevel(' "$WORK/program.log" || true)
    if [ "$1" = notice-killed ]; then
        [ "$toplevels" = 1 ] || fail "$toplevels toplevel windows asked for, expected the calibration window alone"
        # The save under way ends, then the cleanup modes. Its R went before the compositor did;
        # the reply to it is read unless the ending came first (an ending stops the wait for it).
        if [[ "$(transcript_tail 3 | head -n 1)" == "$R_FRAME"* ]]; then
            expect_ending "$R_FRAME" "set 03 ok 03 05 00 00 0a 00 00 00" "$MODE_7"
        else
            expect_ending "$R_FRAME" "get 09 ok 09 00 00 00 00 00 00 03 01 30 0d" \
                "set 03 ok 03 05 00 00 0a 00 00 00" "$MODE_7"
        fi
        [ "$(grep -c " set 09 64 ok 09 0a 03 00 00 00 00 00 01 52 0d " "$TRANSCRIPT")" = 1 ] ||
            fail "the controller was told to save more than once"
        # The notice was still up when the compositor went: the cleanup came after.
        [ "$(grep -n " set 03 8 ok 03 05 00 00 0a " "$TRANSCRIPT" | cut -d: -f1)" -gt "$sent_after" ] ||
            fail "the cleanup was sent before the compositor's end: the notice was gone by then"
    else
        # The run's own end, then only CloseController's mode.
        expect_ending "$MODE_7" "$MODE_7"
        [ "$(wc -l <"$TRANSCRIPT")" = $((sent_after + 1)) ] ||
            fail "$(($(wc -l <"$TRANSCRIPT") - sent_after)) transfers after the compositor's end, expected CloseController's mode alone"
    fi
}

case $how in
escape | close)
    # Scripted touches for the targets before: this one waits for a touch that never comes.
    # Its protocol log shows on Wayland which keys reached it.
    if [ "${6:-}" = no-layout ]; then
        XKB_CONFIG_ROOT=$WORK/no-layout-data WAYLAND_DEBUG=client start_program "device 0596:0102"
        at=(134 676)
    elif [ "${5:-2}" = 1 ]; then
        WAYLAND_DEBUG=client start_program "device 0596:0102"
        at=(134 676)
    else
        WAYLAND_DEBUG=client start_program "device 0596:0102
touch -1536 -1536"
        at=(902 100)
    fi

    wait_for "the target green" pixel-is "${at[@]}" "$GREEN"
    if [ "$how" = escape ]; then
        # Other keys reach the window and are swallowed: the target keeps waiting.
        press_other_keys
        sleep 1
        pixel_is "${at[@]}" "$GREEN" || fail "a key other than Esc ended the wait"
        press_keys Escape
    else
        id=$("$PROBE" find Calibration)
        "$PROBE" close "$id"
    fi
    expect_message "Calibration" "Calibration terminated by user." information space
    expect_exit_zero
    echo PASS
    exit 0
    ;;
windowed)
    start_program "device 0596:0102"
    wait_for "target 1 green" pixel-is 134 676 "$GREEN"
    socket=$(ls "$QAVEL_WAYLAND_DIR"/sway-ipc.*.sock 2>/dev/null | head -n 1)
    [ -n "$socket" ] || fail "sway has no IPC socket"
    gave_up="no longer covers the screen"
    # Taken out again whenever it comes back, until the program gives up (before its box).
    while kill -0 "$PROGRAM_PID" 2>/dev/null && ! grep -q "$gave_up" "$WORK/program.log"; do
        SWAYSOCK=$socket swaymsg "[pid=$PROGRAM_PID] fullscreen disable, floating enable, resize set 600 400" >/dev/null 2>&1 || true
        sleep 0.1
    done
    expect_message "Calibration" "Calibration terminated by user." information space
    expect_exit_zero
    grep -q "$gave_up" "$WORK/program.log" || fail "the program did not say why the run ended"
    mapfile -t seen < <(transcript_tail 2)
    [[ "${seen[0]}" == "set 03 ok 03 05 00 00 07 00 00 00"* ]] || fail "the run did not end as Esc ends it: ${seen[0]}"
    echo PASS
    exit 0
    ;;
notice-killed | box-killed)
    if on_wayland; then
        compositor_killed_with "$how"
        echo PASS
        exit 0
    fi
    if [ "$how" = notice-killed ]; then
        start_0300_until_notice
        xkill -id "$("$PROBE" find "$NOTICE")" >/dev/null || fail "xkill found no notice to kill"
        thaw
        expect_message "Calibration" "Calibration completed successfully." information Return
    else
        start_program "device 0596:0101"
        wait_for "the message box" window Error _QAVEL_MESSAGE_TEXT
        xkill -id "$("$PROBE" find Error _QAVEL_MESSAGE_TEXT)" >/dev/null || fail "no box to kill"
    fi
    expect_exit_zero
    grep -q "lost its X connection" "$WORK/program.log" || fail "the kill went unnoticed"
    echo PASS
    exit 0
    ;;
KILL | SEGV)
    ulimit -c 0  # the crash is the test's own: no core to keep
    mode_7="set 03 ok 03 05 00 00 07 00 00 00"
    case $model$when in
    0102 | 0102group-TERM | 0102group-HUP)
        # For a group signal, a job of its own (job control on): the program leads its own
        # process group, so that the signal reaches it and whatever it started, not this script.
        if [ -n "$when" ]; then set -m; fi
        start_program "device 0596:0102"
        set +m
        wait_for "target 1 green" pixel-is 134 676 "$GREEN"
        sends=("$mode_7") ;;
    0102write)
        # Every attempt at the page write refused: ten attempts, a second, to be killed in.
        start_program "device 0596:0102
touch -1536 -1536
touch 1536 1536
refuse set 5"
        freeze
        run_until_sent " set 05 72 fail " "the page write"
        sends=("$mode_7") ;;
    0300notice)
        # Once the save ("R") has gone out under the notice: the cleanup after the save's
        # second, and the end mode.
        start_0300_until_notice
        run_until_sent " set 09 64 ok 09 0a 03 00 00 00 00 00 01 52 0d " "the save under the notice"
        sends=("set 03 ok 03 05 00 00 0a 00 00 00" "$mode_7") ;;
    *) fail "no $how case for model $model ${when:+at $when}" ;;
    esac
    watcher=$(pgrep -P "$PROGRAM_PID") || fail "no guardian beside the program"
    [ "$(wc -w <<<"$watcher")" = 1 ] || fail "more than one child of the program: $watcher"
    [ "$(ps -o pgid= -p "$watcher")" != "$(ps -o pgid= -p "$PROGRAM_PID")" ] ||
        fail "the guardian is in the program's process group"
    # Stopped first, so that what the program itself sent is known.
    freeze
    sent=$(wc -l <"$TRANSCRIPT")
    if [[ $when == group-* ]]; then
        [ "$(ps -o pgid= -p "$PROGRAM_PID" | tr -d ' ')" = "$PROGRAM_PID" ] ||
            fail "the program does not lead its own process group"
        kill -s "${when#group-}" -- "-$PROGRAM_PID"
        # Held, not lost: the stopped program has it pending, and never gets to act on it.
        pending=$(sed -n 's/^ShdPnd:\s*//p' "/proc/$PROGRAM_PID/status")
        signal_bit=$((1 << ($(kill -l "${when#group-}") - 1)))
        (((16#$pending & signal_bit) != 0)) || fail "SIG${when#group-} is not pending in the program: $pending"
    fi
    kill -s "$how" "$PROGRAM_PID"
    [ "$how" = KILL ] || thaw
    expect_exit $([ "$how" = KILL ] && echo 137 || echo 139)
    deadline=$((SECONDS + WAIT_LIMIT))
    while [ -d "/proc/$watcher" ] && [ "$(awk '{ print $3 }' "/proc/$watcher/stat" 2>/dev/null)" != Z ]; do
        [ $SECONDS -lt $deadline ] || fail "the guardian $watcher is still there"
        sleep 0.1
    done
    [ $(grep -c ' set 05 72 ok ' "$TRANSCRIPT") = 0 ] || fail "a calibration page was written"
    mapfile -t seen < <(tail -n +$((sent + 1)) "$TRANSCRIPT" | cut -d' ' -f2,3,5-)
    [ ${#seen[@]} = ${#sends[@]} ] ||
        fail "the guardian made ${#seen[@]} transfers (${seen[*]:-none}), expected ${#sends[@]}"
    for ((k = 0; k < ${#sends[@]}; ++k)); do
        [[ "${seen[k]}" == "${sends[k]}"* ]] ||
            fail "the guardian's transfer $((k + 1)) is \"${seen[k]}\", expected \"${sends[k]}...\""
    done
    last_ms=$(sed -n "${sent}p" "$TRANSCRIPT" | cut -d' ' -f1)
    end_ms=$(tail -n 1 "$TRANSCRIPT" | cut -d' ' -f1)
    echo "the guardian's last transfer came $((end_ms - last_ms)) ms after the program's last"
    [ $((end_ms - last_ms)) -le 2000 ] || fail "the guardian took longer than 2 s"
    echo PASS
    exit 0
    ;;
TERM) status=143 ;;
HUP) status=129 ;;
INT) status=130 ;;
display-lost) status=0 ;;
*) fail "unknown way to stop the run: $how" ;;
esac

# The transfers that end the transcript, each a prefix of its line: what an Esc at that point
# sends, then CloseController's.
case $model$when in
0102)
    scenario="device 0596:0102"
    ending=("get 08 ok 08 00 00 00 00 00 00 00" "$MODE_7" "$MODE_7") ;;
0003)
    scenario="device 0596:0003"
    ending=("get 80 ok 80 00 00 01 00" "set 10 ok 10 12 01 00 00 00 00 00") ;;
0300)
    scenario="device 0596:0300
ascii-start"
    ending=("$R_FRAME" "$R_FRAME" "set 03 ok 03 05 00 00 0a 00 00 00" "$MODE_7") ;;
0102store)
    # The first page read takes its ten attempts, so the ending comes while the step runs.
    scenario="device 0596:0102
touch -1536 -1536
touch 1536 1536
refuse get 5 times=9"
    ending=("set 05 ok 05 01 00 00 01 00 1a 00" "$MODE_7" "$MODE_7") ;;
*) fail "no case for model $model ${when:+at $when}" ;;
esac

start_program "$scenario"
if [ "$when" = store ]; then
    deadline=$((SECONDS + WAIT_LIMIT))
    until grep -q " set 03 8 ok 03 02 " "$TRANSCRIPT" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "the store step never began"
        sleep 0.05
    done
else
    wait_for "target 1 green" pixel-is 134 676 "$GREEN"
fi
sent_after=$(wc -l <"$TRANSCRIPT")
started=$EPOCHREALTIME
if [ "$how" = display-lost ]; then
    qavel_stop_wayland
else
    kill -s "$how" "$PROGRAM_PID"
fi
expect_exit "$status"
echo "the program ended $(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s after the $how"

count=${#ending[@]}
mapfile -t seen < <(transcript_tail "$count")
for ((k = 0; k < count; ++k)); do
    [[ "${seen[k]:-}" == "${ending[k]}"* ]] ||
        fail "transfer $((k + 1)) of the last $count is \"${seen[k]:-}\", expected \"${ending[k]}...\""
done
if [ "$when" = store ]; then
    grep -n " set 05 72 ok " "$TRANSCRIPT" | cut -d: -f1 | awk -v n="$sent_after" '$1 <= n { exit 1 }' ||
        fail "the calibration page was written before the $how came"
fi
echo PASS
