#include "engine/zip_stage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "host/progress.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Names;

Outcome ExtractWith(const std::string& archive, const std::string& destination, Names& recorded)
{
    JobProgress progress(nullptr);
    const DiskRoot root(destination, true);
    UnpackContext context;
    context.progress = &progress;
    context.source = context.destination = &root;
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
         {"../escaped.txt", "a/../../escaped.txt", "a\\..\\..\\escaped.txt", "a/..", "../escaped/", "/../escaped.txt",
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
                               // As long as a name may be: its temporary name is cut short.
                               {std::string(251, 'n') + ".txt", std::string(251, 'n') + ".txt"},
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

// Hundreds of entries of every size go through the threads that write them: each comes out whole
// under its own name; a file of other content in the way (the user's, or one that the archive
// wrote earlier under a name that differs in case) keeps its place and the entry lands beside
// it; a file that holds the entry already is taken as it is; nothing stays under a temporary
// name, and each output is recorded once, as the archive names it.
TEST(ZipStageManyEntries, EachComesOutWhole)
{
    TempDir dir;
    const std::string destination = dir / "dest\\";
    std::vector<ZipEntry> entries;
    std::map<std::string, std::string> expected;  // where each entry lands: its content
    Names outputs;
    for (int i = 0; i < 600; ++i) {
        // Entry 300 has the name of entry 3 in other case: it waits until those before it landed.
        const std::string name =
            i == 300 ? "SUB0\\FILE3.TXT" : "sub" + std::to_string(i % 3) + "\\file" + std::to_string(i) + ".txt";
        // Mostly small files, held in memory; every fiftieth is too large for that.
        const size_t size = i % 50 == 7 ? (300u << 10) + i : static_cast<size_t>(i * 37 % 5000);
        // Text that deflates well, so that one read of the deflated data gives many blocks.
        std::string data(size, '\0');
        for (size_t b = 0; b < size; ++b)
            data[b] = static_cast<char>('a' + (b * 7 + i) % 26);
        entries.push_back(FileEntry(name, data, i % 2 ? 8 : 0));
        const std::string lands = i == 5 ? "sub2\\file5 (2).txt" : i == 300 ? "sub0\\FILE3 (2).TXT" : name;
        expected[lands] = data;
        outputs.push_back(destination + (i == 300 ? "SUB0\\FILE3 (2).TXT" : lands));
    }
    MakeDirectories(destination + "sub2\\");
    MakeDirectories(destination + "sub0\\");
    WriteFileBytes(destination + "sub2\\file5.txt", "the user's own");
    expected["sub2\\file5.txt"] = "the user's own";
    WriteFileBytes(destination + "sub0\\file9.txt", expected["sub0\\file9.txt"]);
    WriteFileBytes(dir / "many.zip", BuildZip(entries));

    Names recorded;
    EXPECT_EQ(ExtractWith(dir / "many.zip", destination, recorded), Outcome::Ok);
    std::sort(recorded.begin(), recorded.end());
    std::sort(outputs.begin(), outputs.end());
    EXPECT_EQ(recorded, outputs);
    // Both sorted: ListTree's names and the map's keys.
    Names files, wanted;
    for (const std::string& entry : ListTree(destination))
        if (entry.back() != '\\')
            files.push_back(entry);
    for (const auto& file : expected)
        wanted.push_back(file.first);
    EXPECT_EQ(files, wanted);
    for (const auto& file : expected)
        EXPECT_EQ(ReadFileBytes(destination + file.first), file.second) << file.first;
}

// Entries whose names meet wait for each other instead of racing on the writing threads: a file
// and the temporary name of another, a file and a folder of the same name. None writes over
// another.
TEST(ZipStageManyEntries, NamesThatMeetTakeTurns)
{
    TempDir dir;
    const std::string destination = dir / "dest\\";
    WriteFileBytes(dir / "names.zip", BuildZip({FileEntry("y.txt", "Y"), FileEntry("y.txt.incomplete", "I")}));
    Names recorded;
    EXPECT_EQ(ExtractWith(dir / "names.zip", destination, recorded), Outcome::Ok);
    EXPECT_EQ(ListTree(destination), (Names{"y.txt", "y.txt.incomplete"}));
    EXPECT_EQ(ReadFileBytes(destination + "y.txt"), "Y");
    EXPECT_EQ(ReadFileBytes(destination + "y.txt.incomplete"), "I");

    RemoveTree(destination);

    // A folder cannot be made where the file landed: that entry fails, the rest is whole.
    WriteFileBytes(dir / "folder.zip", BuildZip({FileEntry("a", "A"), FileEntry("a\\b.txt", "B")}));
    recorded.clear();
    EXPECT_EQ(ExtractWith(dir / "folder.zip", destination, recorded), Outcome::CannotWrite);
    EXPECT_EQ(ListTree(destination), (Names{"a"}));
    EXPECT_EQ(ReadFileBytes(destination + "a"), "A");
}
