#include "engine/sfv.h"

#include <windows.h>

#include <memory>

#include "engine/crc32.h"
#include "engine/paths.h"
#include "engine/ansi_text.h"
#include "engine/zip/zip_entry_fields.h"

namespace {

const DWORD kCrcBlockSize = 1u << 20;
// A line is read in pieces of this many bytes; a longer line continues as the next line.
const DWORD kLinePieceSize = 258;

class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle()
    {
        if (valid())
            CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

// Reads the next line of the SFV file, starting at `offset`, and moves `offset` past the
// line's terminator. False at the end of the file or on a read error.
bool ReadSfvLine(HANDLE file, LONGLONG& offset, std::string& line)
{
    LARGE_INTEGER position;
    position.QuadPart = offset;
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN))
        return false;
    char piece[kLinePieceSize];
    DWORD got = 0;
    if (!ReadFile(file, piece, kLinePieceSize, &got, nullptr) || got == 0)
        return false;
    DWORD length = 0;
    while (length < got && piece[length] != '\r' && piece[length] != '\n')
        ++length;
    line.assign(piece, length);
    DWORD consumed = length;
    if (length < got) {
        consumed += 1;
        if (piece[length] == '\r' && length + 1 < got && piece[length + 1] == '\n')
            consumed += 1;
    }
    offset += consumed;
    return true;
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

uint32_t ParseSfvChecksum(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') && i + 2 < text.size() &&
        HexDigit(text[i + 2]) >= 0)
        i += 2;
    uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
        value = value * 16 + static_cast<uint64_t>(HexDigit(text[i]));
        if (value > 0xFFFFFFFFull) {
            overflow = true;
            value = 0xFFFFFFFFull;
        }
    }
    if (overflow)
        return 0xFFFFFFFFu;
    uint32_t result = static_cast<uint32_t>(value);
    return negative ? 0u - result : result;
}

bool SplitSfvLine(const std::string& line, std::string& name, std::string& checksum)
{
    if (line.empty() || line[0] == ';')
        return false;
    size_t end = line.find_last_not_of(' ');
    if (end == std::string::npos)
        return false;
    std::string trimmed = line.substr(0, end + 1);
    size_t space = trimmed.rfind(' ');
    if (space == std::string::npos) {
        name = trimmed;
        checksum = trimmed;
    } else {
        name = trimmed.substr(0, space);
        checksum = trimmed.substr(space + 1);
    }
    return true;
}

bool FileCrc32(const std::string& path, uint32_t& crc, const std::function<bool()>& onBlock)
{
    if (!FitsMaxPath(path))
        return false;
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid())
        return false;
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kCrcBlockSize]);
    if (!buffer)
        return false;
    uint32_t value = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.get(), kCrcBlockSize, &got, nullptr))
            return false;
        if (got == 0)
            break;
        value = Crc32Update(value, buffer.get(), got);
        if (onBlock && !onBlock())
            return false;
    }
    crc = value;
    return true;
}

Failure VerifySfv(const std::string& sfvPath, JobProgress& progress, std::unordered_set<std::wstring>& verified)
{
    const std::string sfvName = sfvPath.substr(DirectoryOf(sfvPath).size());
    if (!FitsMaxPath(sfvPath))
        return {Outcome::CannotRead, "cannot read " + sfvName};
    const std::string directory = DirectoryOf(sfvPath);
    FileHandle sfv(
        CreateFileA(sfvPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!sfv.valid())
        return {Outcome::CannotRead, "cannot read " + sfvName};

    Failure failure;
    LONGLONG offset = 0;
    std::string line, name, checksum;
    while (ReadSfvLine(sfv.get(), offset, line)) {
        if (!SplitSfvLine(line, name, checksum))
            continue;
        const uint32_t expected = ParseSfvChecksum(checksum);
        const std::string announcement = "Verifying " + name + "...";
        progress.Text(announcement);
        if (progress.stopped())
            return {Outcome::Stopped, "stopped while verifying " + name};
        const std::string path = directory + name;
        uint32_t actual = 0;
        bool read = false;
        if (IsContainedName(name))
            read = FileCrc32(path, actual, [&] {
                progress.Working(announcement);
                return !progress.stopped();
            });
        if (progress.stopped())
            return {Outcome::Stopped, "stopped while verifying " + name};
        if (read && actual == expected)
            verified.insert(FileIdentity(path));
        else if (failure.ok())
            failure = !IsContainedName(name) ? Failure{Outcome::BadData, sfvName + " names a file outside its folder"}
                      : read                 ? Failure{Outcome::BadData, "CRC mismatch in " + name}
                      : GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES
                          ? Failure{Outcome::CannotRead, name + " is missing"}
                          : Failure{Outcome::CannotRead, "cannot read " + name};
        progress.Text(announcement + " Done!");
        if (progress.stopped())
            return {Outcome::Stopped, "stopped while verifying " + name};
    }
    return failure;
}
