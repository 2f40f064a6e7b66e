#!/usr/bin/env bash
# Builds the libFuzzer targets (preset linux-fuzz) and runs each for the given time, one at a
# time, starting from its seed corpus and kept findings. Prints the executions and the findings
# of each target; a finding is left in build/linux-fuzz/findings/<target>/ to be kept under
# tests/fuzz/regressions/<target>/ once mended.
# Usage: tools/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(report_descriptor touch_reports ascii_tunnel calibration_pages
                                      scenario session)

packages=(clang libclang-rt-14-dev cmake make libx11-dev)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" = 0 ]; then
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
fi

cmake --preset linux-fuzz > /dev/null && cmake --build --preset linux-fuzz -j 2 > /dev/null || {
    echo "build of linux-fuzz failed"
    exit 1
}

bin=$root/build/linux-fuzz/tests/fuzz
total_findings=0
for t in "${targets[@]}"; do
    work=$root/build/linux-fuzz/corpus/$t
    findings=$root/build/linux-fuzz/findings/$t
    rm -rf "$findings"
    mkdir -p "$work" "$findings"
    log=$root/build/linux-fuzz/fuzz-$t.log
    # New inputs go to the work corpus; the tree's corpus and findings are only read.
    inputs=("$work")
    for d in "$root/tests/fuzz/corpus/$t" "$root/tests/fuzz/regressions/$t"; do
        [ -d "$d" ] && inputs+=("$d")
    done
    "$bin/fuzz_$t" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=1024 \
        -artifact_prefix="$findings/" "${inputs[@]}" > "$log" 2>&1
    execs=$(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -Eo '[0-9]+$' | tail -n 1)
    found=$(find "$findings" -type f | wc -l)
    total_findings=$((total_findings + found))
    echo "$t: ${execs:-0} executions in ${seconds} s, $found findings"
    grep -E '^(invariant broken|==[0-9]+==ERROR|SUMMARY)' "$log" | head -n 3 | sed 's/^/    /'
done
echo "$total_findings findings"
[ "$total_findings" -eq 0 ]
