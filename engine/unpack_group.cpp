#include "engine/unpack_group.h"

#include <windows.h>

#include <unordered_map>
#include <unordered_set>

#include "engine/sfv.h"

#include "engine/rar_deleting_copy.h"
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
                std::vector<JournalFile>& landed)
{
    switch (kind) {
    case ArchiveKind::Zip:
        return ExtractZip(context, path, destination, landed);
    case ArchiveKind::Rar:
        return ExtractRar(context, path, destination, landed);
    default:
        return Failure();
    }
}

// The outputs of one pass, each listed once however many consumed files they came out of.
class PassOutput {
public:
    explicit PassOutput(FileList& list) : list_(list) {}
    void Add(const JournalFile& file)
    {
        if (seen_.insert(FileIdentity(file.path)).second) {
            list_.Append(file.path);
            landed_.push_back(file);
        }
    }
    FileList& list() { return list_; }
    std::vector<JournalFile>& landed() { return landed_; }

private:
    FileList& list_;
    std::vector<JournalFile> landed_;
    std::unordered_set<std::wstring> seen_;
};

// Whether what consumed files live on in is still there with its size and CRC-32, each file
// read once however many consumed files (the volumes of one set) it came out of.
class WholeOutputs {
public:
    bool Check(const std::vector<JournalFile>& outputs)
    {
        for (const JournalFile& output : outputs) {
            const auto known = known_.emplace(FileIdentity(output.path), false);
            if (known.second) {
                uint32_t crc = 0;
                known.first->second =
                    FileSize(output.path) == output.size && FileCrc32(output.path, crc) && crc == output.crc;
            }
            if (!known.first->second)
                return false;
        }
        return !outputs.empty();
    }

private:
    std::unordered_map<std::wstring, bool> known_;
};

// A file that an earlier run of this job consumed: gone, or left over because that run died
// before it was deleted. Either way what came out of it counts as this pass's output, and a
// leftover goes (when `mayDelete`) once those outputs are found whole. False when the journal
// knows nothing of it, or its outputs are no longer whole: then it is unpacked as usual.
bool TakeConsumed(const UnpackContext& context, const std::string& path, PassOutput& output, WholeOutputs& whole,
                  bool mayDelete)
{
    if (!context.journal->IsConsumed(path))
        return false;
    const std::vector<JournalFile> outputs = context.journal->OutputsOf(path);
    if (!IsGone(path)) {
        if (!whole.Check(outputs))
            return false;
        if (mayDelete)
            DeleteFileW(PlatformPath(path).c_str());
    }
    for (const JournalFile& file : outputs)
        if (GetFileAttributesW(PlatformPath(file.path).c_str()) != INVALID_FILE_ATTRIBUTES)
            output.Add(file);
    return true;
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
    PassOutput first(firstLevel);
    // A set that a dead run was unpacking while deleting its volumes comes first: its temporary
    // output holds data that exists nowhere else.
    {
        std::vector<JournalFile> landed;
        firstPass.Add(ResumeSetUnderDeletion(context, destination, landed));
        for (const JournalFile& file : landed)
            first.Add(file);
    }
    // What a dead run consumed is no longer selected (the host lists what is there): what came
    // out of it counts all the same, and what is left of it goes.
    const std::vector<std::string> consumed = context.journal->consumed();
    WholeOutputs whole;
    for (const std::string& path : consumed)
        TakeConsumed(context, path, first, whole, true);
    for (const std::string& source : sources) {
        if (progress.stopped()) {
            firstPass.Add({Outcome::Stopped, "stopped"});
            break;
        }
        RestorePrefixedVolume(source);
        const ArchiveKind kind = ClassifyArchive(source);
        if (!TakeConsumed(context, source, first, whole, SourcesMayBeDeleted(context)) && kind != ArchiveKind::None &&
            !IsGone(source)) {
            std::vector<JournalFile> landed;
            Failure extracted = Extract(context, kind, source, destination, landed);
            for (const JournalFile& file : landed)
                first.Add(file);
            // A ZIP source goes only when every entry came out; the RAR stage consumes the
            // volumes of a set itself.
            if (extracted.ok() && kind == ArchiveKind::Zip && SourcesMayBeDeleted(context))
                extracted = ConsumeSources(context, {source}, landed);
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
    PassOutput results(secondLevel);
    const bool mayDeleteIntermediate = SourcesMayBeDeleted(second) || context.settings.deleteTemp;
    for (size_t i = 0; i < firstLevel.Size(); ++i) {
        const std::string path = firstLevel[i];
        if (progress.stopped()) {
            secondPass.Add({Outcome::Stopped, "stopped"});
            break;
        }
        RestorePrefixedVolume(path);
        const ArchiveKind kind = ClassifyArchive(path);
        if (!TakeConsumed(second, path, results, whole, second.deletionSafe && mayDeleteIntermediate) &&
            kind != ArchiveKind::None && !IsGone(path)) {
            std::vector<JournalFile> landed;
            secondPass.Add(Extract(second, kind, path, destination, landed));
            for (const JournalFile& file : landed)
                results.Add(file);
        }
    }
    // Intermediate files go only when everything came out: otherwise they may be all that is
    // left of a download whose sources are already gone.
    if (firstPass.ok() && secondPass.ok() && !secondLevel.Empty() && context.settings.deleteTemp)
        secondPass.Add(TempFileCleanup(context, firstLevel, secondLevel, results.landed()));
    Verdict group = firstPass;
    group.Add(secondPass.firstFailure());
    if (secondPass.stopped())
        return {Outcome::Stopped, "stopped"};
    return group.firstFailure();
}
