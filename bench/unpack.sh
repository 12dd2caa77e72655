#!/usr/bin/env bash
# The whole job on a generated 512 MiB release (ZIP files holding a stored RAR set, an NFO and
# an SFV file) with verification, source deletion and clean-up on, through wcxhost and a copy
# of the module with its settings file, against the same job by hand in the same run: the
# classic pipeline (cksfv, unzip, unrar x, rm) and the fastest one (rhash -c, 7z x, unrar x,
# rm), and the fastest one with the guarantee that ravelpak gives (sync before each rm), and
# the floor: the ZIP files read once and a film's worth of bytes written and put on the disk.
# Prints the best of three runs of each with a hot page cache, and with a cold one when run as
# root (the page cache is dropped before each run), and the ratios (targets: PackFiles' own time
# at most half that of the fastest pipeline, and at most 1.5 times the floor). As root the same
# again on a 2 GiB release inside a memory control group that holds the page cache to 256 MiB,
# so that the release does not fit in it, as a real one does not. Then the most disk space that
# the download folder and the destination take together during a run, with sources deleted and
# kept (target: the download, the film and one volume), the number of host calls of one run,
# the time from a stop to the return of PackFiles in each phase, and wcxhost's peak working set
# on a 128 MiB and a 1 GiB release, which must not grow with the release.
set -euo pipefail
shopt -s inherit_errexit
top=$(cd "$(dirname "$0")/.." && pwd)
bin="$top/build/win/bin"
data="$top/build/bench/unpack"
. "$top/tools/common.sh"

mkdir -p "$data/plugin" "$data/plugin-keeping"
cp "$bin/ravelpak.wcx64" "$data/plugin/"
write_settings "$data/plugin/ravelpak.xml"
# The same with the sources kept.
cp "$bin/ravelpak.wcx64" "$data/plugin-keeping/"
write_settings "$data/plugin-keeping/ravelpak.xml" 1 '*.nfo' 0

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

ours() {  # ours [WCXHOST OPTIONS...]: with the settings of $PLUGIN (default: plugin)
  "$top/tools/wine-run.sh" "$bin/wcxhost.exe" pack "$@" "$(winpath "$data/${PLUGIN:-plugin}/ravelpak.wcx64")" \
    "$(winpath "$data/out/new.zip")" "$(winpath "$data/work")\\" Show
}

# by_hand classic|fastest [safe]: the job by hand; the two differ in the checksum and ZIP tools
# only. "safe" puts everything on the disk (sync) before each deletion, the guarantee that
# ravelpak gives: a power cut never finds a source deleted whose data is not yet on the disk.
by_hand() {
  local flush=:
  [ "${2:-}" = safe ] && flush=sync
  if [ "$1" = classic ]; then
    (cd "$data/work/Show" && cksfv -q -g show.sfv)
  else
    (cd "$data/work/Show" && rhash -c --skip-ok show.sfv)
  fi
  mkdir -p "$data/out/Show"
  for zip in "$data/work/Show/"*.zip; do
    if [ "$1" = classic ]; then
      unzip -q -o "$zip" -d "$data/out/Show"
    else
      7z x -y -bd -o"$data/out/Show" "$zip" > /dev/null
    fi
    $flush
    rm "$zip"
  done
  local volumes=("$data/out/Show/"show.part*.rar)
  unrar x -idq -o+ "${volumes[0]}" "$data/out/Show/"
  $flush
  rm "$data/out/Show/"show.part*.rar "$data/work/Show/show.sfv"
}

# floor RELEASE: what no way of unpacking the release can go below: its ZIP files read once, and
# as many bytes as its film holds written and put on the disk.
floor() {
  cat "$data/work/Show/"*.zip > /dev/null
  head -c "$(stat -c %s "$1/show.mkv")" /dev/zero | dd of="$data/out/film" bs=4M iflag=fullblock conv=fsync status=none
}

# Empties the page cache, so that the next run reads from the disk (needs root).
cold=0
if [ "$(id -u)" = 0 ] && [ -w /proc/sys/vm/drop_caches ]; then cold=1; fi
drop_cache() { sync; echo 3 > /proc/sys/vm/drop_caches; }

