#!/usr/bin/env bash
# What the test command installs, in groups, and what it finds out about the machine first.
# Sourced by tools/test-all.sh; safe under `set -euo pipefail`.
#
# QAVEL_I386=no forces the answer of the 32-bit x86 probe to "no" (as on a kernel that cannot run
# i386 programs): no i386 architecture, no wine32, the x86 Wine cases skipped. Unset, the probe
# decides.

# The groups, each installed on its own, so that one that cannot be installed does not take the
# others with it: the compilers and libraries for this machine first, then each cross compiler on
# its own; labwc and gnome-kiosk too, as Debian 12 has neither. wine64 is named: Debian's wine
# depends on "wine64 | wine32", which apt may satisfy with wine32 alone.
QAVEL_GROUPS=(build mingw-x64 mingw-x86 cross-arm64 cross-armhf x-desktop wayland labwc gnome-kiosk
              wine64 wine32 qemu packaging)
declare -A QAVEL_GROUP_TITLE=(
    [build]="build tools" [mingw-x64]="mingw-w64 for x64" [mingw-x86]="mingw-w64 for x86"
    [cross-arm64]="arm64 cross compiler" [cross-armhf]="armhf cross compiler"
    [x-desktop]="X and desktop tools" [wayland]="Wayland compositors"
    [labwc]="labwc (Debian 13 on)" [gnome-kiosk]="gnome-kiosk (Debian 13 on)"
    [wine64]="Wine 64-bit" [wine32]="Wine 32-bit" [qemu]="qemu" [packaging]="packaging tools")
# The build group also has what kwinprobe (tests/e2e/linux), a tool of the native build's KWin
# cases, is built from: GIO and the fake-input protocol's XML.
# The libraries the program and its tests are built against (the program's are the ones
# src/platform/linux/CMakeLists.txt lists): installed for this machine's own builds, and unpacked
# with their dependencies into the sysroot of each ARM build (tools/sysroot.sh). A library the
# program comes to link is one more word here.
QAVEL_LIBRARIES="libgtest-dev libx11-dev libxrandr-dev libxi-dev libcairo2-dev libpango1.0-dev
                 libxkbcommon-dev libwayland-dev wayland-protocols libdecor-0-dev libcanberra-dev
                 libxdamage-dev"
declare -A QAVEL_GROUP_PACKAGES=(
    [build]="cmake g++ make pkg-config googletest $QAVEL_LIBRARIES libglib2.0-dev plasma-wayland-protocols"
    [mingw-x64]="g++-mingw-w64-x86-64" [mingw-x86]="g++-mingw-w64-i686"
    [cross-arm64]="g++-aarch64-linux-gnu" [cross-armhf]="g++-arm-linux-gnueabihf"
    [x-desktop]="xvfb xauth xdotool x11-utils x11-apps x11-xkb-utils xkb-data imagemagick
                 fonts-dejavu-core"
    [wayland]="weston sway grim wtype tesseract-ocr libdecor-0-plugin-1-cairo mutter kwin-wayland
               dbus-daemon libglib2.0-bin"
    [labwc]="labwc wlr-randr wlrctl" [gnome-kiosk]="gnome-kiosk"
    [wine64]="wine wine64"
    [wine32]="wine32:i386"
    [qemu]="qemu-system-x86 qemu-system-arm busybox-static xz-utils zstd"
    [packaging]="dpkg-dev file desktop-file-utils lintian appstream")

# QAVEL_INSTALL_REPORT: what could not be installed, and why, for the tests that need it.
. "$(dirname "${BASH_SOURCE[0]}")/require.sh"

