#include "engine/zip_stage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "host/progress.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Names;

Outcome ExtractWith(const std::string& archive, const std::string& destination, Names& recorded)
{
    JobProgress progress(nullptr);
    UnpackContext context;
    context.progress = &progress;
    std::vector<JournalFile> landed;
    const Outcome outcome = ExtractZip(context, archive, destination, landed).outcome;
    for (const JournalFile& file : landed)
        recorded.push_back(file.path);
    return outcome;
}

// Each hostile name goes into a real archive ahead of a harmless entry and is extracted into
// a\b\dest\. Nothing may appear outside the destination: names that would still escape after
// sanitising are refused, the others are extracted inside.
TEST(ZipStageHostileNames, NothingIsWrittenOutsideTheDestination)
{
    std::vector<std::pair<std::string, std::string>> cases;  // stored name, name inside or "-" when refused
    for (const char* refused :
         {"../escaped.txt", "..\\escaped.txt", "../../../../../escaped.txt", "a/../../escaped.txt",
          "a\\..\\..\\escaped.txt", "..", "a/..", "../", "../escaped/", "a/../../escaped/", "/../escaped.txt",
          "C:../escaped.txt", "\\\\?\\C:\\escaped.txt", "escaped.txt::$DATA", ".. /escaped.txt", "sub/aux.txt"})
        cases.push_back({refused, "-"});
    cases.insert(cases.end(), {{"a\\..\\", ""},  // the destination itself
                               {"C:\\escaped.txt", "escaped.txt"},
                               {"D:escaped.txt", "escaped.txt"},
                               {"/tmp/escaped.txt", "tmp/escaped.txt"},
                               {"\\\\server\\share\\escaped.txt", "server\\share\\escaped.txt"},
                               {"x/../escaped.txt", "escaped.txt"},
                               {"../../escaped.txt", "escaped.txt"},  // "/../" inside: skipped past
                               {"../../escaped/", "escaped/"},
                               {"dots. /name.txt. ", "dots/name.txt"},  // as Windows keeps them
                               {std::string("safe\0/../../escaped.txt", 24), "safe"}});
    // A destination of the plain form, and one that needs the long form.
    for (const auto& c : cases)
        for (const std::string& leaf : {std::string("dest"), std::string(250, 'd')}) {
            TempDir dir;
            const std::string inside = "a\\b\\" + leaf + "\\";
            const std::string destination = dir / inside;
            MakeDirectories(destination);
            const bool directory = c.first.back() == '/' || c.first.back() == '\\';
            const ZipEntry hostile = directory ? DirectoryEntry(c.first) : FileEntry(c.first, "payload");
            WriteFileBytes(dir / "x.zip", BuildZip({hostile, FileEntry("ok.txt", "fine")}));
            Names output;
            const bool refused = c.second == "-";
            EXPECT_EQ(ExtractWith(dir / "x.zip", destination, output) == Outcome::Ok, !refused) << c.first;

            Names beyond;
            for (const std::string& entry : ListTree(dir.path()))
                if (entry.compare(0, inside.size(), inside) != 0 || entry.size() == inside.size())
                    beyond.push_back(entry);
            EXPECT_EQ(beyond, (Names{"a\\", "a\\b\\", inside, "x.zip"})) << c.first;
            const std::string temp = dir.path().substr(0, dir.path().rfind('\\', dir.path().size() - 2) + 1);
            EXPECT_FALSE(FileExists(temp + "escaped.txt") || DirectoryExists(temp + "escaped")) << c.first;
            // Only files are recorded: not a directory, nor an entry that comes down to the
            // destination itself, which made nothing.
            const std::string recorded = destination + c.second;
            EXPECT_EQ(output, refused || directory || c.second.empty() ? Names{destination + "ok.txt"}
                                                                       : (Names{recorded, destination + "ok.txt"}))
                << c.first;
            if (!refused && !directory) {
                EXPECT_EQ(ReadFileBytes(recorded), "payload") << c.first;
            }
        }
}

}  // namespace
