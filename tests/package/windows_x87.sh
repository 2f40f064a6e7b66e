#!/usr/bin/env bash
# The 32-bit Windows program does its floating point in SSE2: no function of its own computes
# with the x87 unit, whose 80-bit intermediates give other results than the 64-bit program's.
# Loads, stores, sign changes and comparisons on the x87 stack are exact (a double returned from a
# function passes through it on 32-bit Windows) and are not counted. Of the runtime, only the
# functions named below may compute there.
#   windows_x87.sh WINDOWS-X86-BUILD-DIR
set -euo pipefail
. "$(dirname "$0")/../../tools/lib/require.sh"
exe=$1/bin/qavel-calib.exe
qavel_require binutils-mingw-w64-i686 i686-w64-mingw32-objdump
[ -f "$exe" ] || { echo "FAIL: no $exe: build the windows-x86 preset first" >&2; exit 1; }

# mingw's conversion of doubles to text, which sets the x87 precision itself.
runtime=___gdtoa

listing=$(i686-w64-mingw32-objdump -d --no-show-raw-insn "$exe")
functions=$(grep -c '^[0-9a-f]* <.*>:$' <<< "$listing" || true)
# Without symbols nothing could be told apart from the runtime's.
[ "$functions" -gt 100 ] || { echo "FAIL: $exe has no symbols ($functions functions)" >&2; exit 1; }

found=$(awk -v runtime=" $runtime " '
    /^[0-9a-f]+ <.*>:$/ { function_name = substr($2, 2, length($2) - 3) }
    $1 ~ /^[0-9a-f]+:$/ &&
    $2 ~ /^(fi?(add|sub|subr|mul|div|divr)[pslq]?|fsqrt|fprem1?|frndint|fscale|fsin|fcos|fsincos|fptan|fpatan|f2xm1|fyl2xp?1?|fxtract|fistt?p?[slq]*)$/ &&
    index(runtime, " " function_name " ") == 0 { print function_name, $0 }' <<< "$listing")
if [ -n "$found" ]; then
    echo "FAIL: x87 arithmetic in $exe:" >&2
    echo "$found" >&2
    exit 1
fi
echo "no x87 arithmetic in the $functions functions of $exe but the runtime's $runtime"
