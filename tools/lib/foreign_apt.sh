#!/usr/bin/env bash
# apt for the packages of another architecture (arm64, armhf), on a state of its own below a
# folder: its lists, its download cache and an empty dpkg status. The host's apt lists, its
# architectures and its dpkg are never touched, so a list of that architecture that is out of step
# on the mirror can only fail what needs that architecture. The sources are the host's.
# Sourced; safe under `set -euo pipefail`.

# Where the test command and the toolchain files keep an architecture's apt state and sysroot.
qavel_foreign_dir() {  # ARCH
    echo "$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/foreign/$1"
}

# apt-get or apt-cache with DIR's state and ARCH as the only architecture.
qavel_foreign_apt() {  # DIR ARCH apt-get|apt-cache ARGUMENTS...
    local dir=$1 arch=$2 command=$3
    shift 3
    "$command" -o Dir::State="$dir" -o Dir::State::status="$dir/status" -o Dir::Cache="$dir/cache" \
        -o APT::Architecture="$arch" -o APT::Architectures::="$arch" -o Debug::NoLocking=1 \
        -o APT::Sandbox::User=root "$@"
}

# Updates DIR's lists. A list that cannot be fetched (a mirror in the middle of a sync) leaves the
# others updated: one line names it with apt's reason, the same line goes to DIR/update-failed for
# the failures that may follow from it, and the update counts as done while any list is there.
qavel_foreign_update() {  # DIR ARCH
    local dir=$1 arch=$2 log note
    mkdir -p "$dir/lists/partial" "$dir/cache/archives/partial"
    touch "$dir/status"
    rm -f "$dir/update-failed"
    log=$(mktemp)
    if ! qavel_foreign_apt "$dir" "$arch" apt-get update -q >"$log" 2>&1 ||
        grep -q '^E: ' "$log"; then
        note="apt-get update for $arch could not fetch"
        note+=" $(grep -o 'Failed to fetch [^ ]*' "$log" | sed 's/^Failed to fetch //' | tr '\n' ' ')"
        note+="($(grep -m1 -A1 '^Err:' "$log" | tail -n 1 | sed 's/^ *//'))"
        echo "$note" | tee "$dir/update-failed"
    fi
    rm -f "$log"
    compgen -G "$dir/lists/*_Packages*" >/dev/null || {
        echo "apt-get update for $arch fetched no list of packages" >&2
        return 1
    }
}

# What DIR's last update could not fetch, as "; LINE", or nothing.
qavel_foreign_update_note() {  # DIR
    [ -s "$1/update-failed" ] && printf '; %s' "$(cat "$1/update-failed")"
    return 0
}