# seconds_of RELEASE COMMAND...: the time of one run on a fresh copy: the wall time of a job by
# hand; of ours, the time PackFiles ran (wcxhost --timing), without Wine's start and exit.
seconds_of() {
  local rel=$1; shift
  fresh_copy "$rel"
  [ "${CACHE:-hot}" = cold ] && drop_cache
  local start end ms
  if [ "$1" = ours ]; then
    ms=$(ours --timing 2>&1 >/dev/null | tr -d '\r' | sed -n 's/.*PackFiles ran \([0-9]*\) ms.*/\1/p')
    check_result "$rel"
    awk -v m="$ms" 'BEGIN { printf "%.3f", m / 1000 }'
    return
  fi
  start=$(date +%s.%N)
  "$@" > /dev/null
  end=$(date +%s.%N)
  [ "$1" = floor ] || check_result "$rel"
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

# compare RELEASE: each way on RELEASE, best of three, hot and (as root) cold.
compare() {
  local rel=$1 cache
  local caches=(hot)
  [ $cold = 1 ] && caches+=(cold)
  for cache in "${caches[@]}"; do
    local ours_s safe_s fast_s hand_s floor_s
    ours_s=$(CACHE=$cache best_of_three "$rel" ours)
    safe_s=$(CACHE=$cache best_of_three "$rel" by_hand fastest safe)
    fast_s=$(CACHE=$cache best_of_three "$rel" by_hand fastest)
    hand_s=$(CACHE=$cache best_of_three "$rel" by_hand classic)
    floor_s=$(CACHE=$cache best_of_three "$rel" floor "$rel")
    echo "== $cache page cache, best of three"
    echo "ravelpak (PackFiles under Wine):                          ${ours_s} s"
    echo "fastest by hand, safe (rhash -c, 7z x, unrar x, sync; rm): ${safe_s} s"
    echo "fastest by hand (rhash -c, 7z x, unrar x, rm):             ${fast_s} s"
    echo "classic by hand (cksfv, unzip, unrar x, rm):               ${hand_s} s"
    echo "floor (the ZIP files read once, the film written, fsync):  ${floor_s} s"
    awk -v o="$ours_s" -v s="$safe_s" -v f="$fast_s" -v h="$hand_s" -v l="$floor_s" 'BEGIN {
      printf "ratio ravelpak / fastest: %.2f (target: at most 0.5)   / floor: %.2f (target: at most 1.5)\n", o / f, o / l
      printf "      ravelpak / safe: %.2f   / classic: %.2f\n", o / s, o / h
    }'
  done
  [ $cold = 1 ] || echo "(no cold-cache runs: dropping the page cache needs root)"
}

rel512=$(release 512)
echo "release: 512 MiB film, $(ls "$rel512/Show/"*.zip | wc -l) ZIP files, stored RAR volumes of 50 MiB"
compare "$rel512"

# The same on a release larger than the page cache may grow: the script's shell and all it starts
# join a memory control group of 256 MiB for it.
memory_group=/sys/fs/cgroup/memory/ravelpak-bench
if [ "$(id -u)" = 0 ] && [ -d /sys/fs/cgroup/memory ]; then
  rel2048=$(release 2048)
  mkdir -p "$memory_group"
  echo $((256 << 20)) > "$memory_group/memory.limit_in_bytes"
  echo $$ > "$memory_group/cgroup.procs"
  echo "release: 2 GiB film, $(ls "$rel2048/Show/"*.zip | wc -l) ZIP files, held to 256 MiB of memory"
  compare "$rel2048"
  echo $$ > /sys/fs/cgroup/memory/cgroup.procs
  rmdir "$memory_group" 2>/dev/null || true
else
  echo "(no run held to 256 MiB: a memory control group needs root)"
fi

