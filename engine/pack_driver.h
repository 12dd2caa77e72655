// The pack command: the host's selection is cut into groups at its directory entries, each
// group is verified against its SFV files and unpacked into the destination directory.
#pragma once

#include <string>
#include <vector>

#include "engine/job_progress.h"
#include "engine/outcome.h"

// Runs one pack command, reporting to `sink` (null: no reports, no stop). Ok only when every
// group was delivered completely; Stopped when the host asked to stop at any point; otherwise
// the outcome of the first failure. A failing group never stops the next ones, and each group
// ends with one text for the host that says what became of it. Calls are serialised: a second
// call waits, saying so, until the first has finished, and can be stopped while it waits.
//
// The arguments are the host's, in UTF-8: the name of the archive it proposed (its directory is
// the destination), the source directory, and the selected names relative to it (a directory
// entry ends with a backslash; an empty first name stands for the destination itself).
Outcome RunPackFiles(const std::string& packedFile, const std::string& srcPath, const std::vector<std::string>& names,
                     ProgressSink* sink);
