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
    // RAR 4 keeps the wall-clock time of the zone that the set was made in, which no volume
    // names: then writeTime counts that time as if it were UTC, and the caller makes it UTC with
    // this machine's zone, as the UnRAR library does.
    bool localTime = false;
    std::vector<RarPart> parts;
};

// True when every file of the layout can be copied out of the volumes and checked part by part:
// stored, not encrypted, with CRC-32s.
bool IsResumable(const std::vector<RarFile>& files);
