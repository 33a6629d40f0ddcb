#!/usr/bin/env bash
# The kernel stage: boots Debian's kernel under emulation with a busybox initramfs holding the
# board emulator and the guest programs, and passes only on each guest program's own PASS line.
set -euo pipefail

usage() {
    echo "usage: $0 --source-dir DIR --work-dir DIR --init FILE --board EXE --qpa-plugin FILE" \
        "--guest EXE... [--tool EXE...]" >&2
    exit 2
}
src= work= board= init= qpa_plugin=
guests=()
tools=() # programs the guests run, installed beside them
while [ $# -gt 0 ]; do
    case "$1" in
        --source-dir) src=$2 ;;
        --work-dir) work=$2 ;;
        --board) board=$2 ;;
        --guest) guests+=("$2") ;;
        --tool) tools+=("$2") ;;
        --init) init=$2 ;;
        --qpa-plugin) qpa_plugin=$2 ;;
        *) usage ;;
    esac
    shift 2 || usage
done
[ -n "$src" ] && [ -n "$work" ] && [ -n "$board" ] && [ -n "$init" ] && [ -n "$qpa_plugin" ] &&
    [ ${#guests[@]} -gt 0 ] || usage

# Guest time under TCG; the whole stage must stay well inside ctest's limit.
boot_timeout=${TARNOVID_KERNEL_BOOT_TIMEOUT:-360}
# A healthy boot reaches /init in a few seconds.
init_timeout=${TARNOVID_KERNEL_INIT_TIMEOUT:-40}
started=$SECONDS
step() { printf 'kernel stage [%3ds] %s\n' $((SECONDS - started)) "$*"; }
die() { echo "kernel stage: $*" >&2; exit 1; }

step "installing packages"
"$src/scripts/setup" kernel

mkdir -p "$work/debs"
cd "$work"

# The kernel that linux-image-amd64 currently points at; a cached package keeps the stage
# working when the package lists are stale or the mirror cannot be reached.
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}
pkg=$(kernel_package)
if [ -z "$pkg" ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    "${sudo[@]}" apt-get update -qq || true
    pkg=$(kernel_package)
fi
deb=
if [ -n "$pkg" ]; then
    deb=$(ls debs/"${pkg}"_*.deb 2>/dev/null | head -n1 || true)
    if [ -z "$deb" ]; then
        step "downloading $pkg"
        # apt's download sandbox user cannot write into a root-owned build tree.
        (cd debs && apt-get download -qq -o APT::Sandbox::User=root "$pkg") ||
            die "apt-get download $pkg failed"
        deb=$(ls debs/"${pkg}"_*.deb | head -n1)
    fi
else
    deb=$(ls -t debs/linux-image-*.deb 2>/dev/null | head -n1 || true)
    [ -n "$deb" ] || die "cannot tell which kernel linux-image-amd64 depends on"
fi

modules=(hid usb-common usbcore udc-core dummy_hcd configfs libcomposite usb_f_hid usbhid
    hid-generic)
kdir=kernel/$(basename "$deb" .deb)
if [ ! -f "$kdir/done" ]; then
    step "extracting $(basename "$deb")"
    rm -rf "$kdir" && mkdir -p "$kdir/tree" "$kdir/modules"
    dpkg-deb --fsys-tarfile "$deb" |
        tar -x -C "$kdir/tree" --wildcards './boot/vmlinuz-*' './lib/modules/*/kernel/drivers/hid/*' \
            './lib/modules/*/kernel/drivers/usb/*' './lib/modules/*/kernel/fs/configfs/*'
    for m in "${modules[@]}"; do
        ko=$(find "$kdir/tree/lib/modules" -name "$m.ko" -o -name "$m.ko.xz" | head -n1)
        [ -n "$ko" ] || die "module $m not in $(basename "$deb")"
        case "$ko" in
            *.xz) xz -dc "$ko" > "$kdir/modules/$m.ko" ;;
            *) cp "$ko" "$kdir/modules/$m.ko" ;;
        esac
    done
    # The uncompressed ELF boots through its PVH entry in half the time of the bzImage, whose
    # decompressor runs slowly under TCG. It sits in the bzImage as an xz stream.
    vmlinuz=$(ls "$kdir"/tree/boot/vmlinuz-*)
    offset=$(LC_ALL=C grep -m1 -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n1 | cut -d: -f1)
    [ -n "$offset" ] || die "no xz stream in $vmlinuz"
    # xz stops at the end of its stream, before tail has written the trailer behind it.
    xz -dc --single-stream < <(tail -c +$((offset + 1)) "$vmlinuz") > "$kdir/vmlinux" ||
        die "cannot unpack the kernel image"
    rm -rf "$kdir/tree"
    touch "$kdir/done"
fi

step "building the initramfs"
root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,usr/bin,modules,proc,sys,dev,tmp}
cp /bin/busybox "$root/bin/busybox"
cp "$kdir"/modules/*.ko "$root/modules/"
install -m 0755 "$init" "$root/init"
install -m 0755 "$board" "$root/usr/bin/tarnovid-board"
: > "$root/guests"
for guest in "${guests[@]}"; do
    install -m 0755 "$guest" "$root/usr/bin/$(basename "$guest")"
    basename "$guest" >> "$root/guests"
done
for tool in "${tools[@]}"; do
    install -m 0755 "$tool" "$root/usr/bin/$(basename "$tool")"
done
# A window needs its platform plugin, at the path Qt was built to look in, and fonts for the
# captions it measures.
mkdir -p "$root$(dirname "$qpa_plugin")" "$root/etc" "$root/usr/share/fonts/truetype"
cp "$qpa_plugin" "$root$qpa_plugin"
cp -rL /etc/fonts "$root/etc/fonts"
if [ -d /usr/share/fonts/truetype/liberation ]; then
    cp -r /usr/share/fonts/truetype/liberation "$root/usr/share/fonts/truetype/"
fi
# Shared libraries at the paths the dynamic loader will look for them.
for exe in "$board" "${guests[@]}" "${tools[@]}" "$qpa_plugin"; do
    ldd "$exe" | awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^\//) print $i }'
done | sort -u | while read -r lib; do
    mkdir -p "$root$(dirname "$lib")"
    cp -L "$lib" "$root$lib"
done
(cd "$root" && find . | cpio -o -H newc --quiet) > initramfs.cpio

log=$work/serial.log
# shellcheck source=boot_guest.sh
. "$src/tests/kernel/boot_guest.sh"
boot_guest "$log" "$boot_timeout" "$init_timeout" -m 1024 \
    -kernel "$kdir/vmlinux" -initrd initramfs.cpio \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init"
grep -aE '^(ok|FAIL|FIGURE|  \| )' "$log.txt" || true
# /init reports a module that would not load on a line of its own; any FAIL line decides, and
# every guest program must have said PASS.
grep -a 'TARNOVID-GUEST-RESULT' "$log.txt" || true
failed=0
grep -aq 'TARNOVID-GUEST-RESULT.*: FAIL' "$log.txt" && failed=1
for guest in "${guests[@]}"; do
    name=$(basename "$guest")
    name=${name#tarnovid-guest-}
    if ! grep -aq "TARNOVID-GUEST-RESULT $name: PASS" "$log.txt"; then
        echo "kernel stage: no PASS line from $name" >&2
        failed=1
    fi
done
if [ "$failed" -ne 0 ]; then
    tail -n 60 "$log.txt"
    exit 1
fi
