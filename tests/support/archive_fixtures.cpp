#include "tests/support/archive_fixtures.h"

#include <windows.h>

#include <stdexcept>

#include "engine/text.h"
#include "tests/support/rar4_writer.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

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

std::vector<std::string> CopyFixtures(const std::vector<std::string>& names, const std::string& directory)
{
    std::vector<std::string> copies;
    for (const std::string& name : names) {
        copies.push_back(directory + name);
        if (!CopyFileW(PlatformPath(FixturePath(name)).c_str(), PlatformPath(copies.back()).c_str(), FALSE))
            throw std::runtime_error("cannot copy " + name + " to " + directory);
    }
    return copies;
}

void WriteZippedRar4Set(const std::string& zipPath, const std::string& name, const std::string& film)
{
    TempDir scratch;
    const std::vector<std::string> volumes =
        WriteRar4(scratch / (name + ".rar"), {{name + ".mkv", film}}, film.size() / 3 + 1);
    std::vector<ZipEntry> entries;
    for (const std::string& volume : volumes)
        entries.push_back(FileEntry(volume.substr(scratch.path().size()), ReadFileBytes(volume), 0));
    WriteFileBytes(zipPath, BuildZip(entries));
}
