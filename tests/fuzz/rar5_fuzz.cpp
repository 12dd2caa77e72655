// Fuzz target for the RAR 5 header reader: the input is a set, its volumes one after another
// (each begins with the signature). The layout read from it, when one is, must describe the
// volumes: every part inside its volume, the parts of a file in consecutive volumes, only the
// first file continued from before. Each volume is read once, forward. The set is read as it
// is, and with the CRCs of its headers made right, so that changed headers get past the check.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/crc32.h"
#include "tests/portable/rar5_bytes.h"

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

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

void CheckLayout(const std::vector<RarVolume>& volumes, const std::vector<RarFile>& files)
{
    for (size_t i = 0; i < files.size(); ++i) {
        const RarFile& file = files[i];
        check(!file.parts.empty());
        check(i == 0 || !file.startsBefore);
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
    const bool read = ReadRar5Layout(set.volumes, files, error);
    check(read == error.empty());
    if (read)
        CheckLayout(set.volumes, files);
    // A header is at least 6 bytes and read twice at most (its size field first): a reader
    // that goes back over the volume reads more.
    for (const auto& volume : set.sources)
        check(volume->read <= 8 + 3 * volume->Size());

    // The volumes left after the first, as a run reads them that continues a set.
    if (set.volumes.size() > 1) {
        const std::vector<RarVolume> rest(set.volumes.begin() + 1, set.volumes.end());
        if (ReadRar5Layout(rest, files, error))
            CheckLayout(rest, files);
    }
    for (const auto& volume : set.sources) {
        uint64_t number = 0;
        Rar5VolumeNumber(*volume, number);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> volumes = SplitVolumes(std::string(reinterpret_cast<const char*>(data), size));
    ReadSet(volumes);
    for (std::string& volume : volumes)
        FixHeaderCrcs(volume);
    ReadSet(volumes);
    return 0;
}
