#include "engine/unpack_group.h"

#include <windows.h>

#include "engine/rar_stage.h"
#include "engine/source_deletion.h"
#include "engine/temp_file_cleanup.h"
#include "engine/zip_stage.h"
#include "engine/text.h"

namespace {

// A file that is gone was consumed earlier in this run: the later volumes of a set whose
// volumes were deleted while it was unpacked.
bool IsGone(const std::string& path)
{
    if (GetFileAttributesW(PlatformPath(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool ExtensionStartsWith(const std::string& extension, const char* start)
{
    return extension.size() >= 4 && _strnicmp(extension.c_str(), start, 4) == 0;
}

// Extracts one archive of either pass. A file that is not an archive has nothing to extract.
Failure Extract(const UnpackContext& context, ArchiveKind kind, const std::string& path, const std::string& destination,
                FileList& output)
{
    switch (kind) {
    case ArchiveKind::Zip:
        return ExtractZip(context, path, destination, output);
    case ArchiveKind::Rar:
        return ExtractRar(context, path, destination, output);
    default:
        return Failure();
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

Failure UnpackGroup(const UnpackContext& context, const FileList& sources, const std::string& destination)
{
    JobProgress& progress = *context.progress;
    Verdict firstPass;
    FileList firstLevel;
    for (const std::string& source : sources) {
        if (progress.stopped()) {
            firstPass.Add({Outcome::Stopped, "stopped"});
            break;
        }
        const ArchiveKind kind = ClassifyArchive(source);
        if (kind != ArchiveKind::None && !IsGone(source)) {
            const Failure extracted = Extract(context, kind, source, destination, firstLevel);
            // A ZIP source goes only when every entry came out; the RAR stage deletes the
            // volumes of a set itself.
            if (extracted.ok() && kind == ArchiveKind::Zip && SourcesMayBeDeleted(context))
                DeleteFileW(PlatformPath(source).c_str());
            firstPass.Add(extracted);
        }
        progress.ConsumeRest(source);
    }
    if (firstPass.stopped())
        return {Outcome::Stopped, "stopped"};

    UnpackContext second = context;
    second.deletionSafe = context.deletionSafe && firstPass.ok();
    Verdict secondPass;
    FileList secondLevel;
    for (const std::string& path : firstLevel) {
        if (progress.stopped()) {
            secondPass.Add({Outcome::Stopped, "stopped"});
            break;
        }
        const ArchiveKind kind = ClassifyArchive(path);
        if (kind != ArchiveKind::None && !IsGone(path))
            secondPass.Add(Extract(second, kind, path, destination, secondLevel));
    }
    // Intermediate files go only when everything came out: otherwise they may be all that is
    // left of a download whose sources are already gone.
    if (firstPass.ok() && secondPass.ok() && !secondLevel.Empty() && context.settings.deleteTemp)
        TempFileCleanup(context, firstLevel, secondLevel);
    Verdict group = firstPass;
    group.Add(secondPass.firstFailure());
    if (secondPass.stopped())
        return {Outcome::Stopped, "stopped"};
    return group.firstFailure();
}
