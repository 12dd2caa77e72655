#include "engine/unpack_group.h"

#include <windows.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "engine/rar_deleting_copy.h"
#include "engine/rar_stage.h"
#include "engine/release_names.h"
#include "engine/sfv.h"
#include "engine/source_deletion.h"
#include "engine/temp_file_cleanup.h"
#include "engine/zip_stage.h"
#include "engine/zip_stream.h"
#include "base/paths.h"
#include "base/text.h"

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

// Extracts one archive of either pass, a file that IsOpened takes; `read` gets the files that
// it consumed once it came out whole: the ZIP archive, or the volumes of the set.
Failure Extract(const UnpackContext& context, const ReleaseName& name, const std::string& path,
                const std::string& destination, std::vector<JournalFile>& landed, FileList& read)
{
    std::vector<std::string> volumes;
    const Failure failure = name.kind == NameKind::Zip ? ExtractZip(context, path, destination, landed)
                                                       : ExtractRar(context, path, destination, landed, volumes);
    if (failure.ok() && name.kind == NameKind::Zip)
        read.Append(path);
    for (const std::string& volume : volumes)
        read.Append(volume);
    return failure;
}

// Later volumes without their first volume fail the pass, naming what is missing; a first volume
// that an earlier run of this job consumed is not missing.
Failure OrphanedVolumes(const UnpackContext& context, const FileList& paths)
{
    std::string names;
    size_t count = 0;
    for (const std::string& first : MissingFirstVolumes(paths))
        if (!context.journal->IsConsumed(first)) {
            names += (names.empty() ? "" : ", ") + OwnName(first);
            ++count;
        }
    if (count == 0)
        return Failure();
    return {Outcome::CannotRead, names + (count == 1 ? " is missing" : " are missing")};
}

// The outputs of one pass, each listed once however many consumed files they came out of. An
// output of the second level that the first pass gave (a set streamed out of its ZIP files) goes
// to `deeper`, the second pass's.
class PassOutput {
public:
    explicit PassOutput(FileList& list, PassOutput* deeper = nullptr) : list_(list), deeper_(deeper) {}
    void Add(const JournalFile& file)
    {
        if (file.secondLevel && deeper_)
            return deeper_->Add(file);
        if (seen_.emplace(FileIdentity(file.path), file.stood).second) {
            list_.Append(file.path);
            landed_.push_back(file);
        }
    }
    std::vector<JournalFile>& landed() { return landed_; }
    // Whether the output at `path` is a file that stood there with its content (see
    // JournalFile::stood), which the job never changes.
    bool Stood(const std::string& path) const
    {
        const auto found = seen_.find(FileIdentity(path));
        return found != seen_.end() && found->second;
    }

private:
    FileList& list_;
    PassOutput* deeper_;
    std::vector<JournalFile> landed_;
    std::unordered_map<std::wstring, bool> seen_;  // whether it stood
};

// Whether what consumed files live on in is still there with its size and CRC-32, each file
// read once however many consumed files (the volumes of one set) it came out of.
class WholeOutputs {
public:
    explicit WholeOutputs(const UnpackContext& context) : context_(context) {}

    bool Check(const std::vector<JournalFile>& outputs)
    {
        for (const JournalFile& output : outputs) {
            const auto known = known_.emplace(FileIdentity(output.path), false);
            if (known.second)
                known.first->second = context_.journal->CameOutInThisRun(output.path) ||
                                      HoldsContent(context_, output.path, output.size, output.crc);
            if (!known.first->second)
                return false;
        }
        return !outputs.empty();
    }

private:
    const UnpackContext& context_;
    std::unordered_map<std::wstring, bool> known_;
};

