#!/usr/bin/env bash
# Installs what is missing, builds every preset that has tests (warnings as errors) and runs all
# of the tests: unit tests natively and under the address, undefined-behaviour and thread
# sanitizers, end-to-end under Xvfb and Wine (the 64-bit and the 32-bit Windows program), the
# hidraw layer against a real kernel in qemu.
# Ends with the line "N passed, N failed"; exits non-zero when anything failed. A failed build or
# test is counted and the run goes on.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

packages=(cmake g++ make googletest libgtest-dev libx11-dev xvfb xauth xdotool x11-utils x11-apps imagemagick
          g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine32:i386 qemu-system-x86 busybox-static x11-xkb-utils xkb-data
          libxrandr-dev libxi-dev dpkg-dev file desktop-file-utils lintian)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" = 0 ]; then
        echo "installing: ${missing[*]}"
        # Wine's 32-bit part, for the 32-bit program, comes from the i386 architecture.
        dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" \
            || echo "package installation failed"
    else
        echo "missing packages (run as root to install them): ${missing[*]}"
    fi
fi

passed=0
failed=0
jobs=$(nproc 2>/dev/null || echo 2)

build() {  # preset, extra cmake arguments...
    local preset=$1
    shift
    echo "=== build $preset"
    if cmake --preset "$preset" -DQAVEL_WERROR=ON "$@" > "build-$preset.log" 2>&1 &&
        cmake --build --preset "$preset" -j "$jobs" >> "build-$preset.log" 2>&1; then
        rm -f "build-$preset.log"
        return 0
    fi
    tail -n 60 "build-$preset.log"
    echo "build of $preset FAILED (full log: build-$preset.log)"
    failed=$((failed + 1))
    return 1
}

run_tests() {  # preset, extra ctest arguments...
    local preset=$1 log summary total bad
    shift
    log=$(mktemp)
    echo "=== test $preset $*"
    ctest --preset "$preset" "$@" 2>&1 | tee "$log" || true
    summary=$(grep -Eo '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
    if [ -n "$summary" ]; then
        bad=$(echo "$summary" | awk '{print $1}')
        total=$(echo "$summary" | awk '{print $NF}')
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    else
        echo "ctest of $preset ran no test"
        failed=$((failed + 1))
    fi
    rm -f "$log"
}

windows_dir=""
windows_x86_dir=""
windows_start=$SECONDS
if command -v i686-w64-mingw32-g++-posix > /dev/null && build windows-x86; then
    windows_x86_dir="$root/build/windows-x86"
fi
if command -v x86_64-w64-mingw32-g++-posix > /dev/null && build windows; then
    windows_dir="$root/build/windows"
fi
windows_note="windows builds (x64, x86): $((SECONDS - windows_start)) s"
ci_note=""
if build ci -DQAVEL_WINDOWS_BUILD_DIR="$windows_dir" -DQAVEL_WINDOWS_X86_BUILD_DIR="$windows_x86_dir"; then
    # The Wine cases take turns (one lock between them) and set the pace; the rest runs beside
    # them: unit tests, the Linux end-to-end cases, the packages and the real kernel's hidraw in
    # qemu (its kernel package is downloaded once into build/ci). ctest's label summary gives the
    # time of each tier.
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

echo "$windows_note"
[ -n "$ci_note" ] && echo "$ci_note"
echo "the whole run: $SECONDS s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
