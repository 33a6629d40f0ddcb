#!/usr/bin/env bash
# The shared library's interface as other programs see it: its SONAME (Linux), and that it exports
# exactly the functions tarnovid.h declares: none missing, nothing of the C++ inside. On Windows
# also the module-definition file and the import library for MSVC made from it: they name the
# same functions, imported by their plain names from the DLL itself.
# Usage: check-exports.sh <library file> <tarnovid.h> <nm or objdump>
#                         [<tarnovid.def> <tarnovid.lib> <llvm-readobj>]
set -euo pipefail
library=$1 header=$2 tool=$3 def=${4:-} implib=${5:-} readobj=${6:-}

fail() { echo "FAIL: $*" >&2; exit 1; }

declared=$(sed -n 's/^TARNOVID_API [^(]*[ *]\(tarnovid_[a-z0-9_]*\)(.*/\1/p' "$header" | LC_ALL=C sort)
[ "$(wc -l <<<"$declared")" -ge 9 ] || fail "found only these declarations in $header: $declared"

# <what> <names>: the names are exactly the declared functions.
same_as_declared() {
    diff -u <(echo "$declared") <(echo "$2") >&2 ||
        fail "$1 differs from tarnovid.h's functions (- declared only, + $1 only)"
}

case "$library" in
    *.dll)
        # The export table: "[ordinal] name" lines after the name pointer table's heading.
        exported=$("$tool" -p "$library" |
            sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' |
            LC_ALL=C sort) ;;
    *)
        soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
        [ "$soname" = libtarnovid.so.1 ] || fail "SONAME is '$soname', not libtarnovid.so.1"
        exported=$("$tool" -D --defined-only "$library" | awk '{ print $NF }' | LC_ALL=C sort) ;;
esac
echo "exported:"
sed 's/^/  /' <<<"$exported"
same_as_declared "the export table" "$exported"
echo "OK: $(basename "$library") exports exactly the $(wc -l <<<"$declared") functions of tarnovid.h"

[ -n "$def" ] || exit 0
dll=$(basename "$library")
tr -d '\r' <"$def" | grep -qx "LIBRARY $dll" || fail "$(basename "$def") does not name $dll"
listed=$(tr -d '\r' <"$def" | sed -n '/^EXPORTS$/,$s/^\s\+\([^ ;]\+\).*$/\1/p' | LC_ALL=C sort)
same_as_declared "$(basename "$def")" "$listed"
echo "OK: $(basename "$def") lists them"

# llvm-readobj shows each member of a short import library as a block: "File:" the DLL it imports
# from, "Type: code", "Name type: name" (imported as named, undecorated), and the two symbols
# "__imp_<name>" and "<name>". An import library for 32-bit x86 would say "_<name>".
members=$("$readobj" "$implib" | awk -v dll="$dll" '
    /^File: / { file = $2 }
    /^Format: COFF-import-file/ { short = 1; type = ""; nametype = ""; next }
    short && /^Type: / { type = $2 }
    short && /^Name type: / { nametype = $3 }
    short && /^Symbol: / && $2 !~ /^__imp_/ {
        if (file != dll || type != "code" || nametype != "name")
            printf "BAD %s from %s, type %s, name type %s\n", $2, file, type, nametype
        else
            print $2
        short = 0
    }')
echo "imported through $(basename "$implib"):"
sed 's/^/  /' <<<"$members"
! grep -q '^BAD ' <<<"$members" || fail "$(basename "$implib") imports these otherwise than by name from $dll"
same_as_declared "$(basename "$implib")" "$(LC_ALL=C sort <<<"$members")"
echo "OK: $(basename "$implib") imports them by name from $dll"
