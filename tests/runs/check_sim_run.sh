#!/usr/bin/env bash
# One golden run: NAME.scenario goes through the headless runner (with the arguments of NAME.args
# where that exists); its exit code must be that of NAME.exit (else 0), its output must equal
# NAME.expected, its transcript NAME.transcript and its standard error must hold the text of
# NAME.stderr, for each of those files that exists.
# usage: check_sim_run.sh RUNNER DIR NAME
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 RUNNER DIR NAME" >&2; exit 2; }
runner=$1
dir=$2
name=$3
[ -f "$dir/$name.scenario" ] || { echo "$name: no $dir/$name.scenario" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

args=()
if [ -f "$dir/$name.args" ]; then read -r -a args <"$dir/$name.args" || true; fi
code=0
"$runner" --log "$tmp/log" "${args[@]}" "$dir/$name.scenario" >"$tmp/out" 2>"$tmp/err" || code=$?
expected_code=0
if [ -f "$dir/$name.exit" ]; then expected_code=$(cat "$dir/$name.exit"); fi
if [ "$code" != "$expected_code" ]; then
    echo "$name: exit code $code, expected $expected_code"
    cat "$tmp/err"
    exit 1
fi
failed=0
if [ -f "$dir/$name.expected" ] && ! diff -u "$dir/$name.expected" "$tmp/out"; then
    echo "$name: output differs"
    failed=1
fi
if [ -f "$dir/$name.transcript" ] && ! diff -u "$dir/$name.transcript" "$tmp/log"; then
    echo "$name: transcript differs"
    failed=1
fi
if [ -f "$dir/$name.stderr" ] && ! grep -qF -f "$dir/$name.stderr" "$tmp/err"; then
    echo "$name: standard error lacks: $(cat "$dir/$name.stderr")"
    cat "$tmp/err"
    failed=1
fi
exit $failed
