#!/usr/bin/env bash
# What a test needs from the machine, and why it is missing. Sourced; safe under
# `set -euo pipefail`.

# Where the test command leaves what it could not install, one "package<TAB>reason" a line.
QAVEL_INSTALL_REPORT=${QAVEL_INSTALL_REPORT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/install-report.txt}

# Returns 0 when every COMMAND (a name on PATH or a path) is there; otherwise says on standard
# error which is missing, from which package and, where the test command could not install it,
# apt's reason, and returns 1.
qavel_require() {  # PACKAGE COMMAND [PACKAGE COMMAND]...
    local package command reason status=0
    while [ $# -ge 2 ]; do
        package=$1
        command=$2
        shift 2
        command -v "$command" >/dev/null 2>&1 && continue
        reason=$(awk -F'\t' -v p="$package" '$1 == p { print $2; exit }' "$QAVEL_INSTALL_REPORT" 2>/dev/null || true)
        echo "$command is missing: package $package is not installed${reason:+; the test command could not install it: $reason}" >&2
        status=1
    done
    return $status
}

# apt's answer when it has no PACKAGE to install on this machine (no such package, or none with
# a candidate): the test command's, from its report, else apt's own when asked to simulate the
# install now. Returns 1, printing nothing, when apt could install it or failed for another reason.
qavel_not_packaged() {  # PACKAGE
    local reason
    reason=$(awk -F'\t' -v p="$1" '$1 == p { print $2; exit }' "$QAVEL_INSTALL_REPORT" 2>/dev/null || true)
    [ -n "$reason" ] || reason=$(apt-get install -s -q "$1" 2>&1 | grep -m1 '^E: ' || true)
    case $reason in
    "E: Unable to locate package $1"* | "E: Package '$1' has no installation candidate"*) echo "$reason" ;;
    *) return 1 ;;
    esac
}

# Ends the calling test as skipped, for REASON (one of the reasons the README lists), in the one
# line CTest looks for (SKIP_REGULAR_EXPRESSION "QAVEL SKIP: "; the test command prints it in its
# summary). No exit status means "skipped", so a script that stops early by accident fails.
qavel_skip() {  # REASON
    echo "QAVEL SKIP: $*"
    exit 0
}

# Fails, saying in one line what needs how much where, when the file system of DIR (or of its
# nearest existing parent) has less than MIB MiB free.
qavel_need_space() {  # DIR MIB WHAT
    local dir=$1 need=$2 free
    while [ ! -d "$dir" ]; do dir=$(dirname "$dir"); done
    free=$(($(df -Pk "$dir" | awk 'NR == 2 { print $4 }') / 1024))
    [ "$free" -ge "$need" ] && return 0
    echo "not enough free disk space: $3 needs $need MiB in $1, only $free MiB are free" >&2
    return 1
}