# Empty when this machine runs 32-bit x86 programs, else why not (one line). Runs a static i386
# program of three instructions that exits with status 7 through the i386 system call gate: that
# is what every 32-bit Wine program needs, and some kernels refuse it although they report IA32
# emulation. Its 96 bytes are written here, so the probe needs no toolchain; it is run from the
# project's build folder, as /tmp may be mounted noexec.
qavel_i386_probe() {
    if [ "${QAVEL_I386:-}" = no ]; then
        echo "QAVEL_I386=no says this machine does not run 32-bit x86 programs"
        return
    fi
    local probe status=0 out
    mkdir -p build
    probe=$(mktemp build/i386-probe.XXXXXX)
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$probe"
    # ELF header: executable, 80386, entry 0x08048054, one program header at 52.
    printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$probe"
    printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' >>"$probe"
    # One loadable segment: the whole file at 0x08048000, readable and executable.
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$probe"
    printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$probe"
    # mov $1, %eax; mov $7, %ebx; int $0x80
    printf '\xb8\x01\x00\x00\x00\xbb\x07\x00\x00\x00\xcd\x80' >>"$probe"
    chmod 755 "$probe"
    out=$("$probe" 2>&1) || status=$?
    rm -f "$probe"
    [ "$status" = 7 ] && return
    echo "this machine does not run 32-bit x86 programs (a tiny i386 program ended with status $status${out:+: ${out##*: }})"
}

qavel_installed() {  # PACKAGE
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# The first error apt gave, on one line. Where that is "held broken packages" or another that
# names no package, the first unmet dependencies apt listed name them.
qavel_apt_reason() {  # LOG
    local line unmet
    line=$(grep -m1 '^E: ' "$1" || true)
    [ -n "$line" ] || line=$(grep -v '^\s*$' "$1" | tail -n1 || true)
    unmet=$(qavel_apt_unmet "$1" | head -n 3 | paste -sd ';' | sed 's/;/; /g' || true)
    printf '%s%s' "${line:-apt gave no reason}" "${unmet:+ (unmet dependencies: $unmet)}" |
        tr -s '\n\t' '  '
}

# apt's block "The following packages have unmet dependencies:" (apt 3 writes "Unsatisfied
# dependencies:"), one "PACKAGE : Depends: ..." a line.
qavel_apt_unmet() {  # LOG
    awk '/^(The following packages have unmet dependencies|Unsatisfied dependencies):$/ { on = 1; next }
         on && /^ / { gsub(/  +/, " "); sub(/^ /, ""); if ($0 !~ / : /) $0 = package " : " $0
                      else package = substr($0, 1, index($0, " : ") - 1); print; next }
         on { exit }' "$1"
}

# Whether apt's install failed only because the i386 packages cannot be had in the versions that
# go with this machine's amd64 ones (what a mirror without its i386 list gives): apt found no
# such package, or its resolver gave up on unmet dependencies of i386 packages. The amd64
# packages may be listed too: a library of both architectures must have one version in both, so
# an i386 one in another version breaks its amd64 users. A full disk, a failed download or a
# dpkg error reads otherwise.
qavel_apt_i386_unavailable() {  # LOG
    local error unmet
    error=$(grep -m1 '^E: ' "$1" || true)
    case $error in
        "E: Unable to locate package "*:i386 | "E: Package '"*":i386' has no installation candidate")
            return 0 ;;
        "E: Unable to correct problems, you have held broken packages."* | \
            "E: Error, pkgProblemResolver::Resolve generated breaks"*) ;;
        *) return 1 ;;
    esac
    unmet=$(qavel_apt_unmet "$1")
    printf '%s\n' "$unmet" | grep -q '^[^ ]*:i386 : '
}

# apt-get update, waiting up to 600 s while another apt holds the lists lock (a freshly booted
# machine's daily apt job): apt waits for the dpkg lock when told to (DPkg::Lock::Timeout), not
# for this one, and takes it with fcntl, which flock does not see. Its output goes to LOG.
qavel_apt_update() {  # LOG
    local deadline=$((SECONDS + 600)) said=""
    while ! apt-get update -qq >"$1" 2>&1; do
        grep -q '^E: Could not get lock .*/lists/lock' "$1" && [ $SECONDS -lt $deadline ] || return 1
        [ -n "$said" ] ||
            echo "install: waiting for the apt lists lock: $(grep -m1 '^E: Could not get lock' "$1")"
        said=1
        sleep 5
    done
}

