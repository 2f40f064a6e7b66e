#!/bin/busybox sh
# /init of the guest: loads the HID modules, runs every case against the real hidraw nodes and
# reports on the console in lines the host reads:
#   @qk step NAME ok|fail TEXT     @qk log CASE TEXT     @qk case CASE pass|fail     @qk done
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
chmod 1777 /tmp

say() { echo "@qk $*"; }

end_guest() {
    say done "$(cut -d' ' -f1 /proc/uptime) s"
    sync
    poweroff -f
}

say step boot ok "$(cut -d' ' -f1 /proc/uptime) s"

for module in hid hid-generic uhid; do
    if ! out=$(insmod /lib/$module.ko 2>&1); then
        say step module fail "insmod $module: $out"
        end_guest
    fi
done
if [ ! -c /dev/uhid ]; then
    say step module fail "no /dev/uhid after loading uhid"
    end_guest
fi
say step module ok

# report CASE pass|fail [LOGFILE...]
report() {
    name=$1
    verdict=$2
    shift 2
    for file in "$@"; do
        [ -s "$file" ] && sed "s/^/@qk log $name /" "$file"
    done
    say case "$name" "$verdict"
}

# bridge_start NAME SCENARIO [BRIDGE OPTIONS]: the devices of SCENARIO, nodes listed in /tmp/NAME.nodes.
bridge_start() {
    name=$1
    scenario=$2
    shift 2
    rm -f /tmp/$name.nodes /tmp/$name.transcript
    QAVEL_SIM=$scenario QAVEL_SIM_LOG=/tmp/$name.transcript \
        qavel-uhid-bridge --ready /tmp/$name.nodes "$@" 2> /tmp/$name.bridge &
    echo $! > /tmp/$name.pid
    tries=0
    while [ ! -e /tmp/$name.nodes ]; do
        if ! kill -0 "$(cat /tmp/$name.pid)" 2> /dev/null || [ $tries -ge 300 ]; then
            echo "the bridge for $scenario did not present its devices" >> /tmp/$name.bridge
            return 1
        fi
        tries=$((tries + 1))
        sleep 0.05
    done
}

bridge_stop() {
    pid=$(cat /tmp/$1.pid)
    kill "$pid" 2> /dev/null
    wait "$pid"
}

# gtest_case CASE SECONDS PROGRAM FILTER [ENVIRONMENT...]: fails when FILTER selects no test, as
# a renamed test would leave it, since this GoogleTest then still ends with status 0.
gtest_case() {
    name=$1
    limit=$2
    program=$3
    filter=$4
    shift 4
    verdict=fail
    if env "$@" timeout $limit $program --gtest_filter="$filter" --gtest_brief=1 \
        > /tmp/$name.out 2>&1; then
        ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' /tmp/$name.out)
        if [ "${ran:-0}" -gt 0 ]; then
            verdict=pass
        else
            echo "no test matches $filter" >> /tmp/$name.out
        fi
    fi
    report "$name" $verdict /tmp/$name.out
}

# --- the unit tests on this processor, where a build of another architecture brings them -------

[ -x /bin/qavel_kernel_unit_tests ] && gtest_case unit_tests 300 qavel_kernel_unit_tests '*'

# --- the program's answers that need no display: as this machine's own build gives them ---------

for option in version help; do
    log=/tmp/program_$option.log
    verdict=pass
    qavel-calib --$option > /tmp/program_$option.out 2>&1 || {
        echo "qavel-calib --$option ended with status $?" >> $log
        verdict=fail
    }
    if ! diff -u /etc/expected.$option /tmp/program_$option.out >> $log; then
        echo "qavel-calib --$option differs from the build of this machine" >> $log
        verdict=fail
    fi
    [ $verdict = pass ] && head -n 1 /tmp/program_$option.out >> $log
    report program_$option $verdict $log
done

# --- the hidraw layer -------------------------------------------------------------------------

if bridge_start layer /scenarios/hid_preload.scenario; then
    gtest_case enumeration 60 qavel_kernel_hid_tests 'HidHidraw.ListsInNumericOrderAndReadsEachInterface'
    gtest_case feature_transfers 60 qavel_kernel_hid_tests 'HidHidraw.FeatureTransfers'
    bridge_stop layer
else
    report enumeration fail /tmp/layer.bridge
    report feature_transfers fail /tmp/layer.bridge
fi

