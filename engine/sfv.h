// Verification of a group of downloaded files against the CRC-32 values of an SFV file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/files.h"
#include "engine/job_progress.h"
#include "engine/journal.h"
#include "engine/outcome.h"

// A file that the SFV file lists whose check is made from the read that unpacks it.
struct SfvCheck {
    std::string path;
    std::string name;  // as the SFV file lists it
    uint32_t expected = 0;
};

// Checks every file that the SFV file lists, announcing each one to the host before and after
// its checksum is computed, and records each file that matched in the group's journal. A listed
// name must stay inside the SFV file's directory; one that would reach
// outside it (a "..", a drive, a UNC path, a device) is a mismatch, and nothing is read for it.
// A listed file that cannot be read never counts as verified, unless it is gone because an
// earlier run of this job verified it and then consumed it (the journal says so). The host's
// stop is heard between blocks, also inside one large file. A file that is there and whose
// FileIdentity `readLater` holds is not read: its check goes to `later`, to be settled by
// SettleSfvCheck with the CRC-32 of the read that unpacks it.
Failure VerifySfv(const std::string& sfvPath, JobProgress& progress, Journal& journal,
                  const std::unordered_set<std::wstring>& readLater, std::vector<SfvCheck>& later);

// Settles a check that VerifySfv left for later with the CRC-32 of the whole file: as VerifySfv
// would have, announced to the host, recorded in the journal when it matched, and failed with
// the same text when it did not.
Failure SettleSfvCheck(const SfvCheck& check, uint32_t actual, JobProgress& progress, Journal& journal);

// Settles a check that VerifySfv left for later by reading the file now, for a file that is not
// unpacked the way that would have read it.
Failure ReadSfvCheck(const SfvCheck& check, JobProgress& progress, Journal& journal);
