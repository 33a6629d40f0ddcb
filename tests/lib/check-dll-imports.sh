#!/usr/bin/env bash
# tarnovid.dll imports Windows' own DLLs only: its C++ runtime and winpthreads are inside it, so a
# process holding other copies of libstdc++-6.dll, libgcc_s_seh-1.dll or libwinpthread-1.dll (or
# none) loads it alike. Qt has no business there either.
# Usage: check-dll-imports.sh <tarnovid.dll> <objdump>
set -euo pipefail
dll=$1 objdump=$2

fail() { echo "FAIL: $*" >&2; exit 1; }

imports=$("$objdump" -p "$dll" | sed -n 's/^\s*DLL Name: \(.*\)$/\1/p' | LC_ALL=C sort -f)
[ -n "$imports" ] || fail "$objdump found no imports in $dll"
echo "imports:"
sed 's/^/  /' <<<"$imports"
# The C runtime, the kernel, and what hidapi's Windows code may name.
system='kernel32|ntdll|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+|advapi32|user32|shell32|ole32'
system+='|oleaut32|hid|cfgmgr32|setupapi'
foreign=$(grep -v -i -x -E "($system)\.dll" <<<"$imports" || true)
[ -z "$foreign" ] || fail "$(basename "$dll") imports DLLs that are not Windows' own:" $foreign
echo "OK: $(basename "$dll") imports Windows' own DLLs only"
