// Fuzz target for the RAR 4 header reader (tests/fuzz/rar_layout_checks.h), whose names must
// also be UTF-8 with "/" for separators and whose times are local.
#include <cstdint>
#include <string>

#include "base/crc32.h"
#include "engine/rar4_layout.h"
#include "tests/fuzz/rar_layout_checks.h"

namespace {

uint64_t Le(const std::string& bytes, size_t at, size_t size)
{
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i)
        value |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

// Gives each block met by walking the volume the CRC of its bytes, as the reader checks it:
// the whole header but for a comment and a main header holding one (their first 13 bytes).
void FixHeaderCrcs(std::string& volume)
{
    for (size_t offset = 7; offset <= volume.size() && volume.size() - offset >= 7;) {
        const unsigned type = static_cast<unsigned char>(volume[offset + 2]);
        const unsigned flags = static_cast<unsigned>(Le(volume, offset + 3, 2));
        const size_t size = static_cast<size_t>(Le(volume, offset + 5, 2));
        if (size < 7 || size > volume.size() - offset)
            return;
        const bool shortCrc = type == 0x75 || (type == 0x73 && (flags & 0x0002));
        const size_t covered = shortCrc && size >= 13 ? 13 : size;
        const uint32_t crc = Crc32Update(0, volume.data() + offset + 2, covered - 2);
        volume[offset] = static_cast<char>(crc);
        volume[offset + 1] = static_cast<char>(crc >> 8);
        const bool file = type == 0x74 || type == 0x7A, large = file && (flags & 0x0100);
        const bool never = type == 0x73 || type == 0x75 || type == 0x7B;
        const bool sized = file || type == 0x77 || type == 0x78 || (!never && (flags & 0x8000));
        if (size < (large ? 40u : sized ? 11u : 7u))
            return;
        const uint64_t data = sized ? Le(volume, offset + 7, 4) | (large ? Le(volume, offset + 32, 4) << 32 : 0) : 0;
        if (data > volume.size() - offset - size)
            return;
        offset += size + static_cast<size_t>(data);
    }
}

bool IsUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80   ? 1
                              : lead < 0xC2 ? 0
                              : lead < 0xE0 ? 2
                              : lead < 0xF0 ? 3
                              : lead < 0xF5 ? 4
                                            : 0;
        if (length == 0 || length > text.size() - i)
            return false;
        uint32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (size_t j = 1; j < length; ++j) {
            if ((static_cast<unsigned char>(text[i + j]) & 0xC0) != 0x80)
                return false;
            code = code << 6 | (static_cast<unsigned char>(text[i + j]) & 0x3F);
        }
        if ((length == 3 && (code < 0x800 || (code >= 0xD800 && code < 0xE000))) ||
            (length == 4 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += length;
    }
    return true;
}

void CheckFile(const RarFile& file)
{
    check((file.oemName || IsUtf8(file.name)) && file.name.find_first_of("\\:") == std::string::npos);
    check(file.localTime == file.hasTime);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return FuzzRarSet({std::string("Rar!\x1A\x07\x00", 7), ReadRar4Layout, Rar4VolumeNumber, FixHeaderCrcs, CheckFile},
                      data, size);
}
