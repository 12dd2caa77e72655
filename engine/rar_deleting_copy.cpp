#include "engine/rar_deleting_copy.h"

#include <windows.h>

#include <algorithm>

#include "base/names.h"
#include "base/crc32.h"
#include "base/files.h"
#include "base/output_file.h"
#include "engine/rar5_files.h"
#include "engine/rar_names.h"
#include "engine/source_deletion.h"
#include "base/text.h"
#include "engine/zip/zip_entry_fields.h"
#include "engine/zip/zip_reader.h"

namespace {

const size_t kBlockSize = 1 << 20;

std::string NameOf(const std::string& path)
{
    return path.substr(path.find_last_of("\\/") + 1);
}

// True when the first `bytes` of `path` have the CRC-32 `crc`. The host is called for every
// 512 KiB read; a stop ends the reading with false.
bool PrefixMatches(JobProgress& progress, const std::string& path, uint64_t bytes, uint32_t crc,
                   std::vector<unsigned char>& buffer)
{
    const uint64_t kCallEvery = 512 << 10;
    FileReader file(path);
    uint32_t value = 0;
    for (uint64_t offset = 0; offset < bytes;) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>({bytes - offset, buffer.size(), kCallEvery}));
        size_t got = 0;
        if (!file.ReadAt(offset, buffer.data(), chunk, got) || got != chunk)
            return false;
        value = Crc32Update(value, buffer.data(), chunk);
        offset += chunk;
        progress.Text(path);
        if (progress.stopped())
            return false;
    }
    return value == crc;
}

// True when the entry of the real path `target` came out already, under its name or beside a
// file of its name.
bool CameOut(const std::string& target, const SetUnderDeletion& state)
{
    for (const std::string& done : state.targets)
        if (FileIdentity(done) == FileIdentity(target))
            return true;
    return false;
}

// True when `path` starts as the volumes of RAR 1.5 to 4 do.
bool IsOlderRar(const std::string& path)
{
    const unsigned char kSignature[] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    unsigned char start[sizeof kSignature];
    size_t got = 0;
    FileReader file(path);
    return file.ReadAt(0, start, sizeof start, got) && got == sizeof start &&
           std::equal(start, start + sizeof start, kSignature);
}

class DeletingCopy {
public:
    DeletingCopy(const UnpackContext& context, const std::string& destination, const SetUnderDeletion& state,
                 std::vector<JournalFile>& landed)
        : context_(context), journal_(*context.journal), destination_(destination), state_(state), base_(state.deleted),
          landed_(landed), buffer_(kBlockSize)
    {
        for (size_t i = base_; i < state_.volumes.size(); ++i)
            total_ += state_.volumes[i].size;
    }

    // Copies `files`, the layout of the volumes from the first one not deleted yet.
    Failure Run(const std::vector<RarFile>& files)
    {
        for (const RarFile& file : files) {
            if (context_.progress->stopped())
                return Ended({Outcome::Stopped, "stopped in " + SetName()});
            const Failure copied = CopyEntry(file);
            if (!copied.ok())
                return copied;
        }
        // Everything is out: the volumes left go as after any set, and so does one that a run
        // ended before deleting. Those that went are gone: a file that stands under the name of
        // one now and is not provably that volume is a new one, which stays.
        std::vector<std::string> gone, left;
        for (size_t i = 0; i < state_.volumes.size(); ++i) {
            const std::string& path = state_.volumes[i].path;
            const bool leftover = i < state_.deleted && i < state_.proofs.size() &&
                                  GetFileAttributesW(PlatformPath(path).c_str()) != INVALID_FILE_ATTRIBUTES &&
                                  IsProvenFile(context_, path, state_.proofs[i]);
            (i < state_.deleted && !leftover ? gone : left).push_back(path);
        }
        const size_t goneCount = gone.size();
        gone.insert(gone.end(), left.begin(), left.end());
        return ConsumeSources(context_, gone, state_.outputs, [](Journal& next) { next.EndSet(); }, goneCount);
    }

private:
    std::string SetName() const { return NameOf(state_.volumes.front().path); }

