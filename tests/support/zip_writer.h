// Builds ZIP archives byte by byte for the tests: stored and deflated entries, DOS and Unix
// hosts and attributes, extra fields, data descriptors and ZIP64 records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A DOS date and time as a ZIP header stores them (date in the high 16 bits). The fields are
// packed as given, so invalid dates can be written too.
uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

struct ZipEntry {
    std::string name;
    std::string data;  // the content before compression
    // 0 stores, 8 deflates; any other method is written with `data` as it is.
    uint16_t method = 8;
    uint8_t hostSystem = 0;  // high byte of "version made by": 0 MS-DOS, 3 Unix
    uint8_t madeByVersion = 20;  // low byte of "version made by"
    uint16_t versionNeeded = 20;
    uint16_t flags = 0;  // general-purpose flags besides the data descriptor (0x0800 UTF-8)
    uint32_t externalAttributes = 0x20;
    uint32_t dosDateTime = DosDateTime(2021, 6, 15, 12, 30, 10);
    std::string localExtra;
    std::string centralExtra;
    // Flag bit 3: the local header carries zero CRC and sizes, a data descriptor follows the
    // data.
    bool dataDescriptor = false;  // written with its optional signature "PK\7\8"
    // Sizes and offset only in ZIP64 extra fields: the headers hold 0xFFFFFFFF (the local one 0
    // with a data descriptor, whose sizes then take 8 bytes each).
    bool zip64 = false;
};

struct ZipArchiveOptions {
    // A ZIP64 end record and its locator ahead of the end record, whose counts, size and
    // offset then hold their "see ZIP64" values.
    bool zip64EndRecords = false;
};

// A whole archive: local headers with data, central directory, end record.
std::string BuildZip(const std::vector<ZipEntry>& entries, const ZipArchiveOptions& options = ZipArchiveOptions());

// Shorthands for the common entries.
ZipEntry FileEntry(const std::string& name, const std::string& data, uint16_t method = 8);
ZipEntry DirectoryEntry(const std::string& name);

// An extra-field block: tag, 16-bit size, data.
std::string ExtraBlock(const std::string& tag, const std::string& data);
std::string LittleEndian(uint64_t value, int bytes);
