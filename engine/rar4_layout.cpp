#include "engine/rar4_layout.h"

#include <algorithm>
#include <cstring>

#include "base/crc32.h"
#include "base/utf8.h"

namespace {

const unsigned char kMarker[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};

enum BlockType : unsigned {
    kMain = 0x73,
    kFile = 0x74,
    kComment = 0x75,  // RAR 2.x: a comment inside the main header
    kAuthenticity = 0x76,
    kOldService = 0x77,
    kRecovery = 0x78,
    kSignature = 0x79,
    kService = 0x7A,  // RAR 3.x sub-blocks: comments, recovery records, NTFS streams, ...
    kEnd = 0x7B,
};
enum MainFlags : unsigned {
    kVolume = 0x0001,
    kOldComment = 0x0002,
    kSolid = 0x0008,
    kEncryptedHeaders = 0x0080,
    kFirstVolume = 0x0100,
};
enum FileFlags : unsigned {
    kSplitBefore = 0x0001,
    kSplitAfter = 0x0002,
    kPassword = 0x0004,
    kWindowMask = 0x00E0,  // the dictionary size, or all set for a directory
    kLarge = 0x0100,       // 64-bit sizes
    kUnicode = 0x0200,
    kSalt = 0x0400,
    kExtendedTime = 0x1000,
    kLongBlock = 0x8000,  // a data area follows the header
};
enum EndFlags : unsigned { kNextVolume = 0x0001, kDataCrc = 0x0002, kVolumeNumber = 0x0008 };
enum HostOs : unsigned { kMsDos = 0, kOs2 = 1, kWin32 = 2, kUnix = 3 };
const unsigned kStoredMethod = 0x30;

// Every block starts with its CRC (2 bytes), type (1), flags (2) and size (2); a file header's
// fixed fields take it to 32 bytes, a main header's and a comment's to 13.
const size_t kBaseSize = 7, kShortSize = 13, kFileSize = 32, kLongSize = 11;

uint64_t Le(const unsigned char* p, size_t bytes)
{
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i)
        value |= static_cast<uint64_t>(p[i]) << (8 * i);
    return value;
}

// The smallest size that a header of `type` with `flags` takes: its fields up to the data size.
size_t MinimumSize(unsigned type, unsigned flags)
{
    switch (type) {
    case kMain:
    case kComment:
        return kShortSize;
    case kFile:
    case kService:
        return kFileSize + (flags & kLarge ? 8 : 0);
    case kOldService:
    case kRecovery:
        return kLongSize;
    case kEnd:
        return kBaseSize + (flags & kDataCrc ? 4 : 0) + (flags & kVolumeNumber ? 2 : 0);
    default:
        return flags & kLongBlock ? kLongSize : kBaseSize;
    }
}

// The size of the data area after a header, which the UnRAR library reads for these types
// whatever their flags say.
uint64_t DataSize(unsigned type, unsigned flags, const unsigned char* header)
{
    switch (type) {
    case kFile:
    case kService:
        return Le(header + 7, 4) | (flags & kLarge ? Le(header + kFileSize, 4) << 32 : 0);
    case kOldService:
    case kRecovery:
        return Le(header + 7, 4);
    case kMain:
    case kComment:
    case kEnd:
        return 0;
    default:
        return flags & kLongBlock ? Le(header + 7, 4) : 0;
    }
}

enum class Read { Ok, Failed, Cut, Damaged };

// One block of a volume, read and checked against its CRC.
struct Block {
    unsigned type = 0;
    unsigned flags = 0;
    std::vector<unsigned char> bytes;  // the whole header, from its CRC on
    uint64_t dataOffset = 0;           // in the volume
    uint64_t dataSize = 0;
};

