#!/usr/bin/env bash
# The whole job on a generated 512 MiB release (ZIP files holding a stored RAR set, an NFO and
# an SFV file) with verification, source deletion and clean-up on, through wcxhost and a copy
# of the module with its settings file, against the same job by hand in the same run: cksfv,
# unzip, unrar x and rm. Prints the best of three runs of each and the ratio (target: at most
# 1). Then wcxhost's peak working set on a 128 MiB and a 1 GiB release, which must not grow
# with the release.
set -euo pipefail
shopt -s inherit_errexit
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/build/win/bin"
data="$top/build/bench/unpack"
. "$top/tools/common.sh"

mkdir -p "$data/plugin"
cp "$bin/ravelpak.wcx64" "$data/plugin/"
write_settings "$data/plugin/ravelpak.xml"

# release MIB: a release of a MIB film in 50 MiB volumes, one ZIP file per four volumes,
# generated once and kept under the build tree.
release() {
  local dir="$data/release-$1"
  [ -f "$dir/Show/show.sfv" ] || "$top/tools/make-sample-release.sh" "$dir" "$1" 50 $(( ($1 / 50 + 4) / 4 ))
  echo "$dir"
}

# fresh_copy RELEASE: the download folder and an empty destination, page cache hot.
fresh_copy() {
  rm -rf "$data/work" "$data/out"
  mkdir -p "$data/work" "$data/out"
  cp -r "$1/Show" "$data/work/"
}

check_result() {  # check_result RELEASE: the film came out whole, the sources and SFV are gone
  cmp -s "$data/out/Show/show.mkv" "$1/show.mkv" || { echo "bench: the film differs" >&2; exit 1; }
  [ -f "$data/out/Show/show.nfo" ] || [ -f "$data/work/Show/show.nfo" ] || { echo "bench: the NFO is gone" >&2; exit 1; }
  if compgen -G "$data/work/Show/*.zip" > /dev/null || compgen -G "$data/out/Show/*.rar" > /dev/null \
     || [ -f "$data/work/Show/show.sfv" ]; then
    echo "bench: sources or intermediate files are left" >&2; exit 1
  fi
}

ours() {  # ours [WCXHOST OPTIONS...]
  "$top/tools/wine-run.sh" "$bin/wcxhost.exe" pack "$@" "$(winpath "$data/plugin/ravelpak.wcx64")" \
    "$(winpath "$data/out/new.zip")" "$(winpath "$data/work")\\" Show
}

by_hand() {
  (cd "$data/work/Show" && cksfv -q -g show.sfv)
  mkdir -p "$data/out/Show"
  for zip in "$data/work/Show/"*.zip; do
    unzip -q -o "$zip" -d "$data/out/Show" && rm "$zip"
  done
  local volumes=("$data/out/Show/"show.part*.rar)
  unrar x -idq -o+ "${volumes[0]}" "$data/out/Show/"
  rm "$data/out/Show/"show.part*.rar "$data/work/Show/show.sfv"
}

seconds_of() {  # seconds_of RELEASE COMMAND...: wall time of one run on a fresh copy
  local rel=$1; shift
  fresh_copy "$rel"
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  check_result "$rel"
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}

best_of_three() {
  local best=""
  for _ in 1 2 3; do
    local s
    s=$(seconds_of "$@")
    best=$(awk -v s="$s" -v b="${best:-1e9}" 'BEGIN { print (s < b) ? s : b }')
  done
  echo "$best"
}

"$top/tools/wine-session.sh" start
trap '"$top/tools/wine-session.sh" stop' EXIT

rel512=$(release 512)
ours_s=$(best_of_three "$rel512" ours)
hand_s=$(best_of_three "$rel512" by_hand)
echo "release: 512 MiB film, $(ls "$rel512/Show/"*.zip | wc -l) ZIP files, stored RAR volumes of 50 MiB"
echo "ravelpak (wcxhost under Wine): ${ours_s} s"
echo "by hand (cksfv, unzip, unrar x, rm): ${hand_s} s"
awk -v o="$ours_s" -v h="$hand_s" 'BEGIN { printf "ratio ravelpak / by hand: %.2f   (target: at most 1)\n", o / h }'

for mib in 128 1024; do
  rel=$(release "$mib")
  fresh_copy "$rel"
  peak=$(ours --peak-memory 2>&1 >/dev/null | tr -d '\r' | awk '/peak working set/ { print $4 }')
  check_result "$rel"
  awk -v m="$mib" -v p="$peak" 'BEGIN { printf "peak working set, %4d MiB release: %.1f MiB\n", m, p / 1048576 }'
done
rm -rf "$data/work" "$data/out"
