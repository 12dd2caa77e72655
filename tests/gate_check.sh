#!/usr/bin/env bash
# Every change to the disk goes through the gate of base/disk_gate: no call that creates,
# writes, renames, moves, replaces, links, deletes or changes the attributes of a file or folder
# stands in host/, engine/, settings/ or ui/. Files are opened there to be read through
# base/files' OpenToRead only, so that an open for writing cannot hide among the reads.
#
#   gate_check.sh   (from anywhere: it checks the tree it lies in)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
calls='CreateFile[AW2]?|DeleteFile[AW]?|MoveFile(Ex|WithProgress|Transacted)?[AW]?|ReplaceFile[AW]?|CopyFile(Ex|2)?[AW]?'
calls+='|CreateHardLink[AW]?|CreateSymbolicLink[AW]?|CreateDirectory(Ex)?[AW]?|RemoveDirectory[AW]?'
calls+='|SetFileAttributes[AW]?|SetFileInformationByHandle|NtSetInformationFile|MakeSureDirectoryPathExists'
calls+='|SHFileOperation[AW]?|_w?fopen|_w?rename|_w?remove|_w?unlink|_w?mkdir|_w?rmdir'
found=$(cd "$top" && grep -rnE "(^|[^A-Za-z0-9_:.>])($calls)[[:space:]]*\(" host engine settings ui --include='*.cpp' --include='*.h' || true)
if [ -n "$found" ]; then
  echo "gate_check: calls that change the disk outside base/disk_gate:" >&2
  echo "$found" >&2
  exit 1
fi
echo "gate_check: no call that changes the disk outside the gate"