// The block at `offset` of a volume of `volumeSize` bytes, header and data inside the volume:
// its fixed part is read first, then the rest of the header (at most 64 KiB). Cut when the
// volume ends before the block does; damaged when the header is too short for its type or
// fails its CRC.
Read ReadBlock(ByteSource& volume, uint64_t volumeSize, uint64_t offset, Block& block)
{
    unsigned char head[kBaseSize];
    size_t got = 0;
    if (offset > volumeSize || volumeSize - offset < kBaseSize)
        return Read::Cut;
    if (!volume.ReadAt(offset, head, kBaseSize, got))
        return Read::Failed;
    if (got != kBaseSize)
        return Read::Cut;
    block.type = head[2];
    block.flags = static_cast<unsigned>(Le(head + 3, 2));
    const size_t headerSize = static_cast<size_t>(Le(head + 5, 2));
    if (headerSize < MinimumSize(block.type, block.flags))
        return Read::Damaged;
    if (headerSize > volumeSize - offset)
        return Read::Cut;
    block.bytes.assign(head, head + kBaseSize);
    block.bytes.resize(headerSize);
    const size_t rest = headerSize - kBaseSize;
    if (rest > 0 && !volume.ReadAt(offset + kBaseSize, block.bytes.data() + kBaseSize, rest, got))
        return Read::Failed;
    if (rest > 0 && got != rest)
        return Read::Cut;
    // A comment of RAR 2.x inside the main header, and the comment block itself, are left out of
    // the CRC; the blocks of old authenticity data carry none that holds.
    const bool shortCrc = block.type == kComment || (block.type == kMain && (block.flags & kOldComment));
    const size_t covered = shortCrc ? kShortSize : headerSize;
    if (block.type != kAuthenticity && block.type != kSignature &&
        (Crc32Update(0, block.bytes.data() + 2, covered - 2) & 0xFFFF) != Le(head, 2))
        return Read::Damaged;
    block.dataOffset = offset + headerSize;
    block.dataSize = DataSize(block.type, block.flags, block.bytes.data());
    return block.dataSize > volumeSize - block.dataOffset ? Read::Cut : Read::Ok;
}

// UTF-16 units as UTF-8, up to the first zero; a surrogate without its pair becomes U+FFFD.
std::string Utf8OfUtf16(const std::vector<uint16_t>& units)
{
    std::string text;
    for (size_t i = 0; i < units.size() && units[i] != 0; ++i) {
        const uint32_t unit = units[i];
        const bool high = unit >= 0xD800 && unit < 0xDC00, low = unit >= 0xDC00 && unit < 0xE000;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000)
            AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00));
        else
            AppendUtf8(text, high || low ? 0xFFFD : unit);
    }
    return text;
}

// The Unicode form of a name as RAR 3.x writes it after the zero that ends the plain name
// (`name`, the whole name field): a high byte, then per 2-bit code a character of one byte, one
// byte under the high byte, two bytes, or a run copied from the plain name. Decoded as the
// UnRAR library decodes it.
std::string DecodeUnicodeName(const unsigned char* name, size_t nameSize, const unsigned char* code, size_t size)
{
    std::vector<uint16_t> units;
    size_t at = 0;
    const unsigned highByte = at < size ? code[at++] : 0;
    unsigned flags = 0, flagBits = 0;
    while (at < size) {
        if (flagBits == 0) {
            flags = code[at++];
            flagBits = 8;
        }
        switch (flags >> 6) {
        case 0:
            if (at < size)
                units.push_back(code[at++]);
            break;
        case 1:
            if (at < size)
                units.push_back(static_cast<uint16_t>(code[at++] | highByte << 8));
            break;
        case 2:
            if (at + 1 < size) {
                units.push_back(static_cast<uint16_t>(code[at] | code[at + 1] << 8));
                at += 2;
            }
            break;
        default: {
            if (at >= size)
                break;
            const unsigned length = code[at++];
            const bool corrected = (length & 0x80) != 0;
            if (corrected && at >= size)
                break;
            const unsigned correction = corrected ? code[at++] : 0;
            for (unsigned n = (length & 0x7F) + 2; n > 0 && units.size() < nameSize; --n) {
                const unsigned plain = name[units.size()];
                units.push_back(
                    static_cast<uint16_t>(corrected ? ((plain + correction) & 0xFF) | highByte << 8 : plain));
            }
            break;
        }
        }
        flags = (flags << 2) & 0xFF;
        flagBits -= 2;
    }
    return Utf8OfUtf16(units);
}

// The name of a file header's name field with "/" between its components, as the UnRAR library
// gives it on Windows: the Unicode form, as UTF-8, when there is one that decodes to a name; else
// the plain bytes up to a zero, which the library reads in the OEM code page (`oem` when one of
// them is not ASCII, where that page matters). A colon, which Windows takes for a stream,
// becomes "_".
std::string NameOf(const unsigned char* field, size_t size, bool unicode, bool& oem)
{
    const unsigned char* zero = static_cast<const unsigned char*>(std::memchr(field, 0, size));
    const size_t plain = zero ? static_cast<size_t>(zero - field) : size;
    std::string name;
    if (unicode && zero)
        name = DecodeUnicodeName(field, size, zero + 1, size - plain - 1);
    oem = name.empty() && std::any_of(field, field + plain, [](unsigned char c) { return c >= 0x80; });
    if (name.empty())
        name.assign(reinterpret_cast<const char*>(field), plain);
    for (char& c : name) {
        if (c == '\\')
            c = '/';
        else if (c == ':')
            c = '_';
    }
    return name;
}

