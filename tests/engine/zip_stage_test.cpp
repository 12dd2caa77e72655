#include "engine/zip_stage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "host/progress.h"
#include "tests/support/host_recorder.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Names;

Names Recorded(const FileList& list)
{
    return Names(list.begin(), list.end());
}

// The archive lies in in\, the destination is out\ (created beforehand, as the driver does).
class ZipStage : public ::testing::Test {
protected:
    void SetUp() override
    {
        MakeDirectories(in());
        MakeDirectories(out());
    }

    bool Extract(const std::vector<ZipEntry>& entries, const ZipArchiveOptions& options = ZipArchiveOptions())
    {
        WriteFileBytes(archive(), BuildZip(entries, options));
        return ExtractZip(archive(), out(), output_);
    }

    std::string in() const { return dir_ / "in\\"; }
    std::string out() const { return dir_ / "out\\"; }
    std::string archive() const { return in() + "x.zip"; }

    TempDir dir_;
    FileList output_;
};

TEST_F(ZipStage, EntriesAreAnnouncedExtractedAndRecordedInOrder)
{
    HostRecorder host;
    EXPECT_TRUE(Extract({FileEntry("a.txt", "aaa"), DirectoryEntry("sub/"), FileEntry("sub/b.rar", "rar", 0)}));
    EXPECT_EQ(host.calls, (Names{"0 " + in() + "a.txt", "0 " + in() + "sub/", "0 " + in() + "sub/b.rar"}));
    EXPECT_EQ(Recorded(output_), (Names{out() + "a.txt", out() + "sub/", out() + "sub/b.rar"}));
    EXPECT_EQ(ReadFileBytes(out() + "a.txt"), "aaa");
    EXPECT_EQ(ReadFileBytes(out() + "sub\\b.rar"), "rar");
    EXPECT_EQ(ContinueFlag, 1);
}

TEST_F(ZipStage, OutputListIsAppendedTo)
{
    output_.Append("earlier");
    EXPECT_TRUE(Extract({FileEntry("a.txt", "a")}));
    EXPECT_EQ(Recorded(output_), (Names{"earlier", out() + "a.txt"}));
}

TEST_F(ZipStage, WithoutHostCallbackEverythingIsExtractedAndTheFlagKept)
{
    ContinueFlag = 7;
    EXPECT_TRUE(Extract({FileEntry("a.txt", "a"), FileEntry("b.txt", "b")}));
    EXPECT_EQ(Recorded(output_), (Names{out() + "a.txt", out() + "b.txt"}));
    EXPECT_EQ(ListTree(out()), (Names{"a.txt", "b.txt"}));
    EXPECT_EQ(ContinueFlag, 7);
    ContinueFlag = 1;
}

TEST_F(ZipStage, StopOnTheSecondEntryKeepsOnlyTheFirst)
{
    HostRecorder host;
    host.stopAt = 2;
    EXPECT_FALSE(Extract({FileEntry("a.txt", "a"), FileEntry("b.txt", "b"), FileEntry("c.txt", "c")}));
    EXPECT_EQ(host.calls, (Names{"0 " + in() + "a.txt", "0 " + in() + "b.txt"}));
    EXPECT_EQ(Recorded(output_), Names{out() + "a.txt"});
    EXPECT_EQ(ListTree(out()), Names{"a.txt"});
    EXPECT_EQ(ContinueFlag, 0);
    ContinueFlag = 1;
    // The reader was closed: the archive can be deleted at once.
    EXPECT_TRUE(DeleteFileA(archive().c_str()));
}

TEST_F(ZipStage, ArchivesThatDoNotOpenAnnounceAndRecordNothing)
{
    const std::string valid = BuildZip({FileEntry("a", "1")});
    ZipArchiveOptions multiDisk;
    multiDisk.diskNumber = 2;
    const std::string cases[] = {"no archive at all, just text", valid.substr(0, valid.size() - 5),
                                 BuildZip({FileEntry("a", "1")}, multiDisk)};
    for (const std::string& bytes : cases) {
        HostRecorder host;
        WriteFileBytes(archive(), bytes);
        EXPECT_FALSE(ExtractZip(archive(), out(), output_));
        EXPECT_TRUE(host.calls.empty());
        EXPECT_TRUE(output_.Empty());
        EXPECT_TRUE(ListTree(out()).empty());
    }
    EXPECT_FALSE(ExtractZip(in() + "missing.zip", out(), output_));
    EXPECT_TRUE(output_.Empty());
}

