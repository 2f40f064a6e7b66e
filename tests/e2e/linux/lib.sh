#!/usr/bin/env bash
# Shared steps of the end-to-end scripts: a private display, the real program with the simulator
# preloaded, and reading back what is on screen. Sourced by scripts running under
# set -euo pipefail; the script passes its three arguments.
# The display is QAVEL_E2E_DISPLAY: xvfb (the default: the X11 program on a private Xvfb), or a
# Wayland compositor without XWayland: weston-kiosk, sway, mutter (GNOME's), kwin (KDE's),
# kwin-scale2 (KDE's at an output scale of 2) or labwc (Debian 13 on; skipped with apt's answer
# where the release has none) (tools/lib/display.sh). On Wayland the program
# names no windows of its own: what is shown is read from screenshots, the message's text with
# tesseract, and the windows as the compositor has them from its own list where it has one
# (weston's scene graph, sway's tree, a KWin script), from the title bar libdecor draws on mutter
# and the one labwc draws (whose windows wlrctl finds by title).
# Nothing here depends on how fast the machine is: every wait polls up to a generous limit, and
# the program is stopped (SIGSTOP) while a screenshot is taken, so that nothing moves meanwhile.

. "$(dirname "${BASH_SOURCE[0]}")/../../../tools/lib/display.sh"

PROGRAM=$1
PRELOAD=$2
PROBE=$3
WAIT_LIMIT=${QAVEL_E2E_WAIT_LIMIT:-120}
SCREEN_KIND=${QAVEL_E2E_DISPLAY:-xvfb}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/qavel-e2e.XXXXXX")
PROGRAM_PID=
TRANSCRIPT=$WORK/transcript.txt

# A command that fails under set -e ends the script without a word: the last one is noted, and
# named at the end unless fail gave the reason.
FAILED_COMMAND=
FAIL_SAID=
set -E
trap 'FAILED_COMMAND="$? from ${BASH_SOURCE[0]##*/}:$LINENO: $BASH_COMMAND"' ERR

cleanup() {  # [STATUS the script ends with, when a trap of its own ran first]
    local status=${1:-$?}
    if [ "$status" != 0 ] && [ -z "$FAIL_SAID" ]; then
        echo "FAIL: the script ended with status $status; the last command that failed: ${FAILED_COMMAND:-none}" >&2
    fi
    if [ -n "$PROGRAM_PID" ] && kill -0 "$PROGRAM_PID" 2>/dev/null; then
        kill -CONT "$PROGRAM_PID" 2>/dev/null || true
        kill "$PROGRAM_PID" 2>/dev/null || true
        wait "$PROGRAM_PID" 2>/dev/null || true
    fi
    qavel_stop_wayland
    if [ "${QAVEL_E2E_KEEP:-0}" = 1 ]; then
        echo "kept $WORK" >&2
    else
        rm -rf "$WORK"
    fi
}
trap cleanup EXIT

fail() {
    FAIL_SAID=1
    echo "FAIL: $*" >&2
    if [ -f "$TRANSCRIPT" ]; then
        echo "--- transcript (last lines)" >&2
        tail -n 5 "$TRANSCRIPT" >&2
    fi
    # What the program said of itself, without the protocol log that may be interleaved.
    if [ -n "${WORK:-}" ] && grep -qs '^qavel-calib:' "$WORK/program.log"; then
        echo "--- the program's own messages (last lines)" >&2
        grep '^qavel-calib:' "$WORK/program.log" | tail -n 5 >&2
    fi
    exit 1
}

on_wayland() {
    [ "$SCREEN_KIND" != xvfb ]
}

# sway and labwc: wlroots' screenshots (grim) and virtual keyboard (wtype).
on_wlroots() {
    [ "$SCREEN_KIND" = sway ] || [ "$SCREEN_KIND" = labwc ]
}

# weston's kiosk shell and gnome-kiosk show every window full screen, the box too.
box_fills_screen() {
    [ "$SCREEN_KIND" = weston-kiosk ] || [ "$SCREEN_KIND" = gnome-kiosk ]
}

# Whether the compositor lists the program's windows with their places (wayland_windows):
# mutter has none without gnome-shell; gnome-kiosk's (gnomeprobe) and labwc's (wlrctl) have no
# places.
lists_windows() {
    case $SCREEN_KIND in mutter | gnome-kiosk | labwc) return 1 ;; esac
}

on_kwin() {
    [ "$SCREEN_KIND" = kwin ] || [ "$SCREEN_KIND" = kwin-scale2 ]
}

