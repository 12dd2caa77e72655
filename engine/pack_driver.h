// The pack command: the host's selection is cut into groups at its directory entries, each
// group is verified against its SFV files and unpacked into the destination directory.
#pragma once

#include "engine/job_progress.h"
#include "engine/outcome.h"

// Runs one pack command, reporting to `sink` (null: no reports, no stop). Ok only when every
// group was delivered completely; Stopped when the host asked to stop at any point; otherwise
// the outcome of the first failure. A failing group never stops the next ones, and each group
// ends with one text for the host that says what became of it. Null arguments do nothing. Calls
// are serialised: a second call waits, saying so, until the first has finished, and can be
// stopped while it waits.
Outcome RunPackFiles(const char* packedFile, const char* srcPath, const char* addList, ProgressSink* sink);
