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

bool RecordAll(Journal& journal, const JournalRecords& records)
{
    return journal.Record([&](Journal& next) {
        for (const std::string& run : records.runs)
            next.AddRun(run);
        for (const JournalFile& file : records.verified)
            next.AddVerified(file);
        for (const ConsumedFile& consumed : records.consumed) {
            std::vector<JournalFile> outputs;
            for (const auto& output : records.outputs)
                if (output.first == consumed.key)
                    outputs.push_back(output.second);
            next.AddConsumed({{consumed.path, consumed.proof}}, outputs);
        }
        for (const auto& renamed : records.renamed)
            next.AddRenamed(renamed.first, renamed.second);
        for (const auto& named : records.named)
            next.AddNamed(named.first, named.second);
        for (const Par2Repair& repaired : records.repaired)
            next.AddRepaired(repaired);
        next.SetProgress(records.set);
    });
}

void PlantJournal(const std::string& pluginFolder, const std::string& destination, const std::string& source,
                  const JournalRecords& records)
{
    const std::string keyPath = pluginFolder + "\\ravelpak.key";
    if (!FileExists(keyPath))
        WriteFileBytes(keyPath, std::string(32, '\x6b'));
    MakeDirectories(destination);
    Journal journal(destination, source, ReadFileBytes(keyPath));
    if (journal.Load() == Journal::LoadResult::NoKey || !RecordAll(journal, records))
        throw std::runtime_error("cannot plant a journal in " + destination);
}
