#include "tests/support/zip_writer.h"

#include <zlib.h>

#include <stdexcept>

namespace {

std::string Deflate(const std::string& data)
{
    z_stream stream = {};
    if (deflateInit2(&stream, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        throw std::runtime_error("deflate failed");
    return out;
}

struct Prepared {
    std::string stored;  // the bytes that follow the local header
    uint32_t crc = 0;
    uint32_t storedSize = 0;
    uint64_t size = 0;  // as the headers announce it
    uint16_t flags = 0;
};

const uint32_t kSeeZip64 = 0xFFFFFFFFu;

Prepared Prepare(const ZipEntry& entry)
{
    Prepared p;
    p.flags = entry.flags;
    p.size = entry.data.size();
    p.crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()), static_cast<uInt>(entry.data.size())));
    p.stored = entry.method == 8 ? Deflate(entry.data) : entry.data;
    if (entry.dataDescriptor)
        p.flags |= 0x0008;
    p.storedSize = static_cast<uint32_t>(p.stored.size());
    return p;
}

std::string LocalHeader(const ZipEntry& entry, const Prepared& p)
{
    const bool descriptor = entry.dataDescriptor;
    const uint32_t crc = descriptor ? 0 : p.crc;
    uint32_t compressed = descriptor ? 0 : p.storedSize;
    uint32_t size = descriptor ? 0 : static_cast<uint32_t>(p.size);
    std::string extra = entry.localExtra;
    if (entry.zip64) {
        extra = ExtraBlock(std::string("\x01\x00", 2), LittleEndian(descriptor ? 0 : p.size, 8) +
                                                             LittleEndian(descriptor ? 0 : p.storedSize, 8)) +
                extra;
        if (!descriptor)
            compressed = size = kSeeZip64;
    }
    return std::string("PK\x03\x04", 4) + LittleEndian(entry.versionNeeded, 2) + LittleEndian(p.flags, 2) +
           LittleEndian(entry.method, 2) + LittleEndian(entry.dosDateTime, 4) + LittleEndian(crc, 4) +
           LittleEndian(compressed, 4) + LittleEndian(size, 4) + LittleEndian(entry.name.size(), 2) +
           LittleEndian(extra.size(), 2) + entry.name + extra;
}

std::string CentralRecord(const ZipEntry& entry, const Prepared& p, size_t localOffset)
{
    uint64_t compressed = p.storedSize, size = p.size, offset = localOffset;
    std::string extra = entry.centralExtra;
    if (entry.zip64) {
        extra = ExtraBlock(std::string("\x01\x00", 2), LittleEndian(size, 8) + LittleEndian(compressed, 8) +
                                                             LittleEndian(offset, 8)) +
                extra;
        compressed = size = offset = kSeeZip64;
    }
    return std::string("PK\x01\x02", 4) + LittleEndian((entry.hostSystem << 8) | entry.madeByVersion, 2) +
           LittleEndian(entry.versionNeeded, 2) + LittleEndian(p.flags, 2) + LittleEndian(entry.method, 2) +
           LittleEndian(entry.dosDateTime, 4) + LittleEndian(p.crc, 4) + LittleEndian(compressed, 4) +
           LittleEndian(size, 4) + LittleEndian(entry.name.size(), 2) + LittleEndian(extra.size(), 2) +
           LittleEndian(0, 2) + LittleEndian(0, 2) + LittleEndian(0, 2) + LittleEndian(entry.externalAttributes, 4) +
           LittleEndian(offset, 4) + entry.name + extra;
}

}  // namespace

uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second)
{
    const uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
    const uint32_t time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
    return (date << 16) | time;
}

std::string LittleEndian(uint64_t value, int bytes)
{
    std::string out;
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

std::string ExtraBlock(const std::string& tag, const std::string& data)
{
    return tag + LittleEndian(data.size(), 2) + data;
}

std::string BuildZip(const std::vector<ZipEntry>& entries, const ZipArchiveOptions& options)
{
    std::string archive;
    std::string directory;
    for (const ZipEntry& entry : entries) {
        const Prepared p = Prepare(entry);
        const size_t offset = archive.size();
        archive += LocalHeader(entry, p) + p.stored;
        if (entry.dataDescriptor) {
            const int sizeBytes = entry.zip64 ? 8 : 4;
            archive += std::string("PK\x07\x08", 4) + LittleEndian(p.crc, 4) + LittleEndian(p.storedSize, sizeBytes) + LittleEndian(p.size, sizeBytes);
        }
        directory += CentralRecord(entry, p, offset);
    }
    uint64_t count = entries.size();
    uint64_t directoryOffset = archive.size();
    uint64_t directorySize = directory.size();
    archive += directory;
    if (options.zip64EndRecords) {
        const uint64_t recordOffset = archive.size();
        archive += std::string("PK\x06\x06", 4) + LittleEndian(44, 8) + LittleEndian(0x0314, 2) + LittleEndian(45, 2) +
                   LittleEndian(0, 4) + LittleEndian(0, 4) + LittleEndian(count, 8) +
                   LittleEndian(count, 8) + LittleEndian(directorySize, 8) + LittleEndian(directoryOffset, 8);
        archive += std::string("PK\x06\x07", 4) + LittleEndian(0, 4) + LittleEndian(recordOffset, 8) + LittleEndian(1, 4);
        count = 0xFFFF;
        directorySize = directoryOffset = kSeeZip64;
    }
    archive += std::string("PK\x05\x06", 4) + LittleEndian(0, 4) + LittleEndian(count, 2) + LittleEndian(count, 2) +
               LittleEndian(directorySize, 4) + LittleEndian(directoryOffset, 4) + LittleEndian(0, 2);
    return archive;
}

ZipEntry FileEntry(const std::string& name, const std::string& data, uint16_t method)
{
    ZipEntry entry;
    entry.name = name;
    entry.data = data;
    entry.method = method;
    return entry;
}

ZipEntry DirectoryEntry(const std::string& name)
{
    ZipEntry entry;
    entry.name = name;
    entry.method = 0;
    entry.externalAttributes = 0x10;
    return entry;
}
