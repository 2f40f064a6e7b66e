#!/usr/bin/env bash
# Each NAME.scenario here runs through the headless runner; its output must equal NAME.expected
# and, where NAME.transcript exists, its transcript must equal that too.
set -u
runner=$1
dir=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
for scenario in "$dir"/*.scenario; do
    name=$(basename "$scenario" .scenario)
    args=()
    [ -f "$dir/$name.args" ] && read -r -a args < "$dir/$name.args"
    "$runner" --log "$tmp/$name.log" "${args[@]}" "$scenario" > "$tmp/$name.out" 2> "$tmp/$name.err"
    code=$?
    expected_code=0
    [ -f "$dir/$name.exit" ] && expected_code=$(cat "$dir/$name.exit")
    if [ "$code" != "$expected_code" ]; then
        echo "$name: exit code $code, expected $expected_code"; cat "$tmp/$name.err"; failed=1; continue
    fi
    if [ -f "$dir/$name.expected" ] && ! diff -u "$dir/$name.expected" "$tmp/$name.out"; then
        echo "$name: output differs"; failed=1
    fi
    if [ -f "$dir/$name.transcript" ] && ! diff -u "$dir/$name.transcript" "$tmp/$name.log"; then
        echo "$name: transcript differs"; failed=1
    fi
    if [ -f "$dir/$name.stderr" ] && ! grep -qF -f "$dir/$name.stderr" "$tmp/$name.err"; then
        echo "$name: standard error lacks: $(cat "$dir/$name.stderr")"; cat "$tmp/$name.err"; failed=1
    fi
done
exit $failed
