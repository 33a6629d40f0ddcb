#!/usr/bin/env bash
# Builds the .debs from this build tree (the tool, and the C library as runtime, -dev and Python
# packages) and checks what a user would install: the file lists, the control fields, the computed
# dependencies, the library's shlibs, symbols and trigger, how the tool's maintainer scripts behave
# with and without a running udev, that the packaged programs and module find the packaged
# library, that every function of tarnovid.h has its manual page name, and what Debian's own
# checker, lintian, says about them.
# Usage: check-deb.sh <cpack> <build dir> <expected version> <source dir>
set -euo pipefail
cpack=$1 build=$2 version=$3 src=$4
header=$src/libtarnovid/include/tarnovid.h
functions=$(sed -n 's/^TARNOVID_API [^(]*[ *]\(tarnovid_[a-z_]*\)(.*/\1/p' "$header")

fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in dpkg-deb dpkg-shlibdeps dpkg-architecture file; do
    command -v "$tool" >/dev/null || fail "$tool is missing: run scripts/setup packaging"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# -B keeps cpack's staging tree out of the build directory.
if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    fail "cpack could not build the package"
fi
shopt -s nullglob
debs=("$work"/out/*.deb)
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=usr/lib/$multiarch
echo "made: $(cd "$work/out" && echo *.deb)"
[ ${#debs[@]} -eq 4 ] || fail "expected four .debs, cpack made: ${debs[*]:-none}"
deb_of() { # <package> <architecture>: the package's file, which must exist
    local file=$work/out/${1}_${version}_$2.deb
    [ -f "$file" ] || fail "no $(basename "$file")"
    echo "$file"
}
deb=$(deb_of tarnovid "$arch")
libdeb=$(deb_of libtarnovid1 "$arch")
devdeb=$(deb_of libtarnovid-dev "$arch")
pydeb=$(deb_of python3-tarnovid all)

echo "== control fields"
field() { dpkg-deb -f "$1" "$2"; }
# <deb> <package> <architecture> <section>
control() {
    [ "$(field "$1" Package)" = "$2" ] || fail "Package is '$(field "$1" Package)', not $2"
    [ "$(field "$1" Version)" = "$version" ] || fail "$2: Version is '$(field "$1" Version)', project says $version"
    [ "$(field "$1" Architecture)" = "$3" ] || fail "$2: Architecture is '$(field "$1" Architecture)'"
    [ "$(field "$1" Section)" = "$4" ] || fail "$2: Section is '$(field "$1" Section)', not $4"
    [ "$(field "$1" Source)" = tarnovid ] || fail "$2: Source is '$(field "$1" Source)', not tarnovid"
    [ -n "$(field "$1" Maintainer)" ] || fail "$2: no Maintainer"
    echo "$2 Depends: $(field "$1" Depends)"
}
control "$deb" tarnovid "$arch" electronics
control "$libdeb" libtarnovid1 "$arch" libs
control "$devdeb" libtarnovid-dev "$arch" libdevel
control "$pydeb" python3-tarnovid all python
# <deb> <package>...: each must be a dependency
depends_on() {
    local deb=$1 pkg depends
    depends=$(field "$deb" Depends)
    shift
    for pkg in "$@"; do
        grep -Eq "(^|, )$pkg( \(|,|$)" <<<"$depends" || fail "$(field "$deb" Package) does not depend on $pkg"
    done
}
# The libraries come from dpkg-shlibdeps: their absence means the binary is not
# linked against the system packages or shlibdeps did not run. The platform
# plugin is loaded at run time, so only the explicit list can bring it.
depends_on "$deb" libhidapi-hidraw0 libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins
depends_on "$libdeb" libhidapi-hidraw0 "libstdc\\+\\+6"
# The library's packages move in step: its -dev, its module and the tool need this very build.
for d in "$deb" "$devdeb" "$pydeb"; do
    grep -Fq "libtarnovid1 (= $version)" <<<"$(field "$d" Depends)" ||
        fail "$(field "$d" Package) does not depend on libtarnovid1 (= $version)"
done
depends_on "$pydeb" 'python3(:any)?'

echo "== files"
# Every file of each package, with its mode, exactly: a file missing is a broken install, a file
# more is a leak from the build (a header in the tool's package, a test program, an absolute path
# from the build machine) or something installed that no check here looks at.
files_of() { # <deb>: mode and path of each file, sorted by path
    dpkg-deb -c "$1" | awk '{print $1, $2, $6, $7, $8}' | while read -r mode owner path arrow target; do
        [ "$owner" = root/root ] || fail "$path is owned by $owner"
        [[ $mode == d* ]] || echo "$mode $path${arrow:+ $arrow $target}"
    done | LC_ALL=C sort -k2,2
}
check_files() { # <deb>; the expected list on stdin
    cat >"$work/expected"
    files_of "$1" >"$work/files"
    echo "-- $(basename "$1")"
    cat "$work/files"
    diff -u "$work/expected" "$work/files" >&2 \
        || fail "$(basename "$1")'s files differ from the list above (- expected, + in the package)"
}
check_files "$deb" <<'FILES'
-rwxr-xr-x ./usr/bin/tarnovid
-rwxr-xr-x ./usr/bin/tarnovid-board
-rwxr-xr-x ./usr/bin/tarnovid-demo
-rwxr-xr-x ./usr/bin/tarnovidctl
-rw-r--r-- ./usr/lib/udev/rules.d/70-tarnovid.rules
-rw-r--r-- ./usr/share/applications/tarnovid.desktop
-rw-r--r-- ./usr/share/bash-completion/completions/tarnovidctl
-rw-r--r-- ./usr/share/doc/tarnovid/changelog.gz
-rw-r--r-- ./usr/share/doc/tarnovid/copyright
-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/tarnovid.svg
-rw-r--r-- ./usr/share/lintian/overrides/tarnovid
-rw-r--r-- ./usr/share/man/man1/tarnovid-board.1.gz
-rw-r--r-- ./usr/share/man/man1/tarnovid-demo.1.gz
-rw-r--r-- ./usr/share/man/man1/tarnovid.1.gz
-rw-r--r-- ./usr/share/man/man1/tarnovidctl.1.gz
-rw-r--r-- ./usr/share/metainfo/io.github.dravelko.Tarnovid.metainfo.xml
FILES
check_files "$libdeb" <<FILES
lrwxrwxrwx ./$lib/libtarnovid.so.1 -> libtarnovid.so.$version
-rw-r--r-- ./$lib/libtarnovid.so.$version
-rw-r--r-- ./usr/share/doc/libtarnovid1/changelog.gz
-rw-r--r-- ./usr/share/doc/libtarnovid1/copyright
-rw-r--r-- ./usr/share/lintian/overrides/libtarnovid1
FILES
# The -dev package also carries a manual page name for each function, and every example there is.
{
    for function in $functions; do
        echo "lrwxrwxrwx ./usr/share/man/man3/$function.3.gz -> tarnovid.3.gz"
    done
    for example in "$src"/libtarnovid/examples/*; do
        echo "-rw-r--r-- ./usr/share/doc/libtarnovid-dev/examples/$(basename "$example")"
    done
    cat <<FILES
-rw-r--r-- ./usr/include/tarnovid.h
-rw-r--r-- ./usr/include/tarnovid_version.h
-rw-r--r-- ./$lib/cmake/Tarnovid/TarnovidConfig.cmake
-rw-r--r-- ./$lib/cmake/Tarnovid/TarnovidConfigVersion.cmake
-rw-r--r-- ./$lib/cmake/Tarnovid/TarnovidTargets-$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt" | tr '[:upper:]' '[:lower:]').cmake
-rw-r--r-- ./$lib/cmake/Tarnovid/TarnovidTargets.cmake
lrwxrwxrwx ./$lib/libtarnovid.so -> libtarnovid.so.1
-rw-r--r-- ./$lib/pkgconfig/tarnovid.pc
-rw-r--r-- ./usr/share/doc/libtarnovid-dev/changelog.gz
-rw-r--r-- ./usr/share/doc/libtarnovid-dev/copyright
-rw-r--r-- ./usr/share/lintian/overrides/libtarnovid-dev
-rw-r--r-- ./usr/share/man/man3/tarnovid.3.gz
FILES
} | LC_ALL=C sort -k2,2 | check_files "$devdeb"
check_files "$pydeb" <<'FILES'
-rw-r--r-- ./usr/lib/python3/dist-packages/tarnovid.py
-rw-r--r-- ./usr/share/doc/python3-tarnovid/changelog.gz
-rw-r--r-- ./usr/share/doc/python3-tarnovid/copyright
-rw-r--r-- ./usr/share/lintian/overrides/python3-tarnovid
FILES

for d in "${debs[@]}"; do
    dpkg-deb -x "$d" "$work/root"
done

echo "== the library's control files"
dpkg-deb -e "$libdeb" "$work/libcontrol"
# Other packages' dependencies on the library come from these: any 1.x from this one on will do.
grep -qx "libtarnovid 1 libtarnovid1 (>= $version)" "$work/libcontrol/shlibs" ||
    fail "shlibs says: $(cat "$work/libcontrol/shlibs")"
grep -qx 'activate-noawait ldconfig' "$work/libcontrol/triggers" ||
    fail "the library's package does not trigger ldconfig"
# The symbols file names what the library exports, no more and no less.
diff -u <(sed -n 's/^ \(tarnovid_[a-z_]*\)@Base .*/\1/p' "$work/libcontrol/symbols" | LC_ALL=C sort) \
    <(nm -D --defined-only "$work/root/$lib/libtarnovid.so.$version" | awk '{print $NF}' | LC_ALL=C sort) >&2 ||
    fail "the symbols file and the library's exports differ (- symbols file, + exported)"

echo "== the packaged programs and module on the packaged library"
# Found by its SONAME through the loader, as once installed (the programs carry no search path).
out=$(LD_LIBRARY_PATH=$work/root/$lib QT_QPA_PLATFORM=offscreen \
    "$work/root/usr/bin/tarnovidctl" --board demo get -v) || fail "tarnovidctl --board demo get failed"
[ "$out" = "T2=0 T3=0 T4=0 raw=0x00" ] || fail "tarnovidctl --board demo get -v printed '$out'"
/usr/bin/python3 -c 'import sys; sys.exit("/usr/lib/python3/dist-packages" not in sys.path)' ||
    fail "Debian's python3 does not look in /usr/lib/python3/dist-packages"
out=$(cd "$work" && LD_LIBRARY_PATH=$work/root/$lib PYTHONPATH=$work/root/usr/lib/python3/dist-packages \
    /usr/bin/python3 -c '
import tarnovid
with tarnovid.open("demo") as board:
    board.set_outputs(0x03)
    print(board.read_inputs())') || fail "the packaged Python module did not run"
[ "$out" = 3 ] || fail "the packaged Python module read '$out' from the demo board"
echo "ok: tarnovidctl and the Python module use the packaged library"

# Man pages as Debian ships them: gzip with neither a name nor a time stamp inside, so the
# package is the same whenever it is built.
for page in "$work"/root/usr/share/man/man*/*.gz; do
    gzip -t "$page" || fail "$page is not a whole gzip file"
    [ "$(od -An -tu4 -j4 -N4 "$page" | tr -d ' ')" = 0 ] || fail "$page carries a time stamp (not gzip -n)"
done

echo "== manual page names"
# `man tarnovid_open` finds tarnovid(3), whose NAME line names it too (for apropos and whatis),
# for every function tarnovid.h declares: a new one cannot be left without.
[ "$(wc -w <<<"$functions")" -ge 9 ] || fail "found only these functions in $header: $functions"
names=$(zcat "$work/root/usr/share/man/man3/tarnovid.3.gz" | sed -n '/^\.SH NAME/,/^\.SH /p')
for function in $functions; do
    page=$work/root/usr/share/man/man3/$function.3.gz
    [ -L "$page" ] && [ -f "$page" ] || fail "man $function finds no page in the -dev package"
    grep -qw -- "$function" <<<"$names" || fail "tarnovid(3)'s NAME section does not name $function"
done
echo "ok: man finds tarnovid(3) under each of $(wc -w <<<"$functions") function names"

echo "== maintainer scripts"
dpkg-deb -e "$deb" "$work/control"
for script in postinst postrm; do
    [ -x "$work/control/$script" ] || fail "$script is missing or not executable"
done

# A stand-in udevadm records its calls; PING_RC says whether a udev daemon answers.
mkdir "$work/stub" "$work/nobin"
cat >"$work/stub/udevadm" <<'STUB'
#!/bin/sh
echo "$*" >>"$UDEVADM_LOG"
case "$*" in
    *--ping*) exit "$PING_RC" ;;
    *) exit "$RUN_RC" ;;
esac
STUB
chmod +x "$work/stub/udevadm"
run_script() { # <script> <arg> <PATH> <ping rc> <other rc>
    : >"$work/calls"
    env -i PATH="$3" UDEVADM_LOG="$work/calls" PING_RC="$4" RUN_RC="$5" \
        /bin/sh "$work/control/$1" "$2" || fail "$1 $2 failed (ping $4, udevadm $5)"
}
reloads() { grep -c -e '--reload-rules' "$work/calls" || true; }
for case in "postinst configure" "postrm remove"; do
    set -- $case
    run_script "$1" "$2" "$work/nobin" 0 0
    [ ! -s "$work/calls" ] || fail "$1 $2 without udevadm still called something"
    run_script "$1" "$2" "$work/stub" 1 0
    [ "$(reloads)" = 0 ] || fail "$1 $2 reloaded rules although no udev daemon answered"
    run_script "$1" "$2" "$work/stub" 0 1
    run_script "$1" "$2" "$work/stub" 0 0
    grep -qx 'control --reload-rules' "$work/calls" || fail "$1 $2 did not reload the rules"
    grep -qx 'trigger --subsystem-match=hidraw --action=change' "$work/calls" \
        || fail "$1 $2 did not replay hidraw events"
done
# Upgrades and purges need no reload: the rule file is unchanged or already gone.
run_script postrm purge "$work/stub" 0 0
[ "$(reloads)" = 0 ] || fail "postrm purge reloaded the rules"

echo "== changelog and lintian"
for package in tarnovid libtarnovid1 libtarnovid-dev python3-tarnovid; do
    # Every release needs its changelog entry, and lintian does not compare the two.
    newest=$(zcat "$work/root/usr/share/doc/$package/changelog.gz" | sed -n '1s/^tarnovid (\([^)]*\)).*/\1/p')
    [ "$newest" = "$version" ] || fail "$package: newest changelog entry is '$newest', the package is $version"

    # An override hides a tag for good, so each one carries the reason it is right:
    # a comment opens the block of override lines it explains.
    awk -v package="$package" '/^[[:space:]]*$/ { explained = 0; next }
         /^#/ { explained = 1; next }
         !explained { print package "'"'"'s lintian overrides:" FNR ": no comment explains: " $0; bad = 1 }
         END { exit bad }' "$work/root/usr/share/lintian/overrides/$package" >&2 \
        || fail "lintian overrides without a reason"
done

if ! command -v lintian >/dev/null; then
    echo "SKIP: the checks above passed, but lintian is missing (scripts/setup packaging)"
    exit 77
fi
# Not --show-overrides: with it, overridden tags count towards --fail-on too.
status=0
lintian --display-info --fail-on error,warning "${debs[@]}" >"$work/lintian" 2>"$work/lintian.err" || status=$?
grep -v 'running with root privileges' "$work/lintian.err" >&2 || true
cat "$work/lintian"
[ "$status" = 0 ] || fail "lintian reports errors or warnings that no override explains (exit $status)"
# A tag that is fixed leaves its override behind, ready to hide its return.
! grep -E '^[EWI]: [a-z0-9-]+: (unused|mismatched)-override' "$work/lintian" \
    || fail "stale lintian overrides: remove them from packaging/tarnovid.lintian-overrides or packaging/library/"

echo "OK: $(cd "$work/out" && echo *.deb)"
