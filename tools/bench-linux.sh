#!/usr/bin/env bash
# Not a test: how long the Linux program takes beyond what the design imposes, and what it costs
# while it waits, on X11 (a private Xvfb) and on Wayland (weston's kiosk shell on its X11 backend,
# in a private Xvfb of its own). Each run is timed from events (tools/lib/bench.sh): the program's
# start, the first transfer as the simulator writes it (the rest by the transcript's stamps, within
# 1 ms), each change of the screen as the X server reports it. Per display, RUNS whole 0x0102 runs
# (default 5), reported as min / median / max:
#  - start to the first transfer, beyond that transfer's own 100 ms pause;
#  - the first transfer to target 1 on screen;
#  - the first transfer to the last before the box, beyond the pauses in between;
#  - the last transfer to the outcome box on screen;
#  - start to the box, beyond the 6400 ms the design imposes, also as a share of it;
# and one run for the CPU time while target 1 waits 10 s for a touch.
# The program is the release build the packages ship (preset linux-release). The simulator comes
# from that build too: a debug one's time on each transfer would be counted as the program's. The
# clock comes from the linux preset's build.
# usage: tools/bench-linux.sh [RUNS]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/lib/display.sh"
. "$root/tools/lib/bench.sh"
runs=${1:-5}
release=${QAVEL_RELEASE_BUILD:-$root/build/linux-release}
build=${QAVEL_BUILD:-$root/build/linux}
program=$release/src/platform/linux/qavel-calib
preload=$release/sim/preload/libqavel_sim_preload.so
clock=$build/tests/bench/frame-clock
for f in "$program" "$preload" "$clock"; do
    [ -e "$f" ] || {
        echo "missing $f: build the linux-release and linux presets first" >&2
        exit 1
    }
done

# The simulator writes its transcript on every transfer, in the program's thread: in memory, a
# disk's journal cannot stall that thread now and then.
work=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
cleanup() {
    qavel_stop_wayland
    qavel_stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT

# Min, median and max of the numbers on standard input, "min / median / max".
spread() {
    sort -g | awk '{ v[NR] = $1 } END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%s / %s / %s", v[1], m, v[NR] }'
}

declare -A result
measure() {  # KIND
    local kind=$1 i line
    : >"$work/$kind.runs"
    line=$(qavel_bench_run "$kind" "$program" "$preload" "$clock" "$work" idle)
    result[$kind.idle]=$(qavel_bench_value "$line" idle_cpu)
    for i in $(seq 1 "$runs"); do
        qavel_bench_run "$kind" "$program" "$preload" "$clock" "$work" >>"$work/$kind.runs"
    done
    for name in first_beyond_pause target_after_transfer between_transfers box_after_transfer overhead \
        overhead_pct imposed; do
        result[$kind.$name]=$(while read -r line; do qavel_bench_value "$line" "$name"; done \
            <"$work/$kind.runs" | spread)
    done
}

qavel_start_xvfb "$work/xvfb.log"
measure x11
qavel_stop_xvfb
qavel_start_wayland weston-kiosk "$work/weston.log"
measure weston-kiosk
qavel_stop_wayland

row() {  # LABEL NAME UNIT
    printf '%-44s %-24s %-24s\n' "$1" "${result[x11.$2]} $3" "${result[weston-kiosk.$2]} $3"
}
echo "$runs runs each, min / median / max"
printf '%-44s %-24s %-24s\n' "measure" "X11 (Xvfb)" "Wayland (weston kiosk)"
row "start to first transfer, beyond its pause" first_beyond_pause ms
row "first transfer to target 1 on screen" target_after_transfer ms
row "first to last transfer, beyond their pauses" between_transfers ms
row "last transfer to the outcome box on screen" box_after_transfer ms
row "imposed by the design" imposed ms
row "start to the box, beyond the imposed" overhead ms
row "the same, share of the imposed" overhead_pct %
row "CPU while waiting 10 s for a touch" idle ms
echo "Program: $program"
echo "Wayland: weston's kiosk shell on its X11 backend (pixman), in a private Xvfb."
