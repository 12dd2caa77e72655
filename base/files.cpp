#include "base/files.h"

#include <windows.h>

#include <memory>
#include <new>

#include "base/crc32.h"
#include "base/handles.h"
#include "base/text.h"

namespace {

const DWORD kCrcBlockSize = 512u << 10;

}  // namespace

FileReader::FileReader(const std::string& path)
    : file_(CreateFileW(PlatformPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr))
{
}

bool FileReader::ReadAt(uint64_t offset, void* data, size_t size, size_t& got)
{
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    DWORD read = 0;
    if (!file_.valid() || !SetFilePointerEx(file_.get(), position, nullptr, FILE_BEGIN) ||
        !::ReadFile(file_.get(), data, static_cast<DWORD>(size), &read, nullptr))
        return false;
    got = read;
    return true;
}

uint64_t FileReader::Size() const
{
    LARGE_INTEGER size;
    return GetFileSizeEx(file_.get(), &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
}

HANDLE OpenToRead(const std::string& path, DWORD access, DWORD share, DWORD flags)
{
    const DWORD kReading = GENERIC_READ | FILE_READ_DATA | FILE_READ_ATTRIBUTES | FILE_READ_EA | READ_CONTROL |
                           SYNCHRONIZE;
    return CreateFileW(PlatformPath(path).c_str(), access & kReading, share, nullptr, OPEN_EXISTING, flags, nullptr);
}

uint64_t FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(PlatformPath(path).c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool FileCrc32(const std::string& path, uint32_t& crc, const std::function<bool()>& onBlock)
{
    FileHandle file(CreateFileW(PlatformPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
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
