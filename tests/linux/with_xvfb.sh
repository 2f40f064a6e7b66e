#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private Xvfb, stopped again afterwards.
set -u
log=$(mktemp)
xvfb_pid=
command_pid=
cleanup() {
    if [ -n "$command_pid" ]; then
        kill "$command_pid" 2>/dev/null
        wait "$command_pid" 2>/dev/null
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -f "$log"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
# Several test runs may start servers at once: a random number, kept only if our server lives.
for attempt in $(seq 1 20); do
    number=$((200 + RANDOM % 700))
    [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] && continue
    Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >"$log" 2>&1 &
    xvfb_pid=$!
    # Ours is the server whose process id is in the display's lock file.
    ours() {
        kill -0 "$xvfb_pid" 2>/dev/null && [ -S "/tmp/.X11-unix/X$number" ] &&
            [ "$(tr -d ' \n' <"/tmp/.X$number-lock" 2>/dev/null)" = "$xvfb_pid" ]
    }
    for wait in $(seq 1 200); do
        kill -0 "$xvfb_pid" 2>/dev/null || break
        ours && break
        sleep 0.05
    done
    sleep 0.2
    if ours; then
        DISPLAY=":$number" "$@" &
        command_pid=$!
        wait "$command_pid"
        status=$?
        command_pid=
        exit $status
    fi
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
done
echo "with_xvfb.sh: could not start Xvfb" >&2
cat "$log" >&2
exit 1
