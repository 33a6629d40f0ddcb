#!/bin/bash
# Runs inside the test kernel, in the Wine root: the Windows programs under Wine against the board
# emulator's real hidraw node. Every Windows program run ends in its own result line, which the
# host reads:
#   TARNOVID-GUEST-RESULT <program and arguments>: PASS|FAIL (<seconds> s)
# after its checks' ok/FAIL lines.
# Programs that check themselves (the link's guest checks) print their own result line too.
set -uo pipefail

stage=/opt/tarnovid/stage
board=$stage/linux/tarnovid-board
export WINEPREFIX=/opt/tarnovid/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEPATH='Z:\opt\tarnovid\stage\bin'
plain_overrides="mscoree,mshtml=;winedbg.exe=d;winemenubuilder.exe=d"
# Qt's warnings on stderr, as on Linux, instead of the Windows debugger channel.
export WINEQT_FORCE_STDERR_LOGGING=1
started=$EPOCHREALTIME
# Wine's drive Z: is this root; from here a Windows program's /sys/... is the guest's /sys.
cd /

elapsed() { # seconds since $1, one decimal
    local us=$(((${EPOCHREALTIME/./} - ${1/./}) / 100000))
    echo "$((us / 10)).$((us % 10))"
}
say() { echo "windows guest [$(elapsed "$started") s] $*"; }
check() { # OK WHAT
    if [ "$1" = 1 ]; then echo "ok: $2"; else echo "FAIL: $2"; failed=1; fi
}
show() { sed 's/^/  | /' "$@"; }

# udev's daemon: without it Wine hears of no hidraw node that comes or goes after it started.
/usr/lib/systemd/systemd-udevd --daemon || echo "TARNOVID-GUEST-RESULT udevd: FAIL"

# One Windows program under Wine with a time limit; its output, stripped of Windows line ends, in
# $out, $err and $code, its wall-clock time in $took.
run_wine() { # OVERRIDES LIMIT EXE ARGS...
    local overrides=$1 limit=$2 exe=$3 t0=$EPOCHREALTIME
    shift 3
    WINEDLLOVERRIDES=$overrides timeout -k 5 "$limit" wine "$exe" "$@" \
        > /tmp/run.out 2> /tmp/run.err < /dev/null
    code=$?
    took=$(elapsed "$t0")
    tr -d '\r' < /tmp/run.out > /tmp/run.out.txt
    tr -d '\r' < /tmp/run.err | grep -v '^[0-9a-f]*:\(fixme\|err\|warn\|trace\):' > /tmp/run.err.txt
    out=$(cat /tmp/run.out.txt)
    err=$(cat /tmp/run.err.txt)
    [ "$code" -ne 124 ] || err="did not end within $limit s"
}
# The result line of one run of tarnovidctl.exe; FAIL when any check since the last one failed.
ctl_result() { # ARGS...
    echo "  \$ tarnovidctl.exe $*   (exit code $code)"
    show /tmp/run.out.txt /tmp/run.err.txt
    local name="$*"
    name=${name%% (*}
    echo "FIGURE wine_tarnovidctl_${name//[^a-z0-9]/_}: $took s"
    echo "TARNOVID-GUEST-RESULT tarnovidctl.exe $*: $([ "$failed" = 0 ] && echo PASS || echo FAIL) ($took s)"
    failed=0
}
failed=0

log=/tmp/board.log
start_board() { # ARGS...
    : > "$log"
    "$board" "$@" >> "$log" 2>&1 &
    board_pid=$!
    local waited=0
    until grep -q 'plugged into' "$log" && [ -e /dev/hidraw0 ]; do
        [ "$waited" -lt 100 ] || { echo "FAIL: the emulator did not plug in"; show "$log"; return 1; }
        sleep 0.1
        waited=$((waited + 1))
    done
}
stop_board() {
    kill -TERM "$board_pid" 2> /dev/null
    wait "$board_pid"
}

asbuilt=$stage/as-built/tarnovidctl.exe
standin=$stage/with-standin
ctl=$standin/tarnovidctl.exe
fakes="cfgmgr32.dll (test-only stand-in beside a copy of each program: the interface list,"
fakes+=" interface property, device node and parent that Wine 10 lacks; a USB HID interface's ids" \
fakes+=" for Wine's bus device)"

say "starting the emulator"
start_board || exit 1
say "emulator plugged in: $(ls /sys/class/hidraw)"

# As built, without any stand-in: what Wine itself makes of the board. Also Wine's first start
# in this guest (its services, the HID bus scanning hidraw).
run_wine "$plain_overrides" 120 "$asbuilt" list --all
echo "  \$ tarnovidctl.exe list --all   (as built, Wine's own cfgmgr32; exit code $code)"
show /tmp/run.out.txt /tmp/run.err.txt
echo "FIGURE wine_first_start_tarnovidctl_list: $took s"
if [ "$code" = 3 ] && [ "$out" = "0 boards" ]; then
    say "as built, under Wine's own cfgmgr32, tarnovidctl.exe lists no board (not a check: Wine" \
        "lacks CM_Get_Device_Interface_List(_Size)W, so hidapi lists nothing)"
else
    say "as built, under Wine's own cfgmgr32, tarnovidctl.exe list --all exits $code: if it names" \
        "the board, this Wine has the calls the stand-in answers, and the stand-in can go"
fi

say "stand-ins in use: $fakes"
run_wine "$plain_overrides;cfgmgr32=n" 60 "$ctl" list
check "$([ "$code" = 0 ] && echo "$out" | grep -q '"Dravelko" "USB Tarnovid"' &&
    [ "$(echo "$out" | tail -n1)" = "1 board" ] && echo 1)" \
    "list names the board with its USB strings and counts one board"
