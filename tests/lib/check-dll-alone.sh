#!/usr/bin/env bash
# tarnovid.dll needs nothing beside it: a program and the DLL, alone in a folder, run under Wine
# with no other folder on the DLL search path (no MinGW runtime, no Qt), and the program's checks
# pass.
# Usage: check-dll-alone.sh <scripts/wine-run> <build dir> <program.exe> <tarnovid.dll>
set -euo pipefail
wine_run=$1 build=$2 program=$3 dll=$4

fail() { echo "FAIL: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$program" "$dll" "$work/"
cd "$work" # Windows looks in the current folder too: this one
echo "in the folder:" $(ls)
# TARNOVID_WINE_AS_INSTALLED hides the build tree's DLLs; offscreen keeps the run off a display.
rc=0
out=$(QT_QPA_PLATFORM=offscreen TARNOVID_WINE_AS_INSTALLED=1 "$wine_run" "$build" \
    "./$(basename "$program")" 2>&1 | tr -d '\r') || rc=$?
echo "$out"
# The status Wine ends a program with when a DLL it imports is found nowhere.
[ $rc -ne 53 ] || fail "the program did not load: a DLL it needs is missing from the folder"
[ $rc -eq 0 ] || fail "the program ended with status $rc"
grep -qx 'ok: 0 failed checks' <<<"$out" || fail "the program did not report its checks"
echo "OK: $(basename "$dll") works with nothing beside it"
