#!/usr/bin/env bash
# Installs what is missing, builds every preset that has tests (warnings as errors) and runs all
# of the tests: unit tests natively and under the address, undefined-behaviour and thread
# sanitizers, end-to-end under Xvfb and Wine (the 64-bit and the 32-bit Windows program), the
# packages, the hidraw layer and whole runs against a real kernel in qemu for amd64, arm64 and
# armhf.
# Ends with the line "N passed, N failed" (", N skipped" where tests this machine cannot run were
# skipped); exits non-zero when anything failed. A failed build or test is counted and the run goes
# on.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

. tools/lib/install.sh
. tools/lib/release_root.sh
# Debian 12 and 13 are each proved: on one, the suite runs again inside a root of the other.
# QAVEL_OTHER_RELEASE=no leaves that out of a quick local run.
this_release=$(qavel_release_codename)
other_release=$(qavel_other_release "$this_release")
other_note=""
if [ -n "${QAVEL_IN_RELEASE_ROOT:-}" ]; then
    other_release=""  # this is the run inside the other release's root
elif [ "${QAVEL_OTHER_RELEASE:-}" = no ]; then
    other_release=""
    other_note="$(qavel_release_title "$(qavel_other_release "$this_release")") skipped: QAVEL_OTHER_RELEASE=no"
elif [ -z "$other_release" ]; then
    other_note="the other release skipped: this machine runs $(qavel_release_title "$this_release"), and only Debian 12 and 13 make a root of each other"
fi
if [ -n "$other_note" ]; then echo "$other_note"; fi
# Found out once: whether this machine runs 32-bit x86 programs (QAVEL_I386=no forces "no"; see
# tools/lib/install.sh). Where it does not, wine32 is not installed and the x86 Wine cases are
# skipped with this reason; the 32-bit program is still built and its package checked.
x86_skip=$(qavel_i386_probe)
if [ -n "$x86_skip" ]; then
    echo "x86 Windows cases skipped: $x86_skip"
fi
qavel_install "$x86_skip"
x86_skip=$QAVEL_X86_SKIP

passed=0
failed=0
skipped=0
jobs=$(nproc 2>/dev/null || echo 2)
# The summary's lines: each build that failed and each test skipped, with the reason.
failures=()
skips=()
# The compiler of each cross build, as package and command: where it is missing, the build fails
# with the install's reason, and the tests of that build are counted in that failure.
declare -A cross_compiler=(
    [windows]="g++-mingw-w64-x86-64 x86_64-w64-mingw32-g++-posix"
    [windows-x86]="g++-mingw-w64-i686 i686-w64-mingw32-g++-posix"
    [linux-arm64]="g++-aarch64-linux-gnu aarch64-linux-gnu-g++"
    [linux-armhf]="g++-arm-linux-gnueabihf arm-linux-gnueabihf-g++")
# What the tests lose when a build fails: they are not registered, and that failure stands for them.
declare -A build_carries=(
    [windows]="the x64 Wine cases, every Wine hidclass case and the Windows zip"
    [windows-x86]="the x86 Wine and Wine hidclass cases and the Windows zip"
    [linux-arm64]="the arm64 package and kernel tier"
    [linux-armhf]="the armhf package and kernel tier")

build() {  # preset, extra cmake arguments...
    local preset=$1 missing lost
    shift
    lost=${build_carries[$preset]:+, so not run: ${build_carries[$preset]}}
    echo "=== build $preset"
    if [ -n "${cross_compiler[$preset]:-}" ] &&
        ! missing=$(qavel_require ${cross_compiler[$preset]} 2>&1); then
        echo "build of $preset FAILED: $missing"
        failures+=("build of $preset$lost: $missing")
        failed=$((failed + 1))
        return 1
    fi
    if cmake --preset "$preset" -DQAVEL_WERROR=ON "$@" > "build-$preset.log" 2>&1 &&
        cmake --build --preset "$preset" -j "$jobs" >> "build-$preset.log" 2>&1; then
        rm -f "build-$preset.log"
        return 0
    fi
    tail -n 60 "build-$preset.log"
    echo "build of $preset FAILED (full log: build-$preset.log)"
    failures+=("build of $preset$lost: see build-$preset.log")
    failed=$((failed + 1))
    return 1
}

