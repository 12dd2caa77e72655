#include "engine/zip/zip_entry_fields.h"

#include "base/crc32.h"
#include "base/names.h"

#include <cstring>

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

uint32_t ReadLittleEndian(const unsigned char* bytes, size_t count)
{
    uint32_t value = 0;
    for (size_t i = count; i > 0; --i)
        value = (value << 8) | bytes[i - 1];
    return value;
}

uint64_t ReadLittleEndian64(const unsigned char* bytes)
{
    return static_cast<uint64_t>(ReadLittleEndian(bytes + 4, 4)) << 32 | ReadLittleEndian(bytes, 4);
}

// The data of the first block of an extra field with this two-byte tag, and in `held` as much
// of its announced size as the field holds. Null when there is none.
const unsigned char* FindBlock(const unsigned char* field, size_t length, unsigned char tag0, unsigned char tag1,
                               size_t& held)
{
    size_t position = 0;
    while (position + 4 < length) {
        const size_t dataSize = ReadLittleEndian(field + position + 2, 2);
        if (field[position] == tag0 && field[position + 1] == tag1) {
            const size_t available = length - position - 4;
            held = dataSize < available ? dataSize : available;
            return field + position + 4;
        }
        position += 4 + dataSize;
    }
    return nullptr;
}

// An entry's local and central extra fields.
struct ExtraFields {
    const unsigned char* local;
    size_t localLength;
    const unsigned char* central;
    size_t centralLength;

    const unsigned char* find(unsigned char tag0, unsigned char tag1, size_t& held) const
    {
        const unsigned char* data = FindBlock(local, localLength, tag0, tag1, held);
        return data ? data : FindBlock(central, centralLength, tag0, tag1, held);
    }
};

// The NTFS block: four reserved bytes, then attributes of their own tag and size; attribute 1
// holds the write, access and creation time as FILETIME counts. A zero count is no time.
void ReadNtfsTimes(const ExtraFields& fields, EntryTimes& times)
{
    size_t held = 0;
    const unsigned char* data = fields.find(0x0A, 0x00, held);
    const size_t kTimesSize = 24;
    size_t position = 4;
    while (data && position + 4 <= held) {
        const uint32_t tag = ReadLittleEndian(data + position, 2);
        const size_t size = ReadLittleEndian(data + position + 2, 2);
        position += 4;
        if (tag == 1 && size >= kTimesSize && position + kTimesSize <= held) {
            bool* const present[] = {&times.hasWrite, &times.hasAccess, &times.hasCreation};
            uint64_t* const values[] = {&times.write, &times.access, &times.creation};
            for (int i = 0; i < 3; ++i) {
                const uint64_t value = ReadLittleEndian64(data + position + 8 * i);
                if (value != 0) {
                    *values[i] = value;
                    *present[i] = true;
                }
            }
            return;
        }
        position += size;
    }
}

}  // namespace

const char* SanitizeStoredName(const char* name)
{
    static const char* const kParentSteps[] = {"\\..\\", "\\../", "/../", "/..\\"};
    const char* rest = name;
    for (;;) {
        if (rest[0] != '\0' && rest[1] == ':') {
            rest += 2;
            continue;
        }
        if (IsSeparator(rest[0])) {
            ++rest;
            continue;
        }
        const char* step = nullptr;
        for (const char* pattern : kParentSteps) {
            step = std::strstr(rest, pattern);
            if (step)
                break;
        }
        if (!step)
            return rest;
        rest = step + 4;
    }
}

uint32_t WindowsAttributes(uint32_t versionMadeBy, uint32_t externalAttributes)
{
    const uint32_t a = externalAttributes;
    const uint32_t mode = a >> 16;
    const uint32_t kFileType = 0170000, kDirectoryType = 0040000, kPermissions = 07777, kOwnerWrite = 0200;
    bool directory = (mode & kFileType) == kDirectoryType || (a & 0x10);
    bool readOnly = (mode & kPermissions) ? !(mode & kOwnerWrite) : (a & 0x01);
    bool hidden = false;
    bool system = false;
    bool archive = true;
    const uint32_t host = (versionMadeBy >> 8) & 0xFF;
    if (host == 0 || host == 7 || host == 11 || host == 14) {  // MS-DOS, Macintosh, NTFS, VFAT
        readOnly = a & 0x01;
        hidden = a & 0x02;
        system = a & 0x04;
        directory = a & 0x10;
        archive = a & 0x20;
    }
    return (directory ? 0x10u : 0) | (archive ? 0x20u : 0) | (hidden ? 0x02u : 0) | (readOnly ? 0x01u : 0) |
           (system ? 0x04u : 0);
}

