#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the demo need, and fetches the
# third-party sources (zlib's minizip, UnRAR) that the build compiles. Idempotent: when
# everything is present it only checks and returns.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
deps="${RAVELPAK_DEPS_DIR:-$top/build/deps}"

# Everything the build, the fixture scripts, `make test`, the demo, the benchmarks and the
# screenshots run: compilers and build tools, GoogleTest (sources for the Windows build, the
# library and its CMake files for the native one), Wine, the display for the dialog tests, the
# archive and checksum tools, par2 for the PAR2 sets of the tests (run as a program only),
# Python for the zipfile fixtures, git for tools/test-ratio.sh, mount/mountpoint for the
# read-only and full-disk fixtures, and strace for the check that every deletion follows the
# flushes it relies on and for counting wcxhost's writes to NUL.
packages=(
  cmake ninja-build make g++ clang libclang-rt-14-dev
  mingw-w64 libz-mingw-w64-dev googletest libgtest-dev
  wine wine64 xvfb xdotool imagemagick fonts-wqy-microhei
  dpkg-dev zip unzip p7zip-full cksfv rhash par2 rar unrar time
  python3 git mount util-linux strace
)

# Debian's non-free component (rar, unrar) and the source entries of main (zlib) and non-free
# (unrar-nonfree), derived from the machine's own apt configuration so that no mirror address is
# written into the project. Only what the machine's own entries lack is added: an entry that
# is already there would make apt warn that it is configured twice.
apt_etc=/etc/apt
nonfree_list=$apt_etc/sources.list.d/ravelpak-nonfree.sources
old_nonfree_list=$apt_etc/sources.list.d/ravelpak-nonfree.list

# has_entry TYPE COMPONENT: whether an enabled entry of the main archive (not the security
# archive) other than ours, of TYPE (deb or deb-src), carries COMPONENT.
has_entry() {
  local type=$1 component=$2 file
  for file in $apt_etc/sources.list $apt_etc/sources.list.d/*.list; do
    [ -f "$file" ] && [ "$file" != "$old_nonfree_list" ] || continue
    awk -v t="$type" -v c="$component" '
      $1 == t && $0 !~ /security/ { for (i = 2; i <= NF; i++) if ($i == c) found = 1 }
      END { exit !found }' "$file" && return 0
  done
  for file in $apt_etc/sources.list.d/*.sources; do
    [ -f "$file" ] && [ "$file" != "$nonfree_list" ] || continue
    awk -v RS= -v t="$type" -v c="$component" '
      {
        types = comps = uris = ""; enabled = 1
        n = split($0, lines, "\n")
        for (i = 1; i <= n; i++) {
          if (lines[i] ~ /^Types:/) types = " " substr(lines[i], 7) " "
          if (lines[i] ~ /^Components:/) comps = " " substr(lines[i], 12) " "
          if (lines[i] ~ /^URIs:/) uris = lines[i]
          if (lines[i] ~ /^Enabled:[ \t]*[Nn][Oo]/) enabled = 0
        }
        gsub(/[ \t]+/, " ", types); gsub(/[ \t]+/, " ", comps)
        if (enabled && uris !~ /security/ && index(types, " " t " ") && index(comps, " " c " ")) found = 1
      }
      END { exit !found }' "$file" && return 0
  done
  return 1
}

add_nonfree_sources() {
  local binary="" sources=""
  has_entry deb non-free || binary="non-free"
  has_entry deb-src main || sources="main"
  has_entry deb-src non-free || sources="${sources:+$sources }non-free"
  rm -f "$nonfree_list" "$old_nonfree_list"
  [ -z "$binary$sources" ] && return 0
  local src=$apt_etc/sources.list.d/debian.sources
  if [ -f "$src" ]; then
    # A stanza for each missing part, copied from each stanza of the main archive.
    awk -v RS= -v ORS='\n\n' -v bin="$binary" -v srcs="$sources" '
      /URIs:[^\n]*security/ { next }
      /Types:[^\n]*deb/ {
        if (bin != "") {
          b = $0; gsub(/Types:[^\n]*/, "Types: deb", b); gsub(/Components:[^\n]*/, "Components: " bin, b); print b
        }
        if (srcs != "") {
          d = $0; gsub(/Types:[^\n]*/, "Types: deb-src", d); gsub(/Components:[^\n]*/, "Components: " srcs, d); print d
        }
      }
    ' "$src" > "$nonfree_list"
  elif [ -f $apt_etc/sources.list ]; then
    # The one-line format: the same entries, from each "deb URI SUITE ..." line of the main archive.
    awk -v bin="$binary" -v srcs="$sources" '$1 == "deb" && $0 !~ /security/ {
      options = ""; i = 2
      if ($2 ~ /^\[/) { options = $2 " "; i = 3 }
      if (bin != "") print "deb " options $i " " $(i + 1) " " bin
      if (srcs != "") print "deb-src " options $i " " $(i + 1) " " srcs }' $apt_etc/sources.list > "$old_nonfree_list"
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
