#!/usr/bin/env bash
# Makes the .deb of ARCH as it ships and checks what it holds: the program, the udev rule, the
# desktop entry and its icon, the AppStream metainfo, the manual page, the copyright file and the
# changelog, nothing else; the version, with the suffix of the release it is built for; the
# architecture, in the control file and in the program's ELF header; Depends from the libraries
# really linked, each met by that release's packages; the maintainer scripts. amd64's comes from
# a build of the linux-release preset of its own, another architecture's from BUILD-DIR, a build
# of its linux-ARCH preset.
#   deb_contents.sh OUT-DIR VERSION SOURCE-DIR ARCH [BUILD-DIR]
set -euo pipefail
out=$1
version=$2
source=$3
arch=$4

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

. "$source/tools/lib/require.sh"
qavel_require dpkg-dev dpkg-shlibdeps desktop-file-utils desktop-file-validate binutils readelf \
    appstream appstreamcli ||
    fail "the machine lacks what the package check needs"
# What readelf -h says of each architecture's program: class, machine, and for armhf the
# hard-float calling convention.
case $arch in
amd64) elf="ELF64 Advanced Micro Devices X86-64" ;;
arm64) elf="ELF64 AArch64" ;;
armhf) elf="ELF32 ARM hard-float" ;;
*) fail "unknown architecture $arch" ;;
esac
# The release the package is for, as this machine's (an ARM sysroot is made from its sources):
# "+deb12" on Debian 12, nothing where no release is named (testing).
suffix=$(. /etc/os-release && [ -n "${ID:-}" ] && [ -n "${VERSION_ID:-}" ] &&
    echo "+${ID/#debian/deb}$VERSION_ID") || true
