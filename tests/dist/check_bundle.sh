#!/usr/bin/env bash
# check_bundle.sh ZIP VERSION OBJDUMP WINDRES
# Installs the release bundle as a user would (unpacked into a fresh directory), then checks
# its contents, that every binary imports only Windows system DLLs and that every binary of
# our own carries VERSION. Unpacking releases is the fault matrix's job.
set -euo pipefail
zip=$1 version=$2 objdump=$3 windres=$4
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "bundle: $*" >&2; exit 1; }

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

echo "bundle $zip: contents, imports and versions are right"
