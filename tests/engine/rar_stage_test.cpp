// The RAR stage over the real UnRAR library, without source deletion (source_deletion_test.cpp
// covers that): what is extracted, what is recorded, and what counts as complete.
#include "engine/rar_stage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "engine/ansi_text.h"
#include "engine/unrar_library.h"
#include "tests/support/archive_fixtures.h"
#include "tests/support/rar4_writer.h"
#include "tests/support/test_files.h"

namespace {

typedef std::vector<std::string> Paths;

class RarStage : public ::testing::Test {
protected:
    void SetUp() override
    {
        context_.unrar = unrar_.library();
        ASSERT_NE(context_.unrar, nullptr) << "unrar64.dll belongs beside the test program";
        MakeDirectories(in());
    }

    std::string in() const { return dir_ / "in\\"; }
    std::string out() const { return dir_ / "out\\"; }

    // Extracts into out\ and returns the recorded paths relative to it.
    Paths Extract(const std::string& archive, bool expectComplete)
    {
        FileList output;
        EXPECT_EQ(ExtractRar(context_, archive, out(), output), expectComplete) << archive;
        Paths relative;
        for (const std::string& path : output) {
            EXPECT_EQ(path.compare(0, out().size(), out()), 0) << path;
            relative.push_back(path.substr(out().size()));
        }
        return relative;
    }

