// Unpacking a stored RAR 5 set while its volumes are deleted, for a set that fits the
// destination no other way. The data is copied out of the volumes by their own headers and
// checked part by part against the CRC-32 each part carries. Before a volume goes, everything
// that came out of it is on the disk and the group's journal says how far the set got, so that
// a run that dies at any moment leaves every byte of the set either in a volume or in an
// output that the next run of the same job continues.
#pragma once

#include <string>
#include <vector>

#include "engine/journal.h"
#include "engine/outcome.h"
#include "engine/unpack_context.h"

// Unpacks the set of `volumes` (in order, with their sizes) into `destination` (ends with a
// backslash), deleting each volume once it is done with; appends every entry that came out
// whole to `landed`. A set that is not stored RAR 5 with CRC-32s is kept
// (NoRoom): nothing could continue it once its first volume is gone.
Failure UnpackDeletingVolumes(const UnpackContext& context, const std::vector<JournalFile>& volumes,
                              const std::string& destination, std::vector<JournalFile>& landed);

// Finishes the set that the group's journal says a dead run was unpacking while deleting its
// volumes, from the first volume left, continuing the entry it was writing from its temporary
// file. Ok when there is none. A journal that does not match what is on the disk (other
// volumes, other sizes, a temporary file that does not hold what it says) is not acted on:
// everything is kept and the failure says so.
Failure ResumeSetUnderDeletion(const UnpackContext& context, const std::string& destination,
                               std::vector<JournalFile>& landed);
