#!/usr/bin/env bash
# Starting a private X server and running the Windows program under Wine, for every test and tool
# that needs a screen. Sourced, not run; safe under `set -euo pipefail`. No function here exits
# its caller: each says what went wrong on standard error and returns non-zero.

. "$(dirname "${BASH_SOURCE[0]}")/require.sh"

QAVEL_SCREEN=${QAVEL_SCREEN:-1024x768}
QAVEL_XVFB_PID=

# When process PID started (in clock ticks since boot), so that a reused number is not taken for it.
qavel_started() {  # PID
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    set -- ${stat##*) }
    echo "${20}"
}

# Ends PID (TERM, then KILL after 5 s) once the shell that calls this has ended, however it ended:
# no trap runs on SIGKILL, which is how ctest ends a case at its time-out. The watcher leaves the
# shell's process tree at once, so that the kill of that tree does not take it too.
qavel_end_with_us() {  # PID
    local owner=$BASHPID pid=$1 owner_start start
    owner_start=$(qavel_started "$owner") && start=$(qavel_started "$pid") || return 0
    ( (
        while [ "$(qavel_started "$owner")" = "$owner_start" ]; do
            [ "$(qavel_started "$pid")" = "$start" ] || exit 0
            sleep 1
        done
        [ "$(qavel_started "$pid")" = "$start" ] || exit 0
        kill "$pid"
        sleep 5
        [ "$(qavel_started "$pid")" != "$start" ] || kill -KILL "$pid"
    ) </dev/null >/dev/null 2>&1 & )
}

# Whether a server answers on display NUMBER.
qavel_display_answers() {  # NUMBER
    DISPLAY=":$1" xdpyinfo >/dev/null 2>&1
}

# Whether the Xvfb we started (QAVEL_XVFB_PID) came up and is the server on NUMBER. Waits up to
# 60 s for it to answer. A server already on that number makes ours exit at once (a lock or a
# listening socket of the number is taken), so ours must still be alive a moment after something
# answers, and the lock file must name it.
qavel_xvfb_is_ours() {  # NUMBER
    local number=$1 deadline=$((SECONDS + 60)) owner
    while kill -0 "$QAVEL_XVFB_PID" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
        if qavel_display_answers "$number"; then
            sleep 0.3
            kill -0 "$QAVEL_XVFB_PID" 2>/dev/null || return 1
            owner=$(tr -d ' \n' <"/tmp/.X$number-lock" 2>/dev/null) || owner=
            [ "$owner" = "$QAVEL_XVFB_PID" ]
            return
        fi
        sleep 0.05
    done
    return 1
}

# Starts a private Xvfb of QAVEL_SCREEN at 24 bits on a free display and exports DISPLAY.
# Xvfb's -displayfd alone is not enough where several test runs start servers at once: two of
# them were seen to come up on the same number. So a random high number is tried, and kept only
# if the server we started is the one that answers there.
qavel_start_xvfb() {  # [LOG]
    local log=${1:-/dev/null} attempt number
    qavel_require xvfb Xvfb x11-utils xdpyinfo || return 1
    for attempt in $(seq 1 20); do
        number=$((200 + RANDOM % 700))
        [ -e "/tmp/.X11-unix/X$number" ] && continue
        [ -e "/tmp/.X$number-lock" ] && continue
        Xvfb ":$number" -screen 0 "${QAVEL_SCREEN}x24" -nolisten tcp >"$log" 2>&1 &
        QAVEL_XVFB_PID=$!
        qavel_end_with_us "$QAVEL_XVFB_PID"
        if qavel_xvfb_is_ours "$number"; then
            export DISPLAY=":$number"
            return 0
        fi
        qavel_stop_xvfb
    done
    echo "could not start Xvfb on a free display (log: $log)" >&2
    return 1
}

# Stops the Xvfb started by qavel_start_xvfb, if any.
qavel_stop_xvfb() {
    if [ -n "$QAVEL_XVFB_PID" ]; then
        kill "$QAVEL_XVFB_PID" 2>/dev/null || true
        wait "$QAVEL_XVFB_PID" 2>/dev/null || true
        QAVEL_XVFB_PID=
    fi
}

# A Wayland compositor without XWayland, for the tests and the benchmark. KIND:
# - weston-kiosk: weston's kiosk shell (every window full screen) on its X11 backend, inside a
#   private Xvfb (qavel_start_xvfb), which shows what weston draws and passes keys and clicks on to
#   it: read and drive it there, through DISPLAY; its scene graph (weston-debug, enabled by
#   --debug) names the windows;
# - sway: sway on its headless backend; as root it runs as nobody (wlroots refuses root). Read it
#   with grim, type into it with wtype. It has no input device of its own: a wtype that waits for
#   a day keeps a keyboard on its seat, so that clients have theirs before any key comes.
# - labwc: like sway, as root too, its output sized by wlr-randr; wlrctl moves and clicks its
#   pointer and finds its windows by title (no places);
# - gnome-kiosk: like mutter, but it serves no client without a system bus: its session bus
#   stands in. It lists its windows (no places) through gnomeprobe (QAVEL_GNOMEPROBE, built with
#   the tests);
# - mutter: GNOME's compositor nested (--nested) in a private Xvfb, like weston-kiosk: read it and
#   type into it there. It draws no title bars (libdecor's plugin in the client does) and has no
#   API that lists windows without gnome-shell;
# - kwin, kwin-scale2: KDE's compositor on its virtual backend (software GL), its output
#   QAVEL_SCREEN in logical pixels, at scale 1 or 2 (then twice as many pixels each way).
#   Screenshots come from its ScreenShot2 D-Bus API and keys, clicks and touches from its fake
#   input protocol, both through kwinprobe (QAVEL_KWINPROBE, built with the tests), whose input
#   device runs as long as KWin (qavel_kwin_input sends it commands); its windows are listed by a
#   KWin script (org.kde.kwin.Scripting), which prints them to KWin's log.
# mutter and KWin each get a session bus of their own (QAVEL_WAYLAND_BUS), which is not exported:
# the program under test does not see it, the harness passes it to its own tools.
# Exports XDG_RUNTIME_DIR and WAYLAND_DISPLAY for its clients; start those with DISPLAY unset, or
# they could reach the Xvfb instead.
QAVEL_WAYLAND_PID=
QAVEL_WAYLAND_DIR=
QAVEL_WAYLAND_KEYBOARD_PID=
QAVEL_WAYLAND_BUS=
QAVEL_WAYLAND_BUS_PID=
QAVEL_WAYLAND_LOG=
QAVEL_KWIN_IN=
QAVEL_KWIN_NESTED=
QAVEL_KWIN_OUT=

# A session bus of the compositor's own, in QAVEL_WAYLAND_DIR: sets QAVEL_WAYLAND_BUS.
qavel_start_wayland_bus() {  # LOG
    local deadline=$((SECONDS + 30))
    qavel_require dbus-daemon dbus-daemon || return 1
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$QAVEL_WAYLAND_DIR/bus" >"$1" 2>&1 &
    QAVEL_WAYLAND_BUS_PID=$!
    qavel_end_with_us "$QAVEL_WAYLAND_BUS_PID"
    until [ -S "$QAVEL_WAYLAND_DIR/bus" ]; do
        if ! kill -0 "$QAVEL_WAYLAND_BUS_PID" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
            echo "the compositor's session bus did not start (log: $1)" >&2
            return 1
        fi
        sleep 0.05
    done
    QAVEL_WAYLAND_BUS=unix:path=$QAVEL_WAYLAND_DIR/bus
}

# The kwin_wayland to run: Debian gives /usr/bin/kwin_wayland a file capability
# (cap_sys_resource) that a sandbox may refuse to execute (EPERM); a plain copy of it runs.
qavel_kwin_binary() {
    if /usr/bin/kwin_wayland --version >/dev/null 2>&1; then
        echo /usr/bin/kwin_wayland
        return
    fi
    cp /usr/bin/kwin_wayland "$QAVEL_WAYLAND_DIR/kwin_wayland" && echo "$QAVEL_WAYLAND_DIR/kwin_wayland"
}

# Sends one command to kwinprobe's input device (see kwinprobe.cpp) and waits for its answer.
qavel_kwin_input() {  # COMMAND...
    local answer
    [ -n "$QAVEL_KWIN_IN" ] || { echo "no KWin input device" >&2; return 1; }
    echo "$*" >&"$QAVEL_KWIN_IN"
    read -r -t 30 -u "$QAVEL_KWIN_OUT" answer || { echo "KWin's input device did not answer" >&2; return 1; }
    [ "$answer" = ok ] || { echo "KWin's input device: $answer" >&2; return 1; }
}

qavel_start_wayland() {  # KIND [LOG]
    local kind=$1 log=${2:-/dev/null} deadline socket=
    local width=${QAVEL_SCREEN%x*} height=${QAVEL_SCREEN#*x}
    QAVEL_WAYLAND_DIR=$(mktemp -d "${TMPDIR:-/tmp}/qavel-wayland.XXXXXX") || return 1
    chmod 700 "$QAVEL_WAYLAND_DIR"
    case $kind in
    weston-kiosk)
        qavel_require weston weston || return 1
        qavel_start_xvfb "$log.xvfb" || return 1
        XDG_RUNTIME_DIR=$QAVEL_WAYLAND_DIR weston --debug --backend=x11-backend.so --use-pixman \
            --shell=kiosk-shell.so --width="$width" --height="$height" --socket=qavel >"$log" 2>&1 &
        QAVEL_WAYLAND_PID=$!
        socket=qavel
        ;;
    sway)
        qavel_require sway sway grim grim wtype wtype || return 1
        printf 'output * mode %s\nxwayland disable\n' "$QAVEL_SCREEN" >"$QAVEL_WAYLAND_DIR/config"
        local run_as=()
        if [ "$(id -u)" = 0 ]; then
            chown -R nobody "$QAVEL_WAYLAND_DIR"
            run_as=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
        fi
        env -i PATH="$PATH" HOME="$QAVEL_WAYLAND_DIR" XDG_RUNTIME_DIR="$QAVEL_WAYLAND_DIR" \
            WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
            "${run_as[@]}" sway -c "$QAVEL_WAYLAND_DIR/config" >"$log" 2>&1 &
        QAVEL_WAYLAND_PID=$!
        ;;
    labwc)
        qavel_require labwc labwc grim grim wtype wtype wlr-randr wlr-randr wlrctl wlrctl || return 1
        env -i PATH="$PATH" HOME="$QAVEL_WAYLAND_DIR" XDG_RUNTIME_DIR="$QAVEL_WAYLAND_DIR" \
            WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
            labwc >"$log" 2>&1 &
        QAVEL_WAYLAND_PID=$!
        ;;
    mutter | gnome-kiosk)
        qavel_require "$kind" "$kind" || return 1
        [ "$kind" = mutter ] || [ -x "${QAVEL_GNOMEPROBE:-}" ] || {
            echo "no gnomeprobe (QAVEL_GNOMEPROBE): the build makes it where libglib2.0-dev is installed" >&2
            return 1
        }
        qavel_start_xvfb "$log.xvfb" || return 1
        qavel_start_wayland_bus "$log.bus" || return 1
        # gnome-kiosk serves no client until it has a system bus: it gets its session bus as that.
        local system=()
        [ "$kind" = mutter ] || system=(DBUS_SYSTEM_BUS_ADDRESS="$QAVEL_WAYLAND_BUS")
        env DBUS_SESSION_BUS_ADDRESS="$QAVEL_WAYLAND_BUS" "${system[@]}" XDG_RUNTIME_DIR="$QAVEL_WAYLAND_DIR" \
            MUTTER_DEBUG_DUMMY_MODE_SPECS="$QAVEL_SCREEN" "$kind" --nested --wayland --no-x11 --wayland-display qavel >"$log" 2>&1 &
        QAVEL_WAYLAND_PID=$!
        socket=qavel
        ;;
    kwin | kwin-scale2)
        qavel_require kwin-wayland kwin_wayland libglib2.0-bin gdbus || return 1
        [ -x "${QAVEL_KWINPROBE:-}" ] || {
            echo "no kwinprobe (QAVEL_KWINPROBE): the build makes it where plasma-wayland-protocols and libglib2.0-dev are installed" >&2
            return 1
        }
        local kwin scale=()
        kwin=$(qavel_kwin_binary) || return 1
        # --width and --height are the output's size in logical pixels.
        [ "$kind" = kwin-scale2 ] && scale=(--scale 2)
        # KWin 6 composites without OpenGL where there is no render node (as here), and then
        # offers no screenshots: it runs on its X11 backend in a private Xvfb, photographed there.
        local backend=(--virtual)
        QAVEL_KWIN_NESTED=
        if ! "$kwin" --version 2>/dev/null | grep -q '^kwin 5\.' && ! ls /dev/dri/renderD* >/dev/null 2>&1; then
            qavel_start_xvfb "$log.xvfb" || return 1
            backend=(--x11-display "$DISPLAY")
            QAVEL_KWIN_NESTED=1
        fi
        qavel_start_wayland_bus "$log.bus" || return 1
        env -u DISPLAY DBUS_SESSION_BUS_ADDRESS="$QAVEL_WAYLAND_BUS" XDG_RUNTIME_DIR="$QAVEL_WAYLAND_DIR" \
            KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1 KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 \
            "$kwin" "${backend[@]}" --width "$width" --height "$height" "${scale[@]}" --socket qavel \
            --no-lockscreen --no-global-shortcuts --no-kactivities >"$log" 2>&1 &
        QAVEL_WAYLAND_PID=$!
        socket=qavel
        ;;
    *) echo "no Wayland compositor of kind $kind" >&2; return 1 ;;
    esac
    QAVEL_WAYLAND_LOG=$log
    qavel_end_with_us "$QAVEL_WAYLAND_PID"
    # The socket comes once the compositor is up; clients are served once its shell is loaded.
    deadline=$((SECONDS + 60))
    while [ -z "$socket" ] || [ ! -S "$QAVEL_WAYLAND_DIR/$socket" ]; do
        [ -n "$socket" ] || socket=$(cd "$QAVEL_WAYLAND_DIR" && ls wayland-[0-9] 2>/dev/null | head -n 1)
        if ! kill -0 "$QAVEL_WAYLAND_PID" 2>/dev/null || [ $SECONDS -ge $deadline ]; then
            echo "$kind did not start (log: $log)" >&2
            return 1
        fi
        sleep 0.05
    done
    if [ "$kind" = weston-kiosk ] || [ "$kind" = mutter ] || [ "$kind" = gnome-kiosk ]; then
        # Their X11 windows take keys once the pointer has entered them; mutter also draws its
        # pointer there, which is then out of the way in the corner.
        local window='"Weston Compositor'
        [ "$kind" = mutter ] && window='"mutter"'
        [ "$kind" = gnome-kiosk ] && window='"gnome-kiosk"'
        until xwininfo -root -children 2>/dev/null | grep -q "$window"; do
            [ $SECONDS -lt $deadline ] || { echo "$kind shows no window (log: $log)" >&2; return 1; }
            sleep 0.05
        done
        xdotool mousemove "$((width - 1))" "$((height - 1))"
    fi
    export XDG_RUNTIME_DIR=$QAVEL_WAYLAND_DIR WAYLAND_DISPLAY=$socket
    if [ "$kind" = labwc ]; then
        # Its headless output comes at a size of its own.
        wlr-randr --output HEADLESS-1 --custom-mode "$QAVEL_SCREEN" >>"$log" 2>&1 ||
            { echo "wlr-randr could not size labwc's output (log: $log)" >&2; return 1; }
        # Its pointer, which it draws, out of the way in the corner.
        wlrctl pointer move 99999 99999 || { echo "labwc took no pointer from wlrctl" >&2; return 1; }
    fi
    if [ "$kind" = sway ] || [ "$kind" = labwc ]; then
        wtype -s 86400000 &
        QAVEL_WAYLAND_KEYBOARD_PID=$!
        qavel_end_with_us "$QAVEL_WAYLAND_KEYBOARD_PID"
    fi
    case $kind in kwin*)
        # Its socket comes before its D-Bus API: wait until it gives a screenshot (nested: until
        # its scripting answers).
        until if [ -n "$QAVEL_KWIN_NESTED" ]; then
            gdbus introspect --address "$QAVEL_WAYLAND_BUS" --dest org.kde.KWin --object-path /Scripting >/dev/null 2>&1
        else
            DBUS_SESSION_BUS_ADDRESS=$QAVEL_WAYLAND_BUS "$QAVEL_KWINPROBE" shot "$QAVEL_WAYLAND_DIR/ready.png" 2>/dev/null
        fi; do
            [ $SECONDS -lt $deadline ] && kill -0 "$QAVEL_WAYLAND_PID" 2>/dev/null ||
                { echo "KWin gives no screenshot (log: $log)" >&2; return 1; }
            sleep 0.1
        done
        # Its input device, before any client: KWin announces a seat's touch and pointer once a
        # device has them.
        local ready=
        mkfifo "$QAVEL_WAYLAND_DIR/input.in" "$QAVEL_WAYLAND_DIR/input.out" || return 1
        exec {QAVEL_KWIN_IN}<>"$QAVEL_WAYLAND_DIR/input.in" {QAVEL_KWIN_OUT}<>"$QAVEL_WAYLAND_DIR/input.out"
        "$QAVEL_KWINPROBE" input <&"$QAVEL_KWIN_IN" >&"$QAVEL_KWIN_OUT" 2>>"$log.input" &
        QAVEL_WAYLAND_KEYBOARD_PID=$!
        qavel_end_with_us "$QAVEL_WAYLAND_KEYBOARD_PID"
        read -r -t 30 -u "$QAVEL_KWIN_OUT" ready || true
        [ "$ready" = ready ] || { echo "KWin's input device did not start (log: $log.input)" >&2; return 1; }
        ;;
    esac
}

