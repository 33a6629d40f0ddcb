# Sourced by the kernel stages: one guest boot under TCG, watched. Needs the caller's step and die.
#
#   boot_guest LOG BOOT_TIMEOUT INIT_TIMEOUT QEMU_ARGUMENTS...
#
# Boots once more when the kernel never reached /init (seen once under heavy host load: a soft
# lockup in early boot), dies when the guest overran BOOT_TIMEOUT or never reached /init twice,
# and leaves the serial log in LOG and, without carriage returns, in LOG.txt.
boot_guest() {
    local log=$1 boot_timeout=$2 init_timeout=$3
    shift 3
    local status attempt
    for attempt in 1 2; do
        step "booting under TCG (attempt $attempt)"
        status=0
        boot_guest_once "$log" "$boot_timeout" "$init_timeout" "$@" || status=$?
        [ "$status" -eq 125 ] || break
        step "the kernel did not reach /init within ${init_timeout}s"
    done
    tr -d '\r' < "$log" > "$log.txt"
    step "guest finished (qemu exit $status)"
    if [ "$status" -eq 124 ] || [ "$status" -eq 125 ]; then
        tail -n 40 "$log.txt"
        [ "$status" -eq 124 ] || die "the kernel did not reach /init, twice"
        die "the guest did not finish within ${boot_timeout}s"
    fi
}

# qemu's exit status, 124 when the guest overran its time, 125 when the kernel never reached /init.
boot_guest_once() {
    local log=$1 boot_timeout=$2 init_timeout=$3
    shift 3
    timeout "$boot_timeout" qemu-system-x86_64 -accel tcg -smp 1 \
        -nodefaults -no-user-config -nographic -no-reboot -serial stdio "$@" \
        < /dev/null > "$log" 2>&1 &
    local pid=$! waited=0
    while kill -0 "$pid" 2> /dev/null; do
        if [ "$waited" -ge "$init_timeout" ] && ! grep -aq 'guest init started' "$log"; then
            kill "$pid"
            wait "$pid" || true
            return 125
        fi
        sleep 1
        waited=$((waited + 1))
    done
    wait "$pid"
}
