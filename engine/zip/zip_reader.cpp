#include "engine/zip/zip_reader.h"

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/names.h"
#include "base/crc32.h"
#include "base/output_file.h"
#include "base/files.h"
#include "base/handles.h"
#include "base/text.h"
#include "base/paths.h"
#include "engine/zip/zip_entry_fields.h"

namespace {

// Large blocks keep the number of platform calls per entry low.
const size_t kTransferSize = 1 << 20;
const size_t kArchiveBufferSize = 65536;
// The first window read around a header: a local header with its name fits in it.
const size_t kFirstWindow = 4096;
// The end of an archive, which minizip searches twice for its end records (each time back from
// the end over as much as an archive comment can take) and where the central directory of an
// archive of a few entries lies: read once.
const size_t kTailSize = 65536 + 2048;
const uint32_t kEncryptedFlag = 0x0001;
const uint32_t kDataDescriptorFlag = 0x0008;
const size_t kEncryptionHeaderSize = 12;

// The archive file as minizip sees it: the handle that openReader opened, read through a
// buffer of our own because minizip reads its headers a byte at a time.
class ArchiveFile {
public:
    ArchiveFile() = default;
    ~ArchiveFile() { close(); }
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    bool open(const std::string& path)
    {
        handle_ = OpenToRead(path, GENERIC_READ, FILE_SHARE_READ);
        LARGE_INTEGER size;
        if (handle_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(handle_, &size)) {
            close();
            return false;
        }
        size_ = static_cast<uint64_t>(size.QuadPart);
        return true;
    }

    void close()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    // Reads up to `size` bytes at the current position. A short count means the end of the
    // file or a read error; both count as an error for minizip (see lastReadShort).
    uLong read(void* destination, uLong size)
    {
        unsigned char* out = static_cast<unsigned char*>(destination);
        uLong done = 0;
        const uint64_t tailStart = size_ > kTailSize ? size_ - kTailSize : 0;
        while (done < size && position_ < size_) {
            if (position_ >= tailStart) {
                if (tail_.empty()) {
                    tail_.resize(static_cast<size_t>(size_ - tailStart));
                    if (readAt(tailStart, tail_.data(), tail_.size()) != tail_.size()) {
                        tail_.clear();
                        break;
                    }
                }
                const size_t offset = static_cast<size_t>(position_ - tailStart);
                const size_t chunk = std::min<size_t>(tail_.size() - offset, size - done);
                std::memcpy(out + done, tail_.data() + offset, chunk);
                done += static_cast<uLong>(chunk);
                position_ += chunk;
            } else if (position_ >= bufferStart_ && position_ < bufferStart_ + bufferLength_) {
                const size_t offset = static_cast<size_t>(position_ - bufferStart_);
                const size_t chunk = std::min<size_t>(bufferLength_ - offset, size - done);
                std::memcpy(out + done, buffer_.data() + offset, chunk);
                done += static_cast<uLong>(chunk);
                position_ += chunk;
            } else if (size - done >= kArchiveBufferSize) {
                const DWORD got = readAt(position_, out + done, size - done);
                if (got == 0)
                    break;
                done += got;
                position_ += got;
            } else {
                // A window of the file at the headers, which minizip reads a few bytes at a time.
                // It starts small, as most reads are of one header before data that is read past
                // the buffer anyway, and grows while the reads go on where the last window ended
                // (a central directory that does not fit in the tail).
                const bool onward = bufferLength_ != 0 && position_ == bufferStart_ + bufferLength_;
                window_ = onward ? std::min(window_ * 2, kArchiveBufferSize) : kFirstWindow;
                buffer_.resize(kArchiveBufferSize);
                bufferStart_ = position_;
                bufferLength_ = readAt(position_, buffer_.data(), std::min<uint64_t>(window_, tailStart - position_));
                if (bufferLength_ == 0)
                    break;
            }
        }
        lastReadShort_ = done < size;
        return done;
    }

    long seek(ZPOS64_T offset, int origin)
    {
        switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            position_ = offset;
            return 0;
        case ZLIB_FILEFUNC_SEEK_CUR:
            position_ += offset;  // wraps for the negative steps that minizip passes as unsigned
            return 0;
        case ZLIB_FILEFUNC_SEEK_END:
            position_ = size_ + offset;
            return 0;
        default:
            return -1;
        }
    }

