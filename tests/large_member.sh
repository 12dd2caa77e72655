#!/usr/bin/env bash
# A stored set in a ZIP file whose first volume is one member of more than 2 GiB (2.3 GB of
# zeros): the film is copied straight out of the ZIP file, which is checked against its SFV line
# from the CRC-32s of the pieces read, joined over more than a 32-bit length. The job delivers
# the film whole, and the ZIP file goes.
#
#   large_member.sh BIN WORK   (the Windows build's bin/, a scratch folder with 8 GB free)
set -euo pipefail
bin=${1:?usage: large_member.sh BIN WORK}
work=${2:?}
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/common.sh"
export WINEPREFIX="${WINEPREFIX:-$top/build/wineprefix}"
export WINEDEBUG=-all

rm -rf "$work"
mkdir -p "$work/plugin" "$work/src/Rel" "$work/out"
work=$(cd "$work" && pwd)
trap 'rm -rf "$work"' EXIT
cp "$bin/ravelpak.wcx64" "$work/plugin/"
write_settings "$work/plugin/ravelpak.xml"
film_size=$((2400 << 20))
(cd "$work/src/Rel" && truncate -s "$film_size" film.mkv && rar a -m0 -v2300000000b -idq film.rar film.mkv &&
  rm film.mkv && zip -q -0 rel.zip film.part1.rar film.part2.rar && rm film.part*.rar && cksfv -q rel.zip > rel.sfv)

wine "$bin/wcxhost.exe" pack "$(winpath "$work/plugin/ravelpak.wcx64")" "$(winpath "$work/out/new.zip")" \
  "$(winpath "$work/src")\\" Rel > "$work/result.txt" 2>/dev/null
film="$work/out/Rel/film.mkv"
if ! grep -q '^result 0' "$work/result.txt" || [ "$(stat -c %s "$film" 2>/dev/null)" != "$film_size" ] ||
  ! cmp -s -n "$film_size" "$film" /dev/zero || [ -e "$work/src/Rel/rel.zip" ]; then
  echo "large_member: the film of a member over 2 GiB was not delivered:" >&2
  cat "$work/result.txt" >&2
  ls -l "$work/out/Rel" "$work/src/Rel" >&2
  exit 1
fi
echo "large_member: a film of $film_size bytes out of one ZIP member of 2300000000 bytes"