# Starts the program on a scenario given as text, on the test's display and no other; its
# standard error goes to program.log, or to descriptor FD when given.
start_program() {  # SCENARIO [FD]
    printf '%s\n' "$1" >"$WORK/scenario.txt"
    local other=WAYLAND_DISPLAY
    on_wayland && other=DISPLAY
    # With SIGINT and SIGPIPE as a desktop leaves them: a script's background job starts with
    # SIGINT ignored, and whatever runs the tests may ignore SIGPIPE.
    QAVEL_SIM=$WORK/scenario.txt QAVEL_SIM_LOG=$TRANSCRIPT LD_PRELOAD=$PRELOAD \
        env -u "$other" --default-signal=INT,PIPE "$PROGRAM" >"$WORK/program.log" 2>&"${2:-1}" &
    PROGRAM_PID=$!
}

NOTICE="HID CALIBRATION WARNING"

# The notice as the compositor told the program it placed it: "X Y WIDTH HEIGHT" on its parent
# window (from the program's protocol log LOG, whose objects read interface@id, or interface#id
# with Debian 13's libwayland: its popup's configure); nothing unless the popup is a child of
# the calibration window, has had something to show, and is still there.
notice_popup_from_log() {  # LOG
    awk '/-> xdg_wm_base[@#][0-9]+\.get_xdg_surface\(new id xdg_surface[@#]/ {
            match($0, /xdg_surface[@#][0-9]+/); xs = substr($0, RSTART, RLENGTH)
            match($0, /wl_surface[@#][0-9]+/); surface_of[xs] = substr($0, RSTART, RLENGTH) }
        /-> xdg_surface[@#][0-9]+\.get_toplevel\(/ { match($0, /xdg_surface[@#][0-9]+/); toplevel = substr($0, RSTART, RLENGTH) }
        /-> xdg_surface[@#][0-9]+\.get_popup\(new id xdg_popup[@#][0-9]+, xdg_surface[@#]/ {
            match($0, /xdg_surface[@#][0-9]+/); xs = substr($0, RSTART, RLENGTH)
            rest = substr($0, RSTART + RLENGTH); match(rest, /xdg_popup[@#][0-9]+/); popup = substr(rest, RSTART, RLENGTH)
            rest = substr(rest, RSTART + RLENGTH); match(rest, /xdg_surface[@#][0-9]+/)
            parent_ok = substr(rest, RSTART, RLENGTH) == toplevel
            popup_surface = surface_of[xs]; placed = ""; shown = 0; next }
        popup != "" && index($0, " " popup ".configure(") {
            placed = $0; sub(/.*configure\(/, "", placed); sub(/\).*/, "", placed); gsub(/,/, "", placed); next }
        popup != "" && placed != "" && index($0, "-> " popup_surface ".attach(wl_buffer") { shown = 1; next }
        popup != "" && index($0, "-> " popup ".destroy(") { popup = "" }
        END { if (popup != "" && parent_ok && placed != "" && shown) print placed }' "$1"
}

notice_drawn() {
    [ -n "$(notice_popup_from_log "$WORK/program.log")" ]
}

# A whole model 0x0300 run, stopped (SIGSTOP) as soon as its notice is up (on Wayland: its
# caption bar's navy is on screen); thaw goes on. On Wayland the program logs its protocol
# (WAYLAND_DEBUG) to program.log: what the compositor told it of the notice is read there.
start_0300_until_notice() {
    local scenario="device 0596:0300
ascii-start
ascii-touch
ascii-touch
ascii-touch"
    if on_wayland; then
        # Stopped as soon as it has drawn its notice (as its log says), then photographed: a
        # compositor's screenshots may be too slow to catch the notice in a run left going.
        WAYLAND_DEBUG=client start_program "$scenario"
        freeze
        run_until "the notice" notice_drawn
        wait_for "the notice" colour 000080
    else
        start_program "$scenario"
        wait_for "the notice" window "$NOTICE"
        freeze
    fi
}

press_keys() {  # KEY... (X keysym names)
    if on_wlroots; then
        wtype $(printf -- '-k %s ' "$@")
    elif on_kwin; then
        qavel_kwin_input key "$@" || fail "keys $* on KWin"
    else
        xdotool key "$@"
    fi
}

pixel_is() {  # X Y RRGGBB, read live from the screen
    if on_wayland; then
        [ "$(shot_pixel "$(screenshot live)" "$1" "$2")" = "$3" ]
    else
        [ "$("$PROBE" pixel "$1" "$2")" = "$3" ]
    fi
}

# Whether a screenshot has a pixel of the colour anywhere.
has_colour() {  # FILE RRGGBB
    [ "$(convert "$1" -fill black +opaque "#$2" -fill white -opaque "#$2" -format '%[fx:maxima]' info:)" != 0 ]
}

# Text on one line, as wrapped text reads: a line that ends in a hyphen joins the next.
one_line() {
    tr -s ' \n\t' ' ' | sed 's/- /-/g'
}

# What tesseract reads on a screenshot, on one line.
screen_text() {  # FILE [PAGE-SEGMENTATION-MODE]
    convert "$1" -colorspace Gray -resize 300% "$WORK/ocr.png"
    tesseract "$WORK/ocr.png" - ${2:+--psm "$2"} 2>/dev/null | one_line
}

# Text reduced to what OCR reads the same whatever its version and the fonts: letters and digits
# only, in lower case, each group of shapes it confuses as one (q g, o 0, l 1 i |, s 5, rn m).
# Line breaks, hyphenation and punctuation drop out; every other letter and digit still counts.
ocr_key() {
    tr 'A-Z' 'a-z' | tr 'q01i|5' 'gollls' | tr -cd 'a-z0-9' | sed 's/m/rn/g'
}

# Whether OCR text holds the expected text, as ocr_key reduces both.
ocr_holds() {  # OCR-TEXT EXPECTED
    local want
    want=$(ocr_key <<<"$2")
    [ -n "$want" ] && [[ "$(ocr_key <<<"$1")" == *"$want"* ]]
}

# Waits on screenshots until a condition holds: pixel-is X Y RRGGBB, colour RRGGBB (anywhere),
# no-colour RRGGBB; when PID is not 0, its end fails the wait.
screen_until() {  # PID WHAT CONDITION...
    local pid=$1 what=$2 shot deadline=$((SECONDS + WAIT_LIMIT))
    shift 2
    for (( ; ; )); do
        shot=$(screenshot live)
        shot_holds "$shot" "$@" && return 0
        [ "$pid" = 0 ] || kill -0 "$pid" 2>/dev/null || fail "program ended while waiting for $what"
        [ $SECONDS -lt $deadline ] || fail "timed out waiting for $what"
        sleep 0.1
    done
}

window_exists() {
    "$PROBE" find "$1" >/dev/null 2>&1
}

# Waits on one connection of the probe until a condition holds on screen (see x11probe until;
# on Wayland, see screen_until).
wait_for() {  # WHAT CONDITION...
    local what=$1
    shift
    if on_wayland; then
        screen_until "${PROGRAM_PID:-0}" "$what" "$@"
        return
    fi
    local code=0
    "$PROBE" until "$WAIT_LIMIT" "${PROGRAM_PID:-0}" "$@" || code=$?
    case $code in
    0) ;;
    1) fail "timed out waiting for $what" ;;
    3) fail "program ended while waiting for $what" ;;
    *) fail "cannot wait for $what (probe exit $code)" ;;
    esac
}

# Returns once every thread has stopped: a thread inside a system call (a transcript line being
# written) stops only when the call ends, after kill has returned.
freeze() {
    kill -STOP "$PROGRAM_PID" 2>/dev/null || fail "the program ended before it could be stopped"
    local deadline=$((SECONDS + 5)) task state running
    while :; do
        running=0
        for task in /proc/"$PROGRAM_PID"/task/*/stat; do
            # A thread that ended since the glob leaves no file to read, and nothing to wait for.
            state=$(sed 's/.*) //' "$task" 2>/dev/null | cut -d' ' -f1) || state=''
            case $state in T | t | Z | X | '') ;; *) running=1 ;; esac
        done
        [ $running = 0 ] && return
        [ $SECONDS -lt $deadline ] || fail "the program did not stop"
        sleep 0.01
    done
}
thaw() { kill -CONT "$PROGRAM_PID" 2>/dev/null || fail "the program ended while stopped"; }

# Lets the stopped program run in short slices (SLICE seconds, 0.02 unless set) until COMMAND
# succeeds, and leaves it stopped: however slow this machine, within a slice of that moment.
run_until() {  # WHAT COMMAND...
    local what=$1 deadline=$((SECONDS + WAIT_LIMIT))
    shift
    until "$@"; do
        [ $SECONDS -lt $deadline ] || fail "timed out waiting for $what"
        thaw
        sleep "${SLICE:-0.02}"
        freeze
    done
}

# The same, until the transcript holds TEXT.
run_until_sent() {  # TEXT WHAT
    run_until "$2" grep -qs -- "$1" "$TRANSCRIPT"
}

screenshot() {  # NAME -> path of the PNG
    local file=$WORK/$1.png
    if on_wlroots; then
        grim "$file" || fail "screenshot $1"
    elif on_kwin && [ -n "$QAVEL_KWIN_NESTED" ]; then
        import -window root "$file" || fail "screenshot $1"
    elif on_kwin; then
        # In logical pixels, as the checks place things.
        DBUS_SESSION_BUS_ADDRESS=$QAVEL_WAYLAND_BUS "$QAVEL_KWINPROBE" shot "$file" || fail "screenshot $1"
    else
        import -window root "$file" || fail "screenshot $1"
    fi
    echo "$file"
}

# KWin only: a screenshot in the output's own pixels (twice the logical ones each way on
# kwin-scale2).
screenshot_native() {  # NAME -> path of the PNG
    local file=$WORK/$1.png
    DBUS_SESSION_BUS_ADDRESS=$QAVEL_WAYLAND_BUS "$QAVEL_KWINPROBE" shot "$file" native || fail "screenshot $1"
    echo "$file"
}

# Surfaces the program has drawn so far, as its protocol log (WAYLAND_DEBUG=client) shows.
drawings() {
    local n
    n=$(grep -c -- '-> wl_surface[@#][0-9]*\.commit()' "$WORK/program.log" 2>/dev/null) || true
    echo "${n:-0}"
}

drawn_since() {  # COUNT
    [ "$(drawings)" -gt "$1" ]
}

# The same, or true once called SLICES times more since RAN was set to 0 (run_until's slices).
drawn_or_ran() {  # COUNT SLICES
    RAN=$((RAN + 1))
    drawn_since "$1" || [ "$RAN" -gt "$2" ]
}

# Waits until a condition holds, then takes screenshot NAME with the program stopped; the PNG's
# path is left in SHOT. With KEEP_STOPPED=1 the program stays stopped for the caller to look
# further at the same moment (then thaw). On Wayland the program must have been started with
# WAYLAND_DEBUG=client.
screenshot_when() {  # NAME WHAT CONDITION...
    local name=$1 what=$2 deadline=$((SECONDS + WAIT_LIMIT)) seen
    shift 2
    for (( ; ; )); do
        on_wayland || wait_for "$what" "$@"
        kill -0 "$PROGRAM_PID" 2>/dev/null || fail "program ended while waiting for $what"
        freeze
        SHOT=$(screenshot "$name")
        if shot_holds "$SHOT" "$@"; then
            [ "${KEEP_STOPPED:-}" = 1 ] || thaw
            return
        fi
        [ $SECONDS -lt $deadline ] || fail "timed out waiting for $what"
        if on_wayland; then
            # With the program stopped, a screen that still changes is the compositor bringing
            # its last drawing in (gnome-kiosk fades a full-screen window in over 3 s): look
            # again, the program held where it is, until the screen is still.
            sleep 0.1
            [ "$(compare -metric AE "$SHOT" "$(screenshot "$name-again")" null: 2>&1)" = 0 ] || continue
            # A compositor's screenshot on a loaded machine may outlast the shortest moment (a
            # red target, 500 ms), so the next look waits for the program's next drawing, letting
            # it run in short slices; it has sent it once its loop has gone round. Or for a second
            # of its running.
            seen=$(drawings)
            RAN=0
            SLICE=0.1 run_until "$what" drawn_or_ran "$seen" 10
            thaw
            sleep 0.02
        else
            thaw
            sleep 0.1
        fi
    done
}

# Whether a screenshot shows CONDITION: pixel-is X Y RRGGBB, colour RRGGBB, no-colour RRGGBB.
shot_holds() {  # FILE CONDITION...
    local shot=$1
    shift
    case $1 in
    pixel-is) [ "$(shot_pixel "$shot" "$2" "$3")" = "$4" ] ;;
    colour) has_colour "$shot" "$2" ;;
    no-colour) ! has_colour "$shot" "$2" ;;
    *) fail "cannot read $1 from a screenshot" ;;
    esac
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

# Feature reads of the run so far; none before the transcript exists.
gets() {
    local n
    n=$(grep -c ' get ' "$TRANSCRIPT" 2>/dev/null) || true
    echo "${n:-0}"
}

# Clicks a target for 50 ms through the real pointer (touch-from pointer), with the program
# stopped so that only the simulator's events can see the click; waits until it turns red.
click_target() {  # NUMBER CENTRE-X CENTRE-Y
    wait_for "target $1 green" pixel-is $(($2 + 6)) $(($3 + 4)) "$GREEN"
    # A raw capture first waits for a released screen, and a touch that reaches it is not taken;
    # as with a finger, click once the controller is being polled for the touch.
    local seen deadline=$((SECONDS + WAIT_LIMIT))
    seen=$(gets)
    until [ "$(gets)" -ge $((seen + 2)) ]; do
        [ $SECONDS -lt $deadline ] || fail "the controller is not polled for target $1"
        sleep 0.05
    done
    freeze
    xdotool mousemove "$2" "$3" mousedown 1
    sleep 0.05
    xdotool mouseup 1
    thaw
    wait_for "target $1 red after a quick click" pixel-is $(($2 + 6)) $(($3 + 4)) "$RED"
}

# A window of the program says whose it is, as a desktop entry and a window manager look for it.
expect_identity() {  # WINDOW-ID WHAT
    [ "$("$PROBE" prop "$1" WM_CLASS)" = "qavel-calib QavelCalibHID" ] || fail "$2: WM_CLASS"
    [ "$("$PROBE" prop "$1" _NET_WM_PID)" = "$PROGRAM_PID" ] || fail "$2: _NET_WM_PID"
    [ "$("$PROBE" prop "$1" WM_CLIENT_MACHINE)" = "$(hostname)" ] || fail "$2: WM_CLIENT_MACHINE"
}

# A method of KWin's D-Bus API, through gdbus; its answer as gdbus prints it.
kwin_call() {  # OBJECT METHOD ARGS...
    local object=$1 method=$2
    shift 2
    gdbus call --address "$QAVEL_WAYLAND_BUS" --dest org.kde.KWin --object-path "$object" \
        --method "$method" "$@"
}

# The windows of process PID as KWin has them (not its popups, as the other compositors' lists),
# one "X Y WIDTH HEIGHT CAPTION" line each: a KWin script lists its windows (their buffers'
# places: the content without the title bar KWin draws) and prints them to KWin's log, between
# lines that carry a token of this call.
kwin_windows() {  # PID
    local token=$RANDOM$RANDOM script id deadline=$((SECONDS + 30))
    script=$WORK/windows-$token.js
    cat >"$script" <<EOF
var list = workspace.windowList ? workspace.windowList() : workspace.clientList();
for (var i = 0; i < list.length; ++i) {
    var w = list[i], g = w.bufferGeometry;
    if (w.popupWindow) continue;
    print("qavel-window $token " + w.pid + " " + g.x + " " + g.y + " " + g.width + " " + g.height + " " + w.caption);
}
print("qavel-windows-end $token");
EOF
    id=$(kwin_call /Scripting org.kde.kwin.Scripting.loadScript "$script" "qavel-$token") ||
        fail "KWin did not load the script that lists its windows"
    id=$(tr -cd '0-9' <<<"$id")
    # KWin 6 names a script's object /Scripting/ScriptN, KWin 5 /N.
    kwin_call "/Scripting/Script$id" org.kde.kwin.Script.run >/dev/null 2>&1 ||
        kwin_call "/$id" org.kde.kwin.Script.run >/dev/null || fail "KWin did not run the script that lists its windows"
    until grep -q "qavel-windows-end $token" "$QAVEL_WAYLAND_LOG"; do
        [ $SECONDS -lt $deadline ] || fail "KWin's script listed no windows (log: $QAVEL_WAYLAND_LOG)"
        sleep 0.05
    done
    kwin_call /Scripting org.kde.kwin.Scripting.unloadScript "qavel-$token" >/dev/null || true
    awk -v token="$token" -v pid="$1" '
        { at = index($0, "qavel-window " token " ") }
        at && split(substr($0, at), f, " ") >= 7 && f[3] == pid {
            caption = substr($0, at); for (k = 1; k <= 7; ++k) sub(/^[^ ]* /, "", caption)
            printf "%d %d %d %d %s\n", f[4] + 0.5, f[5] + 0.5, f[6] + 0.5, f[7] + 0.5, caption
        }' "$QAVEL_WAYLAND_LOG"
}

# What the compositor reports of the windows on screen, saved to FILE: sway's tree, weston's
# scene graph (weston --debug), the program's windows as a KWin script lists them, or
# gnome-kiosk's windows (its only client is the program) as "WIDTH HEIGHT TITLE" lines, without
# places; mutter (without gnome-shell) has no such list, and its report is empty.
# wayland_windows and wayland_popups read it.
wayland_report() {  # FILE
    if on_kwin; then
        kwin_windows "$PROGRAM_PID" >"$1"
    elif [ "$SCREEN_KIND" = gnome-kiosk ]; then
        DBUS_SESSION_BUS_ADDRESS=$QAVEL_WAYLAND_BUS "$QAVEL_GNOMEPROBE" windows >"$1" ||
            fail "gnome-kiosk listed no windows"
    elif ! lists_windows; then
        : >"$1"
    elif [ "$SCREEN_KIND" = sway ]; then
        local socket
        socket=$(ls "$QAVEL_WAYLAND_DIR"/sway-ipc.*.sock 2>/dev/null | head -n 1)
        [ -n "$socket" ] || fail "sway has no IPC socket in $QAVEL_WAYLAND_DIR"
        SWAYSOCK=$socket swaymsg -r -t get_tree >"$1" || fail "swaymsg get_tree"
    else
        weston-debug scene-graph >"$1" 2>/dev/null || true
    fi
}

# Weston's views of the desktop's windows in a scene graph, top first, one "PID ROLE X Y WIDTH
# HEIGHT TITLE" line each (ROLE xdg_toplevel or xdg_popup; a popup has no title).
weston_views() {  # REPORT
    awk '/View [0-9]+ \(role xdg_(toplevel|popup), PID [0-9]+,/ {
            role = $0; sub(/.*\(role /, "", role); sub(/,.*/, "", role)
            pid = $0; sub(/.*, PID /, "", pid); sub(/,.*/, "", pid)
            title = ""
            if (role == "xdg_toplevel") { title = $0; sub(/.*top-level window \x27/, "", title); sub(/\x27 of .*/, "", title) }
            view = 1; next }
        view && /position: / { gsub(/[(),>-]/, " "); print pid, role, $2, $3, $4 - $2, $5 - $3, title; view = 0 }' "$1"
}

# The program's windows as the compositor has them, one "X Y WIDTH HEIGHT TITLE" line each (the
# content's place on screen; none on mutter): see wayland_report. From a saved report when
# given, else as they are now.
wayland_windows() {  # [REPORT]
    local report=${1:-}
    if [ -z "$report" ]; then
        report=$WORK/windows-now.txt
        wayland_report "$report"
    fi
    if on_kwin || ! lists_windows; then
        cat "$report"
    elif [ "$SCREEN_KIND" = sway ]; then
        awk -v pid="$PROGRAM_PID" '
            { match($0, /^ */); indent = RLENGTH }
            /"(rect|window_rect)": \{/ { key = $1; gsub(/[":]/, "", key); at = indent; next }
            key != "" && indent == at && /^ *\}/ { key = ""; next }
            key != "" { name = $1; gsub(/[":]/, "", name); value = $2; sub(/,$/, "", value)
                        part[at, key, name] = value; next }
            /^ *"name": / { title[indent] = substr($0, indent + 10); sub(/",?$/, "", title[indent]) }
            $0 ~ "^ *\"pid\": " pid ",?$" {
                print part[indent, "rect", "x"] + part[indent, "window_rect", "x"],
                      part[indent, "rect", "y"] + part[indent, "window_rect", "y"],
                      part[indent, "window_rect", "width"], part[indent, "window_rect", "height"],
                      title[indent]
            }' "$report"
    else
        weston_views "$report" | awk -v pid="$PROGRAM_PID" '$1 == pid && $2 == "xdg_toplevel" {
            $1 = ""; $2 = ""; sub(/^  /, ""); print }'
    fi
}

# The program's popups (the notice) as weston has them in a saved scene graph, one "X Y WIDTH
# HEIGHT" line each. The others list no popups: nothing there.
wayland_popups() {  # REPORT
    [ "$SCREEN_KIND" = weston-kiosk ] || return 0
    weston_views "$1" | awk -v pid="$PROGRAM_PID" '$1 == pid && $2 == "xdg_popup" { print $3, $4, $5, $6 }'
}

# Waits for the outcome box on Wayland: its COLOUR on screen, or a second window of the program
# as the compositor has them (the calibration window never closed: the box may be behind it).
# Then takes the screenshot message.png with the program stopped, and the compositor's report
# of that moment (message-windows.txt, see wayland_report).
wayland_message_up() {  # WHAT COLOUR
    local deadline=$((SECONDS + WAIT_LIMIT)) shot
    for (( ; ; )); do
        shot=$(screenshot live)
        has_colour "$shot" "$2" && break
        [ "$(wayland_windows | grep -c .)" -lt 2 ] || break
        kill -0 "$PROGRAM_PID" 2>/dev/null || fail "program ended while waiting for $1"
        [ $SECONDS -lt $deadline ] || fail "timed out waiting for $1"
        sleep 0.1
    done
    freeze
    MESSAGE_SHOT=$(screenshot message)
    wayland_report "$WORK/message-windows.txt"
    thaw
}

# Where the box's window is not its face (a kiosk shows it full screen): every pixel of the
# icon's colour makes one disc 32 pixels across, whose centre lies 28 to the left of the text and
# level with its first line.
expect_icon_beside_text() {  # FILE COLOUR
    local w h x y cx cy text_x text_y
    read -r w h x y <<<"$(convert "$1" -fill black +opaque "#$2" -fill white -opaque "#$2" -trim \
        -format '%w %h %X %Y' info:)"
    [ "$w" -ge 30 ] && [ "$w" -le 32 ] && [ "$h" = "$w" ] ||
        fail "the icon's colour covers ${w}x$h pixels at $x,$y, not one disc of 32"
    cx=$((x + w / 2))
    cy=$((y + h / 2))
    # The text's ink: dark, right of the disc, on the rows beside it. Dark, not black: how many
    # of its antialiased pixels are pure black depends on the face (Noto Sans, which KDE's
    # packages bring, has few where DejaVu Sans had many).
    read -r text_x text_y <<<"$(convert "$1" -crop "$((${QAVEL_SCREEN%x*} - cx - 16))x48+$((cx + 16))+$((cy - 24))" \
        +repage -colorspace Gray -threshold 50% -trim -format '%X %Y' info:)"
    text_x=$((cx + 16 + text_x))
    text_y=$((cy - 24 + text_y))
    [ $((text_x - cx)) -ge 27 ] && [ $((text_x - cx)) -le 31 ] && [ $((cy - text_y)) -ge 2 ] &&
        [ $((cy - text_y)) -le 18 ] ||
        fail "the icon (centre $cx,$cy) is not beside the text (from $text_x,$text_y)"
}

# The message box where the compositor lists no windows with their places: its face is the one
# rectangle of the box's grey on screen, with a title bar right above it. On mutter libdecor's
# cairo plugin draws that bar (24 pixels, white on black, the buttons in its last 96 pixels; the
# plugin fades the title's end to grey near them, which a level brings back to white for
# tesseract); on labwc the compositor does (26 pixels of its theme's e1dedb, dark text between
# its icon and its three buttons). Sets x y w h (the face) and title (as tesseract reads it) of
# the caller.
titled_message_window() {  # FILE
    local corner bar=080706 high=24 left=0 right=96 look=(-level 0,50% -negate)
    [ "$SCREEN_KIND" != labwc ] || { bar=e1dedb; high=26; left=28; right=80; look=(); }
    read -r w h x y <<<"$(convert "$1" -fill black +opaque "#f0f0f0" -fill white -opaque "#f0f0f0" -trim \
        -format '%w %h %X %Y' info: | tr -d +)"
    for corner in "$x $y" "$((x + w - 1)) $y" "$x $((y + h - 1))" "$((x + w - 1)) $((y + h - 1))"; do
        [ "$(shot_pixel "$1" $corner)" = f0f0f0 ] || fail "the message box's grey is not one rectangle (${w}x$h at $x,$y)"
    done
    [ "$y" -ge "$high" ] && [ "$(shot_pixel "$1" "$x" $((y - 1)))" = "$bar" ] ||
        fail "the message box at $x,$y has no title bar of $SCREEN_KIND's kind above it"
    convert "$1" -crop "$((w - left - right))x$high+$((x + left))+$((y - high))" +repage -colorspace Gray \
        "${look[@]}" -resize 300% "$WORK/title.png"
    title=$(tesseract "$WORK/title.png" - 2>/dev/null | one_line)
}

# The outcome message on Wayland, read from the screen and from the compositor: the box the
# program's only window as the compositor has them (so the calibration window is gone: the box's
# face may fill the screen, as on the kiosks, and hide whatever is behind it), its caption as
# the box's title there (where windows have no places, read from the title bar libdecor draws),
# the text through tesseract, the icon in its colour where it lies in the box. A click goes to
# where OK lies below an icon beside one line of text, centred in the box, and so does a touch
# (KWin only); sway has no pointer, and gnome-kiosk passes the X server's buttons on but not its
# pointer's motion, so there a click is Return.
expect_wayland_message() {  # CAPTION TEXT COLOUR DISMISS
    wayland_message_up "the message box \"$2\"" "$3"
    local shot=$MESSAGE_SHOT text windows x y w h title
    windows=$(wayland_windows "$WORK/message-windows.txt")
    case $(grep -c . <<<"$windows"):$SCREEN_KIND in
    1:* | 0:mutter | 0:labwc) ;;
    0:*) fail "$SCREEN_KIND shows no window of the program, though the message box's colour is on screen" ;;
    *:*) fail "the calibration window is still up behind the message: $SCREEN_KIND shows the program's windows \"$(tr '\n' ';' <<<"$windows")\", expected the message box alone" ;;
    esac
    # Only the kiosks fill the screen with the box.
    box_fills_screen || [ "$(shot_pixel "$shot" 2 2)" != "$WHITE" ] ||
        fail "the calibration window is still up behind the message (white beside the box)"
    # Some versions of tesseract read a box's lines out of order beside its icon; read as one
    # block of text, they come in order.
    text=$(screen_text "$MESSAGE_SHOT")
    ocr_holds "$text" "$2" || text=$(screen_text "$MESSAGE_SHOT" 6)
    ocr_holds "$text" "$2" || fail "the screen reads \"$text\", not \"$(one_line <<<"$2")\""
    if [ "$SCREEN_KIND" = gnome-kiosk ]; then
        title=$(cut -d' ' -f3- <<<"$windows")
        [ "$title" = "$1" ] || fail "the message box's caption is \"$title\", expected \"$1\""
    elif ! lists_windows; then
        # What libdecor draws is the client's own, but it is the title the program gave its box.
        titled_message_window "$shot"
        [ "$(ocr_key <<<"$title")" = "$(ocr_key <<<"$1")" ] ||
            fail "the message box's title bar reads \"$title\", expected \"$1\""
        # labwc names its windows: the box is one of the program's, under its caption.
        [ "$SCREEN_KIND" != labwc ] || wlrctl toplevel find app_id:qavel-calib "title:$1" ||
            fail "labwc has no window of the program titled \"$1\""
    else
        read -r x y w h title <<<"$windows"
        [ "$title" = "$1" ] || fail "the message box's caption is \"$title\", expected \"$1\""
    fi
    if box_fills_screen; then
        expect_icon_beside_text "$shot" "$3"
    else
        expect_shot_pixel "$shot" $((x + 22)) $((y + 32)) "$3" "message icon in the box at $x,$y (${w}x$h)"
    fi
    shift
    local dismiss=$3 top
    top=$(convert "$shot" -fill black +opaque "#$2" -fill white -opaque "#$2" -trim -format '%Y' info:)
    top=${top#+}
    case $dismiss:$SCREEN_KIND in
    click:weston-kiosk) xdotool mousemove $((${QAVEL_SCREEN%x*} / 2)) $((top + 61)) click 1 ;;
    click:mutter) xdotool mousemove $((x + w / 2)) $((top + 61)) click 1 ;;
    click:labwc) wlrctl pointer move -99999 -99999 && wlrctl pointer move $((x + w / 2)) $((top + 61)) &&
        wlrctl pointer click || fail "a click on OK" ;;
    click:kwin*) qavel_kwin_input click $((x + w / 2)) $((top + 61)) || fail "a click on OK" ;;
    touch:kwin*) qavel_kwin_input touch $((x + w / 2)) $((top + 61)) || fail "a touch on OK" ;;
    touch:*) fail "no touch screen on $SCREEN_KIND" ;;
    click:*) press_keys Return ;;
    *) press_keys "$dismiss" ;;
    esac
    screen_until 0 "the message box to close" no-colour "$2"
}

