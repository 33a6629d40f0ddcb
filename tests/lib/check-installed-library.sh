#!/usr/bin/env bash
# The library as another project gets it: installed from this build tree (runtime, development
# files and the Python module only), then the README's C example built against it with
# pkg-config and, separately, through find_package(Tarnovid), and run on the demo board; the
# Python module imported with Debian's python3 and run there too, and under the default prefix
# installed where that python3 looks.
# Usage: check-installed-library.sh <cmake> <build dir> <source dir> <C compiler> <version>
set -euo pipefail
cmake=$1 build=$2 src=$3 cc=$4 version=$5

fail() { echo "FAIL: $*" >&2; exit 1; }
command -v pkg-config >/dev/null || { echo "SKIP: pkg-config is missing"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
for component in lib dev python; do
    "$cmake" --install "$build" --prefix "$prefix" --component "$component" >/dev/null
done
find "$prefix" -type f -o -type l | sed "s|^$prefix/||" | LC_ALL=C sort

example=$src/libtarnovid/examples/running_light.c
expected='D0 on: T2=1 T3=0 T4=0
D1 on: T2=0 T3=1 T4=0
D2 on: T2=0 T3=0 T4=1
D3 on: T2=0 T3=0 T4=0
D4 on: T2=0 T3=0 T4=0
D5 on: T2=0 T3=0 T4=0
D6 on: T2=0 T3=0 T4=0
D7 on: T2=0 T3=0 T4=0'
pcfile=$(find "$prefix" -name tarnovid.pc)
[ -n "$pcfile" ] || fail "no tarnovid.pc installed"
libdir=$(dirname "$(dirname "$pcfile")")

# Runs a built example on the demo board; it must find the installed library, by its SONAME.
runs_on_demo() { # <program> <how it was built>
    readelf -d "$1" | grep -q 'NEEDED.*\[libtarnovid\.so\.1\]' ||
        fail "$2: the program does not load libtarnovid.so.1 by its SONAME"
    out=$(LD_LIBRARY_PATH=$libdir "$1" demo) || fail "$2: the example failed on the demo board"
    [ "$out" = "$expected" ] || fail "$2: the example printed"$'\n'"$out"
    echo "ok: $2"
}

echo "== pkg-config"
flags=$(PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs tarnovid)
echo "pkg-config --cflags --libs tarnovid: $flags"
# shellcheck disable=SC2086 # the flags are words
"$cc" -std=c99 -Wall -Wextra -Wpedantic -Werror -o "$work/by-pkg-config" "$example" $flags
runs_on_demo "$work/by-pkg-config" "built with pkg-config"

echo "== find_package"
"$cmake" -S "$src/tests/lib/consumer" -B "$work/consumer" -DEXAMPLE="$example" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log" >&2; fail "find_package(Tarnovid) did not configure"; }
"$cmake" --build "$work/consumer" >"$work/build.log" 2>&1 ||
    { cat "$work/build.log" >&2; fail "the find_package consumer did not build"; }
runs_on_demo "$work/consumer/running_light" "built through find_package(Tarnovid)"

echo "== python3"
module=$(find "$prefix" -name tarnovid.py)
[ -n "$module" ] || fail "no tarnovid.py installed"
out=$(cd "$work" && LD_LIBRARY_PATH=$libdir PYTHONPATH=$(dirname "$module") /usr/bin/python3 -c '
import tarnovid
with tarnovid.open("demo") as board:
    board.set_outputs(0x05)
    print(tarnovid.version(), board.read_inputs())') || fail "the Python module did not run"
[ "$out" = "$version 5" ] || fail "the Python module printed '$out'"
echo "ok: the installed Python module finds the installed library and reads the demo board"

echo "== python3 under the default prefix"
DESTDIR=$work/stage "$cmake" --install "$build" --prefix /usr/local --component python >/dev/null
module=$(find "$work/stage" -name tarnovid.py)
[ -n "$module" ] || fail "no tarnovid.py installed under /usr/local"
dir=$(dirname "${module#"$work/stage"}")
/usr/bin/python3 -c 'import sys; sys.exit(sys.argv[1] not in sys.path)' "$dir" ||
    fail "the module went into $dir, where python3 does not look"
echo "ok: under /usr/local the module goes into $dir"