TEST_F(ZipStage, EmptyArchiveIsCompleteWithNothingRecorded)
{
    HostRecorder host;
    EXPECT_TRUE(Extract({}));
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(output_.Empty());
}

// Entries that fail are recorded all the same, and make the extraction incomplete.
TEST_F(ZipStage, FailedEntriesAreRecordedAndMakeItIncomplete)
{
    WriteFileBytes(out() + "locked.txt", "old");
    SetFileAttributesA((out() + "locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    ZipEntry badCrc = FileEntry("crc.txt", "content");
    badCrc.wrongCrc = true;
    ZipEntry corrupt = FileEntry("corrupt.txt", "content");
    corrupt.localFault = LocalFault::Crc;
    ZipEntry truncated = FileEntry("short.bin", PatternBytes(3000, 2));
    truncated.cutData = 10;
    struct Case {
        const char* what;
        ZipEntry entry;
        const char* recorded;  // below out\; the entry's record failed when empty
        const char* content;   // what the recorded file holds afterwards; null: no file, or partial
    } cases[] = {
        {"read-only target", FileEntry("locked.txt", "new"), "locked.txt", "old"},
        {"CRC mismatch", badCrc, "crc.txt", "content"},
        {"corrupt local header", corrupt, "", nullptr},
        {"data ends early", truncated, "short.bin", nullptr},
        {"stored name too long", FileEntry(std::string(300, 'n'), "x"), "", nullptr},
        {"unsafe name", FileEntry("../up.txt", "x"), "", nullptr},
    };
    for (const Case& c : cases) {
        HostRecorder host;
        FileList output;
        WriteFileBytes(archive(), BuildZip({c.entry, FileEntry("good.txt", "good")}));
        EXPECT_FALSE(ExtractZip(archive(), out(), output)) << c.what;
        EXPECT_EQ(Recorded(output), (Names{out() + c.recorded, out() + "good.txt"})) << c.what;
        EXPECT_EQ(host.calls, (Names{"0 " + in() + c.recorded, "0 " + in() + "good.txt"})) << c.what;
        if (c.content) {
            EXPECT_EQ(ReadFileBytes(out() + c.recorded), c.content) << c.what;
        }
        EXPECT_EQ(ReadFileBytes(out() + "good.txt"), "good") << c.what;
    }
    EXPECT_TRUE(FileExists(out() + "short.bin"));
    EXPECT_EQ(ListTree(dir_.path()), (Names{"in\\", "in\\x.zip", "out\\", "out\\crc.txt", "out\\good.txt",
                                            "out\\locked.txt", "out\\short.bin"}));
}

// The host's buffer holds 259 characters: a longer text is cut, the entry is still
// extracted, and so is the next one.
TEST_F(ZipStage, LongProgressTextsAreCut)
{
    const std::string deepIn = dir_ / (std::string(120, 'd') + "\\");
    MakeDirectories(deepIn);
    const std::string name = std::string(150, 'e') + ".txt";
    WriteFileBytes(deepIn + "x.zip", BuildZip({FileEntry(name, "long"), FileEntry("next.txt", "n")}));
    ASSERT_GT(deepIn.size() + name.size(), 259u);
    ASSERT_LE(out().size() + name.size(), 259u);
    HostRecorder host;
    EXPECT_TRUE(ExtractZip(deepIn + "x.zip", out(), output_));
    EXPECT_EQ(host.calls, (Names{"0 " + (deepIn + name).substr(0, 259), "0 " + deepIn + "next.txt"}));
    EXPECT_EQ(Recorded(output_), (Names{out() + name, out() + "next.txt"}));
    EXPECT_EQ(ReadFileBytes(out() + name), "long");
}

TEST_F(ZipStage, OutputPathsThatDoNotFitAreRefusedAndTheNextEntryProcessed)
{
    const std::string name = std::string(260 - out().size(), 'o');
    EXPECT_FALSE(Extract({FileEntry(name, "x"), FileEntry("next.txt", "n")}));
    EXPECT_EQ(Recorded(output_), (Names{out() + name, out() + "next.txt"}));
    EXPECT_EQ(ListTree(out()), Names{"next.txt"});
}

// Each hostile name goes into a real archive ahead of a harmless entry and is extracted into
// a\b\dest\. Nothing may appear outside the destination. Names that the sanitising makes
// relative are extracted inside; names that would still escape are refused.
TEST(ZipStageHostileNames, NothingIsWrittenOutsideTheDestination)
{
    struct Case {
        std::string stored;
        const char* inside;  // the name below the destination; null when refused
    } cases[] = {
        {"../escaped.txt", nullptr},
        {"..\\escaped.txt", nullptr},
        {"../../../../../escaped.txt", nullptr},
        {"..\\..\\..\\Windows\\escaped.txt", nullptr},
        {"a/../../escaped.txt", nullptr},
        {"a\\..\\..\\escaped.txt", nullptr},
        {"a/./../../escaped.txt", nullptr},
        {"..", nullptr},
        {"a/..", nullptr},
        {"a\\..\\", ""},  // the destination itself
        {"../", nullptr},
        {"../escaped/", nullptr},
        {"a/../../escaped/", nullptr},
        {"/../escaped.txt", nullptr},
        {"C:../escaped.txt", nullptr},
        {"\\\\?\\C:\\escaped.txt", nullptr},
        {"\\\\.\\C:\\escaped.txt", nullptr},
        {"a/C:/escaped.txt", nullptr},
        {"escaped.txt:stream", nullptr},
        {"escaped.txt::$DATA", nullptr},
        {".../escaped.txt", nullptr},
        {".. /escaped.txt", nullptr},
        {"CON", nullptr},
        {"sub/aux.txt", nullptr},
        {"C:\\escaped.txt", "escaped.txt"},
        {"D:escaped.txt", "escaped.txt"},
        {"C:/Windows/escaped.txt", "Windows/escaped.txt"},
        {"/tmp/escaped.txt", "tmp/escaped.txt"},
        {"\\\\server\\share\\escaped.txt", "server\\share\\escaped.txt"},
        {"x/../escaped.txt", "escaped.txt"},
        {"../../escaped.txt", "escaped.txt"},  // "/../" inside: skipped past
        {"../../../../escaped.txt", "escaped.txt"},
        {"../../escaped/", "escaped/"},
        {std::string("safe\0/../../escaped.txt", 24), "safe"},
    };
    const Names outside = {"a\\", "a\\b\\", "a\\b\\dest\\", "in\\", "in\\x.zip"};
    for (const Case& c : cases) {
        TempDir dir;
        const std::string destination = dir / "a\\b\\dest\\";
        MakeDirectories(destination);
        MakeDirectories(dir / "in");
        const bool directory = c.stored.back() == '/' || c.stored.back() == '\\';
        const ZipEntry hostile = directory ? DirectoryEntry(c.stored) : FileEntry(c.stored, "payload");
        WriteFileBytes(dir / "in\\x.zip", BuildZip({hostile, FileEntry("ok.txt", "fine")}));
        FileList output;
        EXPECT_EQ(ExtractZip(dir / "in\\x.zip", destination, output), c.inside != nullptr) << c.stored;

        Names beyond;
        for (const std::string& entry : ListTree(dir.path()))
            if (entry.compare(0, 9, "a\\b\\dest\\") != 0 || entry.size() == 9)
                beyond.push_back(entry);
        EXPECT_EQ(beyond, outside) << c.stored;
        const std::string temp = dir.path().substr(0, dir.path().rfind('\\', dir.path().size() - 2) + 1);
        EXPECT_FALSE(FileExists(temp + "escaped.txt")) << c.stored;
        EXPECT_FALSE(DirectoryExists(temp + "escaped")) << c.stored;
        EXPECT_EQ(ReadFileBytes(destination + "ok.txt"), "fine") << c.stored;
        const std::string recorded = destination + (c.inside ? c.inside : "");
        EXPECT_EQ(Recorded(output), (Names{recorded, destination + "ok.txt"})) << c.stored;
        if (c.inside && !directory) {
            EXPECT_EQ(ReadFileBytes(recorded), "payload") << c.stored;
        }
    }
}

}  // namespace
