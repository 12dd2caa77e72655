// Unpacking of one verified group: the selected archives, then the archives they contained.
#pragma once

#include <string>
#include <vector>

#include "engine/file_list.h"
#include "engine/outcome.h"
#include "engine/unpack_context.h"
#include "engine/zip_stream.h"

// The first volumes that later volumes of `paths` need but `paths` does not hold, one per set,
// in the order their later volumes come: a set is read from its first volume only, so such
// volumes cannot be unpacked. Each pass asks over its own list (the selection, the first
// pass's output) before it starts.
std::vector<std::string> MissingFirstVolumes(const FileList& paths);

// Unpacks the group's sources into `destination` (ends with a backslash), then the archives
// that they yielded, and deletes the first pass's output after a second pass, as the settings
// say. A ZIP source goes only once every entry came out; once any source of the first pass
// failed or was stopped, the first pass's output may be all that is left of a deleted source,
// so the second pass deletes nothing and nothing is cleaned up. A selected file that is missing
// fails the group, and so do later volumes without their first volume (they stay); the other
// files still come out. What the group's journal says a dead run of this job did comes first:
// a set it was unpacking while deleting its volumes is continued, and what it consumed counts
// as consumed (its outputs join the pass, a leftover of it goes once they are found whole).
// The host's progress covers each source as the stages consume it. `streams` (PlanZipStreams)
// are the ZIP files whose stored sets go straight into their files. Ok when every archive of
// both passes came out completely; a stop ends the group at the next step.
Failure UnpackGroup(const UnpackContext& context, const FileList& selection, const std::string& destination,
                    std::vector<ZipStream>& streams);
