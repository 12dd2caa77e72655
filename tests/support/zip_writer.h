// Builds ZIP archives byte by byte for the tests: stored and deflated entries, DOS and Unix
// hosts and attributes, extra fields, traditional encryption with a chosen password, and the
// damage that a reader has to survive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A DOS date and time as a ZIP header stores them (date in the high 16 bits). The fields are
// packed as given, so invalid dates can be written too.
uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

// How the local header of an entry disagrees with its central-directory record.
enum class LocalFault {
    None,
    Signature,       // not "PK\3\4"
    Method,          // stored where the directory says deflated, and the other way round
    Crc,             // a different CRC-32 (without a data descriptor)
    CompressedSize,  // one more than the directory says
    NameLength,      // one more than the directory says
    ExtraLength,     // an extra field of 65535 bytes, reaching past the end of the archive
};

struct ZipEntry {
    std::string name;
    std::string data;  // the content before compression
    // 0 stores, 8 deflates; any other method is written with `data` as it is.
    uint16_t method = 8;
    uint8_t hostSystem = 0;  // high byte of "version made by": 0 MS-DOS, 3 Unix
    uint8_t madeByVersion = 20;  // low byte of "version made by"
    uint16_t versionNeeded = 20;
    uint16_t flags = 0;  // general-purpose flags besides encryption and data descriptor (0x0800 UTF-8)
    uint32_t externalAttributes = 0x20;
    uint32_t dosDateTime = DosDateTime(2021, 6, 15, 12, 30, 10);
    std::string localExtra;
    std::string centralExtra;
    // Encrypts with the traditional PKWARE scheme and this password.
    bool encrypted = false;
    std::string password;
    // Flag bit 3: the local header carries zero CRC and sizes, a data descriptor follows the
    // data, and the encryption check byte comes from the DOS time.
    bool dataDescriptor = false;
    bool descriptorSignature = true;  // the descriptor's optional "PK\7\8"
    // Sizes and offset only in ZIP64 extra fields: the headers hold 0xFFFFFFFF (the local one 0
    // with a data descriptor, whose sizes then take 8 bytes each).
    bool zip64 = false;
    uint64_t announcedSize = 0;  // non-zero: the headers announce this uncompressed size instead
    LocalFault localFault = LocalFault::None;
    bool wrongCrc = false;  // both headers carry a CRC-32 that the data does not have
    size_t cutData = 0;     // this many bytes are dropped from the end of the stored data
};

struct ZipArchiveOptions {
    uint16_t diskNumber = 0;  // non-zero: the end record says the archive spans disks
    int entryCountDelta = 0;  // added to the entry counts of the end record
    std::string comment;
    // A ZIP64 end record and its locator ahead of the end record, whose counts, size and
    // offset then hold their "see ZIP64" values.
    bool zip64EndRecords = false;
};

// A whole archive: local headers with data, central directory, end record.
std::string BuildZip(const std::vector<ZipEntry>& entries, const ZipArchiveOptions& options = ZipArchiveOptions());

// Shorthands for the common entries.
ZipEntry FileEntry(const std::string& name, const std::string& data, uint16_t method = 8);
ZipEntry DirectoryEntry(const std::string& name);
ZipEntry UnixEntry(const std::string& name, const std::string& data, uint32_t mode);

// An extra-field block: tag, 16-bit size, data.
std::string ExtraBlock(const std::string& tag, const std::string& data);
// An extended-timestamp block with the given flags and times, in the order written.
std::string UtBlock(uint8_t flags, const std::vector<int32_t>& times);
std::string LittleEndian(uint64_t value, int bytes);