    Failure CopyEntry(const RarFile& file)
    {
        const std::string name = LocalName(file);
        const std::string target = destination_ + name;
        if (file.directory) {
            ensureDirectory(*context_.destination, name);
            return Failure();
        }
        const size_t slash = name.rfind('\\');
        ensureDirectory(*context_.destination, slash == std::string::npos ? std::string() : name.substr(0, slash + 1));
        // An entry that came out before a run ended while it was deleting the volume after it:
        // what is left of it in the volumes goes with them.
        if (file.startsBefore && CameOut(target, state_))
            return Failure();
        OutputFile out(*context_.destination, target, context_.Temporaries());
        if (file.startsBefore) {
            const Failure stale = {Outcome::CannotRead,
                                   state_.temporary + " does not hold what the journal says; everything was kept"};
            if (FileIdentity(state_.entry) != FileIdentity(target))
                return stale;
            // A run that ended right after the entry came out, before the journal said so, left
            // it whole under its name, or beside a file of its name.
            if (GetFileAttributesW(PlatformPath(state_.temporary).c_str()) == INVALID_FILE_ATTRIBUTES) {
                for (unsigned number = 1; number <= OutputFile::kMostLandings; ++number) {
                    const std::string landed = OutputFile::LandingName(target, number);
                    if (GetFileAttributesW(PlatformPath(landed).c_str()) == INVALID_FILE_ATTRIBUTES)
                        break;
                    if (HoldsContent(context_, landed, file.size, file.parts.back().crc))
                        return Landed({landed, file.size, file.parts.back().crc}, target);
                }
            }
            if (!PrefixMatches(*context_.progress, state_.temporary, state_.entryBytes, state_.entryCrc, buffer_) ||
                !out.Resume(state_.temporary, state_.entryBytes, state_.entryCrc))
                return context_.progress->stopped() ? Failure{Outcome::Stopped, "stopped in " + SetName()} : stale;
            out.Hold();
        } else if (!out.Create(file.attributes)) {
            return Ended({Outcome::CannotWrite, "cannot write " + name});
        }
        const size_t firstVolume = file.startsBefore ? 0 : base_ + file.parts.front().volume;
        for (const RarPart& part : file.parts) {
            const size_t volume = base_ + part.volume;
            if (!DeleteVolumesBefore(volume, out, firstVolume < volume))
                return Ended({Outcome::CannotWrite, "cannot write " + journal_.path()}, &out, firstVolume);
            uint32_t partCrc = 0;
            const Failure copied = CopyPart(volume, part, out, partCrc);
            if (!copied.ok())
                return Ended(copied, &out, firstVolume);
            if ((part.last ? out.crc() : partCrc) != part.crc)
                return Ended({Outcome::BadData, NameOf(state_.volumes[volume].path) + " is damaged"}, &out,
                             firstVolume);
        }
        const FileTimes times(file);
        if (out.written() != file.size || !context_.Commit(out, times.creation(), times.access(), times.write()))
            return Ended({Outcome::CannotWrite, "cannot write " + name}, &out, firstVolume);
        return Landed({out.landed(), file.size, out.crc(), out.stood()}, target);
    }

    // An entry came out whole. One that holds data of deleted volumes is named in the journal as
    // the entry being written: the journal says at once that it came out, since a run that ends
    // before it says so could continue it from nothing.
    Failure Landed(const JournalFile& output, const std::string& target)
    {
        SetUnderDeletion next = state_;
        next.outputs.push_back(output);
        next.targets.push_back(target);
        next.entry.clear();
        next.temporary.clear();
        next.entryBytes = 0;
        next.entryCrc = 0;
        landed_.push_back(output);
        if (!state_.entry.empty() && !journal_.Record([&](Journal& journal) { journal.SetProgress(next); }))
            return Ended({Outcome::CannotWrite, "cannot write " + journal_.path()});
        state_ = next;
        return Failure();
    }

    // The volumes before `volume` are done with: what came out of them is put on the disk, the
    // journal says so, and then they go. `out` is the entry being written; it holds data of those
    // volumes unless it starts in `volume` itself.
    bool DeleteVolumesBefore(size_t volume, OutputFile& out, bool outHoldsThem)
    {
        if (volume <= state_.deleted)
            return true;
        if (outHoldsThem && !out.Flush())
            return false;
        SetUnderDeletion next = state_;
        next.deleted = volume;
        next.entry = outHoldsThem ? out.target() : std::string();
        next.temporary = outHoldsThem ? out.temporary() : std::string();
        next.entryBytes = outHoldsThem ? out.written() : 0;
        next.entryCrc = outHoldsThem ? out.crc() : 0;
        if (!journal_.Record([&](Journal& journal) {
                journal.SetProgress(next);
                context_.ClaimRun(journal);
            }))
            return false;
        // From here on the output holds the only copy of what it took from those volumes.
        if (outHoldsThem)
            out.Hold();
        for (size_t i = state_.deleted; i < volume; ++i) {
            // A volume that cannot go (held open, or changed since the job looked at it) stays
            // and loses nothing; should the disk then fill up, the output's write fails and says so.
            context_.seen->Delete(state_.volumes[i].path);
            // Each deletion is a step of its own for the host, which may stop the run right there.
            context_.progress->Text(state_.volumes[i].path);
        }
        state_ = next;
        return true;
    }

