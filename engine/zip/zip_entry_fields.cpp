#include "engine/zip/zip_entry_fields.h"

#include <cstring>

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// Characters that no Windows file name may hold; ':' among them also opens alternate data
// streams and names drives.
bool IsForbiddenCharacter(char c)
{
    return static_cast<unsigned char>(c) < 0x20 || std::strchr("<>:\"|?*", c) != nullptr;
}

bool IsOnlyDotsAndSpaces(const std::string& component)
{
    return component.find_first_not_of(". ") == std::string::npos;
}

// Windows opens a device for these base names whatever extension follows them.
bool IsDeviceName(const std::string& component)
{
    std::string base = component.substr(0, component.find('.'));
    base.erase(base.find_last_not_of(' ') + 1);
    for (char& c : base)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : kDevices)
        if (base == device)
            return true;
    const bool numbered = base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0);
    return numbered && base[3] >= '1' && base[3] <= '9';
}

bool IsContainedComponent(const std::string& component)
{
    if (component.empty() || component == ".")
        return true;
    return !IsOnlyDotsAndSpaces(component) && !IsDeviceName(component);
}

uint32_t ReadLittleEndian(const unsigned char* bytes, size_t count)
{
    uint32_t value = 0;
    for (size_t i = count; i-- > 0;)
        value = (value << 8) | bytes[i];
    return value;
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

bool IsContainedName(const std::string& name)
{
    if (!name.empty() && IsSeparator(name[0]))
        return false;
    std::string component;
    for (char c : name) {
        if (IsForbiddenCharacter(c))
            return false;
        if (IsSeparator(c)) {
            if (!IsContainedComponent(component))
                return false;
            component.clear();
        } else {
            component += c;
        }
    }
    return IsContainedComponent(component);
}

uint32_t WindowsAttributes(uint32_t versionMadeBy, uint32_t externalAttributes)
{
    const uint32_t a = externalAttributes;
    bool directory = (a >> 30) & 1;    // Unix file type "directory"
    bool readOnly = !((a >> 23) & 1);  // no write permission for the owner
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

ExtendedTimes ReadExtendedTimes(const unsigned char* field, size_t length)
{
    ExtendedTimes times;
    size_t position = 0;
    while (position + 4 < length) {
        const size_t dataSize = ReadLittleEndian(field + position + 2, 2);
        if (field[position] != 'U' || field[position + 1] != 'T') {
            position += 4 + dataSize;
            continue;
        }
        const unsigned char* data = field + position + 4;
        const size_t available = length - position - 4;
        const size_t held = dataSize < available ? dataSize : available;
        if (held == 0)
            return times;
        const unsigned flags = data[0];
        size_t offset = 1;
        bool* const present[] = {&times.hasWrite, &times.hasAccess, &times.hasCreation};
        int32_t* const values[] = {&times.write, &times.access, &times.creation};
        for (int i = 0; i < 3; ++i) {
            if (!(flags & (1u << i)))
                continue;
            if (offset + 4 > held)
                break;
            *values[i] = static_cast<int32_t>(ReadLittleEndian(data + offset, 4));
            *present[i] = true;
            offset += 4;
        }
        return times;
    }
    return times;
}

uint64_t UnixSecondsToFileTime(int32_t seconds)
{
    const int64_t kSecondsFrom1601To1970 = 11644473600;
    return static_cast<uint64_t>(seconds + kSecondsFrom1601To1970) * 10000000u;
}
