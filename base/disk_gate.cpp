#include "base/disk_gate.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "base/handles.h"
#include "base/paths.h"
#include "base/text.h"

namespace {

// NormalisedPath of a path already folded by FileIdentity.
std::wstring Normalised(const std::wstring& rest)
{
    const std::wstring device = L"\\\\.\\";
    if (rest.compare(0, device.size(), device) == 0)
        return std::wstring();
    std::vector<size_t> starts;  // where each step of `normalised` begins
    size_t at = 0;
    // The root stays as it is: "C:\" or the "\\server\share\" of a network path.
    if (rest.compare(0, 2, L"\\\\") == 0) {
        const size_t share = rest.find(L'\\', 2);
        at = share == std::wstring::npos ? std::wstring::npos : rest.find(L'\\', share + 1);
        if (share != std::wstring::npos && at == std::wstring::npos)
            at = rest.size();
    } else {
        at = rest.find(L'\\');
    }
    if (at == std::wstring::npos)
        return std::wstring();
    std::wstring normalised = rest.substr(0, at) + L"\\";
    for (size_t start = at + 1; start <= rest.size();) {
        size_t end = rest.find(L'\\', start);
        if (end == std::wstring::npos)
            end = rest.size();
        const std::wstring step = rest.substr(start, end - start);
        start = end + 1;
        if (step.empty() || step == L".")
            continue;
        if (step == L"..") {
            if (starts.empty())
                return std::wstring();
            normalised.resize(starts.back());
            starts.pop_back();
        } else if (step.find_first_not_of(L". ") == std::wstring::npos) {
            return std::wstring();
        } else {
            starts.push_back(normalised.size());
            // Windows drops the dots and spaces that end a step.
            normalised += step.substr(0, step.find_last_not_of(L". ") + 1) + L"\\";
        }
    }
    return normalised;
}

// Where what `handle` is open as lies, its links resolved: the serial number of its volume and
// its path on that volume, normalised. FileNameInfo gives that path for any length, where
// GetFinalPathNameByHandleW fails under Wine once it exceeds MAX_PATH. Empty when the system
// tells neither: then nothing is taken to lie below a root.
std::wstring FinalPath(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return std::wstring();
    std::vector<unsigned char> buffer(sizeof(FILE_NAME_INFO) + MAX_PATH * sizeof(wchar_t));
    for (;;) {
        FILE_NAME_INFO& name = *reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
        if (GetFileInformationByHandleEx(handle, FileNameInfo, &name, static_cast<DWORD>(buffer.size()))) {
            const std::wstring path(name.FileName, name.FileNameLength / sizeof(wchar_t));
            const std::wstring normalised = Normalised(FileIdentity(path));
            return normalised.empty() ? normalised : std::to_wstring(info.dwVolumeSerialNumber) + L":" + normalised;
        }
        if (GetLastError() != ERROR_MORE_DATA || buffer.size() > (1u << 20))
            return std::wstring();
        buffer.resize(buffer.size() * 4);
    }
}

// The platform's name of a folder or a file: a folder without the backslash that ends it, which
// long paths do not take, but for a drive's root.
std::wstring PlatformName(const std::string& path)
{
    std::wstring name = PlatformPath(path);
    if (name.size() > 1 && (name.back() == L'\\' || name.back() == L'/') && name[name.size() - 2] != L':')
        name.pop_back();
    return name;
}

// Opens the file, or the folder when `folder`, at `path` without following a final link.
HANDLE OpenAt(const std::string& path, DWORD access, DWORD share, bool folder = false)
{
    FileHandle file(CreateFileW(PlatformName(path).c_str(), access | FILE_READ_ATTRIBUTES, share, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (file.valid() && (!GetFileInformationByHandle(file.get(), &info) ||
                         ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder)) {
        SetLastError(folder ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return file.release();
}

// Opens what stands at `path` below `root` to change it, a file or a folder as `folder` says;
// invalid when it lies elsewhere.
HANDLE OpenBelow(const DiskRoot& root, const std::string& path, DWORD access, DWORD share, bool folder = false)
{
    if (!root.Holds(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    FileHandle file(OpenAt(path, access, share, folder));
    if (file.valid() && !root.HoldsOpen(file.get())) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return file.release();
}

// Whether a new name `path` lies below `root`, by its spelling and by its folder's final path.
// A folder is checked once: each of the thousands of files of an archive that go into one
// folder costs no more than its own creation.
bool MayName(const DiskRoot& root, const std::string& path)
{
    // A name in a folder spelt as one checked before, whose own step is a name (not ".." nor
    // dots and spaces only), lies where that folder lies.
    const std::string folder = path.substr(0, path.find_last_of("\\/") + 1);
    const std::string name = path.substr(folder.size());
    if (!name.empty() && name.find_first_not_of(". ") != std::string::npos && root.Checked(folder))
        return true;
    if (!root.Holds(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    const FileHandle parent(OpenAt(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true));
    if (!parent.valid())
        return false;
    if (!root.HoldsOpen(parent.get(), true)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    root.Remember(folder);
    return true;
}

// A system that does not take a rename or a deletion through the handle says so by these.
bool Refused(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME ||
           error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED;
}

// Deletes the file, or the empty folder when `folder`, at `path` below `root`: through its
// handle, or by its name where the system refuses that, after the same check. With `seen`, only
// the file of that stamp, which no one may open to write while it is compared and deleted.
bool DeleteBelow(const DiskRoot& root, const std::string& path, bool folder, const FileStamp* seen = nullptr)
{
    const DWORD share = seen ? FILE_SHARE_READ | FILE_SHARE_DELETE : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const FileHandle file(OpenBelow(root, path, DELETE, share, folder));
    FileStamp now;
    if (!file.valid() || (seen && !(StampOf(file.get(), now) && now == *seen)))
        return false;
    if (gate::DeleteOpen(file.get()))
        return true;
    if (!Refused(GetLastError()))
        return false;
    // Still held: the name goes with the file that was checked.
    return (folder ? RemoveDirectoryW(PlatformName(path).c_str()) : DeleteFileW(PlatformName(path).c_str())) != 0;
}

}  // namespace

std::wstring NormalisedPath(const std::string& path)
{
    return Normalised(FileIdentity(path));
}

bool StampOf(HANDLE file, FileStamp& stamp)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info))
        return false;
    stamp.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp.writeTime =
        (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    // FILE_ID_INFO of Windows 8 and later, which the headers for Windows 7 leave out; Windows 7
    // refuses the class, and the short id serves.
    struct {
        ULONGLONG volume;
        BYTE id[16];
    } id;
    const auto kFileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
    if (GetFileInformationByHandleEx(file, kFileIdInfo, &id, sizeof id)) {
        stamp.volume = id.volume;
        std::copy(std::begin(id.id), std::end(id.id), stamp.id.begin());
        wchar_t system[MAX_PATH + 1];
        stamp.lasting = GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, nullptr, system, MAX_PATH + 1) &&
                        (_wcsicmp(system, L"NTFS") == 0 || _wcsicmp(system, L"ReFS") == 0);
        return true;
    }
    // Without the long id the short one tells the file within this run.
    const uint64_t index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp.volume = info.dwVolumeSerialNumber;
    for (size_t i = 0; i < 8; ++i)
        stamp.id[i] = static_cast<uint8_t>(index >> (8 * i));
    stamp.lasting = false;
    return true;
}

bool StampOf(const std::string& path, FileStamp& stamp)
{
    const FileHandle file(OpenAt(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    return file.valid() && StampOf(file.get(), stamp);
}

void SeenFiles::Look(const DiskRoot& root, const std::string& path)
{
    Seen seen{{}, &root};
    const std::wstring key = NormalisedPath(path);
    if (!key.empty() && seen_.count(key) == 0 && StampOf(path, seen.stamp))
        seen_.emplace(key, seen);
}

void SeenFiles::Moved(const std::string& from, const std::string& to)
{
    const auto seen = seen_.find(NormalisedPath(from));
    if (seen == seen_.end())
        return;
    const Seen moved = seen->second;
    seen_.erase(seen);
    seen_[NormalisedPath(to)] = moved;
}

const FileStamp* SeenFiles::Of(const std::string& path) const
{
    const auto seen = seen_.find(NormalisedPath(path));
    return seen == seen_.end() ? nullptr : &seen->second.stamp;
}

const DiskRoot* SeenFiles::RootOf(const std::string& path) const
{
    const auto seen = seen_.find(NormalisedPath(path));
    return seen == seen_.end() ? nullptr : seen->second.root;
}

bool SeenFiles::Unchanged(const std::string& path) const
{
    const FileStamp* seen = Of(path);
    FileStamp now;
    if (!StampOf(path, now))
        return GetFileAttributesW(PlatformName(path).c_str()) == INVALID_FILE_ATTRIBUTES;
    return seen && now == *seen;
}

bool SeenFiles::Delete(const std::string& path) const
{
    const auto seen = seen_.find(NormalisedPath(path));
    return seen != seen_.end() && DeleteBelow(*seen->second.root, path, false, &seen->second.stamp);
}

DiskRoot::DiskRoot(const std::string& path, bool create) : path_(path), spelt_(NormalisedPath(path))
{
    if (spelt_.empty())
        return;
    if (create)
        for (size_t end = path.find('\\'); end != std::string::npos; end = path.find('\\', end + 1)) {
            const std::string level = path.substr(0, end);
            if (level.empty() || level.back() == ':' || level == "\\" || level.compare(0, 2, "\\\\") == 0)
                continue;
            const DWORD attributes = GetFileAttributesW(PlatformName(level).c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES && CreateDirectoryW(PlatformName(level).c_str(), nullptr))
                created_.push_back(level);
        }
    const FileHandle folder(CreateFileW(PlatformName(path).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (folder.valid() && GetFileInformationByHandle(folder.get(), &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        final_ = FinalPath(folder.get());
}

bool DiskRoot::Holds(const std::string& path) const
{
    const std::wstring normalised = NormalisedPath(path);
    return valid() && normalised.size() > spelt_.size() && normalised.compare(0, spelt_.size(), spelt_) == 0;
}

bool DiskRoot::HoldsOpen(HANDLE handle, bool orIsIt) const
{
    const std::wstring final = FinalPath(handle);
    return valid() && (final.size() > final_.size() || (orIsIt && final.size() == final_.size())) &&
           final.compare(0, final_.size(), final_) == 0;
}

bool DiskRoot::Checked(const std::string& folder) const
{
    std::lock_guard<std::mutex> lock(folders_->mutex);
    return folders_->checked.count(folder) != 0;
}

void DiskRoot::Remember(const std::string& folder) const
{
    std::lock_guard<std::mutex> lock(folders_->mutex);
    folders_->checked.insert(folder);
}

void DiskRoot::Made(const std::string& folder) const
{
    std::lock_guard<std::mutex> lock(folders_->mutex);
    folders_->made.push_back(folder);
}

void DiskRoot::RemoveCreatedIfEmpty() const
{
    std::vector<std::string> levels = created_;
    {
        std::lock_guard<std::mutex> lock(folders_->mutex);
        levels.insert(levels.end(), folders_->made.begin(), folders_->made.end());
    }
    for (auto level = levels.rbegin(); level != levels.rend(); ++level)
        RemoveDirectoryW(PlatformName(*level).c_str());
}

namespace gate {

HANDLE CreateNew(const DiskRoot& root, const std::string& path, DWORD access, DWORD share, DWORD attributes)
{
    if (!MayName(root, path))
        return INVALID_HANDLE_VALUE;
    return CreateFileW(PlatformPath(path).c_str(), access | DELETE | FILE_READ_ATTRIBUTES, share, nullptr, CREATE_NEW,
                       attributes, nullptr);
}

bool MayCreateIn(const DiskRoot& root)
{
    const std::string probe = root.path() + "ravelpak-" + std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(GetTickCount64()) + ".tmp";
    const FileHandle file(
        CreateNew(root, probe, GENERIC_WRITE, 0, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE));
    return file.valid();
}

HANDLE OpenOwn(const DiskRoot& root, const std::string& path, DWORD access, DWORD share)
{
    return OpenBelow(root, path, access, share);
}

bool ReplaceOwn(const DiskRoot& root, const std::string& path, const std::string& data, DWORD attributes)
{
    const std::string temporary = path + ".new";
    // One left by a run that died is the job's own.
    Delete(root, temporary);
    FileHandle file(CreateNew(root, temporary, GENERIC_WRITE, 0, attributes));
    if (!file.valid())
        return false;
    DWORD written = 0;
    bool done = WriteFile(file.get(), data.data(), static_cast<DWORD>(data.size()), &written, nullptr) != 0;
    // A full disk may say so only by the count.
    if (done && written != data.size()) {
        SetLastError(ERROR_DISK_FULL);
        done = false;
    }
    done = done && FlushFileBuffers(file.get()) && RenameOpen(root, file.get(), path, true);
    if (!done) {
        const DWORD error = GetLastError();
        DeleteOpen(file.get());
        SetLastError(error);
    }
    return done;
}

bool Delete(const DiskRoot& root, const std::string& path)
{
    return DeleteBelow(root, path, false);
}

bool DeleteOpen(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

bool Rename(const DiskRoot& root, const std::string& from, const std::string& to, bool replaceOwn)
{
    FileHandle file(OpenBelow(root, from, DELETE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    if (!file.valid())
        return false;
    if (RenameOpen(root, file.get(), to, replaceOwn))
        return true;
    if (!Refused(GetLastError()))
        return false;
    file.reset();
    return MoveFileExW(PlatformPath(from).c_str(), PlatformPath(to).c_str(),
                       MOVEFILE_WRITE_THROUGH | (replaceOwn ? MOVEFILE_REPLACE_EXISTING : 0)) != 0;
}

bool RenameOpen(const DiskRoot& root, HANDLE file, const std::string& to, bool replaceOwn)
{
    if (!MayName(root, to))
        return false;
    const std::wstring path = PlatformPath(to);
    const size_t nameBytes = path.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    FILE_RENAME_INFO& info = *reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info.ReplaceIfExists = replaceOwn;
    info.RootDirectory = nullptr;
    info.FileNameLength = static_cast<DWORD>(nameBytes);
    memcpy(info.FileName, path.c_str(), nameBytes);
    return SetFileInformationByHandle(file, FileRenameInfo, &info, static_cast<DWORD>(buffer.size())) != 0;
}

bool Link(const DiskRoot& root, const std::string& existing, const std::string& link)
{
    const FileHandle file(OpenBelow(root, existing, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    return file.valid() && MayName(root, link) &&
           CreateHardLinkW(PlatformPath(link).c_str(), PlatformPath(existing).c_str(), nullptr) != 0;
}

bool CreateFolder(const DiskRoot& root, const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(PlatformName(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    if (!MayName(root, path) || !CreateDirectoryW(PlatformName(path).c_str(), nullptr))
        return false;
    root.Made(path);
    return true;
}

void CreateFolders(const DiskRoot& root, const std::string& path)
{
    for (size_t end = path.find_first_of("\\/", root.path().size());; end = path.find_first_of("\\/", end + 1)) {
        const std::string level = path.substr(0, end);
        if (level.size() > root.path().size() && !CreateFolder(root, level))
            return;
        if (end == std::string::npos || end + 1 == path.size())
            return;
    }
}

bool RemoveFolder(const DiskRoot& root, const std::string& path)
{
    return DeleteBelow(root, path, true);
}

bool SetAttributesOpen(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};  // times of zero stay as they are
    basic.FileAttributes = attributes;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

}  // namespace gate