    UnrarModule unrar_;
    UnpackContext context_;
    TempDir dir_;
};

TEST_F(RarStage, SingleArchiveRecordsEveryEntryInArchiveOrder)
{
    const std::string archive = CopyFixtures({"single.rar"}, in())[0];
    EXPECT_EQ(Extract(archive, true), (Paths{"a.txt", "b\\c.txt", "d.txt"}));
    EXPECT_EQ(ReadFileBytes(out() + "b\\c.txt"), FixtureSource("b\\c.txt"));
    EXPECT_EQ(ReadFileBytes(out() + "d.txt"), FixtureSource("d.txt"));
    EXPECT_EQ(ListTree(in()), (Paths{"single.rar"}));
}

// Each set is extracted once, from its first volume; the library follows the others. Without
// source deletion every volume keeps its name.
TEST_F(RarStage, VolumeSetsAreExtractedFromTheirFirstVolume)
{
    const Paths sets[] = {
        {"set.part1.rar", "set.part2.rar", "set.part3.rar"},
        {"set.001", "set.002", "set.003"},
    };
    for (const Paths& set : sets) {
        TempDir run;
        const Paths volumes = CopyFixtures(set, run.path());
        FileList output;
        EXPECT_TRUE(ExtractRar(context_, volumes[0], run / "out\\", output)) << set[0];
        EXPECT_EQ(output.Size(), 2u);
        EXPECT_EQ(ReadFileBytes(run / "out\\film.mkv"), FixtureSource("film.mkv")) << set[0];
        EXPECT_EQ(ReadFileBytes(run / "out\\film.nfo"), FixtureSource("film.nfo")) << set[0];
        Paths expected = set;
        expected.insert(expected.begin(), "out\\");
        expected.insert(expected.begin() + 1, {"out\\film.mkv", "out\\film.nfo"});
        EXPECT_EQ(ListTree(run.path()), expected);
    }
}

TEST_F(RarStage, LaterVolumesOfAPartSetArePassedOverAsDone)
{
    const Paths volumes = CopyFixtures({"set.part1.rar", "set.part2.rar", "set.part3.rar"}, in());
    EXPECT_EQ(Extract(volumes[1], true), Paths{});
    EXPECT_EQ(Extract(volumes[2], true), Paths{});
    EXPECT_FALSE(DirectoryExists(out()));
}

// Old-style names (.rar, .r00, .r01) belong to RAR 4 sets, which the library follows by itself.
TEST_F(RarStage, OldNamingSetIsFollowedFromItsRarVolume)
{
    const std::string film = PatternBytes(50000, 7);
    const Paths volumes = WriteRar4(in() + "show.rar", {{"show.nfo", "notes"}, {"show.mkv", film}}, 20000);
    ASSERT_EQ(volumes, (Paths{in() + "show.rar", in() + "show.r00", in() + "show.r01"}));
    EXPECT_EQ(Extract(volumes[0], true), (Paths{"show.nfo", "show.mkv"}));
    EXPECT_EQ(ReadFileBytes(out() + "show.mkv"), film);
}

TEST_F(RarStage, WhatIsNotAnArchiveGivesNothing)
{
    WriteFileBytes(in() + "fake.rar", "not an archive at all");
    EXPECT_EQ(Extract(in() + "fake.rar", false), Paths{});
    EXPECT_EQ(Extract(in() + "missing.rar", false), Paths{});
    EXPECT_FALSE(DirectoryExists(out()));
}

// A failed entry is not recorded, and the archive does not count as extracted completely. The
// library goes on after a CRC error, but ends the archive at an entry it has no password for.
TEST_F(RarStage, FailedEntriesAreNotRecorded)
{
    const struct {
        const char* archive;
        Paths recorded;
    } cases[] = {
        {"password.rar", {"a.txt"}},          // secret.txt is encrypted
        {"damaged.rar", {"a.txt", "d.txt"}},  // a data byte of middle.bin was changed
    };
    for (const auto& c : cases) {
        TempDir run;
        const std::string archive = CopyFixtures({c.archive}, run.path())[0];
        FileList output;
        EXPECT_FALSE(ExtractRar(context_, archive, run / "out\\", output)) << c.archive;
        Paths expected;
        for (const std::string& name : c.recorded)
            expected.push_back(run / "out\\" + name);
        EXPECT_EQ(Paths(output.begin(), output.end()), expected) << c.archive;
        EXPECT_EQ(ListTree(run / "out\\"), c.recorded) << c.archive;
    }
}

// The recorded path names the file that was written, so that the second pass and the
// clean-up find it. A name without an exact ANSI spelling is extracted but not recorded.
TEST_F(RarStage, NamesOutsideAsciiAreRecordedInTheAnsiCodePage)
{
    ASSERT_EQ(GetACP(), 1252u) << "the names are chosen for code page 1252";
    const std::string archive = CopyFixtures({"names.rar"}, in())[0];
    const std::string cafe = "caf\xE9.txt";
    EXPECT_EQ(Extract(archive, true), Paths{cafe});
    EXPECT_EQ(ReadFileBytes(out() + cafe), "accented\n");
    const std::wstring farEast = WidenAnsi(out()) + L"\u65E5\u672C.txt";
    EXPECT_NE(GetFileAttributesW(farEast.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(RarStage, DestinationOutsideTheOemCodePage)
{
    ASSERT_EQ(GetACP(), 1252u) << "the name is chosen for code page 1252";
    ASSERT_EQ(GetOEMCP(), 437u) << "the name is chosen outside code page 437";
    const std::string archive = CopyFixtures({"single.rar"}, in())[0];
    const std::string destination = dir_ / "out \x8A\x80\\";
    FileList output;
    EXPECT_TRUE(ExtractRar(context_, archive, destination, output));
    EXPECT_EQ(Paths(output.begin(), output.end()),
              (Paths{destination + "a.txt", destination + "b\\c.txt", destination + "d.txt"}));
    EXPECT_EQ(ReadFileBytes(destination + "a.txt"), FixtureSource("a.txt"));
}

// A stored name that climbs out of the destination is written below it by the library, but its
// path is not recorded: joined as stored, it would name a file outside, which the clean-up
// would then delete. A drive in a name the library turns into a plain character itself.
TEST_F(RarStage, NamesThatLeaveTheDestinationAreNotRecorded)
{
    WriteFileBytes(dir_ / "victim.txt", "keep me");
    const std::string archive =
        WriteRar4(in() + "evil.rar", {{"..\\victim.txt", "overwritten"}, {"ok.txt", "fine"}, {"C:x.txt", "drive"}})[0];
    EXPECT_EQ(Extract(archive, true), (Paths{"ok.txt", "C_x.txt"}));
    EXPECT_EQ(ReadFileBytes(dir_ / "victim.txt"), "keep me");
    EXPECT_EQ(ListTree(dir_.path()),
              (Paths{"in\\", "in\\evil.rar", "out\\", "out\\C_x.txt", "out\\ok.txt", "out\\victim.txt", "victim.txt"}));
}

TEST_F(RarStage, WithoutTheLibraryNothingIsOpened)
{
    const std::string archive = CopyFixtures({"single.rar"}, in())[0];
    context_.unrar = nullptr;
    context_.settings.deleteSrcDuring = 1;
    context_.settings.keepSrcNoSfv = 0;
    EXPECT_EQ(Extract(archive, false), Paths{});
    EXPECT_EQ(ListTree(in()), (Paths{"single.rar"}));
}

}  // namespace
