#!/usr/bin/env bash
# Makes the Windows zip with CPack from the 64-bit build (which carries the 32-bit build's program
# too) and checks it: both programs, each of the architecture its folder names, with its version
# resource, and importing only functions that its oldest Windows has (windows_imports.txt); the
# short text and the licence beside them.
#   windows_zip.sh WINDOWS-BUILD-DIR OUT-DIR VERSION
set -euo pipefail
. "$(dirname "$0")/../../tools/lib/display.sh"
build=$1
out=$2
version=$3
list=$(dirname "$0")/windows_imports.txt

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

rm -rf "$out"
mkdir -p "$out"
cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
    { cat "$out/cpack.log"; fail "cpack"; }
name=qavel-calib-$version-windows
zip=$out/$name.zip
[ -f "$zip" ] || fail "no $name.zip in: $(ls "$out")"

files=$(cd "$out" && cmake -E tar tf "$zip" | grep -v '/$' | sort)
expected=$(printf '%s\n' "$name/LICENSE.txt" "$name/README.txt" "$name/x64/qavel-calib.exe" \
    "$name/x86/qavel-calib.exe" | sort)
[ "$files" = "$expected" ] || fail "zip files:
$files
expected:
$expected"
(cd "$out" && cmake -E tar xf "$zip") || fail "cannot unpack the zip"
grep -q "qavel-calib $version" "$out/$name/README.txt" || fail "README.txt lacks the version"
grep -q $'\r$' "$out/$name/README.txt" || fail "README.txt has no Windows line ends"
grep -q 'x64\\qavel-calib.exe on 64-bit Windows and x86\\qavel-calib.exe on 32-bit Windows' \
    "$out/$name/README.txt" || fail "README.txt does not say which program to run"

# The functions an image imports, one "DLL FUNCTION" a line.
imports() {  # EXE
    x86_64-w64-mingw32-objdump -p "$1" | awk '
        /^The Import Tables/ { on = 1; next }
        on && /^(The |PE File|There is)/ { on = 0 }
        on && /^\tDLL Name:/ { dll = toupper($3); next }
        on && dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print dll, $3 }'
}

# Checks the imports of EXE against the list: each must be listed, and none newer than the
# oldest Windows the list names for ARCH. Prints that Windows and the newest import.
check_imports() {  # ARCH EXE
    imports "$2" | sort -u | awk -v arch="$1" '
        BEGIN { split("2000 xp vista 7 8 8.1 10", order); for (i in order) rank[order[i]] = i }
        NR == FNR {
            if (/^#/ || NF == 0) next
            if ($1 == "oldest") { if ($2 == arch) oldest = $3; next }
            if (!($1 in rank)) { print "unknown version " $1; bad = 1; next }
            for (i = 3; i <= NF; i++) since[$2 " " $i] = $1
            next
        }
        !(($1 " " $2) in since) { print arch " imports " $1 " " $2 ", which the list lacks"; bad = 1; next }
        rank[since[$1 " " $2]] > rank[newest] { newest = since[$1 " " $2]; which = $2 }
        END {
            if (!(oldest in rank)) { print "the list names no oldest Windows for " arch; bad = 1 }
            else if (rank[newest] > rank[oldest]) {
                print arch " imports " which " of Windows " newest ", newer than its oldest, " oldest; bad = 1
            }
            if (bad) exit 1
            print oldest " (newest import: " which ", " newest ")"
        }' "$list" -
}

IFS=. read -r major minor patch <<<"$version"
binary="$major, $minor, $patch, 0"
text="$version.0"
for arch in x64 x86; do
    exe=$out/$name/$arch/qavel-calib.exe
    expect_arch=$(qavel_pe_arch "$exe")
    [ "$expect_arch" = "$arch" ] || fail "$arch/qavel-calib.exe is a $expect_arch image"

    rc=$(x86_64-w64-mingw32-windres -i "$exe" -O rc 2>&1) || fail "cannot read the resources of $arch: $rc"
    grep -q "^ *FILEVERSION $binary\$" <<<"$rc" || fail "$arch: FILEVERSION is not $binary"
    grep -q "^ *PRODUCTVERSION $binary\$" <<<"$rc" || fail "$arch: PRODUCTVERSION is not $binary"
    grep -q "VALUE \"FileVersion\", \"$text\"" <<<"$rc" || fail "$arch: FileVersion string is not $text"
    grep -q "VALUE \"ProductVersion\", \"$text\"" <<<"$rc" || fail "$arch: ProductVersion string is not $text"
    manifest_arch=$([ $arch = x64 ] && echo amd64 || echo x86)
    grep -q "version=\"\"$text\"\"" <<<"$rc" || fail "$arch: the manifest's version is not $text"
    grep -q "processorArchitecture=\"\"$manifest_arch\"\"" <<<"$rc" ||
        fail "$arch: the manifest does not name $manifest_arch"

    oldest=$(check_imports $arch "$exe") || fail "$oldest"
    echo "$arch: $(stat -c %s "$exe") bytes, $(imports "$exe" | sort -u | wc -l) imports, oldest Windows $oldest"
done
echo PASS
