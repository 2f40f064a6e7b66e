#!/usr/bin/env bash
# Shared by the Wine end-to-end cases: one Xvfb per case, the program on a 1024 x 768 Wine
# virtual desktop with the simulator DLLs, the window inspector in the same prefix.
# Sourced by wine_e2e.sh, which runs under set -euo pipefail.

. "$(dirname "${BASH_SOURCE[0]}")/../../../tools/lib/display.sh"

WIDTH=${QAVEL_SCREEN%x*}
HEIGHT=${QAVEL_SCREEN#*x}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Each line says how far into the case it was written, so that a slow step shows where it was.
log() {
    echo "--- ${SECONDS}s $*"
}

# setup ARCH WINDOWS_BUILD WORK CASE: paths, fresh case folder, staged binaries of the build of
# ARCH (x64 or x86), cleanup on exit. Both architectures share one prefix, with its 32-bit part.
setup() {
    ARCH=$1
    WINDOWS_BUILD=$2
    WORK=$3
    CASE=$4
    if [ "$ARCH" = x86 ] && [ -n "${QAVEL_X86_SKIP:-}" ]; then
        qavel_skip "$QAVEL_X86_SKIP"
    fi
    qavel_require wine64 "$QAVEL_WINE" x11-apps xwd imagemagick import ||
        fail "the machine lacks what this case needs"
    [ "$ARCH" = x64 ] || qavel_require wine32:i386 /usr/lib/wine/wine ||
        fail "the machine runs 32-bit x86 programs but lacks Wine's 32-bit part"
    qavel_wine_env "$WORK/prefix"
    unset QAVEL_SIM QAVEL_SIM_LOG
    CASE_DIR="$WORK/cases/$ARCH/$CASE"
    RUN_DIR="$CASE_DIR/run"
    DESKTOP="qavel-$ARCH-$CASE"
    PROGRAM_PID=""
    RECORDER_PID=""
    TRANSCRIPT=""
    rm -rf "$CASE_DIR"
    mkdir -p "$RUN_DIR"
    qavel_wine_stage "$WINDOWS_BUILD" "$RUN_DIR" inspect || fail "cannot stage the Windows build"
    # A build of the other architecture would pass every case and test nothing of this one.
    expect_equal "architecture of the staged program" "$(qavel_pe_arch "$RUN_DIR/qavel-calib.exe")" "$ARCH"
    if [ "$ARCH" = x86 ] && [ "$CASE" != prefix ] && [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
        fail "the prefix has no 32-bit part (syswow64): install wine32 and make the prefix again"
    fi
    trap cleanup EXIT
}

cleanup() {
    local status=$?
    qavel_wine_stop
    if [ -n "$PROGRAM_PID" ]; then kill "$PROGRAM_PID" 2>/dev/null || true; fi
    # A recorder left behind would poll forever and keep the test's output open.
    if [ -n "$RECORDER_PID" ]; then kill "$RECORDER_PID" 2>/dev/null || true; fi
    qavel_stop_xvfb
    # A case that failed midway may still have a step in the background (a state recorder).
    kill $(jobs -p) 2>/dev/null || true
    exit $status
}

start_xvfb() {
    qavel_start_xvfb "$CASE_DIR/xvfb.log" || fail "Xvfb did not start"
    log "Xvfb on $DISPLAY"
}

# start_program SCENARIO_TEXT: the program on its own virtual desktop, with the transcript.
# PROGRAM_WINEDEBUG, when set, replaces the quiet WINEDEBUG for the program alone.
start_program() {
    printf '%s\n' "$1" >"$CASE_DIR/scenario.txt"
    TRANSCRIPT="$CASE_DIR/transcript.log"
    rm -f "$TRANSCRIPT"
    WINEDEBUG="${PROGRAM_WINEDEBUG:-$WINEDEBUG}" \
        qavel_wine_program "$RUN_DIR" "$DESKTOP" "$CASE_DIR/scenario.txt" "$TRANSCRIPT" \
        >"$CASE_DIR/program.out" 2>&1 &
    PROGRAM_PID=$!
}

# inspect ARGS...: the window inspector on the program's desktop; its output, one key=value a line.
inspect() {
    qavel_wine_inspect "$RUN_DIR" "$CASE_DIR" "$DESKTOP" "$@"
}

# value KEY TEXT: the value of key=value in TEXT.
value() {
    printf '%s\n' "$2" | sed -n "s/^$1=//p" | head -n1
}

expect_equal() {
    [ "$2" = "$3" ] || fail "$1: expected '$3', got '$2'"
}

# expect_message CAPTION TEXT ICON: waits for the outcome message and reads it back.
expect_message() {
    MESSAGE=$(inspect message 240) || true
    log "message read back"
    printf '%s\n' "$MESSAGE" | sed 's/^/    /'
    expect_equal "message caption" "$(value caption "$MESSAGE")" "$1"
    expect_equal "message text" "$(value text "$MESSAGE")" "$2"
    expect_equal "message icon" "$(value icon "$MESSAGE")" "$3"
    expect_equal "calibration window gone before the message" "$(value calibration-window-open "$MESSAGE")" "no"
    expect_equal "message boxes shown" "$(value dialogs "$MESSAGE")" "1"
}

# expect_no_refusals: no transfer of the run failed (the strict hid.dll logs its refusals too).
expect_no_refusals() {
    local failed
    failed=$(awk '$5 != "ok"' "$TRANSCRIPT")
    [ -z "$failed" ] || fail "transfers failed: $(printf '%s\n' "$failed" | head -n3)"
}

# debug_lines: the program's OutputDebugStringA texts (run it with PROGRAM_WINEDEBUG=-all,+debugstr).
debug_lines() {
    sed -n 's/^.*OutputDebugStringA "\(.*\)\\n"\r*$/\1/p' "$CASE_DIR/program.out"
}

# dismiss: presses OK and waits for the program and its desktop to end.
dismiss() {
    local pressed
    pressed=$(inspect press-ok) || fail "no message box to dismiss"
    wait_program_end
}

# Whether the program still runs in our prefix: Wine 10's desktop, the process started as
# PROGRAM_PID, may end before the program it started has made its closing transfers.
program_in_prefix() {
    local pid
    for pid in $(pgrep -f 'qavel-calib\.exe' || true); do
        grep -qzxF "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && return 0
    done
    return 1
}

wait_program_end() {
    local i
    for i in $(seq 1 600); do
        if ! kill -0 "$PROGRAM_PID" 2>/dev/null && ! program_in_prefix; then
            PROGRAM_PID=""
            return 0
        fi
        sleep 0.1
    done
    fail "the program did not end after its message was dismissed"
}

# screen PNG: a screenshot of the whole Xvfb screen.
screen() {
    import -window root "$1"
}

# probe PNG|xwd:- X1 Y1 X2 Y2: hex colours at two points, near two corners, at the left and the top
# edge, and the box around everything not white but the screen's top row and left column.
# A maximized window's one-pixel border lies off screen, as on Windows, and its client area
# begins at the screen's corner; Wine 10 draws a window larger than the screen from its own
# corner instead, so there the border shows along the top and left edges and the client area
# begins one pixel in.
probe() {
    convert "$1" -format "%[hex:p{$2,$3}] %[hex:p{$4,$5}] %[hex:p{3,3}] %[hex:p{1020,764}] %[hex:p{0,3}] %[hex:p{3,0}] " \
        -write info:- -fill white -draw "rectangle 0,0 $((WIDTH - 1)),0" -draw "rectangle 0,0 0,$((HEIGHT - 1))" \
        -format '%@\n' info:
}

# target_state PROBE_LINE: which target is shown and in what colour, from a probe of the two disc
# sample points (136,675) and (904,99): "t1-00FF00", "t2-FF0000", "blank", "stray ..." or "none"
# when the calibration window does not cover the screen. The boxes are the client area's, moved
# by where it begins on the screen.
target_state() {
    printf '%s\n' "$1" | awk '
        function within(x, y, w, h, l, t, r, b) {
            l += dx; r += dx; t += dy; b += dy
            return x >= l - 2 && y >= t - 2 && x + w <= r + 2 && y + h <= b + 2 && w >= r - l - 2 && h >= b - t - 2
        }
        {
            if ($3 != "FFFFFF" || $4 != "FFFFFF") { print "none"; next }
            dx = $5 != "FFFFFF"; dy = $6 != "FFFFFF"
            split($7, a, /[x+]/); w = a[1]; h = a[2]; x = a[3]; y = a[4]
            if (w <= 1 && h <= 1) { print "blank"; next }
            if (within(x, y, w, h, 104, 648, 152, 696)) { print "t1-" $1; next }
            if (within(x, y, w, h, 872, 72, 920, 120)) { print "t2-" $2; next }
            print "stray " $7
        }'
}

# wait_state STATE SECONDS: polls screenshots until the target state is STATE.
wait_state() {
    local end=$((SECONDS + $2)) state=""
    while [ $SECONDS -lt $end ]; do
        state=$(target_state "$(xwd -root -silent | probe xwd:- 136 675 904 99 2>/dev/null)")
        [ "$state" = "$1" ] && return 0
        sleep 0.2
    done
    fail "waited for target state $1; last seen: $state"
}

# record_states FILE: until FILE.stop exists, appends each change of the target state to FILE.
record_states() {
    local file=$1 last="" state
    : >"$file"
    while [ ! -e "$file.stop" ]; do
        state=$(target_state "$(xwd -root -silent | probe xwd:- 136 675 904 99 2>/dev/null)" 2>/dev/null) || state=""
        if [ -n "$state" ] && [ "$state" != "$last" ]; then
            echo "$state" >>"$file"
            case $state in t1-*|t2-*|stray*) [ -e "$CASE_DIR/$state.png" ] || screen "$CASE_DIR/${state// /_}.png" ;; esac
            last=$state
        fi
    done
}

# The data bytes of the transcript's writes of report 5 whose page selector (byte 4) is PAGE.
page_writes() {
    awk -v page="$1" '$2 == "set" && $3 == "05" && $5 == "ok" && $10 == page { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' "$TRANSCRIPT"
}

# Guardians of our runs, by the command line the program gives them.
guardians_in_prefix() {
    local pid count=0
    for pid in $(pgrep -f -- '--qavel-guardian-of-a-calibration' || true); do
        grep -qzxF "WINEPREFIX=$WINEPREFIX" "/proc/$pid/environ" 2>/dev/null && count=$((count + 1))
    done
    echo $count
}

# After a 0x0102 run was ended at target 1 where it could do nothing: the transcript ends with the
# program's last poll and the guardian's end mode, within 2 s of it by the transcript's clock.
expect_guardian_end_mode() {
    local last before
    last=$(tail -n 1 "$TRANSCRIPT" | tr -d '\r')
    before=$(tail -n 2 "$TRANSCRIPT" | head -n 1 | tr -d '\r')
    expect_equal "the last two transfers" "$(printf '%s\n%s' "$before" "$last" | cut -d' ' -f2,3,5-)" \
"get 08 ok 08 00 00 00 00 00 00 00
set 03 ok 03 05 00 00 07 00 00 00"
    log "the end mode came $((${last%% *} - ${before%% *})) ms after the program's last transfer"
    [ $((${last%% *} - ${before%% *})) -le 2000 ] || fail "the guardian took longer than 2 s"
}
