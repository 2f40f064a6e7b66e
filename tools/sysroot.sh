#!/usr/bin/env bash
# Makes the sysroot of a cross build for ARCH (arm64, armhf) in build/foreign/ARCH/sysroot:
# Debian's packages of the libraries the program and its tests are built against
# (QAVEL_LIBRARIES in tools/lib/install.sh) and the C and C++ runtimes, with every package they
# depend on, downloaded through apt state of their own (tools/lib/foreign_apt.sh) and unpacked
# with dpkg-deb. Nothing is installed on this machine. A dpkg database of its own
# (var/lib/dpkg below it) records which package holds each file, with the packages' shlibs and
# symbols files, for dpkg-shlibdeps.
# With NAME and PACKAGEs it makes build/foreign/ARCH/NAME of those packages the same way (the
# X programs of the kernel tier's guest).
# The toolchain files run it at configure time. Each folder is kept while its list of packages
# stays the same; remove it to take newer packages. Prints nothing when it has nothing to do.
#   tools/sysroot.sh ARCH [NAME PACKAGE...]
set -euo pipefail
arch=$1
name=${2:-sysroot}
lib=$(dirname "$0")/lib
. "$lib/install.sh"
. "$lib/foreign_apt.sh"
if [ $# -gt 2 ]; then
    packages="${*:3}"
else
    # The compilers bring their own libc and C++ headers; dpkg-shlibdeps needs the runtimes.
    packages="libc6 libgcc-s1 libstdc++6 $QAVEL_LIBRARIES"
fi
dir=$(qavel_foreign_dir "$arch")
root=$dir/$name
debs=$dir/$name.debs
admin=$root/var/lib/dpkg
want=$(echo "$arch" $packages)
[ "$(cat "$admin/qavel-packages" 2>/dev/null)" = "$want" ] && exit 0

fail() {
    echo "the $arch $name could not be made: $*$(qavel_foreign_update_note "$dir")" >&2
    exit 1
}

# The arm64 sysroot holds some 300 MiB; its lists and packages come on top while it is made.
space=$(qavel_need_space "$dir" 500 "the $arch $name" 2>&1) || fail "$space"
echo "$name for $arch: downloading $packages and their dependencies into $root"
qavel_foreign_update "$dir" "$arch" || fail "no list of $arch packages"
rm -rf "$debs" "$root"
mkdir -p "$debs/partial" "$admin/info" "$admin/updates"
# On the empty status apt resolves every dependency, as for a fresh installation.
qavel_foreign_apt "$dir" "$arch" apt-get -o Dir::Cache::archives="$debs" install --download-only \
    --no-install-recommends -y -q $packages >"$debs/download.log" 2>&1 ||
    fail "$(grep -m1 '^E: ' "$debs/download.log" || tail -n 1 "$debs/download.log")"

echo 1 >"$admin/info/format"
: >"$admin/status"
control=$(mktemp -d)
for deb in "$debs"/*.deb; do
    dpkg-deb -x "$deb" "$root"
    # dpkg names the files of a Multi-Arch: same package with its architecture.
    entry=$(dpkg-deb -f "$deb" Package)
    [ "$(dpkg-deb -f "$deb" Multi-Arch)" = same ] && entry+=":$(dpkg-deb -f "$deb" Architecture)"
    { dpkg-deb -f "$deb"; echo "Status: install ok installed"; echo; } >>"$admin/status"
    # The files as they lie here, so that dpkg-query --search finds the paths dpkg-shlibdeps has.
    dpkg-deb -c "$deb" | awk -v root="$root" '{ p = $6; sub(/^\.\/?/, "/", p); sub(/\/$/, "", p);
        if (p != "/") print root p }' >"$admin/info/$entry.list"
    rm -rf "${control:?}"/*
    dpkg-deb -e "$deb" "$control"
    for file in shlibs symbols; do
        [ -f "$control/$file" ] && cp "$control/$file" "$admin/info/$entry.$file"
    done
done
rm -rf "$control"
# Absolute links would point into this machine's own /usr.
find "$root" -type l -lname '/*' | while read -r link; do
    ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$root$(readlink "$link")")" "$link"
done
echo "$name for $arch: $(ls "$debs"/*.deb | wc -l) packages, $(du -sh "$root" | cut -f1)"
rm -f "$debs"/*.deb
echo "$want" >"$admin/qavel-packages"
