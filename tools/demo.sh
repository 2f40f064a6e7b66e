#!/usr/bin/env bash
# Builds the Linux program and runs it against the simulated controller, then prints the
# calibration page the program wrote. On a desktop (X11, or Wayland with XWayland for a scenario
# whose touches come from the mouse) the targets are clicked with the mouse. Without a desktop the
# program runs on a private X server against a scenario that touches by itself, and a picture of
# each target and of the outcome is saved in build/demo.
# Installs what it needs first, as the test command does (as root, through apt-get).
#   tools/demo.sh [SCENARIO]   (default: tools/demo-0102.scenario, without a desktop
#                               tools/demo-0102-touches.scenario)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/linux
pictures=$root/build/demo
headless=
[ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || headless=1
if [ -n "$headless" ]; then
    scenario=$(realpath "${1:-$root/tools/demo-0102-touches.scenario}")
else
    scenario=$(realpath "${1:-$root/tools/demo-0102.scenario}")
fi

# Not the test command's report: what the demo could not install is said here.
mkdir -p "$pictures"
QAVEL_INSTALL_REPORT=$pictures/install-report.txt
. "$root/tools/lib/install.sh"
. "$root/tools/lib/display.sh"

# The build of the linux preset (its tests are configured too, so GoogleTest), and without a
# desktop the private X server and what reads and drives it.
packages="cmake g++ make pkg-config $QAVEL_LIBRARIES"
[ -z "$headless" ] || packages+=" xvfb x11-utils xdotool imagemagick fonts-dejavu-core"
missing_packages() {
    local p
    for p in $packages; do
        qavel_installed "$p" || echo "$p"
    done
}
missing=$(missing_packages | tr '\n' ' ')
if [ -n "$missing" ]; then
    if [ "$(id -u)" != 0 ]; then
        echo "demo: it needs packages that are not installed; install them as root with: apt-get install ${missing% }" >&2
        exit 1
    fi
    QAVEL_GROUPS=(demo)
    QAVEL_GROUP_TITLE[demo]="the demo's build and display tools"
    QAVEL_GROUP_PACKAGES[demo]=$missing
    qavel_install "the demo runs no Windows program"
    missing=$(missing_packages | tr '\n' ' ')
    if [ -n "$missing" ]; then
        echo "demo: could not install ${missing% }: $(cut -f2 "$QAVEL_INSTALL_REPORT" | head -n 1)" >&2
        exit 1
    fi
fi

# The simulated controller's mouse-as-finger reads the X pointer, which sees only X windows: on
# a Wayland desktop such a demo runs the program on X11, through XWayland.
if grep -q '^touch-from pointer' "$scenario"; then
    if [ -n "$headless" ]; then
        echo "demo: $scenario takes its touches from the mouse, and there is no desktop here; run it" >&2
        echo "from a desktop session, or without a scenario to see the demo touch by itself" >&2
        exit 1
    fi
    if [ -n "${WAYLAND_DISPLAY:-}" ]; then
        if [ -z "${DISPLAY:-}" ]; then
            echo "demo: the simulated controller takes its touches from the X pointer, and this Wayland" >&2
            echo "desktop has no XWayland (DISPLAY is not set); run it where XWayland is on" >&2
            exit 1
        fi
        echo "demo: this is a Wayland desktop; the program runs on X11 through XWayland, where the"
        echo "simulated controller can follow the mouse."
        unset WAYLAND_DISPLAY
    fi
fi

cd "$root"
work=$(mktemp -d "${TMPDIR:-/tmp}/qavel-demo.XXXXXX")
transcript=$work/transcript
program_pid=
cleanup() {
    if [ -n "$program_pid" ]; then
        kill "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
    fi
    qavel_stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT
# Else a TERM would leave the private X server behind.
trap 'exit 143' TERM
echo "demo: building the program and the simulated controller in build/linux (the first time takes"
echo "a minute or two)..."
if ! { cmake --preset linux && cmake --build --preset linux -j2 --target qavel-calib qavel_sim_preload; } \
    >"$work/build.log" 2>&1; then
    tail -n 40 "$work/build.log" >&2
    echo "demo: the build failed" >&2
    exit 1
fi

run_program() {
    QAVEL_SIM=$scenario QAVEL_SIM_LOG=$transcript \
        LD_PRELOAD=$build/sim/preload/libqavel_sim_preload.so \
        "$build/src/platform/linux/qavel-calib"
}

# The top-level window that shows the program's message, if one is up.
message_window() {
    local id
    for id in $(xwininfo -root -children | awk '/^ +0x/ { print $1 }'); do
        if xprop -id "$id" _QAVEL_MESSAGE_TEXT 2>/dev/null | grep -q ' = '; then
            echo "$id"
            return
        fi
    done
}

# Whether a picture has a pixel of colour RRGGBB; with BOX, where they all lie (WxH+X+Y).
has_colour() {  # FILE RRGGBB [BOX-VARIABLE]
    local seen_ where_
    read -r seen_ where_ < <(convert "$1" -fill black +opaque "#$2" -format '%[fx:maxima] %@' info: 2>/dev/null)
    [ -z "${3:-}" ] || printf -v "$3" '%s' "$where_"
    [ "$seen_" = 1 ]
}

# Without a desktop: the program on a private X server, a picture of each new green target, then
# of the outcome box, which is then closed as a user would, with Return.
run_on_private_display() {
    qavel_start_xvfb "$work/xvfb.log" || exit 1
    run_program >"$work/program.log" 2>&1 &
    program_pid=$!
    rm -f "$pictures"/target-*.png "$pictures"/outcome.png
    echo "demo: no desktop here, so the program runs on a private X server ($DISPLAY) and the"
    echo "simulated controller touches each target by itself a few seconds after it appears."
    local shot=$work/screen.png targets=0 box last_box= window= deadline=$((SECONDS + 60))
    while kill -0 "$program_pid" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || { echo "demo: nothing new on the screen for 60 s" >&2; exit 1; }
        window=$(message_window)
        [ -z "$window" ] || break
        if import -window root "$shot" 2>/dev/null && has_colour "$shot" 00ff00 box &&
            [ "$box" != "$last_box" ]; then
            # Once it is drawn whole.
            sleep 0.3
            targets=$((targets + 1))
            import -window root "$pictures/target-$targets.png"
            echo "demo: target $targets is up: $pictures/target-$targets.png"
            last_box=$box
            deadline=$((SECONDS + 60))
        fi
        sleep 0.2
    done
    if [ -z "$window" ]; then
        local code=0
        wait "$program_pid" || code=$?
        program_pid=
        cat "$work/program.log" >&2
        echo "demo: the program ended (exit code $code) without showing its outcome" >&2
        exit 1
    fi
    # Until the box is painted: its icon is red for an error, blue for information.
    deadline=$((SECONDS + 10))
    until import -window root "$shot" 2>/dev/null && { has_colour "$shot" 1565c0 || has_colour "$shot" d32f2f; }; do
        [ $SECONDS -lt $deadline ] || break
        sleep 0.2
    done
    import -window root "$pictures/outcome.png"
    echo "demo: the program says \"$(xprop -id "$window" _QAVEL_MESSAGE_TEXT | sed 's/^[^"]*"//; s/"$//')\": $pictures/outcome.png"
    xdotool key Return
    deadline=$((SECONDS + 30))
    while kill -0 "$program_pid" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || { echo "demo: the program did not end once its message was closed" >&2; exit 1; }
        sleep 0.2
    done
    wait "$program_pid" || true
    program_pid=
}

if [ -n "$headless" ]; then
    run_on_private_display
else
    echo "Click each green target with the first mouse button; a short click is enough (the simulated"
    echo "controller makes every click a touch as long as it needs). Esc stops."
    run_program
fi

# The calibration page is the report 5 whose header names page 1 (model 0x0100 also clears page 2).
page=$(grep ' set 05 72 ok 05 01 00 00 01 ' "$transcript" | tail -n 1 | cut -d' ' -f6- || true)
if [ -z "$page" ]; then
    echo "No calibration page was written."
    exit 0
fi
read -r -a b <<<"$page"
echo "Calibration page written (report 5, 72 bytes):"
echo "  $page"
echo "  x limits: 0x${b[8]}${b[9]} .. 0x${b[10]}${b[11]}   y limits: 0x${b[12]}${b[13]} .. 0x${b[14]}${b[15]}   orientation: ${b[28]}"
