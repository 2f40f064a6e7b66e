#!/usr/bin/env bash
# Fails only on a gross regression of the program's own time: a whole 0x0102 run, start to the
# outcome box on screen, beyond the time the design imposes on it, as a share of that time
# (tools/lib/bench.sh). Today's share is under 1 %; the bound is 5 %. On this machine the program
# shares the processors with other work, which only ever adds time: the best of three attempts
# is taken, and a regression that crosses the bound crosses it in all of them.
# usage: overhead_ratio.sh PROGRAM PRELOAD FRAME_CLOCK KIND   (KIND: x11 or weston-kiosk)
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/tools/lib/display.sh"
. "$root/tools/lib/bench.sh"
program=$1 preload=$2 clock=$3 kind=$4
bound_pct=5

work=$(mktemp -d)
trap 'qavel_stop_wayland; qavel_stop_xvfb; rm -rf "$work"' EXIT
if [ "$kind" = x11 ]; then
    qavel_start_xvfb "$work/xvfb.log" || { echo "FAIL: no display"; exit 1; }
else
    qavel_start_wayland "$kind" "$work/compositor.log" || { echo "FAIL: no $kind compositor"; exit 1; }
fi

for attempt in 1 2 3; do
    line=$(qavel_bench_run "$kind" "$program" "$preload" "$clock" "$work") || {
        cat "$work/program.log" >&2
        echo "FAIL: the run was not seen to its end"
        exit 1
    }
    echo "attempt $attempt: $line"
    pct=$(qavel_bench_value "$line" overhead_pct)
    if awk -v p="$pct" -v b="$bound_pct" 'BEGIN { exit !(p <= b) }'; then
        echo "PASS: overhead $pct % of the imposed time (bound $bound_pct %)"
        exit 0
    fi
done
echo "FAIL: overhead above $bound_pct % of the imposed time in every attempt"
exit 1
