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
. "$(dirname "$0")/../../tools/lib/require.sh"
# Written before dpkg -i and removed once the package is purged: while it is there, an installed
# qavel-calib is this test's own leftover, purged first rather than skipped for ever. /var/tmp
# outlives a reboot, as the package does.
leftover=/var/tmp/qavel-calib.deb_install.leftover

if [ "$(id -u)" != 0 ]; then
    qavel_skip "dpkg -i needs root, and the test command did not run as root"
fi
if dpkg-query -W -f='${Status}' qavel-calib 2>/dev/null | grep -q "ok installed"; then
    [ -f "$leftover" ] || qavel_skip "qavel-calib $(dpkg-query -W -f='${Version}' qavel-calib) was" \
        "installed on this machine before the test; not touching it"
    echo "purging the qavel-calib an earlier run of this test installed and could not purge"
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

if [ -f "$leftover" ]; then
    dpkg_retrying --purge qavel-calib ||
        { echo "FAIL: could not purge the earlier run's qavel-calib" >&2; exit 1; }
    rm -f "$leftover"
fi

installed=0
purge() {
    [ $installed = 1 ] || return 0
    dpkg_retrying --purge qavel-calib || { echo "could not purge qavel-calib" >&2; return 1; }
    installed=0
    rm -f "$leftover"
}

installed=1
: >"$leftover"
dpkg_retrying -i "$deb" || { purge || true; echo "FAIL: dpkg -i" >&2; exit 1; }

# The end-to-end library starts Xvfb and offers the outcome checks.
. "$(dirname "$0")/../e2e/linux/lib.sh" /usr/bin/qavel-calib "" "$probe"
trap 'purge || true; cleanup' EXIT

[ -f /usr/lib/udev/rules.d/70-qavel-touch.rules ] || fail "udev rule not installed"
[ -x /usr/bin/qavel-calib ] || fail "program not installed"
[ -f /usr/share/applications/qavel-calib.desktop ] || fail "desktop entry not installed"
[ "$(dpkg-query -W -f='${Version}' qavel-calib)" = "$(dpkg-deb -f "$deb" Version)" ] ||
    fail "installed version"

env -u WAYLAND_DISPLAY "$PROGRAM" >"$WORK/program.log" 2>&1 &
PROGRAM_PID=$!
expect_message "Error" "Cannot find Qavel touch controller." error Escape
expect_exit_zero

purge || fail "dpkg --purge failed"
[ ! -e /usr/bin/qavel-calib ] && [ ! -e /usr/lib/udev/rules.d/70-qavel-touch.rules ] ||
    fail "files left behind after the purge"
echo PASS
