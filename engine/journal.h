// What a job has done in one group's destination that a later run of the same job must know
// when this one dies: which files the SFV file vouched for, which downloaded or intermediate
// files were consumed (deleted once what came out of them was on the disk) and where their
// data lives now, and how far a set got whose volumes are deleted while it is unpacked.
//
// Each job has a journal of its own in the destination (the host hands the same destination to
// the same job again), named by the user's key and the job (see JournalName). Its every state
// is vouched for by the key (see journal_format.h): no download, and no other job, can write
// one that is taken for it. The job holds it open without sharing while the group is unpacked,
// so that a second run of the same job is told instead of racing this one. A change is
// appended to it and put on the disk as a whole state, so that a crash leaves the old state or
// the new one; a state that fits before the latest one is written over the older ones instead,
// so the file stays about the size of two states.
//
// Nothing a journal says deletes a file by itself: a consumed record carries what proves the
// file it speaks of (see FileProof), and a file at that path that is not proven to be that one
// is a new file. Any other file of a journal's name is never acted on, moved or deleted.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/disk_gate.h"
#include "engine/journal_format.h"

class JobProgress;

// The name of the journal of the job that unpacks the files in `source` into `destination`
// with `key`: ".ravelpak-journal-", the key's id and the job's, both made with the key, so
// that nobody without it can tell the name. Empty without a key or either folder.
std::string JournalName(const std::string& key, const DiskRoot& source, const DiskRoot& destination);

class Journal {
public:
    // The journal of the job that unpacks the files in `sourceFolder` into `destination` (both
    // end with a backslash) with the user's `key` (empty when there is none: then nothing can
    // be recorded, and so nothing deleted).
    Journal(const std::string& destination, const std::string& sourceFolder, const std::string& key);

    enum class LoadResult {
        None,     // there is none: the job starts afresh
        Loaded,   // what a dead run of the job left is known
        Foreign,  // a file of its name stands there that the key does not vouch for, or that
                  // speaks of files outside the group's folders: it is not used, and stays
        Busy,     // another run of the job holds it
        NoKey,    // without a key or the job's folders there is no journal
    };
    // Reads what a dead run of the job left, and holds the journal from here on.
    LoadResult Load();
    // Whether changes can be recorded: there is a key, and no other file holds the journal's name.
    bool usable() const { return usable_; }
    const std::string& path() const { return path_; }
    // The names of the files in the destination that look like journals but are not this job's
    // (another job's, an older version's), which it never touches; known after Load.
    const std::vector<std::string>& others() const { return others_; }

    // The host is called right after each commit, so that a stop, or the end of the process,
    // can come exactly there.
    void ReportTo(JobProgress* progress) { progress_ = progress; }

    // The tags of the runs of this job that wrote into the destination: their temporary files
    // are the job's own (see TemporaryTags).
    const std::vector<std::string>& runs() const { return runs_; }
    void AddRun(const std::string& tag) { runs_.push_back(tag); }

    // `file` matched the group's SFV file.
    void AddVerified(const JournalFile& file);
    // True when `path` matched the SFV file in an earlier run with the CRC `crc` and was then
    // consumed: a file that is gone for that reason counts as verified.
    bool VerifiedAndConsumed(const std::string& path, uint32_t crc) const;
    // The CRC-32 that this job found for the file at `path` when it had `size` bytes: from the
    // SFV check, or as an output that came out of a consumed file. False when it knows none.
    bool KnownCrc(const std::string& path, uint64_t size, uint32_t& crc) const;

