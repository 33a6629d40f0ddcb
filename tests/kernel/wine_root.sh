#!/usr/bin/env bash
# Makes, once, the root that the Windows programs run in inside the test kernel: Debian 13's
# Wine 10 in a root of its own (never installed into this system), with a Wine prefix made here
# on the host, where it takes seconds instead of minutes under emulation.
#
#   tests/kernel/wine_root.sh DIR
#
# DIR/root is the finished root; DIR/root/.tarnovid-root holds what it was made from, and a root
# made from the same recipe is kept, whichever mirror it came from. The packages come from the
# Debian mirror this machine's apt uses, through apt's proxy if it has one
# (TARNOVID_DEBIAN_MIRROR names another mirror). Exit code 77 when it cannot be made here (not
# root, no debootstrap, no Debian mirror among apt's sources, the mirror out of reach), with the
# reason on stderr.
set -euo pipefail

[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
dir=$1
suite=trixie
# udev: without its daemon Wine hears of no board plugged in after it started, nor of one pulled
# out; a board that comes and goes is what the link's checks are about. Qt Core: the board
# emulator, built on this machine, runs on this root's libraries and reads its command line
# with Qt.
packages=(wine64 wine udev libqt6core6t64)
# The prefix's settings for a machine without display or sound, whose board Wine must reach
# through hidraw: Wine's hidraw backend stays off while its SDL one is on.
recipe="suite=$suite packages=${packages[*]} winebus-sdl=0 graphics=null audio=none v1"

skip() { echo "wine root: $*" >&2; exit 77; }
root=$dir/root
if [ -f "$root/.tarnovid-root" ] && [ "$(cat "$root/.tarnovid-root")" = "$recipe" ]; then
    exit 0
fi

[ "$(id -u)" -eq 0 ] || skip "making a root for Debian's Wine needs root (debootstrap, chroot)"
command -v debootstrap > /dev/null || skip "debootstrap is not installed (scripts/setup kernel)"
command -v unshare > /dev/null || skip "unshare is not installed"

# The mirror of Debian's archive among apt's sources (sources.list, sources.list.d's *.list and
# deb822 *.sources, as apt itself reads them, disabled entries left out): the source of one of
# Debian's own suites, not its security or updates archive. Once apt has fetched its lists, each
# source's label tells Debian's archive from another vendor's that names its suite after Debian's;
# before that, only the suite and Debian's component "main" do.
debian_suites='^(buster|bullseye|bookworm|trixie|forky|duke|sid|oldoldstable|oldstable|stable|testing|unstable)$'
apt_mirror() {
    local found
    found=$(apt-get indextargets --format '$(TARGET_OF) $(RELEASE) $(LABEL) $(REPO_URI)' \
        2> /dev/null | awk -v suites="$debian_suites" \
        '$1 == "deb" && $2 ~ suites && $3 == "Debian" { print $4; exit }')
    [ -n "$found" ] || found=$(apt-get indextargets --no-release-info \
        --format '$(TARGET_OF) $(RELEASE) $(COMPONENT) $(REPO_URI)' 2> /dev/null |
        awk -v suites="$debian_suites" '$1 == "deb" && $2 ~ suites && $3 == "main" { print $4; exit }')
    echo "${found%/}"
}
mirror=${TARNOVID_DEBIAN_MIRROR:-$(apt_mirror)}
[ -n "$mirror" ] || skip "apt's sources name no mirror of Debian's archive to fetch $suite from"
case "$mirror" in
    http://* | https://* | ftp://* | file://*) ;;
    *) skip "apt's Debian source $mirror is not one debootstrap can fetch from" ;;
esac

# The proxy apt takes to that mirror, if any (its setting for the mirror's host, its setting for
# the scheme, the environment's): debootstrap's downloads take it from the environment, apt in the
# new root from its own setting.
scheme=${mirror%%://*}
host=${mirror#*://}
host=${host%%/*}
host=${host##*@}
host=${host%%:*}
proxy=
eval "$(apt-config shell proxy "Acquire::$scheme::Proxy::$host" 2> /dev/null)"
[ -n "$proxy" ] || eval "$(apt-config shell proxy "Acquire::$scheme::Proxy" 2> /dev/null)"
[ -n "$proxy" ] || proxy=$(printenv "${scheme}_proxy" || true)
case "$scheme:$proxy" in
    file:* | *: | *:DIRECT) proxy= ;;
    *) export "${scheme}_proxy=$proxy" ;;
esac

# Everything in the root runs in a mount namespace of its own: the mounts it needs go away with
# it, whatever way the script ends.
in_root() {
    unshare --mount --propagation private -- /bin/sh -euc '
        root=$1; shift
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mount -t tmpfs tmpfs "$root/tmp"
        mount -t tmpfs tmpfs "$root/run"
        exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
            LANG=C.UTF-8 "$@"' sh "$1" "${@:2}"
}

started=$SECONDS
rm -rf "$root" "$root.new"
mkdir -p "$dir"
echo "wine root: debootstrap $suite from $mirror"
if ! debootstrap --variant=minbase "$suite" "$root.new" "$mirror" > "$dir/debootstrap.log" 2>&1; then
    tail -n 5 "$dir/debootstrap.log" >&2
    rm -rf "$root.new"
    skip "debootstrap $suite from $mirror failed (no network?); log in $dir/debootstrap.log"
fi
if [ -n "$proxy" ]; then
    echo "wine root: through apt's proxy for $host"
    echo "Acquire::$scheme::Proxy \"$proxy\";" > "$root.new/etc/apt/apt.conf.d/00proxy"
fi
echo "wine root: installing ${packages[*]} ($((SECONDS - started)) s so far)"
in_root "$root.new" apt-get install -y -qq --no-install-recommends "${packages[@]}" \
    > "$dir/apt.log" 2>&1 ||
    { tail -n 5 "$dir/apt.log" >&2; exit 1; }
in_root "$root.new" apt-get clean

echo "wine root: making the Wine prefix ($((SECONDS - started)) s so far)"
# One wineserver for every step, ended before the namespace goes.
in_root "$root.new" /bin/sh -euc '
    export WINEPREFIX=/opt/tarnovid/prefix WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d;winemenubuilder.exe=d"
    mkdir -p /opt/tarnovid
    wineboot -i
    wine reg add "HKLM\\System\\CurrentControlSet\\Services\\winebus" /v "Enable SDL" \
        /t REG_DWORD /d 0 /f
    wine reg add "HKCU\\Software\\Wine\\Drivers" /v Graphics /d null /f
    wine reg add "HKCU\\Software\\Wine\\Drivers" /v Audio /d "" /f
    wineserver -w' > "$dir/prefix.log" 2>&1 ||
    { tail -n 5 "$dir/prefix.log" >&2; exit 1; }
[ -f "$root.new/opt/tarnovid/prefix/system.reg" ] ||
    { echo "wine root: wineboot made no prefix" >&2; exit 1; }
echo "$recipe" > "$root.new/.tarnovid-root"
mv "$root.new" "$root"
echo "wine root: ready in $((SECONDS - started)) s ($(du -sh "$root" | cut -f1))"
