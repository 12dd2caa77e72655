// The parts of a ZIP entry's stored information that decode without the platform: the stored
// name made relative, the Win32 attribute bits, and the times that the extra fields hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Strips drive prefixes ("C:") and leading separators from the stored name, and skips past
// every "\..\", "\../", "/../" or "/..\" inside it, until none of these applies. Returns a
// pointer into `name`.
const char* SanitizeStoredName(const char* name);

// Win32 attribute bits (read-only, hidden, system, directory, archive) from the entry's
// "version made by" field, whose high byte names the host system, and its external
// attributes: DOS bits for MS-DOS-like hosts; for the others the Unix mode in the high 16 bits,
// as far as it means something on Windows: the directory file type, and read-only when the
// owner may not write. A mode without permission bits says nothing about them (Python's
// zipfile and others store 0); the DOS bits of the low byte count then.
uint32_t WindowsAttributes(uint32_t versionMadeBy, uint32_t externalAttributes);

// True for the entries of the "__MACOSX" folder that the Finder of macOS adds to its archives:
// AppleDouble files ("._name") holding the Finder's metadata and resource forks of the other
// entries, which mean nothing on Windows.
bool IsFinderMetadata(const std::string& name);

// True when the DOS date and time (date in the high 16 bits) name a real calendar time:
// month 1 to 12, a day that the month has, hour below 24, minute and second below 60.
bool IsCalendarDosDateTime(uint32_t dosDateTime);

// The name in an entry's Info-ZIP Unicode path block (tag 0x7075 of its central extra field),
// as the block stores it (UTF-8), when the block's CRC-32 of the stored name still matches: a
// tool that renamed the entry without knowing the block leaves it stale. Empty otherwise.
std::string UnicodePathField(const unsigned char* central, size_t length, const std::string& storedName);

// Seconds since 1970-01-01 UTC as a Win32 FILETIME count (100 ns units since 1601-01-01).
uint64_t UnixSecondsToFileTime(int32_t seconds);

// The times of an entry's extra fields as FILETIME counts, each taken from the most precise
// block that holds it: the NTFS block (tag 0x000A, written by Windows tools and 7-Zip), then
// the "UT" block, then the old Info-ZIP Unix block "UX" (access and write time, written by the
// Finder of macOS). Each block is looked for in the local field first, then in the central
// one (7-Zip writes its NTFS block there only). Nothing outside a field or a block is read.
struct EntryTimes {
    bool hasWrite = false;
    bool hasAccess = false;
    bool hasCreation = false;
    uint64_t write = 0;
    uint64_t access = 0;
    uint64_t creation = 0;
};
EntryTimes ReadEntryTimes(const unsigned char* local, size_t localLength, const unsigned char* central,
                          size_t centralLength);
