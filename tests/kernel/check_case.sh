#!/usr/bin/env bash
# The result of one guest case, as run_guest.sh left it: its log, and pass or fail.
# usage: check_case.sh WORK CASE
set -euo pipefail
results=$1/results
case=$2
if [ -f "$results/$case.status" ]; then
    [ -f "$results/$case.log" ] && cat "$results/$case.log"
    status=$(cat "$results/$case.status")
    echo "kernel.$case: $status"
    [ "$status" = pass ]
    exit
fi
if [ -f "$results/failed-step" ]; then
    echo "kernel.$case: no result; $(cat "$results/failed-step")"
else
    echo "kernel.$case: no result; the guest did not report this case"
fi
exit 1
