// Source deletion: the rule, the set's own volume names, and the RAR stage deleting volumes as
// the real library finishes them, only behind data known to be intact.
#include "engine/source_deletion.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "engine/rar_stage.h"
#include "engine/unrar_library.h"
#include "tests/support/archive_fixtures.h"
#include "tests/support/rar4_writer.h"
#include "tests/support/test_files.h"

namespace {

typedef std::vector<std::string> Paths;

TEST(SourcesMayBeDeleted, NeedsTheSettingAnSfvFileUnlessSourcesWithoutOneNeedNotBeKeptAndSafety)
{
    const struct {
        int deleteSrcDuring, keepSrcNoSfv;
        bool sfvPresent, safe, expected;
    } cases[] = {{0, 0, true, true, false}, {0, 1, true, true, false}, {1, 1, false, true, false},
                 {1, 1, true, true, true},  {1, 0, false, true, true},  {1, 0, true, false, false}};
    for (const auto& c : cases) {
        UnpackContext context;
        context.settings.deleteSrcDuring = c.deleteSrcDuring;
        context.settings.keepSrcNoSfv = c.keepSrcNoSfv;
        context.sfvPresent = c.sfvPresent;
        context.deletionSafe = c.safe;
        EXPECT_EQ(SourcesMayBeDeleted(context), c.expected) << c.deleteSrcDuring << c.keepSrcNoSfv << c.sfvPresent;
    }
}

TEST(VolumeNames, EachSchemeCountsItsOwnNumberOnly)
{
    const struct {
        const char* first;
        const char* volume;
        const char* next;
    } cases[] = {
        {"d\\Show.S01E01.part1.rar", "d\\Show.S01E01.part1.rar", "d\\Show.S01E01.part2.rar"},
        {"x.part01.rar", "x.part09.rar", "x.part10.rar"},
        {"x.part9.rar", "x.part9.rar", "x.part10.rar"},
        {"d2\\Show.S01E01.rar", "d2\\Show.S01E01.rar", "d2\\Show.S01E01.r00"},
        {"SHOW.RAR", "SHOW.RAR", "SHOW.R00"},
        {"show.rar", "show.r09", "show.r10"},
        {"show.rar", "show.r99", "show.s00"},
        {"Show.S01E01.001", "Show.S01E01.009", "Show.S01E01.010"},
        {"show.exe", "show.exe", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VolumeNames(c.first).Next(c.volume), c.next) << c.volume;
}

// The RAR stage with source deletion on, over sets copied into in\.
class VolumeDeletion : public ::testing::Test {
protected:
    void SetUp() override
    {
        context_.unrar = unrar_.library();
        ASSERT_NE(context_.unrar, nullptr) << "unrar64.dll belongs beside the test program";
        context_.progress = &progress_;
        context_.settings.deleteSrcDuring = 1;
        context_.sfvPresent = true;
        MakeDirectories(in());
    }

    std::string in() const { return dir_ / "in\\"; }
    std::string out() const { return dir_ / "out\\"; }

    Outcome Extract(const std::string& archive)
    {
        FileList output;
        return ExtractRar(context_, archive, out(), output).outcome;
    }

    UnrarModule unrar_;
    JobProgress progress_{nullptr};
    UnpackContext context_;
    TempDir dir_;
};

// Intact sets of every naming go completely, after the film came out.
TEST_F(VolumeDeletion, IntactSetsOfEveryNamingAreDeleted)
{
    const std::string film = PatternBytes(50000, 3);
    WriteRar4(in() + "old.rar", {{"old.mkv", film}}, 20000);
    CopyFixtures({"set.001", "set.002", "set.003", "single.rar", "bonus.part1.rar", "bonus.part2.rar",
                  "bonus.part3.rar"},
                 in());
    for (const char* first : {"old.rar", "set.001", "single.rar", "bonus.part1.rar"})
        EXPECT_EQ(Extract(in() + first), Outcome::Ok) << first;
    EXPECT_EQ(ListTree(in()), Paths{});
    EXPECT_EQ(ReadFileBytes(out() + "old.mkv"), film);
    EXPECT_EQ(ReadFileBytes(out() + "film.mkv"), FixtureSource("film.mkv"));
}

// A damaged, missing or encrypted part keeps every volume of the set under its own name.
TEST_F(VolumeDeletion, SetsThatCannotComeOutKeepEveryVolume)
{
    const Paths old = WriteRar4(in() + "gap.rar", {{"gap.mkv", PatternBytes(50000, 4)}}, 20000);
    DeleteFileA(old[1].c_str());
    CopyFixtures({"outer-damaged.rar", "password.rar", "set.part1.rar", "set.part3.rar"}, in());
    WriteFileBytes(in() + "fake.rar", "not an archive");
    const Paths before = ListTree(in());
    const struct {
        const char* archive;
        Outcome outcome;
    } cases[] = {{"gap.rar", Outcome::CannotRead},       {"set.part1.rar", Outcome::CannotRead},
                 {"password.rar", Outcome::Encrypted},   {"fake.rar", Outcome::BadData}};
    for (const auto& c : cases)
        EXPECT_EQ(Extract(in() + c.archive), c.outcome) << c.archive;
    EXPECT_EQ(ListTree(in()), before);
    EXPECT_FALSE(FileExists(out() + "gap.mkv"));
}

// A set whose middle volume is damaged, not checked by an SFV file: the test pass finds it
// before any volume goes.
TEST_F(VolumeDeletion, DamagedVolumeIsFoundBeforeAnyVolumeGoes)
{
    std::string film = PatternBytes(60000, 6);
    const Paths volumes = WriteRar4(in() + "show.rar", {{"show.mkv", film}}, 10000);
    std::string middle = ReadFileBytes(volumes[3]);
    middle[middle.size() / 2] ^= 0x55;
    WriteFileBytes(volumes[3], middle);
    const Paths before = ListTree(in());
    EXPECT_EQ(Extract(volumes[0]), Outcome::BadData);
    EXPECT_EQ(ListTree(in()), before);
    EXPECT_FALSE(FileExists(out() + "show.mkv"));
}

// RAR 5 sets under old-style names with digits of their own: the library would count up the
// episode number and take the other episode's file for the next volume.
TEST_F(VolumeDeletion, OldStyleNamesWithDigitsFollowOnlyTheirOwnSet)
{
    for (const char* episode : {"Show.S01E01", "Show.S02E01"}) {
        const std::string base = in() + episode;
        CopyFileA(FixturePath("oldstyle.rar").c_str(), (base + ".rar").c_str(), FALSE);
        CopyFileA(FixturePath("oldstyle.r00").c_str(), (base + ".r00").c_str(), FALSE);
        CopyFileA(FixturePath("oldstyle.r01").c_str(), (base + ".r01").c_str(), FALSE);
    }
    context_.settings.deleteSrcDuring = 0;
    EXPECT_EQ(Extract(in() + "Show.S01E01.rar"), Outcome::Ok);
    EXPECT_EQ(ListTree(in()).size(), 6u);
    context_.settings.deleteSrcDuring = 1;
    for (const char* first : {"Show.S01E01.rar", "Show.S02E01.rar"})
        EXPECT_EQ(Extract(in() + first), Outcome::Ok) << first;
    EXPECT_EQ(ListTree(in()), Paths{});
    EXPECT_EQ(ReadFileBytes(out() + "film.mkv"), FixtureSource("film.mkv"));
}

}  // namespace
