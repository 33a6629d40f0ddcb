#!/usr/bin/env bash
# Lets the system's udevadm apply the rule to a made-up sysfs tree shaped like
# the board on a USB port (USB device > interface > HID device > hidraw node),
# to show that the ids are found through the parent chain, that only this
# board's hidraw node gets the tag, and that the seat rules then grant access.
# Everything happens in a private mount namespace: the fake /sys, the rules
# directories, /run and /dev are tmpfs or bind mounts that vanish with it.
# Usage: udev-rule-on-fake-device.sh <rules file>
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 77; }

# make_board <sys root> <idVendor> <idProduct>: one board as the kernel shows it.
make_board() {
    local r=$1 v=$2 p=$3
    local hid="0003:${v^^}:${p^^}.0001"
    local usb=$r/devices/pci0000:00/0000:00:14.0/usb1/1-1
    mkdir -p "$r/bus/usb/drivers/usb" "$r/bus/usb/drivers/usbhid" \
        "$r/bus/hid/drivers/hid-generic" "$r/class/hidraw" "$usb/1-1:1.0/$hid/hidraw/hidraw0"
    printf 'MAJOR=189\nMINOR=1\nDEVNAME=bus/usb/001/002\nDEVTYPE=usb_device\nDRIVER=usb\n' >"$usb/uevent"
    echo "$v" >"$usb/idVendor"
    echo "$p" >"$usb/idProduct"
    echo Dravelko >"$usb/manufacturer"
    ln -s ../../../../bus/usb "$usb/subsystem"
    ln -s ../../../../bus/usb/drivers/usb "$usb/driver"
    local intf=$usb/1-1:1.0
    printf 'DEVTYPE=usb_interface\nDRIVER=usbhid\nINTERFACE=3/0/0\n' >"$intf/uevent"
    ln -s ../../../../../bus/usb "$intf/subsystem"
    ln -s ../../../../../bus/usb/drivers/usbhid "$intf/driver"
    printf 'DRIVER=hid-generic\nHID_ID=0003:0000%s:0000%s\n' "${v^^}" "${p^^}" >"$intf/$hid/uevent"
    ln -s ../../../../../../bus/hid "$intf/$hid/subsystem"
    ln -s ../../../../../../bus/hid/drivers/hid-generic "$intf/$hid/driver"
    local node=$intf/$hid/hidraw/hidraw0
    printf 'MAJOR=240\nMINOR=0\nDEVNAME=hidraw0\n' >"$node/uevent"
    echo 240:0 >"$node/dev"
    ln -s ../../../../../../../../class/hidraw "$node/subsystem"
    ln -s "../../${node#"$r"/}" "$r/class/hidraw/hidraw0"
}

if [ "${1:-}" = --inside ]; then
    # In the namespace: <sys root> <rules dir> <device path under /sys>
    mount --bind "$2" /sys
    # udevadm test records the device in /run/udev. A fresh /run also has it where no udev
    # daemon has ever run (a new container has no /run/udev), and hides the machine's own
    # runtime rules.
    mount -t tmpfs none /run
    mkdir /run/udev
    for dir in /etc/udev/rules.d /usr/local/lib/udev/rules.d /lib/udev/rules.d; do
        [ -d "$dir" ] && mount -t tmpfs none "$dir"
    done
    mount --bind "$3" /usr/lib/udev/rules.d
    # ... and links /dev/char/...
    mount -t tmpfs none /dev
    SYSTEMD_DEVICE_VERIFY_SYSFS=0 exec udevadm test --action=add "/sys/$4"
fi

rule=$(realpath "$1")
[ "$(id -u)" = 0 ] || skip "needs root for a private mount namespace"
command -v udevadm >/dev/null || skip "udevadm is missing (Debian package udev)"
command -v unshare >/dev/null || skip "unshare is missing"
unshare --mount true 2>/dev/null || skip "this machine does not allow mount namespaces"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/rules"
cp "$rule" "$work/rules/"
# The distribution's seat rules turn the tag into an ACL; with them present the
# test also shows that the file sorts early enough for that to happen.
seat_late=
for dir in /usr/lib/udev/rules.d /lib/udev/rules.d; do
    if [ -f "$dir/73-seat-late.rules" ]; then
        cp "$dir/73-seat-late.rules" "$work/rules/"
        [ -f "$dir/71-seat.rules" ] && cp "$dir/71-seat.rules" "$work/rules/"
        seat_late=yes
        break
    fi
done

# udev_test <case> <vid> <pid> <device path under the fake /sys>: output in $work/<case>.out
udev_test() {
    make_board "$work/$1" "$2" "$3"
    unshare --mount --propagation private bash "$0" --inside "$work/$1" "$work/rules" "$4" \
        >"$work/$1.out" 2>&1 || { cat "$work/$1.out" >&2; fail "udevadm test failed for $1"; }
    if grep -E "$(basename "$rule"):[0-9]+ " "$work/$1.out" >&2; then
        fail "udevadm complains about $(basename "$rule")"
    fi
}
tags() { grep -E '^TAGS=' "$work/$1.out" || true; }
hidraw=class/hidraw/hidraw0
usbdev=devices/pci0000:00/0000:00:14.0/usb1/1-1

udev_test board 1234 0001 "$hidraw"
[[ $(tags board) == *:uaccess:* ]] || { cat "$work/board.out" >&2; fail "the board's hidraw node got no uaccess tag"; }
if [ -n "$seat_late" ]; then
    grep -Eq "^run: *'uaccess'" "$work/board.out" \
        || { cat "$work/board.out" >&2; fail "73-seat-late.rules did not queue the uaccess builtin"; }
else
    echo "note: no 73-seat-late.rules on this system; checked the tag only"
fi

udev_test usbnode 1234 0001 "$usbdev"
[[ $(tags usbnode) != *:uaccess:* ]] || fail "the board's raw USB node was tagged too: $(tags usbnode)"
udev_test otherproduct 1234 0002 "$hidraw"
[[ $(tags otherproduct) != *:uaccess:* ]] || fail "1234:0002 was tagged: $(tags otherproduct)"
udev_test othervendor 4321 0001 "$hidraw"
[[ $(tags othervendor) != *:uaccess:* ]] || fail "4321:0001 was tagged: $(tags othervendor)"

echo "OK: only the board's hidraw node is tagged uaccess${seat_late:+ and handed to the seat rules}"
