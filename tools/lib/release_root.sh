#!/usr/bin/env bash
# The other Debian release (12 "bookworm" and 13 "trixie"), as a root made with debootstrap from
# this machine's own mirror and kept in build/roots/CODENAME; the test command runs itself again
# inside it. Sourced by tools/test-all.sh after tools/lib/install.sh; safe under
# `set -euo pipefail`.

# The codename of the release this machine runs, or of the one named by an os-release file.
qavel_release_codename() {  # [OS-RELEASE]
    (. "${1:-/etc/os-release}" 2>/dev/null && echo "${VERSION_CODENAME:-unknown}")
}

# The release beside CODENAME, empty for one the project does not build on.
qavel_other_release() {  # CODENAME
    case $1 in
        bookworm) echo trixie ;;
        trixie) echo bookworm ;;
    esac
}

qavel_release_title() {  # CODENAME
    case $1 in
        bookworm) echo "Debian 12 (bookworm)" ;;
        trixie) echo "Debian 13 (trixie)" ;;
        *) echo "$1" ;;
    esac
}

# The mirror this machine's own lists come from (debian, then debian-security), one URI a line.
qavel_release_mirrors() {
    local main security
    main=$(apt-get indextargets --format '$(REPO_URI)' 'Identifier: Packages' 2>/dev/null |
        grep -v -- '-security' | grep -m1 '/debian/$' || true)
    security=$(apt-get indextargets --format '$(REPO_URI)' 'Identifier: Packages' 2>/dev/null |
        grep -m1 -- '-security/$' || true)
    echo "${main:-http://deb.debian.org/debian/}"
    echo "${security:-http://deb.debian.org/debian-security/}"
}

# Makes ROOT for CODENAME when it is missing or was left half made (debootstrap into ROOT.tmp,
# then renamed), with the release's three suites. Says why in one line and returns 1 when it
# cannot.
qavel_release_root_make() {  # CODENAME ROOT
    local codename=$1 root=$2 main security
    [ -f "$root/.qavel-complete" ] && return 0
    if [ "$(id -u)" != 0 ]; then
        echo "the $(qavel_release_title "$codename") root needs root (debootstrap, chroot)"
        return 1
    fi
    # With everything the test command installs and builds there it holds about 10 GB.
    qavel_need_space "$(dirname "$root")" 16384 "the $(qavel_release_title "$codename") root" 2>&1 || return 1
    command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
        -o DPkg::Lock::Timeout=600 debootstrap >/dev/null 2>&1 || {
        echo "debootstrap is missing and could not be installed"
        return 1
    }
    { read -r main; read -r security; } < <(qavel_release_mirrors)
    # Never into a bind mount of the machine's own /dev, /sys or /proc.
    qavel_release_unmount "$root"
    qavel_release_unmount "$root.tmp"
    rm -rf --one-file-system "$root" "$root.tmp"
    if ! debootstrap --variant=minbase --include=ca-certificates "$codename" "$root.tmp" "$main" \
        >"$root.log" 2>&1; then
        echo "debootstrap $codename $main failed: $(grep -m1 '^E: ' "$root.log" || tail -n1 "$root.log")"
        return 1
    fi
    rm -f "$root.tmp/etc/apt/sources.list"
    cat >"$root.tmp/etc/apt/sources.list.d/debian.sources" <<EOF
Types: deb
URIs: $main
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: $security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    cp /etc/resolv.conf "$root.tmp/etc/resolv.conf" 2>/dev/null || true
    touch "$root.tmp/.qavel-complete"
    mv "$root.tmp" "$root"
}

qavel_release_mount() {  # ROOT
    local root=$1
    mountpoint -q "$root/proc" || mount -t proc proc "$root/proc"
    mountpoint -q "$root/sys" || mount --rbind /sys "$root/sys"
    if ! mountpoint -q "$root/dev"; then
        mount --rbind /dev "$root/dev"
        mount --make-rslave "$root/dev"
    fi
    mountpoint -q "$root/sys" && mount --make-rslave "$root/sys"
}

# Ends every process still running inside ROOT (what a failed case left behind there), so that
# nothing of the other release outlives its run.
qavel_release_stop_processes() {  # ROOT
    local root pid pids=()
    root=$(realpath "$1")
    for pid in $(ls /proc | grep -E '^[0-9]+$'); do
        [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && pids+=("$pid")
    done
    [ ${#pids[@]} -eq 0 ] && return 0
    echo "ending what was left running in $root: $(for pid in "${pids[@]}"; do
        tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | cut -c1-60; echo -n '; '; done)"
    kill -TERM "${pids[@]}" 2>/dev/null || true
    sleep 2
    for pid in "${pids[@]}"; do  # only those still there, not a number used again meanwhile
        [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && kill -KILL "$pid" 2>/dev/null
    done
    return 0
}

qavel_release_unmount() {  # ROOT
    local root=$1 point
    for point in dev sys proc; do
        mountpoint -q "$root/$point" 2>/dev/null && umount -R -l "$root/$point"
    done
    return 0
}

# Copies this checkout's files (tracked and new, not ignored: what a clone of it would hold, with
# the changes not yet committed) into ROOT/src/qavel, keeping the build folder there.
qavel_release_copy_source() {  # SOURCE ROOT
    local source=$1 dest=$2/src/qavel
    mkdir -p "$dest"
    find "$dest" -mindepth 1 -maxdepth 1 ! -name build -exec rm -rf {} +
    if git -C "$source" rev-parse --git-dir >/dev/null 2>&1; then
        (cd "$source" && git ls-files -co --exclude-standard -z | tar -c --null -T - -f -) | tar -x -C "$dest"
    else
        (cd "$source" && tar -c --exclude=./build -f - .) | tar -x -C "$dest"
    fi
}

# Runs the test command of SOURCE inside the CODENAME root kept in SOURCE/build/roots, leaving its
# output in LOG. Prints that run's closing counts as "P F S", or one line that starts with
# "error:" and says why it could not run.
qavel_release_run() {  # SOURCE CODENAME LOG
    local source=$1 codename=$2 log=$3 root line why status=0
    root=$source/build/roots/$codename
    if ! why=$(qavel_release_root_make "$codename" "$root"); then
        echo "error: $why"
        return 0
    fi
    qavel_release_copy_source "$source" "$root"
    # Mounts left behind would make a later `rm -rf build` reach into the machine's own /dev.
    # (Run in a command substitution, so the trap is this subshell's alone.)
    trap "qavel_release_stop_processes '$root' >/dev/null; qavel_release_unmount '$root'" EXIT
    trap 'exit 143' TERM INT HUP
    qavel_release_mount "$root"
    chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin CI="${CI:-}" \
        QAVEL_IN_RELEASE_ROOT=1 QAVEL_I386="${QAVEL_I386:-}" \
        bash /src/qavel/tools/test-all.sh >"$log" 2>&1 || status=$?
    qavel_release_stop_processes "$root" >>"$log"
    qavel_release_unmount "$root"
    line=$(grep -E '^([A-Za-z]+: )?[0-9]+ passed, [0-9]+ failed(, [0-9]+ skipped)?$' "$log" | tail -n1 || true)
    if [ -z "$line" ]; then
        echo "error: its test command ended (status $status) without a closing line: $(tail -n1 "$log")"
        return 0
    fi
    echo "$line" | sed -E 's/^[A-Za-z]+: //; s/([0-9]+) passed, ([0-9]+) failed(, ([0-9]+) skipped)?/\1 \2 \4/' |
        awk '{ print $1, $2, ($3 == "" ? 0 : $3) }'
}