# Stops the compositor of qavel_start_wayland (and its Xvfb), if any.
qavel_stop_wayland() {
    if [ -n "$QAVEL_WAYLAND_KEYBOARD_PID" ]; then
        kill "$QAVEL_WAYLAND_KEYBOARD_PID" 2>/dev/null || true
        wait "$QAVEL_WAYLAND_KEYBOARD_PID" 2>/dev/null || true
        QAVEL_WAYLAND_KEYBOARD_PID=
    fi
    if [ -n "$QAVEL_KWIN_IN" ]; then
        exec {QAVEL_KWIN_IN}>&- {QAVEL_KWIN_OUT}>&-
        QAVEL_KWIN_IN=
        QAVEL_KWIN_OUT=
    fi
    if [ -n "$QAVEL_WAYLAND_PID" ]; then
        kill "$QAVEL_WAYLAND_PID" 2>/dev/null || true
        # One that was stopped while it started was seen to stay: it gets 5 s.
        local tries=50
        while kill -0 "$QAVEL_WAYLAND_PID" 2>/dev/null && [ $tries -gt 0 ]; do
            sleep 0.1
            tries=$((tries - 1))
        done
        kill -KILL "$QAVEL_WAYLAND_PID" 2>/dev/null || true
        wait "$QAVEL_WAYLAND_PID" 2>/dev/null || true
        QAVEL_WAYLAND_PID=
    fi
    if [ -n "$QAVEL_WAYLAND_BUS_PID" ]; then
        kill "$QAVEL_WAYLAND_BUS_PID" 2>/dev/null || true
        wait "$QAVEL_WAYLAND_BUS_PID" 2>/dev/null || true
        QAVEL_WAYLAND_BUS_PID=
        QAVEL_WAYLAND_BUS=
    fi
    qavel_stop_xvfb
    [ -z "$QAVEL_WAYLAND_DIR" ] || rm -rf "$QAVEL_WAYLAND_DIR"
    QAVEL_WAYLAND_DIR=
}