    // `sources`, each with what proves it, are consumed: what was in them lives on in
    // `outputs`. The files may be deleted once this is committed.
    void AddConsumed(const std::vector<std::pair<std::string, FileProof>>& sources,
                     const std::vector<JournalFile>& outputs);
    bool IsConsumed(const std::string& path) const;
    // What proves the consumed file at `path`; null when the journal holds no consumed record
    // of that path (a deleted volume of the set under deletion has none: it is gone).
    const FileProof* ProofOf(const std::string& path) const;
    // The file at `path` is not the one consumed: the claim goes, and with it the outputs that
    // no other consumed file lives on in, which it returns (this job's own files).
    std::vector<JournalFile> DropConsumed(const std::string& path);
    // Every file recorded as consumed, in the order it was.
    const std::vector<std::string>& consumed() const { return consumedOrder_; }
    // What a consumed file lives on in; empty when it was not consumed.
    std::vector<JournalFile> OutputsOf(const std::string& path) const;
    // Whether `path` came out of a file that this job consumed: a file of the job's own, not one
    // of a download, wherever it lies (nor one that stood there with its content).
    bool IsOutput(const std::string& path) const;
    // Whether `path` is an output that this run recorded: whole when it came out, and the job's
    // since, so it need not be read again to be proven whole.
    bool CameOutInThisRun(const std::string& path) const;

    // A first volume renamed to `prefixed` while the library reads it (see volume_alias.h).
    void AddRenamed(const std::string& prefixed, const std::string& own);
    const std::vector<std::pair<std::string, std::string>>& renamed() const { return renamed_; }
    // The own name of a volume that stands renamed as `path`; empty for any other file.
    std::string RenamedFrom(const std::string& path) const;

    // A downloaded file that a PAR2 set found under the name `from` was renamed to `to`, the
    // name the set gives it.
    void AddNamed(const std::string& from, const std::string& to) { named_.emplace_back(from, to); }
    const std::vector<std::pair<std::string, std::string>>& named() const { return named_; }
    // A downloaded file is rebuilt from PAR2 recovery data (see Par2Repair).
    void AddRepaired(const Par2Repair& repair) { repaired_.push_back(repair); }
    const std::vector<Par2Repair>& repaired() const { return repaired_; }

    // The set whose volumes are being deleted; null when there is none.
    const SetUnderDeletion* set() const { return set_.volumes.empty() ? nullptr : &set_; }
    void SetProgress(const SetUnderDeletion& set) { set_ = set; }
    void EndSet() { set_ = SetUnderDeletion(); }

    // Records a change: it is made to a copy of the journal, which is put on the disk, and
    // becomes the journal only when that succeeded. False when it failed: the journal stays as
    // it was, and nothing that relies on the change may be done.
    bool Record(const std::function<void(Journal&)>& change);
    // The group was delivered: the journal goes.
    void Remove();
    // Whether nothing the journal says matters to a later run but `run`: it names no file
    // consumed, renamed, repaired or being written, and no run but `run` (whose temporary files
    // went again). What it verified counts only for files it consumed.
    bool MattersOnlyTo(const std::string& run) const;

private:
    struct Claim {
        std::string key;  // of the outputs it lives on in
        FileProof proof;
    };

    JournalRecords Records() const;
    void Adopt(const JournalRecords& records);
    bool Confined(const JournalRecords& records) const;
    // The records with their paths as the text writes them, below the source folder ("S:") or
    // the destination ("D:"), and back; false for a path below neither.
    bool Relative(JournalRecords& records) const;
    void Absolute(JournalRecords& records) const;
    bool Write();
    bool Create(const std::string& text);
    void Clear();

    std::string path_;
    std::string destination_;
    std::string sourceFolder_;
    DiskRoot root_;  // the destination, which the journal lies in
    JournalOwner owner_;
    bool usable_ = false;
    std::vector<std::string> others_;
    // The journal's file, held open from Load or its first state on; null before.
    std::shared_ptr<void> file_;
    JournalState latest_;  // where the latest state lies in the file
    uint64_t fileSize_ = 0;
    JobProgress* progress_ = nullptr;
    std::vector<std::string> runs_;
    std::map<std::wstring, JournalFile> verified_;             // by file identity
    std::map<std::wstring, Claim> consumedBy_;                 // by file identity
    std::map<std::string, std::vector<JournalFile>> outputs_;  // by key: the first consumed file
    std::vector<std::string> consumedOrder_;
    std::set<std::wstring> cameOutNow_;  // by file identity: the outputs AddConsumed recorded in this run
    std::vector<std::pair<std::string, std::string>> renamed_;  // prefixed, own
    std::vector<std::pair<std::string, std::string>> named_;    // from, to
    std::vector<Par2Repair> repaired_;
    SetUnderDeletion set_;
};
