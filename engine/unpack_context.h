// What every stage of one PackFiles call reads: the settings copied when the call began, the
// host's progress and stop for the call, and the facts of the group being unpacked.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/job_progress.h"
#include "base/disk_gate.h"
#include "base/output_file.h"
#include "base/paths.h"
#include "base/text.h"
#include "settings/unpack_settings.h"

class Journal;
struct UnrarLibrary;

struct UnpackContext {
    SettingsRecord settings;
    // The host's progress display and stop request for this call; never null during a call.
    JobProgress* progress = nullptr;
    // True while the group being processed has an SFV file, checked or not.
    bool sfvPresent = false;
    // The files of the group (by FileIdentity) that a PAR2 set described and found whole: they
    // count as checked where the group has no SFV file.
    std::unordered_set<std::wstring> vouched;
    // False where deleting a source would risk the only copy of some data: the second pass
    // after a first pass that did not come out completely.
    bool deletionSafe = true;
    // The UnRAR library loaded for the call; null when it is not available.
    const UnrarLibrary* unrar = nullptr;
    // What this job and a dead run of it did in the group's destination; never null while a
    // group is unpacked.
    Journal* journal = nullptr;
    // The folders the group's files lie in and come out into, through which every change to
    // the disk goes (see disk_gate.h); never null while a group is unpacked.
    const DiskRoot* source = nullptr;
    const DiskRoot* destination = nullptr;
    // What the job saw of the files it may delete before it checked or read them: a file goes
    // only while it is still the one it saw. Never null while a group is unpacked.
    SeenFiles* seen = nullptr;
    // The files of the first pass (by FileIdentity), which the second pass writes over: the one
    // replacement that is meant. Empty in the first pass.
    std::unordered_set<std::wstring> replaceable;
    // Where the first pass puts volumes of sets in ZIP files instead of under their own names,
    // by FileIdentity of those (see PlanSetFolders); null when nowhere else.
    const std::unordered_map<std::wstring, std::string>* volumePaths = nullptr;
    // The names of outputs that came out beside a file of their own name, for the group's text;
    // null when nobody asks.
    std::vector<std::string>* keptBeside = nullptr;
    // What else the group's text says of the group; null when nobody asks.
    std::vector<std::string>* notes = nullptr;
    // How this run names its temporary files in the group's folders; see Temporaries.
    TemporaryTags temporaries;

    // The tags for an output's temporary file. The journal says which tag this run's carry
    // before the first of them is made, so that a later run knows them for the job's own.
    const TemporaryTags& Temporaries() const;
    // Adds this run's tag to `next`, a change of the journal that names a temporary file of the
    // run, when it is not there yet.
    void ClaimRun(Journal& next) const;

    // The root of the two that `path` lies below, the deeper where they nest: for a path that a
    // journal names without saying which folder the job found it in (a set under deletion).
    const DiskRoot& RootOf(const std::string& path) const
    {
        const bool inDestination = destination->Holds(path);
        const bool inSource = source->Holds(path);
        return inDestination && (!inSource || destination->depth() >= source->depth()) ? *destination : *source;
    }

    Existing ExistingFor(const std::string& target) const
    {
        return replaceable.count(FileIdentity(target)) != 0 ? Existing::Replace : Existing::KeepBoth;
    }
    // Commits an output that came out whole (see OutputFile::Finish): PutOnDisk, then Name.
    bool Commit(OutputFile& output, const FILETIME* creation, const FILETIME* access, const FILETIME* write) const;
    // Gives an output its times and puts it on the disk, still under its temporary name. That
    // takes a while for a large file: the host is called meanwhile, so that its window stays alive.
    bool PutOnDisk(OutputFile& output, const FILETIME* creation, const FILETIME* access, const FILETIME* write) const;
    // Gives an output that is on the disk its real name, as ExistingFor says.
    bool Name(OutputFile& output) const;
    void Note(const std::string& text) const
    {
        if (notes)
            notes->push_back(text);
    }
    // Tells the group's text about an output that landed at `path` instead of its real name,
    // beside a file of that name.
    void Landed(const std::string& path, const std::string& target) const
    {
        if (keptBeside && FileIdentity(path) != FileIdentity(target))
            keptBeside->push_back(OwnName(path));
    }
};
