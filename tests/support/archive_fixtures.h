// The archives that tests/fixtures/make_archives.sh builds into the build tree before the
// Windows tests run (the ctest fixture "archives"); the script lists what each one holds.
#pragma once

#include <string>

// The full path of a built archive, or of a file it holds under "src\". Fails the test with a
// hint when the fixtures have not been built.
std::string FixturePath(const std::string& name);

// The content of a file that the archives hold (a name under "src\").
std::string FixtureSource(const std::string& name);
