// The text of a group's journal (see journal.h), read and written from memory: no file, no
// platform call, so that the reader of what a dead run (or anybody else) left on the disk can
// be fuzzed natively. The reader checks that the job's key vouches for the text and its form;
// what the records name is checked by the journal against the group's folders before anything
// is acted on.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// A file and the size and CRC-32 of its content.
struct JournalFile {
    std::string path;
    uint64_t size = 0;
    uint32_t crc = 0;
    // An output that landed on a file of its content that stood there (see OutputFile::stood):
    // what came out lives on in it, but the job never deletes or replaces it.
    bool stood = false;
    // An output of a set inside the consumed file (a set streamed out of its ZIP files): a result
    // of the second pass, which is not unpacked again.
    bool secondLevel = false;
};

// What tells that a file on the disk is the one a record speaks of: its size and CRC-32 where
// they were computed, otherwise, on a file system that never gives a file's id to another, its
// size, last-write time and that id. A record without either proves nothing: the file it names
// is never taken for that one.
struct FileProof {
    uint64_t size = 0;
    bool hasCrc = false;
    uint32_t crc = 0;
    bool hasId = false;
    uint64_t writeTime = 0;  // FILETIME count
    uint64_t volume = 0;     // serial number of the file system
    std::array<uint8_t, 16> id = {};  // of the file on that file system
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
    std::vector<FileProof> proofs;     // what proves each volume, as the job saw it before it read it
    size_t deleted = 0;
    std::string entry;                 // the entry's real path in the destination; empty between entries
    std::string temporary;             // the temporary file it is written to
    uint64_t entryBytes = 0;           // of the entry, on the disk in its temporary file
    uint32_t entryCrc = 0;             // CRC-32 of those bytes
    std::vector<JournalFile> outputs;  // the entries that came out completely so far
    std::vector<std::string> targets;  // their real paths: each came out there or beside a file of its name
};

// A downloaded file rebuilt from PAR2 recovery data at `path`: the file that held its damaged
// copy (at `path` itself, or under another name) is kept as `damaged`, and `kept` proves it.
// Both names are empty when the file was missing.
struct Par2Repair {
    std::string path;
    std::string original;
    std::string damaged;
    FileProof kept;
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

// Whose journal a text is: the user's key, which vouches for every state of it, and the job's
// identity (the final paths of its source folder and destination), which each state names.
struct JournalOwner {
    std::string key;
    std::string identity;
};

// The file's paths are written as "S:" or "D:" and a name below the job's source folder or
// destination; the journal turns them into paths and back.
//
// One state of the journal, numbered `sequence`, as the text that is written to its file: its
// last line holds the HMAC-SHA-256 of everything before it under the owner's key. A file holds
// one state or more, each whole or cut by a crash while it was written.
std::string WriteJournalText(const JournalRecords& records, const JournalOwner& owner, uint64_t sequence);

// Where the state that a text holds lies in it.
struct JournalState {
    uint64_t sequence = 0;
    size_t start = 0;
    size_t end = 0;
};
// Reads the latest state in `text` that the owner's key vouches for and that names the owner's
// identity: the one of the highest number. False when there is none, or it is out of form. Each
// byte of the text is hashed once at most, whatever it holds.
bool ReadJournalText(const std::string& text, const JournalOwner& owner, JournalRecords& records, JournalState& state);
