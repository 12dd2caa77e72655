// Source deletion: the rule, and the RAR stage reading a set under renamed volumes, observed
// through the real library.
#include "engine/source_deletion.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "engine/rar_stage.h"
#include "engine/unrar_library.h"
#include "tests/support/archive_fixtures.h"
#include "tests/support/rar4_writer.h"
#include "tests/support/test_files.h"

namespace {

typedef std::vector<std::string> Paths;

TEST(SourcesMayBeDeleted, NeedsTheSettingAndAnSfvFileUnlessSourcesWithoutOneNeedNotBeKept)
{
    const struct {
        int deleteSrcDuring, keepSrcNoSfv;
        bool sfvPresent, expected;
    } cases[] = {
        {0, 0, true, false}, {0, 1, true, false}, {1, 1, false, false}, {1, 1, true, true}, {1, 0, false, true}};
    for (const auto& c : cases) {
        UnpackContext context;
        context.settings.deleteSrcDuring = c.deleteSrcDuring;
        context.settings.keepSrcNoSfv = c.keepSrcNoSfv;
        context.sfvPresent = c.sfvPresent;
        EXPECT_EQ(SourcesMayBeDeleted(context), c.expected) << c.deleteSrcDuring << c.keepSrcNoSfv << c.sfvPresent;
    }
}

// The callback as the library drives it when a next volume is missing: the finished volume
// stays, and every later request (the library may ask again) is refused, so nothing loops.
TEST(RarCallback, MissingNextVolumeKeepsTheFinishedOneAndRefusesFromThenOn)
{
    TempDir dir;
    WriteFileBytes(dir / "show.rar", "first");
    VolumeRenaming renaming;
    ASSERT_TRUE(renaming.Begin(dir / "show.rar"));
    const LPARAM state = reinterpret_cast<LPARAM>(&renaming);
    std::string next = dir / "xxxshow.r00";
    wchar_t wideNext[] = L"ignored";
    char password[128] = "";
    EXPECT_EQ(RarCallback(UCM_NEEDPASSWORD, state, reinterpret_cast<LPARAM>(password), sizeof password), -1);
    EXPECT_EQ(RarCallback(UCM_CHANGEVOLUMEW, state, reinterpret_cast<LPARAM>(wideNext), RAR_VOL_ASK), 0);
    EXPECT_EQ(RarCallback(UCM_CHANGEVOLUME, state, reinterpret_cast<LPARAM>(&next[0]), RAR_VOL_ASK), -1);
    WriteFileBytes(dir / "show.r00", "arrived late");
    EXPECT_EQ(RarCallback(UCM_CHANGEVOLUMEW, state, reinterpret_cast<LPARAM>(wideNext), RAR_VOL_ASK), -1);
    EXPECT_EQ(RarCallback(UCM_CHANGEVOLUME, state, reinterpret_cast<LPARAM>(&next[0]), RAR_VOL_ASK), -1);
    renaming.Finish(false);
    EXPECT_EQ(ListTree(dir.path()), (Paths{"show.r00", "show.rar"}));
    EXPECT_EQ(ReadFileBytes(dir / "show.rar"), "first");
}

// Wraps the real library so that a test can look at the download folder each time the library
// has opened a next volume, and see the stage's answers to volume requests.
class ObservedLibrary {
public:
    explicit ObservedLibrary(const UnrarLibrary* real) : real_(real)
    {
        active_ = this;
        if (real)
            wrapped_ = *real;
        wrapped_.RARSetCallback = SetCallback;
    }
    ~ObservedLibrary() { active_ = nullptr; }
    const UnrarLibrary* library() const { return real_ ? &wrapped_ : nullptr; }

