#!/usr/bin/env bash
# Startup to a mapped window, resident memory once the window is up, and idle CPU of the real
# program, side by side with the floor (an empty Qt window of the same size), on a private Xvfb.
#
#   bench/startup.sh [runs] [idle-seconds]      defaults: 10 runs, 10 s of idle per sample;
#                                               0 idle seconds skips the idle part
#
# Startup is taken from just before the launch to the X server's MapNotify for the program's
# top-level window (watched with xev on the root window, no polling). Memory is VmRSS and VmHWM
# one second after the map. Idle CPU is sampled after the window has settled: utime+stime from
# /proc/<pid>/stat (10 ms ticks) and, finer, the nanosecond run time of every thread from
# /proc/<pid>/task/*/schedstat, and wake-ups as the threads' context switches from
# /proc/<pid>/task/*/status. The program is the real one on the system's HID access with no
# board plugged in; tarnovid-demo is the same window with a simulated board open.
# tarnovid-without-watch is the real program without the device watch's thread (the poll and the
# board thread's look alone); it runs in the same rounds as tarnovid, the two taking turns to go
# first, so what the watch costs at startup shows as the ratio within each round.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${TARNOVID_BENCH_DIR:-$here/build-bench}
runs=${1:-10}
idle=${2:-10}

if [ -z "${TARNOVID_BENCH_XVFB:-}" ]; then
    "$here/scripts/setup" build bench
    cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" --parallel "$(nproc)" --target tarnovid tarnovid-demo tarnovid-floor \
        tarnovid-without-watch >/dev/null
    exec env TARNOVID_BENCH_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$@"
fi

export QT_QPA_PLATFORM=xcb
export XDG_RUNTIME_DIR=$(mktemp -d)
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT

# Each program under test by name; "text" is the floor with one caption (see floor/main.cpp).
declare -A cmd=(
    [floor]="$build/bench/tarnovid-floor"
    [text]="$build/bench/tarnovid-floor --caption"
    [tarnovid]="$build/app/tarnovid"
    [demo]="$build/tools/tarnovid-demo/tarnovid-demo"
    [nowatch]="$build/bench/tarnovid-without-watch"
)

now_us() { local t=${EPOCHREALTIME/./}; echo "$t"; }
status_kib() { awk -v k="$2:" '$1 == k { print $2 }' "/proc/$1/status"; }
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
run_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { print s }'; }
# Every time one of the program's threads went to sleep or was put aside: its wake-ups.
switches() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/ctxt_switches:/ { s += $2 } END { print s }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Starts a program, waits for its window to be mapped; sets pid and startup_us.
launch() {
    coproc XEV { exec xev -root -event substructure; }
    sleep 0.3 # xev has selected its events by now
    local t0 line
    t0=$(now_us)
    "$@" >/dev/null 2>&1 &
    pid=$!
    while IFS= read -r -t 20 -u "${XEV[0]}" line; do
        [[ $line == MapNotify* ]] && break
    done || { echo "startup.sh: no window from $1" >&2; exit 1; }
    startup_us=$(( $(now_us) - t0 ))
    kill "$XEV_PID" 2>/dev/null; wait "$XEV_PID" 2>/dev/null || true
}
stop() { kill "$pid"; wait "$pid" 2>/dev/null || true; }

declare -A start rss hwm
ab_ratios=()
for ((i = 0; i < runs; ++i)); do
    # Interleaved, so a burst of load elsewhere hits both alike.
    pair="tarnovid nowatch"
    (( i % 2 )) && pair="nowatch tarnovid"
    for name in floor text $pair; do
        launch ${cmd[$name]}
        sleep 1
        start[$name]+="$startup_us "
        rss[$name]+="$(status_kib "$pid" VmRSS) "
        hwm[$name]+="$(status_kib "$pid" VmHWM) "
        stop
    done
    with=$(awk '{ print $NF }' <<<"${start[tarnovid]}")
    without=$(awk '{ print $NF }' <<<"${start[nowatch]}")
    ab_ratios+=("$(awk -v a="$with" -v b="$without" 'BEGIN { print a / b }')")
done

m() { tr ' ' '\n' <<<"$1" | grep . | median; }
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "startup and memory, median of $runs runs"
printf "%-10s %12s %12s %12s\n" program startup_ms VmRSS_KiB VmHWM_KiB
for name in floor text tarnovid nowatch; do
    printf '%-10s %12.1f %12d %12d\n' "$name" "$(m "${start[$name]}" | awk '{ print $1 / 1000 }')" \
        "$(m "${rss[$name]}")" "$(m "${hwm[$name]}")"
done
awk -v ts="$(m "${start[tarnovid]}")" -v fs="$(m "${start[floor]}")" \
    -v tr="$(m "${rss[tarnovid]}")" -v fr="$(m "${rss[floor]}")" \
    'BEGIN { printf "tarnovid / floor:       startup %.2fx (target <= 1.10), VmRSS %.2fx (target <= 1.15)\n", ts / fs, tr / fr }'
awk -v ts="$(m "${start[tarnovid]}")" -v fs="$(m "${start[text]}")" \
    -v tr="$(m "${rss[tarnovid]}")" -v fr="$(m "${rss[text]}")" \
    'BEGIN { printf "tarnovid / floor+text:  startup %.2fx, VmRSS %.2fx\n", ts / fs, tr / fr }'

printf '%s\n' "${ab_ratios[@]}" | sort -n | awk -v n="$runs" -v tr="$(m "${rss[tarnovid]}")" \
    -v nr="$(m "${rss[nowatch]}")" '{ v[NR] = $1 } END {
        med = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "tarnovid / without watch: startup %.3fx (median of %d rounds, %.3f to %.3f), VmRSS %.3fx\n", med, n, v[1], v[NR], tr / nr }'

[ "$idle" -gt 0 ] || exit 0
echo "idle CPU over ${idle} s, after 3 s to settle (target <= 0.1 % of a core)"
printf '%-28s %14s %16s %14s\n' program 'ticks %' 'schedstat %' 'wake-ups/s'
samples=${IDLE_SAMPLES:-3}
for name in floor tarnovid demo; do
    t_all=() n_all=() w_all=()
    for ((s = 0; s < samples; ++s)); do
        launch ${cmd[$name]}
        sleep 3
        t0=$(ticks "$pid") n0=$(run_ns "$pid") w0=$(switches "$pid")
        sleep "$idle"
        t1=$(ticks "$pid") n1=$(run_ns "$pid") w1=$(switches "$pid")
        stop
        t_all+=("$(awk -v d=$((t1 - t0)) -v s="$idle" 'BEGIN { print d / 100 / s * 100 }')")
        n_all+=("$(awk -v d=$((n1 - n0)) -v s="$idle" 'BEGIN { print d / 1e9 / s * 100 }')")
        w_all+=("$(awk -v d=$((w1 - w0)) -v s="$idle" 'BEGIN { print d / s }')")
    done
    label=$name
    [ "$name" = floor ] && label="floor (empty window)"
    [ "$name" = tarnovid ] && label="tarnovid (no board)"
    [ "$name" = demo ] && label="tarnovid-demo (board open)"
    printf '%-28s %14.3f %16.4f %14.1f\n' "$label" "$(printf '%s\n' "${t_all[@]}" | median)" \
        "$(printf '%s\n' "${n_all[@]}" | median)" "$(printf '%s\n' "${w_all[@]}" | median)"
done
