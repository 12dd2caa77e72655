#include "engine/source_deletion.h"

#include <windows.h>

#include <algorithm>

#include "base/files.h"
#include "base/paths.h"
#include "base/text.h"
#include "engine/release_names.h"

bool SourcesMayBeDeleted(const UnpackContext& context, const std::vector<std::string>& sources)
{
    if (!context.deletionSafe || !context.settings.deleteSrcDuring)
        return false;
    // A file the job never looked at (a volume the library found beside the selection) is not its own.
    for (const std::string& path : sources)
        if (!context.seen->Of(path))
            return false;
    if (context.sfvPresent || !context.settings.keepSrcNoSfv)
        return true;
    return !sources.empty() && std::all_of(sources.begin(), sources.end(), [&](const std::string& path) {
        return context.vouched.count(FileIdentity(path)) != 0;
    });
}

FileProof ProofFor(const UnpackContext& context, const std::string& path)
{
    FileProof proof;
    if (const FileStamp* seen = context.seen->Of(path)) {
        proof.size = seen->size;
        proof.hasCrc = context.journal->KnownCrc(path, proof.size, proof.crc);
        proof.hasId = seen->lasting;
        proof.writeTime = seen->writeTime;
        proof.volume = seen->volume;
        proof.id = seen->id;
    }
    return proof;
}

Failure ConsumeSources(const UnpackContext& context, const std::vector<std::string>& sources,
                       const std::vector<JournalFile>& outputs, const std::function<void(Journal&)>& alsoRecord,
                       size_t alreadyGone)
{
    // Without a journal of the job's own nothing goes: the group's text says why.
    if ((sources.empty() && !alsoRecord) || !context.journal->usable())
        return Failure();
    const std::string kept = sources.size() == 1 ? OwnName(sources.front()) + " was kept" : "the sources were kept";
    // An output that another one replaced since it came out (two names that are one file) no
    // longer holds what the source did.
    for (const JournalFile& output : outputs)
        if (FileSize(output.path) != output.size)
            return {Outcome::CannotWrite, OwnName(output.path) + " changed after it came out; " + kept};
    // What came out of a source that changed after the job looked at it may not be what it holds now.
    for (size_t i = alreadyGone; i < sources.size(); ++i)
        if (!context.seen->Unchanged(sources[i]))
            return {Outcome::CannotRead, OwnName(sources[i]) + " changed while it was unpacked; " + kept};
    Journal& journal = *context.journal;
    std::vector<std::pair<std::string, FileProof>> proven;
    for (size_t i = 0; i < sources.size(); ++i)
        proven.emplace_back(sources[i], i < alreadyGone ? FileProof() : ProofFor(context, sources[i]));
    const bool recorded = journal.Record([&](Journal& next) {
        if (alsoRecord)
            alsoRecord(next);
        next.AddConsumed(proven, outputs);
    });
    if (!recorded)
        return {Outcome::CannotWrite, "cannot write " + journal.path() + "; " + kept};
    for (size_t i = alreadyGone; i < sources.size(); ++i) {
        // A file that stays is only clutter: the journal says it was consumed, and the next run
        // deletes it once it finds it is the same file and its outputs whole.
        context.seen->Delete(sources[i]);
        // Each deletion is a step of its own for the host, which may stop the run right there.
        context.progress->Text(sources[i]);
    }
    return Failure();
}

bool HoldsContent(const UnpackContext& context, const std::string& path, uint64_t size, uint32_t crc)
{
    uint32_t found = 0;
    return FileSize(path) == size && FileCrc32(path, found, [&] {
               context.progress->Text(path);
               return !context.progress->stopped();
           }) && found == crc;
}

bool IsProvenFile(const UnpackContext& context, const std::string& path, const FileProof& proof)
{
    if (proof.hasCrc)
        return HoldsContent(context, path, proof.size, proof.crc);
    FileStamp now;
    return proof.hasId && StampOf(path, now) && now.lasting && now.size == proof.size &&
           now.writeTime == proof.writeTime && now.volume == proof.volume && now.id == proof.id;
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
