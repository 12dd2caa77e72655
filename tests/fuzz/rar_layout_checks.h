// What the fuzz targets of the RAR 4 and RAR 5 header readers check: the input is a set, its
// volumes one after another (each begins with the format's signature). The layout read from it,
// when one is, must describe the volumes: every part inside its volume, the parts of a file in
// consecutive volumes, only the first file continued from before, and what the format's own
// check of a file adds. Each volume is read once, forward. The set is read as it is, and with
// the CRCs of its headers made right, so that changed headers get past the check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/portable/memory_set.h"

inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The reader of one format, with what the fuzz target knows of it.
struct RarFormat {
    std::string signature;
    bool (*readLayout)(const std::vector<RarVolume>&, std::vector<RarFile>&, std::string&, bool*);
    bool (*volumeNumber)(ByteSource&, uint64_t&);
    void (*fixHeaderCrcs)(std::string& volume);  // gives each header met walking the volume its CRC
    void (*checkFile)(const RarFile& file);      // what this format's files must be besides
};

inline void CheckLayout(const RarFormat& format, const std::vector<RarVolume>& volumes,
                        const std::vector<RarFile>& files)
{
    for (size_t i = 0; i < files.size(); ++i) {
        const RarFile& file = files[i];
        check(!file.parts.empty());
        check(i == 0 || !file.startsBefore);
        format.checkFile(file);
        for (size_t j = 0; j < file.parts.size(); ++j) {
            const RarPart& part = file.parts[j];
            check(part.volume < volumes.size());
            const uint64_t size = volumes[part.volume].bytes->Size();
            check(part.offset <= size && part.size <= size - part.offset);
            check(part.last == (j + 1 == file.parts.size()));
            check(j == 0 || part.volume == file.parts[j - 1].volume + 1);
        }
    }
}

// Reads the set of `volumes`, and the volumes after its first as a run reads them that continues
// a set, and checks what it reads.
inline void ReadSet(const RarFormat& format, const std::vector<std::string>& volumes)
{
    MemorySet set(volumes);
    std::vector<RarFile> files;
    std::string error;
    const bool read = format.readLayout(set.volumes, files, error, nullptr);
    check(read == error.empty());
    if (read)
        CheckLayout(format, set.volumes, files);
    // A header is 6 bytes at least and read twice at most (its first bytes, then the whole): a
    // reader that goes back over the volume reads more.
    for (const auto& volume : set.sources)
        check(volume->read <= 8 + 3 * volume->Size());

    if (set.volumes.size() > 1) {
        const std::vector<RarVolume> rest(set.volumes.begin() + 1, set.volumes.end());
        if (format.readLayout(rest, files, error, nullptr))
            CheckLayout(format, rest, files);
    }
    for (const auto& volume : set.sources) {
        uint64_t number = 0;
        format.volumeNumber(*volume, number);
    }
}

inline int FuzzRarSet(const RarFormat& format, const uint8_t* data, size_t size)
{
    std::vector<std::string> volumes =
        SplitAtSignatures(std::string(reinterpret_cast<const char*>(data), size), format.signature);
    ReadSet(format, volumes);
    for (std::string& volume : volumes)
        format.fixHeaderCrcs(volume);
    ReadSet(format, volumes);
    return 0;
}
