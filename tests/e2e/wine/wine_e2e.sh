#!/usr/bin/env bash
# One end-to-end case of the Windows program under Wine against the simulator DLLs.
# usage: wine_e2e.sh ARCH WINDOWS_BUILD_DIR WORK_DIR CASE
# ARCH (x64 or x86) is the architecture of the build; the cases are the same for both. The
# "prefix" case makes the fresh Wine prefix that the other cases of both architectures share.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/lib.sh"

[ $# -eq 4 ] || { echo "usage: $0 ARCH WINDOWS_BUILD_DIR WORK_DIR CASE" >&2; exit 2; }
setup "$1" "$2" "$3" "$4"
start_xvfb

RAW_0102='device 0596:0102
touch -1536 -1536 rest=25
touch 1536 1536 rest=25'

# A grid whose correction, in 80-bit arithmetic instead of double precision, truncates to another
# integer on the way: the former 32-bit program stored 00 29 07 fe 02 6b 07 f4 here. The dy offsets
# of cell (3, 3) are -84, -60, 140 and -240.
RAW_0102_GRID='device 0596:0102
touch -1454 -453 rest=25
touch 1368 1644 rest=25
linearization 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 33 -42 -41 -30 0 0 0 0 0 0 -123 70 -124 -120'

# A scripted raw run that waits at target 2 for a touch that never comes.
RAW_WAITING='device 0596:0102
touch -1536 -1536 rest=3'

case_prefix() {
    rm -rf "$WINEPREFIX"
    qavel_wine_prefix "$CASE_DIR/wineboot.log" || fail "no fresh Wine prefix"
}

case_no_controller() {
    # A foreign device, an unsupported model and a supported one without feature values.
    start_program 'device 1234:5678
device 0596:0101
device 0596:0102 nofeatures'
    expect_message "Error" "Cannot find Qavel touch controller." "error"
    expect_equal "calibration window ever seen" "$(value calibration-window-seen "$MESSAGE")" "no"
    dismiss
    [ ! -s "$TRANSCRIPT" ] || fail "feature reports were exchanged: $(cat "$TRANSCRIPT")"
}

case_broken_scenario() {
    printf 'device 0596:0102\ntouch 10\n' >"$CASE_DIR/scenario.txt"
    local status=0
    (cd "$RUN_DIR" && QAVEL_SIM="$CASE_DIR/scenario.txt" WINEDLLOVERRIDES=$QAVEL_WINE_SIM_DLLS \
        timeout 120 "$QAVEL_WINE" qavel-calib.exe) >"$CASE_DIR/program.out" 2>"$CASE_DIR/program.err" || status=$?
    cat "$CASE_DIR/program.err"
    expect_equal "exit code" "$status" "2"
    grep -q "$CASE_DIR/scenario.txt:2:" "$CASE_DIR/program.err" || fail "stderr names no file and line"
}

# case_raw_0102 SCENARIO LIMITS: the whole run, its targets in order and the one calibration page
# it stores, with LIMITS in report bytes 8 to 15 and every byte it does not own kept.
case_raw_0102() {
    record_states "$CASE_DIR/states" &
    RECORDER_PID=$!
    start_program "$1
calibration-page 5a 5a 5a 5a 5a 5a 5a 5a 5a 5a 5a 5a 5a 5a 5a 5a 5a 5a 5a 5a 07 5a 5a 5a 5a 5a"
    expect_message "Calibration" "Calibration completed successfully." "information"
    touch "$CASE_DIR/states.stop"
    wait "$RECORDER_PID"
    RECORDER_PID=""
    screen "$CASE_DIR/message.png"
    log "target states seen: $(tr '\n' ' ' <"$CASE_DIR/states")"
    local seen
    seen=$(grep -E '^(t1|t2|stray)' "$CASE_DIR/states" | tr '\n' ' ') || true
    expect_equal "targets in order" "$seen" "t1-00FF00 t1-FF0000 t2-00FF00 t2-FF0000 "
    local writes
    writes=$(page_writes 01)
    [ "$(printf '%s\n' "$writes" | grep -c .)" = 1 ] || fail "expected one calibration-page write: $writes"
    log "calibration page written: $writes"
    expect_no_refusals
    local bytes=($writes)
    expect_equal "limits (report bytes 8 to 15)" "${bytes[*]:8:8}" "$2"
    expect_equal "orientation (report byte 28)" "${bytes[28]}" "00"
    expect_equal "kept byte 29" "${bytes[29]}" "5a"
    dismiss
}

case_raw_0100() {
    start_program 'device 0596:0100
touch -1536 -1536
touch 1536 1536
touch -1536 1536'
    expect_message "Calibration" "Calibration completed successfully." "information"
    [ "$(page_writes 01 | grep -c .)" = 1 ] || fail "no calibration-page write"
    expect_no_refusals
    dismiss
}

case_status_0003() {
    start_program 'device 0596:0003
status-touch
status-touch
status-touch'
    expect_message "Calibration" "Calibration completed successfully." "information"
    expect_no_refusals
    dismiss
}

case_status_0400() {
    start_program 'device 0596:0400
status-touch
status-touch
status-touch'
    expect_message "Calibration" "Calibration completed successfully." "information"
    expect_no_refusals
    dismiss
}

case_ascii_0300() {
    (inspect notice 240 >"$CASE_DIR/notice.txt") &
    local watcher=$!
    start_program 'device 0596:0300
ascii-start
ascii-touch
ascii-touch
ascii-touch'
    # Screenshot as soon as the notice has its texts, while it is still up.
    local end=$((SECONDS + 240))
    until grep -q '^above-calibration=' "$CASE_DIR/notice.txt" 2>/dev/null; do
        [ $SECONDS -lt $end ] || fail "the notice never appeared"
        sleep 0.05
    done
    # Screenshots until the notice is closed. The text may trail the caption by a moment when the
    # notice appears; once shown, it has to stay in every screenshot that still shows the notice.
    local l t r b shot=0 shown=0 caption text
    IFS=, read -r l t r b <<<"$(sed -n 's/^rect=//p' "$CASE_DIR/notice.txt")"
    while :; do
        [ $SECONDS -lt $end ] || fail "the notice was never closed"
        shot=$((shot + 1))
        screen "$CASE_DIR/notice-$shot.png"
        grep -q '^closed=' "$CASE_DIR/notice.txt" && break
        # The caption bar is not the white calibration window behind it: the notice is on screen.
        caption=$(convert "$CASE_DIR/notice-$shot.png" \
            -crop "$((r - l - 8))x16+$((l + 4))+$((t + 4))" +repage \
            -format '%[fx:mean < 0.9 ? 1 : 0]' info:)
        # Below the caption bar: the count of dark pixels and the box around them, the painted text.
        text=$(convert "$CASE_DIR/notice-$shot.png" \
            -crop "$((r - l - 8))x$((b - t - 30))+$((l + 4))+$((t + 26))" +repage \
            -colorspace gray -threshold 30% -format '%[fx:int(w*h*(1-mean))] %@' info:)
        log "screenshot $shot of the notice: caption bar $caption, dark pixels and their box $text"
        [ "$caption" = 1 ] || continue
        # Readable: a full line of dark pixels, not a fragment (the text is some 200 pixels wide).
        if awk -v dark="${text%% *}" -v box="${text#* }" \
            'BEGIN { split(box, a, /[x+]/); exit !(dark >= 200 && a[1] >= 150) }'; then
            [ $shown -gt 0 ] || cp "$CASE_DIR/notice-$shot.png" "$CASE_DIR/notice.png"
            shown=$((shown + 1))
        elif [ $shown -gt 0 ]; then
            fail "the notice lost its text while it was up (screenshot $shot)"
        fi
    done
    [ $shown -gt 0 ] || fail "the notice closed without its text ever being shown"
    log "the notice's text was readable in $shown screenshots"
    expect_message "Calibration" "Calibration completed successfully." "information"
    wait "$watcher" || true
    local notice
    notice=$(cat "$CASE_DIR/notice.txt")
    printf '%s\n' "$notice" | sed 's/^/    /'
    expect_equal "notice caption" "$(value caption "$notice")" "HID CALIBRATION WARNING"
    expect_equal "notice text" "$(value text "$notice")" "Saving data - please do not touch the screen"
    # The template's style; the window system adds only WS_CLIPSIBLINGS and DS_3DLOOK.
    expect_equal "notice style" "$(printf '0x%08X' $(( $(value style "$notice") & ~0x04000004 )))" "0x90C000C0"
    expect_equal "notice topmost" "$(value topmost "$notice")" "yes"
    expect_equal "notice above the calibration window" "$(value above-calibration "$notice")" "yes"
    expect_equal "desktop" "$(value desktop "$notice")" "0,0,$WIDTH,$HEIGHT"
    expect_no_refusals
    expect_equal "notice left" "$l" "$(( (WIDTH - (r - l)) / 2 ))"
    expect_equal "notice top" "$t" "$(( (HEIGHT - (b - t)) / 2 ))"
    dismiss
}

case_wide_caps() {
    # The golden run, on an interface whose descriptor adds a 130-byte feature report: every
    # transfer must go out at 130 bytes and reach the controller at its own length.
    local golden="$HERE/../../runs/model_0102_success"
    PROGRAM_WINEDEBUG=-all,+debugstr start_program "$(sed 's/^device 0596:0102$/device 0596:0102 extra-feature=0x20:130/' \
        "$golden.scenario")"
    grep -q '^device 0596:0102 extra-feature=0x20:130$' "$CASE_DIR/scenario.txt" || fail "no device line to widen"
    expect_message "Calibration" "Calibration completed successfully." "information"
    dismiss
    expect_no_refusals
    expect_equal "debug lines" "$(debug_lines)" ""
    cut -d' ' -f2- "$golden.transcript" >"$CASE_DIR/golden.txt"
    tr -d '\r' <"$TRANSCRIPT" | cut -d' ' -f2- >"$CASE_DIR/seen.txt"
    diff "$CASE_DIR/golden.txt" "$CASE_DIR/seen.txt" || fail "the transcript differs from $golden.transcript"
}

case_diagnostics() {
    PROGRAM_WINEDEBUG=-all,+debugstr start_program 'device 0596:0003
refuse set 0x10 times=2
refuse get 0x80 times=1 from=2
status-touch
status-touch
status-touch'
    expect_message "Calibration" "Calibration completed successfully." "information"
    dismiss
    debug_lines >"$CASE_DIR/debug.txt"
    cat "$CASE_DIR/debug.txt"
    expect_equal "one line per failed transfer" "$(cat "$CASE_DIR/debug.txt")" \
"qavel: set feature report 10, 8 bytes (72 passed): error 31 (General failure)
qavel: set feature report 10, 8 bytes (72 passed): error 31 (General failure)
qavel: get feature report 80, 20 bytes (72 passed): error 31 (General failure)"
}

abort_waiting_run() {
    start_program "$RAW_WAITING"
    wait_state t2-00FF00 240
    "$@"
    expect_message "Calibration" "Calibration terminated by user." "information"
    dismiss
}

press_escape() {
    xdotool key Escape
}

request_close() {
    local posted
    posted=$(inspect close-calibration) || fail "no calibration window to close"
}

case_abort_escape() {
    abort_waiting_run press_escape
}

case_abort_close() {
    abort_waiting_run request_close
}

case_end_session() {
    # Model 0x0102 waits at target 1; the session ends (inside the program's desktop, or the
    # messages reach none of its windows). The run ends as on Esc, the controller is closed, and
    # the program ends by itself: no message box is waiting to be dismissed.
    start_program 'device 0596:0102'
    wait_state t1-00FF00 240
    local started=$EPOCHREALTIME
    (cd "$RUN_DIR" && WINEDLLOVERRIDES= timeout 120 "$QAVEL_WINE" explorer "/desktop=$DESKTOP" wineboot.exe --end-session) \
        >"$CASE_DIR/wineboot.log" 2>&1 || fail "wineboot --end-session failed: $(cat "$CASE_DIR/wineboot.log")"
    wait_program_end
    log "the program ended $(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }') s after the session end began"
    local mode7="set 03 ok 03 05 00 00 07 00 00 00"
    expect_equal "the last transfers" "$(tail -n 3 "$TRANSCRIPT" | tr -d '\r' | cut -d' ' -f2,3,5-)" \
"get 08 ok 08 00 00 00 00 00 00 00
$mode7
$mode7"
}

case_terminated() {
    # TerminateProcess at target 1 of 0x0102, where the program can do nothing: its guardian,
    # the same program started again, sends the end mode within 2 s of the program's last
    # transfer by the transcript's clock, and ends with it.
    start_program 'device 0596:0102'
    wait_state t1-00FF00 240
    expect_equal "guardians beside the program" "$(guardians_in_prefix)" 1
    inspect terminate-calibration >/dev/null || fail "the calibration window's process was not ended"
    wait_program_end
    expect_equal "guardians left" "$(guardians_in_prefix)" 0
    expect_guardian_end_mode
}

case "$CASE" in
    prefix) case_prefix ;;
    no-controller) case_no_controller ;;
    broken-scenario) case_broken_scenario ;;
    raw-0102) case_raw_0102 "$RAW_0102" "00 01 07 fe 00 01 07 fe" ;;
    raw-0102-grid) case_raw_0102 "$RAW_0102_GRID" "00 29 07 fe 02 6a 07 f6" ;;
    raw-0100) case_raw_0100 ;;
    status-0003) case_status_0003 ;;
    status-0400) case_status_0400 ;;
    ascii-0300) case_ascii_0300 ;;
    abort-escape) case_abort_escape ;;
    abort-close) case_abort_close ;;
    end-session) case_end_session ;;
    terminated) case_terminated ;;
    wide-caps) case_wide_caps ;;
    diagnostics) case_diagnostics ;;
    *) fail "unknown case $CASE" ;;
esac
log "$CASE passed"
