#!/usr/bin/env bash
# Boots Debian's kernel of ARCH in qemu with the guest's programs in a busybox initramfs, runs
# every case in one boot and leaves one result per case in WORK/results (CASE.status, CASE.log).
# Fails, naming the step (download, boot, module), when the guest could not run its cases; a case
# the guest did not report is left without a result, and its own test names the case step.
# ARCH is amd64, arm64 or armhf; the guest's programs must be built for it (the linux preset for
# amd64, linux-arm64 and linux-armhf for the others). The packages of another architecture come
# through apt state of its own (tools/lib/foreign_apt.sh), never the host's.
# UNIT_TESTS, where not "-", is the static unit test program the guest runs too; the guest's
# program must answer --version and --help as REFERENCE, this machine's own build, does.
# usage: run_guest.sh ARCH WORK SOURCE BRIDGE HID_TESTS RUNNER PROGRAM PROBE UNIT_TESTS REFERENCE CASE...
set -euo pipefail
arch=$1
work=$2
source=$3
bridge=$4
hid_tests=$5
runner=$6
program=$7
probe=$8
unit_tests=$9
reference=${10}
shift 10
cases=("$@")

results=$work/results
cache=$work/cache
rm -rf "$results" "$work/root"
mkdir -p "$results" "$cache"
tier_start=$SECONDS

failed_step() {  # step, reason
    echo "$1: $2" > "$results/failed-step"
    echo "kernel tier ($arch): the $1 step failed: $2"
    echo "kernel tier ($arch): $((SECONDS - tier_start)) s"
    exit 1
}

# Each architecture's kernel flavour, multiarch folder, emulator and console. The ARM processors
# are those of the oldest Raspberry Pi each runs on: arm64 the Pi 3's Cortex-A53 (ARMv8.0-A),
# armhf the Pi 2's Cortex-A7 without NEON, which Debian's armhf does not require. qemu also
# emulates them faster than its "max".
case $arch in
amd64)
    flavour=amd64 triplet=x86_64-linux-gnu qemu_package=qemu-system-x86 tty=ttyS0
    qemu=(qemu-system-x86_64 -accel tcg) ;;  # never KVM: here /dev/kvm opens and then hangs the guest
arm64)
    flavour=arm64 triplet=aarch64-linux-gnu qemu_package=qemu-system-arm tty=ttyAMA0
    qemu=(qemu-system-aarch64 -M virt -cpu cortex-a53) ;;
armhf)
    flavour=armmp-lpae triplet=arm-linux-gnueabihf qemu_package=qemu-system-arm tty=ttyAMA0
    # Debian's armhf baseline, VFPv3-D16 without NEON. qemu 7.2 (Debian 12) cannot take the upper
    # 16 VFP registers away; later ones (Debian 13) refuse NEON off while they are there.
    cpu=cortex-a7,neon=off,vfp-d32=off
    refusal=$(qemu-system-arm -M virt -cpu "$cpu" -nodefaults -display none -kernel /nonexistent 2>&1 || true)
    [[ $refusal == *vfp-d32*"not found"* ]] && cpu=cortex-a7,neon=off
    qemu=(qemu-system-arm -M virt -cpu "$cpu") ;;
*)
    failed_step boot "unknown architecture $arch (amd64, arm64 or armhf)" ;;
esac

. "$source/tools/lib/require.sh"
. "$source/tools/lib/foreign_apt.sh"
foreign=$(qavel_foreign_dir "$arch")
native=$([ "$arch" = "$(dpkg --print-architecture)" ] && echo yes || echo no)
apt_for_arch() {  # apt-get|apt-cache ARGUMENTS...
    if [ $native = yes ]; then "$@"; else qavel_foreign_apt "$foreign" "$arch" "$@"; fi
}
update_note() { [ $native = yes ] || qavel_foreign_update_note "$foreign"; }

# --- download: the versioned kernel package behind linux-image-FLAVOUR and busybox-static, cached
# per kernel version
resolve_package() {
    { apt_for_arch apt-cache depends "linux-image-$flavour" 2> /dev/null || true; } |
        awk '/Depends: linux-image-[0-9]/ && !found { print $2; found = 1 }'
}
package=$(resolve_package)
if [ -z "$package" ]; then
    if [ $native = no ]; then
        qavel_foreign_update "$foreign" "$arch" > /dev/null 2>&1 || true
    elif [ "$(id -u)" = 0 ]; then
        apt-get update -qq > /dev/null 2>&1 || true
    fi
    package=$(resolve_package)
fi
[ -n "$package" ] ||
    failed_step download "apt-cache knows no package that linux-image-$flavour ($arch) depends on$(update_note)"