deb_version=$version$suffix
# The packages that release offers for ARCH: this machine's own, or the ARM build's sysroot.
status=/var/lib/dpkg/status
rm -rf "$out"
mkdir -p "$out"
if [ $# -ge 5 ]; then
    build=$5
    [ -f "$build/CPackConfig.cmake" ] || fail "$build is not a configured build of linux-$arch"
    status=$source/build/foreign/$arch/sysroot/var/lib/dpkg/status
else
    # Kept between runs, so that a second run builds only what changed.
    build=$out-release
    (cd "$source" && cmake --preset linux-release -B "$build" && cmake --build "$build" -j2) \
        >"$out/build.log" 2>&1 || { tail -n 40 "$out/build.log"; fail "release build"; }
fi
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log"; fail "cpack"; }
rm -rf "$out/_CPack_Packages"
deb=$out/qavel-calib_${deb_version}_$arch.deb
[ -f "$deb" ] || fail "no $(basename "$deb") in: $(ls "$out")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = qavel-calib ] || fail "package name $(field Package)"
[ "$(field Version)" = "$deb_version" ] || fail "package version $(field Version), not $deb_version"
[ "$(field Architecture)" = "$arch" ] || fail "package architecture $(field Architecture), not $arch"
depends=$(field Depends)
for library in libc6 libstdc++6 libx11-6 libxrandr2 libwayland-client0 libdecor-0-0 libcairo2 \
    libpangocairo-1.0-0 libxkbcommon0 libcanberra0; do
    [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] ||
        fail "Depends lacks $library: $depends"
done
# Each dependency has an alternative that the release's packages of ARCH (or all) meet.
[ -f "$status" ] || fail "no package list $status"
installed=$(awk -v a="$arch" '/^Package:/ { p = $2 } /^Version:/ { v = $2 }
    /^Architecture:/ { ok = $2 == a || $2 == "all" }
    /^$/ && ok { print p, v; ok = 0 } END { if (ok) print p, v }' "$status")
met() {  # "NAME [(OP VERSION)]"
    local name op want have
    read -r name op want <<<"$(tr -d '()' <<<"$1")"
    name=${name%%:*}
    while read -r _ have; do
        [ -z "$op" ] || dpkg --compare-versions "$have" "$op" "$want" && return 0
    done < <(awk -v n="$name" '$1 == n' <<<"$installed")
    return 1
}
IFS=, read -ra dependencies <<<"$depends"
for dependency in "${dependencies[@]}"; do
    dependency=${dependency# }
    IFS='|' read -ra alternatives <<<"$dependency"
    ok=0
    for alternative in "${alternatives[@]}"; do met "$alternative" && ok=1 && break; done
    [ $ok = 1 ] || fail "no package in $status meets the dependency '$dependency'"
done

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
expected=$(printf '%s\n' ./usr/bin/qavel-calib ./usr/lib/udev/rules.d/70-qavel-touch.rules \
    ./usr/share/applications/qavel-calib.desktop \
    ./usr/share/icons/hicolor/scalable/apps/qavel-calib.svg \
    ./usr/share/metainfo/invalid.qavel.calib.metainfo.xml \
    ./usr/share/man/man1/qavel-calib.1.gz ./usr/share/doc/qavel-calib/copyright \
    ./usr/share/doc/qavel-calib/changelog.gz | sort)
[ "$files" = "$expected" ] || fail "package files:
$files
expected:
$expected"

tree=$out/tree
dpkg-deb -x "$deb" "$tree"
cmp -s "$tree/usr/lib/udev/rules.d/70-qavel-touch.rules" "$source/packaging/udev/70-qavel-touch.rules" ||
    fail "the packaged udev rule differs from packaging/udev"
[ -x "$tree/usr/bin/qavel-calib" ] || fail "the program is not executable"
header=$(readelf -h "$tree/usr/bin/qavel-calib")
shown="$(awk '/Class:/ { c = $2 } /Machine:/ { sub(/^ *Machine: */, ""); m = $0 }
    /Flags:/ && /hard-float/ { h = " hard-float" } END { print c " " m h }' <<<"$header")"
[ "$shown" = "$elf" ] || fail "the program is $shown, not $elf"
desktop=$tree/usr/share/applications/qavel-calib.desktop
desktop-file-validate "$desktop" || fail "desktop entry does not validate"
grep -qx "X-Qavel-Version=$version" "$desktop" || fail "desktop entry lacks the version"
grep -qx "Categories=Settings;HardwareSettings;" "$desktop" || fail "desktop entry categories"
grep -qx "Exec=qavel-calib" "$desktop" || fail "desktop entry Exec"
grep -qx "StartupWMClass=QavelCalibHID" "$desktop" || fail "desktop entry StartupWMClass"
# The metainfo validates with the desktop entry it launches, and provides the USB device of each
# product the udev rule opens, and no other (hex digits in capitals, as software centres compare).
metainfo=$tree/usr/share/metainfo/invalid.qavel.calib.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "the AppStream metainfo does not validate"
appstreamcli validate-tree --no-net "$tree" ||
    fail "the AppStream metainfo and desktop entry do not validate"
provided=$(sed -n 's|^ *<modalias>\(.*\)</modalias>$|\1|p' "$metainfo" | sort)
ruled=$(sed -n 's/.*ATTRS{idVendor}=="\(....\)", ATTRS{idProduct}=="\(....\)".*/\1 \2/p' \
    "$tree/usr/lib/udev/rules.d/70-qavel-touch.rules" |
    while read -r v p; do echo "usb:v${v^^}p${p^^}d*"; done | sort)
[ -n "$ruled" ] && [ "$provided" = "$ruled" ] || fail "the metainfo provides
$provided
where the udev rule opens
$ruled"

doc=$tree/usr/share/doc/qavel-calib
# The licence's own words, line for line, end the copyright file (indented, "." for a blank line).
sed -n '/^Permission/,$p' "$source/LICENSE" | sed 's/^$/./; s/^/ /' >"$out/license.want"
tail -n "$(wc -l <"$out/license.want")" "$doc/copyright" | cmp -s "$out/license.want" - ||
    fail "the copyright file does not end with the text of LICENSE"
zcat "$doc/changelog.gz" >"$out/changelog"
[ "$(dpkg-parsechangelog -l "$out/changelog" -S Version)" = "$deb_version" ] ||
    fail "the changelog's newest entry is not $deb_version"
zcat "$tree/usr/share/man/man1/qavel-calib.1.gz" | grep -q "^\\.TH QAVEL-CALIB 1 .*qavel-calib $version" ||
    fail "the manual page does not name version $version"
# Another architecture's program runs only in its kernel tier's guest.
if [ "$arch" = "$(dpkg --print-architecture)" ]; then
    [ "$("$tree/usr/bin/qavel-calib" --version | head -n 1)" = "qavel-calib $version" ] || fail "--version"
    "$tree/usr/bin/qavel-calib" --help | grep -q "^Usage: qavel-calib \[--help | --version\]$" ||
        fail "--help"
fi

control=$out/control
dpkg-deb -e "$deb" "$control"
for script in postinst postrm; do
    [ -x "$control/$script" ] || fail "no executable $script"
    # Where no udev daemon runs they must succeed and do nothing.
    case $script in postinst) action=configure ;; postrm) action=remove ;; esac
    sh "$control/$script" "$action" || fail "$script $action failed"
done
grep -q "udevadm control --reload-rules" "$control/postinst" || fail "postinst does not reload udev"
grep -q "subsystem-match=hidraw" "$control/postinst" || fail "postinst does not re-trigger hidraw"
echo PASS