run_tests() {  # preset, extra ctest arguments...
    local preset=$1 log summary total bad skip
    shift
    log=$(mktemp)
    echo "=== test $preset $*"
    ctest --preset "$preset" "$@" 2>&1 | tee "$log" || true
    summary=$(grep -Eo '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
    if [ -n "$summary" ]; then
        bad=$(echo "$summary" | awk '{print $1}')
        total=$(echo "$summary" | awk '{print $NF}')
        # ctest counts a skipped test among the passed ones; here it is neither.
        skip=$(grep -c '(Skipped)$' "$log" || true)
        skip_reasons "build/$preset/Testing/Temporary/LastTest.log" \
            $(sed -n 's/^\s*[0-9]* - \(.*\) (Skipped)$/\1/p' "$log")
        passed=$((passed + total - bad - skip))
        failed=$((failed + bad))
        failure_reasons "build/$preset/Testing/Temporary/LastTest.log" \
            $(sed -n '/^The following tests FAILED:$/,$s/^\s*[0-9]* - \(\S*\) (.*$/\1/p' "$log")
    else
        echo "ctest of $preset ran no test"
        failures+=("ctest of $preset ran no test")
        failed=$((failed + 1))
    fi
    rm -f "$log"
}

# The output of TEST as ctest kept it in LAST_TEST_LOG, a line each.
test_output() {  # LAST_TEST_LOG TEST
    awk -v test="$2" '/^[0-9]+\/[0-9]+ Test: / { current = $3 }
        /^Output:$/ { output = 1; getline; next } /^<end of output>$/ { output = 0 }
        output && current == test' "$1" 2>/dev/null || true
}

# Counts each skipped TEST, and adds it to the summary with the reason its QAVEL SKIP line gave
# (qavel_skip in tools/lib/require.sh); a skip without one counts as failed.
skip_reasons() {  # LAST_TEST_LOG TEST...
    local last=$1 test reason
    shift
    for test in "$@"; do
        reason=$(test_output "$last" "$test" | sed -n 's/^QAVEL SKIP: //p' | sed -n 1p)
        if [ -n "$reason" ]; then
            skips+=("$test: $reason")
            skipped=$((skipped + 1))
        else
            failures+=("$test: skipped without a reason")
            failed=$((failed + 1))
        fi
    done
}

# Adds each failed TEST to the summary with the last line of its output that says why (else its
# last line), so that the closing lines name what failed (CI may keep only the end of the run).
failure_reasons() {  # LAST_TEST_LOG TEST...
    local last=$1 test output reason
    shift
    for test in "$@"; do
        output=$(test_output "$last" "$test")
        reason=$(grep -E 'FAIL|[Ff]ailure|[Tt]imed out|[Ee]rror' <<<"$output" | tail -n 1 || true)
        [ -n "$reason" ] || reason=$(grep . <<<"$output" | tail -n 1 || true)
        reason=${reason:0:300}
        failures+=("$test: ${reason:-no output}")
    done
}

windows_dir=""
windows_x86_dir=""
windows_start=$SECONDS
if build windows-x86; then
    windows_x86_dir="$root/build/windows-x86"
fi
if build windows; then
    windows_dir="$root/build/windows"
fi
windows_note="windows builds (x64, x86): $((SECONDS - windows_start)) s"
# The ARM programs, their packages and their kernel tiers' guest programs; the first build of each
# downloads its sysroot into build/foreign (tools/sysroot.sh).
arm_dirs=()
arm_start=$SECONDS
for arch in arm64 armhf; do
    if build "linux-$arch"; then
        arm_dirs+=("-DQAVEL_${arch^^}_BUILD_DIR=$root/build/linux-$arch")
    else
        arm_dirs+=("-DQAVEL_${arch^^}_BUILD_DIR=")
    fi
done
arm_note="ARM builds (arm64, armhf): $((SECONDS - arm_start)) s"
ci_note=""
if build ci -DQAVEL_WINDOWS_BUILD_DIR="$windows_dir" -DQAVEL_WINDOWS_X86_BUILD_DIR="$windows_x86_dir" \
    -DQAVEL_X86_SKIP_REASON="$x86_skip" "${arm_dirs[@]}"; then
    # The Wine cases take turns (one lock between them) and set the pace; the rest runs beside
    # them: unit tests, the Linux end-to-end cases, the packages of each architecture and the
    # real kernels' hidraw in qemu, one architecture's guest at a time (each kernel package is
    # downloaded once into build/ci). ctest's label summary gives the time of each tier.
    ci_start=$SECONDS
    run_tests ci -j3
    ci_note="ci tests, every tier: $((SECONDS - ci_start)) s"
fi
if build linux-asan; then
    run_tests linux-asan
fi
if build linux-tsan; then
    run_tests linux-tsan
fi

this_title="$(qavel_release_title "$this_release"), this machine"
echo "=== summary: $this_title"
echo "$windows_note"
echo "$arm_note"
[ -n "$ci_note" ] && echo "$ci_note"
for line in ${failures[@]+"${failures[@]}"}; do echo "FAILED: $line"; done
for line in ${skips[@]+"${skips[@]}"}; do echo "skipped: $line"; done
echo "the whole run: $SECONDS s"
[ -n "$x86_skip" ] && echo "x86 Windows cases skipped: $x86_skip"
this_counts="$passed passed, $failed failed, $skipped skipped"

# The same suite again on the other release, in a root of it that this command makes and keeps
# (tools/lib/release_root.sh).
if [ -n "$other_release" ]; then
    other_title="$(qavel_release_title "$other_release"), in build/roots/$other_release"
    other_log=$root/build/roots/$other_release-test.log
    other_start=$SECONDS
    echo "=== the test command in $other_title (its output: $other_log)"
    mkdir -p "$root/build/roots"
    rm -f "$other_log"
    tail -F "$other_log" 2>/dev/null > >(sed -u "s/^/[$other_release] /") &
    follower=$!
    other_counts=$(qavel_release_run "$root" "$other_release" "$other_log")
    sleep 2  # the follower's last lines
    kill "$follower" 2>/dev/null || true
    wait "$follower" 2>/dev/null || true
    echo "=== summary: $other_title ($((SECONDS - other_start)) s)"
    if [[ $other_counts == error:* ]]; then
        echo "${other_counts#error: }"
        failed=$((failed + 1))
        other_counts="it could not run: ${other_counts#error: }"
    else
        sed -n '/^=== summary: /,$p' "$other_log" | grep -Ev '^(=== summary|[0-9]+ passed, )' || true
        read -r p f s <<<"$other_counts"
        passed=$((passed + p))
        failed=$((failed + f))
        skipped=$((skipped + s))
        other_counts="$p passed, $f failed, $s skipped"
    fi
    echo "$this_title: $this_counts"
    echo "$other_title: $other_counts"
    echo "both releases, the whole run: $SECONDS s"
elif [ -n "$other_note" ]; then
    echo "$this_title: $this_counts"
    echo "$other_note"
    skipped=$((skipped + 1))
fi
# Every failure of both releases once more, last, where a shortened log still shows them (the
# run in the other release's root ends with its summary, and repeats nothing).
if [ -n "$other_release" ]; then
    for line in ${failures[@]+"${failures[@]}"}; do echo "FAILED: $this_title: $line"; done
    [ ! -f "$other_log" ] || sed -n '/^=== summary: /,$s/^FAILED: //p' "$other_log" |
        while IFS= read -r line; do echo "FAILED: $other_title: $line"; done
fi
if [ "$skipped" -gt 0 ]; then
    echo "$passed passed, $failed failed, $skipped skipped"
else
    echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
