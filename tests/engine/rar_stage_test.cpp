// The RAR stage over the real UnRAR library, without source deletion (source_deletion_test.cpp
// covers that): what is extracted, what is recorded, and what counts as complete.
#include "engine/rar_stage.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "engine/text.h"
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
        context_.progress = &progress_;
        ASSERT_NE(context_.unrar, nullptr) << "unrar64.dll belongs beside the test program";
        MakeDirectories(in());
    }

    std::string in() const { return dir_ / "in\\"; }
    std::string out() const { return dir_ / "out\\"; }

    // Extracts into out\ and returns the recorded paths relative to it.
    Paths Extract(const std::string& archive, Outcome expected)
    {
        FileList output;
        EXPECT_EQ(ExtractRar(context_, archive, out(), output).outcome, expected) << archive;
        Paths relative;
        for (const std::string& path : output) {
            EXPECT_EQ(path.compare(0, out().size(), out()), 0) << path;
            relative.push_back(path.substr(out().size()));
        }
        return relative;
    }

    UnrarModule unrar_;
    JobProgress progress_{nullptr};
    UnpackContext context_;
    TempDir dir_;
};

// Each set is extracted once, from its first volume, which the library follows to the others;
// without source deletion every volume keeps its name. Old-style names belong to RAR 4 sets.
TEST_F(RarStage, ArchivesAndSetsAreExtractedFromTheirFirstVolumeInArchiveOrder)
{
    const std::string film = PatternBytes(50000, 7);
    WriteRar4(in() + "show.rar", {{"show.nfo", "notes"}, {"show.mkv", film}}, 20000);
    CopyFixtures({"single.rar", "set.part1.rar", "set.part2.rar", "set.part3.rar", "set.001", "set.002", "set.003"},
                 in());
    const Paths before = ListTree(in());
    EXPECT_EQ(Extract(in() + "single.rar", Outcome::Ok), (Paths{"a.txt", "b\\c.txt", "d.txt"}));
    EXPECT_EQ(Extract(in() + "show.rar", Outcome::Ok), (Paths{"show.nfo", "show.mkv"}));
    for (const char* first : {"set.part1.rar", "set.001"})
        EXPECT_EQ(Extract(in() + first, Outcome::Ok), (Paths{"film.mkv", "film.nfo"}));
    EXPECT_EQ(ReadFileBytes(out() + "b\\c.txt"), FixtureSource("b\\c.txt"));
    EXPECT_EQ(ReadFileBytes(out() + "show.mkv"), film);
    EXPECT_EQ(ReadFileBytes(out() + "film.mkv"), FixtureSource("film.mkv"));
    EXPECT_EQ(ListTree(in()), before);
}

TEST_F(RarStage, LaterVolumesOfAPartSetArePassedOverAsDone)
{
    const Paths volumes = CopyFixtures({"set.part1.rar", "set.part2.rar", "set.part3.rar"}, in());
    EXPECT_EQ(Extract(volumes[1], Outcome::Ok), Paths{});
    EXPECT_EQ(Extract(volumes[2], Outcome::Ok), Paths{});
    EXPECT_FALSE(DirectoryExists(out()));
}

// A failed entry is neither recorded nor left on disk, and the archive does not count as
// extracted. The library goes on after a CRC error; an encrypted set is not started at all.
TEST_F(RarStage, FailedEntriesAreNotRecorded)
{
    const struct {
        const char* archive;
        Outcome outcome;
        Paths recorded;
    } cases[] = {
        {"password.rar", Outcome::Encrypted, {}},                 // secret.txt is encrypted
        {"damaged.rar", Outcome::BadData, {"a.txt", "d.txt"}},  // a data byte of middle.bin was changed
        {"fake.rar", Outcome::BadData, {}},
        {"missing.rar", Outcome::CannotRead, {}},
    };
    CopyFixtures({"password.rar", "damaged.rar"}, in());
    WriteFileBytes(in() + "fake.rar", "not an archive at all");
    for (const auto& c : cases) {
        RemoveTree(out());
        MakeDirectories(out());
        EXPECT_EQ(Extract(in() + c.archive, c.outcome), c.recorded);
        EXPECT_EQ(ListTree(out()), c.recorded) << c.archive;
    }
}

// The recorded path names the file that was written, so that the second pass and the
// clean-up find it, whatever the code pages can spell: the engine's paths are UTF-8.
TEST_F(RarStage, NamesOutsideTheCodePagesAreRecorded)
{
    const std::string archive = CopyFixtures({"names.rar"}, in())[0];
    const std::string destination = dir_ / "out \xC5\xA0\xE2\x82\xAC\\";  // "out Š€"
    const Paths expected = {destination + "caf\xC3\xA9.txt", destination + "\xE6\x97\xA5\xE6\x9C\xAC.txt"};
    FileList output;
    EXPECT_TRUE(ExtractRar(context_, archive, destination, output).ok());
    EXPECT_EQ(Paths(output.begin(), output.end()), expected);
    for (const std::string& path : expected)
        EXPECT_NE(GetFileAttributesW(Widen(path).c_str()), INVALID_FILE_ATTRIBUTES) << path;
}

// A stored name that climbs out of the destination is not extracted: joined as stored, its path
// would name a file outside, which the clean-up would then delete. A drive in a name the
// library turns into a plain character itself.
TEST_F(RarStage, NamesThatLeaveTheDestinationAreNotExtracted)
{
    WriteFileBytes(dir_ / "victim.txt", "keep me");
    const std::string archive =
        WriteRar4(in() + "evil.rar", {{"..\\victim.txt", "overwritten"}, {"ok.txt", "fine"}, {"C:x.txt", "drive"}})[0];
    MakeDirectories(out());
    EXPECT_EQ(Extract(archive, Outcome::CannotWrite), (Paths{"ok.txt", "C_x.txt"}));
    EXPECT_EQ(ReadFileBytes(dir_ / "victim.txt"), "keep me");
    EXPECT_EQ(ListTree(dir_.path()),
              (Paths{"in\\", "in\\evil.rar", "out\\", "out\\C_x.txt", "out\\ok.txt", "victim.txt"}));
}

TEST_F(RarStage, WithoutTheLibraryNothingIsOpened)
{
    const std::string archive = CopyFixtures({"single.rar"}, in())[0];
    context_.unrar = nullptr;
    context_.settings.deleteSrcDuring = 1;
    context_.settings.keepSrcNoSfv = 0;
    EXPECT_EQ(Extract(archive, Outcome::NoLibrary), Paths{});
    EXPECT_EQ(ListTree(in()), (Paths{"single.rar"}));
}

}  // namespace