# The outcome message, read back from the window system and from the screen, then dismissed.
expect_message() {  # CAPTION TEXT ICON(error|information) DISMISS(Return|space|Escape|KP_Enter|click)
    if on_wayland; then
        expect_wayland_message "$1" "$2" "$([ "$3" = error ] && echo d32f2f || echo 1565c0)" "$4"
        return
    fi
    wait_for "the message box \"$1\"" window "$1" _QAVEL_MESSAGE_TEXT
    local id text icon
    id=$("$PROBE" find "$1" _QAVEL_MESSAGE_TEXT)
    text=$("$PROBE" prop "$id" _QAVEL_MESSAGE_TEXT)
    icon=$("$PROBE" prop "$id" _QAVEL_MESSAGE_ICON)
    [ "$text" = "$2" ] || fail "message text is \"$text\", expected \"$2\""
    [ "$icon" = "$3" ] || fail "message icon is \"$icon\", expected \"$3\""
    expect_identity "$id" "message box"
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
        press_keys "$4"
        ;;
    esac
    # The program may end as soon as the box is gone, so its end is no failure here.
    "$PROBE" until "$WAIT_LIMIT" 0 no-window "$1" _QAVEL_MESSAGE_TEXT ||
        fail "the message box did not close"
}

# Waits for the program to end by itself; its exit status must be CODE.
expect_exit() {  # CODE
    local deadline=$((SECONDS + WAIT_LIMIT))
    while kill -0 "$PROGRAM_PID" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "program did not end"
        sleep 0.1
    done
    local code=0
    wait "$PROGRAM_PID" || code=$?
    PROGRAM_PID=
    [ "$code" = "$1" ] || fail "exit code $code, expected $1"
}

