// Where the data of each file of a RAR 5 volume set lies, read from the volumes' own headers
// without the UnRAR library, which can start a file only at its first volume. A stored file's
// data is its content, so with this layout a file can be continued from any volume on: what
// the deletion of volumes during unpacking relies on when a run dies halfway.
//
// Only bytes are read here, through ByteSource: the volumes on disk are read through the
// adapter of engine/rar5_files.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/byte_source.h"

// One volume to read: its file name (for the reasons of a failure) and its bytes.
struct Rar5Volume {
    std::string name;
    ByteSource* bytes = nullptr;
};

// One volume's share of a file's data.
struct Rar5Part {
    size_t volume = 0;    // index into the volumes that were read
    uint64_t offset = 0;  // of the data in that volume
    uint64_t size = 0;
    // CRC-32 of this part's data while the file goes on in a later volume; of the whole file in
    // its last part.
    uint32_t crc = 0;
    bool last = false;
};

struct Rar5File {
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
    std::vector<Rar5Part> parts;
};

// Reads the headers of `volumes`, consecutive volumes of one set in order, and lists their
// files with the parts of each; every part lies inside its volume. False, with the reason in
// `error`, when a volume cannot be read or is no RAR 5 volume, a header fails its CRC or
// reaches past the volume's end, the headers are encrypted, or a file that goes on after a
// volume does not go on at the start of the next. `lastVolume`, when given, tells whether the
// end header of the last volume read says that no volume follows it.
bool ReadRar5Layout(const std::vector<Rar5Volume>& volumes, std::vector<Rar5File>& files, std::string& error,
                    bool* lastVolume = nullptr);

// True when every file of the layout can be copied out of the volumes and checked part by part:
// stored, not encrypted, with CRC-32s.
bool IsResumable(const std::vector<Rar5File>& files);

// The number that a RAR 5 volume carries in its main header, counted from 0 for the first
// volume. False when the bytes are no RAR 5 volume or its header cannot be read (older volumes
// carry no such number).
bool Rar5VolumeNumber(ByteSource& volume, uint64_t& number);
