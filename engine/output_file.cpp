#include "engine/output_file.h"

#include <utility>

#include "engine/crc32.h"
#include "engine/release_names.h"
#include "engine/sfv.h"
#include "engine/source_deletion.h"
#include "engine/text.h"

namespace {

// "readme.txt" as "readme (2).txt", in its own folder.
std::string NumberedName(const std::string& path, unsigned number)
{
    const std::string name = OwnName(path);
    const size_t dot = name.rfind('.');
    const size_t at = path.size() - name.size() + (dot == std::string::npos || dot == 0 ? name.size() : dot);
    return path.substr(0, at) + " (" + std::to_string(number) + ")" + path.substr(at);
}

}  // namespace

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
    crc_ = 0;
    open_ = file_ != INVALID_HANDLE_VALUE;
    return open_;
}

bool OutputFile::Resume(uint64_t bytes, uint32_t crc)
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
    crc_ = crc;
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
        crc_ = Crc32Update(crc_, bytes, chunk);
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

bool OutputFile::Commit(Existing existing, const FILETIME* creation, const FILETIME* access, const FILETIME* write)
{
    if (file_ == INVALID_HANDLE_VALUE)
        return false;
    if (creation || access || write)
        SetFileTime(file_, creation, access, write);
    const bool flushed = FlushFileBuffers(file_) != 0;
    Close();
    if (!flushed)
        return false;
    if (existing == Existing::Replace)
        return Rename(target_, MOVEFILE_REPLACE_EXISTING);
    const unsigned kMostNumbers = 999;
    for (unsigned number = 1; number <= kMostNumbers; ++number) {
        const std::string name = number == 1 ? target_ : NumberedName(target_, number);
        if (Rename(name, 0))
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return false;
        // A run of this job that died after this output came out left it there already.
        if (HoldsSame(name)) {
            Discard();
            landed_ = name;
            return true;
        }
    }
    return false;
}

bool OutputFile::Rename(const std::string& to, DWORD flags)
{
    if (!MoveFileExW(PlatformPath(temporary_).c_str(), PlatformPath(to).c_str(), flags | MOVEFILE_WRITE_THROUGH))
        return false;
    landed_ = to;
    open_ = false;
    return true;
}

bool OutputFile::HoldsSame(const std::string& path) const
{
    uint32_t crc = 0;
    return FileSize(path) == written_ && FileCrc32(path, crc) && crc == crc_;
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
