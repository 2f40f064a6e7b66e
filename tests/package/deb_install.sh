#!/usr/bin/env bash
# Installs the .deb on this machine with dpkg -i, which refuses it when a dependency is not met:
# the rule and the program are in place, and the installed program, started as a user would (no
# simulator), reaches its "no controller" outcome under Xvfb (through X11). The package is purged
# afterwards, also after a failure. Root only; a package that was installed before is left alone
# (skipped).
#   deb_install.sh DEB-DIR VERSION PROBE
set -euo pipefail
# The one package of VERSION for this machine's architecture, whatever release it names.
debs=("$1/qavel-calib_$2"*"_$(dpkg --print-architecture).deb")
deb=${debs[0]}
probe=$3

if [ "$(id -u)" != 0 ]; then
    echo "SKIP: dpkg -i needs root"
    exit 77
fi
if dpkg-query -W -f='${Status}' qavel-calib 2>/dev/null | grep -q "ok installed"; then
    echo "SKIP: qavel-calib is already installed on this machine; not touching it"
    exit 77
fi
[ ${#debs[@]} = 1 ] && [ -f "$deb" ] || { echo "FAIL: not one package: ${debs[*]}" >&2; exit 1; }

# Another dpkg or apt run on the machine holds the lock for a while; wait for it.
dpkg_retrying() {
    local attempt
    for attempt in $(seq 1 60); do
        if dpkg "$@" >"${TMPDIR:-/tmp}/qavel-dpkg.$$" 2>&1; then
            rm -f "${TMPDIR:-/tmp}/qavel-dpkg.$$"
            return 0
        fi
        if ! grep -qi lock "${TMPDIR:-/tmp}/qavel-dpkg.$$"; then
            cat "${TMPDIR:-/tmp}/qavel-dpkg.$$" >&2
            rm -f "${TMPDIR:-/tmp}/qavel-dpkg.$$"
            return 1
        fi
        sleep 2
    done
    rm -f "${TMPDIR:-/tmp}/qavel-dpkg.$$"
    return 1
}

installed=0
purge() {
    if [ $installed = 1 ]; then
        dpkg_retrying --purge qavel-calib || echo "could not purge qavel-calib" >&2
        installed=0
    fi
}

installed=1
dpkg_retrying -i "$deb" || { purge; echo "FAIL: dpkg -i" >&2; exit 1; }

# The end-to-end library starts Xvfb and offers the outcome checks.
. "$(dirname "$0")/../e2e/linux/lib.sh" /usr/bin/qavel-calib "" "$probe"
trap 'purge; cleanup' EXIT

[ -f /usr/lib/udev/rules.d/70-qavel-touch.rules ] || fail "udev rule not installed"
[ -x /usr/bin/qavel-calib ] || fail "program not installed"
[ -f /usr/share/applications/qavel-calib.desktop ] || fail "desktop entry not installed"
[ "$(dpkg-query -W -f='${Version}' qavel-calib)" = "$(dpkg-deb -f "$deb" Version)" ] ||
    fail "installed version"

env -u WAYLAND_DISPLAY "$PROGRAM" >"$WORK/program.log" 2>&1 &
PROGRAM_PID=$!
expect_message "Error" "Cannot find Qavel touch controller." error Escape
expect_exit_zero

purge
[ ! -e /usr/bin/qavel-calib ] && [ ! -e /usr/lib/udev/rules.d/70-qavel-touch.rules ] ||
    fail "files left behind after the purge"
echo PASS
