// The archives that tests/fixtures/make_archives.sh builds into the build tree before the
// Windows tests run (the ctest fixture "archives"); the script lists what each one holds.
#pragma once

#include <string>

#include "engine/journal.h"

// The full path of a built archive, or of a file it holds under "src\". Fails the test with a
// hint when the fixtures have not been built.
std::string FixturePath(const std::string& name);

// The content of a file that the archives hold (a name under "src\").
std::string FixtureSource(const std::string& name);

// Puts `records` into `journal` through its own changes, as runs of the job make them.
bool RecordAll(Journal& journal, const JournalRecords& records);

// Leaves `records` in `destination` as the journal of a dead run of the job from `source`,
// written with the key beside the module in `pluginFolder` (made there first where the module
// has made none yet).
void PlantJournal(const std::string& pluginFolder, const std::string& destination, const std::string& source,
                  const JournalRecords& records);