    std::function<void(const std::string& volume)> onVolumeOpened;
    std::vector<int> volumeAnswers;  // the stage's answers to ANSI volume requests, in order

private:
    static void PASCAL SetCallback(HANDLE archive, UNRARCALLBACK callback, LPARAM userData)
    {
        active_->stageCallback_ = callback;
        active_->stageData_ = userData;
        active_->real_->RARSetCallback(archive, Observe, 0);
    }
    static int CALLBACK Observe(UINT message, LPARAM, LPARAM p1, LPARAM p2)
    {
        ObservedLibrary& self = *active_;
        const int answer = self.stageCallback_(message, self.stageData_, p1, p2);
        if (message == UCM_CHANGEVOLUME && p2 == RAR_VOL_ASK)
            self.volumeAnswers.push_back(answer);
        if (message == UCM_CHANGEVOLUME && p2 == RAR_VOL_NOTIFY && self.onVolumeOpened)
            self.onVolumeOpened(reinterpret_cast<const char*>(p1));
        return answer;
    }

    static ObservedLibrary* active_;
    const UnrarLibrary* real_;
    UnrarLibrary wrapped_ = {};
    UNRARCALLBACK stageCallback_ = nullptr;
    LPARAM stageData_ = 0;
};
ObservedLibrary* ObservedLibrary::active_ = nullptr;

// The RAR stage with source deletion on, over sets copied into in\.
class VolumeDeletion : public ::testing::Test {
protected:
    void SetUp() override
    {
        context_.unrar = observed_.library();
        ASSERT_NE(context_.unrar, nullptr) << "unrar64.dll belongs beside the test program";
        context_.settings.deleteSrcDuring = 1;
        context_.sfvPresent = true;
        MakeDirectories(in());
    }

    std::string in() const { return dir_ / "in\\"; }
    std::string out() const { return dir_ / "out\\"; }

    bool Extract(const std::string& archive)
    {
        FileList output;
        return ExtractRar(context_, archive, out(), output);
    }