expect_exit_zero() {
    expect_exit 0
}

# The last N transfers: direction, report id, result and bytes, one a line.
transcript_tail() {  # N
    tail -n "$1" "$TRANSCRIPT" | cut -d' ' -f2,3,5-
}

# Bytes of the last successful write of a report with the given id and length, one per line.
last_write() {  # ID LENGTH
    { grep " set $1 $2 ok " "$TRANSCRIPT" || true; } | tail -n 1 | cut -d' ' -f6-
}

if on_wayland; then
    # Debian 12 has neither of these.
    case $SCREEN_KIND in labwc | gnome-kiosk)
        if ! command -v "$SCREEN_KIND" >/dev/null && reason=$(qavel_not_packaged "$SCREEN_KIND"); then
            qavel_skip "$SCREEN_KIND is not packaged for this release: $reason"
        fi
        ;;
    kwin-scale2)
        # KWin 6 gives screenshots only when it composites with OpenGL, on a render node; without
        # one it runs nested (see qavel_start_wayland), where it makes no true scale-2 output.
        kwin_version=$(dpkg-query -W -f '${Version}' kwin-wayland 2>/dev/null || true)
        if [ -n "$kwin_version" ] && [[ $kwin_version != *:5.* ]] && ! ls /dev/dri/renderD* >/dev/null 2>&1; then
            qavel_skip "KWin $kwin_version gives screenshots of a scaled output only with OpenGL on a render node, and this machine has none (no /dev/dri/renderD*)"
        fi
        ;;
    esac
    qavel_require tesseract-ocr tesseract || fail "no tesseract"
    qavel_start_wayland "$SCREEN_KIND" "$WORK/compositor.log" || fail "no $SCREEN_KIND compositor"
else
    qavel_start_xvfb "$WORK/xvfb.log" || fail "no display"
fi
echo "${DISPLAY:-} ${WAYLAND_DISPLAY:-}" >"$WORK/display"
