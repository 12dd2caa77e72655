#!/usr/bin/env bash
# What a power cut needs: every deletion comes after the data it relies on was put on the disk.
# Unpacks a release of two ZIP files holding a stored five-volume set and a third holding a
# compressed three-volume set through wcxhost and traces, with timestamps, the flushes that the
# module makes itself (FlushFileBuffers is an fsync of the calling process) and the deletions
# and renames that the wineserver makes for it (a deleted file is unlinked by the server when its
# last handle closes). Then checks, in time order:
#   - the stored set's ZIP files go after the fsync of its film, whose volumes are never written;
#   - the compressed set's ZIP file goes after the fsync of every volume that came out of it, and
#     each volume after the fsync of its film;
#   - the SFV file goes after the fsync of both films;
#   - each deletion comes after the journal was put in place and flushed.
# And, from the reads traced too, that the stored set's ZIP files are read once (checked against
# the SFV file from the same read that copies the film): at most 1.05 times their size.
#
#   durability_order.sh BIN FIXTURES WORK   (the Windows build's bin/ and fixtures/, a scratch folder)
set -euo pipefail
bin=${1:?usage: durability_order.sh BIN FIXTURES WORK}
fixtures=${2:?}
work=${3:?}
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/tools/common.sh"
export WINEPREFIX="${WINEPREFIX:-$top/build/wineprefix}"
export WINEDEBUG=-all

if ! command -v strace >/dev/null; then
  echo "durability_order: strace is missing (tools/install-deps.sh installs it)" >&2
  exit 1
fi