ctl_result list

# The C library's example, as a program of the library's users would be: tarnovid.dll beside it,
# the first board it finds. Each output on in turn; the emulator's inputs follow D0..D2. It ends
# with every output off, before tarnovidctl's set below.
example=$(ls "$standin"/tarnovid-running-light.exe)
mark=$(wc -l < "$log")
run_wine "$plain_overrides;cfgmgr32=n" 60 "$example"
echo "  \$ $(basename "$example")   (exit code $code)"
show /tmp/run.out.txt /tmp/run.err.txt
check "$([ "$code" = 0 ] && [ "$(grep -c ' on: ' /tmp/run.out.txt)" = 8 ] &&
    grep -qx 'D0 on: T2=1 T3=0 T4=0' /tmp/run.out.txt &&
    grep -qx 'D1 on: T2=0 T3=1 T4=0' /tmp/run.out.txt &&
    grep -qx 'D2 on: T2=0 T3=0 T4=1' /tmp/run.out.txt &&
    grep -qx 'D7 on: T2=0 T3=0 T4=0' /tmp/run.out.txt && echo 1)" \
    "the C library's example reads each output back on the inputs wired to it"
received=$(tail -n +"$((mark + 1))" "$log" | grep -c ' out 64 bytes: f[bc]')
check "$([ "$received" = 17 ] && echo 1)" \
    "the emulator receives its 8 outputs, 8 read requests and the closing FB 00: $received reports"
echo "FIGURE wine_$(basename "$example" .exe): $took s"
echo "TARNOVID-GUEST-RESULT $(basename "$example"): $([ "$failed" = 0 ] && echo PASS || echo FAIL) ($took s)"
failed=0

mark=$(wc -l < "$log")
run_wine "$plain_overrides;cfgmgr32=n" 60 "$ctl" set 0x81
check "$([ "$code" = 0 ] && [ -z "$out$err" ] && echo 1)" "set 0x81 succeeds silently"
sleep 0.2 # a wrongly split report would show up as a second line
received=$(tail -n +"$((mark + 1))" "$log" | grep ' out ')
echo "  board: $received"
check "$([ "$(echo "$received" | grep -c .)" = 1 ] &&
    echo "$received" | grep -q 'out 64 bytes: fb 81 (+62 zeros) -> outputs 0x81' && echo 1)" \
    "the emulator receives FB 81 as one 64-byte report (65 bytes handed to WriteFile)"
ctl_result set 0x81

run_wine "$plain_overrides;cfgmgr32=n" 60 "$ctl" get
check "$([ "$code" = 0 ] && [ "$out" = "T2=1 T3=0 T4=0" ] && echo 1)" \
    "get reads what the emulator answers (D0 wired to T2)"
ctl_result get

run_wine "$plain_overrides;cfgmgr32=n" 60 "$ctl" get --json
check "$([ "$code" = 0 ] && [ "$out" = '{"T2":1,"T3":0,"T4":0,"raw":1}' ] && echo 1)" \
    "get --json reads the same answer as JSON"
ctl_result get --json

# The board goes away under a running watch.
t0=$EPOCHREALTIME
: > /tmp/watch.out
WINEDLLOVERRIDES="$plain_overrides;cfgmgr32=n" timeout -k 5 90 wine "$ctl" watch --interval 50 \
    > /tmp/watch.out 2> /tmp/run.err < /dev/null &
