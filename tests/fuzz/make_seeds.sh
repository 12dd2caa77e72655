#!/usr/bin/env bash
# Makes the seed inputs of the fuzz targets into OUT/TARGET (a fresh directory each run), from
# what the real tools write wherever there is a tool, and block by block where there is none:
#
#   rar5        sets made by rar, each seed the volumes of one set one after another: stored
#               in volumes (and the same without its first volume), a folder tree, compressed,
#               BLAKE2 hashes, encrypted data and encrypted headers, times to the nanosecond, a
#               symbolic link, a comment, the quick-open record
#   rar4        a stored set over volumes (and the same without its first volume), a directory,
#               a Unicode name, an extended time, 64-bit sizes, a sub-block
#   sfv         SFV files written by cksfv and rhash, and the forms that hand edits leave
#   zip_fields  the fields of entries of archives made by Info-ZIP zip, 7-Zip and Python's
#               zipfile, in the layout that zip_fields_fuzz reads
#   names       the names of those entries, and names that reach outside a folder
#   par2        sets made by par2, each seed the PAR2 files of one set one after another: two
#               files in a folder tree with recovery files, the index file alone, slices of 4
#               bytes, and one slice wider than its file
set -euo pipefail
out=${1:?usage: make_seeds.sh OUT}
rm -rf "$out"
mkdir -p "$out"/{rar5,rar4,sfv,zip_fields,names,par2} "$out/work/tree/sub dir"
out=$(cd "$out" && pwd)
cd "$out/work"

head -c 12000 /dev/urandom > film.mkv
printf 'the film\r\n' > film.nfo
head -c 3000 /dev/urandom | base64 > tree/notes.txt
printf 'x' > "tree/sub dir/caf"$'\xc3\xa9'".nfo"
ln -s ../film.nfo tree/link.nfo

# rar_seed NAME OPTIONS FILE...: the set that rar makes of FILE... with OPTIONS (one word-split
# string), its volumes in order, as seed NAME.
rar_seed() {
  local name=$1 options=$2
  shift 2
  # shellcheck disable=SC2086
  rar a -idq -ma5 $options "$name-set" "$@" > /dev/null
  cat $(ls -v "$name-set".part*.rar 2> /dev/null || echo "$name-set.rar") > "$out/rar5/$name"
}
rar_seed stored '-m0 -v5k' film.mkv film.nfo
cat $(ls -v stored-set.part*.rar | tail -n +2) > "$out/rar5/stored-later-volumes"
rar_seed tree '-m0 -r' tree
rar_seed packed '-m3 -v3k' tree/notes.txt
rar_seed blake2 '-m0 -htb' film.nfo
rar_seed encrypted '-m0 -p1234' film.nfo
rar_seed headers-encrypted '-m0 -hp1234' film.nfo
rar_seed times '-m0 -tsm4 -tsc4 -tsa4' film.nfo
rar_seed link '-m0 -ol' tree/link.nfo
printf 'a comment\n' > comment.txt
rar_seed comment '-m0 -zcomment.txt' film.nfo
rar_seed quick-open '-m0 -qo+' film.nfo tree/notes.txt

# RAR 4 sets, which no tool at hand writes any more, as RAR 3.x writes stored files: blocks with
# the low 16 bits of the CRC-32 of what follows that field, each volume its marker, main header,
# file headers and end block (flag 0x0001: another volume follows; 0x0008: its number).
python3 - "$out/rar4" << 'PY'
import struct, sys, zlib

def block(kind, flags, fields):
    body = struct.pack("<BHH", kind, flags, 7 + len(fields)) + fields
    return struct.pack("<H", zlib.crc32(body) & 0xFFFF) + body

def volume(files, main=0x0001, number=0, more=0):
    end = block(0x7B, 0x0008 | more, struct.pack("<H", number))
    return b"Rar!\x1a\x07\x00" + block(0x73, main, bytes(6)) + b"".join(files) + end

# A stored file of Windows, written 2009-06-15 12:30:44: flags 0x0001 and 0x0002 it goes on from
# the volume before and into the next, 0x00E0 a directory, 0x0100 64-bit sizes, 0x0200 a Unicode
# name, 0x1000 an extended time.
def file(name, data, flags=0, kind=0x74, extra=b"", size=None):
    sizes = struct.pack("<II", len(data), len(data) if size is None else size)
    fields = sizes + struct.pack("<BIIBBHI", 2, zlib.crc32(data), 0x3ACF63D6, 29, 0x30, len(name), 0x20)
    return block(kind, 0x8000 | flags, fields + bytes(8 if flags & 0x0100 else 0) + name + extra) + data

