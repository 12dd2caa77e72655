#include "tests/support/rar4_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "engine/crc32.h"
#include "tests/support/test_files.h"

namespace {

const char kMarker[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

const uint8_t kMainHead = 0x73;
const uint8_t kFileHead = 0x74;
const uint8_t kEndArcHead = 0x7B;

const uint16_t kMainVolume = 0x0001;
const uint16_t kMainFirstVolume = 0x0100;
const uint16_t kFileSplitBefore = 0x0001;
const uint16_t kFileSplitAfter = 0x0002;
const uint16_t kLongBlock = 0x8000;  // data follows the header
const uint16_t kEndNextVolume = 0x0001;

const uint8_t kHostWin32 = 2;
const uint8_t kVersion20 = 20;
const uint8_t kMethodStore = 0x30;
const uint32_t kAttributeArchive = 0x20;
const uint32_t kDosTime2024 = (44u << 25) | (1u << 21) | (1u << 16);  // 2024-01-01 00:00:00

void Put16(std::string& out, uint16_t value)
{
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

void Put32(std::string& out, uint32_t value)
{
    Put16(out, static_cast<uint16_t>(value & 0xFFFF));
    Put16(out, static_cast<uint16_t>(value >> 16));
}

uint32_t Crc(const std::string& data)
{
    return Crc32UpdateBytewise(0, data.data(), data.size());
}

// A block: its CRC (low 16 bits of the CRC-32 of the rest of the header), then the header
// from its type on, whose size field is filled in here.
std::string Block(uint8_t type, uint16_t flags, const std::string& fields)
{
    std::string header;
    header += static_cast<char>(type);
    Put16(header, flags);
    Put16(header, static_cast<uint16_t>(2 + header.size() + 2 + fields.size()));
    header += fields;
    std::string block;
    Put16(block, static_cast<uint16_t>(Crc(header) & 0xFFFF));
    return block + header;
}

std::string MainHeader(uint16_t flags)
{
    return Block(kMainHead, flags, std::string(6, '\0'));
}

// One part of an entry: the whole entry, or the piece that lies in one volume.
std::string FilePart(const Rar4Entry& entry, size_t offset, size_t length)
{
    const bool before = offset > 0;
    const bool after = offset + length < entry.content.size();
    const std::string data = entry.content.substr(offset, length);
    std::string fields;
    Put32(fields, static_cast<uint32_t>(length));
    Put32(fields, static_cast<uint32_t>(entry.content.size()));
    fields += static_cast<char>(kHostWin32);
    // A part followed by another carries the CRC of its own data, the last one that of the file.
    Put32(fields, after ? Crc(data) : Crc(entry.content));
    Put32(fields, kDosTime2024);
    fields += static_cast<char>(kVersion20);
    fields += static_cast<char>(kMethodStore);
    Put16(fields, static_cast<uint16_t>(entry.name.size()));
    Put32(fields, kAttributeArchive);
    fields += entry.name;
    const uint16_t flags = kLongBlock | (before ? kFileSplitBefore : 0) | (after ? kFileSplitAfter : 0);
    return Block(kFileHead, flags, fields) + data;
}

std::string VolumeName(const std::string& firstVolume, size_t index)
{
    if (index == 0)
        return firstVolume;
    char extension[8];
    std::snprintf(extension, sizeof extension, "r%02u", static_cast<unsigned>(index - 1));
    return firstVolume.substr(0, firstVolume.rfind('.') + 1) + extension;
}

}  // namespace

std::vector<std::string> WriteRar4(const std::string& firstVolume, const std::vector<Rar4Entry>& entries,
                                   size_t volumeDataSize)
{
    const bool volumes = volumeDataSize != 0;
    std::vector<std::string> bodies(1);
    size_t room = volumeDataSize;
    for (const Rar4Entry& entry : entries) {
        size_t offset = 0;
        do {
            if (volumes && room == 0) {
                bodies.emplace_back();
                room = volumeDataSize;
            }
            const size_t length = volumes ? std::min(room, entry.content.size() - offset) : entry.content.size();
            bodies.back() += FilePart(entry, offset, length);
            offset += length;
            if (volumes)
                room -= length;
        } while (offset < entry.content.size());
    }

    std::vector<std::string> paths;
    for (size_t i = 0; i < bodies.size(); ++i) {
        const bool last = i + 1 == bodies.size();
        const uint16_t mainFlags = volumes ? static_cast<uint16_t>(kMainVolume | (i == 0 ? kMainFirstVolume : 0)) : 0;
        const std::string archive = std::string(kMarker, sizeof kMarker) + MainHeader(mainFlags) + bodies[i] +
                                    Block(kEndArcHead, last ? 0 : kEndNextVolume, "");
        paths.push_back(VolumeName(firstVolume, i));
        WriteFileBytes(paths.back(), archive);
    }
    return paths;
}
