#!/usr/bin/env bash
# A damaged download repaired by its PAR2 files: a 256 MiB film in stored RAR volumes of 20 MiB
# with 10 % recovery data made by par2, 100 KB flipped in the middle of one volume. Ravelpak's
# whole job (verify, repair, unpack, clean up; PackFiles' own time through wcxhost --timing)
# against `par2 r` alone on the same files, best of three each, interleaved in one run, with a
# hot page cache. Goal: ratio at most 1. Also wcxhost's peak working set during the job.
#
#   bench/par2.sh [FILM_MIB]    (default 256)
set -euo pipefail
shopt -s inherit_errexit
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/build/win/bin"
film_mib=${1:-256}
data="$top/build/bench/par2"
. "$top/tools/common.sh"

mkdir -p "$data/plugin"
cp "$bin/ravelpak.wcx64" "$bin/unrar64.dll" "$data/plugin/"
write_settings "$data/plugin/ravelpak.xml"

release="$data/release-$film_mib"
if [ ! -f "$release/Show/show.par2" ]; then
  rm -rf "$release" && mkdir -p "$release/Show"
  head -c $((film_mib << 20)) /dev/urandom > "$release/show.mkv"
  (cd "$release/Show" && ln -s ../show.mkv show.mkv && rar a -idq -m0 -v20m show.rar show.mkv && rm show.mkv)
  (cd "$release/Show" && par2 create -q -q -r10 show.par2 show.part*.rar > /dev/null)
  volumes=("$release/Show/"show.part*.rar)
  damaged=${volumes[$(( ${#volumes[@]} / 2 ))]}
  python3 - "$damaged" <<'PY'
import sys
path = sys.argv[1]
with open(path, "r+b") as f:
    f.seek(0, 2)
    middle = f.tell() // 2
    f.seek(middle)
    data = bytearray(f.read(100000))
    f.seek(middle)
    f.write(bytes(b ^ 0xFF for b in data))
PY
fi

fresh_copy() {
  rm -rf "$data/work" "$data/out"
  mkdir -p "$data/work" "$data/out"
  cp -r "$release/Show" "$data/work/"
}

ours() {  # ours [WCXHOST OPTIONS...]
  "$top/tools/wine-run.sh" "$bin/wcxhost.exe" pack "$@" "$(winpath "$data/plugin/ravelpak.wcx64")" \
    "$(winpath "$data/out/new.zip")" "$(winpath "$data/work")\\" Show
}

seconds_of() {  # seconds_of ours|par2
  fresh_copy
  if [ "$1" = ours ]; then
    local ms
    ms=$(ours --timing 2>&1 >/dev/null | tr -d '\r' | sed -n 's/.*PackFiles ran \([0-9]*\) ms.*/\1/p')
    cmp -s "$data/out/Show/show.mkv" "$release/show.mkv" || { echo "bench: the film differs" >&2; exit 1; }
    if compgen -G "$data/work/Show/*" > /dev/null; then echo "bench: the download folder is not empty" >&2; exit 1; fi
    awk -v m="$ms" 'BEGIN { printf "%.3f", m / 1000 }'
    return
  fi
  local start end
  start=$(date +%s.%N)
  (cd "$data/work/Show" && par2 r -q -q show.par2 > /dev/null)
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}

"$top/tools/wine-session.sh" start
trap '"$top/tools/wine-session.sh" stop' EXIT

echo "release: ${film_mib} MiB film, $(ls "$release/Show/"*.rar | wc -l) stored RAR volumes of 20 MiB," \
  "$(ls "$release/Show/"*.par2 | wc -l) PAR2 files, 100 KB flipped in one volume; $(nproc) cores"
ours_best=1e9 par2_best=1e9
for _ in 1 2 3; do
  o=$(seconds_of ours)
  p=$(seconds_of par2)
  ours_best=$(awk -v a="$o" -v b="$ours_best" 'BEGIN { print (a < b) ? a : b }')
  par2_best=$(awk -v a="$p" -v b="$par2_best" 'BEGIN { print (a < b) ? a : b }')
done
echo "== hot page cache, best of three"
echo "ravelpak (PackFiles under Wine: verify, repair, unpack, clean up): ${ours_best} s"
echo "par2 r (verify and repair only):                                  ${par2_best} s"
awk -v o="$ours_best" -v p="$par2_best" 'BEGIN { printf "ratio ravelpak / par2 r: %.2f (goal: at most 1)\n", o / p }'

fresh_copy
peak=$(ours --peak-memory 2>&1 >/dev/null | tr -d '\r' | grep -i 'peak' || true)
echo "wcxhost ${peak:-peak working set: not reported}"