# The 64-bit Wine loader, named: Debian's wine script takes the 32-bit loader whenever wine32 is
# installed, and where the kernel runs no i386 programs even a 64-bit program then fails to start.
# The 64-bit loader hands a 32-bit program on to the 32-bit one by itself.
QAVEL_WINE=${QAVEL_WINE:-/usr/lib/wine/wine64}

# Wine's environment for a prefix of our own: 64-bit, quiet. Wine takes only an absolute path.
qavel_wine_env() {  # PREFIX
    WINEPREFIX=$(realpath -m "$1")
    export WINEPREFIX WINEDEBUG=-all WINEARCH=win64
}

# Makes the prefix (WINEPREFIX, one of our own) and waits for its wineserver to end, unless an
# earlier call did so. A prefix whose set-up was cut short has its Windows folder but not the
# mark: a program started there would first sit out a repair of a minute and more (and wineboot
# cannot even load in it), so it is made again.
qavel_wine_prefix() {  # [LOG]
    local log=${1:-/dev/null}
    [ -f "$WINEPREFIX/.qavel-ready" ] && return 0
    [ -n "$WINEPREFIX" ] && [ "$WINEPREFIX" != / ] || { echo "no Wine prefix set" >&2; return 1; }
    rm -rf "$WINEPREFIX"
    "$QAVEL_WINE" wineboot.exe -i >"$log" 2>&1 || { echo "wineboot -i failed (log: $log)" >&2; return 1; }
    wineserver -w || true
    [ -d "$WINEPREFIX/drive_c/windows" ] || { echo "the Wine prefix has no Windows folder" >&2; return 1; }
    : >"$WINEPREFIX/.qavel-ready"
}

