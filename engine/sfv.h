// Verification of a group of downloaded files against the CRC-32 values of an SFV file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/files.h"
#include "engine/job_progress.h"
#include "engine/journal.h"
#include "engine/outcome.h"

// Checks every file that the SFV file lists, announcing each one to the host before and after
// its checksum is computed, and records each file that matched in the group's journal. A listed
// name must stay inside the SFV file's directory; one that would reach
// outside it (a "..", a drive, a UNC path, a device) is a mismatch, and nothing is read for it.
// A listed file that cannot be read never counts as verified, unless it is gone because an
// earlier run of this job verified it and then consumed it (the journal says so). The host's
// stop is heard between blocks, also inside one large file.
Failure VerifySfv(const std::string& sfvPath, JobProgress& progress, Journal& journal);
