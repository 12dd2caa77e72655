#!/usr/bin/env bash
# Generates a sample release as it comes from a download: ZIP files holding a stored RAR
# volume set of a sample film, with an NFO and an SFV file listing the ZIP files.
#
#   tools/make-sample-release.sh OUT [FILM_MIB] [VOLUME_MIB] [ZIP_COUNT]
#
# OUT/Show/ receives show.zip (or show01.zip ... when ZIP_COUNT > 1, the volumes shared out
# in order), show.nfo and show.sfv. Defaults: a 3 MiB film in 1 MiB volumes, one ZIP file.
# The film itself is kept as OUT/show.mkv, to compare the unpacked one with.
set -euo pipefail
out=${1:?usage: make-sample-release.sh OUT [FILM_MIB] [VOLUME_MIB] [ZIP_COUNT]}
film_mib=${2:-3}
volume_mib=${3:-1}
zip_count=${4:-1}

rm -rf "$out"
mkdir -p "$out/Show" "$out/work"
out=$(cd "$out" && pwd)
head -c $((film_mib << 20)) /dev/urandom > "$out/show.mkv"

cd "$out/work"
ln -s ../show.mkv show.mkv
# A little over the volume size, so that whole MiBs of film fill whole volumes.
rar a -idq -m0 -v$(((volume_mib << 20) + 4096))b show.rar show.mkv
volumes=(show.part*.rar)
rm show.mkv

if [ "$zip_count" -le 1 ]; then
  zip -q -0 ../Show/show.zip "${volumes[@]}"
else
  per_zip=$(( (${#volumes[@]} + zip_count - 1) / zip_count ))
  for ((z = 0; z < zip_count; z++)); do
    part=("${volumes[@]:z*per_zip:per_zip}")
    [ ${#part[@]} -gt 0 ] || break
    zip -q -0 "$(printf '../Show/show%02d.zip' $((z + 1)))" "${part[@]}"
  done
fi
cd "$out"
rm -rf work

printf 'Show (sample release)\r\nA film of %d MiB in %d RAR volumes, packed in ZIP files.\r\n' \
  "$film_mib" "${#volumes[@]}" > Show/show.nfo
(cd Show && cksfv -q -- *.zip > show.sfv)
