#include "tests/support/archive_fixtures.h"

#include <windows.h>

#include <stdexcept>

#include "base/text.h"
#include "tests/support/test_files.h"

std::string FixturePath(const std::string& name)
{
    const std::string path = BinaryDirectory() + "..\\fixtures\\" + name;
    if (GetFileAttributesW(PlatformPath(path).c_str()) == INVALID_FILE_ATTRIBUTES)
        throw std::runtime_error(path + " is missing: run the tests through ctest, whose fixture 'archives' builds it");
    return path;
}

std::string FixtureSource(const std::string& name)
{
    return ReadFileBytes(FixturePath("src\\" + name));
}