// A DOS time (local, to two seconds) and `extra` 100 ns units after it as a FILETIME count of
// the same wall-clock time; false when it names no calendar time, which the UnRAR library gives
// no time either.
bool FileTimeOfDos(uint32_t dos, uint64_t extra, uint64_t& time)
{
    const unsigned year = 1980 + (dos >> 25), month = (dos >> 21) & 0x0F, day = (dos >> 16) & 0x1F;
    const unsigned hour = (dos >> 11) & 0x1F, minute = (dos >> 5) & 0x3F, second = (dos & 0x1F) * 2;
    static const unsigned kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59 ||
        day > kDaysBefore[month] - kDaysBefore[month - 1] + (month == 2 && leap ? 1 : 0))
        return false;
    // Days since 1601-01-01: whole years, their leap days, then this year's.
    const uint64_t y = year - 1;
    const uint64_t days = (year - 1601) * 365ULL + (y / 4 - y / 100 + y / 400) - (400 - 16 + 4) +
                          kDaysBefore[month - 1] + (month > 2 && leap ? 1 : 0) + day - 1;
    time = (((days * 24 + hour) * 60 + minute) * 60 + second) * 10000000ULL + extra;
    return true;
}

// The times of a file header: the write time from its DOS time, made precise by the extended
// time field when it has one (`at` is where that field begins), and the creation and access
// times that field may carry, each a DOS time of its own made precise the same way. The times
// stay local: RarFile::localTime. The UnRAR library turns them into UTC with the zone of the
// machine it runs on and adds the field's fraction; the conversion is the caller's, which knows
// that zone.
void ReadTimes(const std::vector<unsigned char>& header, size_t at, unsigned flags, RarFile& file)
{
    const unsigned field =
        (flags & kExtendedTime) && header.size() - at >= 2 ? static_cast<unsigned>(Le(header.data() + at, 2)) : 0;
    uint64_t* times[] = {&file.writeTime, &file.creationTime, &file.accessTime};
    uint64_t extra[3] = {};
    uint32_t dosOf[3] = {static_cast<uint32_t>(Le(header.data() + 20, 4)), 0, 0};
    bool present[3] = {true, false, false};
    for (size_t i = 0, next = at + 2; i < 3; ++i) {
        // Four bits per time, the write time's first: 8 it is there, 4 one second more, and the
        // count of bytes of 100 ns units that follow, the most significant last; a time but the
        // write time has a DOS time of its own before them.
        const unsigned mode = (field >> (4 * (3 - i))) & 0xF;
        const size_t count = mode & 3;
        if (!(mode & 8) || header.size() - next < (i == 0 ? 0 : 4) + count)
            continue;
        if (i != 0) {
            dosOf[i] = static_cast<uint32_t>(Le(header.data() + next, 4));
            next += 4;
        }
        present[i] = true;
        extra[i] = (mode & 4 ? 10000000ULL : 0) + (Le(header.data() + next, count) << (8 * (3 - count)));
        next += count;
    }
    for (size_t i = 0; i < 3; ++i) {
        uint64_t time = 0;
        const bool valid = present[i] && FileTimeOfDos(dosOf[i], extra[i], time);
        *times[i] = valid ? time : 0;
        if (i == 0)
            file.hasTime = valid;
    }
    file.localTime = file.hasTime;
}

// The fields of a file header: false when they do not fit in it.
bool ReadFileHeader(const Block& block, RarFile& file, uint32_t& crc, bool& hasCrc)
{
    const std::vector<unsigned char>& header = block.bytes;
    const unsigned char* h = header.data();
    const unsigned flags = block.flags;
    const size_t nameAt = kFileSize + (flags & kLarge ? 8 : 0);
    const size_t nameSize = static_cast<size_t>(Le(h + 26, 2));
    if (nameSize > header.size() - nameAt)
        return false;
    const size_t saltSize = flags & kSalt ? 8 : 0;
    if (saltSize > header.size() - nameAt - nameSize)
        return false;
    const unsigned host = h[15], version = h[24], method = h[25];
    const uint32_t attributes = static_cast<uint32_t>(Le(h + 28, 4));
    const uint64_t lowSize = Le(h + 11, 4), highSize = flags & kLarge ? Le(h + kFileSize + 4, 4) : 0;
    file.name = NameOf(h + nameAt, nameSize, (flags & kUnicode) != 0, file.oemName);
    file.size = lowSize | highSize << 32;
    // RAR 1.5 marks a directory by its attribute only.
    file.directory = (flags & kWindowMask) == kWindowMask || (version < 20 && (attributes & 0x10));
    // The data of a Unix symbolic link is its target, and a size of all ones is unknown (the
    // data ends where the packed stream says): neither is content to copy.
    const bool link = host == kUnix && (attributes & 0xF000) == 0xA000;
    const bool unknownSize = lowSize == 0xFFFFFFFF && (!(flags & kLarge) || highSize == 0xFFFFFFFF);
    file.stored = method == kStoredMethod && !link && !unknownSize;
    file.encrypted = (flags & kPassword) != 0;
    // MS-DOS and OS/2 keep the same attributes as Windows.
    file.attributes = host == kMsDos || host == kOs2 || host == kWin32 ? attributes : 0;
    crc = static_cast<uint32_t>(Le(h + 16, 4));
    // A part that the file goes on after carries the CRC of its own data since RAR 2.0, and all
    // ones when there is none.
    hasCrc = !(flags & kSplitAfter) || (version >= 20 && crc != 0xFFFFFFFF);
    ReadTimes(header, nameAt + nameSize + saltSize, flags, file);
    return true;
}

