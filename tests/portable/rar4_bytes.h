// RAR 4 volumes made byte by byte, for the tests of the header reader and of the module, as RAR
// 3.x writes stored files into volumes of the old naming (name.rar, name.r00, ...): the blocks
// one by one, and whole sets of files split over volumes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/crc32.h"
#include "engine/rar4_layout.h"
#include "tests/portable/memory_set.h"

namespace rar4 {

const std::string kMarker("Rar!\x1A\x07\x00", 7);
const unsigned kVolume = 0x0001, kFirstVolume = 0x0100;
const unsigned kSplitBefore = 0x01, kSplitAfter = 0x02, kLarge = 0x0100, kUnicode = 0x0200, kExtendedTime = 0x1000,
               kLongBlock = 0x8000;
// 2009-06-15 12:30:44, local
const uint32_t kDosTime = 29u << 25 | 6u << 21 | 15u << 16 | 12u << 11 | 30u << 5 | 22u;

inline std::string Le(uint64_t value, size_t bytes)
{
    std::string text;
    for (size_t i = 0; i < bytes; ++i)
        text += static_cast<char>(value >> (8 * i));
    return text;
}

// A block: the low 16 bits of the CRC-32 of what follows that field, its type, flags and size,
// then `fields`.
inline std::string Block(unsigned type, unsigned flags, const std::string& fields)
{
    const std::string body = Le(type, 1) + Le(flags, 2) + Le(7 + fields.size(), 2) + fields;
    return Le(Crc32Update(0, body.data(), body.size()), 2) + body;
}

// The marker and the main header of a volume.
inline std::string Main(unsigned flags = kVolume)
{
    return kMarker + Block(0x73, flags, std::string(6, '\0'));
}

// The end block: flag 0x0001 when another volume follows, the volume's number counted from 0.
inline std::string End(bool more, unsigned number)
{
    return Block(0x7B, (more ? 0x0001 : 0) | 0x0008, Le(number, 2));
}

struct File {
    std::string name;  // the name field as it is stored
    std::string data;
    unsigned flags = 0;          // kLarge, kUnicode, ...
    uint32_t highSize = 0;       // with kLarge: the high half of the file's size
    unsigned method = 0x30;      // stored
    unsigned host = 2;           // Win32
    uint32_t attributes = 0x20;  // archive
    std::string extendedTime;    // the extended time field (flag 0x1000) when there is one
    unsigned type = 0x74;        // 0x7A for a sub-block
    uint32_t dosTime = kDosTime;
};

// The header of a part of `file`: `partSize` bytes of data with their `crc`, and the flags of
// the part (kSplitBefore, kSplitAfter) besides the file's own.
inline std::string FileHeader(const File& file, uint64_t partSize = 0, unsigned split = 0, uint32_t crc = 0)
{
    const unsigned flags = file.flags | split | kLongBlock | (file.extendedTime.empty() ? 0 : kExtendedTime);
    const uint64_t size = file.data.size() + (static_cast<uint64_t>(file.highSize) << 32);
    std::string fields = Le(partSize, 4) + Le(size, 4) + Le(file.host, 1) + Le(crc, 4) + Le(file.dosTime, 4) +
                         Le(29, 1) + Le(file.method, 1) + Le(file.name.size(), 2) + Le(file.attributes, 4);
    if (flags & kLarge)
        fields += Le(partSize >> 32, 4) + Le(size >> 32, 4);
    return Block(file.type, flags, fields + file.name + file.extendedTime);
}

// The volumes of a set of stored `files` that RAR would write with volumes of `volumeSize`
// bytes: the first volume's main header says so, a file goes on in the next volume where one
// is full, and every volume ends with an end block that carries its number. A volume holds one
// byte of data at least, whatever its size.
inline std::vector<std::string> WriteSet(const std::vector<File>& files, size_t volumeSize)
{
    std::vector<std::string> volumes(1, Main(kVolume | kFirstVolume));
    const auto next = [&volumes] {
        volumes.back() += End(true, static_cast<unsigned>(volumes.size() - 1));
        volumes.push_back(Main());
    };
    for (const File& file : files) {
        for (size_t at = 0;;) {
            const size_t used = volumes.back().size() + FileHeader(file).size() + End(false, 0).size();
            const size_t room = used < volumeSize ? volumeSize - used : 0;
            if (room == 0 && at < file.data.size() && volumes.back().size() > Main().size()) {
                next();
                continue;
            }
            const size_t part = std::min(file.data.size() - at, std::max<size_t>(room, 1));
            const bool after = at + part < file.data.size();
            const uint32_t crc = Crc32Update(0, file.data.data() + (after ? at : 0), after ? part : file.data.size());
            volumes.back() += FileHeader(file, part, (at > 0 ? kSplitBefore : 0) | (after ? kSplitAfter : 0), crc) +
                              file.data.substr(at, part);
            at += part;
            if (!after)
                break;
            next();
        }
    }
    volumes.back() += End(false, static_cast<unsigned>(volumes.size() - 1));
    return volumes;
}

}  // namespace rar4
