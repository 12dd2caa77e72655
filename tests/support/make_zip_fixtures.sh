#!/usr/bin/env bash
# Makes the ZIP archives that the writer profiles read but cannot make themselves, with the real
# Info-ZIP zip, 7-Zip and Python's zipfile, into the directory given as the argument:
#   writers/...          a small release as the writer-profile tests expect it: Disc/info.nfo
#                        (read-only), Disc/film.zip (an archive of film.mkv), and film.mkv
#   writer-*.zip         writers/Disc zipped by Info-ZIP zip, 7-Zip and Python's zipfile; Python
#                        stores Disc/film.zip from a bare ZipInfo, whose Unix mode is 0
# Runs again only when this script changed. The DOS times are local time at UTC+9 (TZ=JST-9),
# the zone that the tests run in.
set -euo pipefail
out=$1
stamp="$out/stamp"
version=$(sha1sum "$0" | cut -d' ' -f1)
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ] && exit 0

rm -rf "$out"
export TZ=JST-9
mkdir -p "$out/writers/Disc"
cd "$out/writers"
head -c 300000 /dev/urandom > film.mkv
seq -f 'release note line %.0f' 1 50 > Disc/info.nfo
zip -q -X Disc/film.zip film.mkv
find . -exec touch -m -d '2021-03-04 05:06:08 UTC' {} + -exec touch -a -d '2022-01-02 03:04:06 UTC' {} +
chmod 0444 Disc/info.nfo
zip -q -r ../writer-infozip.zip Disc
7z a -tzip ../writer-7zip.zip Disc > /dev/null
python3 - ../writer-python.zip <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as archive:
    archive.write("Disc")
    with open("Disc/film.zip", "rb") as film:
        archive.writestr(zipfile.ZipInfo("Disc/film.zip", date_time=(2021, 3, 4, 14, 6, 8)), film.read())
    archive.write("Disc/info.nfo")
PY
echo "$version" > "$stamp"
