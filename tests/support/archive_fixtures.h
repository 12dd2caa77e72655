// The archives that tests/fixtures/make_archives.sh builds into the build tree before the
// Windows tests run (the ctest fixture "archives"); the script lists what each one holds.
#pragma once

#include <string>
#include <vector>

// The full path of a built archive, or of a file it holds under "src\". Fails the test with a
// hint when the fixtures have not been built.
std::string FixturePath(const std::string& name);

// The content of a file that the archives hold (a name under "src\").
std::string FixtureSource(const std::string& name);

// Writes a ZIP archive of stored entries holding the old-naming RAR 4 set NAME.rar, NAME.r00,
// NAME.r01 of one file NAME.mkv with the content `film`.
void WriteZippedRar4Set(const std::string& zipPath, const std::string& name, const std::string& film);

// Copies built archives into `directory` (ends with a backslash), where a test may rename and
// delete them; returns the copies' paths in the order given.
std::vector<std::string> CopyFixtures(const std::vector<std::string>& names, const std::string& directory);