watch_pid=$!
waited=0
until [ -s /tmp/watch.out ] || [ "$waited" -ge 600 ] || ! kill -0 "$watch_pid" 2> /dev/null; do
    sleep 0.1
    waited=$((waited + 1))
done
lines_before=$(grep -c . /tmp/watch.out)
stop_board
stopped=$EPOCHREALTIME
wait "$watch_pid"
code=$?
took=$(elapsed "$t0")
tr -d '\r' < /tmp/watch.out > /tmp/run.out.txt
tr -d '\r' < /tmp/run.err | grep -v '^[0-9a-f]*:\(fixme\|err\|warn\|trace\):' > /tmp/run.err.txt
echo "FIGURE wine_watch_stop_to_exit: $(elapsed "$stopped") s"
check "$([ "$lines_before" -ge 1 ] && grep -q 'T2=1 T3=0 T4=0$' /tmp/run.out.txt && echo 1)" \
    "watch prints the inputs before the emulator stops"
# A board is lost only when a look at it fails. Under Wine a write to the removed node fails at
# once, while a look still reads nothing rather than failing until Wine's own processes have
# carried the removal out (up to a second later): the request that meets the unplug may end as
# not taken (5) instead of lost (6). Either is a failure said in one line, within the watch's
# time, never a hang.
check "$({ [ "$code" = 6 ] && grep -q '^tarnovidctl: board lost' /tmp/run.err.txt; } ||
    { [ "$code" = 5 ] && grep -qE '^tarnovidctl: (not taken|no answer): ' /tmp/run.err.txt; } && echo 1)" \
    "watch ends with exit code 6 (board lost), or 5 (not taken) under Wine, when the emulator stops"
echo "watch's last words: $(tail -n 1 /tmp/run.err.txt) (exit code $code)"
ctl_result watch --interval 50 "(emulator stopped meanwhile)"

# The guest programs built for Windows: each drives its own emulators through the board
# controller below and prints its own result line. (The place for one more such program.)
control=/tmp/tarnovid-boards
mkdir -p "$control"
export TARNOVID_BOARD_CONTROL='Z:\tmp\tarnovid-boards'
# The controller: "<name>.start" (the emulator's options, one a line) starts an emulator whose log
# is "<name>.log"; "<name>.pid" says it runs; "<name>.signal" (a number) signals it;
# "<name>.exit" holds its exit status once it has ended.
board_controller() {
    local request name sig
    mkfifo "$control/.tick" # something to wait on without starting a process each time round
    exec 3<> "$control/.tick"
    while :; do
        for request in "$control"/*.start "$control"/*.signal; do
            [ -e "$request" ] || continue
            name=${request%.*}
            case "$request" in
                *.start)
                    mapfile -t options < "$request"
                    rm -f "$request"
                    (
                        "$board" "${options[@]}" > "$name.log" 2>&1 &
                        echo $! > "$name.pid.new" && mv "$name.pid.new" "$name.pid"
                        wait $!
                        echo $? > "$name.exit.new" && mv "$name.exit.new" "$name.exit"
                    ) &
                    ;;
                *.signal)
                    sig=$(cat "$request")
                    rm -f "$request"
                    [ -e "$name.pid" ] && kill -"$sig" "$(cat "$name.pid")" 2> /dev/null
                    ;;
            esac
        done
        read -r -t 0.02 -u 3 _ || true
    done
}
board_controller &
controller_pid=$!
for program in "$standin"/tarnovid-guest-*.exe; do
    [ -e "$program" ] || continue
    say "running $(basename "$program") under Wine"
    t0=$EPOCHREALTIME
    WINEDLLOVERRIDES="$plain_overrides;cfgmgr32=n" timeout -k 5 240 wine "$program" \
        < /dev/null 2>&1 | tr -d '\r' | grep -v '^[0-9a-f]*:\(fixme\|err\|warn\|trace\):'
    code=${PIPESTATUS[0]}
    echo "FIGURE wine_$(basename "$program" .exe): $(elapsed "$t0") s"
    [ "$code" -ne 124 ] || echo "FAIL: $(basename "$program") did not end within 240 s"
done
kill "$controller_pid" 2> /dev/null
for pid in "$control"/*.pid; do
    [ -e "$pid" ] && [ ! -e "${pid%.pid}.exit" ] && kill "$(cat "$pid")" 2> /dev/null
done

wineserver -k 2> /dev/null
say "done"