if bridge_start d4095 /scenarios/descriptor_4095.scenario --descriptor-size 4095; then
    if bridge_start d4096 /scenarios/descriptor_4096.scenario --descriptor-size 4096; then
        gtest_case descriptor_4095_4096 60 qavel_kernel_hid_tests 'KernelDescriptor.*'
        bridge_stop d4096
    else
        report descriptor_4095_4096 fail /tmp/d4096.bridge
    fi
    bridge_stop d4095
else
    report descriptor_4095_4096 fail /tmp/d4095.bridge
fi

if bridge_start refused /scenarios/refused_report.scenario; then
    gtest_case refused_report 60 qavel_kernel_hid_tests 'KernelTransfers.*' \
        QAVEL_SIM_LOG=/tmp/refused.transcript
    bridge_stop refused
else
    report refused_report fail /tmp/refused.bridge
fi

# --- whole runs, each as its own user, at the same time -----------------------------------------
# A user can open only the node given to it, so each program finds only its own controller.

# CASE SCENARIO-NAME USER MODE: MODE of the node, owned by USER; "root" leaves it to root.
runs="run_0003 model_0003_success u1001 0600
run_0100 model_0100_success u1002 0600
run_0102 model_0102_success u1003 0600
run_0102_grid model_0102_grid u1010 0600
run_0300 model_0300_success u1004 0600
run_0400 model_0400_success u1005 0600
run_prepare_refused prepare_refused u1006 0600
run_start_refused start_refused u1007 0600
access_read_only model_0400_success u1008 0400"

while read -r name golden user mode; do
    scenario=/runs/$golden.scenario
    if bridge_start "$name" "$scenario"; then
        node=$(cat /tmp/$name.nodes)
        if [ "$mode" != root ]; then
            chown "$user" "$node" && chmod "$mode" "$node"
        fi
        echo "$name" >> /tmp/runs.started
    else
        report "$name" fail /tmp/$name.bridge
    fi
done << EOF
$runs
EOF

for name in $(cat /tmp/runs.started 2> /dev/null); do
    user=$(echo "$runs" | grep "^$name " | cut -d' ' -f3)
    (
        su -s /bin/sh "$user" -c "timeout 90 qavel-kernel-run" > /tmp/$name.out 2> /tmp/$name.err
        echo $? > /tmp/$name.rc
    ) &
done
wait_tries=0
for name in $(cat /tmp/runs.started 2> /dev/null); do
    while [ ! -e /tmp/$name.rc ] && [ $wait_tries -lt 2000 ]; do
        wait_tries=$((wait_tries + 1))
        sleep 0.1
    done
done

drop_times() { sed 's/^[0-9][0-9]* //' "$1"; }

# transcript_matches NAME GOLDEN LOG: the bridge's transcript is the golden run's, times left out;
# where not, the difference goes to LOG.
transcript_matches() {
    drop_times /runs/$2.transcript > /tmp/$1.want
    drop_times /tmp/$1.transcript > /tmp/$1.got
    diff -u /tmp/$1.want /tmp/$1.got >> $3 && return 0
    echo "transcript differs from $2.transcript (times left out)" >> $3
    return 1
}

for name in $(cat /tmp/runs.started 2> /dev/null); do
    golden=$(echo "$runs" | grep "^$name " | cut -d' ' -f2)
    bridge_stop "$name"
    log=/tmp/$name.log
    : > $log
    verdict=pass
    if [ "$(cat /tmp/$name.rc 2> /dev/null)" != 0 ]; then
        echo "the program ended with status $(cat /tmp/$name.rc 2> /dev/null || echo none)" >> $log
        verdict=fail
    fi
    drop_times /runs/$golden.expected > /tmp/$name.want
    drop_times /tmp/$name.out > /tmp/$name.got
    if ! diff -u /tmp/$name.want /tmp/$name.got >> $log; then
        echo "events and outcome differ from $golden.expected (times left out)" >> $log
        verdict=fail
    fi
    if [ -f /runs/$golden.transcript ]; then
        transcript_matches "$name" "$golden" $log || verdict=fail
    fi
    [ "$verdict" = pass ] && echo "as $(echo "$runs" | grep "^$name " | cut -d' ' -f3): $(tail -n 1 /tmp/$name.out)" >> $log
    report "$name" $verdict $log /tmp/$name.err /tmp/$name.bridge
done

# --- a controller unplugged in the middle of a run ----------------------------------------------
# Taken away between the two touches: the run must end with its outcome, not hang.