# Installs what is missing of every group that this machine needs (the 32-bit Wine only where
# 32-bit x86 programs run, given as X86_SKIP: empty or why not). Says in one line each what it did
# and, in one line, what it could not install and why; writes that to QAVEL_INSTALL_REPORT.
# Never stops the caller: a missing package fails the tests that need it, except the 32-bit Wine
# while the mirror does not deliver an i386 list. Sets QAVEL_X86_SKIP to X86_SKIP, or to that
# reason.
qavel_install() {  # X86_SKIP
    local x86_skip=$1 group p log missing=() wanted=() failed=()
    QAVEL_X86_SKIP=$x86_skip
    mkdir -p "$(dirname "$QAVEL_INSTALL_REPORT")"
    : >"$QAVEL_INSTALL_REPORT"
    for group in "${QAVEL_GROUPS[@]}"; do
        [ "$group" = wine32 ] && [ -n "$x86_skip" ] && continue
        for p in ${QAVEL_GROUP_PACKAGES[$group]}; do
            qavel_installed "$p" || missing+=("$p")
        done
    done
    [ ${#missing[@]} -eq 0 ] && { echo "install: every package is already installed"; return 0; }
    if [ "$(id -u)" != 0 ]; then
        echo "install: not root, so not installed (run as root to install them): ${missing[*]}"
        for p in "${missing[@]}"; do
            printf '%s\tnot installed, and the test command did not run as root\n' "$p" >>"$QAVEL_INSTALL_REPORT"
        done
        return 0
    fi
    log=$(mktemp)
    # Wine's 32-bit part, for the 32-bit program, comes from the i386 architecture.
    if [ -z "$x86_skip" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    # A list that fails (a mirror in the middle of a sync) leaves the others updated: go on with
    # what apt has, and say so.
    local stale="" i386_list=""
    if ! qavel_apt_update "$log"; then
        echo "install: apt-get update failed for some lists, installing from the lists apt has: $(qavel_apt_reason "$log")"
        stale=$(grep -o -m1 'Failed to fetch [^ ]*' "$log" | sed 's/^Failed to fetch //' || true)
        stale="; apt-get update could not fetch ${stale:-every list}"
        i386_list=$(grep -m1 '^E: Failed to fetch [^ ]*/binary-i386/' "$log" | sed 's/^E: //; s/ *\[IP: [^]]*\]//' || true)
    fi
    for group in "${QAVEL_GROUPS[@]}"; do
        [ "$group" = wine32 ] && [ -n "$x86_skip" ] && continue
        wanted=()
        for p in ${QAVEL_GROUP_PACKAGES[$group]}; do
            qavel_installed "$p" || wanted+=("$p")
        done
        [ ${#wanted[@]} -eq 0 ] && continue
        if DEBIAN_FRONTEND=noninteractive apt-get install -y -q -o DPkg::Lock::Timeout=600 \
            "${wanted[@]}" >"$log" 2>&1; then
            echo "install: ${QAVEL_GROUP_TITLE[$group]}: ${wanted[*]}"
        elif [ "$group" = wine32 ] && [ -n "$i386_list" ] && qavel_apt_i386_unavailable "$log"; then
            # Without its i386 list the mirror cannot give the i386 packages in the versions of
            # the amd64 ones they must match: nothing this machine could run, so not a failure.
            QAVEL_X86_SKIP="wine32:i386 cannot be installed while the mirror does not deliver an i386 list ($(echo "$i386_list" | tr -s ' \t;' '  ,'))"
            echo "install: ${QAVEL_GROUP_TITLE[$group]} not installed, the x86 Windows cases will be skipped: $QAVEL_X86_SKIP"
        else
            local reason
            reason="$(qavel_apt_reason "$log")$stale"
            failed+=("${wanted[*]} (${QAVEL_GROUP_TITLE[$group]}: $reason)")
            for p in "${wanted[@]}"; do
                printf '%s\t%s\n' "$p" "$reason" >>"$QAVEL_INSTALL_REPORT"
            done
        fi
    done
    rm -f "$log"
    if [ ${#failed[@]} -gt 0 ]; then
        local IFS=';'
        echo "install: NOT INSTALLED, the tests that need them will fail: ${failed[*]}"
    fi
    return 0
}
