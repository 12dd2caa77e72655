// Fuzz target for the RAR 5 header reader (tests/fuzz/rar_layout_checks.h), whose times are
// UTC.
#include <cstdint>
#include <string>

#include "base/crc32.h"
#include "engine/rar5_layout.h"
#include "tests/fuzz/rar_layout_checks.h"

namespace {

// Reads a vint at `at` of `bytes`, moving `at` past it; false past the end.
bool Vint(const std::string& bytes, size_t& at, uint64_t& value)
{
    value = 0;
    for (int shift = 0; at < bytes.size() && shift < 64; shift += 7) {
        const unsigned char byte = static_cast<unsigned char>(bytes[at++]);
        value |= static_cast<uint64_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

// Gives each header block met by walking the volume the CRC of its bytes.
void FixHeaderCrcs(std::string& volume)
{
    for (size_t offset = 8; offset < volume.size();) {
        size_t at = offset + 4;
        uint64_t headerSize = 0, type = 0, flags = 0, extraSize = 0, dataSize = 0;
        if (!Vint(volume, at, headerSize) || headerSize > volume.size() - at)
            return;
        const size_t end = at + static_cast<size_t>(headerSize);
        const uint32_t crc = Crc32Update(0, volume.data() + offset + 4, end - offset - 4);
        for (int i = 0; i < 4; ++i)
            volume[offset + i] = static_cast<char>(crc >> (8 * i));
        if (!Vint(volume, at, type) || !Vint(volume, at, flags) || ((flags & 0x01) && !Vint(volume, at, extraSize)) ||
            ((flags & 0x02) && !Vint(volume, at, dataSize)) || dataSize > volume.size() - end)
            return;
        offset = end + static_cast<size_t>(dataSize);
    }
}

void CheckFile(const RarFile& file)
{
    check(!file.localTime && file.name.find_first_of("\\:") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return FuzzRarSet(
        {std::string("Rar!\x1A\x07\x01\x00", 8), ReadRar5Layout, Rar5VolumeNumber, FixHeaderCrcs, CheckFile}, data,
        size);
}
