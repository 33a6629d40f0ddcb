#!/usr/bin/env bash
# The shared library's interface as other programs see it: its SONAME (Linux), and that it exports
# exactly the functions tarnovid.h declares: none missing, nothing of the C++ inside.
# Usage: check-exports.sh <library file> <tarnovid.h> <nm or objdump>
set -euo pipefail
library=$1 header=$2 tool=$3

fail() { echo "FAIL: $*" >&2; exit 1; }

declared=$(sed -n 's/^TARNOVID_API [^(]*[ *]\(tarnovid_[a-z_]*\)(.*/\1/p' "$header" | LC_ALL=C sort)
[ "$(wc -l <<<"$declared")" -ge 9 ] || fail "found only these declarations in $header: $declared"

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
diff -u <(echo "$declared") <(echo "$exported") >&2 ||
    fail "the exports differ from tarnovid.h's functions (- declared only, + exported only)"
echo "OK: $(basename "$library") exports exactly the $(wc -l <<<"$declared") functions of tarnovid.h"
