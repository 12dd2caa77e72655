#!/usr/bin/env bash
# Makes the ZIP archives that the Windows tests read but cannot make themselves, with the real
# Info-ZIP zip and 7-Zip, into the directory given as the argument:
#   tree/top/...         the source files, with fixed times and modes
#   infozip.zip          tree/top with nested directories, a deflated 100 MiB file and a stored file
#   seed.zip             a few small files and directories, the seed of the mutation test
#   zip64.zip            one file with forced Zip64 extra fields
#   stream.zip           a file zipped from a pipe, with Zip64 extra fields
#   encrypted-*.zip      traditional encryption with the empty password, deflated and stored
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
mkdir -p "$out/tree/top/sub/deeper" "$out/tree/top/empty"
cd "$out/tree"
seq -f 'line %.0f of a text that deflates' 1 400 > top/a.txt
printf 'second level\n' > top/sub/b.txt
head -c 70000 /dev/urandom > top/sub/deeper/c.bin
printf 'do not change me\n' > top/readonly.txt
# head ends the pipe early, so the writer's broken pipe is expected there.
set +o pipefail
{ head -c 20000000 /dev/urandom; seq -f 'row %.0f of the big file' 1 4000000; } | head -c 104857600 > top/big.dat
set -o pipefail

# Files: written 2021-03-04 05:06:08 UTC, read 2022-01-02 03:04:06 UTC. Directories too.
find top -exec touch -m -d '2021-03-04 05:06:08 UTC' {} + -exec touch -a -d '2022-01-02 03:04:06 UTC' {} +
chmod 0444 top/readonly.txt

export TZ=JST-9
# infozip.zip comes first: zipping reads the files, which may move their access times.
zip -q -r -n .bin ../infozip.zip top
zip -q -r ../seed.zip top/a.txt top/sub/b.txt top/readonly.txt top/empty
zip -q -fz ../zip64.zip top/a.txt
seq 1 20000 | zip -q ../stream.zip -
# 7-Zip reads the password from standard input: an empty line is the empty password.
echo | 7z a -tzip -mem=ZipCrypto -mx=5 -p ../encrypted-deflated.zip top/a.txt top/sub/b.txt > /dev/null
echo | 7z a -tzip -mem=ZipCrypto -mx=0 -p ../encrypted-stored.zip top/a.txt top/sub/b.txt > /dev/null

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
