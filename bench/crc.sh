#!/usr/bin/env bash
# CRC-32 throughput of the module's file checksum (under Wine) against rhash and cksfv on the
# same generated 512 MiB file, hot in the page cache. Prints MB/s and the ratios.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/build/win/bin"
data="$top/build/bench"
mkdir -p "$data"
file="$data/crc-512M.bin"
[ -f "$file" ] || head -c $((512 << 20)) /dev/urandom > "$file"
cat "$file" > /dev/null

best_seconds() {  # best_seconds RUNS COMMAND...: the shortest wall time of RUNS runs
  local runs=$1; shift
  local best=""
  for _ in $(seq "$runs"); do
    local start end
    start=$(date +%s.%N); "$@" > /dev/null; end=$(date +%s.%N)
    best=$(echo "$start $end ${best:-999999}" | awk '{ d = $2 - $1; print (d < $3) ? d : $3 }')
  done
  echo "$best"
}

mb=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { print b / 1e6 }')
rhash_s=$(best_seconds 3 rhash --crc32 "$file")
cksfv_s=$(best_seconds 2 cksfv "$file")
"$top/tools/wine-session.sh" start
trap '"$top/tools/wine-session.sh" stop' EXIT
ours=$("$top/tools/wine-run.sh" "$bin/bench_crc.exe" "Z:${file//\//\\}" 5 | tr -d '\r')
ours_mbps=$(echo "$ours" | awk '{ print $6 }')
rhash_mbps=$(awk -v mb="$mb" -v s="$rhash_s" 'BEGIN { printf "%.0f", mb / s }')
cksfv_mbps=$(awk -v mb="$mb" -v s="$cksfv_s" 'BEGIN { printf "%.0f", mb / s }')
echo "file: $file ($mb MB)"
echo "ravelpak FileCrc32 (Wine): $ours_mbps MB/s   [$ours]"
echo "rhash --crc32:             $rhash_mbps MB/s"
echo "cksfv:                     $cksfv_mbps MB/s"
awk -v o="$ours_mbps" -v r="$rhash_mbps" -v c="$cksfv_mbps" \
  'BEGIN { printf "ratio vs rhash: %.2f   ratio vs cksfv: %.2f   (target: at least 1.5 vs rhash)\n", o / r, o / c }'