# Ends every Wine process of the prefix.
qavel_wine_stop() {
    wineserver -k >/dev/null 2>&1 || true
}

# Copies the program, the simulator DLLs and, where asked, the window inspector out of a build
# of the windows preset into one folder.
qavel_wine_stage() {  # WINDOWS_BUILD DEST [inspect]
    local build=$1 dest=$2 file
    local files=(bin/qavel-calib.exe sim-dlls/hid.dll sim-dlls/setupapi.dll)
    [ "${3:-}" = inspect ] && files+=(wine-inspect/qavel-inspect.exe)
    mkdir -p "$dest"
    for file in "${files[@]}"; do
        if [ ! -f "$build/$file" ]; then
            echo "$build/$file is missing: build the windows preset first" >&2
            return 1
        fi
        cp "$build/$file" "$dest/"
    done
}

# x64 or x86: the architecture of a Windows image, read from its PE header (the machine field
# after the "PE\0\0" signature that e_lfanew at 0x3c points to), not from file's words, which
# change between its versions; "unknown" otherwise.
qavel_pe_arch() {  # FILE
    local at sig machine
    [ "$(od -An -tx1 -N2 "$1" 2>/dev/null | tr -d ' \n')" = 4d5a ] || { echo unknown; return; }
    at=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' \n')
    sig=$(od -An -tx1 -j"${at:-0}" -N6 "$1" | tr -d ' \n')
    case ${sig:0:8}:${sig:8:4} in
        50450000:6486) machine=x64 ;;
        50450000:4c01) machine=x86 ;;
        *) machine=unknown ;;
    esac
    echo "$machine"
}