    UnrarModule unrar_;
    ObservedLibrary observed_{unrar_.library()};
    UnpackContext context_;
    TempDir dir_;
};

TEST_F(VolumeDeletion, WhileReadingPartTwoPartOneIsGonePartTwoIsPrefixedAndPartThreeUntouched)
{
    CopyFixtures({"set.part1.rar", "set.part2.rar", "set.part3.rar"}, in());
    std::vector<Paths> seen;
    observed_.onVolumeOpened = [&](const std::string& volume) {
        seen.push_back(ListTree(in()));
        EXPECT_EQ(volume, in() + "xxxset.part" + std::to_string(seen.size() + 1) + ".rar");
    };
    FileList output;
    EXPECT_TRUE(ExtractRar(context_, in() + "set.part1.rar", out(), output));
    EXPECT_EQ(seen, (std::vector<Paths>{{"set.part3.rar", "xxxset.part2.rar"}, {"xxxset.part3.rar"}}));
    EXPECT_EQ(ListTree(in()), Paths{});
    EXPECT_EQ(ReadFileBytes(out() + "film.mkv"), FixtureSource("film.mkv"));
    EXPECT_EQ(output.Size(), 2u);
}

// Every naming follows the same protocol: the library asks for the next name and the stage
// only takes the prefix off it.
TEST_F(VolumeDeletion, EveryNamingAndASingleArchiveAreDeletedWhenExtractedCompletely)
{
    const std::string film = PatternBytes(50000, 3);
    WriteRar4(in() + "old.rar", {{"old.mkv", film}}, 20000);
    CopyFixtures({"set.001", "set.002", "set.003", "single.rar"}, in());
    for (const char* first : {"old.rar", "set.001", "single.rar"})
        EXPECT_TRUE(Extract(in() + first)) << first;
    EXPECT_EQ(ListTree(in()), Paths{});
    EXPECT_EQ(ReadFileBytes(out() + "old.mkv"), film);
    EXPECT_EQ(ReadFileBytes(out() + "d.txt"), FixtureSource("d.txt"));
}

// A missing volume: no endless asking, and the volumes present all stay under their own names,
// except those the library had finished before the missing last one.
TEST_F(VolumeDeletion, MissingVolumeStopsAndKeepsThePresentOnes)
{
    const Paths rar4 = WriteRar4(in() + "old.rar", {{"old.mkv", PatternBytes(50000, 4)}}, 20000);
    DeleteFileA(rar4[1].c_str());
    CopyFixtures({"set.part1.rar", "set.part3.rar"}, in());
    for (const char* first : {"old.rar", "set.part1.rar"}) {
        observed_.volumeAnswers.clear();
        FileList output;
        EXPECT_FALSE(ExtractRar(context_, in() + first, out(), output)) << first;
        EXPECT_EQ(output.Size(), 0u) << first;
        ASSERT_FALSE(observed_.volumeAnswers.empty()) << first;
        EXPECT_EQ(observed_.volumeAnswers, std::vector<int>(observed_.volumeAnswers.size(), -1)) << first;
    }
    EXPECT_EQ(ListTree(in()), (Paths{"old.r01", "old.rar", "set.part1.rar", "set.part3.rar"}));

    RemoveTree(in());
    MakeDirectories(in());
    CopyFixtures({"set.part1.rar", "set.part2.rar"}, in());
    EXPECT_FALSE(Extract(in() + "set.part1.rar"));
    EXPECT_EQ(ListTree(in()), Paths{"set.part2.rar"});
}

TEST_F(VolumeDeletion, IncompleteExtractionKeepsTheArchiveUnderItsOwnName)
{
    CopyFixtures({"damaged.rar", "password.rar"}, in());
    WriteFileBytes(in() + "fake.rar", "not an archive");
    for (const char* archive : {"damaged.rar", "password.rar", "fake.rar"})
        EXPECT_FALSE(Extract(in() + archive)) << archive;
    EXPECT_EQ(ListTree(in()), (Paths{"damaged.rar", "fake.rar", "password.rar"}));
}

// The library derives prefixed names itself, so a file that already carries the prefix with a
// name of the set would be read as one of its volumes. Such a set is extracted under its own
// names, and nothing of it is deleted.
TEST_F(VolumeDeletion, PrefixedFileOfTheSetMeansNoRenamingAndNoDeletion)
{
    const struct {
        Paths set;
        const char* prefixed;
    } cases[] = {
        {{"set.part1.rar", "set.part2.rar", "set.part3.rar"}, "xxxset.part2.rar"},
        {{"set.part1.rar", "set.part2.rar", "set.part3.rar"}, "xxxset.part1.rar"},
        {{"set.001", "set.002", "set.003"}, "xxxset.003"},
        {{"show.r00", "show.rar"}, "xxxshow.r00"},
    };
    for (const auto& c : cases) {
        TempDir run;
        const Paths volumes = c.set.size() == 2
                                  ? WriteRar4(run / "show.rar", {{"film.mkv", PatternBytes(30000, 5)}}, 20000)
                                  : CopyFixtures(c.set, run.path());
        WriteFileBytes(run / c.prefixed, "not a volume of this set");
        EXPECT_TRUE(Extract(volumes[0])) << c.prefixed;
        EXPECT_TRUE(FileExists(out() + "film.mkv")) << c.prefixed;
        Paths expected = {c.prefixed};
        expected.insert(expected.end(), c.set.begin(), c.set.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(ListTree(run.path()), expected);
        EXPECT_EQ(ReadFileBytes(run / c.prefixed), "not a volume of this set");
    }
}

// Sets that cannot be followed under renamed volumes are extracted under their own names, and
// nothing of them is deleted: a first volume that cannot be renamed (open elsewhere without
// sharing deletion), and a RAR 5 set under old-style names, whose next name the library derives
// from the prefixed first volume wrongly.
TEST_F(VolumeDeletion, SetsThatCannotBeRenamedAreExtractedWithoutDeletion)
{
    const Paths locked = CopyFixtures({"set.part1.rar", "set.part2.rar", "set.part3.rar"}, in());
    HANDLE open = CreateFileA(locked[0].c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Extract(locked[0]));
    CloseHandle(open);
    CopyFixtures({"oldstyle.rar", "oldstyle.r00", "oldstyle.r01"}, in());
    RemoveTree(out());
    EXPECT_TRUE(Extract(in() + "oldstyle.rar"));
    EXPECT_EQ(ReadFileBytes(out() + "film.mkv"), FixtureSource("film.mkv"));
    EXPECT_EQ(ListTree(in()), (Paths{"oldstyle.r00", "oldstyle.r01", "oldstyle.rar", "set.part1.rar", "set.part2.rar",
                                     "set.part3.rar"}));
}

}  // namespace
