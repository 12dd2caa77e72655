// RAR 4 volumes made byte by byte, for the tests, the fuzz target and the fuzz seeds of the
// header reader, as RAR 3.x writes stored files into volumes of the old naming (name.rar,
// name.r00, ...): the blocks one by one, and whole sets of files split over volumes.
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

inline std::vector<std::string> SplitVolumes(const std::string& set)
{
    return SplitAtSignatures(set, kMarker);
}

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

// The UTF-16 units of a UTF-8 name.
inline std::vector<uint16_t> Utf16(const std::string& name)
{
    std::vector<uint16_t> units;
    for (size_t i = 0; i < name.size();) {
        const unsigned char lead = static_cast<unsigned char>(name[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (size_t j = 1; j < length; ++j)
            code = code << 6 | (static_cast<unsigned char>(name[i + j]) & 0x3F);
        if (code >= 0x10000) {
            units.push_back(static_cast<uint16_t>(0xD800 + ((code - 0x10000) >> 10)));
            code = 0xDC00 + (code & 0x3FF);
        }
        units.push_back(static_cast<uint16_t>(code));
        i += length;
    }
    return units;
}

// The name field of a name that is not ASCII: the name with "_" for the rest, a zero, and the
// Unicode form after it, each character in one byte when its high byte is 0 or the form's high
// byte, else in two.
inline std::string UnicodeNameField(const std::string& name)
{
    const std::vector<uint16_t> units = Utf16(name);
    std::string plain;
    unsigned high = 0;
    for (uint16_t unit : units) {
        plain += unit < 0x80 ? static_cast<char>(unit) : '_';
        high = high == 0 && unit > 0xFF ? unit >> 8 : high;
    }
    std::string code = Le(high, 1);
    for (size_t i = 0; i < units.size(); i += 4) {
        std::string bytes;
        unsigned bits = 0;
        for (size_t j = i; j < units.size() && j < i + 4; ++j) {
            const unsigned mode = units[j] <= 0xFF ? 0 : units[j] >> 8 == high ? 1 : 2;
            bits |= mode << (6 - 2 * (j - i));
            bytes += mode == 2 ? Le(units[j], 2) : Le(units[j], 1);
        }
        code += Le(bits, 1) + bytes;
    }
    return plain + '\0' + code;
}

struct File {
    std::string name;  // UTF-8: in the Unicode form when it is not ASCII
    std::string data;
    unsigned flags = 0;          // kLarge, kUnicode, ...
    uint32_t highSize = 0;       // with kLarge: the high half of the file's size
    unsigned method = 0x30;      // stored
    unsigned host = 2;           // Win32
    uint32_t attributes = 0x20;  // archive
    std::string nameField;       // the name field as it is, in place of `name`
    std::string extendedTime;    // the extended time field (flag 0x1000) when there is one
    unsigned type = 0x74;        // 0x7A for a sub-block
    uint32_t dosTime = kDosTime;
};

// The header of a part of `file`: `partSize` bytes of data with their `crc`, and the flags of
// the part (kSplitBefore, kSplitAfter) besides the file's own.
inline std::string FileHeader(const File& file, uint64_t partSize, unsigned split, uint32_t crc)
{
    bool ascii = true;
    for (char c : file.name)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    const std::string name = !file.nameField.empty() ? file.nameField : ascii ? file.name : UnicodeNameField(file.name);
    const unsigned flags = file.flags | split | kLongBlock | (ascii || !file.nameField.empty() ? 0 : kUnicode) |
                           (file.extendedTime.empty() ? 0 : kExtendedTime);
    const uint64_t size = file.data.size() + (static_cast<uint64_t>(file.highSize) << 32);
    std::string fields = Le(partSize, 4) + Le(size, 4) + Le(file.host, 1) + Le(crc, 4) + Le(file.dosTime, 4) +
                         Le(29, 1) + Le(file.method, 1) + Le(name.size(), 2) + Le(file.attributes, 4);
    if (flags & kLarge)
        fields += Le(partSize >> 32, 4) + Le(size >> 32, 4);
    return Block(file.type, flags, fields + name + file.extendedTime);
}

// The volumes of a set of stored `files` that RAR would write with volumes of `volumeSize`
// bytes: the first volume's main header says so, a file goes on in the next volume where one
// is full, and every volume ends with an end block that carries its number. A volume holds one
// byte of data at least, whatever its size.
inline std::vector<std::string> WriteSet(const std::vector<File>& files, size_t volumeSize)
{
    std::vector<std::string> volumes(1, Main(kVolume | kFirstVolume));
    const size_t endSize = End(false, 0).size();
    for (const File& file : files) {
        for (size_t at = 0;;) {
            const size_t header = FileHeader(file, 0, 0, 0).size();
            const size_t used = volumes.back().size() + header + endSize;
            const size_t room = used < volumeSize ? volumeSize - used : 0;
            if (room == 0 && at < file.data.size() && volumes.back().size() > Main().size()) {
                volumes.back() += End(true, static_cast<unsigned>(volumes.size() - 1));
                volumes.push_back(Main());
                continue;
            }
            const size_t part = std::min(file.data.size() - at, std::max<size_t>(room, 1));
            const bool after = at + part < file.data.size();
            const std::string& whole = file.data;
            const uint32_t crc =
                after ? Crc32Update(0, whole.data() + at, part) : Crc32Update(0, whole.data(), whole.size());
            volumes.back() += FileHeader(file, part, (at > 0 ? kSplitBefore : 0) | (after ? kSplitAfter : 0), crc) +
                              whole.substr(at, part);
            at += part;
            if (!after)
                break;
            volumes.back() += End(true, static_cast<unsigned>(volumes.size() - 1));
            volumes.push_back(Main());
        }
    }
    volumes.back() += End(false, static_cast<unsigned>(volumes.size() - 1));
    return volumes;
}

}  // namespace rar4