# The DLL overrides that make the staged simulator DLLs stand in for Wine's own.
QAVEL_WINE_SIM_DLLS="hid,setupapi=n,b"

# Becomes the staged program on a QAVEL_SCREEN virtual desktop of its own, against a scenario,
# with the transcript in TRANSCRIPT where one is given. It replaces the calling shell, so run it
# as a background job (`qavel_wine_program ... &`, then $! is Wine's) or in a subshell.
qavel_wine_program() {  # RUN_DIR DESKTOP SCENARIO [TRANSCRIPT]
    local scenario transcript=
    scenario=$(realpath -m "$3")
    [ -z "${4:-}" ] || transcript=$(realpath -m "$4")
    cd "$1" || return 1
    QAVEL_SIM=$scenario QAVEL_SIM_LOG=$transcript WINEDLLOVERRIDES=$QAVEL_WINE_SIM_DLLS \
        exec "$QAVEL_WINE" explorer "/desktop=$2,$QAVEL_SCREEN" qavel-calib.exe
}

# Waits until Wine's virtual desktop NAME has its X window, up to SECONDS (120 by default).
qavel_wine_desktop_wait() {  # NAME [SECONDS]
    local end=$((SECONDS + ${2:-120}))
    until xwininfo -root -children 2>/dev/null | grep -qiF "\"$1 - Wine desktop\""; do
        [ $SECONDS -lt $end ] || { echo "Wine's virtual desktop $1 did not come up" >&2; return 1; }
        sleep 0.1
    done
}

# The window inspector on a program's desktop, run from WORK_DIR (where it leaves its files);
# its output, one key=value a line. It starts once the desktop is up: a process that looks at a
# desktop before the desktop's own process has made its window makes Wine 10 start a second
# one, and the two break each other (the first dies on an X error, the program's windows land
# on the bare screen or nowhere).
qavel_wine_inspect() {  # RUN_DIR WORK_DIR DESKTOP ARGS...
    local run=$1 work=$2 desktop=$3
    shift 3
    qavel_wine_desktop_wait "$desktop" || return 1
    (cd "$work" && WINEDLLOVERRIDES= "$QAVEL_WINE" "$run/qavel-inspect.exe" --desktop "$desktop" "$@" 2>/dev/null) |
        sed -u 's/\r$//'
}