if bridge_start unplugged /runs/model_0102_success.scenario; then
    node=$(cat /tmp/unplugged.nodes)
    chown u1001 "$node"
    su -s /bin/sh u1001 -c "timeout 60 qavel-kernel-run" > /tmp/unplugged.out 2> /tmp/unplugged.err &
    run=$!
    sleep 2.5
    bridge_stop unplugged
    wait $run
    status=$?
    log=/tmp/unplugged.log
    verdict=pass
    [ -e "$node" ] && { echo "$node is still there" >> $log; verdict=fail; }
    [ $status = 0 ] || { echo "the program ended with status $status" >> $log; verdict=fail; }
    outcome=$(tail -n 1 /tmp/unplugged.out)
    echo "outcome: $outcome" >> $log
    [ "$outcome" = 'message error "Error" "Invalid touch."' ] || verdict=fail
    [ $verdict = pass ] || cat /tmp/unplugged.out >> $log
    report unplugged $verdict $log /tmp/unplugged.err
else
    report unplugged fail /tmp/unplugged.bridge
fi

# --- a controller the user may not open ---------------------------------------------------------
# Alone, since every node of another run is one it may not open either: an unsupported product,
# then the controller, both left to root. Message 1009 names the controller's node, as sysfs
# lists it, and nothing is sent.

if bridge_start access_denied /runs/controller_denied.scenario; then
    su -s /bin/sh u1009 -c "timeout 90 qavel-kernel-run" > /tmp/access_denied.out 2> /tmp/access_denied.err
    status=$?
    bridge_stop access_denied
    log=/tmp/access_denied.log
    verdict=pass
    [ $status = 0 ] || { echo "the program ended with status $status" >> $log; verdict=fail; }
    # The real node (the second) and what the Linux layer says of it, where the simulator names its own.
    advice="Install the udev rule 70-qavel-touch.rules (or the qavel-calib package), then plug the controller in again."
    drop_times /runs/controller_denied.expected |
        sed "s|sim:1: permission denied\.|$(sed -n 2p /tmp/access_denied.nodes) (0596:0102): permission denied. $advice|" \
            > /tmp/access_denied.want
    drop_times /tmp/access_denied.out > /tmp/access_denied.got
    if ! diff -u /tmp/access_denied.want /tmp/access_denied.got >> $log; then
        echo "events and outcome differ from controller_denied.expected (times left out)" >> $log
        verdict=fail
    fi
    if [ -s /tmp/access_denied.transcript ]; then
        echo "no transfer was expected, but:" >> $log
        cat /tmp/access_denied.transcript >> $log
        verdict=fail
    fi
    report access_denied $verdict $log /tmp/access_denied.err
else
    report access_denied fail /tmp/access_denied.bridge
fi

# --- killed where it can do nothing -------------------------------------------------------------
# SIGKILL at target 1 of 0x0102: the guardian, holding the node it inherited, sends the end mode
# through the real hidraw, within 2 s of the program's last transfer, and is gone.

printf 'device 0596:0102\n' > /tmp/killed.scenario
if bridge_start killed /tmp/killed.scenario; then
    log=/tmp/killed.log
    : > $log
    verdict=pass
    node=$(cat /tmp/killed.nodes)
    chown u1001 "$node" && chmod 0600 "$node"
    su -s /bin/sh u1001 -c "exec qavel-kernel-run" > /tmp/killed.out 2> /tmp/killed.err &
    run=$!
    tries=0
    until grep -q ' get 08 ' /tmp/killed.transcript 2> /dev/null || [ $tries -ge 600 ]; do
        tries=$((tries + 1))
        sleep 0.05
    done
    watcher=$(grep -l "^[0-9]* ([^)]*) [A-Z] $run " /proc/[0-9]*/stat 2> /dev/null | cut -d/ -f3)
    [ -n "$watcher" ] || { echo "no guardian beside the program" >> $log; verdict=fail; }
    kill -KILL $run
    wait $run
    tries=0
    while [ -n "$watcher" ] && [ -d /proc/$watcher ] && [ "$(cut -d' ' -f3 /proc/$watcher/stat 2> /dev/null)" != Z ]; do
        tries=$((tries + 1))
        [ $tries -lt 300 ] || { echo "the guardian $watcher is still there" >> $log; verdict=fail; break; }
        sleep 0.1
    done
    bridge_stop killed
    last=$(tail -n 1 /tmp/killed.transcript)
    before=$(tail -n 2 /tmp/killed.transcript | head -n 1)
    echo "$(drop_times /tmp/killed.transcript | tail -n 2 | tr '\n' ';')" >> $log
    case "$last" in
    *" set 03 8 ok 03 05 00 00 07 00 00 00") ;;
    *) echo "the last transfer is not the end mode" >> $log; verdict=fail ;;
    esac
    case "$before" in
    *" get 08 "*) ;;
    *) echo "the transfer before the end mode is not the program's last poll" >> $log; verdict=fail ;;
    esac
    took=$((${last%% *} - ${before%% *}))
    echo "the end mode came $took ms after the program's last transfer" >> $log
    [ $took -le 2000 ] || verdict=fail
    report killed_0102 $verdict $log /tmp/killed.err /tmp/killed.bridge