rm -rf "$work"
mkdir -p "$work/plugin" "$work/src/Rel" "$work/out"
work=$(cd "$work" && pwd)
cp "$bin/ravelpak.wcx64" "$work/plugin/"
write_settings "$work/plugin/ravelpak.xml"
cp "$fixtures"/ten.part{1,2,3,4,5}.rar "$fixtures"/packed.part{1,2,3}.rar "$work/src/Rel/"
(cd "$work/src/Rel" && zip -q -0 rel1.zip ten.part1.rar ten.part2.rar ten.part3.rar &&
  zip -q -0 rel2.zip ten.part4.rar ten.part5.rar && zip -q -0 rel3.zip packed.part*.rar && rm ./*.rar &&
  cksfv -q rel1.zip rel2.zip rel3.zip > rel.sfv)
streamed_bytes=$(cat "$work/src/Rel/rel1.zip" "$work/src/Rel/rel2.zip" | wc -c)

# The prefix's persistent server: its folder is named after the prefix's device and inode.
server_dir=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
server=
for pid in $(pgrep -x wineserver64 || pgrep wineserver); do
  case $(readlink "/proc/$pid/cwd") in *"/$server_dir") server=$pid ;; esac
done
if [ -z "$server" ]; then
  echo "durability_order: no persistent wineserver for $WINEPREFIX (tools/wine-session.sh start)" >&2
  exit 1
fi

calls=fsync,fdatasync,unlink,unlinkat,rename,renameat,renameat2
strace -ttt -qq -y -e trace="$calls" -p "$server" -o "$work/server.trace" &
tracer=$!
sleep 0.5  # strace attaches before the job starts
strace -ttt -qq -f -y -s 0 -e trace="$calls,read,pread64,readv,preadv" -o "$work/process.trace" \
  wine "$bin/wcxhost.exe" pack "$(winpath "$work/plugin/ravelpak.wcx64")" "$(winpath "$work/out/new.zip")" \
  "$(winpath "$work/src")\\" Rel > "$work/result.txt"
sleep 0.5
kill "$tracer"
wait "$tracer" 2>/dev/null || true

if ! grep -q '^result 0' "$work/result.txt" || ! cmp -s "$work/out/Rel/ten.mkv" "$fixtures/src/ten.mkv" ||
  ! cmp -s "$work/out/Rel/packed.mkv" "$fixtures/src/packed.mkv"; then
  echo "durability_order: the job did not deliver the film:" >&2
  cat "$work/result.txt" >&2
  exit 1
fi

# One event a line: TIME KIND NAME, where NAME is the file's name (a flush names its descriptor's
# file, a rename its new name too: "old>new").
python3 - "$work" "$streamed_bytes" "$work/process.trace" "$work/server.trace" <<'PY'
import collections, os, re, sys

# The server serves every program of the prefix: only this job's files count.
work = sys.argv[1]
streamed_bytes = int(sys.argv[2])
events = []
reads = collections.Counter()  # bytes read, by file name
for path in sys.argv[3:]:
    unfinished = {}  # by thread: the start of a call that another thread's line interrupted
    for line in open(path, encoding="utf-8", errors="replace"):
        start = re.match(r"(\d+)\s+\d+\.\d+ (\w+\(.*) <unfinished \.\.\.>$", line)
        if start:
            unfinished[start.group(1)] = start.group(2)
            continue
        resumed = re.match(r"(\d+)\s+(\d+\.\d+) <\.\.\. \w+ resumed>(.*)$", line)
        if resumed and resumed.group(1) in unfinished:
            line = "%s %s %s%s" % (resumed.group(1), resumed.group(2), unfinished.pop(resumed.group(1)),
                                   resumed.group(3))
        m = re.match(r"(?:\d+\s+)?(\d+\.\d+) (\w+)\((.*)\) += (-?\d+)", line)
        if not m or int(m.group(4)) < 0:
            continue
        time, call, args = float(m.group(1)), m.group(2), m.group(3)
        if work not in args:
            continue
        names = [os.path.basename(p) for p in re.findall(r'"([^"]+)"', args)]
        if call in ("fsync", "fdatasync"):
            fd = re.search(r"<([^>]+)>", args)
            if fd:
                # A temporary file by the name of its output, without the run's tag.
                name = re.sub(r"\.[0-9a-f]{8}(\.\d+)?\.incomplete$", ".incomplete", os.path.basename(fd.group(1)))
                events.append((time, "flush", name))
        elif call.startswith("unlink") and names:
            events.append((time, "delete", names[-1]))
        elif call.startswith("rename") and len(names) >= 2:
            events.append((time, "rename", names[0] + ">" + names[-1]))
        elif call in ("read", "pread64", "readv", "preadv"):
            fd = re.search(r"<([^>]+)>", args)
            if fd:
                reads[os.path.basename(fd.group(1))] += int(m.group(4))
events.sort()

def first(kind, name):
    return next((t for t, k, n in events if k == kind and n == name), None)

relies = {
    "rel1.zip": ["ten.mkv.incomplete"],
    "rel2.zip": ["ten.mkv.incomplete"],
    "rel3.zip": ["packed.part1.rar.incomplete", "packed.part2.rar.incomplete", "packed.part3.rar.incomplete"],
    "rel.sfv": ["ten.mkv.incomplete", "packed.mkv.incomplete"],
}
for n in range(1, 4):
    relies["packed.part%d.rar" % n] = ["packed.mkv.incomplete"]

problems = ["%s was written" % n for t, k, n in events if n.startswith("ten.part")]
for deleted, needs in sorted(relies.items()):
    gone = first("delete", deleted)
    if gone is None:
        problems.append("%s was not deleted" % deleted)
        continue
    for need in needs:
        flushed = first("flush", need)
        if flushed is None or flushed > gone:
            problems.append("%s was deleted before %s was flushed" % (deleted, need))
    # The journal's first state is flushed under a temporary name and renamed into place; later
    # states are flushed in it.
    journal = [t for t, k, n in events
               if k == "rename" and re.fullmatch(r"(\.ravelpak-journal-\w+-\w+)\.new>\1", n) and t < gone]
    flushes = [t for t, k, n in events if k == "flush" and n.startswith(".ravelpak-journal-") and t < gone]
    if not journal or not flushes:
        problems.append("%s was deleted before the journal was flushed and put in place" % deleted)
read_once = reads["rel1.zip"] + reads["rel2.zip"]
if read_once > 1.05 * streamed_bytes:
    problems.append("the stored set's ZIP files were read %.2f times over" % (read_once / streamed_bytes))
if problems:
    print("durability_order: " + "\n  ".join(problems), file=sys.stderr)
    for event in events:
        print("  %.6f %s %s" % event, file=sys.stderr)
    sys.exit(1)
print("durability_order: %d deletions, each after the flushes it relies on; the stored set's ZIP files read %.3f "
      "times over" % (len(relies), read_once / streamed_bytes))
PY
