#!/usr/bin/env bash
# Checks the menu entry, the AppStream data, the icon and the icon resource:
# that they agree with each other and with the project, then runs the
# freedesktop and AppStream validators on them.
# Usage: check-desktop-files.sh <packaging dir> <project version> <rcc>
set -euo pipefail
dir=$1 version=$2 rcc=$3
fail() { echo "FAIL: $*" >&2; exit 1; }

desktop=$dir/tarnovid.desktop
metainfo=$dir/io.github.dravelko.Tarnovid.metainfo.xml
value() { sed -n "s/^$1=//p" "$desktop"; }

[ "$(value Exec)" = tarnovid ] || fail "Exec is '$(value Exec)', the binary is tarnovid"
[ -f "$dir/$(value Icon).svg" ] || fail "Icon=$(value Icon) has no $(value Icon).svg beside it"
for key in Name GenericName Comment Keywords; do
    [ -n "$(value "$key")" ] || fail "no $key"
    [ -n "$(value "$key\[sr\]")" ] || fail "no Serbian $key[sr]"
done

launchable=$(sed -n 's:.*<launchable type="desktop-id">\(.*\)</launchable>.*:\1:p' "$metainfo")
[ "$launchable" = "$(basename "$desktop")" ] || fail "metainfo launches '$launchable', the entry is $(basename "$desktop")"
[ "$(sed -n 's:.*<id>\(.*\)</id>.*:\1:p' "$metainfo").metainfo.xml" = "$(basename "$metainfo")" ] \
    || fail "metainfo file name does not follow its <id>"
# Software centres show the newest <release>, which comes first.
newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n1 | cut -d'"' -f2)
[ "$newest" = "$version" ] || fail "newest metainfo release is '$newest', the project is $version"

mapping=$("$rcc" --list-mapping "$dir/tarnovid.qrc") || fail "rcc cannot read tarnovid.qrc"
grep -Eq "^:/tarnovid\.svg[[:space:]].*tarnovid\.svg$" <<<"$mapping" \
    || fail "tarnovid.qrc does not map :/tarnovid.svg to the icon: $mapping"

missing=()
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
else missing+=(desktop-file-utils); fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
else missing+=(appstream); fi
if command -v xmllint >/dev/null; then
    xmllint --noout "$dir/tarnovid.svg" || fail "tarnovid.svg is not well-formed XML"
else missing+=(libxml2-utils); fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "SKIP: the checks above passed, but these validators are missing: ${missing[*]} (scripts/setup packaging)"
    exit 77
fi
echo "OK: desktop entry, metainfo, icon and resource"
