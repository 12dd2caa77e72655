#include "engine/pack_driver.h"

#include <windows.h>
#include <ntsecapi.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "engine/file_list.h"
#include "engine/journal.h"
#include "engine/par2_stage.h"
#include "base/names.h"
#include "base/paths.h"
#include "engine/release_names.h"
#include "engine/sfv.h"
#include "engine/source_deletion.h"
#include "base/text.h"
#include "engine/unpack_group.h"
#include "engine/unrar_library.h"
#include "engine/volume_alias.h"
#include "settings/settings_file.h"

namespace {

std::timed_mutex& PackLock()
{
    static std::timed_mutex lock;
    return lock;
}

bool IsDirectoryEntry(const std::string& name, bool firstName)
{
    return (!name.empty() && name.back() == '\\') || (name.empty() && firstName);
}

bool IsFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesW(PlatformPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A tag that no other run shares, for the names of the run's temporary files: random, so that
// no download can name a file after one.
std::string NewRunTag()
{
    uint32_t value = 0;
    if (!RtlGenRandom(&value, sizeof value))
        value = static_cast<uint32_t>(GetTickCount64() ^ (static_cast<uint64_t>(GetCurrentProcessId()) << 16));
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// Host texts are cut at the host's buffer; a group's verdict stays well inside it.
std::string Shortened(const std::string& text)
{
    const size_t kLimit = 250;
    return text.size() <= kLimit ? text : text.substr(0, kLimit - 3) + "...";
}

// The walk over one selection.
class PackWalk {
public:
    PackWalk(const std::string& packedFile, const std::string& srcPath, JobProgress& progress)
        : sourceDirectory_(srcPath), groupSource_(srcPath), progress_(progress)
    {
        context_.settings = SnapshotUnpackSettings();
        context_.temporaries.run = NewRunTag();
        context_.progress = &progress;
        context_.unrar = unrar_.library();
        key_ = LoadJournalKey();
        destinationDirectory_ = DirectoryOf(packedFile);
        currentDestination_ = destinationDirectory_;
    }

    void HandleName(const std::string& name, bool firstName)
    {
        if (IsDirectoryEntry(name, firstName)) {
            std::string next = destinationDirectory_ + name;
            if (!firstName)
                CloseGroup();
            currentDestination_ = next;
            groupSource_ = sourceDirectory_ + name;
            groupName_ = name.empty() ? std::string() : name.substr(0, name.size() - 1);
        } else if (ClassifyName(name).kind == NameKind::Sfv) {
            sfvPaths_.push_back(sourceDirectory_ + name);
            context_.sfvPresent = true;
        } else if (IsPar2File(sourceDirectory_ + name)) {
            par2Paths_.push_back(sourceDirectory_ + name);
        } else {
            std::string path = sourceDirectory_ + name;
            if (groupName_.empty() && sourceCount_ == 0)
                groupName_ = name;
            sources_.Append(path);
            ++sourceCount_;
        }
    }

    // The last group is closed like any other, also when only its SFV or PAR2 files or only its
    // journal are left: a run that died after consuming every source, or after deleting the SFV file too,
    // still has the journal to finish.
    void Finish()
    {
        const bool journal = JournalIsThere();
        if ((sourceCount_ != 0 || !sfvPaths_.empty() || !par2Paths_.empty() || journal) && !verdict_.stopped())
            CloseGroup();
    }

    const Verdict& verdict() const { return verdict_; }

private:
    // Closes the gathered group.
    void CloseGroup()
    {
        keptBeside_.clear();
        notes_.clear();
        Failure failure = Deliver();
        const std::string name = groupName_.empty() ? std::string("Selection") : groupName_;
        std::string text = name + ": " + (failure.ok() ? std::string("unpacked") : failure.detail);
        for (const std::string& note : notes_)
            text += "; " + note;
        for (size_t i = 0; i < keptBeside_.size(); ++i)
            text += (i == 0 ? "; beside files of the same name: " : ", ") + keptBeside_[i];
        progress_.Tell(Shortened(text));
        verdict_.Add(failure);
        sources_.Clear();
        sourceCount_ = 0;
        sfvPaths_.clear();
        par2Paths_.clear();
        context_.sfvPresent = false;
        context_.vouched.clear();
        groupName_.clear();
        groupSource_ = sourceDirectory_;
    }

    // Delivers the gathered group into its destination, which is there before anything is
    // written into it, the journal first; the folders this creates go again when the group
    // fails and leaves them empty.
    Failure Deliver()
    {
        if (progress_.stopped())
            return {Outcome::Stopped, "stopped, nothing unpacked"};
        // A folder with nothing in it (its files in folders of their own) has nothing to deliver.
        if (sources_.Empty() && sfvPaths_.empty() && par2Paths_.empty() && !JournalIsThere())
            return Failure();
        const DiskRoot destination(currentDestination_, true);
        if (!destination.valid())
            return {Outcome::CannotWrite, "cannot create " + currentDestination_ + ", nothing unpacked"};
        const DiskRoot source(groupSource_);
        context_.destination = &destination;
        context_.source = &source;
        const Failure failure = DeliverInto();
        context_.destination = nullptr;
        context_.source = nullptr;
        if (!failure.ok())
            destination.RemoveCreatedIfEmpty();
        return failure;
    }

    // Whether the journal of a dead run of the job for the gathered group is there.
    bool JournalIsThere() const
    {
        const std::string name = JournalName(key_.bytes, DiskRoot(groupSource_), DiskRoot(currentDestination_));
        return !name.empty() && IsFile(currentDestination_ + name);
    }

    // Repairs, verifies and unpacks the gathered group; the SFV and PAR2 files (and the damaged
    // files that repairs replaced) go only with a group that was delivered completely, since
    // they still check whatever is left of one that was not. The group's journal tells what a
    // dead run of this job did already, and goes with a delivered group.
    Failure DeliverInto()
    {
        Journal journal(currentDestination_, groupSource_, key_.bytes);
        context_.notes = &notes_;
        switch (journal.Load()) {
        case Journal::LoadResult::Busy:
            context_.notes = nullptr;
            return {Outcome::CannotWrite, "another run of this job holds " + OwnName(journal.path()) + ", nothing unpacked"};
        case Journal::LoadResult::NoKey:
            context_.Note(key_.bytes.empty() ? "nothing was deleted: there is no key for the job's journal at " + key_.path
                                             : std::string("nothing was deleted: the job's folders cannot be told"));
            break;
        case Journal::LoadResult::Foreign:
            context_.Note(OwnName(journal.path()) + " is not a journal of this job; it was not used, and nothing was deleted");
            break;
        default:
            break;
        }
        for (const std::string& other : journal.others())
            context_.Note(other + " is not a journal of this job and was not used");
        // Without a journal nothing is deleted: what a run deleted must be known to the next.
        const bool deletionSafe = context_.deletionSafe;
        context_.deletionSafe = deletionSafe && journal.usable();
        journal.ReportTo(&progress_);
        context_.journal = &journal;
        context_.temporaries.earlier = journal.runs();
        context_.temporaries.held = journal.set() ? journal.set()->temporary : std::string();
        context_.keptBeside = &keptBeside_;
        sources_ = RestoreAliases(context_, sources_);
        SeenFiles seen;
        context_.seen = &seen;
        LookAtGroup();
        const Par2Outcome par2 = RepairByPar2(context_, par2Paths_, sources_);
        // What the PAR2 sets renamed carries its stamp along; what they rebuilt, and the damaged
        // files that a dead run's repairs kept, are seen now.
        LookAtGroup();
        for (const std::string& path : par2.leftovers)
            seen.Look(*context_.source, path);
        Failure failure = par2.failure;
        if (!failure.ok() && failure.outcome != Outcome::Stopped)
            failure.detail += ", nothing unpacked";
        for (const std::string& path : par2.vouched)
            context_.vouched.insert(FileIdentity(path));
        std::vector<ZipStream> streams;
        if (failure.ok()) {
            streams = PlanZipStreams(context_, sources_, currentDestination_);
            failure = VerifyGroup(journal, streams);
        }
        if (failure.ok())
            failure = UnpackVerified(streams);
        if (failure.ok() && context_.settings.deleteSfv) {
            std::vector<std::string> checks = sfvPaths_;
            checks.insert(checks.end(), par2.leftovers.begin(), par2.leftovers.end());
            failure = ConsumeSources(context_, checks, {});
        }
        // A group that failed took its temporary files away again, but for those that hold data
        // of deleted volumes, which the journal names: a journal that no later run needs goes too.
        if (failure.ok() || journal.MattersOnlyTo(context_.temporaries.run))
            journal.Remove();
        context_.journal = nullptr;
        context_.notes = nullptr;
        context_.seen = nullptr;
        context_.deletionSafe = deletionSafe;
        return failure;
    }

    // Takes the stamps of the group's files, before anything checks or reads them.
    void LookAtGroup()
    {
        for (const std::string& path : sources_)
            context_.seen->Look(*context_.source, path);
        for (const std::string& path : sfvPaths_)
            context_.seen->Look(*context_.source, path);
        for (const std::string& path : par2Paths_)
            context_.seen->Look(*context_.source, path);
    }

    // Checks the group's files against its SFV files; the ZIP files of a stream that can be
    // checked from its own read are left to the stream.
    Failure VerifyGroup(Journal& journal, std::vector<ZipStream>& streams)
    {
        if (!context_.settings.checkCrc)
            return Failure();
        const std::unordered_set<std::wstring> readLater = CheckedWhileRead(context_, streams, sources_);
        std::vector<SfvCheck> later;
        for (const std::string& sfv : sfvPaths_) {
            // A run of this job that died after it deleted the SFV file had delivered the group.
            if (journal.IsConsumed(sfv) && !IsFile(sfv))
                continue;
            Failure failure = VerifySfv(sfv, progress_, journal, readLater, later);
            if (!failure.ok()) {
                failure.detail += ", nothing unpacked";
                return failure;
            }
        }
        TakeSfvChecks(streams, later);
        return Failure();
    }

    Failure UnpackVerified(std::vector<ZipStream>& streams)
    {
        progress_.BeginGroup();
        for (const std::string& source : sources_)
            progress_.AddSource(source, FileSize(source));
        const Failure failure = UnpackGroup(context_, sources_, currentDestination_, streams);
        progress_.Flush();
        return failure;
    }

    UnrarModule unrar_;
    JournalKey key_;
    UnpackContext context_;
    std::string destinationDirectory_;
    std::string sourceDirectory_;
    std::string currentDestination_;
    std::string groupSource_;  // the folder of the group's files
    std::string groupName_;
    FileList sources_;
    unsigned sourceCount_ = 0;
    std::vector<std::string> sfvPaths_;
    std::vector<std::string> par2Paths_;
    std::vector<std::string> keptBeside_;  // outputs that came out under a numbered name
    std::vector<std::string> notes_;       // what else the group's text says
    JobProgress& progress_;
    Verdict verdict_;
};

}  // namespace

Outcome RunPackFiles(const std::string& packedFile, const std::string& srcPath, const std::vector<std::string>& names,
                     ProgressSink* sink)
{
    JobProgress progress(sink);
    std::unique_lock<std::timed_mutex> serialised(PackLock(), std::defer_lock);
    while (!serialised.try_lock_for(std::chrono::milliseconds(250))) {
        progress.Tell("Waiting for another unpacking to finish...");
        if (progress.stopped())
            return Outcome::Stopped;
    }

    PackWalk walk(packedFile, srcPath, progress);
    for (size_t i = 0; i < names.size(); ++i) {
        walk.HandleName(names[i], i == 0);
        // The stop takes effect before the next name; the group being gathered is dropped.
        if (progress.stopped())
            return Outcome::Stopped;
    }
    walk.Finish();
    progress.Flush();
    return progress.stopped() ? Outcome::Stopped : walk.verdict().outcome();
}
