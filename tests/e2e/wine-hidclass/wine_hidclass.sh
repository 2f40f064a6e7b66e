#!/usr/bin/env bash
# One case of the Windows program on Wine's own HID stack: builtin setupapi.dll, hid.dll and
# hidclass.sys, no DLL overrides, with the test minidriver presenting the simulated controller.
# usage: wine_hidclass.sh ARCH WINDOWS_BUILD_DIR WORK_DIR CASE [DRIVER_BUILD_DIR]
# ARCH (x64 or x86) is the architecture of the program's build. The minidriver and its installer
# come from DRIVER_BUILD_DIR (default: the program's build); a 32-bit program on the 64-bit driver
# in a 64-bit prefix takes the WoW64 path of 64-bit Windows. The "prefix" case makes the fresh
# Wine prefix that the other cases share.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
. "$HERE/../wine/lib.sh"

usage="usage: $0 ARCH WINDOWS_BUILD_DIR WORK_DIR CASE [DRIVER_BUILD_DIR]"
[ $# -eq 4 ] || [ $# -eq 5 ] || { echo "$usage" >&2; exit 2; }

# lib.sh's setup, but the program's folder keeps no DLL at all, so every HID and SetupAPI call
# goes to Wine's builtin ones. The driver must be of the prefix's own architecture.
setup_hidclass() {
    setup "$1" "$2" "$3" "$4"
    # The previous case's server may still be ending, its driver still loaded.
    wineserver -w 2>/dev/null || true
    rm -f "$RUN_DIR"/*.dll
    unset WINEDLLOVERRIDES
    DRIVER_DIR="${5:-$WINDOWS_BUILD}/wine-hidclass"
    for file in qavelsim.sys qavel-sim-device.dll qavel-hidclass-setup.exe qavelsim.inf; do
        [ -f "$DRIVER_DIR/$file" ] || fail "$DRIVER_DIR/$file is missing: build the windows preset first"
    done
    expect_equal "architecture of the driver" "$(qavel_pe_arch "$DRIVER_DIR/qavelsim.sys")" x64
    # The probe goes through hid.dll as the program does, so it is the program's architecture.
    PROBE="$WINDOWS_BUILD/wine-hidclass/qavel-hidclass-setup.exe"
    trap cleanup_hidclass EXIT
}

# The devices go with the case, so that the next one starts without them; where they cannot be
# removed, the case fails, since the next would meet them.
cleanup_hidclass() {
    local status=$?
    if [ "$CASE" != prefix ] && [ -d "$WINEPREFIX/drive_c" ] &&
        ! timeout 60 "$QAVEL_WINE" "$DRIVER_DIR/qavel-hidclass-setup.exe" remove >"$CASE_DIR/remove.out" 2>&1; then
        echo "FAIL: removing the devices failed: $(cat "$CASE_DIR/remove.out")" >&2
        [ $status != 0 ] || status=1
    fi
    (exit $status)
    cleanup
}

# install_devices SCENARIO_TEXT: the scenario's devices behind the minidriver, transcript on.
install_devices() {
    printf '%s\n' "$1" >"$CASE_DIR/scenario.txt"
    TRANSCRIPT="$CASE_DIR/transcript.log"
    rm -f "$TRANSCRIPT"
    local start=$SECONDS
    timeout 120 "$QAVEL_WINE" "$DRIVER_DIR/qavel-hidclass-setup.exe" install "$DRIVER_DIR" \
        "$CASE_DIR/scenario.txt" "$TRANSCRIPT" >"$CASE_DIR/setup.out" 2>&1 ||
        fail "installing the devices failed: $(cat "$CASE_DIR/setup.out")"
    INTERFACES=$(timeout 60 "$QAVEL_WINE" "$DRIVER_DIR/qavel-hidclass-setup.exe" list | sed 's/\r$//' | grep -i 'hid#qavelsim#' || true)
    log "devices installed in $((SECONDS - start)) s; simulated interfaces:"
    printf '%s\n' "$INTERFACES" | sed 's/^/    /'
}

# start_program: the real program on its own virtual desktop, no overrides, no simulator DLLs.
start_program_hidclass() {
    ! ls "$RUN_DIR"/*.dll >/dev/null 2>&1 || fail "a DLL next to the program would shadow Wine's own"
    (cd "$RUN_DIR" && exec "$QAVEL_WINE" explorer "/desktop=$DESKTOP,${WIDTH}x${HEIGHT}" qavel-calib.exe) \
        >"$CASE_DIR/program.out" 2>&1 &
    PROGRAM_PID=$!
}

RUNS="$HERE/../../runs"

# Every transfer of the transcript went through: none refused by the class driver or the device.
expect_no_failed_transfers() {
    [ -s "$TRANSCRIPT" ] || fail "no transfer reached the controller"
    local failed
    failed=$(awk '$5 != "ok"' "$TRANSCRIPT")
    [ -z "$failed" ] || fail "transfers failed: $failed"
}

# expect_golden NAME: the transcript holds the same transfers, byte for byte and in the same
# order, as the headless run of tests/runs/NAME.scenario; only the times differ.
expect_golden() {
    local expected="$CASE_DIR/expected.transfers" got="$CASE_DIR/got.transfers"
    cut -d' ' -f2- "$RUNS/$1.transcript" >"$expected"
    cut -d' ' -f2- "$TRANSCRIPT" >"$got"
    diff -u "$expected" "$got" >"$CASE_DIR/transfers.diff" ||
        fail "the transfers differ from the headless run's: $(head -n 40 "$CASE_DIR/transfers.diff")"
    log "$(wc -l <"$got") transfers, the same as the headless run's"
}

# calibrate NAME [DEVICE_OPTION]: the golden scenario NAME (its device line given the option) is
# calibrated by the real program through the class driver.
calibrate() {
    install_devices "$(sed "s/^device \(.*\)$/device \1 ${2:-}/" "$RUNS/$1.scenario")"
    start_program_hidclass
    expect_message "Calibration" "Calibration completed successfully." "information"
    dismiss
    expect_no_failed_transfers
    expect_golden "$1"
}

case_prefix() {
    rm -rf "$WINEPREFIX"
    "$QAVEL_WINE" wineboot.exe -i >"$CASE_DIR/wineboot.log" 2>&1 || fail "wineboot -i failed"
    wineserver -w
    [ -d "$WINEPREFIX/drive_c/windows" ] || fail "the prefix has no Windows folder"
}

case_raw_0102() {
    calibrate model_0102_success
    printf '%s\n' "$INTERFACES" |
        grep -q 'vid=0596 pid=0102 usage=ff00:0001 feature-values=7 feature-length=72' ||
        fail "the controller's interface is not as its descriptor declares it"
}

case_status_0400() {
    calibrate model_0400_success
}

case_ascii_0300() {
    calibrate model_0300_success
}

case_composite() {
    calibrate model_0102_success composite
    local first second
    [ "$(printf '%s\n' "$INTERFACES" | grep -c .)" = 2 ] || fail "expected two interfaces: $INTERFACES"
    first=$(printf '%s\n' "$INTERFACES" | sed -n 1p)
    second=$(printf '%s\n' "$INTERFACES" | sed -n 2p)
    case $first in *"vid=0596 pid=0102 usage=000d:0004 feature-values=0 "*) ;;
        *) fail "the touch collection is not first, or declares feature values: $first" ;; esac
    case $second in *"vid=0596 pid=0102 usage=ff00:0001 feature-values=7 feature-length=72"*) ;;
        *) fail "the controller's collection is not second: $second" ;; esac
}

case_terminated() {
    # TerminateProcess at target 1 of 0x0102: the guardian, through the device handle it
    # inherited from the program, reaches the controller by the class driver alone.
    install_devices 'device 0596:0102'
    start_program_hidclass
    wait_state t1-00FF00 240
    expect_equal "guardians beside the program" "$(guardians_in_prefix)" 1
    inspect terminate-calibration >/dev/null || fail "the calibration window's process was not ended"
    wait_program_end
    expect_equal "guardians left" "$(guardians_in_prefix)" 0
    expect_no_failed_transfers
    expect_guardian_end_mode
}

case_no_controller() {
    # A foreign device, an unsupported model and a supported one without feature values.
    install_devices 'device 1234:5678
device 0596:0101
device 0596:0102 nofeatures'
    [ "$(printf '%s\n' "$INTERFACES" | grep -c .)" = 3 ] || fail "expected three interfaces: $INTERFACES"
    start_program_hidclass
    expect_message "Error" "Cannot find Qavel touch controller." "error"
    expect_equal "calibration window ever seen" "$(value calibration-window-seen "$MESSAGE")" "no"
    dismiss
    [ ! -s "$TRANSCRIPT" ] || fail "feature reports were exchanged: $(cat "$TRANSCRIPT")"
}

case_strictness() {
    # Below the collection's length a get is refused, as on Windows, and never reaches the
    # controller; so are an undeclared id, an empty buffer and a set below the report's length.
    install_devices 'device 0596:0102'
    local probe
    probe=$(timeout 60 "$QAVEL_WINE" "$PROBE" probe | sed 's/\r$//') ||
        fail "the probe failed: $probe"
    printf '%s\n' "$probe" | sed 's/^/    /'
    expect_equal "caps" "$(value caps "$probe")" "72"
    expect_equal "get at the report's own length" "$(value get-own-length "$probe")" "87"
    expect_equal "get one below caps" "$(value get-caps-less-one "$probe")" "87"
    expect_equal "get at caps" "$(value get-caps "$probe")" "ok"
    expect_equal "get of an undeclared id" "$(value get-undeclared-id "$probe")" "87"
    expect_equal "set below the report's length" "$(value set-below-own-length "$probe")" "87"
    expect_equal "get into no buffer" "$(value get-empty "$probe")" "1784"
    expect_equal "transfers the controller saw" "$(cut -d' ' -f2-5 "$TRANSCRIPT" | tr -d '\r')" "get 08 8 ok"
}

setup_hidclass "$@"
start_xvfb
case_start=$SECONDS
case "$CASE" in
    prefix) case_prefix ;;
    raw-0102) case_raw_0102 ;;
    status-0400) case_status_0400 ;;
    ascii-0300) case_ascii_0300 ;;
    composite) case_composite ;;
    terminated) case_terminated ;;
    no-controller) case_no_controller ;;
    strictness) case_strictness ;;
    *) fail "unknown case $CASE" ;;
esac
log "$CASE passed in $((SECONDS - case_start)) s"