// A file that an earlier run of this job consumed: gone, or left over because that run died
// before it was deleted. Either way what came out of it counts as this pass's output, and a
// leftover goes (when `mayDelete`) once it is proven to be the file consumed and those outputs
// are found whole. False when the journal knows nothing of it, or its outputs are no longer
// whole: then it is unpacked as usual. So is a file at that path that is not the one consumed
// (a new download of the same name): the claim goes, and the outputs that only it left may be
// replaced by the new file's (`replaceable`), since they are this job's own.
bool TakeConsumed(const UnpackContext& context, const std::string& path, PassOutput& output, WholeOutputs& whole,
                  bool mayDelete, std::unordered_set<std::wstring>& replaceable)
{
    Journal& journal = *context.journal;
    if (!journal.IsConsumed(path))
        return false;
    const std::vector<JournalFile> outputs = journal.OutputsOf(path);
    if (!IsGone(path)) {
        const FileProof* proof = journal.ProofOf(path);
        if (!proof)
            return false;
        if (!IsProvenFile(context, path, *proof)) {
            if (context.progress->stopped())
                return false;
            for (const JournalFile& file : journal.DropConsumed(path))
                if (!file.stood && whole.Check({file}))
                    replaceable.insert(FileIdentity(file.path));
            context.Note(OwnName(path) + " is not the file an earlier run took, and was unpacked anew");
            return false;
        }
        if (!whole.Check(outputs))
            return false;
        // One that cannot go is only clutter: the next run tries again.
        if (mayDelete) {
            context.seen->Delete(path);
            context.progress->Text(path);
        }
    }
    // What came out of it counts once it is found whole; one that a later pass consumed is gone,
    // and one that changed since is no output of the job's any more: it stays as it is.
    for (const JournalFile& file : outputs)
        if (GetFileAttributesW(PlatformPath(file.path).c_str()) != INVALID_FILE_ATTRIBUTES) {
            if (whole.Check({file}))
                output.Add(file);
            else if (!context.progress->stopped())
                context.Note(OwnName(file.path) + " is not what came out of " + OwnName(path) + "; it was left as it is");
        }
    return true;
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

namespace {

// The two passes over one group: the selected archives, then the archives they yielded.
class GroupPasses {
public:
    GroupPasses(const UnpackContext& context, const std::string& destination, std::vector<ZipStream>& streams)
        : context_(context), destination_(destination), first_(firstLevel_, &results_), results_(secondLevel_), whole_(context),
          streams_(streams)
    {
    }

    Verdict FirstPass(const FileList& sources)
    {
        const Journal& journal = *context_.journal;
        Verdict pass;
        // Known before anything is unpacked: selected files that are not there (moved away since
        // the selection, unless an earlier run of this job consumed them), and later volumes
        // without their first.
        std::vector<bool> missing(sources.Size());
        for (size_t i = 0; i < sources.Size(); ++i)
            if ((missing[i] = IsGone(sources[i]) && !journal.IsConsumed(sources[i])))
                pass.Add({Outcome::CannotRead, OwnName(sources[i]) + " is missing"});
        pass.Add(OrphanedVolumes(context_, sources));
        // A set that a dead run was unpacking while deleting its volumes comes first: its
        // temporary output holds data that exists nowhere else.
        std::vector<JournalFile> resumed;
        pass.Add(ResumeSetUnderDeletion(context_, destination_, resumed));
        for (const JournalFile& file : resumed)
            first_.Add(file);
        // What a dead run consumed is no longer selected (the host lists what is there): what
        // came out of it counts all the same, and what is left of it goes as the settings say of
        // sources, or of the intermediate files in the destination.
        const std::vector<std::string> consumed = journal.consumed();
        for (const std::string& path : consumed) {
            // A file that came out of another the job consumed is an intermediate file in the
            // destination, wherever its name seems to lie; any other is a download's. A leftover
            // of a dead run's is looked at before it is proven to be the file consumed.
            const bool intermediate = journal.IsOutput(path);
            context_.seen->Look(intermediate ? *context_.destination : *context_.source, path);
            const bool mayDelete = SourcesMayBeDeleted(context_, {path}) || (intermediate && context_.settings.deleteTemp);
            TakeConsumed(context_, path, first_, whole_, mayDelete, dropped_);
        }
        size_t archives = 0, vouched = 0;
        for (const std::string& source : sources)
            if (IsOpened(ClassifyName(source))) {
                ++archives;
                vouched += context_.vouched.count(FileIdentity(source));
            }
        archivesVouched_ = archives != 0 && vouched == archives;
        for (size_t i = 0; i < sources.Size(); ++i) {
            if (context_.progress->stopped()) {
                pass.Add({Outcome::Stopped, "stopped"});
                break;
            }
            const Failure source = missing[i] ? Failure() : Source(sources[i]);
            pass.Add(source);
            context_.progress->ConsumeRest(sources[i]);
            if (CheckFailed()) {
                mismatch_ = source;
                break;
            }
        }
        return pass;
    }

    // A ZIP file whose SFV check was left to the stream that reads it did not match: nothing
    // more of the group comes out, as when a check fails before anything is unpacked, and the
    // group says so (mismatch).
    bool CheckFailed() const
    {
        return std::any_of(streams_.begin(), streams_.end(), [](const ZipStream& stream) { return stream.checkFailed; });
    }
    const Failure& mismatch() const { return mismatch_; }

    Verdict SecondPass(bool firstPassOk)
    {
        UnpackContext second = context_;
        second.volumePaths = nullptr;
        second.deletionSafe = context_.deletionSafe && firstPassOk;
        for (const std::string& path : firstLevel_) {
            if (!first_.Stood(path))
                second.replaceable.insert(FileIdentity(path));
            // What came out of archives that PAR2 sets vouched for is as checked as they are.
            if (archivesVouched_)
                second.vouched.insert(FileIdentity(path));
        }
        Verdict pass;
        pass.Add(OrphanedVolumes(context_, firstLevel_));
        // What the second pass may delete: the job's own archives, not one that stood there.
        for (const std::string& path : firstLevel_)
            if (ClassifyName(path).kind != NameKind::None && !first_.Stood(path))
                context_.seen->Look(*context_.destination, path);
        for (size_t i = 0; i < firstLevel_.Size(); ++i) {
            const std::string path = firstLevel_[i];
            if (context_.progress->stopped()) {
                pass.Add({Outcome::Stopped, "stopped"});
                break;
            }
            const ReleaseName name = ClassifyName(path);
            const bool mayDelete =
                second.deletionSafe && (context_.settings.deleteTemp || SourcesMayBeDeleted(second, {path}));
            if (TakeConsumed(second, path, results_, whole_, mayDelete, second.replaceable)) {
                intermediates_.Append(path);
            } else if (IsOpened(name) && !IsGone(path)) {
                std::vector<JournalFile> landed;
                pass.Add(Extract(second, name, path, destination_, landed, intermediates_));
                for (const JournalFile& file : landed)
                    results_.Add(file);
            }
        }
        return pass;
    }

    // Intermediate files go only when everything came out: otherwise they may be all that is
    // left of a download whose sources are already gone. Only what the second pass consumed
    // goes, never a file only because of its name.
    Failure CleanUp()
    {
        if (secondLevel_.Empty() || !context_.settings.deleteTemp)
            return Failure();
        return TempFileCleanup(context_, intermediates_, secondLevel_, results_.landed());
    }

private:
    // A selected file: unpacked, unless an earlier run of this job consumed it. A later volume
    // that is gone now was consumed with its set.
    Failure Source(const std::string& source)
    {
        const ReleaseName name = ClassifyName(source);
        if (TakeConsumed(context_, source, first_, whole_, SourcesMayBeDeleted(context_, {source}), dropped_) ||
            !IsOpened(name) || (name.kind == NameKind::LaterVolume && IsGone(source)))
            return Failure();
        UnpackContext context = context_;
        context.replaceable = dropped_;
        std::vector<JournalFile> landed;
        Failure streamed;
        if (name.kind == NameKind::Zip && UnpackZipStream(context, streams_, source, destination_, landed, streamed)) {
            for (const JournalFile& file : landed)
                first_.Add(file);
            return streamed;
        }
        FileList read;
        const Failure extracted = Extract(context, name, source, destination_, landed, read);
        for (const JournalFile& file : landed)
            first_.Add(file);
        // A ZIP source goes only when every entry came out; the RAR stage consumes the volumes
        // of a set itself.
        if (extracted.ok() && name.kind == NameKind::Zip && SourcesMayBeDeleted(context, {source}))
            return ConsumeSources(context, {source}, landed);
        return extracted;
    }

    const UnpackContext& context_;
    const std::string& destination_;
    FileList firstLevel_;
    FileList secondLevel_;
    FileList intermediates_;  // what the second pass consumed
    PassOutput first_;
    PassOutput results_;
    WholeOutputs whole_;
    // What earlier runs left of consumed files that were not the files at their paths now.
    std::unordered_set<std::wstring> dropped_;
    bool archivesVouched_ = false;  // PAR2 sets vouched for every archive of the first pass
    Failure mismatch_;
    std::vector<ZipStream>& streams_;
};

Failure UnpackPasses(const UnpackContext& context, const FileList& selection, const std::string& destination,
                     std::vector<ZipStream>& streams)
{
    GroupPasses passes(context, destination, streams);
    const Verdict firstPass = passes.FirstPass(selection);
    if (firstPass.stopped())
        return {Outcome::Stopped, "stopped"};
    if (passes.CheckFailed())
        return passes.mismatch();
    Verdict secondPass = passes.SecondPass(firstPass.ok());
    if (firstPass.ok() && secondPass.ok())
        secondPass.Add(passes.CleanUp());
    Verdict group = firstPass;
    group.Add(secondPass.firstFailure());
    if (secondPass.stopped())
        return {Outcome::Stopped, "stopped"};
    return group.firstFailure();
}

}  // namespace

Failure UnpackGroup(const UnpackContext& context, const FileList& selection, const std::string& destination,
                    std::vector<ZipStream>& streams)
{
    const SetFolders folders = PlanSetFolders(context, selection, destination);
    UnpackContext placed = context;
    placed.volumePaths = &folders.paths;
    const Failure failure = UnpackPasses(placed, selection, destination, streams);
    // The folder of a set's volumes goes once they went; one that still holds them stays.
    for (const std::string& folder : folders.folders)
        gate::RemoveFolder(*context.destination, folder);
    return failure;
}