    ZPOS64_T tell() const { return position_; }
    uint64_t size() const { return size_; }

    // minizip takes a header read that ends early for a clean end of file and goes on with
    // zero bytes unless the error query says otherwise.
    bool lastReadShort() const { return lastReadShort_; }

    // Reads at an offset, past the buffer: the data of an entry goes in large blocks.
    DWORD readAt(uint64_t offset, void* destination, size_t size)
    {
        LARGE_INTEGER position;
        position.QuadPart = static_cast<LONGLONG>(offset);
        DWORD got = 0;
        if (offset >= size_ || !SetFilePointerEx(handle_, position, nullptr, FILE_BEGIN) ||
            !ReadFile(handle_, destination, static_cast<DWORD>(size), &got, nullptr))
            return 0;
        return got;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    uint64_t size_ = 0;
    uint64_t position_ = 0;
    std::vector<unsigned char> tail_;  // the last kTailSize bytes, once read
    std::vector<unsigned char> buffer_;
    uint64_t bufferStart_ = 0;
    size_t bufferLength_ = 0;
    size_t window_ = kFirstWindow;  // of the last read into the buffer
    bool lastReadShort_ = false;
};

// An archive without entries is nothing but its end record. minizip cannot open it: it takes
// an end record at the very first byte for none found.
bool IsEmptyArchive(ArchiveFile& file)
{
    const size_t kEndRecordSize = 22;
    unsigned char record[kEndRecordSize];
    file.seek(0, ZLIB_FILEFUNC_SEEK_SET);
    if (file.read(record, kEndRecordSize) != kEndRecordSize || std::memcmp(record, "PK\x05\x06", 4) != 0)
        return false;
    for (size_t i = 4; i < 20; ++i)  // disks, entry counts, directory size and offset
        if (record[i] != 0)
            return false;
    const uint64_t commentLength = record[20] | record[21] << 8;
    return file.size() == kEndRecordSize + commentLength;
}

ArchiveFile& FileOf(voidpf stream)
{
    return *static_cast<ArchiveFile*>(stream);
}

// minizip's file functions over an ArchiveFile; the "file name" that minizip hands to the
// open function is the ArchiveFile itself, already open.
voidpf ZCALLBACK OpenArchiveFile(voidpf, const void* file, int)
{
    return const_cast<void*>(file);
}
uLong ZCALLBACK ReadArchiveFile(voidpf, voidpf stream, void* buffer, uLong size)
{
    return FileOf(stream).read(buffer, size);
}
uLong ZCALLBACK WriteArchiveFile(voidpf, voidpf, const void*, uLong)
{
    return 0;
}
ZPOS64_T ZCALLBACK TellArchiveFile(voidpf, voidpf stream)
{
    return FileOf(stream).tell();
}
long ZCALLBACK SeekArchiveFile(voidpf, voidpf stream, ZPOS64_T offset, int origin)
{
    return FileOf(stream).seek(offset, origin);
}
int ZCALLBACK CloseArchiveFile(voidpf, voidpf stream)
{
    FileOf(stream).close();
    return 0;
}
int ZCALLBACK ArchiveFileError(voidpf, voidpf stream)
{
    return FileOf(stream).lastReadShort() ? 1 : 0;
}

// Everything that extraction needs of an entry besides its item record.
struct EntryRecord {
    ZipItem item;
    uint32_t flags = 0;
    uint32_t method = 0;
    uint32_t crc = 0;
    uint32_t dosDateTime = 0;
};

// Traditional PKWARE decryption.
class TraditionalCipher {
public:
    explicit TraditionalCipher(const char* password) : table_(get_crc_table())
    {
        for (const char* p = password; *p; ++p)
            update(static_cast<unsigned char>(*p));
    }

    void decrypt(unsigned char* data, size_t length)
    {
        for (size_t i = 0; i < length; ++i) {
            const uint32_t temp = (keys_[2] & 0xFFFF) | 2;
            data[i] ^= static_cast<unsigned char>((temp * (temp ^ 1)) >> 8);
            update(data[i]);
        }
    }

private:
    uint32_t crcStep(uint32_t crc, unsigned char byte) const { return table_[(crc ^ byte) & 0xFF] ^ (crc >> 8); }

