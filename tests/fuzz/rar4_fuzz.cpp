// Fuzz target for the RAR 4 header reader: the input is a set, its volumes one after another
// (each begins with the marker block). The layout read from it, when one is, must describe the
// volumes: every part inside its volume, the parts of a file in consecutive volumes, only the
// first file continued from before, names in UTF-8 with "/" for separators. Each volume is read
// once, forward. The set is read as it is, and with the CRCs of its headers made right, so that
// changed headers get past the check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/crc32.h"
#include "tests/portable/rar4_bytes.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

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

void CheckLayout(const std::vector<RarVolume>& volumes, const std::vector<RarFile>& files)
{
    for (size_t i = 0; i < files.size(); ++i) {
        const RarFile& file = files[i];
        check(!file.parts.empty());
        check(i == 0 || !file.startsBefore);
        check(IsUtf8(file.name) && file.name.find('\\') == std::string::npos);
        check(file.localTime == file.hasTime);
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

// Reads the set of `volumes` and checks what it reads.
void ReadSet(const std::vector<std::string>& volumes)
{
    MemorySet set(volumes);
    std::vector<RarFile> files;
    std::string error;
    const bool read = ReadRar4Layout(set.volumes, files, error);
    check(read == error.empty());
    if (read)
        CheckLayout(set.volumes, files);
    // A header is at least 7 bytes and read twice at most (its fixed part first): a reader
    // that goes back over the volume reads more.
    for (const auto& volume : set.sources)
        check(volume->read <= 8 + 3 * volume->Size());

    // The volumes left after the first, as a run reads them that continues a set.
    if (set.volumes.size() > 1) {
        const std::vector<RarVolume> rest(set.volumes.begin() + 1, set.volumes.end());
        if (ReadRar4Layout(rest, files, error))
            CheckLayout(rest, files);
    }
    for (const auto& volume : set.sources) {
        uint64_t number = 0;
        if (Rar4VolumeNumber(*volume, number))
            check(number <= 0xFFFF);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> volumes = rar4::SplitVolumes(std::string(reinterpret_cast<const char*>(data), size));
    ReadSet(volumes);
    for (std::string& volume : volumes)
        FixHeaderCrcs(volume);
    ReadSet(volumes);
    return 0;
}
