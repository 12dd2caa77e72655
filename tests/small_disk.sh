#!/usr/bin/env bash
# mount DIR | unmount DIR: a 3 MiB tmpfs at DIR, where the tests meet a full disk. The file
# DIR/mounted tells them that the mount is in place; mounting needs root, and without the
# mount the tests that need it skip.
set -u
action=${1:-}
dir=${2:?usage: small_disk.sh mount|unmount DIR}
release() { if mountpoint -q "$dir"; then umount "$dir"; fi; rm -f "$dir/mounted"; }
case $action in
  mount)
    mkdir -p "$dir"
    release
    if mount -t tmpfs -o size=3m tmpfs "$dir" 2>/dev/null; then
      touch "$dir/mounted"
    else
      echo "cannot mount a tmpfs at $dir: the full-disk tests skip"
    fi
    ;;
  unmount) release ;;
  *) echo "usage: $0 mount|unmount DIR" >&2; exit 2 ;;
esac
exit 0
