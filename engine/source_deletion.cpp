#include "engine/source_deletion.h"

#include <windows.h>

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "engine/release_names.h"

bool SourcesMayBeDeleted(const UnpackContext& context)
{
    return context.deletionSafe && context.settings.deleteSrcDuring &&
           (context.sfvPresent || !context.settings.keepSrcNoSfv);
}

Failure ConsumeSources(const UnpackContext& context, const std::vector<std::string>& sources,
                       const std::vector<JournalFile>& outputs)
{
    if (sources.empty())
        return Failure();
    const std::string kept = sources.size() == 1 ? OwnName(sources.front()) + " was kept" : "the sources were kept";
    // An output that another one replaced since it came out (two names that are one file) no
    // longer holds what the source did.
    for (const JournalFile& output : outputs)
        if (FileSize(output.path) != output.size)
            return {Outcome::CannotWrite, OwnName(output.path) + " changed after it came out; " + kept};
    context.journal->AddConsumed(sources, outputs);
    if (!context.journal->Commit())
        return {Outcome::CannotWrite, "cannot write " + context.journal->path() + "; " + kept};
    for (const std::string& source : sources) {
        // Deleting a large file takes a while on some file systems: the host stays called.
        context.progress->Working(source);
        // A file that stays is only clutter: the journal says it was consumed, and the next run
        // deletes it once it finds its outputs whole.
        DeleteFileW(PlatformPath(source).c_str());
    }
    return Failure();
}

uint64_t FreeSpace(const std::string& directory)
{
    // A destination that does not exist yet lies on the drive of its nearest existing parent.
    std::string existing = directory;
    ULARGE_INTEGER available;
    while (!GetDiskFreeSpaceExW(PlatformPath(existing).c_str(), &available, nullptr, nullptr)) {
        const size_t separator = existing.find_last_of("\\/", existing.size() >= 2 ? existing.size() - 2 : 0);
        if (separator == std::string::npos || separator == 0)
            return UINT64_MAX;
        existing.resize(separator + 1);
    }
    return available.QuadPart;
}

bool SameDrive(const std::string& a, const std::string& b)
{
    wchar_t rootA[MAX_PATH], rootB[MAX_PATH];
    ULARGE_INTEGER totalA, totalB;
    return GetVolumePathNameW(PlatformPath(a).c_str(), rootA, MAX_PATH) &&
           GetVolumePathNameW(PlatformPath(b).c_str(), rootB, MAX_PATH) &&
           FileIdentity(std::wstring(rootA)) == FileIdentity(std::wstring(rootB)) &&
           GetDiskFreeSpaceExW(PlatformPath(a).c_str(), nullptr, &totalA, nullptr) &&
           GetDiskFreeSpaceExW(PlatformPath(b).c_str(), nullptr, &totalB, nullptr) &&
           totalA.QuadPart == totalB.QuadPart;
}

uint64_t RoomMargin(uint64_t bytes)
{
    return (1u << 20) + bytes / 64;
}