film = bytes(range(256)) * 4
part = lambda data, flags: file(b"Film\\film.mkv", data, flags, size=len(film))
stored = [volume([part(film[:400], 0x02)], 0x0101, 0, 1), volume([part(film[400:800], 0x03)], 1, 1, 1),
          volume([part(film[800:], 0x01), file(b"film.nfo", b"the film\r\n")], 1, 2)]
# "café ☃ 𝄞" in the Unicode form: a byte each, one under the high byte 0x26, and two for each half
# of the surrogate pair
unicode = b"caf_ _ __\0\x26\x00caf\xe9\x12 \x03 \x34\xd8\x80\x1e\xdd"
seeds = {
    "stored": b"".join(stored),
    "stored-later-volumes": b"".join(stored[1:]),
    "names-times-sizes": volume([file(b"Film", b"", 0xE0), file(b"large.bin", bytes(300), 0x0100),
                                 file(unicode, b"x" * 40, 0x1200, extra=b"\x00\xb0\x87\xd6\x12")], 0x0101),
    "sub-block": volume([file(b"CMT", b"a comment", kind=0x7A), file(b"a", b"")], 0x0101),
}
for seed, data in seeds.items():
    open(sys.argv[1] + "/" + seed, "wb").write(data)
PY

cksfv -b film.mkv film.nfo > "$out/sfv/cksfv.sfv"
(cd tree && rhash --sfv -r . > "$out/sfv/rhash.sfv")
printf '\xef\xbb\xbf; a comment\r\n\r\nfilm.mkv 0x1234ABCD\r\nmy film.nfo   cbf43926  \rlast -1' > "$out/sfv/hand-edited.sfv"
printf 'caf\xe9.nfo 01234567\nsub\\..\\film.mkv 89abcdef\n' > "$out/sfv/ansi.sfv"

zip -q -r -y info-zip.zip tree film.nfo
7z a -tzip -mtc=on -mcu=on -bd -bso0 7-zip.zip ./tree ./film.nfo
python3 - info-zip.zip 7-zip.zip "$out" << 'PY'
import os, struct, sys, zipfile, zlib

out = sys.argv[-1]
# An archive of Python's own whose entry carries an Info-ZIP Unicode path block beside a stored
# name in plain ASCII, as some tools write them.
with zipfile.ZipFile("python.zip", "w") as archive:
    info = zipfile.ZipInfo("cafe.nfo")
    name = "café.nfo".encode("utf-8")
    info.extra = struct.pack("<HHBI", 0x7075, 5 + len(name), 1, zlib.crc32(b"cafe.nfo")) + name
    archive.writestr(info, b"x")
for path in sys.argv[1:-1] + ["python.zip"]:
    data = open(path, "rb").read()
    with zipfile.ZipFile(path) as archive:
        for n, info in enumerate(archive.infolist()):
            local_name, local_extra = struct.unpack_from("<HH", data, info.header_offset + 26)
            at = info.header_offset + 30 + local_name
            local = data[at:at + local_extra]
            stored = info.orig_filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
            seed = struct.pack("<HI", info.create_version | info.create_system << 8, info.external_attr)
            seed += struct.pack("<H", len(local)) + local + struct.pack("<H", len(info.extra)) + info.extra + stored
            base = "%s-%d" % (os.path.splitext(path)[0], n)
            open(os.path.join(out, "zip_fields", base), "wb").write(seed)
            open(os.path.join(out, "names", base), "wb").write(stored)
PY
n=0
for name in '..\film.mkv' 'sub/../../film.mkv' 'C:film.mkv' '\\server\share\x' 'CON' 'nul.txt' 'com1 .nfo' \
    'film.mkv:stream' 'notes. ' 'a\. .\b' '...' 'sub\.\film.mkv'; do
  printf '%s' "$name" > "$out/names/hostile-$n"
  n=$((n + 1))
done
# par2_seed NAME OPTIONS FILE...: the PAR2 files that par2 makes of FILE... with OPTIONS, the
# index file first, as seed NAME.
par2_seed() {
  local name=$1 options=$2
  shift 2
  # shellcheck disable=SC2086
  par2 create -q -q $options "$name.par2" "$@" > /dev/null
  cat "$name.par2" $(ls -v "$name".vol*.par2 2> /dev/null) > "$out/par2/$name"
}
head -c 3000 /dev/urandom > small.bin
par2_seed tree '-s512 -c3' small.bin film.nfo "tree/sub dir/caf"$'\xc3\xa9'".nfo"
cp tree.par2 "$out/par2/index-only"
head -c 400 /dev/urandom > tiny.bin
par2_seed tiny-slices '-s4 -c5' tiny.bin
par2_seed wide-slice '-s4000 -c1' film.nfo
rm -rf "$out/work"
