// Where the data of each file of a RAR volume set lies, as the readers of the volumes' own
// headers list it (engine/rar5_layout.h, engine/rar4_layout.h): one description for both
// formats, so that the copy of stored sets out of their volumes is written once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_source.h"

// One volume to read: its file name (for the reasons of a failure) and its bytes.
struct RarVolume {
    std::string name;
    ByteSource* bytes = nullptr;
};

// One volume's share of a file's data.
struct RarPart {
    size_t volume = 0;    // index into the volumes that were read
    uint64_t offset = 0;  // of the data in that volume
    uint64_t size = 0;
    // CRC-32 of this part's data while the file goes on in a later volume; of the whole file in
    // its last part.
    uint32_t crc = 0;
    bool last = false;
};

struct RarFile {
    std::string name;  // UTF-8 as stored
    bool directory = false;
    bool stored = false;  // no compression: the data is the content
    bool encrypted = false;
    bool hasCrc = false;        // every part carries a CRC-32 (not only a BLAKE2 hash)
    bool startsBefore = false;  // its first part lies in a volume before the first one read
    uint64_t size = 0;
    uint32_t attributes = 0;  // Windows attributes (0 when the set was made elsewhere)
    bool hasTime = false;
    uint64_t writeTime = 0;  // a FILETIME count: 100 ns units since 1601-01-01 UTC
    // Kept only when the set was made so; 0 when it does not carry them. Local for RAR 4.
    uint64_t creationTime = 0;
    uint64_t accessTime = 0;
    // A RAR 5 link, or a reference to an earlier file of the set whose content it repeats
    // (the redirection types 1 to 5): no data of its own to copy. 0 for any other file.
    uint64_t redirection = 0;
    // RAR 4: the name as its bytes stand, without a Unicode form; the UnRAR library reads such
    // bytes in the machine's OEM code page, which the caller knows.
    bool oemName = false;
    // RAR 4 keeps the wall-clock time of the zone that the set was made in, which no volume
    // names: then writeTime counts that time as if it were UTC, and the caller makes it UTC with
    // this machine's zone, as the UnRAR library does.
    bool localTime = false;
    std::vector<RarPart> parts;
};

// Reads one volume's headers for ReadRarLayout: adds the files that start in it and the parts of
// those that go on into it to `files` through AddRarPart, and says in `last` whether its end
// block says that no volume follows. False, with the reason in `error`, when the volume cannot be
// read as one of the set.
using RarVolumeReader = bool (*)(const RarVolume& volume, size_t index, std::vector<RarFile>& files, bool& continuing,
                                 bool& last, std::string& error);

// Reads `volumes`, consecutive volumes of one set in order, with the reader of their format, and
// checks that a file that goes on has a part in every volume until it ends. `lastVolume`, when
// given, tells whether the last volume read says that no volume follows it.
bool ReadRarLayout(const std::vector<RarVolume>& volumes, RarVolumeReader readVolume, std::vector<RarFile>& files,
                   std::string& error, bool* lastVolume);

// Adds the part that a file header of volume `part.volume` describes to `files`: a new `file`
// (whose hasCrc is that of this part), or the next part of the one that goes on from the volume
// before (`splitBefore`; `continuing` while a file goes on). False when the parts do not follow
// each other; `damaged` when the volume's own headers say so (a file that goes on within the
// volume, one that starts before the volume after other files).
bool AddRarPart(std::vector<RarFile>& files, const RarFile& file, const RarPart& part, bool splitBefore,
                bool& continuing, bool& damaged);

// True when every file of the layout can be copied out of the volumes and checked part by part:
// stored, not encrypted, with CRC-32s, and neither a link nor a reference.
bool IsResumable(const std::vector<RarFile>& files);
