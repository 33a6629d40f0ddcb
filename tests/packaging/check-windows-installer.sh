#!/usr/bin/env bash
# Builds the Windows installer and zip from this cross-build tree and checks them as a user meets
# them, under Wine in a prefix of their own that sees nothing of the build tree: both carry the
# licence texts and source pointers of everything they ship; the zip's program runs from where it
# was unpacked; the installer installs silently, puts the Start-menu entries, the uninstaller and
# an Apps entry without an invented contact in place, the installed program starts, an update and
# an uninstall both end the program while it runs, and uninstalling leaves nothing behind.
# Usage: check-windows-installer.sh <cpack> <build dir> <expected version> <scripts/wine-run>
set -euo pipefail
cpack=$1 build=$2 version=$3 wine_run=$4

fail() { echo "FAIL: $*" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
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

# licenses\ beside bin\: the overview names exactly the files there, each file holds the text it
# is there for, and the overview says where every part's source is, Qt's first of all.
check_licences() { # <installed or unpacked tree>
    local dir=$1/licenses
    [ -f "$dir/README.txt" ] || fail "no licenses\\README.txt in $1"
    local listed present
    listed=$(tr -d '\r' <"$dir/README.txt" | sed -n '/^The files in licenses$/,$p' |
        awk 'NR > 2 && /^[^ ]/ { print $1 }' | LC_ALL=C sort)
    present=$(cd "$dir" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
    [ "$listed" = "$present" ] ||
        fail "licenses\\README.txt lists other files than are there: $(diff <(echo "$listed") <(echo "$present"))"
    has() { grep -qF -- "$2" "$dir/$1" || fail "licenses\\$1 lacks \"$2\""; }
    has LGPL-3.txt "GNU LESSER GENERAL PUBLIC LICENSE"
    has LGPL-3.txt "Version 3, 29 June 2007"
    has GPL-3.txt "GNU GENERAL PUBLIC LICENSE"
    has GPL-3.txt "Version 3, 29 June 2007"
    has GPL-2.txt "Version 2, June 1991"
    has qt6-base.txt "Upstream-Name: qtbase"
    has qt6-base.txt "License: LGPL-3 or GPL-2"
    has qt6-base.txt "Files: src/3rdparty/freetype/*"
    has hidapi.txt "HIDAPI can be used under one of three licenses"
    has hidapi.txt "Redistributions in binary form must reproduce the above copyright"
    has gcc-runtime.txt "GCC RUNTIME LIBRARY EXCEPTION"
    has gcc-runtime.txt "Version 3.1, 31 March 2009"
    has mingw-w64.txt "Files: mingw-w64-libraries/winpthreads/*"
    has mingw-w64.txt "Permission is hereby granted, free of charge"
    cmp -s "$dir/tarnovid.txt" "$here/../../packaging/copyright" ||
        fail "licenses\\tarnovid.txt is not the project's packaging/copyright"
    has hidapi-0.13.1-wine8-optional-CM_Get_Device_Interface_PropertyW.patch "+++ b/windows/hid.c"
    has build-qt-mingw.sh "qt6-base_6.4.2+dfsg-10.dsc"
    has README.txt "qt6-base 6.4.2+dfsg-10"
    has README.txt "apt-get source qt6-base=6.4.2+dfsg-10"
    has README.txt "https://snapshot.debian.org/package/qt6-base/6.4.2%2Bdfsg-10/"
    has README.txt "apt-get source hidapi=0.13.1-1"
    # Every part's source, with a version: an empty one would read "name=".
    local fetch
    fetch=$(tr -d '\r' <"$dir/README.txt" | grep -c -E '^ +(- )?apt-get source( [a-z0-9.+-]+=[0-9][^ ]*)+$' || true)
    [ "$fetch" -eq 4 ] || fail "licenses\\README.txt says how to get $fetch sources, not Qt's, hidapi's, GCC's and MinGW-w64's"
    ! grep -q '@[A-Za-z_]*@' "$dir/README.txt" || fail "licenses\\README.txt has a blank left in it"
    echo "ok: licences and sources in $1"
}

# The installed tarnovid.exe, started in the background and left open as a user would, until
# something ends it: $bg is its job, whose status says whether it outlived its time (124).
start_installed() {
    QT_QPA_PLATFORM=offscreen TARNOVID_WINE_TIMEOUT=120 wine_as_user "$installed_exe" >"$work/bg.log" 2>&1 &
    bg=$!
    local _
    for _ in $(seq 60); do
        installed_runs && return 0
        kill -0 $bg 2>/dev/null || break
        sleep 1
    done
    cat "$work/bg.log" >&2
    fail "the installed tarnovid.exe did not start"
}
# Whether a process of this prefix runs the installed tarnovid.exe. Wine shows a Windows program's
# command line as the process's own; other checks may run Wine beside this one.
installed_runs() {
    local pid
    for pid in $(pgrep -f -x 'C:\\Program Files\\Tarnovid\\bin\\tarnovid\.exe'); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$prefix" && return 0
    done
    return 1
}
# After <what> ran silently: the program it found running is gone, ended well before its time.
ended_by() { # <what>
    local _ rc=0
    for _ in $(seq 60); do
        installed_runs || break
        sleep 0.5
    done
    if installed_runs; then
        kill $bg 2>/dev/null || true
        fail "tarnovid.exe still runs after $1"
    fi
    wait $bg || rc=$?
    [ $rc -ne 124 ] || fail "tarnovid.exe outlived $1"
    # The installers' own processes, and the registry written out; a question left on screen
    # would keep them waiting.
    timeout 120 wineserver -w || fail "$1 did not finish within 2 minutes: does it wait for an answer?"
    echo "ok: $1 ended the running tarnovid.exe"
}

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
# The C library's files for programs of one's own are shipped on purpose (import libraries for
# MinGW and for MSVC), and so are the examples; no other header or library is. licenses\ holds
# exactly the files its overview names (checked below), build scripts among them.
library_files="bin/tarnovid.dll include/tarnovid.h include/tarnovid_version.h
    lib/libtarnovid.dll.a lib/tarnovid.lib lib/tarnovid.def bin/tarnovid.py
    examples/running_light.c examples/reconnect.c examples/reconnect.py"
for file in $library_files; do
    [ -f "$top/$file" ] || fail "the zip lacks the C library's $file"
done
leaks=$(cd "$top" && find . -path ./licenses -prune -o -type f \( -iname 'tst_*' -o -iname 'test_*' \
    -o -iname 'Qt6Test.dll' -o -name '*.a' -o -name '*.h' -o -name '*.cmake' -o -iname '*.lib' \
    -o -iname '*.def' \) ! -path ./include/tarnovid.h ! -path ./include/tarnovid_version.h \
    ! -path ./lib/libtarnovid.dll.a \
    ! -path ./lib/tarnovid.lib ! -path ./lib/tarnovid.def -print)
[ -z "$leaks" ] || fail "the zip carries build leftovers: $leaks"
check_licences "$top"
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
installed_exe='C:\Program Files\Tarnovid\bin\tarnovid.exe'
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
# The project has no public address: the entry offers no contact rather than an invented one.
entry=$(awk '/^\[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Tarnovid\]/ { on = 1 }
    on && /^$/ { exit } on' "$prefix/system.reg")
grep -q '"Publisher"="Dravelko"' <<<"$entry" || fail "no Apps entry with its publisher found: $entry"
! grep -qi '"Contact"\|example\.invalid' <<<"$entry" || fail "the Apps entry gives a contact: $entry"
! grep -qi 'example\.invalid' "$prefix"/*.reg || fail "the registry names example.invalid"
check_licences "$installed"
diff -r "$top/licenses" "$installed/licenses" >/dev/null || fail "the installer's licences differ from the zip's"
# The installer's licence page shows the overview, not CPack's "no license provided".
grep -q 'MUI_PAGE_LICENSE ".*/licenses/README.txt"' "$work/out/_CPack_Packages/win64/NSIS/project.nsi" ||
    fail "the installer's licence page shows something else: $(grep MUI_PAGE_LICENSE "$work/out/_CPack_Packages/win64/NSIS/project.nsi")"

echo "== run"
stays_up offscreen "$installed_exe"
stays_up windows "$installed_exe"

# Runs an installer or uninstaller silently while the installed program runs; it must succeed
# without waiting for an answer and end the program.
silently_while_running() { # <what> <program>
    start_installed
    local rc=0
    TARNOVID_WINE_TIMEOUT=120 without_display "$2" /S || rc=$?
    [ $rc -eq 0 ] || fail "$1 while the program ran failed (status $rc; 124: it waited for an answer)"
    ended_by "$1"
}

echo "== update over the running program"
# Windows will not replace a running program: the installer ends it first, without asking when
# silent (the old version's uninstaller, which it runs first, does the same).
silently_while_running "the update" "$installer"
for file in bin/tarnovid.exe licenses/README.txt Uninstall.exe; do
    [ -f "$installed/$file" ] || fail "the update left no $file: $(cd "$installed" && find . -type f)"
done
[ "$(traces | grep -c 'DisplayName.*Tarnovid')" -eq 1 ] || fail "the update left the Apps entry twice or not at all"

echo "== uninstall while the program runs"
# The uninstaller copies itself to the temporary folder and runs from there; wineserver -w
# waits for that copy too. The program it finds running holds its files until it is ended.
silently_while_running "uninstalling" 'C:\Program Files\Tarnovid\Uninstall.exe'
[ ! -e "$installed" ] || fail "left behind: $(find "$installed")"
snapshot "$work/after"
diff "$work/before" "$work/after" || fail "uninstalling left the files above behind"
[ -z "$(traces)" ] || fail "the registry still names tarnovid: $(traces)"
echo "ok: installed, started and uninstalled without a trace"
rm -rf "$prefix" "$prefix.lock" # 700 MB of Wine