kernel=$cache/$package
if [ ! -f "$kernel/complete" ]; then
    find "$cache" -mindepth 1 -maxdepth 1 -exec rm -rf {} +
    # A kernel package is some 100 MiB; a few files of it are kept.
    space=$(qavel_need_space "$cache" 250 "the kernel package of $arch" 2>&1) ||
        failed_step download "$space"
    mkdir -p "$kernel/deb"
    echo "kernel tier ($arch): downloading $package and busybox-static"
    if ! (cd "$kernel/deb" && apt_for_arch apt-get download "$package" busybox-static) \
        > "$kernel/download.log" 2>&1; then
        failed_step download "apt-get download $package busybox-static ($arch): $(tail -n 2 "$kernel/download.log" | tr '\n' ' ')$(update_note)"
    fi
    # Newer kernels (Debian 13's 6.12) ship their modules compressed; busybox's insmod takes only
    # the plain .ko.
    if ! dpkg-deb --fsys-tarfile "$kernel"/deb/linux-image-*.deb |
        tar -x -C "$kernel/deb" --wildcards './boot/vmlinuz-*' \
            '*/kernel/drivers/hid/hid.ko*' '*/kernel/drivers/hid/hid-generic.ko*' \
            '*/kernel/drivers/hid/uhid.ko*'; then
        failed_step download "$package does not hold vmlinuz, hid.ko, hid-generic.ko and uhid.ko"
    fi
    for module in $(find "$kernel/deb" -name '*.ko.xz' -o -name '*.ko.zst'); do
        case $module in
            *.xz) xz -d "$module" 2> "$kernel/unpack.log" ;;
            *.zst) zstd -q -d --rm "$module" 2> "$kernel/unpack.log" ;;
        esac || failed_step download "cannot unpack $(basename "$module"): $(tail -n1 "$kernel/unpack.log")"
    done
    # /bin/busybox up to Debian 12, /usr/bin/busybox from 13 (merged /usr).
    dpkg-deb --fsys-tarfile "$kernel"/deb/busybox-static_*.deb |
        tar -x -C "$kernel/deb" --wildcards './bin/busybox' './usr/bin/busybox' 2> /dev/null || true
    [ -f "$kernel/deb/bin/busybox" ] || [ -f "$kernel/deb/usr/bin/busybox" ] ||
        failed_step download "busybox-static ($arch) holds neither bin/busybox nor usr/bin/busybox"
    mv "$kernel"/deb/boot/vmlinuz-* "$kernel/vmlinuz"
    mv "$(ls "$kernel/deb/bin/busybox" "$kernel/deb/usr/bin/busybox" 2> /dev/null | head -n1)" "$kernel/busybox"
    find "$kernel/deb" -name '*.ko' -exec mv {} "$kernel/" \;
    rm -rf "$kernel/deb"
    touch "$kernel/complete"
fi
download_done=$SECONDS

# --- the initramfs: busybox, the modules, the guest's programs and their scenarios --------------
root=$work/root
mkdir -p "$root"/{bin,lib,etc,dev,proc,sys,tmp,runs,scenarios}
# The host's busybox packs the initramfs; the guest's is the one downloaded for ARCH.
missing=$(qavel_require busybox-static busybox "$qemu_package" "${qemu[0]}" 2>&1) ||
    failed_step boot "$(echo $missing)"
busybox=$(command -v busybox)
cp "$kernel/busybox" "$root/bin/busybox"
cp "$bridge" "$hid_tests" "$runner" "$root/bin/"
[ "$unit_tests" = - ] || cp "$unit_tests" "$root/bin/"
for option in version help; do
    "$reference" --$option > "$root/etc/expected.$option" ||
        failed_step boot "$reference --$option ended with status $?"
