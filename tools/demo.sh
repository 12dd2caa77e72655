#!/usr/bin/env bash
# The main job on a generated sample download (a ZIP holding a RAR volume set of a film, with
# an NFO and an SFV file): a copy of the built module, with a settings file that turns on
# verification, deletion of sources and clean-up, driven through wcxhost as the file manager
# would drive it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/build/win/bin"
demo="$top/build/demo"
. "$top/tools/common.sh"

rm -rf "$demo"
mkdir -p "$demo/plugin" "$demo/out"
cp "$bin/ravelpak.wcx64" "$bin/unrar64.dll" "$demo/plugin/"
write_settings "$demo/plugin/ravelpak.xml"

bash "$top/tools/make-sample-release.sh" "$demo/download" 12 4 > /dev/null
mv "$demo/download/show.mkv" "$demo/original-show.mkv"

echo "== the download"
(cd "$demo/download" && find . | sort)
"$top/tools/wine-session.sh" start
trap '"$top/tools/wine-session.sh" stop' EXIT
echo "== wcxhost pack --trace (progress texts the file manager would show)"
"$top/tools/wine-run.sh" "$bin/wcxhost.exe" pack --trace "$(winpath "$demo/plugin/ravelpak.wcx64")" \
  "$(winpath "$demo/out/show.zip")" "$(winpath "$demo/download")\\" Show | tr -d '\r' | awk '
    /^cb [1-9]/ { reads[$3]++; next }     # fold the byte reports of one file into one line
    { print }
    END { for (f in reads) printf "(%d reports of bytes consumed from %s)\n", reads[f], f }'
echo "== the download afterwards"
(cd "$demo/download" && find . | sort)
echo "== the destination"
(cd "$demo/out" && find . | sort)
if cmp -s "$demo/original-show.mkv" "$demo/out/Show/show.mkv"; then
  echo "== the film came out byte for byte: $demo/out/Show/show.mkv"
else
  echo "== the film did not come out whole" >&2
  exit 1
fi
