# Shared steps of the end-to-end scripts: a private Xvfb, the real program with the simulator
# preloaded, and reading back what is on screen. Sourced; the script passes its three arguments.
# Nothing here depends on how fast the machine is: every wait polls up to a generous limit, and
# the program is stopped (SIGSTOP) while a screenshot is taken, so that nothing moves meanwhile.

set -u

PROGRAM=$1
PRELOAD=$2
PROBE=$3
WAIT_LIMIT=${QAVEL_E2E_WAIT_LIMIT:-120}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/qavel-e2e.XXXXXX")
XVFB_PID=
PROGRAM_PID=
TRANSCRIPT=$WORK/transcript.txt

cleanup() {
    if [ -n "$PROGRAM_PID" ] && kill -0 "$PROGRAM_PID" 2>/dev/null; then
        kill -CONT "$PROGRAM_PID" 2>/dev/null
        kill "$PROGRAM_PID" 2>/dev/null
        wait "$PROGRAM_PID" 2>/dev/null
    fi
    if [ -n "$XVFB_PID" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
    fi
    if [ "${QAVEL_E2E_KEEP:-0}" = 1 ]; then
        echo "kept $WORK" >&2
    else
        rm -rf "$WORK"
    fi
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    if [ -f "$TRANSCRIPT" ]; then
        echo "--- transcript (last lines)" >&2
        tail -n 5 "$TRANSCRIPT" >&2
    fi
    exit 1
}

# A display of its own. Xvfb's -displayfd is not enough where several test runs start servers at
# once: two of them were seen to come up on the same number. So take a random high number,
# start Xvfb on it, and keep it only if the server we started is the one that answers.
start_xvfb() {
    local attempt number
    for attempt in $(seq 1 20); do
        number=$((200 + RANDOM % 700))
        [ -e "/tmp/.X11-unix/X$number" ] && continue
        [ -e "/tmp/.X$number-lock" ] && continue
        Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
        XVFB_PID=$!
        local deadline=$((SECONDS + WAIT_LIMIT))
        while kill -0 "$XVFB_PID" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
            if DISPLAY=":$number" "$PROBE" pixel 0 0 >/dev/null 2>&1; then
                # A server already on that number makes ours exit at once; give it the chance.
                sleep 0.3
                if kill -0 "$XVFB_PID" 2>/dev/null; then
                    export DISPLAY=":$number"
                    echo "$DISPLAY" >"$WORK/display"
                    return 0
                fi
                break
            fi
            sleep 0.05
        done
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
        XVFB_PID=
    done
    fail "could not start Xvfb on a free display"
}

# Starts the program on a scenario given as text.
start_program() {
    printf '%s\n' "$1" >"$WORK/scenario.txt"
    QAVEL_SIM=$WORK/scenario.txt QAVEL_SIM_LOG=$TRANSCRIPT LD_PRELOAD=$PRELOAD \
        "$PROGRAM" >"$WORK/program.log" 2>&1 &
    PROGRAM_PID=$!
}

pixel_is() {  # X Y RRGGBB, read live from the server
    [ "$("$PROBE" pixel "$1" "$2")" = "$3" ]
}

window_exists() {
    "$PROBE" find "$1" >/dev/null 2>&1
}

# Waits on one connection of the probe until a condition holds on screen (see x11probe until).
wait_for() {  # WHAT CONDITION...
    local what=$1
    shift
    local code=0
    "$PROBE" until "$WAIT_LIMIT" "${PROGRAM_PID:-0}" "$@" || code=$?
    case $code in
    0) ;;
    1) fail "timed out waiting for $what" ;;
    3) fail "program ended while waiting for $what" ;;
    *) fail "cannot wait for $what (probe exit $code)" ;;
    esac
}

freeze() { kill -STOP "$PROGRAM_PID"; }
thaw() { kill -CONT "$PROGRAM_PID"; }

screenshot() {  # NAME -> path of the PNG
    local file=$WORK/$1.png
    import -window root "$file" || fail "screenshot $1"
    echo "$file"
}

# Colour of a screenshot's pixel as RRGGBB.
shot_pixel() {  # FILE X Y
    convert "$1" -format '%[hex:p{'"$2,$3"'}]' info: | cut -c1-6 | tr 'A-F' 'a-f'
}

