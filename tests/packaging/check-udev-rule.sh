#!/usr/bin/env bash
# Lints the udev rule: it must reach only the board's hidraw node, through
# uaccess rather than a permissive mode, from a file that sorts early enough
# for the seat rules to act on the tag.
# Usage: check-udev-rule.sh <rules file>
set -euo pipefail
rule=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

name=$(basename "$rule")
[[ $name =~ ^([0-9]{2})-[a-z0-9-]+\.rules$ ]] || fail "$name is not NN-name.rules"
(( 10#${BASH_REMATCH[1]} < 73 )) || fail "$name sorts after 73-seat-late.rules: uaccess would never be applied"

mapfile -t lines < <(grep -Ev '^[[:space:]]*(#|$)' "$rule")
[ ${#lines[@]} -gt 0 ] || fail "no rule in $name"
token='[A-Z_]+(\{[^}]+\})?(==|!=|\+=|-=|:=|=)"[^"]*"'
for line in "${lines[@]}"; do
    [[ $line != *\\ ]] || fail "udev has no line continuation: $line"
    rest=$(sed -E "s/$token//g; s/[ ,]//g" <<<"$line")
    [ -z "$rest" ] || fail "not key-op-\"value\" syntax near '$rest' in: $line"
    # Every rule in this file is about the one board: none may reach other devices.
    for key in 'KERNEL=="hidraw\*"' 'ATTRS\{idVendor\}=="1234"' 'ATTRS\{idProduct\}=="0001"'; do
        grep -Eq "(^|[ ,])$key(,|$)" <<<"$line" || fail "rule without ${key//\\/}: $line"
    done
    if [[ $line =~ MODE:?=\"([0-7]+)\" ]]; then
        (( (8#${BASH_REMATCH[1]} & 8#002) == 0 )) || fail "world-writable MODE in: $line"
    fi
done
grep -Eq '(^|[ ,])TAG\+="uaccess"(,|$)' <<<"${lines[*]}" || fail 'no TAG+="uaccess"'

# udevadm verify (systemd 253 and later) is the real parser; Debian 12 has 252,
# where the fake-device test lets udevadm parse and apply the rule instead.
if command -v udevadm >/dev/null && udevadm verify --help >/dev/null 2>&1; then
    udevadm verify --resolve-names=never "$rule" || fail "udevadm verify rejected $name"
else
    echo "note: udevadm verify not available here"
fi
echo "OK: $name"
