#!/usr/bin/env bash
# Boots Debian's kernel in qemu with the guest's programs in a busybox initramfs, runs every case
# in one boot and leaves one result per case in WORK/results (CASE.status, CASE.log).
# Fails, naming the step (download, boot, module), when the guest could not run its cases; a case
# the guest did not report is left without a result, and its own test names the case step.
# usage: run_guest.sh WORK SOURCE BRIDGE HID_TESTS RUNNER PROGRAM PROBE CASE...
set -euo pipefail
work=$1
source=$2
bridge=$3
hid_tests=$4
runner=$5
program=$6
probe=$7
shift 7
cases=("$@")

results=$work/results
cache=$work/cache
rm -rf "$results" "$work/root"
mkdir -p "$results" "$cache"
tier_start=$SECONDS

failed_step() {  # step, reason
    echo "$1: $2" > "$results/failed-step"
    echo "kernel tier: the $1 step failed: $2"
    echo "kernel tier: $((SECONDS - tier_start)) s"
    exit 1
}

# --- download: the versioned kernel package behind linux-image-amd64, cached per version --------
resolve_package() {
    { apt-cache depends linux-image-amd64 2> /dev/null || true; } |
        awk '/Depends: linux-image-[0-9]/ && !found { print $2; found = 1 }'
}
package=$(resolve_package)
if [ -z "$package" ] && [ "$(id -u)" = 0 ]; then
    apt-get update -qq > /dev/null 2>&1 || true
    package=$(resolve_package)
fi
[ -n "$package" ] || failed_step download "apt-cache knows no package that linux-image-amd64 depends on"
kernel=$cache/$package
if [ ! -f "$kernel/complete" ]; then
    find "$cache" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
    mkdir -p "$kernel/deb"
    echo "kernel tier: downloading $package"
    if ! (cd "$kernel/deb" && apt-get download "$package") > "$kernel/download.log" 2>&1; then
        failed_step download "apt-get download $package: $(tail -n 2 "$kernel/download.log" | tr '\n' ' ')"
    fi
    if ! dpkg-deb --fsys-tarfile "$kernel"/deb/*.deb |
        tar -x -C "$kernel/deb" --wildcards './boot/vmlinuz-*' \
            '*/kernel/drivers/hid/hid.ko' '*/kernel/drivers/hid/hid-generic.ko' \
            '*/kernel/drivers/hid/uhid.ko'; then
        failed_step download "$package does not hold vmlinuz, hid.ko, hid-generic.ko and uhid.ko"
    fi
    mv "$kernel"/deb/boot/vmlinuz-* "$kernel/vmlinuz"
    find "$kernel/deb" -name '*.ko' -exec mv {} "$kernel/" \;
    rm -rf "$kernel/deb"
    touch "$kernel/complete"
fi
download_done=$SECONDS

# --- the initramfs: busybox, the modules, the guest's programs and their scenarios --------------
root=$work/root
mkdir -p "$root"/{bin,lib,etc,dev,proc,sys,tmp,runs,scenarios}
. "$source/tools/lib/require.sh"
missing=$(qavel_require busybox-static busybox qemu-system-x86 qemu-system-x86_64 2>&1) ||
    failed_step boot "$(echo $missing)"
busybox=$(command -v busybox)
if ldd "$busybox" > /dev/null 2>&1; then
    failed_step boot "$busybox is linked dynamically; the guest needs busybox-static"
