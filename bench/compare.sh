#!/usr/bin/env bash
# The whole job of bench/unpack.sh, this tree's build against the build of an earlier revision,
# run by turns in one sitting so that the machine's drift hits both alike: the 512 MiB release
# (verification, source deletion and clean-up on) and the ZIP file of 5,000 small files, each
# ROUNDS times (default 7). Prints each one's times in ms, sorted, with the best and the median.
#
#   bash bench/compare.sh REV [ROUNDS]
#
# REV is built in a worktree under build/compare/ with this tree's dependencies (the module,
# wcxhost and the UnRAR library only). As root the small files go to a fresh ext4 file system in
# an image file, as in bench/unpack.sh.
set -euo pipefail
shopt -s inherit_errexit
top=$(cd "$(dirname "$0")/.." && pwd)
rev=${1:?usage: compare.sh REV [ROUNDS]}
rounds=${2:-7}
. "$top/tools/common.sh"
data="$top/build/bench/compare"
base="$top/build/compare/$(git -C "$top" rev-parse --short "$rev")"

if [ ! -f "$base/build/win/bin/ravelpak.wcx64" ]; then
  rm -rf "$base" && git -C "$top" worktree prune
  git -C "$top" worktree add -q --detach "$base" "$rev"
  cmake -S "$base" -B "$base/build/win" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$base/cmake/mingw-w64-x86_64.cmake" -DRAVELPAK_DEPS_DIR="$top/build/deps" > /dev/null
  cmake --build "$base/build/win" -j 2 --target ravelpak_module wcxhost unrar64 > /dev/null
fi
for version in now before; do
  bin="$top/build/win/bin"
  [ "$version" = before ] && bin="$base/build/win/bin"
  mkdir -p "$data/$version"
  cp "$bin/ravelpak.wcx64" "$bin/wcxhost.exe" "$bin/unrar64.dll" "$data/$version/"
  write_settings "$data/$version/ravelpak.xml"
done

release="$data/release-512"
[ -f "$release/Show/show.sfv" ] || "$top/tools/make-sample-release.sh" "$release" 512 50 3
many="$data/many"
many_files_zip "$many"
place="$data/many-files"
mkdir -p "$place"
if mountpoint -q "$place"; then umount "$place"; fi
"$top/tools/wine-session.sh" start
trap '"$top/tools/wine-session.sh" stop' EXIT
if [ "$(id -u)" = 0 ] && truncate -s 1G "$data/many-files.img" && mkfs.ext4 -q -F "$data/many-files.img" &&
   mount -o loop "$data/many-files.img" "$place"; then
  trap 'umount "$place"; rm -f "$data/many-files.img"; "$top/tools/wine-session.sh" stop' EXIT
fi

run() {  # run VERSION ROOT FOLDER SOURCE: PackFiles' own time in ms
  rm -rf "$2/work" "$2/out" && mkdir -p "$2/work" "$2/out" && cp -r "$4/$3" "$2/work/" && sync
  "$top/tools/wine-run.sh" "$data/$1/wcxhost.exe" pack --timing "$(winpath "$data/$1/ravelpak.wcx64")" \
    "$(winpath "$2/out/new.zip")" "$(winpath "$2/work")\\" "$3" 2>&1 >/dev/null | tr -d '\r' |
    sed -n 's/.*PackFiles ran \([0-9]*\) ms.*/\1/p'
}
declare -A times
for _ in $(seq "$rounds"); do
  for version in before now; do
    times[film-$version]+=" $(run "$version" "$data" Show "$release")"
    times[many-$version]+=" $(run "$version" "$place" Many "$many")"
  done
done
for job in film many; do
  for version in before now; do
    echo "$job $version: $(tr ' ' '\n' <<< "${times[$job-$version]}" | sed '/^$/d' | sort -n |
      awk '{ t[NR] = $1; line = line " " $1 } END { printf "%s (best %d, median %d)", line, t[1], t[int((NR + 1) / 2)] }')"
  done
done
echo "(film: the 512 MiB release; many: 5,000 small files; $rev as before, this tree as now)"