expect_shot_pixel() {  # FILE X Y RRGGBB WHAT
    local got
    got=$(shot_pixel "$1" "$2" "$3")
    [ "$got" = "$4" ] || fail "$5: pixel ($2,$3) is $got, expected $4"
}

GREEN=00ff00
RED=ff0000
WHITE=ffffff
BLACK=000000

# A point of the target's disc that no line crosses, its centre, and two points just outside
# its box, for a box whose top-left corner is (L, T) (48 x 48 on 1024 x 768).
expect_target() {  # FILE L T COLOUR WHAT
    expect_shot_pixel "$1" $(($2 + 30)) $(($3 + 28)) "$4" "$5 disc"
    expect_shot_pixel "$1" $(($2 + 18)) $(($3 + 20)) "$4" "$5 disc"
    expect_shot_pixel "$1" $(($2 + 24)) $(($3 + 24)) "$BLACK" "$5 centre lines"
    expect_shot_pixel "$1" $(($2 - 3)) $(($3 + 24)) "$WHITE" "$5 left of the box"
    expect_shot_pixel "$1" $(($2 + 24)) $(($3 + 51)) "$WHITE" "$5 below the box"
}

expect_no_target() {  # FILE L T WHAT
    expect_shot_pixel "$1" $(($2 + 30)) $(($3 + 28)) "$WHITE" "$4"
    expect_shot_pixel "$1" $(($2 + 24)) $(($3 + 24)) "$WHITE" "$4"
}

# The outcome message, read back from the window system and from the screen, then dismissed.
expect_message() {  # CAPTION TEXT ICON(error|information) DISMISS(Return|space|Escape|KP_Enter|click)
    wait_for "the message box \"$1\"" window "$1" _QAVEL_MESSAGE_TEXT
    local id text icon
    id=$("$PROBE" find "$1" _QAVEL_MESSAGE_TEXT)
    text=$("$PROBE" prop "$id" _QAVEL_MESSAGE_TEXT)
    icon=$("$PROBE" prop "$id" _QAVEL_MESSAGE_ICON)
    [ "$text" = "$2" ] || fail "message text is \"$text\", expected \"$2\""
    [ "$icon" = "$3" ] || fail "message icon is \"$icon\", expected \"$3\""
    [ "$("$PROBE" count "$1" _QAVEL_MESSAGE_TEXT)" = 1 ] || fail "more than one message box"
    [ "$("$PROBE" count Calibration)" = "$([ "$1" = Calibration ] && echo 1 || echo 0)" ] ||
        fail "the calibration window is still up behind the message"

    # The icon is drawn in its colour: red for an error, blue for information.
    local x y w h colour
    read -r x y w h <<<"$("$PROBE" geometry "$id")"
    if [ "$3" = error ]; then colour=d32f2f; else colour=1565c0; fi
    wait_for "the message box's icon" pixel-is $((x + 22)) $((y + 32)) "$colour"
    local shot
    shot=$(screenshot message)
    expect_shot_pixel "$shot" $((x + 22)) $((y + 32)) "$colour" "message icon"

    case $4 in
    click)
        local bx by bw bh
        read -r bx by bw bh <<<"$("$PROBE" prop "$id" _QAVEL_MESSAGE_OK_BUTTON)"
        xdotool mousemove $((x + bx + bw / 2)) $((y + by + bh / 2)) click 1
        ;;
    *)
        xdotool key "$4"
        ;;
    esac
    # The program may end as soon as the box is gone, so its end is no failure here.
    "$PROBE" until "$WAIT_LIMIT" 0 no-window "$1" _QAVEL_MESSAGE_TEXT ||
        fail "the message box did not close"
}

expect_exit_zero() {
    local deadline=$((SECONDS + WAIT_LIMIT))
    while kill -0 "$PROGRAM_PID" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "program did not end"
        sleep 0.1
    done
    local code=0
    wait "$PROGRAM_PID" || code=$?
    PROGRAM_PID=
    [ "$code" = 0 ] || fail "exit code $code"
}

# Bytes of the last successful write of a report with the given id and length, one per line.
last_write() {  # ID LENGTH
    grep " set $1 $2 ok " "$TRANSCRIPT" | tail -n 1 | cut -d' ' -f6-
}

start_xvfb