else
    report killed_0102 fail /tmp/killed.bridge
fi

# --- the real program under X -------------------------------------------------------------------
# The unmodified program on the guest's own Xvfb, against the nodes the bridge made, one run at a
# time: its outcome box is read back through the window system, then dismissed with a key.

x_start() {
    if [ -f /etc/x-missing ]; then
        cp /etc/x-missing /tmp/xvfb.log
        return 1
    fi
    # No GLX: the server would load a software renderer the guest does not have.
    Xvfb :0 -screen 0 1024x768x24 -nolisten tcp -extension GLX -fp built-ins > /tmp/xvfb.log 2>&1 &
    echo $! > /tmp/xvfb.pid
    export DISPLAY=:0
    tries=0
    until x11probe count Calibration > /dev/null 2>&1; do
        if ! kill -0 "$(cat /tmp/xvfb.pid)" 2> /dev/null || [ $tries -ge 60 ]; then
            echo "Xvfb did not answer on :0" >> /tmp/xvfb.log
            return 1
        fi
        tries=$((tries + 1))
        sleep 0.5
    done
}

# x_case CASE GOLDEN USER KEY: the golden run's scenario, as USER, the box dismissed with KEY.
x_case() {
    name=$1
    golden=$2
    log=/tmp/$name.log
    : > $log
    if ! bridge_start "$name" /runs/$golden.scenario; then
        report "$name" fail /tmp/$name.bridge
        return
    fi
    node=$(cat /tmp/$name.nodes)
    chown "$3" "$node" && chmod 0600 "$node"
    su -s /bin/sh "$3" -c "DISPLAY=:0 timeout 60 qavel-calib" > /tmp/$name.out 2>&1 &
    run=$!
    verdict=pass
    # The outcome line of the golden run: message ICON "CAPTION" "TEXT".
    want=$(tail -n 1 /runs/$golden.expected)
    caption=$(echo "$want" | cut -d'"' -f2)
    waited=0
    x11probe until 60 $run window "$caption" _QAVEL_MESSAGE_TEXT || waited=$?
    if [ $waited = 0 ]; then
        box=$(x11probe find "$caption" _QAVEL_MESSAGE_TEXT)
        icon=$(x11probe prop "$box" _QAVEL_MESSAGE_ICON)
        text=$(x11probe prop "$box" _QAVEL_MESSAGE_TEXT)
        shown="message $icon \"$caption\" \"$text\""
        if [ "$shown" != "$want" ]; then
            printf 'the box shows: %s\nexpected:      %s\n' "$shown" "$want" >> $log
            verdict=fail
        fi
        xdotool key "$4" >> $log 2>&1 || echo "xdotool could not press $4" >> $log
        if ! x11probe until 30 0 no-window "$caption" _QAVEL_MESSAGE_TEXT; then
            echo "the message box is still up after $4" >> $log
            verdict=fail
        fi
    elif [ $waited = 3 ]; then
        echo "the program ended without a \"$caption\" message box" >> $log
        verdict=fail
    else
        echo "no \"$caption\" message box within 60 s (probe status $waited)" >> $log
        verdict=fail
    fi
    wait $run
    status=$?
    bridge_stop "$name"
    if [ $status != 0 ]; then
        echo "the program ended with status $status" >> $log
        verdict=fail
    fi
    transcript_matches "$name" "$golden" $log || verdict=fail
    if [ $verdict = pass ]; then
        echo "as $3 under Xvfb: $shown" >> $log
        report "$name" pass $log
    else
        report "$name" fail $log /tmp/$name.out /tmp/$name.bridge /tmp/xvfb.log
    fi
}

# CASE GOLDEN USER KEY
xruns="xvfb_run_0102 model_0102_success u1003 Return
xvfb_run_0003 model_0003_success u1001 space"

if x_start; then
    while read -r name golden user key; do
        x_case "$name" "$golden" "$user" "$key" < /dev/null
    done << EOF
$xruns
EOF
    kill "$(cat /tmp/xvfb.pid)"
else
    while read -r name golden user key; do
        report "$name" fail /tmp/xvfb.log
    done << EOF
$xruns
EOF
fi

end_guest
