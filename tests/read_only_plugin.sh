#!/usr/bin/env bash
# mount DIR MODULE | unmount DIR: DIR/plugin holding a copy of MODULE, made read-only by a bind
# mount of itself, which even root cannot write. The file DIR/mounted tells the tests that the
# mount is in place; mounting needs root, and without the mount the test that needs it skips.
set -u
action=${1:-}
dir=${2:?usage: read_only_plugin.sh mount DIR MODULE | unmount DIR}
release() {
  if mountpoint -q "$dir/plugin" 2>/dev/null; then umount "$dir/plugin"; fi
  rm -rf "$dir"
}
case $action in
  mount)
    release
    mkdir -p "$dir/plugin"
    cp "${3:?the module to copy}" "$dir/plugin/"
    if mount --bind "$dir/plugin" "$dir/plugin" 2>/dev/null &&
       mount -o remount,bind,ro "$dir/plugin" 2>/dev/null; then
      touch "$dir/mounted"
    else
      mountpoint -q "$dir/plugin" && umount "$dir/plugin"
      echo "cannot make $dir/plugin read-only: the read-only settings test skips"
    fi
    ;;
  unmount) release ;;
  *) echo "usage: $0 mount DIR MODULE | unmount DIR" >&2; exit 2 ;;
esac
exit 0
