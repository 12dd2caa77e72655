#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, and fetches the
# third-party sources (zlib's minizip, UnRAR) that the build compiles. Idempotent: when
# everything is present it only checks and returns.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
deps="${RAVELPAK_DEPS_DIR:-$top/build/deps}"

packages=(
  cmake ninja-build make g++ clang libclang-rt-14-dev
  mingw-w64 libz-mingw-w64-dev googletest
  wine wine64 xvfb xdotool imagemagick fonts-wqy-microhei
  dpkg-dev zip unzip p7zip-full cksfv rhash rar unrar time
)

# Debian's non-free component and source entries, derived from the machine's own apt
# configuration so that no mirror address is written into the project.
nonfree_list=/etc/apt/sources.list.d/ravelpak-nonfree.sources
add_nonfree_sources() {
  [ -f "$nonfree_list" ] && return 0
  local src=/etc/apt/sources.list.d/debian.sources
  if [ -f "$src" ]; then
    # One binary stanza for non-free and one source stanza for main and non-free, copied from
    # each stanza of the main archive (the security archive carries no source packages).
    awk -v RS= -v ORS='\n\n' '
      /URIs:[^\n]*security/ { next }
      {
        bin = $0; gsub(/Types:[^\n]*/, "Types: deb", bin); gsub(/Components:[^\n]*/, "Components: non-free", bin)
        src = $0; gsub(/Types:[^\n]*/, "Types: deb-src", src); gsub(/Components:[^\n]*/, "Components: main non-free", src)
        print bin; print src
      }
    ' "$src" > "$nonfree_list"
  elif [ -f /etc/apt/sources.list ]; then
    # The one-line format: the same entries, from each "deb URI SUITE ..." line of the main archive.
    nonfree_list=/etc/apt/sources.list.d/ravelpak-nonfree.list
    awk '$1 == "deb" && $0 !~ /security/ {
      options = ""; i = 2
      if ($2 ~ /^\[/) { options = $2 " "; i = 3 }
      print "deb " options $i " " $(i + 1) " non-free"
      print "deb-src " options $i " " $(i + 1) " main non-free" }' /etc/apt/sources.list > "$nonfree_list"
  else
    echo "install-deps: no apt sources found; add Debian's non-free and deb-src entries by hand" >&2
    exit 1
  fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
need_sources=0
[ -d "$deps/src/zlib" ] && [ -d "$deps/src/unrar" ] || need_sources=1

if [ ${#missing[@]} -gt 0 ] || [ $need_sources -eq 1 ]; then
  add_nonfree_sources
  apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Source packages, unpacked once into the build tree under stable names.
fetch_source() {  # fetch_source PACKAGE DIRNAME
  local pkg=$1 name=$2
  [ -d "$deps/src/$name" ] && return 0
  local work="$deps/fetch-$name"
  rm -rf "$work" && mkdir -p "$work" "$deps/src"
  (cd "$work" && apt-get source -qq "$pkg" >/dev/null 2>&1)
  local dir
  dir=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  [ -n "$dir" ] || { echo "install-deps: apt-get source $pkg produced nothing" >&2; exit 1; }
  mv "$dir" "$deps/src/$name"
  rm -rf "$work"
}
fetch_source zlib zlib
fetch_source unrar-nonfree unrar
