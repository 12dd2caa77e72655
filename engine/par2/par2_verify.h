// Verification of the files of a PAR2 recovery set against what its packets say of them: which
// are intact, which slices of a damaged one fail their checksums, which are missing, and which
// missing ones lie elsewhere under another name (as obfuscated downloads carry them).
//
// What it guarantees:
// - Each candidate file it checks is read once, sequentially, in pieces of at most 1 MiB, on
//   the calling thread (which also hears the progress); a thread of its own hashes each piece
//   while the next is read. Two pieces are held, 2 MiB in all, and memory does not grow with
//   the files. A file of the set is checked on the candidate of its
//   own name; a file not found intact is then looked for among all other candidates of its
//   length whose first 16 KiB have its MD5 (those 16 KiB read once per candidate), and each
//   such candidate is confirmed by a full check.
// - A file with slice checksums is intact when its size matches and every slice matches its
//   MD5 and CRC-32 (the last slice padded with zeros); its whole-file MD5 is then not computed,
//   since the slices' MD5s already vouch for every byte. Only where the padding would pass
//   1 MiB (a slice size far above the file's length) is the last slice checked by its CRC-32,
//   carried over the zeros arithmetically, and the whole file by its MD5: at most 1 MiB of
//   zeros is hashed per file, whatever the set declares. A file without slice checksums is
//   intact when its size and whole-file MD5 match.
// - A candidate may hold more than one file of the set when their contents are equal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/par2/par2_packets.h"

struct Par2Candidate {
    // Relative to the set's folder, compared with the set's names byte for byte ("/" and "\"
    // alike); a caller on a file system that ignores case gives the name as the set writes it.
    std::string name;
    ByteSource* bytes = nullptr;
};

enum class Par2FileState {
    Intact,
    Damaged,  // the candidate holds the file with damage: some slices, or only its size
    Missing,  // no candidate holds it (or the one of its name could not be read)
    Unknown,  // the set does not describe the file: nothing to check it against
};

constexpr size_t kPar2NoCandidate = static_cast<size_t>(-1);

struct Par2FileVerdict {
    Par2FileState state = Par2FileState::Missing;
    size_t candidate = kPar2NoCandidate;  // that holds the file or its best copy
    bool foundElsewhere = false;          // the candidate has another name than the file
    bool sizeMatches = false;
    bool readFailed = false;  // the candidate of the file's name failed to read
    // Damaged: the slices of the file (counted from 0 in the file) that fail their checksums or
    // lie past the candidate's end, ascending. Empty when only the size is wrong, or when the
    // file has no slice checksums (then which slices are damaged is not known).
    std::vector<uint32_t> damagedSlices;
};

struct Par2Verification {
    std::vector<Par2FileVerdict> files;  // one for each file of set.files, in its order
    bool stopped = false;
};

// Checks the files of `set` (read by ReadPar2Files, with hasMain) on `candidates`.
// `progress` hears of every byte read.
Par2Verification VerifyPar2Set(const Par2Set& set, const std::vector<Par2Candidate>& candidates,
                               const Par2Progress& progress = {});

// The input slices that a repair must rebuild, ascending: every slice of a missing file of the
// recovery set, the damaged slices of a damaged one (all its slices when which is not known).
std::vector<uint32_t> Par2MissingSlices(const Par2Set& set, const Par2Verification& verification);

// For Par2SetSlices: each file's source, the candidate that holds it intact or damaged, or
// nullptr when it is missing.
std::vector<ByteSource*> Par2FileSources(const Par2Verification& verification,
                                         const std::vector<Par2Candidate>& candidates);
