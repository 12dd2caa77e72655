#include "engine/rar5_layout.h"

#include <cstring>

#include "base/crc32.h"

namespace {

const unsigned char kSignature[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};

enum HeaderType : uint64_t { kMain = 1, kFile = 2, kService = 3, kEncryption = 4, kEnd = 5 };
enum HeaderFlags : uint64_t {
    kExtraArea = 0x01,
    kDataArea = 0x02,
    kSplitBefore = 0x08,
    kSplitAfter = 0x10,
};
enum FileFlags : uint64_t { kDirectory = 0x01, kUnixTime = 0x02, kCrcPresent = 0x04 };
const uint64_t kExtraEncryption = 1;
const uint64_t kExtraTime = 3;
const uint64_t kExtraRedirection = 5;
const uint64_t kHostWindows = 0;

// Reads fields of one header from memory; every read fails past the end.
class Fields {
public:
    Fields(const unsigned char* data, size_t size) : p_(data), end_(data + size) {}
    bool Vint(uint64_t& value)
    {
        value = 0;
        for (int shift = 0; p_ < end_ && shift < 64; shift += 7) {
            const unsigned char byte = *p_++;
            value |= static_cast<uint64_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return true;
        }
        return false;
    }
    bool Fixed(uint64_t& value, size_t bytes)
    {
        if (static_cast<size_t>(end_ - p_) < bytes)
            return false;
        value = 0;
        for (size_t i = 0; i < bytes; ++i)
            value |= static_cast<uint64_t>(p_[i]) << (8 * i);
        p_ += bytes;
        return true;
    }
    bool Bytes(std::string& text, uint64_t size)
    {
        if (static_cast<uint64_t>(end_ - p_) < size)
            return false;
        text.assign(reinterpret_cast<const char*>(p_), static_cast<size_t>(size));
        p_ += size;
        return true;
    }
    bool Skip(uint64_t size)
    {
        if (static_cast<uint64_t>(end_ - p_) < size)
            return false;
        p_ += size;
        return true;
    }
    size_t left() const { return static_cast<size_t>(end_ - p_); }
    const unsigned char* at() const { return p_; }

private:
    const unsigned char* p_;
    const unsigned char* end_;
};

// Unsigned 32-bit seconds since 1970-01-01 UTC as a FILETIME count.
uint64_t FileTimeOfUnixSeconds(uint64_t seconds)
{
    return seconds * 10000000ULL + 116444736000000000ULL;
}

// The precise times of a file: write, creation and access time as its flags say they are there,
// as FILETIME counts or Unix seconds, then in Unix form with 0x10 the nanoseconds of each, which
// the UnRAR library keeps to the 100 ns.
void ReadTimes(Fields record, RarFile& file)
{
    uint64_t flags = 0;
    if (!record.Vint(flags))
        return;
    const bool unixFormat = (flags & 0x01) != 0;
    const uint64_t kPresent[] = {0x02, 0x04, 0x08};
    uint64_t* times[] = {&file.writeTime, &file.creationTime, &file.accessTime};
    uint64_t read[3] = {};
    for (int i = 0; i < 3; ++i)
        if ((flags & kPresent[i]) && !record.Fixed(read[i], unixFormat ? 4 : 8))
            return;
    for (int i = 0; i < 3; ++i) {
        if (!(flags & kPresent[i]))
            continue;
        // The library takes the low 30 bits, and none that make a second or more.
        uint64_t nanoseconds = 0;
        if (unixFormat && (flags & 0x10) && (!record.Fixed(nanoseconds, 4) || (nanoseconds &= 0x3FFFFFFF) > 999999999))
            nanoseconds = 0;
        *times[i] = unixFormat ? FileTimeOfUnixSeconds(read[i]) + nanoseconds / 100 : read[i];
    }
    file.hasTime = (flags & 0x02) != 0;
}

// The extra area of a file header: its encryption record, its precise times and its redirection.
void ReadFileExtra(Fields extra, RarFile& file)
{
    uint64_t size = 0, type = 0;
    while (extra.left() > 0 && extra.Vint(size) && size <= extra.left()) {
        Fields record(extra.at(), static_cast<size_t>(size));
        extra.Skip(size);
        if (!record.Vint(type))
            return;
        if (type == kExtraEncryption)
            file.encrypted = true;
        if (type == kExtraTime)
            ReadTimes(record, file);
        // A redirection of an unknown type is still no data of the file's own.
        if (type == kExtraRedirection && (!record.Vint(file.redirection) || file.redirection == 0))
            file.redirection = UINT64_MAX;
    }
}

// A name as the UnRAR library gives it on Windows: RAR 5 separates folders with "/" only, so a
// backslash is part of a name made on Unix, and it and a colon, which Windows takes for a stream,
// become "_".
void AsLibraryName(std::string& name)
{
    for (char& c : name)
        if (c == '\\' || c == ':')
            c = '_';
}

// The fields of a file header after the common ones.
bool ReadFileHeader(Fields& header, uint64_t extraSize, RarFile& file, uint32_t& crc, bool& hasCrc)
{
    uint64_t fileFlags = 0, size = 0, attributes = 0, value = 0, compression = 0, host = 0, nameSize = 0;
    if (!header.Vint(fileFlags) || !header.Vint(size) || !header.Vint(attributes))
        return false;
    if ((fileFlags & kUnixTime) && !header.Fixed(value, 4))
        return false;
    if (fileFlags & kUnixTime) {
        file.writeTime = FileTimeOfUnixSeconds(value);
        file.hasTime = true;
    }
    hasCrc = (fileFlags & kCrcPresent) != 0;
    if (hasCrc && !header.Fixed(value, 4))
        return false;
    crc = static_cast<uint32_t>(value);
    if (!header.Vint(compression) || !header.Vint(host) || !header.Vint(nameSize) || !header.Bytes(file.name, nameSize))
        return false;
    AsLibraryName(file.name);
    file.directory = (fileFlags & kDirectory) != 0;
    file.stored = ((compression >> 7) & 7) == 0;
    file.size = size;
    file.attributes = host == kHostWindows ? static_cast<uint32_t>(attributes) : 0;
    if (extraSize > header.left())
        return false;
    ReadFileExtra(Fields(header.at() + header.left() - extraSize, static_cast<size_t>(extraSize)), file);
    return true;
}

// One header block of a volume, read and checked against its CRC: its type, flags, the sizes of
// its extra and data areas, and its fields after those.
struct Block {
    uint64_t type = 0;
    uint64_t flags = 0;
    uint64_t extraSize = 0;
    uint64_t dataOffset = 0;  // in the volume
    uint64_t dataSize = 0;
    std::vector<unsigned char> bytes;
    size_t fieldsAt = 0;  // where the type-specific fields begin in `bytes`
    Fields fields() const { return Fields(bytes.data() + fieldsAt, bytes.size() - fieldsAt); }
};

// The block at `offset` of a volume of `volumeSize` bytes; false when it is damaged or reaches
// past the end. Its data area starts inside the volume; whether it ends there is the caller's.
bool ReadBlock(ByteSource& volume, uint64_t volumeSize, uint64_t offset, Block& block)
{
    unsigned char head[16];  // the CRC and the size field: 7 bytes at most are read
    size_t got = 0;
    if (!volume.ReadAt(offset, head, 7, got) || got < 5)
        return false;
    Fields sizeField(head + 4, got - 4);
    uint64_t headerSize = 0;
    if (!sizeField.Vint(headerSize) || headerSize == 0 || headerSize > (2u << 20))
        return false;
    const size_t sizeLength = static_cast<size_t>(sizeField.at() - (head + 4));
    const size_t whole = 4 + sizeLength + static_cast<size_t>(headerSize);
    if (offset > volumeSize || whole > volumeSize - offset)
        return false;
    block.bytes.resize(whole);
    uint64_t storedCrc = 0;
    if (!volume.ReadAt(offset, block.bytes.data(), whole, got) || got != whole ||
        !Fields(block.bytes.data(), 4).Fixed(storedCrc, 4) ||
        Crc32Update(0, block.bytes.data() + 4, whole - 4) != storedCrc)
        return false;
    Fields header(block.bytes.data() + 4 + sizeLength, static_cast<size_t>(headerSize));
    block.extraSize = block.dataSize = 0;
    if (!header.Vint(block.type) || !header.Vint(block.flags) ||
        ((block.flags & kExtraArea) && !header.Vint(block.extraSize)) ||
        ((block.flags & kDataArea) && !header.Vint(block.dataSize)))
        return false;
    block.fieldsAt = static_cast<size_t>(header.at() - block.bytes.data());
    block.dataOffset = offset + whole;
    return true;
}

// Adds the file header `block` of volume `index` to `files` (AddRarPart).
bool AddFilePart(const Block& block, size_t index, std::vector<RarFile>& files, bool& continuing, bool& damaged)
{
    RarFile file;
    RarPart part{index, block.dataOffset, block.dataSize, 0, !(block.flags & kSplitAfter)};
    Fields fields = block.fields();
    damaged = !ReadFileHeader(fields, block.extraSize, file, part.crc, file.hasCrc);
    return !damaged && AddRarPart(files, file, part, (block.flags & kSplitBefore) != 0, continuing, damaged);
}

// The end block of a volume: its flag 0x01 says that another volume of the set follows.
bool ReadEnd(const Block& block, bool& last)
{
    uint64_t flags = 0;
    Fields fields = block.fields();
    last = fields.Vint(flags) && !(flags & 0x01);
    return true;
}

// Reads one volume's headers; `files` gets the files that start in it and the parts of those
// that go on into it.
bool ReadVolume(const RarVolume& source, size_t index, std::vector<RarFile>& files, bool& continuing, bool& last,
                std::string& error)
{
    const std::string& name = source.name;
    ByteSource& volume = *source.bytes;
    unsigned char start[sizeof kSignature];
    size_t got = 0;
    if (!volume.ReadAt(0, start, sizeof start, got)) {
        error = "cannot read " + name;
        return false;
    }
    if (got != sizeof start || std::memcmp(start, kSignature, sizeof start) != 0) {
        error = name + " is no RAR 5 volume";
        return false;
    }
    const uint64_t volumeSize = volume.Size();
    Block block;
    // Each block starts where the data of the one before ends, inside the volume: the offsets
    // only grow, and none wraps around (a data size is any 64-bit number the volume says).
    for (uint64_t offset = sizeof kSignature;; offset = block.dataOffset + block.dataSize) {
        bool damaged = false;
        if (!ReadBlock(volume, volumeSize, offset, block))
            error = name + " is damaged";
        else if (block.dataSize > volumeSize - block.dataOffset)
            error = name + " is cut short";
        else if (block.type == kEncryption)
            error = name + " is encrypted";
        else if (block.type == kEnd)
            return ReadEnd(block, last);
        else if (block.type != kFile || AddFilePart(block, index, files, continuing, damaged))
            continue;
        else
            error = name + (damaged ? " is damaged" : " does not follow the volume before it");
        return false;
    }
}

}  // namespace

bool ReadRar5Layout(const std::vector<RarVolume>& volumes, std::vector<RarFile>& files, std::string& error,
                    bool* lastVolume)
{
    return ReadRarLayout(volumes, ReadVolume, files, error, lastVolume);
}

bool Rar5VolumeNumber(ByteSource& volume, uint64_t& number)
{
    unsigned char start[sizeof kSignature];
    size_t got = 0;
    Block block;
    if (!volume.ReadAt(0, start, sizeof start, got) || got != sizeof start ||
        std::memcmp(start, kSignature, sizeof start) != 0 ||
        !ReadBlock(volume, volume.Size(), sizeof kSignature, block) || block.type != kMain)
        return false;
    Fields fields = block.fields();
    uint64_t archiveFlags = 0;
    const uint64_t kVolume = 0x0001, kNumbered = 0x0002;
    if (!fields.Vint(archiveFlags) || !(archiveFlags & kVolume))
        return false;
    number = 0;
    return !(archiveFlags & kNumbered) || fields.Vint(number);
}