# peak_disk RELEASE: the most bytes that the download folder and the destination held together
# while PackFiles ran on RELEASE, polled every 50 ms.
peak_disk() {
  fresh_copy "$1"
  local log="$data/disk.log"
  (while :; do du -sb "$data/work" "$data/out" | awk '{ s += $1 } END { print s }'; sleep 0.05; done) > "$log" &
  local poller=$!
  ours > /dev/null
  kill "$poller"
  wait "$poller" 2>/dev/null || true
  sort -n "$log" | tail -n 1
}
download=$(du -sb "$rel512/Show" | awk '{ print $1 }')
film=$(stat -c %s "$rel512/show.mkv")
for plugin in plugin plugin-keeping; do
  peak=$(PLUGIN=$plugin peak_disk "$rel512")
  [ $plugin = plugin ] && check_result "$rel512"
  awk -v p="$peak" -v d="$download" -v f="$film" -v k="$plugin" 'BEGIN {
    printf "peak disk space, sources %s: %.0f MiB (download %.0f MiB + film %.0f MiB + one volume 50 MiB = %.0f MiB)\n",
      k == "plugin" ? "deleted" : "kept", p / 1048576, d / 1048576, f / 1048576, (d + f) / 1048576 + 50
  }'
done

fresh_copy "$rel512"
calls=$(ours --trace | grep -c '^cb ')
check_result "$rel512"
echo "host calls of one run: $calls"

# The time from a stop to the return of PackFiles, as the user sees it: from the moment the
# stop was asked to the return. The stop is asked at points spread over the time spent inside
# PackFiles, on the 1 GiB release so that each phase lasts long enough to be hit. The phase is
# the one of the last call answered before the stop. A stop is heard at the plugin's next call:
# the longest time the host went without one bounds that wait.
rel1024=$(release 1024)
inside_ms=""
for _ in 1 2; do
  fresh_copy "$rel1024"
  timing=$(ours --timing 2>&1 >/dev/null | tr -d "\r" | grep 'PackFiles ran')
  ms=$(echo "$timing" | sed -n 's/.*PackFiles ran \([0-9]*\) ms.*/\1/p')
  if [ -z "$inside_ms" ] || [ "$ms" -lt "$inside_ms" ]; then inside_ms=$ms; silence=${timing#*; }; fi
done
echo "stop to return (1 GiB release, ${inside_ms} ms inside PackFiles; ${silence}):"
for share in 3 10 25 40 55 65 72 80 88 95; do
  fresh_copy "$rel1024"
  at=$(( inside_ms * share / 100 ))
  output=$( (ours --trace --cancel-after-ms "$at" 2>&1 || true) | tr -d "\r")
  first=$(echo "$output" | sed -n 's/.*from call \([0-9]*\)$/\1/p')
  latency=$(echo "$output" | sed -n 's/.*returned \([0-9]*\) ms after the stop was asked$/\1/p')
  [ -n "$first" ] || { printf '  at %3d%% (%5d ms): the run had ended\n' "$share" "$at"; continue; }
  # Calls of 0 bytes about a file keep the host called while it is flushed or deleted: the phase
  # is that of the last call with progress, a verification or a group's text.
  before=$(echo "$output" | grep '^cb ' | sed -n "1,$(( first > 1 ? first - 1 : 1 ))p" |
           awk '!/^cb 0 / || /: |Verifying/' | tail -n 1)
  case "$before" in
    *Verifying*) phase="verification" ;;
    "cb -"*) phase="RAR extraction (second pass)" ;;
    *": "*) phase="between groups" ;;
    *) phase="ZIP extraction" ;;
  esac
  printf '  at %3d%% (%5d ms): %-40s %s ms\n' "$share" "$at" "$phase" "${latency:-?}"
done

