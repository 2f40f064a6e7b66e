#!/usr/bin/env bash
# One timed run of the Linux program, for the benchmark (tools/bench-linux.sh) and the overhead
# check (tests/bench): the program started by frame-clock on the display already up (qavel_start_xvfb
# or qavel_start_wayland), timed from the screen's and the transcript's events. Sourced; safe
# under `set -euo pipefail`.

# The run measured: model 0x0102, both touches scripted. The design imposes 100 ms before every
# transfer, and 1000 ms and 500 ms after the two targets: 6400 ms for its 49 transfers.
QAVEL_BENCH_SCENARIO='device 0596:0102
touch -1536 -1536
touch 1536 1536'
QAVEL_BENCH_AFTER_TARGETS_MS=1500
# A pixel of target 1's green disc on the 1024x768 screen.
QAVEL_BENCH_TARGET_PIXEL="134 676"

# Runs PROGRAM once on the display of KIND (x11, or a Wayland kind) and prints frame-clock's line
# with the figures derived from it appended (all in ms): first_beyond_pause (start to the first
# transfer, less its 100 ms pause), target_after_transfer (first transfer to target 1 on screen),
# between_transfers (first to last transfer, less the pauses imposed in between),
# box_after_transfer (last transfer before the box to the box on screen), imposed, overhead
# (start to the box, less imposed) and overhead_pct (of imposed). With "idle", the program's CPU
# time over 10 s of waiting at target 1 instead (no touch is scripted).
qavel_bench_run() {  # KIND PROGRAM PRELOAD CLOCK WORK_DIR [idle]
    local kind=$1 program=$2 preload=$3 clock=$4 work=$5 mode=${6:-} other=WAYLAND_DISPLAY line
    [ "$kind" = x11 ] || other=DISPLAY
    : >"$work/transcript.txt"
    if [ "$mode" = idle ]; then
        printf 'device 0596:0102\n' >"$work/scenario.txt"
        # shellcheck disable=SC2086
        "$clock" "$work/transcript.txt" $QAVEL_BENCH_TARGET_PIXEL --idle-cpu 10 -- \
            -u "$other" QAVEL_SIM="$work/scenario.txt" QAVEL_SIM_LOG="$work/transcript.txt" \
            LD_PRELOAD="$preload" "$program" 2>>"$work/program.log"
        return
    fi
    printf '%s\n' "$QAVEL_BENCH_SCENARIO" >"$work/scenario.txt"
    # shellcheck disable=SC2086
    line=$("$clock" "$work/transcript.txt" $QAVEL_BENCH_TARGET_PIXEL -- \
        -u "$other" QAVEL_SIM="$work/scenario.txt" QAVEL_SIM_LOG="$work/transcript.txt" \
        LD_PRELOAD="$preload" "$program" 2>>"$work/program.log") || {
        echo "frame-clock did not see the whole run: $line (program's output: $work/program.log)" >&2
        return 1
    }
    echo "$line" | awk -v after="$QAVEL_BENCH_AFTER_TARGETS_MS" '{
        for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
        imposed = v["transfers"] * 100 + after
        printf "%s first_beyond_pause=%.1f target_after_transfer=%.1f between_transfers=%.1f box_after_transfer=%.1f imposed=%d overhead=%.1f overhead_pct=%.2f\n",
            $0, v["start_to_first_transfer"] - 100, v["target"] - v["start_to_first_transfer"],
            v["last_transfer"] - v["start_to_first_transfer"] - (imposed - 100),
            v["box"] - v["last_transfer"], imposed, v["box"] - imposed, (v["box"] - imposed) * 100 / imposed
    }'
}

# The value of NAME in a line of qavel_bench_run.
qavel_bench_value() {  # LINE NAME
    echo "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"
}
