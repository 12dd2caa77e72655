#include "engine/output_file.h"

#include <utility>

#include "engine/text.h"

OutputFile::OutputFile(std::string target) : target_(std::move(target)), temporary_(TemporaryName(target_)) {}

OutputFile::~OutputFile()
{
    if (open_)
        Discard();
}

std::string OutputFile::TemporaryName(const std::string& target)
{
    return target + ".incomplete";
}

bool OutputFile::Create(DWORD attributes)
{
    Close();
    const std::wstring path = PlatformPath(temporary_);
    // A read-only leftover of a dead run would refuse to be replaced on Windows.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    file_ = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, attributes, nullptr);
    written_ = 0;
    open_ = file_ != INVALID_HANDLE_VALUE;
    return open_;
}

bool OutputFile::Resume(uint64_t bytes)
{
    Close();
    file_ = CreateFileW(PlatformPath(temporary_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size, position;
    position.QuadPart = static_cast<LONGLONG>(bytes);
    if (!GetFileSizeEx(file_, &size) || static_cast<uint64_t>(size.QuadPart) < bytes ||
        !SetFilePointerEx(file_, position, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) {
        Close();
        return false;
    }
    written_ = bytes;
    open_ = true;
    return true;
}

bool OutputFile::Write(const void* data, size_t size)
{
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!WriteFile(file_, bytes, chunk, &done, nullptr) || done != chunk)
            return false;
        bytes += chunk;
        size -= chunk;
        written_ += chunk;
    }
    return true;
}

bool OutputFile::Flush()
{
    return file_ != INVALID_HANDLE_VALUE && FlushFileBuffers(file_);
}

bool OutputFile::Commit(const FILETIME* creation, const FILETIME* access, const FILETIME* write)
{
    if (file_ == INVALID_HANDLE_VALUE)
        return false;
    if (creation || access || write)
        SetFileTime(file_, creation, access, write);
    bool done = FlushFileBuffers(file_) != 0;
    Close();
    done = done && MoveFileExW(PlatformPath(temporary_).c_str(), PlatformPath(target_).c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (done)
        open_ = false;
    return done;
}

void OutputFile::Keep()
{
    Close();
    open_ = false;
}

void OutputFile::Discard()
{
    Close();
    const std::wstring path = PlatformPath(temporary_);
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
    open_ = false;
}

void OutputFile::Close()
{
    if (file_ != INVALID_HANDLE_VALUE)
        CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}

bool FlushExistingFile(const std::string& path)
{
    HANDLE file = CreateFileW(PlatformPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = FlushFileBuffers(file) != 0;
    CloseHandle(file);
    return flushed;
}
