#!/usr/bin/env bash
# Builds the Windows installer and zip from this cross-build tree and checks them as a user meets
# them, under Wine in a prefix of their own that sees nothing of the build tree: the zip's program
# runs from where it was unpacked; the installer installs silently, puts the Start-menu entries
# and the uninstaller in place, the installed program starts, and uninstalling leaves nothing
# behind.
# Usage: check-windows-installer.sh <cpack> <build dir> <expected version> <scripts/wine-run>
set -euo pipefail
cpack=$1 build=$2 version=$3 wine_run=$4

fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in makensis wine xvfb-run; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing: run scripts/setup windows"; exit 77; }
done

work=$(mktemp -d)
prefix=$build/wine/installer
export WINEPREFIX=$prefix
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
rm -rf "$prefix" "$prefix.lock"
# Windows looks for DLLs in the current folder too: run from one that has none.
cd "$work"

# -B keeps cpack's staging tree out of the build directory.
if ! "$cpack" --config "$build/CPackConfig.cmake" -G "NSIS;ZIP" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    fail "cpack could not build the packages"
fi
name=tarnovid-$version-win64
installer=$work/out/$name.exe
zip=$work/out/$name.zip
[ -f "$installer" ] || fail "no $name.exe; cpack made: $(ls "$work/out")"
[ -f "$zip" ] || fail "no $name.zip; cpack made: $(ls "$work/out")"

wine_as_user() { TARNOVID_WINE_PREFIX=$prefix TARNOVID_WINE_AS_INSTALLED=1 "$wine_run" "$build" "$@"; }
# The installer and uninstaller need no display; "offscreen" keeps Wine off one for them too.
without_display() { QT_QPA_PLATFORM=offscreen wine_as_user "$@"; }
# Starts a program on a platform for a few seconds: it must still be running when they are up.
# A missing DLL or plugin ends it at once, with a status of its own.
stays_up() { # <platform> <program>
    local rc=0
    QT_QPA_PLATFORM=$1 TARNOVID_WINE_TIMEOUT=8 wine_as_user "$2" >"$work/run.log" 2>&1 || rc=$?
    [ $rc -eq 124 ] || { cat "$work/run.log" >&2; fail "$2 on $1 ended (status $rc) instead of running"; }
    echo "ok: $2 runs on $1"
}
# Every file of the prefix's C: drive but the temporary ones, and every registry line naming us.
snapshot() {
    (cd "$prefix/drive_c" && find . -ipath './windows/temp' -prune -o -ipath './users/*/temp' -prune \
        -o -print | LC_ALL=C sort) >"$1"
}
traces() { grep -i -h tarnovid "$prefix"/*.reg || true; }

echo "== zip"
mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip")
top=$work/zip/$name
(cd "$top" && find . -type f | LC_ALL=C sort)
for file in bin/tarnovid.exe bin/tarnovid-demo.exe bin/Qt6Core.dll bin/Qt6Gui.dll \
    bin/Qt6Widgets.dll bin/platforms/qwindows.dll bin/platforms/qoffscreen.dll \
    bin/styles/qwindowsvistastyle.dll bin/libstdc++-6.dll bin/libgcc_s_seh-1.dll \
    bin/libwinpthread-1.dll; do
    [ -f "$top/$file" ] || fail "the zip lacks $file"
done
# The C library's files for programs of one's own are shipped on purpose; no other header or
# library is.
library_files="bin/tarnovid.dll include/tarnovid.h lib/libtarnovid.dll.a bin/tarnovid.py"
for file in $library_files; do
    [ -f "$top/$file" ] || fail "the zip lacks the C library's $file"
done
leaks=$(cd "$top" && find . -type f \( -iname 'tst_*' -o -iname 'test_*' -o -iname 'Qt6Test.dll' \
    -o -name '*.a' -o -name '*.h' -o -name '*.cmake' \) ! -path ./include/tarnovid.h \
    ! -path ./lib/libtarnovid.dll.a)
[ -z "$leaks" ] || fail "the zip carries build leftovers: $leaks"
stays_up offscreen "$top/bin/tarnovid.exe"
# tarnovidctl.exe reaches the board through tarnovid.dll beside it: the demo board answers.
out=$(QT_QPA_PLATFORM=offscreen wine_as_user "$top/bin/tarnovidctl.exe" --board demo get -v 2>&1 | tr -d '\r') ||
    fail "tarnovidctl.exe --board demo get failed: $out"
[ "$out" = "T2=0 T3=0 T4=0 raw=0x00" ] || fail "tarnovidctl.exe --board demo get -v printed: $out"
echo "ok: tarnovidctl.exe runs on tarnovid.dll from the zip"

echo "== install"
snapshot "$work/before"
[ -z "$(traces)" ] || fail "the fresh prefix already names tarnovid"
without_display "$installer" /S
wineserver -w # the installer's children, and the registry written out
installed="$prefix/drive_c/Program Files/Tarnovid"
[ -f "$installed/bin/tarnovid.exe" ] || fail "nothing installed in C:\\Program Files\\Tarnovid"
[ -f "$installed/Uninstall.exe" ] || fail "no uninstaller"
for file in $library_files; do
    [ -f "$installed/$file" ] || fail "the installer did not install the C library's $file"
done
(cd "$installed" && find . -type f | LC_ALL=C sort)
menu=$(find "$prefix/drive_c" -ipath '*/Start Menu/Programs/Tarnovid' -type d)
[ -n "$menu" ] || fail "no Start-menu folder Tarnovid"
for link in Tarnovid.lnk "Tarnovid demo (simulated board).lnk" Uninstall.lnk; do
    [ -f "$menu/$link" ] || fail "the Start menu lacks $link; it has: $(ls "$menu")"
done
traces | grep -qi 'DisplayName.*Tarnovid' || fail "no entry in the installed programs' list"
# The list's icon is the program's own; Wine's registry file doubles every backslash.
grep -qF '"DisplayIcon"="C:\\Program Files\\Tarnovid\\bin\\tarnovid.exe"' "$prefix/system.reg" ||
    fail "the installed programs' list shows another icon: $(grep -h DisplayIcon "$prefix"/*.reg)"

echo "== run"
stays_up offscreen 'C:\Program Files\Tarnovid\bin\tarnovid.exe'
stays_up windows 'C:\Program Files\Tarnovid\bin\tarnovid.exe'

echo "== uninstall"
# The uninstaller copies itself to the temporary folder and runs from there; wineserver -w
# waits for that copy too.
without_display 'C:\Program Files\Tarnovid\Uninstall.exe' /S
wineserver -w
[ ! -e "$installed" ] || fail "left behind: $(find "$installed")"
snapshot "$work/after"
diff "$work/before" "$work/after" || fail "uninstalling left the files above behind"
[ -z "$(traces)" ] || fail "the registry still names tarnovid: $(traces)"
echo "ok: installed, started and uninstalled without a trace"
rm -rf "$prefix" "$prefix.lock" # 700 MB of Wine
