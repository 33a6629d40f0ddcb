#!/usr/bin/env bash
# Loads tarnovidctl's bash completion into a plain bash, as bash-completion would, and checks
# what a Tab offers after a few typical beginnings. --board asks a stand-in tarnovidctl.
# Usage: check-bash-completion.sh <completion file>
set -euo pipefail
file=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/tarnovidctl" <<'STUB'
#!/bin/sh
[ "$1" = list ] || exit 2
echo '/dev/hidraw1  serial ""  release 0x0001  "Dravelko" "USB Tarnovid"'
echo '/dev/hidraw4  serial "A1"  release 0x0001  "Dravelko" "USB Tarnovid"'
echo '2 boards'
STUB
chmod +x "$work/tarnovidctl"

# shellcheck source=/dev/null
source "$file"
complete -p tarnovidctl >/dev/null || fail "no completion registered for tarnovidctl"

offers() { # <expected, space-separated> <words of the command line, the last one being typed>
    local expected=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    _tarnovidctl
    local got="${COMPREPLY[*]:-}"
    [ "$got" = "$expected" ] || fail "after '$*' expected '$expected', got '$got'"
}
offers "list set get watch --help --version" tarnovidctl ""
offers "watch" tarnovidctl wa
offers "--count --changes" tarnovidctl watch --c
offers "--count --changes" tarnovidctl --interval 20 watch --c
offers "D0 D1 D2 D3 D4 D5 D6 D7" tarnovidctl set D
offers "D0" tarnovidctl set D7 D0
offers "--board" tarnovidctl set -
offers "--all" tarnovidctl list --a
offers "--json -v --verbose --board" tarnovidctl get -
offers "" tarnovidctl watch --interval ""
offers "/dev/hidraw1 /dev/hidraw4" "$work/tarnovidctl" get --board ""
offers "/dev/hidraw4" "$work/tarnovidctl" get --board /dev/hidraw4
echo "OK: bash completion"
