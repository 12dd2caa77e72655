#include "tests/support/zip_writer.h"

#include <zlib.h>

#include <algorithm>
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

// The traditional PKWARE cipher, encrypting.
class Encryptor {
public:
    explicit Encryptor(const std::string& password)
    {
        for (char c : password)
            Update(static_cast<unsigned char>(c));
    }

    std::string Encrypt(const std::string& plain)
    {
        std::string out = plain;
        for (char& c : out) {
            const uint32_t temp = (keys_[2] & 0xFFFF) | 2;
            const unsigned char mask = static_cast<unsigned char>((temp * (temp ^ 1)) >> 8);
            const unsigned char p = static_cast<unsigned char>(c);
            c = static_cast<char>(p ^ mask);
            Update(p);
        }
        return out;
    }

private:
    static uint32_t Step(uint32_t crc, unsigned char byte) { return get_crc_table()[(crc ^ byte) & 0xFF] ^ (crc >> 8); }

    void Update(unsigned char plain)
    {
        keys_[0] = Step(keys_[0], plain);
        keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
        keys_[2] = Step(keys_[2], static_cast<unsigned char>(keys_[1] >> 24));
    }

    uint32_t keys_[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

// The 12-byte encryption header: eleven filler bytes derived from the name, so archives
// repeat exactly, and the check byte.
std::string EncryptionHeader(const std::string& name, unsigned char check)
{
    std::string header(12, '\0');
    uint32_t state =
        static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(name.data()), static_cast<uInt>(name.size()))) |
        1;
    for (int i = 0; i < 11; ++i) {
        state = state * 1103515245u + 12345u;
        header[i] = static_cast<char>(state >> 16);
    }
    header[11] = static_cast<char>(check);
    return header;
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
    p.size = entry.announcedSize ? entry.announcedSize : entry.data.size();
    p.crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()), static_cast<uInt>(entry.data.size())));
    p.stored = entry.method == 8 ? Deflate(entry.data) : entry.data;
    if (entry.dataDescriptor)
        p.flags |= 0x0008;
    if (entry.encrypted) {
        p.flags |= 0x0001;
        const unsigned char check =
            static_cast<unsigned char>(entry.dataDescriptor ? entry.dosDateTime >> 8 : p.crc >> 24);
        p.stored = Encryptor(entry.password).Encrypt(EncryptionHeader(entry.name, check) + p.stored);
    }
    p.stored.resize(p.stored.size() - std::min(entry.cutData, p.stored.size()));
    p.storedSize = static_cast<uint32_t>(p.stored.size());
    if (entry.wrongCrc)
        p.crc ^= 0xFFFFFFFFu;
    return p;
}

std::string LocalHeader(const ZipEntry& entry, const Prepared& p)
{
    const LocalFault fault = entry.localFault;
    const bool descriptor = entry.dataDescriptor;
    uint16_t method = entry.method;
    if (fault == LocalFault::Method)
        method = method == 8 ? 0 : 8;
    std::string name = entry.name;
    if (fault == LocalFault::NameLength)
        name += 'x';
    const uint32_t crc = descriptor ? 0 : p.crc ^ (fault == LocalFault::Crc ? 1u : 0u);
    uint32_t compressed = descriptor ? 0 : p.storedSize + (fault == LocalFault::CompressedSize ? 1u : 0u);
    uint32_t size = descriptor ? 0 : static_cast<uint32_t>(p.size);
    std::string extra = entry.localExtra;
    if (entry.zip64) {
        extra = ExtraBlock(std::string("\x01\x00", 2), LittleEndian(descriptor ? 0 : p.size, 8) +
                                                             LittleEndian(descriptor ? 0 : p.storedSize, 8)) +
                extra;
        if (!descriptor)
            compressed = size = kSeeZip64;
    }
    const size_t extraLength = fault == LocalFault::ExtraLength ? 0xFFFF : extra.size();
    std::string header = fault == LocalFault::Signature ? std::string("PK\x03\x05", 4) : std::string("PK\x03\x04", 4);
    header += LittleEndian(entry.versionNeeded, 2) + LittleEndian(p.flags, 2) + LittleEndian(method, 2) +
              LittleEndian(entry.dosDateTime, 4) + LittleEndian(crc, 4) + LittleEndian(compressed, 4) +
              LittleEndian(size, 4) + LittleEndian(name.size(), 2) + LittleEndian(extraLength, 2) + name + extra;
    return header;
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

std::string UtBlock(uint8_t flags, const std::vector<int32_t>& times)
{
    std::string data(1, static_cast<char>(flags));
    for (int32_t time : times)
        data += LittleEndian(static_cast<uint32_t>(time), 4);
    return ExtraBlock("UT", data);
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
            archive += (entry.descriptorSignature ? std::string("PK\x07\x08", 4) : std::string()) +
                       LittleEndian(p.crc, 4) + LittleEndian(p.storedSize, sizeBytes) + LittleEndian(p.size, sizeBytes);
        }
        directory += CentralRecord(entry, p, offset);
    }
    uint64_t count = entries.size() + options.entryCountDelta;
    uint64_t directoryOffset = archive.size();
    uint64_t directorySize = directory.size();
    archive += directory;
    if (options.zip64EndRecords) {
        const uint64_t recordOffset = archive.size();
        archive += std::string("PK\x06\x06", 4) + LittleEndian(44, 8) + LittleEndian(0x0314, 2) + LittleEndian(45, 2) +
                   LittleEndian(options.diskNumber, 4) + LittleEndian(options.diskNumber, 4) + LittleEndian(count, 8) +
                   LittleEndian(count, 8) + LittleEndian(directorySize, 8) + LittleEndian(directoryOffset, 8);
        archive += std::string("PK\x06\x07", 4) + LittleEndian(0, 4) + LittleEndian(recordOffset, 8) + LittleEndian(1, 4);
        count = 0xFFFF;
        directorySize = directoryOffset = kSeeZip64;
    }
    archive += std::string("PK\x05\x06", 4) + LittleEndian(options.diskNumber, 2) +
               LittleEndian(options.diskNumber, 2) + LittleEndian(count, 2) + LittleEndian(count, 2) +
               LittleEndian(directorySize, 4) + LittleEndian(directoryOffset, 4) +
               LittleEndian(options.comment.size(), 2) + options.comment;
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

ZipEntry UnixEntry(const std::string& name, const std::string& data, uint32_t mode)
{
    ZipEntry entry = FileEntry(name, data);
    entry.hostSystem = 3;
    entry.externalAttributes = mode << 16;
    return entry;
}
