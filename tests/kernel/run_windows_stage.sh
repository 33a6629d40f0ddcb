#!/usr/bin/env bash
# The kernel stage for the Windows programs: Debian's kernel booted under emulation with the board
# emulator's gadget, as in the Linux stage, and the Windows build's programs run there under Wine
# (Debian 13's Wine 10, in a root of its own handed to the guest over virtio-9p). Passes only on
# each run's own PASS line; exits 77 (skipped) with the reason when a tool or a build is missing.
set -euo pipefail

usage() {
    echo "usage: $0 --source-dir DIR --work-dir DIR --windows-build DIR --program EXE" \
        "--standin DLL --example EXE [--guest EXE...]" >&2
    exit 2
}
src= work= winbuild= program= standin= example=
guests=() # Windows programs that check themselves and print their own result line
while [ $# -gt 0 ]; do
    case "$1" in
        --source-dir) src=$2 ;;
        --work-dir) work=$2 ;;
        --windows-build) winbuild=$2 ;;
        --program) program=$2 ;;
        --standin) standin=$2 ;;
        --example) example=$2 ;; # the C library's example, a program of the library's users
        --guest) guests+=("$2") ;;
        *) usage ;;
    esac
    shift 2 || usage
done
[ -n "$src" ] && [ -n "$work" ] && [ -n "$winbuild" ] && [ -n "$program" ] && [ -n "$standin" ] &&
    [ -n "$example" ] || usage

# Guest time under TCG; a healthy run takes about half of it.
boot_timeout=${TARNOVID_WINDOWS_STAGE_TIMEOUT:-720}
init_timeout=${TARNOVID_KERNEL_INIT_TIMEOUT:-40}
started=$SECONDS
step() { printf 'windows kernel stage [%3ds] %s\n' $((SECONDS - started)) "$*"; }
skip() { echo "windows kernel stage: skipped: $*"; exit 77; }
die() { echo "windows kernel stage: $*" >&2; exit 1; }