    Failure CopyPart(size_t volume, const RarPart& part, OutputFile& out, uint32_t& partCrc)
    {
        const std::string& path = state_.volumes[volume].path;
        FileReader in(path);
        JobProgress& progress = *context_.progress;
        for (uint64_t left = part.size; left > 0;) {
            const size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, buffer_.size()));
            size_t got = 0;
            if (!in.ReadAt(part.offset + (part.size - left), buffer_.data(), chunk, got) || got != chunk)
                return {Outcome::CannotRead, "cannot read " + NameOf(path)};
            if (!out.Write(buffer_.data(), chunk))
                return {Outcome::CannotWrite, "cannot write " + NameOf(out.target())};
            partCrc = Crc32Update(partCrc, buffer_.data(), chunk);
            left -= chunk;
            done_ += chunk;
            if (progress.IsSource(path))
                progress.Consumed(path, chunk);
            else
                progress.Percent(state_.volumes.front().path, static_cast<int>(total_ ? 100 * done_ / total_ : 0));
            if (progress.stopped())
                return {Outcome::Stopped, "stopped in " + SetName()};
        }
        return Failure();
    }

    // The set ends with `failure`. An output that holds data of deleted volumes stays under its
    // temporary name, where the next run continues it; the journal already says how much of it
    // counts.
    Failure Ended(Failure failure, OutputFile* out = nullptr, size_t firstVolume = 0)
    {
        const bool holdsDeleted = out && state_.deleted > firstVolume;
        if (holdsDeleted) {
            out->Flush();
            out->Keep();
        }
        if (state_.deleted == 0) {
            journal_.EndSet();
            failure.detail += "; the set was kept";
            return failure;
        }
        failure.detail += "; its first " + std::to_string(state_.deleted) + " volumes were deleted, the rest kept";
        if (holdsDeleted)
            failure.detail += ", what came out of them is in " + NameOf(out->temporary());
        failure.detail += ": run the same job again to finish it";
        return failure;
    }

    const UnpackContext& context_;
    Journal& journal_;
    std::string destination_;
    SetUnderDeletion state_;
    const size_t base_;  // the volume that the layout starts at
    std::vector<JournalFile>& landed_;
    std::vector<unsigned char> buffer_;
    uint64_t total_ = 0;
    uint64_t done_ = 0;
};

}  // namespace

Failure UnpackDeletingVolumes(const UnpackContext& context, const std::vector<JournalFile>& volumes,
                              const std::string& destination, std::vector<JournalFile>& landed)
{
    const std::string setName = NameOf(volumes.front().path);
    std::vector<std::string> paths;
    for (const JournalFile& volume : volumes)
        paths.push_back(volume.path);
    const Failure noRoom = {Outcome::NoRoom, "not room enough for " + setName +
                                                 ": only a stored RAR 5 set can be unpacked while its volumes are "
                                                 "deleted; the set was kept"};
    // An older set cannot be continued from its volumes' headers: it needs the room to come out whole.
    if (IsOlderRar(paths.front()))
        return noRoom;
    std::vector<RarFile> files;
    std::string error;
    if (!ReadRar5Layout(paths, files, error))
        return {Outcome::BadData, error + "; the set was kept"};
    if (!IsResumable(files))
        return noRoom;
    for (const RarFile& file : files)
        if (!IsContainedName(LocalName(file)))
            return {Outcome::BadData, setName + " holds an unsafe name; the set was kept"};
    SetUnderDeletion state;
    state.volumes = volumes;
    for (const JournalFile& volume : volumes)
        state.proofs.push_back(ProofFor(context, volume.path));
    return DeletingCopy(context, destination, state, landed).Run(files);
}

Failure ResumeSetUnderDeletion(const UnpackContext& context, const std::string& destination,
                               std::vector<JournalFile>& landed)
{
    Journal& journal = *context.journal;
    if (!journal.set())
        return Failure();
    const SetUnderDeletion state = *journal.set();
    if (state.deleted == 0) {
        // Nothing was deleted: the set is unpacked anew from its first volume.
        journal.EndSet();
        return Failure();
    }
    const std::string setName = NameOf(state.volumes.front().path);
    const Failure stale = {Outcome::CannotRead, "the volumes left of " + setName +
                                                    " are not the ones the journal of an earlier run names; "
                                                    "everything was kept"};
    std::vector<std::string> left;
    for (size_t i = state.deleted; i < state.volumes.size(); ++i) {
        context.seen->Look(context.RootOf(state.volumes[i].path), state.volumes[i].path);
        if (FileSize(state.volumes[i].path) != state.volumes[i].size)
            return stale;
        left.push_back(state.volumes[i].path);
    }
    std::vector<RarFile> files;
    std::string error;
    if (left.empty() || !ReadRar5Layout(left, files, error) || !IsResumable(files))
        return stale;
    // The volumes left start with the rest of the entry being written, or with one that came out.
    const RarFile& first = files.front();
    const bool continued = first.startsBefore && !CameOut(destination + LocalName(first), state);
    if (continued == state.entry.empty())
        return stale;
    for (const RarFile& file : files)
        if (!IsContainedName(LocalName(file)))
            return stale;
    context.progress->Text("Continuing " + setName + " where an earlier run stopped");
    landed.insert(landed.end(), state.outputs.begin(), state.outputs.end());
    return DeletingCopy(context, destination, state, landed).Run(files);
}
