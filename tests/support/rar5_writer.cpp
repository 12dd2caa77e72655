#include "tests/support/rar5_writer.h"

#include <zlib.h>

#include <algorithm>

namespace {

std::string Vint(uint64_t value)
{
    std::string bytes;
    do {
        const unsigned char low = value & 0x7F;
        value >>= 7;
        bytes += static_cast<char>(value ? low | 0x80 : low);
    } while (value);
    return bytes;
}

std::string Fixed32(uint32_t value)
{
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

uint32_t Crc(const std::string& bytes)
{
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// A header block: its CRC-32, its size, then `fields` (type, flags and the rest).
std::string Block(const std::string& fields)
{
    const std::string sized = Vint(fields.size()) + fields;
    return Fixed32(Crc(sized)) + sized;
}

std::string MainHeader(size_t volume)
{
    const uint64_t kVolume = 0x0001, kNumbered = 0x0002;
    std::string fields = Vint(1) + Vint(0) + Vint(volume == 0 ? kVolume : kVolume | kNumbered);
    if (volume > 0)
        fields += Vint(volume);
    return Block(fields);
}

// The header of one part of a file with its data; `crc` is of the part, or of the whole file in
// its last part.
std::string FilePart(const Rar5Entry& entry, const std::string& part, bool before, bool after, uint32_t crc)
{
    const uint64_t kDataArea = 0x0002, kSplitBefore = 0x0008, kSplitAfter = 0x0010, kCrcPresent = 0x0004;
    const uint64_t flags = kDataArea | (before ? kSplitBefore : 0) | (after ? kSplitAfter : 0);
    const uint64_t kStored = 0, kHostWindows = 0;
    const std::string fields = Vint(2) + Vint(flags) + Vint(part.size()) + Vint(kCrcPresent) +
                               Vint(entry.data.size()) + Vint(entry.attributes) + Fixed32(crc) + Vint(kStored) +
                               Vint(kHostWindows) + Vint(entry.name.size()) + entry.name;
    return Block(fields) + part;
}

std::string EndHeader(bool last)
{
    return Block(Vint(5) + Vint(0) + Vint(last ? 0 : 1));
}

}  // namespace

std::vector<std::string> BuildRar5Set(const std::vector<Rar5Entry>& entries, size_t volumeData)
{
    const std::string kSignature("Rar!\x1A\x07\x01\x00", 8);
    std::vector<std::string> volumes(1, kSignature + MainHeader(0));
    size_t room = volumeData;
    for (const Rar5Entry& entry : entries) {
        size_t at = 0;
        do {
            if (room == 0) {
                volumes.back() += EndHeader(false);
                volumes.push_back(kSignature + MainHeader(volumes.size()));
                room = volumeData;
            }
            const std::string part = entry.data.substr(at, room);
            const bool after = at + part.size() < entry.data.size();
            volumes.back() += FilePart(entry, part, at > 0, after, after ? Crc(part) : Crc(entry.data));
            at += part.size();
            room -= std::min(room, part.size());
        } while (at < entry.data.size());
    }
    volumes.back() += EndHeader(true);
    return volumes;
}