bool IsFinderMetadata(const std::string& name)
{
    static const char kFolder[] = "__MACOSX";
    const size_t length = sizeof kFolder - 1;
    return name.compare(0, length, kFolder) == 0 && (name.size() == length || IsSeparator(name[length]));
}

bool IsCalendarDosDateTime(uint32_t dosDateTime)
{
    const uint32_t date = dosDateTime >> 16;
    const uint32_t time = dosDateTime & 0xFFFF;
    const uint32_t year = 1980 + (date >> 9);
    const uint32_t month = (date >> 5) & 15;
    const uint32_t day = date & 31;
    static const uint32_t kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const uint32_t days = kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
    return day <= days && (time >> 11) < 24 && ((time >> 5) & 63) < 60 && (time & 31) * 2 < 60;
}

namespace {

// Reads the first "UT" block of an extra field into `times`: signed counts of seconds since
// 1970-01-01 UTC. A time that its flags announce but that the block (or the field) does not
// hold is left out; nothing outside the field is read. True when the block held a time.
bool ReadExtendedTimes(const unsigned char* field, size_t length, EntryTimes& times)
{
    size_t held = 0;
    const unsigned char* data = FindBlock(field, length, 'U', 'T', held);
    if (!data || held == 0)
        return false;
    const unsigned flags = data[0];
    size_t offset = 1;
    bool found = false;
    bool* const present[] = {&times.hasWrite, &times.hasAccess, &times.hasCreation};
    uint64_t* const values[] = {&times.write, &times.access, &times.creation};
    for (int i = 0; i < 3; ++i) {
        if (!(flags & (1u << i)))
            continue;
        if (offset + 4 > held)
            break;
        *values[i] = UnixSecondsToFileTime(static_cast<int32_t>(ReadLittleEndian(data + offset, 4)));
        *present[i] = found = true;
        offset += 4;
    }
    return found;
}

}  // namespace

std::string UnicodePathField(const unsigned char* central, size_t length, const std::string& storedName)
{
    size_t held = 0;
    const unsigned char* data = FindBlock(central, length, 'u', 'p', held);
    const size_t kHeader = 5;  // version 1, CRC-32 of the stored name
    // A block that the field cuts short holds no whole name.
    if (!data || held <= kHeader || ReadLittleEndian(data - 2, 2) != held || data[0] != 1 ||
        ReadLittleEndian(data + 1, 4) != Crc32Update(0, storedName.data(), storedName.size()))
        return std::string();
    return std::string(reinterpret_cast<const char*>(data + kHeader), held - kHeader);
}

uint64_t UnixSecondsToFileTime(int32_t seconds)
{
    const int64_t kSecondsFrom1601To1970 = 11644473600;
    return static_cast<uint64_t>(seconds + kSecondsFrom1601To1970) * 10000000u;
}

EntryTimes ReadEntryTimes(const unsigned char* local, size_t localLength, const unsigned char* central,
                          size_t centralLength)
{
    const ExtraFields fields = {local, localLength, central, centralLength};
    EntryTimes times;
    size_t held = 0;
    const unsigned char* unix = fields.find('U', 'X', held);
    if (unix && held >= 8) {  // access time, then write time
        times.access = UnixSecondsToFileTime(static_cast<int32_t>(ReadLittleEndian(unix, 4)));
        times.write = UnixSecondsToFileTime(static_cast<int32_t>(ReadLittleEndian(unix + 4, 4)));
        times.hasAccess = times.hasWrite = true;
    }
    // The central "UT" block holds the write time only: the local one is preferred whole.
    if (!ReadExtendedTimes(local, localLength, times))
        ReadExtendedTimes(central, centralLength, times);
    ReadNtfsTimes(fields, times);
    return times;
}
