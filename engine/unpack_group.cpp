#include "engine/unpack_group.h"

#include <windows.h>

#include "engine/rar_stage.h"
#include "engine/source_deletion.h"
#include "engine/temp_file_cleanup.h"
#include "engine/zip_stage.h"
#include "host/progress.h"

namespace {

const DWORD kProgressReadSize = 4096;

enum class SourceAccess { Read, Gone, Locked };

// A file that is gone was consumed earlier in this run: the later volumes of a set whose
// volumes were deleted while it was unpacked.
bool IsGone(const std::string& path)
{
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Reads a source file once, reporting each read to the host, so that the host's progress
// display covers the whole group.
SourceAccess ReadForProgress(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return IsGone(path) ? SourceAccess::Gone : SourceAccess::Locked;
    if (HostCallbackSet()) {
        char buffer[kProgressReadSize];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file, buffer, kProgressReadSize, &got, nullptr))
                break;
            if (ReportProgress(path, static_cast<int>(got)) == 0 || got == 0)
                break;
        }
    }
    CloseHandle(file);
    return SourceAccess::Read;
}

bool ExtensionStartsWith(const std::string& extension, const char* start)
{
    return extension.size() >= 4 && _strnicmp(extension.c_str(), start, 4) == 0;
}

// Extracts one archive of either pass; true when it was extracted completely. A file that is
// not an archive has nothing to extract.
bool Extract(const UnpackContext& context, ArchiveKind kind, const std::string& path, const std::string& destination,
             FileList& output)
{
    switch (kind) {
    case ArchiveKind::Zip:
        return ExtractZip(path, destination, output);
    case ArchiveKind::Rar:
        return ExtractRar(context, path, destination, output);
    default:
        return true;
    }
}

}  // namespace

ArchiveKind ClassifyArchive(const std::string& path)
{
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        return ArchiveKind::None;
    const std::string extension = path.substr(dot);
    if (ExtensionStartsWith(extension, ".zip"))
        return ArchiveKind::Zip;
    if (ExtensionStartsWith(extension, ".rar") || extension == ".001")
        return ArchiveKind::Rar;
    return ArchiveKind::None;
}

bool IsArchiveOrVolume(const std::string& path)
{
    if (ClassifyArchive(path) != ArchiveKind::None)
        return true;
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos)
        return false;
    const std::string extension = path.substr(dot + 1);
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (extension.size() != 3 || !digit(extension[1]) || !digit(extension[2]))
        return false;
    return digit(extension[0]) || extension[0] == 'r' || extension[0] == 'R';
}

bool UnpackGroup(const UnpackContext& context, const FileList& sources, const std::string& destination)
{
    FileList firstLevel;
    bool everyExtraction = true;
    for (const std::string& source : sources) {
        const SourceAccess access = ReadForProgress(source);
        if (access == SourceAccess::Locked)
            return false;
        if (access == SourceAccess::Gone)
            continue;
        const ArchiveKind kind = ClassifyArchive(source);
        const bool complete = Extract(context, kind, source, destination, firstLevel);
        // A ZIP source goes only when every entry came out; the RAR stage deletes the volumes
        // of a set itself, as the library finishes them.
        if (complete && kind == ArchiveKind::Zip && SourcesMayBeDeleted(context))
            DeleteFileA(source.c_str());
        everyExtraction = complete && everyExtraction;
    }
    if (firstLevel.Empty())
        return everyExtraction;

    FileList secondLevel;
    bool secondPassComplete = true;
    for (const std::string& path : firstLevel) {
        const ArchiveKind kind = ClassifyArchive(path);
        if (kind != ArchiveKind::None && !IsGone(path))
            secondPassComplete = Extract(context, kind, path, destination, secondLevel) && secondPassComplete;
    }
    // After a failed second pass the first-level files may be all that is left of a download
    // whose sources are already gone.
    if (!secondLevel.Empty() && context.settings.deleteTemp && secondPassComplete)
        TempFileCleanup(context, firstLevel, secondLevel);
    return everyExtraction && secondPassComplete;
}
