#!/usr/bin/env bash
# The main job on a generated sample download: a copy of the built module with a settings
# file that turns verification on, driven through wcxhost as the file manager would drive it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/build/win/bin"
demo="$top/build/demo"
winpath() { local p="Z:${1//\//\\}"; echo "$p"; }

rm -rf "$demo"
mkdir -p "$demo/plugin" "$demo/download/Show" "$demo/out"
cp "$bin/ravelpak.wcx64" "$bin/unrar64.dll" "$demo/plugin/"
cat > "$demo/plugin/ravelpak.xml" <<'XML'
<?xml version="1.0" encoding="ISO-8859-1"?>
<RavelpakSettings>
	<General>
		<DeleteTemp>1</DeleteTemp>
		<KeepOverWritten>1</KeepOverWritten>
		<Delete-src-during>1</Delete-src-during>
		<Keep-src-nosfv>1</Keep-src-nosfv>
		<Check-CRC>1</Check-CRC>
		<Delete-sfv>1</Delete-sfv>
		<File-to-keep>*.nfo</File-to-keep>
	</General>
</RavelpakSettings>
XML

# The sample download: a film in a ZIP, with an NFO and an SFV file listing the ZIP.
head -c $((3 << 20)) /dev/urandom > "$demo/show.mkv"
(cd "$demo" && zip -q -0 download/Show/show.zip show.mkv && rm show.mkv)
echo "Show, a sample release made by the demo" > "$demo/download/Show/show.nfo"
(cd "$demo/download/Show" && cksfv -q show.zip > show.sfv 2>/dev/null || cksfv show.zip > show.sfv)

echo "== the download"
(cd "$demo/download" && find . | sort)
"$top/tools/wine-session.sh" start
trap '"$top/tools/wine-session.sh" stop' EXIT
echo "== wcxhost pack --trace (progress texts the file manager would show)"
"$top/tools/wine-run.sh" "$bin/wcxhost.exe" pack --trace "$(winpath "$demo/plugin/ravelpak.wcx64")" \
  "$(winpath "$demo/out/show.zip")" "$(winpath "$demo/download")\\" Show | tr -d '\r' | awk '
    /^cb [1-9]/ { reads[$3]++; next }     # fold the progress reads of one file into one line
    { print }
    END { for (f in reads) printf "(%d progress reads of %s)\n", reads[f], f }'
echo "== the download afterwards"
(cd "$demo/download" && find . | sort)
echo "== the destination"
(cd "$demo/out" && find . | sort)
