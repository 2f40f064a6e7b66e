#!/usr/bin/env bash
# Makes the Windows zip with CPack from the windows build and checks it: the program and the
# short text, and the program's version resource read back (binutils' resource reader).
#   windows_zip.sh WINDOWS-BUILD-DIR OUT-DIR VERSION
set -euo pipefail
build=$1
out=$2
version=$3

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

rm -rf "$out"
mkdir -p "$out"
cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log"; fail "cpack"; }
name=qavel-calib-$version-win64
zip=$out/$name.zip
[ -f "$zip" ] || fail "no $name.zip in: $(ls "$out")"

files=$(cd "$out" && cmake -E tar tf "$zip" | grep -v '/$' | sort)
expected=$(printf '%s\n' "$name/README.txt" "$name/bin/qavel-calib.exe" | sort)
[ "$files" = "$expected" ] || fail "zip files:
$files
expected:
$expected"
(cd "$out" && cmake -E tar xf "$zip") || fail "cannot unpack the zip"
grep -q "qavel-calib $version" "$out/$name/README.txt" || fail "README.txt lacks the version"
grep -q $'\r$' "$out/$name/README.txt" || fail "README.txt has no Windows line ends"

rc=$(x86_64-w64-mingw32-windres -i "$out/$name/bin/qavel-calib.exe" -O rc 2>&1) ||
    fail "cannot read the resources: $rc"
IFS=. read -r major minor patch <<<"$version"
binary="$major, $minor, $patch, 0"
text="$version.0"
grep -q "^ *FILEVERSION $binary\$" <<<"$rc" || fail "FILEVERSION is not $binary"
grep -q "^ *PRODUCTVERSION $binary\$" <<<"$rc" || fail "PRODUCTVERSION is not $binary"
grep -q "VALUE \"FileVersion\", \"$text\"" <<<"$rc" || fail "FileVersion string is not $text"
grep -q "VALUE \"ProductVersion\", \"$text\"" <<<"$rc" || fail "ProductVersion string is not $text"
echo PASS
