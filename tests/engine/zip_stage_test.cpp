#include "engine/zip_stage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "host/progress.h"
#include "tests/support/host_recorder.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Names;

Outcome ExtractWith(const std::string& archive, const std::string& destination, FileList& output, HostRecorder* host)
{
    JobProgress progress(host);
    UnpackContext context;
    context.progress = &progress;
    return ExtractZip(context, archive, destination, output).outcome;
}

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

    Outcome Extract(const std::vector<ZipEntry>& entries, HostRecorder* host = nullptr)
    {
        WriteFileBytes(archive(), BuildZip(entries));
        return ExtractWith(archive(), out(), output_, host);
    }

    std::string in() const { return dir_ / "in\\"; }
    std::string out() const { return dir_ / "out\\"; }
    std::string archive() const { return in() + "x.zip"; }

    TempDir dir_;
    FileList output_;
};

TEST_F(ZipStage, EntriesAreAnnouncedExtractedAndAppendedInOrder)
{
    EXPECT_EQ(Extract({FileEntry("a.txt", "a")}), Outcome::Ok);
    HostRecorder host;  // the output list is appended to
    EXPECT_EQ(Extract({FileEntry("a.txt", "aaa"), DirectoryEntry("sub/"), FileEntry("sub/b.rar", "rar", 0)}, &host),
              Outcome::Ok);
    EXPECT_EQ(host.calls, (Names{"0 " + in() + "a.txt", "0 " + in() + "sub/", "0 " + in() + "sub/b.rar"}));
    EXPECT_EQ(Recorded(output_), (Names{out() + "a.txt", out() + "a.txt", out() + "sub/", out() + "sub/b.rar"}));
    EXPECT_EQ(ReadFileBytes(out() + "a.txt"), "aaa");
    EXPECT_EQ(ReadFileBytes(out() + "sub\\b.rar"), "rar");
}

TEST_F(ZipStage, StopOnTheSecondEntryKeepsOnlyTheFirst)
{
    HostRecorder host;
    host.stopAt = 2;
    EXPECT_EQ(Extract({FileEntry("a.txt", "a"), FileEntry("b.txt", "b"), FileEntry("c.txt", "c")}, &host),
              Outcome::Stopped);
    EXPECT_EQ(host.calls, (Names{"0 " + in() + "a.txt", "0 " + in() + "b.txt"}));
    EXPECT_EQ(Recorded(output_), Names{out() + "a.txt"});
    EXPECT_EQ(ListTree(out()), Names{"a.txt"});
    // The reader was closed: the archive can be deleted at once.
    EXPECT_TRUE(DeleteFileA(archive().c_str()));
}

// Which archives fail to open is the reader's test; the stage reports them incomplete.
TEST_F(ZipStage, ArchivesThatDoNotOpenAreIncompleteAndAnEmptyOneComplete)
{
    HostRecorder host;
    WriteFileBytes(archive(), "no archive at all, just text");
    EXPECT_EQ(ExtractWith(archive(), out(), output_, &host), Outcome::BadData);
    EXPECT_EQ(ExtractWith(in() + "missing.zip", out(), output_, &host), Outcome::CannotRead);
    EXPECT_EQ(Extract({}, &host), Outcome::Ok);
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(output_.Empty());
    EXPECT_TRUE(ListTree(out()).empty());
}

// ZIP64 sizes above 4 GiB are measured in full, and a sum that passes 64 bits saturates: the
// destination has no room, and nothing is started.
TEST_F(ZipStage, HugeEntriesLeaveNoRoom)
{
    for (const std::vector<uint64_t>& sizes : {std::vector<uint64_t>{1ull << 50}, {1ull << 63, 1ull << 63}}) {
        std::vector<ZipEntry> entries;
        for (uint64_t size : sizes) {
            entries.push_back(FileEntry("huge" + std::to_string(entries.size()), "small"));
            entries.back().zip64 = true;
            entries.back().announcedSize = size;
        }
        EXPECT_EQ(Extract(entries), Outcome::NoRoom) << sizes.size();
        EXPECT_TRUE(output_.Empty());
        EXPECT_TRUE(ListTree(out()).empty());
    }
}

// Entries that fail are neither recorded nor left on disk, and make the extraction fail; the
// next entry is still extracted. An existing read-only file is never replaced.
TEST_F(ZipStage, FailedEntriesAreNotRecordedNorLeftBehind)
{
    WriteFileBytes(out() + "locked.txt", "old");
    SetFileAttributesA((out() + "locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    std::vector<ZipEntry> entries = {FileEntry("locked.txt", "new"),
                                     FileEntry("crc.txt", "content"),
                                     FileEntry("corrupt.txt", "x"),
                                     FileEntry("short.bin", PatternBytes(3000, 2)),
                                     FileEntry("../up.txt", "x")};
    entries[1].wrongCrc = true;
    entries[2].localFault = LocalFault::Crc;
    entries[3].cutData = 10;
    for (size_t i = 0; i < entries.size(); ++i) {
        FileList output;
        WriteFileBytes(archive(), BuildZip({entries[i], FileEntry("good.txt", "good")}));
        EXPECT_NE(ExtractWith(archive(), out(), output, nullptr), Outcome::Ok) << i;
        EXPECT_EQ(Recorded(output), (Names{out() + "good.txt"})) << i;
        EXPECT_EQ(ReadFileBytes(out() + "good.txt"), "good") << i;
    }
    EXPECT_EQ(ReadFileBytes(out() + "locked.txt"), "old");
    EXPECT_EQ(ListTree(out()), (Names{"good.txt", "locked.txt"}));
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
                               {std::string("safe\0/../../escaped.txt", 24), "safe"}});
    for (const auto& c : cases) {
        TempDir dir;
        const std::string destination = dir / "a\\b\\dest\\";
        MakeDirectories(destination);
        const bool directory = c.first.back() == '/' || c.first.back() == '\\';
        const ZipEntry hostile = directory ? DirectoryEntry(c.first) : FileEntry(c.first, "payload");
        WriteFileBytes(dir / "x.zip", BuildZip({hostile, FileEntry("ok.txt", "fine")}));
        FileList output;
        const bool refused = c.second == "-";
        EXPECT_EQ(ExtractWith(dir / "x.zip", destination, output, nullptr) == Outcome::Ok, !refused) << c.first;

        Names beyond;
        for (const std::string& entry : ListTree(dir.path()))
            if (entry.compare(0, 9, "a\\b\\dest\\") != 0 || entry.size() == 9)
                beyond.push_back(entry);
        EXPECT_EQ(beyond, (Names{"a\\", "a\\b\\", "a\\b\\dest\\", "x.zip"})) << c.first;
        const std::string temp = dir.path().substr(0, dir.path().rfind('\\', dir.path().size() - 2) + 1);
        EXPECT_FALSE(FileExists(temp + "escaped.txt") || DirectoryExists(temp + "escaped")) << c.first;
        // An entry that comes down to the destination itself made nothing and is not recorded.
        const std::string recorded = destination + c.second;
        EXPECT_EQ(Recorded(output), refused || c.second.empty() ? Names{destination + "ok.txt"}
                                                                : (Names{recorded, destination + "ok.txt"}))
            << c.first;
        if (!refused && !directory) {
            EXPECT_EQ(ReadFileBytes(recorded), "payload") << c.first;
        }
    }
}

}  // namespace