# Many small files: a ZIP file of 5,000 files of 4,000 bytes in 20 folders, unpacked through
# PackFiles against unzip, best of three each (issue target: at most 3 times unzip). As root the
# runs go to a fresh ext4 file system in an image file: on a file system without a journal, ext4
# passes over the inodes that were freed in the last minute each time it creates a file, so the
# figures on the build tree depend on how many files the machine deleted just before (unzip took
# from 0.2 s to 2 s here). The same files written by a bare Win32 program under Wine, plainly and
# the way an output goes to the disk, show what Wine itself costs.
many="$data/many"
many_files_zip "$many"
place="$data/many-files"
mkdir -p "$place"
if mountpoint -q "$place"; then umount "$place"; fi  # left by a run that was killed
where="the build tree"
if [ "$(id -u)" = 0 ] && truncate -s 1G "$data/many-files.img" && mkfs.ext4 -q -F "$data/many-files.img" &&
   mount -o loop "$data/many-files.img" "$place"; then
  where="a fresh ext4 file system"
  trap 'umount "$place"; rm -f "$data/many-files.img"; "$top/tools/wine-session.sh" stop' EXIT
fi
many_ours() {
  rm -rf "$place/work" "$place/out" && mkdir -p "$place/work" "$place/out" && cp -r "$many/Many" "$place/work/"
  "$top/tools/wine-run.sh" "$bin/wcxhost.exe" pack --timing "$(winpath "$data/plugin/ravelpak.wcx64")" \
    "$(winpath "$place/out/new.zip")" "$(winpath "$place/work")\\" Many 2>&1 >/dev/null | tr -d '\r' |
    sed -n 's/.*PackFiles ran \([0-9]*\) ms.*/\1/p' | awk '{ printf "%.3f", $1 / 1000 }'
  [ "$(find "$place/out/Many" -type f | wc -l)" = 5000 ] || { echo "bench: the small files did not all come out" >&2; exit 1; }
}
many_unzip() {
  rm -rf "$place/out" && mkdir -p "$place/out"
  local start end
  start=$(date +%s.%N)
  unzip -q "$many/Many/many.zip" -d "$place/out/Many"
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }'
}
many_bare() {  # many_bare plain|durable
  rm -rf "$place/out" && mkdir -p "$place/out"
  "$top/tools/wine-run.sh" "$bin/bench_create.exe" "$(winpath "$place/out/Many")" "$1" 16 | tr -d '\r' | awk '{ print $2 }'
}
least() { awk -v a="$1" -v b="$2" 'BEGIN { print (b < a) ? b : a }'; }
ours_many=1e9 unzip_many=1e9 plain_many=1e9 durable_many=1e9
for _ in 1 2 3; do
  ours_many=$(least "$ours_many" "$(many_ours)")
  unzip_many=$(least "$unzip_many" "$(many_unzip)")
  plain_many=$(least "$plain_many" "$(many_bare plain)")
  durable_many=$(least "$durable_many" "$(many_bare durable)")
done
rm -rf "$place/work" "$place/out" && mkdir -p "$place/work" "$place/out" && cp -r "$many/Many" "$place/work/"
many_calls=$("$top/tools/wine-run.sh" "$bin/wcxhost.exe" pack --trace "$(winpath "$data/plugin/ravelpak.wcx64")" \
  "$(winpath "$place/out/new.zip")" "$(winpath "$place/work")\\" Many | grep -c '^cb ')
rm -rf "$place/work" "$place/out"
echo "5,000 small files (20 MB ZIP) on $where, best of three ($many_calls host calls in a run):"
awk -v o="$ours_many" -v u="$unzip_many" -v p="$plain_many" -v d="$durable_many" 'BEGIN {
  printf "  ravelpak %.3f s, unzip %.3f s, ratio %.2f (target: at most 3)\n", o, u, o / u
  printf "  a bare Win32 program under Wine writing the same files on 16 threads: plainly %.3f s (%.2f x unzip),\n", p, p / u
  printf "  the way an output goes to the disk %.3f s (ravelpak / that: %.2f)\n", d, o / d
}'

for mib in 128 1024; do
  rel=$(release "$mib")
  fresh_copy "$rel"
  peak=$(ours --peak-memory 2>&1 >/dev/null | tr -d '\r' | awk '/peak working set/ { print $4 }')
  check_result "$rel"
  awk -v m="$mib" -v p="$peak" 'BEGIN { printf "peak working set, %4d MiB release: %.1f MiB\n", m, p / 1048576 }'
done
rm -rf "$data/work" "$data/out"
