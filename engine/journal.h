// What a job has done in one group's destination that a later run of the same job must know
// when this one dies: which files the SFV file vouched for, which downloaded or intermediate
// files were consumed (deleted once what came out of them was on the disk) and where their
// data lives now, and how far a set got whose volumes are deleted while it is unpacked. It is
// kept in the destination (the host hands the same destination to the same job again) as
// ".ravelpak-journal", replaced as a whole: written under a temporary name, put on the disk,
// then renamed into place, so that a crash leaves the old journal or the new one.
//
// The journal is input like any file on disk: one that is damaged, cut, or of another format
// is not used, and nothing it says ever causes a deletion by itself. A consumed file that is
// still there goes only when every output it lives on in is still there, whole.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// A file and the size and CRC-32 of its content.
struct JournalFile {
    std::string path;
    uint64_t size = 0;
    uint32_t crc = 0;
};

// A set whose volumes are deleted as it is unpacked: its volumes in order, how many of them are
// gone, and the entry being written with the bytes of it that came out of the deleted ones.
struct SetUnderDeletion {
    std::vector<JournalFile> volumes;  // the CRC is unused: the volume headers carry the data's
    size_t deleted = 0;
    std::string entry;                 // the entry's real path in the destination; empty between entries
    uint64_t entryBytes = 0;           // of the entry, on the disk under its temporary name
    uint32_t entryCrc = 0;             // CRC-32 of those bytes
    std::vector<JournalFile> outputs;  // the entries that came out completely so far
};

class Journal {
public:
    // The journal of the group unpacked into `destination` (ends with a backslash).
    explicit Journal(const std::string& destination);

    enum class LoadResult { None, Loaded, Unusable };
    // Reads what a dead run left. Unusable: something stands there that is no journal of this
    // build (damaged, cut, foreign): it is ignored and replaced by the next commit.
    LoadResult Load();
    const std::string& path() const { return path_; }

    // `file` matched the group's SFV file.
    void AddVerified(const JournalFile& file);
    // True when `path` matched the SFV file in an earlier run with the CRC `crc` and was then
    // consumed: a file that is gone for that reason counts as verified.
    bool VerifiedAndConsumed(const std::string& path, uint32_t crc) const;

    // `sources` are consumed: what was in them lives on in `outputs`. The files may be deleted
    // once this is committed.
    void AddConsumed(const std::vector<std::string>& sources, const std::vector<JournalFile>& outputs);
    bool IsConsumed(const std::string& path) const;
    // Every file recorded as consumed, in the order it was.
    const std::vector<std::string>& consumed() const { return consumedOrder_; }
    // What a consumed file lives on in; empty when it was not consumed.
    std::vector<JournalFile> OutputsOf(const std::string& path) const;

    // A first volume renamed to `prefixed` while the library reads it (see volume_alias.h).
    void AddRenamed(const std::string& prefixed, const std::string& own);
    const std::vector<std::pair<std::string, std::string>>& renamed() const { return renamed_; }
    // The own name of a volume that stands renamed as `path`; empty for any other file.
    std::string RenamedFrom(const std::string& path) const;

    // The set whose volumes are being deleted; null when there is none.
    const SetUnderDeletion* set() const { return set_.volumes.empty() ? nullptr : &set_; }
    void SetProgress(const SetUnderDeletion& set) { set_ = set; }
    void EndSet() { set_ = SetUnderDeletion(); }

    // Puts what is recorded on the disk. False when that failed: nothing that relies on it
    // may then be deleted.
    bool Commit();
    // The group was delivered: the journal goes.
    void Remove();

private:
    std::string Serialise() const;
    bool Parse(const std::string& text);

    std::string path_;
    std::map<std::wstring, JournalFile> verified_;             // by file identity
    std::map<std::wstring, std::string> consumedBy_;           // a consumed file: the key of its outputs
    std::map<std::string, std::vector<JournalFile>> outputs_;  // by key: the first consumed file
    std::vector<std::string> consumedOrder_;
    std::vector<std::pair<std::string, std::string>> renamed_;  // prefixed, own
    SetUnderDeletion set_;
};