// Adds the file header `block` of volume `index` to `files` (AddRarPart).
bool AddFilePart(const Block& block, size_t index, std::vector<RarFile>& files, bool& continuing, bool& damaged)
{
    RarFile file;
    RarPart part{index, block.dataOffset, block.dataSize, 0, !(block.flags & kSplitAfter)};
    damaged = !ReadFileHeader(block, file, part.crc, file.hasCrc);
    return !damaged && AddRarPart(files, file, part, (block.flags & kSplitBefore) != 0, continuing, damaged);
}

bool HasMarker(ByteSource& volume, bool& readFailed)
{
    unsigned char start[sizeof kMarker];
    size_t got = 0;
    readFailed = !volume.ReadAt(0, start, sizeof start, got);
    return !readFailed && got == sizeof start && std::memcmp(start, kMarker, sizeof start) == 0;
}

// Reads one volume's headers; `files` gets the files that start in it and the parts of those
// that go on into it.
bool ReadVolume(const RarVolume& source, size_t index, std::vector<RarFile>& files, bool& continuing, bool& last,
                std::string& error)
{
    const std::string& name = source.name;
    ByteSource& volume = *source.bytes;
    bool readFailed = false;
    if (!HasMarker(volume, readFailed)) {
        error = readFailed ? "cannot read " + name : name + " is no RAR 4 volume";
        return false;
    }
    const uint64_t volumeSize = volume.Size();
    Block block;
    // Each block starts where the data of the one before ends, inside the volume, and takes 7
    // bytes at least: the offsets only grow.
    for (uint64_t offset = sizeof kMarker;; offset = block.dataOffset + block.dataSize) {
        const Read read = ReadBlock(volume, volumeSize, offset, block);
        const bool first = offset == sizeof kMarker;
        bool damaged = false;
        if (read == Read::Failed)
            error = "cannot read " + name;
        else if (read == Read::Cut)
            error = name + " is cut short";
        else if (read == Read::Damaged || first != (block.type == kMain))
            error = name + " is damaged";
        else if (first && (block.flags & kEncryptedHeaders))
            error = name + " is encrypted";
        else if (first && (block.flags & kSolid))
            error = name + " is solid";
        else if (block.type == kEnd) {
            last = !(block.flags & kNextVolume);
            return true;
        } else if (block.type != kFile || AddFilePart(block, index, files, continuing, damaged))
            continue;
        else
            error = name + (damaged ? " is damaged" : " does not follow the volume before it");
        return false;
    }
}

}  // namespace

bool ReadRar4Layout(const std::vector<RarVolume>& volumes, std::vector<RarFile>& files, std::string& error,
                    bool* lastVolume)
{
    return ReadRarLayout(volumes, ReadVolume, files, error, lastVolume);
}

bool Rar4VolumeNumber(ByteSource& volume, uint64_t& number)
{
    bool readFailed = false;
    const uint64_t size = volume.Size();
    Block block;
    if (!HasMarker(volume, readFailed) || ReadBlock(volume, size, sizeof kMarker, block) != Read::Ok ||
        block.type != kMain || !(block.flags & kVolume))
        return false;
    const unsigned mainFlags = block.flags;
    // The end block, past all others; encrypted headers cannot be walked.
    for (uint64_t offset = block.dataOffset + block.dataSize;
         !(mainFlags & kEncryptedHeaders) && ReadBlock(volume, size, offset, block) == Read::Ok && block.type != kMain;
         offset = block.dataOffset + block.dataSize) {
        if (block.type == kEnd && (block.flags & kVolumeNumber)) {
            number = Le(block.bytes.data() + kBaseSize + (block.flags & kDataCrc ? 4 : 0), 2);
            return true;
        }
        if (block.type == kEnd)
            break;
    }
    number = 0;
    return (mainFlags & kFirstVolume) != 0;
}
