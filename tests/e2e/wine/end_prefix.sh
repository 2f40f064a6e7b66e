#!/usr/bin/env bash
# The cleanup of a shared Wine prefix: ends its wineserver, then fails, naming each, while a
# process of the prefix (one whose environment names it: the server, the loaders, whatever a case
# started there) is still running 30 s later.
# usage: end_prefix.sh PREFIX
set -euo pipefail
prefix=$(realpath -m "$1")

left() {
    local environ pid value
    for environ in /proc/[0-9]*/environ; do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        [ "$pid" != $$ ] || continue
        value=$({ tr '\0' '\n' < "$environ" | sed -n 's/^WINEPREFIX=//p'; } 2>/dev/null || true)
        if [ -n "$value" ] && [ "$(realpath -m "$value")" = "$prefix" ]; then
            echo "$pid $(tr '\0' ' ' < "/proc/$pid/cmdline" 2>/dev/null)"
        fi
    done
}

# Its status says only whether a server was running; what is left afterwards is what counts.
WINEPREFIX=$prefix wineserver -k 2>/dev/null && echo "ended the wineserver of $prefix" ||
    echo "no wineserver of $prefix was running"
while [ $SECONDS -lt 30 ]; do
    [ -n "$(left)" ] || exit 0
    sleep 0.5
done
echo "FAIL: processes of $prefix are still running:" >&2
left >&2
exit 1