done
cp "$kernel"/*.ko "$root/lib/"
cp "$source/tests/kernel/guest_init.sh" "$root/init"
chmod 755 "$root/init"
cp "$source"/tests/runs/*.scenario "$source"/tests/runs/*.expected "$source"/tests/runs/*.transcript \
    "$root/runs/"
cp "$source"/tests/kernel/*.scenario "$source/tests/linux/hid_preload.scenario" "$root/scenarios/"
{
    echo "root:x:0:0:root:/:/bin/sh"
    for uid in $(seq 1001 1010); do echo "u$uid:x:$uid:$uid::/tmp:/bin/sh"; done
} > "$root/etc/passwd"
{
    echo "root:x:0:"
    for uid in $(seq 1001 1010); do echo "u$uid:x:$uid:"; done
} > "$root/etc/group"

# --- the X side: Xvfb, its keymap compiler, the real program and what reads its screen ----------
# These are dynamic, so each comes with the libraries it needs, at the same paths. For amd64 they
# are this machine's own; for another architecture Debian's packages of it, unpacked with their
# dependencies into build/foreign/ARCH/x-guest (tools/sysroot.sh), and the program's libraries
# come from its sysroot. Without one of them only the cases under X fail, saying which is missing.
x_missing=
if [ $native = yes ]; then
    x_root=
    lib_roots=("")
else
    x_root=$foreign/x-guest
    lib_roots=("$x_root" "$foreign/sysroot")
    if ! bash "$source/tools/sysroot.sh" "$arch" x-guest xvfb x11-xkb-utils xdotool > "$work/x-guest.log" 2>&1; then
        x_missing+="Xvfb, xkbcomp and xdotool for $arch ($(tail -n 1 "$work/x-guest.log")) "
    fi
fi

# FILE's loader and the libraries it needs, recursively, as "HOST-PATH GUEST-PATH" lines, found
# in the multiarch folders below each of lib_roots; "missing NAME" for one that is not there.
needed_libraries() {  # FILE
    local pending=("$1") seen=" " file name lib_root path found
    while [ ${#pending[@]} -gt 0 ]; do
        file=${pending[0]}
        pending=("${pending[@]:1}")
        for name in $(readelf -l "$file" 2> /dev/null | sed -n 's/.*program interpreter: \(.*\)]/\1/p') \
            $(readelf -d "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
            [[ $seen == *" $name "* ]] && continue
            seen+="$name "
            found=
            for lib_root in "${lib_roots[@]}"; do
                # The loader is named by its path; packages of a merged-/usr release (Debian
                # 13) unpacked without the /lib link hold it under /usr.
                for path in $([[ $name == /* ]] && echo "$name /usr$name" ||
                    echo "/lib/$triplet/$name /usr/lib/$triplet/$name /lib/$name /usr/lib/$name"); do
                    if [ -e "$lib_root$path" ]; then
                        found="$lib_root$path $([[ $name == /* ]] && echo "$name" || echo "$path")"
                        break 2
                    fi
                done
            done
            if [ -z "$found" ]; then
                echo "missing $name"
                continue
            fi
            echo "$found"
            pending+=("${found%% *}")
        done
    done
}

copy_with_libraries() {  # FILE PATH-IN-GUEST
    mkdir -p "$root$(dirname "$2")"
    cp "$1" "$root$2"
    local from to
    while read -r from to; do
        if [ "$from" = missing ]; then
            x_missing+="$to (needed by $(basename "$2")) "
        elif [ ! -e "$root$to" ]; then
            mkdir -p "$root$(dirname "$to")"
            cp -L "$from" "$root$to"
        fi
    done < <(needed_libraries "$1")
}
for tool in Xvfb:xvfb xkbcomp:x11-xkb-utils xdotool:xdotool; do
    name=${tool%%:*}
    if [ -x "$x_root/usr/bin/$name" ]; then
        copy_with_libraries "$x_root/usr/bin/$name" "/usr/bin/$name"  # the server runs /usr/bin/xkbcomp
    else
        x_missing+="$name (package ${tool#*:}) "
    fi
done
xkb=/usr/share/X11/xkb
# The server's default keymap (rules evdev, model pc105, layout us) needs only these.
for part in rules/evdev keycodes types compat geometry/pc symbols/pc symbols/us symbols/inet \
    symbols/keypad symbols/altwin symbols/srvr_ctrl; do
    if [ -e "$x_root$xkb/$part" ]; then
        mkdir -p "$root$xkb/$(dirname "$part")"
        cp -r "$x_root$xkb/$part" "$root$xkb/$part"
    else
        x_missing+="$xkb/$part (package xkb-data) "
    fi
done
copy_with_libraries "$program" /bin/qavel-calib
copy_with_libraries "$probe" /bin/x11probe
mkdir -p "$root/var/lib/xkb"
[ -z "$x_missing" ] || echo "the guest has no ${x_missing% }" > "$root/etc/x-missing"

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
packed=$SECONDS
qemu_status=0
timeout 300 "${qemu[@]}" -m 256 -smp 1 -nodefaults -no-reboot -display none \
    -serial stdio -kernel "$kernel/vmlinuz" -initrd "$work/initrd" \
    -append "console=$tty quiet panic=-1 rdinit=/init" < /dev/null 2> "$work/qemu.err" |
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
echo "kernel tier ($arch): $package, $pass cases passed, $fail failed;" \
    "$((SECONDS - tier_start)) s (download and unpack $((download_done - tier_start)) s," \
    "initramfs $((packed - download_done)) s, guest $((guest_done - packed)) s:" \
    "/init at $(sed -n 's/^@qk step boot ok //p' "$console"), done at $(sed -n 's/^@qk done //p' "$console")" \
    "of its own time)"
# The cases without a result fail on their own, saying so; the boot itself did its part.
if ! grep -q '^@qk done' "$console" || [ ${#missing[@]} -gt 0 ]; then
    show_console
    echo "case: the guest ended without a result for: ${missing[*]:-(none)} (qemu status $qemu_status)" \
        > "$results/failed-step"
    cat "$results/failed-step"
fi
exit 0