# The board emulator and the kernel come from the Linux build's own kernel stage.
linux_build=${TARNOVID_BUILD_DIR:-$src/build}
board=$linux_build/tools/tarnovid-board/tarnovid-board
[ -x "$board" ] || skip "no board emulator at $board (build the Linux tree first: ./dev build)"
kdir=$(ls -td "$linux_build"/tests/kernel/stage/kernel/*/ 2> /dev/null | head -n1 || true)
kdir=${kdir%/}
[ -n "$kdir" ] && [ -f "$kdir/done" ] ||
    skip "no kernel unpacked by the Linux kernel stage in $linux_build (./dev test -L kernel)"
deb=$linux_build/tests/kernel/stage/debs/$(basename "$kdir").deb
[ -f "$deb" ] || skip "the kernel package $deb is gone"
for exe in "$program" "$standin" "$example" "${guests[@]}"; do
    [ -f "$exe" ] || skip "$exe is not built"
done

mkdir -p "$work"
cd "$work"
step "installing packages"
if [ "$(id -u)" -eq 0 ] || command -v sudo > /dev/null; then
    "$src/scripts/setup" kernel
fi
command -v qemu-system-x86_64 > /dev/null || skip "qemu-system-x86_64 is not installed"
step "the Wine root"
status=0
bash "$src/tests/kernel/wine_root.sh" "$work/wine" || status=$?
[ "$status" -ne 77 ] || skip "no Wine root (see above)"
[ "$status" -eq 0 ] || die "could not make the Wine root"

# What virtio-9p and overlayfs need, after the gadget's modules, each after its dependencies.
modules=(hid usb-common usbcore udc-core dummy_hcd configfs libcomposite usb_f_hid usbhid
    hid-generic virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci netfs
    fscache 9pnet 9pnet_virtio 9p overlay)
mdir=$work/modules/$(basename "$kdir")
if [ ! -f "$mdir/done" ]; then
    step "unpacking the modules from $(basename "$deb")"
    rm -rf "$mdir" && mkdir -p "$mdir/tree"
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$mdir/tree" --wildcards './lib/modules/*/kernel/*' \
        './lib/modules/*/modules.builtin'
    for m in "${modules[@]}"; do
        ko=$(find "$mdir/tree" \( -name "$m.ko" -o -name "$m.ko.xz" \) | head -n1)
        if [ -z "$ko" ]; then
            # Built into this kernel: nothing to load.
            grep -qw "$m" "$mdir"/tree/lib/modules/*/modules.builtin 2> /dev/null ||
                die "module $m is neither in $(basename "$deb") nor built in"
            continue
        fi
        case "$ko" in
            *.xz) xz -dc "$ko" > "$mdir/$m.ko" ;;
            *) cp "$ko" "$mdir/$m.ko" ;;
        esac
        echo "$m" >> "$mdir/order"
    done
    rm -rf "$mdir/tree"
    touch "$mdir/done"
fi

step "building the initramfs and the shared stage folder"
root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,modules,proc,sys,dev,tmp}
cp /bin/busybox "$root/bin/busybox"
cp "$mdir"/*.ko "$mdir/order" "$root/modules/"
install -m 0755 "$src/tests/kernel/windows_guest_init.sh" "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) > initramfs.cpio

# The stage folder, read-only in the guest: the programs as built, copies beside the stand-in,
# the DLLs they load from the Windows build, the emulator and the guest's script.
shared=$work/shared
rm -rf "$shared"
mkdir -p "$shared"/{bin,as-built,with-standin,linux}
install -m 0755 "$board" "$shared/linux/"
install -m 0755 "$src/tests/kernel/windows_guest.sh" "$shared/"
cp "$program" "$shared/as-built/"
cp "$program" "$standin" "$example" "${guests[@]}" "$shared/with-standin/"
# The DLLs the programs import, found where the Windows build's own Wine runs find them.
# shellcheck source=/dev/null
. "$winbuild/wine-env.sh"
IFS=';' read -r -a dll_dirs <<< "${TARNOVID_WINE_PATH//Z:/}"
wanted=("$program" "$example" "${guests[@]}")
while [ ${#wanted[@]} -gt 0 ]; do
    file=${wanted[0]}
    wanted=("${wanted[@]:1}")
    for dll in $(x86_64-w64-mingw32-objdump -p "$file" | awk '/DLL Name:/ { print $3 }'); do
        [ -e "$shared/bin/$dll" ] && continue
        for dir in "${dll_dirs[@]}"; do
            if [ -f "$dir/$dll" ]; then
                cp "$dir/$dll" "$shared/bin/"
                wanted+=("$dir/$dll")
                break
            fi
        done
    done
done
step "programs: $(cd "$shared" && ls as-built with-standin | tr '\n' ' ')"
step "their DLLs: $(ls "$shared/bin" | tr '\n' ' ')"

log=$work/serial.log
# shellcheck source=boot_guest.sh
. "$src/tests/kernel/boot_guest.sh"
# SMAP off: with it, Wine's processes oops this kernel under TCG.
boot_guest "$log" "$boot_timeout" "$init_timeout" -cpu max,-smap -m 2048 \
    -kernel "$kdir/vmlinux" -initrd initramfs.cpio \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init" \
    -virtfs "local,path=$work/wine/root,mount_tag=wineroot,security_model=none,readonly=on,multidevs=remap" \
    -virtfs "local,path=$shared,mount_tag=stage,security_model=none,readonly=on,multidevs=remap"
grep -aE '^(ok|FAIL|skip|FIGURE|windows guest|  \| |  \$|  board)' "$log.txt" || true

grep -a 'TARNOVID-GUEST-RESULT' "$log.txt" || true
failed=0
grep -aq 'TARNOVID-GUEST-RESULT.*: FAIL' "$log.txt" && failed=1
expected=("tarnovidctl.exe list" "$(basename "$example")" "tarnovidctl.exe set 0x81"
    "tarnovidctl.exe get" "tarnovidctl.exe get --json"
    "tarnovidctl.exe watch --interval 50 (emulator stopped meanwhile)")
for guest in "${guests[@]}"; do
    name=$(basename "$guest" .exe)
    expected+=("${name#tarnovid-guest-}")
done
for name in "${expected[@]}"; do
    if ! grep -aqF "TARNOVID-GUEST-RESULT $name: PASS" "$log.txt"; then
        echo "windows kernel stage: no PASS line from $name" >&2
        failed=1
    fi
done
echo "windows kernel stage: stand-ins used: cfgmgr32.dll (test-only, beside copies of" \
    "tarnovidctl.exe and the guest programs; see README, \"The Windows programs against the" \
    "emulated board\")"
step "done"
if [ "$failed" -ne 0 ]; then
    tail -n 60 "$log.txt"
    exit 1
fi