fi
cp "$busybox" "$root/bin/busybox"
cp "$bridge" "$hid_tests" "$runner" "$root/bin/"
cp "$kernel"/*.ko "$root/lib/"
cp "$source/tests/kernel/guest_init.sh" "$root/init"
chmod 755 "$root/init"
cp "$source"/tests/runs/*.scenario "$source"/tests/runs/*.expected "$source"/tests/runs/*.transcript \
    "$root/runs/"
cp "$source"/tests/kernel/*.scenario "$source/tests/linux/hid_preload.scenario" "$root/scenarios/"
{
    echo "root:x:0:0:root:/:/bin/sh"
    for uid in $(seq 1001 1009); do echo "u$uid:x:$uid:$uid::/tmp:/bin/sh"; done
} > "$root/etc/passwd"
{
    echo "root:x:0:"
    for uid in $(seq 1001 1009); do echo "u$uid:x:$uid:"; done
} > "$root/etc/group"

# --- the X side: Xvfb, its keymap compiler, the real program and what reads its screen ----------
# These are dynamic, so each comes with the libraries ldd names for it, at the same paths. Without
# one of them only the cases under X fail, saying which is missing.
copy_with_libraries() {  # FILE PATH-IN-GUEST
    mkdir -p "$root$(dirname "$2")"
    cp "$1" "$root$2"
    local lib
    for lib in $(ldd "$1" | awk '$3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }'); do
        if [ ! -e "$root$lib" ]; then
            mkdir -p "$root$(dirname "$lib")"
            cp -L "$lib" "$root$lib"
        fi
    done
}
x_missing=
for tool in Xvfb:xvfb xkbcomp:x11-xkb-utils xdotool:xdotool; do
    name=${tool%%:*}
    if path=$(command -v "$name"); then
        copy_with_libraries "$path" "/usr/bin/$name"  # the server runs /usr/bin/xkbcomp
    else
        x_missing+="$name (package ${tool#*:}) "
    fi
done
xkb=/usr/share/X11/xkb
# The server's default keymap (rules evdev, model pc105, layout us) needs only these.
for part in rules/evdev keycodes types compat geometry/pc symbols/pc symbols/us symbols/inet \
    symbols/keypad symbols/altwin symbols/srvr_ctrl; do
    if [ -e "$xkb/$part" ]; then
        mkdir -p "$root$xkb/$(dirname "$part")"
        cp -r "$xkb/$part" "$root$xkb/$part"
    else
        x_missing+="$xkb/$part (package xkb-data) "
    fi
done
copy_with_libraries "$program" /bin/qavel-calib
copy_with_libraries "$probe" /bin/x11probe
mkdir -p "$root/var/lib/xkb"
[ -z "$x_missing" ] || echo "the host has no ${x_missing% }" > "$root/etc/x-missing"

# One newc entry; the console node needs no root on the host this way.
newc_entry() {  # name, mode, rdev major, rdev minor
    local size=$((${#1} + 1))
    printf '070701%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X' \
        0 "$2" 0 0 1 0 0 0 0 "$3" "$4" "$size" 0
    printf '%s\0' "$1"
    head -c $(((4 - (110 + size) % 4) % 4)) /dev/zero
}
(cd "$root" && find . | "$busybox" cpio -o -H newc 2> /dev/null) > "$work/initrd" ||
    failed_step boot "cpio could not pack the initramfs"
{
    newc_entry dev/console $((8#020600)) 5 1
    newc_entry 'TRAILER!!!' 0 0 0
} >> "$work/initrd"

# --- boot and run the cases ---------------------------------------------------------------------
console=$work/console.log
# TCG only: this machine's /dev/kvm opens and then hangs the guest.
qemu_status=0
timeout 300 qemu-system-x86_64 -accel tcg -m 256 -smp 1 -nodefaults -no-reboot -display none \
    -serial stdio -kernel "$kernel/vmlinuz" -initrd "$work/initrd" \
    -append "console=ttyS0 quiet panic=-1 rdinit=/init" < /dev/null 2> "$work/qemu.err" |
    tr -d '\r' > "$console" || qemu_status=${PIPESTATUS[0]}
guest_done=$SECONDS

show_console() {
    echo "--- last lines of $console"
    { grep -v '^@qk log ' "$console" || true; } | tail -n 25
    if [ -s "$work/qemu.err" ]; then
        echo "--- qemu:"
        tail -n 5 "$work/qemu.err"
    fi
}

if ! grep -q '^@qk step boot ok' "$console"; then
    show_console
    failed_step boot "the guest did not reach /init (qemu status $qemu_status)"
fi
if module_line=$(grep -m1 '^@qk step module fail' "$console"); then
    show_console
    failed_step module "${module_line#@qk step module fail }"
fi

while IFS= read -r line; do
    case $line in
    "@qk log "*)
        rest=${line#@qk log }
        printf '%s\n' "${rest#* }" >> "$results/${rest%% *}.log"
        ;;
    "@qk case "*)
        rest=${line#@qk case }
        echo "${rest#* }" > "$results/${rest%% *}.status"
        ;;
    esac
done < "$console"

pass=0
fail=0
missing=()
for case in "${cases[@]}"; do
    if [ ! -f "$results/$case.status" ]; then
        missing+=("$case")
    elif [ "$(cat "$results/$case.status")" = pass ]; then
        pass=$((pass + 1))
    else
        fail=$((fail + 1))
    fi
done
echo "kernel tier: $package, $pass cases passed, $fail failed;" \
    "$((SECONDS - tier_start)) s (download and unpack $((download_done - tier_start)) s," \
    "guest $((guest_done - download_done)) s)"
# The cases without a result fail on their own, saying so; the boot itself did its part.
if ! grep -q '^@qk done' "$console" || [ ${#missing[@]} -gt 0 ]; then
    show_console
    echo "case: the guest ended without a result for: ${missing[*]:-(none)} (qemu status $qemu_status)" \
        > "$results/failed-step"
    cat "$results/failed-step"
fi
exit 0
