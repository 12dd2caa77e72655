// The text of a group's journal (see journal.h), read and written from memory: no file, no
// platform call, so that the reader of what a dead run (or anybody else) left on the disk can
// be fuzzed natively. The reader checks the form only; what the records name is checked by the
// journal against the group's folders before anything is acted on.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A file and the size and CRC-32 of its content.
struct JournalFile {
    std::string path;
    uint64_t size = 0;
    uint32_t crc = 0;
};

// What tells that a file on the disk is the one a record speaks of: its size and CRC-32 where
// they were computed, otherwise its size, last-write time and the file system's index of it.
// A record without either proves nothing: the file it names is never taken for that one.
struct FileProof {
    uint64_t size = 0;
    bool hasCrc = false;
    uint32_t crc = 0;
    bool hasIndex = false;
    uint64_t writeTime = 0;  // FILETIME count
    uint32_t volume = 0;     // serial number of the file system
    uint64_t index = 0;      // of the file on that file system
};

// A file consumed (deleted once what came out of it was on the disk): `key` names the list of
// outputs it lives on in, shared by the volumes of one set.
struct ConsumedFile {
    std::string key;
    std::string path;
    FileProof proof;
};

// A set whose volumes are deleted as it is unpacked: its volumes in order, how many of them are
// gone, and the entry being written with the bytes of it that came out of the deleted ones.
struct SetUnderDeletion {
    std::vector<JournalFile> volumes;  // the CRC is unused: the volume headers carry the data's
    size_t deleted = 0;
    std::string entry;                 // the entry's real path in the destination; empty between entries
    std::string temporary;             // the temporary file it is written to
    uint64_t entryBytes = 0;           // of the entry, on the disk in its temporary file
    uint32_t entryCrc = 0;             // CRC-32 of those bytes
    std::vector<JournalFile> outputs;  // the entries that came out completely so far
};

// A downloaded file rebuilt from PAR2 recovery data at `path`: the file that held its damaged
// copy (at `path` itself, or under another name) is kept as `damaged`. Both are empty when the
// file was missing.
struct Par2Repair {
    std::string path;
    std::string original;
    std::string damaged;
};

// Everything a journal says, in the order it says it.
struct JournalRecords {
    std::vector<std::string> runs;  // the tags of the runs of the job, which its temporary files carry
    std::vector<JournalFile> verified;                        // matched the group's SFV file
    std::vector<ConsumedFile> consumed;
    std::vector<std::pair<std::string, JournalFile>> outputs;  // key of the consumed files, output
    std::vector<std::pair<std::string, std::string>> renamed;  // a first volume's temporary name, its own
    // A downloaded file that its PAR2 set found under another name: that name, and the set's
    // name, which it was renamed to.
    std::vector<std::pair<std::string, std::string>> named;
    std::vector<Par2Repair> repaired;
    SetUnderDeletion set;                                      // no volumes when there is none
};

// The journal's text; its last line holds the CRC-32 of everything before it.
std::string WriteJournalText(const JournalRecords& records);

// Reads a journal's text of this version or the two before (whose runs are not told, whose
// temporary files are named by their entry, and in the first of which consumed records carry
// no proof). False for anything else: cut, changed, of another format, or a record out of form.
bool ReadJournalText(const std::string& text, JournalRecords& records);
