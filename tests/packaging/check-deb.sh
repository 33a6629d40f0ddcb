#!/usr/bin/env bash
# Builds the .deb from this build tree and checks what a user would install:
# the file list, the control fields, the computed dependencies, how the
# maintainer scripts behave with and without a running udev, and what
# Debian's own checker, lintian, says about it.
# Usage: check-deb.sh <cpack> <build dir> <expected version>
set -euo pipefail
cpack=$1 build=$2 version=$3

fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in dpkg-deb dpkg-shlibdeps file; do
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
[ ${#debs[@]} -eq 1 ] || fail "expected exactly one .deb, cpack made: ${debs[*]:-none}"
deb=${debs[0]}
[ "$(basename "$deb")" = "tarnovid_${version}_${arch}.deb" ] \
    || fail "file name $(basename "$deb") is not tarnovid_${version}_${arch}.deb"

echo "== control fields"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tarnovid ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', project says $version"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
depends=$(field Depends)
echo "Depends: $depends"
# The libraries come from dpkg-shlibdeps: their absence means the binary is not
# linked against the system packages or shlibdeps did not run. The platform
# plugin is loaded at run time, so only the explicit list can bring it.
for pkg in libhidapi-hidraw0 libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins; do
    grep -Eq "(^|, )$pkg( \(|,|$)" <<<"$depends" || fail "Depends lacks $pkg"
done

echo "== files"
dpkg-deb -c "$deb" | awk '{print $1, $2, $6}' >"$work/list"
cat "$work/list"
# Every file, with its mode, exactly: a file missing is a broken install, a file
# more is a leak from the build (a header, a test program, an absolute path
# from the build machine) or something installed that no check here looks at.
cat >"$work/expected" <<'FILES'
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
while read -r mode owner path; do
    [ "$owner" = root/root ] || fail "$path is owned by $owner"
    [[ $mode == d* ]] || echo "$mode $path"
done <"$work/list" | LC_ALL=C sort -k2,2 >"$work/files"
diff -u "$work/expected" "$work/files" >&2 \
    || fail "the package's files differ from the list above (- expected, + in the package)"

# Man pages as Debian ships them: gzip with neither a name nor a time stamp inside, so the
# package is the same whenever it is built.
dpkg-deb -x "$deb" "$work/root"
for page in "$work"/root/usr/share/man/man*/*.gz; do
    gzip -t "$page" || fail "$page is not a whole gzip file"
    [ "$(od -An -tu4 -j4 -N4 "$page" | tr -d ' ')" = 0 ] || fail "$page carries a time stamp (not gzip -n)"
done

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
dpkg-deb -x "$deb" "$work/root"
# Every release needs its changelog entry, and lintian does not compare the two.
newest=$(zcat "$work/root/usr/share/doc/tarnovid/changelog.gz" | sed -n '1s/^tarnovid (\([^)]*\)).*/\1/p')
[ "$newest" = "$version" ] || fail "newest changelog entry is '$newest', the package is $version"

# An override hides a tag for good, so each one carries the reason it is right:
# a comment opens the block of override lines it explains.
awk '/^[[:space:]]*$/ { explained = 0; next }
     /^#/ { explained = 1; next }
     !explained { print "packaging/tarnovid.lintian-overrides:" FNR ": no comment explains: " $0; bad = 1 }
     END { exit bad }' "$work/root/usr/share/lintian/overrides/tarnovid" >&2 \
    || fail "lintian overrides without a reason"

if ! command -v lintian >/dev/null; then
    echo "SKIP: the checks above passed, but lintian is missing (scripts/setup packaging)"
    exit 77
fi
# Not --show-overrides: with it, overridden tags count towards --fail-on too.
status=0
lintian --display-info --fail-on error,warning "$deb" >"$work/lintian" 2>"$work/lintian.err" || status=$?
grep -v 'running with root privileges' "$work/lintian.err" >&2 || true
cat "$work/lintian"
[ "$status" = 0 ] || fail "lintian reports errors or warnings that no override explains (exit $status)"
# A tag that is fixed leaves its override behind, ready to hide its return.
! grep -E '^[EWI]: tarnovid: (unused|mismatched)-override' "$work/lintian" \
    || fail "stale lintian overrides: remove them from packaging/tarnovid.lintian-overrides"

echo "OK: $(basename "$deb")"