    void update(unsigned char plain)
    {
        keys_[0] = crcStep(keys_[0], plain);
        keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
        keys_[2] = crcStep(keys_[2], static_cast<unsigned char>(keys_[1] >> 24));
    }

    const z_crc_t* table_;
    uint32_t keys_[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

// The data of the current entry as it goes to disk: opened through minizip, which checks the
// local header, then read from the archive in large blocks (minizip reads 16 KiB at a time),
// decrypted with the empty password when the entry is encrypted, inflated for method 8, and
// ended at the sizes that the central directory gives. Keeps its own CRC-32. The entry stays
// open in minizip for the object's lifetime.
class EntryData {
public:
    EntryData(unzFile archive, ArchiveFile& file, const EntryRecord& record, unsigned char* input)
        : archive_(archive), file_(file), record_(record), input_(input)
    {
    }

    ~EntryData()
    {
        if (inflating_)
            inflateEnd(&stream_);
        if (opened_)
            unzCloseCurrentFile(archive_);
    }

    EntryData(const EntryData&) = delete;
    EntryData& operator=(const EntryData&) = delete;

    ZipStatus open()
    {
        opened_ = unzOpenCurrentFile2(archive_, nullptr, nullptr, 1) == UNZ_OK;
        if (!opened_)
            return ZipStatus::InflateFailed;
        position_ = unzGetCurrentFileZStreamPos64(archive_);
        unread_ = record_.item.compressedSize;
        if (record_.flags & kEncryptedFlag) {
            cipher_.reset(new TraditionalCipher(""));
            unsigned char header[kEncryptionHeaderSize];
            if (readRaw(header, kEncryptionHeaderSize) != kEncryptionHeaderSize)
                return ZipStatus::InflateFailed;
            const uint32_t check = (record_.flags & kDataDescriptorFlag) ? record_.dosDateTime >> 8 : record_.crc >> 24;
            if (header[kEncryptionHeaderSize - 1] != (check & 0xFF))
                return ZipStatus::BadPassword;
        }
        if (record_.method == Z_DEFLATED) {
            inflating_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK;
            if (!inflating_)
                return ZipStatus::InflateFailed;
        }
        return ZipStatus::Ok;
    }

    // Fills `out` with up to `capacity` bytes. `end` is set once the entry's whole size has
    // been produced; a count of 0 without `end` means that the data ended too early.
    ZipStatus read(unsigned char* out, size_t capacity, size_t& count, bool& end)
    {
        count = 0;
        const uint64_t remaining = record_.item.uncompressedSize - produced_;
        const uInt wanted = static_cast<uInt>(std::min<uint64_t>(capacity, remaining));
        if (wanted > 0) {
            ZipStatus status =
                record_.method == Z_DEFLATED ? inflateInto(out, wanted, count) : copyInto(out, wanted, count);
            if (status != ZipStatus::Ok)
                return status;
        }
        crc_ = Crc32Update(crc_, out, count);
        produced_ += count;
        end = produced_ == record_.item.uncompressedSize;
        return ZipStatus::Ok;
    }

    bool matchesStoredCrc() const { return produced_ == record_.item.uncompressedSize && crc_ == record_.crc; }

private:
    // The next raw bytes of the entry, at most its compressed size; decrypted when it is
    // encrypted. Fewer than asked only where the archive ends.
    size_t readRaw(unsigned char* out, size_t wanted)
    {
        const size_t asked = static_cast<size_t>(std::min<uint64_t>(wanted, unread_));
        const size_t got = asked ? file_.readAt(position_, out, asked) : 0;
        position_ += got;
        unread_ -= got;
        if (cipher_)
            cipher_->decrypt(out, got);
        return got;
    }

    // Takes the next raw block when the previous one is used up.
    void refill()
    {
        if (stream_.avail_in > 0 || sourceEnded_)
            return;
        const size_t got = readRaw(input_, kTransferSize);
        sourceEnded_ = got == 0;
        stream_.next_in = input_;
        stream_.avail_in = static_cast<uInt>(got);
    }

    // Stored data goes straight into the caller's block.
    ZipStatus copyInto(unsigned char* out, uInt wanted, size_t& count)
    {
        count = readRaw(out, wanted);
        return ZipStatus::Ok;
    }

    ZipStatus inflateInto(unsigned char* out, uInt wanted, size_t& count)
    {
        stream_.next_out = out;
        stream_.avail_out = wanted;
        while (stream_.avail_out == wanted && !streamEnded_) {
            refill();
            const int result = inflate(&stream_, Z_NO_FLUSH);
            if (result == Z_STREAM_END)
                streamEnded_ = true;
            else if (result == Z_BUF_ERROR && sourceEnded_)
                break;  // the data ended inside the stream
            else if (result != Z_OK)
                return ZipStatus::InflateFailed;
        }
        count = wanted - stream_.avail_out;
        return ZipStatus::Ok;
    }

    unzFile archive_;
    ArchiveFile& file_;
    const EntryRecord& record_;
    unsigned char* input_;
    uint64_t position_ = 0;  // of the next raw byte in the archive
    uint64_t unread_ = 0;    // raw bytes of the entry not read yet
    bool opened_ = false;
    bool inflating_ = false;
    std::unique_ptr<TraditionalCipher> cipher_;
    z_stream stream_ = {};
    bool sourceEnded_ = false;
    bool streamEnded_ = false;
    uint64_t produced_ = 0;
    uint32_t crc_ = 0;
};

FILETIME ToFileTime(uint64_t count)
{
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(count);
    time.dwHighDateTime = static_cast<DWORD>(count >> 32);
    return time;
}

// The DOS date and time are local time. One that is no calendar time (month 0, 30 February,
// hour 24, ...) becomes the earliest DOS time, 1980-01-01 00:00:00.
FILETIME DosDateTimeToFileTime(uint32_t dosDateTime)
{
    const uint32_t kDosEpoch = (1 << 5 | 1) << 16;
    const uint32_t valid = IsCalendarDosDateTime(dosDateTime) ? dosDateTime : kDosEpoch;
    const uint32_t date = valid >> 16;
    const uint32_t time = valid & 0xFFFF;
    SYSTEMTIME calendar = {};
    calendar.wYear = static_cast<WORD>(1980 + (date >> 9));
    calendar.wMonth = static_cast<WORD>((date >> 5) & 15);
    calendar.wDay = static_cast<WORD>(date & 31);
    calendar.wHour = static_cast<WORD>(time >> 11);
    calendar.wMinute = static_cast<WORD>((time >> 5) & 63);
    calendar.wSecond = static_cast<WORD>((time & 31) * 2);
    FILETIME local;
    SystemTimeToFileTime(&calendar, &local);
    FILETIME utc;
    LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

std::string WithSeparator(const std::string& directory)
{
    const char last = directory.empty() ? '\0' : directory.back();
    return last == '\\' || last == '/' ? directory : directory + '\\';
}

}  // namespace

struct ZipReader {
    ArchiveFile file;
    unzFile archive = nullptr;  // stays null for an empty archive
    int32_t entryCount = 0;
    // minizip's current entry; -1 when unknown (after a failed step), which sends the next
    // move back to the first entry.
    int32_t cursor = -1;
    int32_t cachedIndex = -1;
    EntryRecord cached;
    std::vector<unsigned char> transfer;  // allocated by the first extraction
    std::vector<unsigned char> input;
    std::string baseDirectory;
    // The names that stood in each output folder when the archive first wrote there, by
    // FileIdentity: a name looked up that is not there costs a scan of the whole folder under
    // Wine, one listing costs one.
    std::unordered_map<std::wstring, std::unordered_set<std::wstring>> folders;
};

namespace {

bool MoveTo(ZipReader& reader, int32_t index)
{
    if (reader.cursor < 0 || reader.cursor > index) {
        reader.cursor = unzGoToFirstFile(reader.archive) == UNZ_OK ? 0 : -1;
        if (reader.cursor < 0)
            return false;
    }
    while (reader.cursor < index) {
        if (unzGoToNextFile(reader.archive) != UNZ_OK) {
            reader.cursor = -1;
            return false;
        }
        ++reader.cursor;
    }
    return true;
}

// Steps through every record that the end record announces: an archive whose directory
// ends early is refused at the door instead of failing entry by entry.
bool DirectoryIsComplete(ZipReader& reader)
{
    return reader.entryCount == 0 || MoveTo(reader, reader.entryCount - 1);
}

// Opens the current entry raw, which makes minizip compare its local header with the
// central-directory record, and reads the local extra field.
ZipStatus ReadLocalExtraField(unzFile archive, std::vector<unsigned char>& field)
{
    if (unzOpenCurrentFile2(archive, nullptr, nullptr, 1) != UNZ_OK)
        return ZipStatus::CorruptEntry;
    const int size = unzGetLocalExtrafield(archive, nullptr, 0);
    field.resize(size > 0 ? static_cast<size_t>(size) : 0);
    const bool read =
        field.empty() || unzGetLocalExtrafield(archive, field.data(), static_cast<unsigned>(size)) == size;
    unzCloseCurrentFile(archive);
    return read ? ZipStatus::Ok : ZipStatus::ReadFailed;
}

// A stored name in UTF-8: as stored when the entry's flag 11 says it is UTF-8; from the Info-ZIP
// Unicode path field when its CRC-32 still matches the stored name (a tool that renamed the
// entry without knowing the field leaves it stale); otherwise in the OEM code page, which
// Windows' own compressor and 7-Zip write when they set no flag, and which is the format's
// CP437 on Western systems. A name ends at its first zero byte.
std::string DecodedName(std::string stored, uint32_t flags, const std::vector<unsigned char>& centralExtra)
{
    const size_t zero = stored.find('\0');
    if (zero != std::string::npos)
        stored.resize(zero);
    const uint32_t kUtf8Flag = 0x0800;
    if ((flags & kUtf8Flag) && IsValidUtf8(stored))
        return stored;
    const std::string unicode = UnicodePathField(centralExtra.data(), centralExtra.size(), stored);
    if (!unicode.empty() && IsValidUtf8(unicode))
        return unicode;
    return Utf8FromCodePage(stored, CP_OEMCP);
}

ZipStatus ReadRecord(ZipReader& reader, int32_t index, EntryRecord& record)
{
    if (!MoveTo(reader, index))
        return ZipStatus::ReadFailed;
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(reader.archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return ZipStatus::ReadFailed;
    std::string storedName(info.size_filename, '\0');
    if (!storedName.empty() &&
        unzGetCurrentFileInfo64(reader.archive, nullptr, &storedName[0], static_cast<uLong>(storedName.size()), nullptr,
                                0, nullptr, 0) != UNZ_OK)
        return ZipStatus::ReadFailed;
    std::vector<unsigned char> centralExtra(info.size_file_extra);
    if (!centralExtra.empty() && unzGetCurrentFileInfo64(reader.archive, nullptr, nullptr, 0, centralExtra.data(),
                                                         static_cast<uLong>(centralExtra.size()), nullptr, 0) != UNZ_OK)
        return ZipStatus::ReadFailed;
    if (info.compression_method != 0 && info.compression_method != Z_DEFLATED)
        return ZipStatus::CorruptEntry;
    std::vector<unsigned char> extraField;
    const ZipStatus extra = ReadLocalExtraField(reader.archive, extraField);
    if (extra != ZipStatus::Ok)
        return extra;
    const std::string decoded = DecodedName(storedName, info.flag, centralExtra);
    const std::string sanitized = SanitizeStoredName(decoded.c_str());
    if (!IsContainedName(sanitized))
        return ZipStatus::UnsafeName;
    const std::string name = WindowsName(sanitized);

    ZipItem& item = record.item;
    item = ZipItem();
    item.index = index;
    item.name = name;
    item.attributes = WindowsAttributes(info.version, info.external_fa);
    // Some writers store a directory with no attributes at all: its name still ends with a
    // separator. An entry with data is a file whatever its attributes say (an odd writer set the
    // directory bit), so that its data is never dropped; one whose name says it is a directory
    // cannot come out as a file, and the archive counts as damaged.
    const bool folderName = !name.empty() && (name.back() == '/' || name.back() == '\\');
    if (folderName && info.uncompressed_size > 0)
        return ZipStatus::CorruptEntry;
    if (folderName)
        item.attributes |= FILE_ATTRIBUTE_DIRECTORY;
    else if (info.uncompressed_size > 0)
        item.attributes &= ~static_cast<uint32_t>(FILE_ATTRIBUTE_DIRECTORY);
    item.compressedSize = info.compressed_size;
    item.uncompressedSize = info.uncompressed_size;
    item.crc = static_cast<uint32_t>(info.crc);
    item.writeTime = item.accessTime = item.creationTime = DosDateTimeToFileTime(info.dosDate);
    const EntryTimes times =
        ReadEntryTimes(extraField.data(), extraField.size(), centralExtra.data(), centralExtra.size());
    if (times.hasWrite)
        item.writeTime = ToFileTime(times.write);
    if (times.hasAccess)
        item.accessTime = ToFileTime(times.access);
    if (times.hasCreation)
        item.creationTime = ToFileTime(times.creation);
    record.flags = info.flag;
    record.method = info.compression_method;
    record.crc = info.crc;
    record.dosDateTime = info.dosDate;
    return ZipStatus::Ok;
}

// The record of entry `index`, from the cache when it was the last one read.
ZipStatus FindRecord(ZipReader& reader, int32_t index, const EntryRecord*& record)
{
    if (reader.cachedIndex != index) {
        EntryRecord fresh;
        const ZipStatus status = ReadRecord(reader, index, fresh);
        if (status != ZipStatus::Ok)
            return status;
        reader.cached = fresh;
        reader.cachedIndex = index;
    }
    record = &reader.cached;
    return ZipStatus::Ok;
}

// True when `path` already holds exactly the entry's data: a run that died after the entry came
// out left it under its real name, which only a complete file carries. `onBlock` is called with
// no bytes for each block read, so that the host stays called and a stop ends the reading.
bool HoldsEntry(const std::string& path, const EntryRecord& record, const std::function<bool(uint64_t)>& onBlock)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(PlatformPath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        ((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) != record.item.uncompressedSize)
        return false;
    uint32_t crc = 0;
    return FileCrc32(path, crc, [&] { return !onBlock || onBlock(0); }) && crc == record.crc;
}

// True when a file of the name of `path` may stand there: it stood there when the archive first
// wrote into its folder. A file that came since is met when the output takes its name.
bool MayExist(ZipReader& reader, const std::string& path)
{
    const size_t separator = path.find_last_of("\\/");
    const std::string folder = path.substr(0, separator + 1);
    auto listing = reader.folders.find(FileIdentity(folder));
    if (listing == reader.folders.end()) {
        listing = reader.folders.emplace(FileIdentity(folder), std::unordered_set<std::wstring>()).first;
        WIN32_FIND_DATAW found;
        FindHandle search(FindFirstFileW(PlatformPath(folder + "*").c_str(), &found));
        for (bool more = search.valid(); more; more = FindNextFileW(search.get(), &found))
            listing->second.insert(FileIdentity(std::wstring(found.cFileName)));
    }
    return listing->second.count(FileIdentity(path.substr(separator + 1))) != 0;
}

// Reads the entry's data, checks it and hands each block to `sink`. `intact` tells whether the
// data matched the CRC-32 that the archive stores.
ZipStatus ReadEntry(ZipReader& reader, const EntryRecord& record, bool& intact,
                    const std::function<bool(const unsigned char*, size_t)>& sink,
                    const std::function<bool(uint64_t)>& onBlock)
{
    if (reader.transfer.empty()) {
        reader.transfer.resize(kTransferSize);
        reader.input.resize(kTransferSize);
    }
    EntryData data(reader.archive, reader.file, record, reader.input.data());
    ZipStatus status = data.open();
    while (status == ZipStatus::Ok) {
        size_t count = 0;
        bool end = false;
        status = data.read(reader.transfer.data(), kTransferSize, count, end);
        if (status != ZipStatus::Ok)
            break;
        if (count > 0 && !sink(reader.transfer.data(), count))
            return ZipStatus::WriteFailed;
        if (onBlock && !onBlock(count))
            return ZipStatus::Stopped;
        if (end) {
            intact = data.matchesStoredCrc();
            break;
        }
        if (count == 0)
            status = ZipStatus::InflateFailed;
    }
    return status;
}

ZipStatus WriteEntry(ZipReader& reader, const EntryRecord& record, const std::string& outputPath, bool& intact,
                     const std::function<bool(uint64_t)>& onBlock, ZipPlacement& placement)
{
    placement.landed = outputPath;
    placement.queued = false;
    placement.stood = false;
    if (MayExist(reader, outputPath) && HoldsEntry(outputPath, record, onBlock)) {
        intact = true;
        placement.stood = true;
        if (onBlock)
            onBlock(record.item.uncompressedSize);
        return ZipStatus::Ok;
    }
    const ZipItem& item = record.item;
    const DWORD attributes = item.attributes ? item.attributes : FILE_ATTRIBUTE_NORMAL;
    // A small entry is read into memory and written by the batch, with many others at once; a
    // large one is written here and flushed and renamed by the batch.
    const uint64_t kMostHeldEntry = 256 << 10;
    CommitBatch& batch = *placement.batch;
    const FILETIME* times[3] = {&item.creationTime, &item.accessTime, &item.writeTime};
    ZipStatus status = ZipStatus::Ok;
    if (item.uncompressedSize <= kMostHeldEntry) {
        std::vector<unsigned char> data;
        data.reserve(static_cast<size_t>(item.uncompressedSize));
        const auto hold = [&](const unsigned char* block, size_t size) {
            data.insert(data.end(), block, block + size);
            return true;
        };
        status = ReadEntry(reader, record, intact, hold, onBlock);
        if (status == ZipStatus::Ok && intact)
            batch.Add(outputPath, attributes, std::move(data), placement.existing, times[0], times[1], times[2]);
    } else {
        std::unique_ptr<OutputFile> output(new OutputFile(batch.root(), outputPath, batch.tags()));
        if (!output->Create(attributes))
            return ZipStatus::CannotOpen;
        const auto write = [&](const unsigned char* block, size_t size) { return output->Write(block, size); };
        status = ReadEntry(reader, record, intact, write, onBlock);
        if (status == ZipStatus::Ok && intact)
            batch.Add(std::move(output), placement.existing, times[0], times[1], times[2]);
    }
    if (status == ZipStatus::Ok && intact) {
        placement.queued = true;
        placement.ticket = batch.size() - 1;
    }
    return status;
}

ZipStatus ExtractEntry(ZipReader& reader, int32_t index, const std::string& targetName, bool& intact,
                       const std::function<bool(uint64_t)>& onBlock, ZipPlacement& placement)
{
    const EntryRecord* record = nullptr;
    const ZipStatus found = FindRecord(reader, index, record);
    if (found != ZipStatus::Ok)
        return found;
    if (!IsContainedName(targetName))
        return ZipStatus::UnsafeName;
    const std::string outputPath = reader.baseDirectory + targetName;
    if (record->item.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        intact = true;
        return ensureDirectory(placement.batch->root(), targetName);
    }
    // The record may come from the cache while minizip stands on another entry.
    if (!MoveTo(reader, index))
        return ZipStatus::ReadFailed;
    // A folder that has a listing was made by an earlier entry (see MayExist).
    const size_t slash = targetName.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? "" : targetName.substr(0, slash + 1);
    if (reader.folders.count(FileIdentity(reader.baseDirectory + folder)) == 0)
        ensureDirectory(placement.batch->root(), folder);
    return WriteEntry(reader, *record, outputPath, intact, onBlock, placement);
}

}  // namespace

ZipReader* openReader(const std::string& archivePath)
{
    std::unique_ptr<ZipReader> reader(new ZipReader);
    wchar_t current[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
    if (length > 0 && length < MAX_PATH)
        reader->baseDirectory = WithSeparator(Utf8(std::wstring(current, length)));
    if (!reader->file.open(archivePath))
        return nullptr;
    if (IsEmptyArchive(reader->file))
        return reader.release();
    zlib_filefunc64_def functions = {OpenArchiveFile, ReadArchiveFile,  WriteArchiveFile, TellArchiveFile,
                                     SeekArchiveFile, CloseArchiveFile, ArchiveFileError, nullptr};
    reader->archive = unzOpen2_64(&reader->file, &functions);
    if (!reader->archive)
        return nullptr;
    unz_global_info64 global;
    const bool counted = unzGetGlobalInfo64(reader->archive, &global) == UNZ_OK && global.number_entry <= INT32_MAX;
    reader->entryCount = counted ? static_cast<int32_t>(global.number_entry) : 0;
    if (!counted || !DirectoryIsComplete(*reader)) {
        unzClose(reader->archive);
        return nullptr;
    }
    MoveTo(*reader, 0);
    return reader.release();
}

ZipStatus setBaseDirectory(ZipReader* reader, const std::string& directory)
{
    if (!reader || directory.empty())
        return ZipStatus::BadArgument;
    reader->baseDirectory = WithSeparator(directory);
    return ZipStatus::Ok;
}

ZipStatus getItem(ZipReader* reader, int32_t index, ZipItem& item)
{
    item.index = 0;
    item.name.clear();
    item.uncompressedSize = 0;
    if (!reader || index < -1 || index >= reader->entryCount)
        return ZipStatus::BadArgument;
    if (index == -1) {
        item = ZipItem();
        item.index = reader->entryCount;
        return ZipStatus::Ok;
    }
    const EntryRecord* record = nullptr;
    const ZipStatus status = FindRecord(*reader, index, record);
    if (status == ZipStatus::Ok)
        item = record->item;
    return status;
}

ZipStatus extractItem(ZipReader* reader, int32_t index, const std::string& targetName, bool* dataIntact,
                      const std::function<bool(uint64_t)>& onBlock, ZipPlacement& placement)
{
    bool intact = false;
    const bool known = reader && index >= 0 && index < reader->entryCount && placement.batch;
    const ZipStatus status =
        known ? ExtractEntry(*reader, index, targetName, intact, onBlock, placement) : ZipStatus::BadArgument;
    if (dataIntact)
        *dataIntact = intact;
    return status;
}

ZipStatus storedDataOffset(ZipReader* reader, int32_t index, uint64_t& offset)
{
    offset = 0;
    if (!reader || index < 0 || index >= reader->entryCount)
        return ZipStatus::BadArgument;
    const EntryRecord* record = nullptr;
    const ZipStatus found = FindRecord(*reader, index, record);
    if (found != ZipStatus::Ok)
        return found;
    const ZipItem& item = record->item;
    if (record->method != 0 || (record->flags & kEncryptedFlag) || item.compressedSize != item.uncompressedSize)
        return ZipStatus::CorruptEntry;
    // Opening the entry raw makes minizip check its local header and tells where its data starts.
    if (!MoveTo(*reader, index) || unzOpenCurrentFile2(reader->archive, nullptr, nullptr, 1) != UNZ_OK)
        return ZipStatus::CorruptEntry;
    const uint64_t start = unzGetCurrentFileZStreamPos64(reader->archive);
    unzCloseCurrentFile(reader->archive);
    if (start > reader->file.size() || item.compressedSize > reader->file.size() - start)
        return ZipStatus::CorruptEntry;
    offset = start;
    return ZipStatus::Ok;
}

uint64_t totalSize(ZipReader* reader)
{
    uint64_t total = 0;
    ZipItem item;
    for (int32_t index = 0; reader && index < reader->entryCount; ++index)
        if (getItem(reader, index, item) == ZipStatus::Ok)
            total = item.uncompressedSize > UINT64_MAX - total ? UINT64_MAX : total + item.uncompressedSize;
    return total;
}

ZipStatus closeReader(ZipReader* reader)
{
    if (!reader)
        return ZipStatus::BadArgument;
    if (reader->archive)
        unzClose(reader->archive);
    delete reader;
    return ZipStatus::Ok;
}

ZipStatus ensureDirectory(const DiskRoot& root, const std::string& path)
{
    if (!path.empty())
        gate::CreateFolders(root, root.path() + path);
    return ZipStatus::Ok;
}
