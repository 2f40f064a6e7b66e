#!/usr/bin/env bash
# Runs a command with DISPLAY set to a private Xvfb, stopped again afterwards.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../../tools/lib/display.sh"
log=$(mktemp)
command_pid=
cleanup() {
    if [ -n "$command_pid" ]; then
        kill "$command_pid" 2>/dev/null || true
        wait "$command_pid" 2>/dev/null || true
    fi
    qavel_stop_xvfb
    rm -f "$log"
}
trap cleanup EXIT
trap 'exit 143' TERM INT
if ! qavel_start_xvfb "$log"; then
    echo "with_xvfb.sh: could not start Xvfb" >&2
    cat "$log" >&2
    exit 1
fi
"$@" &
command_pid=$!
status=0
wait "$command_pid" || status=$?
command_pid=
exit $status
