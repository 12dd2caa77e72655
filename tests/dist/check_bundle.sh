#!/usr/bin/env bash
# check_bundle.sh ZIP VERSION OBJDUMP WINDRES
# Installs the release bundle as a user would (unpacked into a fresh directory), then checks
# its contents, that every binary imports only Windows system DLLs and that every binary of
# our own carries VERSION, and runs the bundled module through the bundled wcxhost on a
# generated sample release, with the bundled unrar64.dll beside it.
set -euo pipefail
zip=$1 version=$2 objdump=$3 windres=$4
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "bundle: $*" >&2; exit 1; }
. "$top/tools/common.sh"

mkdir "$work/plugin"
unzip -q "$zip" -d "$work/plugin"
expected="LICENSE.txt lang/ravelpak_chs.dll pluginst.inf ravelpak.wcx64 readme.txt unrar-license.txt unrar64.dll wcxhost.exe"
actual=$(cd "$work/plugin" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')
[ "$actual" = "$expected" ] || fail "contents are [$actual], expected [$expected]"
grep -q '^\[plugininstall\]' "$work/plugin/pluginst.inf" || fail "pluginst.inf has no [plugininstall] section"
for key in "type=wcx" "file=ravelpak.wcx64" "defaultdir=ravelpak" "defaultextension=ravelpak"; do
  tr -d '\r' < "$work/plugin/pluginst.inf" | grep -qx "$key" || fail "pluginst.inf lacks $key"
done

for binary in ravelpak.wcx64 unrar64.dll wcxhost.exe lang/ravelpak_chs.dll; do
  cmake -DOBJDUMP="$objdump" -DBINARY="$work/plugin/$binary" -P "$top/tests/check_binary.cmake" \
    || fail "$binary imports more than Windows system DLLs"
done
for binary in ravelpak.wcx64 wcxhost.exe lang/ravelpak_chs.dll; do
  "$windres" -i "$work/plugin/$binary" -O rc | grep -q "VALUE \"FileVersion\", \"$version\"" \
    || fail "$binary does not carry version $version"
done

run() { "$top/tools/wine-run.sh" "$work/plugin/wcxhost.exe" "$@" | tr -d '\r'; }
caps=$(run caps "$(winpath "$work/plugin/ravelpak.wcx64")")
[ "$caps" = "$(printf 'caps 21\nbackground 2')" ] || fail "caps answered [$caps]"

# The module creates its settings file on first load; this one turns on everything the
# sample needs: verification, deletion of sources, clean-up and the SFV deletion.
write_settings "$work/plugin/ravelpak.xml"
bash "$top/tools/make-sample-release.sh" "$work/release" > /dev/null
result=$(run pack "$(winpath "$work/plugin/ravelpak.wcx64")" "$(winpath "$work/out/show.zip")" \
  "$(winpath "$work/release")\\" Show)
[ "$result" = "result 0" ] || fail "pack answered [$result]"
cmp -s "$work/release/show.mkv" "$work/out/Show/show.mkv" || fail "the film did not come out whole"
left=$(cd "$work/release/Show" && ls | tr '\n' ' ')
[ "$left" = "show.nfo " ] || fail "the download still holds [$left]"
echo "bundle $zip: contents, imports, versions and a sample release are right"
