// Repair of a group's download by the PAR2 files beside it, before its SFV file is checked and
// it is unpacked: every file a recovery set describes is verified slice by slice, a file found
// under another name (an obfuscated download) takes the name the set gives it, and lost slices
// are rebuilt from the recovery slices.
//
// A set acts on the files of the group's selection only, and creates only names that are free:
// it never reads, renames or writes over another file of the folder. A repaired file is written
// to a temporary file of its own, checked against its MD5 and put on the disk before it takes its name; the
// damaged file it replaces is kept as NAME.damaged. Every rename is recorded in the group's
// journal before it is made, so that a run killed at any moment leaves the download whole under
// one name or the other, and the next run finishes the job.
#pragma once

#include <string>
#include <vector>

#include "engine/file_list.h"
#include "engine/outcome.h"
#include "engine/unpack_context.h"

// True for a PAR2 file: named .par2, or beginning with a PAR2 packet whatever its name.
bool IsPar2File(const std::string& path);

struct Par2Outcome {
    Failure failure;
    // The files that a recovery set described and found whole (or made whole): they count as
    // checked, as the files an SFV file lists do.
    std::vector<std::string> vouched;
    // What goes with the group's SFV files once it was delivered: its PAR2 files and the damaged
    // files that repairs replaced.
    std::vector<std::string> leftovers;
};

// Verifies the files of `selection` (the group's files but its PAR2 and SFV files) by the sets
// that `par2Files` hold, renames and repairs what needs it, and leaves in `selection` the files
// as they stand then: under the names the sets give, with rebuilt files added and the damaged
// ones taken out. What a dead run of this job renamed is taken as it left it, and a repair it
// did not finish is undone first. Verification follows the "Check CRC" setting; without it only
// the dead run's work is taken up. A stop leaves the download as it was.
Par2Outcome RepairByPar2(const UnpackContext& context, const std::vector<std::string>& par2Files, FileList& selection);
