#include "engine/unpack_group.h"

#include <windows.h>

#include <unordered_set>

#include "engine/rar_stage.h"
#include "engine/release_names.h"
#include "engine/source_deletion.h"
#include "engine/temp_file_cleanup.h"
#include "engine/zip_stage.h"
#include "engine/text.h"

namespace {

// A file that is gone was taken away, or consumed earlier in this run: the later volumes of a
// set whose volumes were deleted while it was unpacked.
bool IsGone(const std::string& path)
{
    if (GetFileAttributesW(PlatformPath(path).c_str()) != INVALID_FILE_ATTRIBUTES)
        return false;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Every .rar file is opened: whether a .partN.rar is a later volume, which the RAR stage passes
// over, the archive's flags tell.
bool IsOpened(const ReleaseName& name)
{
    return name.kind == NameKind::Zip || name.kind == NameKind::FirstVolume || name.scheme == VolumeScheme::Parts;
}

// Extracts one archive of either pass, a file that IsOpened takes.
Failure Extract(const UnpackContext& context, const ReleaseName& name, const std::string& path,
                const std::string& destination, FileList& output)
{
    return name.kind == NameKind::Zip ? ExtractZip(context, path, destination, output)
                                      : ExtractRar(context, path, destination, output);
}

// Later volumes without their first volume fail the pass, naming what is missing.
Failure OrphanedVolumes(const FileList& paths)
{
    const std::vector<std::string> missing = MissingFirstVolumes(paths);
    std::string names;
    for (const std::string& first : missing)
        names += (names.empty() ? "" : ", ") + OwnName(first);
    if (missing.empty())
        return Failure();
    return {Outcome::CannotRead, names + (missing.size() == 1 ? " is missing" : " are missing")};
}

}  // namespace

std::vector<std::string> MissingFirstVolumes(const FileList& paths)
{
    std::unordered_set<std::wstring> sets;
    for (const std::string& path : paths) {
        const ReleaseName name = ClassifyName(path);
        if (name.kind == NameKind::FirstVolume)
            sets.insert(name.setKey);
    }
    std::vector<std::string> missing;
    for (const std::string& path : paths) {
        const ReleaseName name = ClassifyName(path);
        // Each set is told once: its first volume now counts as present.
        if (name.kind == NameKind::LaterVolume && sets.insert(name.setKey).second)
            missing.push_back(FirstVolumeOf(path));
    }
    return missing;
}

Failure UnpackGroup(const UnpackContext& context, const FileList& sources, const std::string& destination)
{
    JobProgress& progress = *context.progress;
    Verdict firstPass;
    // Known before anything is unpacked: selected files that are not there (moved away since
    // the selection), and later volumes without their first.
    std::vector<bool> missing(sources.Size());
    for (size_t i = 0; i < sources.Size(); ++i)
        if ((missing[i] = IsGone(sources[i])))
            firstPass.Add({Outcome::CannotRead, OwnName(sources[i]) + " is missing"});
    firstPass.Add(OrphanedVolumes(sources));
    FileList firstLevel;
    for (size_t i = 0; i < sources.Size(); ++i) {
        const std::string& source = sources[i];
        if (progress.stopped()) {
            firstPass.Add({Outcome::Stopped, "stopped"});
            break;
        }
        const ReleaseName name = ClassifyName(source);
        // A later volume that is gone now was consumed with its set.
        if (!missing[i] && IsOpened(name) && !(name.kind == NameKind::LaterVolume && IsGone(source))) {
            const Failure extracted = Extract(context, name, source, destination, firstLevel);
            // A ZIP source goes only when every entry came out; the RAR stage deletes the
            // volumes of a set itself.
            if (extracted.ok() && name.kind == NameKind::Zip && SourcesMayBeDeleted(context))
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
    secondPass.Add(OrphanedVolumes(firstLevel));
    for (const std::string& path : firstLevel) {
        if (progress.stopped()) {
            secondPass.Add({Outcome::Stopped, "stopped"});
            break;
        }
        const ReleaseName name = ClassifyName(path);
        if (IsOpened(name) && !IsGone(path))
            secondPass.Add(Extract(second, name, path, destination, secondLevel));
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
