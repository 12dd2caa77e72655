#include "engine/par2_stage.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "base/files.h"
#include "base/handles.h"
#include "base/md5.h"
#include "base/output_file.h"
#include "base/paths.h"
#include "base/text.h"
#include "engine/journal.h"
#include "engine/par2/par2_packets.h"
#include "engine/par2/par2_repair.h"
#include "engine/par2/par2_verify.h"
#include "engine/release_names.h"
#include "engine/source_deletion.h"

namespace {

const char kPacketMagic[8] = {'P', 'A', 'R', '2', '\0', 'P', 'K', 'T'};
const size_t kPiece = 1u << 20;

bool Exists(const std::string& path)
{
    return GetFileAttributesW(PlatformPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Renames a file of the download folder: never over another file.
bool Move(const UnpackContext& context, const std::string& from, const std::string& to)
{
    if (!gate::Rename(*context.source, from, to))
        return false;
    context.seen->Moved(from, to);
    return true;
}

// A file of a set lies at its name, below the set's folder.
std::string SetPath(const std::string& folder, std::string name)
{
    std::replace(name.begin(), name.end(), '/', '\\');
    return folder + name;
}

std::string Counted(size_t count, const std::string& noun)
{
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// The host sees a step as the percentage of the bytes it reads, and its stop ends the step.
class StepProgress {
public:
    StepProgress(JobProgress& progress, std::string item, uint64_t total)
        : progress_(progress), item_(std::move(item)), total_(total)
    {
        progress_.Percent(item_, 0);
    }
    Par2Progress Callback()
    {
        return [this](uint64_t bytes) {
            done_ += bytes;
            progress_.Percent(item_, total_ == 0 ? 100 : static_cast<int>(std::min<uint64_t>(done_, total_) * 100 / total_));
            return !progress_.stopped();
        };
    }

private:
    JobProgress& progress_;
    std::string item_;
    uint64_t total_;
    uint64_t done_ = 0;
};

// Reads the rebuild's input from the set's files and its PAR2 files, and writes the rebuilt
// slices into the outputs of the files being repaired.
class RepairSlices : public Par2SetSlices {
public:
    RepairSlices(const Par2Set& set, std::vector<ByteSource*> files, std::vector<ByteSource*> par2Files,
                 std::vector<OutputFile*> outputs)
        : Par2SetSlices(set, std::move(files), std::move(par2Files)), set_(set), outputs_(std::move(outputs))
    {
    }
    bool WriteRebuilt(uint32_t index, uint64_t offset, const uint8_t* data, size_t size) override
    {
        for (size_t f = 0; f < set_.recoveryFileCount; ++f) {
            const Par2File& file = set_.files[f];
            if (index < file.firstSlice || index - file.firstSlice >= file.sliceCount)
                continue;
            const uint64_t at = (index - file.firstSlice) * set_.sliceSize + offset;
            if (!outputs_[f])
                return false;
            // The zeros that pad a file's last slice are no part of it.
            return at >= file.length ||
                   outputs_[f]->Patch(at, data, static_cast<size_t>(std::min<uint64_t>(size, file.length - at)));
        }
        return false;
    }

private:
    const Par2Set& set_;
    std::vector<OutputFile*> outputs_;  // one for each file of the set; null where none is repaired
};

// The MD5 of a file that is still being written: its writer may write and rename it.
bool WrittenMd5(const std::string& path, Md5Digest& digest, const Par2Progress& progress)
{
    FileHandle file(OpenToRead(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file.valid())
        return false;
    std::vector<uint8_t> buffer(kPiece);
    Md5 md5;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return false;
        if (got == 0)
            break;
        md5.Update(buffer.data(), got);
        if (!progress(got))
            return false;
    }
    digest = md5.Final();
    return true;
}

// One file of a set that is written anew: rebuilt where slices are lost, or copied where
// another file of the set holds the same content.
struct Rebuilt {
    size_t file = 0;        // in set.files
    std::string target;     // the path the set gives it
    std::string original;   // the damaged file it replaces, to be kept as `damaged`; empty for none
    std::string damaged;
    std::unique_ptr<OutputFile> output;
};

// A file that a set found under another name, renamed to the set's name; a damaged copy that
// stands there is kept as `damaged` (empty for none).
struct Rename {
    std::string from;
    std::string to;
    std::string damaged;
};

class Par2Stage {
public:
    Par2Stage(const UnpackContext& context, FileList& selection)
        : context_(context), journal_(*context.journal), progress_(*context.progress),
          files_(selection.begin(), selection.end())
    {
    }

    // What a dead run left: the damaged files it kept go to `leftovers`.
    void TakeUpJournal(std::vector<std::string>& leftovers);
    // Verifies and repairs by the sets of the PAR2 files of one folder; the files they found or
    // made whole go to `vouched`, the damaged files that repairs keep to `leftovers`.
    Failure Folder(const std::vector<std::string>& par2Files, std::vector<std::string>& vouched,
                   std::vector<std::string>& leftovers);

    FileList Selection() const
    {
        FileList list;
        for (const std::string& path : files_)
            list.Append(path);
        return list;
    }

private:
    Failure Set(const Par2Set& set, const std::string& folder, const std::vector<ByteSource*>& par2,
                const std::string& par2Name, std::vector<std::string>& vouched, std::vector<std::string>& leftovers);
    Failure Rebuild(const Par2Set& set, const Par2Verification& verification, const std::vector<Par2Candidate>& candidates,
                    const std::vector<ByteSource*>& par2, std::vector<Rebuilt>& rebuilt);

    size_t Find(const std::string& path) const
    {
        for (size_t i = 0; i < files_.size(); ++i)
            if (FileIdentity(files_[i]) == FileIdentity(path))
                return i;
        return files_.size();
    }
    void Remove(const std::string& path)
    {
        const size_t at = Find(path);
        if (at < files_.size())
            files_.erase(files_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    void Add(const std::string& path)
    {
        if (Find(path) == files_.size())
            files_.push_back(path);
    }

    const UnpackContext& context_;
    Journal& journal_;
    JobProgress& progress_;
    std::vector<std::string> files_;
};

void Par2Stage::TakeUpJournal(std::vector<std::string>& leftovers)
{
    // A file renamed to the set's name stands under it: the selection may still name it by the
    // name it was downloaded by.
    for (const auto& named : journal_.named()) {
        const size_t at = Find(named.first);
        if (at < files_.size() && !Exists(named.first) && Exists(named.second))
            files_[at] = named.second;
    }
    for (const Par2Repair& repair : journal_.repaired()) {
        // A repaired file that the job consumed since had landed.
        const bool landed = (Exists(repair.path) || journal_.IsConsumed(repair.path)) &&
                            (repair.damaged.empty() || Exists(repair.damaged));
        // Only the damaged file the job kept aside is moved or deleted, not another in its place.
        const bool kept = !repair.damaged.empty() && Exists(repair.damaged) &&
                          IsProvenFile(context_, repair.damaged, repair.kept);
        if (!landed) {
            // The run died between keeping the damaged file and placing the repaired one: the
            // download gets its damaged file back, and the repair is made again.
            if (kept && !Exists(repair.original))
                Move(context_, repair.damaged, repair.original);
            continue;
        }
        if (!repair.original.empty() && !Exists(repair.original))
            Remove(repair.original);
        if (Exists(repair.path))
            Add(repair.path);
        if (!repair.damaged.empty()) {
            Remove(repair.damaged);
            if (kept)
                leftovers.push_back(repair.damaged);
        }
    }
}

Failure Par2Stage::Folder(const std::vector<std::string>& par2Files, std::vector<std::string>& vouched,
                          std::vector<std::string>& leftovers)
{
    std::vector<std::unique_ptr<FileReader>> readers;
    std::vector<ByteSource*> par2;
    uint64_t total = 0;
    for (const std::string& path : par2Files) {
        readers.push_back(std::make_unique<FileReader>(path));
        par2.push_back(readers.back().get());
        total += readers.back()->Size();
    }
    const std::string par2Name = OwnName(par2Files.front());
    StepProgress step(progress_, "Reading " + par2Name, total);
    const Par2Reading reading = ReadPar2Files(par2, step.Callback());
    if (reading.stopped || progress_.stopped())
        return {Outcome::Stopped, "stopped while reading " + par2Name};
    bool used = false;
    for (const Par2Set& set : reading.sets) {
        if (!set.hasMain)
            continue;
        used = true;
        const Failure failure = Set(set, DirectoryOf(par2Files.front()), par2, par2Name, vouched, leftovers);
        if (!failure.ok())
            return failure;
    }
    if (!used)
        context_.Note(par2Name + " holds no recovery set that could be used");
    return Failure();
}

Failure Par2Stage::Set(const Par2Set& set, const std::string& folder, const std::vector<ByteSource*>& par2,
                       const std::string& par2Name, std::vector<std::string>& vouched,
                       std::vector<std::string>& leftovers)
{
    if (!set.verifiable) {
        context_.Note("a PAR2 set was not used: " +
                      (set.problems.empty() ? std::string("it is incomplete") : set.problems.front()));
        return Failure();
    }
    // The candidates: the selected files in the set's folder or below it, named as the set
    // names them where only the letter case differs.
    std::map<std::wstring, std::string> setNames;
    for (const Par2File& file : set.files)
        setNames.emplace(FileIdentity(SetPath(folder, file.name)), file.name);
    std::vector<std::unique_ptr<FileReader>> readers;
    std::vector<Par2Candidate> candidates;
    std::vector<std::string> paths;
    uint64_t total = 0;
    for (const std::string& path : files_) {
        if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0)
            continue;
        const auto named = setNames.find(FileIdentity(path));
        std::string name = named != setNames.end() ? named->second : path.substr(folder.size());
        std::replace(name.begin(), name.end(), '\\', '/');
        readers.push_back(std::make_unique<FileReader>(path));
        total += readers.back()->Size();
        candidates.push_back({name, readers.back().get()});
        paths.push_back(path);
    }
    Par2Verification verification;
    {
        StepProgress step(progress_, "Verifying " + par2Name, total);
        verification = VerifyPar2Set(set, candidates, step.Callback());
    }
    if (verification.stopped || progress_.stopped())
        return {Outcome::Stopped, "stopped while verifying " + par2Name};

    // What each file of the set needs. A candidate goes to the first file that needs it.
    std::vector<bool> claimed(candidates.size());
    for (const Par2FileVerdict& verdict : verification.files)
        if (verdict.state == Par2FileState::Intact && !verdict.foundElsewhere)
            claimed[verdict.candidate] = true;
    // The files that the set found whole where its names put them, which nothing of it changes:
    // a name of the set that differs from one of them only in letter case is that file on Windows.
    std::map<std::wstring, std::string> intactHere;
    for (size_t f = 0; f < set.files.size(); ++f) {
        const Par2FileVerdict& verdict = verification.files[f];
        const std::wstring at = FileIdentity(SetPath(folder, set.files[f].name));
        if (verdict.state == Par2FileState::Intact && verdict.candidate < paths.size() &&
            FileIdentity(paths[verdict.candidate]) == at)
            intactHere.emplace(at, set.files[f].name);
    }
    std::vector<Rename> renames;
    std::vector<Rebuilt> rebuilt;
    bool repairs = false;
    for (size_t f = 0; f < set.files.size(); ++f) {
        const Par2File& file = set.files[f];
        Par2FileVerdict& verdict = verification.files[f];
        const std::string target = SetPath(folder, file.name);
        if (verdict.state == Par2FileState::Intact && !verdict.foundElsewhere)
            continue;
        const auto same = intactHere.find(FileIdentity(target));
        if (same != intactHere.end()) {
            if (same->second != file.name)
                context_.Note(file.name + " of " + par2Name + " is " + same->second +
                              " on Windows, which is whole: it was not restored");
            continue;
        }
        if (verdict.state == Par2FileState::Missing && !Exists(target) && journal_.IsConsumed(target)) {
            // An earlier run of this job repaired or verified it, and consumed it.
            verdict.state = Par2FileState::Intact;
            continue;
        }
        if (verdict.readFailed)
            return {Outcome::CannotRead, "cannot read " + OwnName(target)};
        // What stands under the set's name goes aside only when it is selected: a damaged copy.
        const auto own = std::find_if(paths.begin(), paths.end(),
                                      [&](const std::string& path) { return FileIdentity(path) == FileIdentity(target); });
        if (own == paths.end() && Exists(target))
            return {Outcome::CannotWrite, "the PAR2 set of " + par2Name + " cannot restore " + OwnName(target) +
                                              ": a file of that name is there that is not selected"};
        const std::string damaged = own == paths.end() ? std::string() : target + ".damaged";
        if (!damaged.empty() && Exists(damaged))
            return {Outcome::CannotWrite, "cannot keep the damaged " + OwnName(target) + ": " + OwnName(damaged) +
                                              " is in the way"};
        if (verdict.state != Par2FileState::Intact && f >= set.recoveryFileCount)
            return {Outcome::BadData, OwnName(target) + (verdict.state == Par2FileState::Missing
                                                             ? " is missing"
                                                             : " does not match the PAR2 set of " + par2Name)};
        const bool free = verdict.candidate < paths.size() && !claimed[verdict.candidate];
        if (free)
            claimed[verdict.candidate] = true;
        if (verdict.state == Par2FileState::Intact && free) {
            renames.push_back({paths[verdict.candidate], target, damaged});
            continue;
        }
        // Rebuilt from what is left of it, or copied from a candidate that another file of equal
        // content keeps.
        Rebuilt file_;
        file_.file = f;
        file_.target = target;
        if (!damaged.empty()) {
            file_.original = target;
            file_.damaged = damaged;
        } else if (free && verdict.state == Par2FileState::Damaged) {
            file_.original = paths[verdict.candidate];
            file_.damaged = target + ".damaged";
        }
        repairs = repairs || verdict.state != Par2FileState::Intact;
        rebuilt.push_back(std::move(file_));
    }
    if (!rebuilt.empty()) {
        if (!set.repairable && repairs)
            return {Outcome::BadData, OwnName(rebuilt.front().target) + " is damaged, and the PAR2 set of " + par2Name +
                                          " cannot repair it"};
        const Failure failure = Rebuild(set, verification, candidates, par2, rebuilt);
        if (!failure.ok())
            return failure;
    }
    readers.clear();  // the files are renamed below

    // Every change is recorded before it is made: a run that dies in the middle leaves the
    // download under one name or the other, and the journal tells which.
    if ((!renames.empty() || !rebuilt.empty()) && !journal_.Record([&](Journal& next) {
            for (const Rename& rename : renames) {
                next.AddNamed(rename.from, rename.to);
                if (!rename.damaged.empty())
                    next.AddRepaired({rename.to, rename.to, rename.damaged, ProofFor(context_, rename.to)});
            }
            for (const Rebuilt& file : rebuilt)
                next.AddRepaired({file.target, file.original, file.damaged,
                                  file.original.empty() ? FileProof() : ProofFor(context_, file.original)});
        }))
        return {Outcome::CannotWrite, "cannot write the journal " + journal_.path()};
    for (const Rename& rename : renames) {
        if (!rename.damaged.empty() && !Move(context_, rename.to, rename.damaged))
            return {Outcome::CannotWrite, "cannot keep the damaged " + OwnName(rename.to) + " as " +
                                              OwnName(rename.damaged)};
        if (!Move(context_, rename.from, rename.to)) {
            if (!rename.damaged.empty())
                Move(context_, rename.damaged, rename.to);
            return {Outcome::CannotWrite, "cannot rename " + OwnName(rename.from) + " to " + OwnName(rename.to)};
        }
        if (!rename.damaged.empty()) {
            Remove(rename.to);
            leftovers.push_back(rename.damaged);
        }
        files_[Find(rename.from)] = rename.to;
        context_.Note(OwnName(rename.from) + " was renamed to " + OwnName(rename.to));
    }
    for (Rebuilt& file : rebuilt) {
        if (!file.original.empty() && !Move(context_, file.original, file.damaged))
            return {Outcome::CannotWrite, "cannot keep the damaged " + OwnName(file.target) + " as " +
                                              OwnName(file.damaged)};
        if (!file.output->Place(Existing::KeepBoth, true)) {
            if (!file.original.empty())
                Move(context_, file.damaged, file.original);
            return {Outcome::CannotWrite, "cannot write " + OwnName(file.target)};
        }
        if (!file.original.empty()) {
            Remove(file.original);
            leftovers.push_back(file.damaged);
        }
        Add(file.target);
        context_.Note(OwnName(file.target) + " was repaired");
    }
    // Every file of the set stands whole under the set's name now.
    for (const Par2File& file : set.files)
        vouched.push_back(SetPath(folder, file.name));
    return Failure();
}

Failure Par2Stage::Rebuild(const Par2Set& set, const Par2Verification& verification,
                           const std::vector<Par2Candidate>& candidates, const std::vector<ByteSource*>& par2,
                           std::vector<Rebuilt>& rebuilt)
{
    const std::string& first = OwnName(rebuilt.front().target);
    const std::vector<uint32_t> missing = Par2MissingSlices(set, verification);
    std::vector<uint32_t> exponents;
    for (const Par2RecoverySlice& slice : set.recoverySlices)
        exponents.push_back(slice.exponent);
    Par2RepairPlan plan;
    switch (PlanPar2Repair(set.inputSliceCount, missing, exponents, plan)) {
    case Par2PlanResult::Ready:
        break;
    case Par2PlanResult::TooManyMissing:
        return {Outcome::BadData, "cannot repair " + first + ": " + Counted(missing.size(), "slice") +
                                      " missing or damaged, more than " + std::to_string(kPar2MaxMissingSlices) +
                                      " can be rebuilt at once"};
    case Par2PlanResult::TooFewRecoverySlices:
        return {Outcome::BadData, "cannot repair " + first + ": " + Counted(missing.size(), "slice") +
                                      " missing or damaged, " + Counted(exponents.size(), "recovery slice")};
    case Par2PlanResult::Singular:
    case Par2PlanResult::BadInput:
        return {Outcome::BadData, "cannot repair " + first + ": " + Counted(missing.size(), "slice") +
                                      " missing or damaged, and the " + Counted(exponents.size(), "recovery slice") +
                                      " cannot rebuild them"};
    }

    uint64_t bytes = 0;
    for (const Rebuilt& file : rebuilt)
        bytes += set.files[file.file].length;
    if (FreeSpace(DirectoryOf(rebuilt.front().target)) < bytes + RoomMargin(bytes))
        return {Outcome::NoRoom, "not room enough to repair " + first};

    const std::vector<ByteSource*> sources = Par2FileSources(verification, candidates);
    std::vector<OutputFile*> outputs(set.files.size());
    StepProgress step(progress_, "Repairing " + first, 2 * bytes + missing.size() * set.sliceSize);
    const Par2Progress progress = step.Callback();
    std::vector<uint8_t> piece(kPiece);
    // Each output starts as the copy it replaces, cut or padded to its length; the rebuild then
    // writes its lost slices over it.
    for (Rebuilt& file : rebuilt) {
        const Par2File& described = set.files[file.file];
        file.output = std::make_unique<OutputFile>(*context_.source, file.target, context_.Temporaries());
        if (!file.output->Create())
            return {Outcome::CannotWrite, "cannot write " + OwnName(file.output->temporary())};
        outputs[file.file] = file.output.get();
        ByteSource* source = sources[file.file];
        const uint64_t copied = source ? std::min(source->Size(), described.length) : 0;
        for (uint64_t at = 0; at < described.length;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(kPiece, described.length - at));
            const size_t fromSource = at < copied ? static_cast<size_t>(std::min<uint64_t>(n, copied - at)) : 0;
            size_t got = 0;
            if (fromSource > 0 && (!source->ReadAt(at, piece.data(), fromSource, got) || got != fromSource))
                return {Outcome::CannotRead, "cannot read " + OwnName(file.target)};
            std::memset(piece.data() + fromSource, 0, n - fromSource);
            if (!file.output->Write(piece.data(), n))
                return {Outcome::CannotWrite, "cannot write " + OwnName(file.output->temporary())};
            at += n;
            if (!progress(n))
                return {Outcome::Stopped, "stopped while repairing " + first};
        }
    }
    RepairSlices io(set, sources, par2, outputs);
    switch (RebuildPar2Slices(plan, set.inputSliceCount, set.sliceSize, io, kPar2RebuildMemory, progress)) {
    case Par2RebuildResult::Done:
        break;
    case Par2RebuildResult::Stopped:
        return {Outcome::Stopped, "stopped while repairing " + first};
    case Par2RebuildResult::ReadFailed:
        return {Outcome::CannotRead, "cannot read what repairs " + first};
    case Par2RebuildResult::WriteFailed:
        return {Outcome::CannotWrite, "cannot write the repaired " + first};
    }
    // A repaired file takes its name only with the content the set describes, on the disk.
    for (Rebuilt& file : rebuilt) {
        Md5Digest digest{};
        if (!WrittenMd5(file.output->temporary(), digest, progress))
            return progress_.stopped() ? Failure{Outcome::Stopped, "stopped while repairing " + first}
                                       : Failure{Outcome::CannotRead, "cannot read " + OwnName(file.output->temporary())};
        if (digest != set.files[file.file].md5)
            return {Outcome::BadData, "the repair of " + OwnName(file.target) + " did not give its content"};
        if (!file.output->Finish(nullptr, nullptr, nullptr))
            return {Outcome::CannotWrite, "cannot write " + OwnName(file.output->temporary())};
    }
    return Failure();
}

}  // namespace

bool IsPar2File(const std::string& path)
{
    if (CompareStringOrdinal(Widen(ExtensionOf(path)).c_str(), -1, L"par2", -1, TRUE) == CSTR_EQUAL)
        return true;
    FileReader file(path);
    char start[sizeof kPacketMagic];
    size_t got = 0;
    return file.ReadAt(0, start, sizeof start, got) && got == sizeof start &&
           std::memcmp(start, kPacketMagic, sizeof start) == 0;
}

Par2Outcome RepairByPar2(const UnpackContext& context, const std::vector<std::string>& par2Files, FileList& selection)
{
    Par2Outcome outcome;
    Par2Stage stage(context, selection);
    stage.TakeUpJournal(outcome.leftovers);
    if (context.settings.checkCrc) {
        // The files of one folder make the sets of that folder.
        std::map<std::wstring, std::vector<std::string>> folders;
        for (const std::string& path : par2Files)
            folders[FileIdentity(DirectoryOf(path))].push_back(path);
        for (const auto& folder : folders) {
            outcome.failure = stage.Folder(folder.second, outcome.vouched, outcome.leftovers);
            if (!outcome.failure.ok()) {
                outcome.vouched.clear();
                break;
            }
        }
    }
    selection = stage.Selection();
    outcome.leftovers.insert(outcome.leftovers.begin(), par2Files.begin(), par2Files.end());
    return outcome;
}
