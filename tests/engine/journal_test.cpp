// The journal is input like any file on disk: what a run committed reads back as it was, and
// one that is cut, changed, of another format or of other files is never acted on.
#include "engine/journal.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "engine/rar_deleting_copy.h"
#include "tests/support/test_files.h"

namespace {

// A journal as a run that died while deleting the volumes of a set leaves it.
Journal Written(const std::string& destination)
{
    Journal journal(destination);
    journal.AddVerified({destination + "a.zip", 0, 0x12345678});
    journal.AddConsumed({destination + "a.zip"}, {{destination + "a.part1.rar", 10, 0xCAFE}});
    journal.AddRenamed(destination + "xxxb.rar", destination + "b.rar");
    SetUnderDeletion set;
    set.volumes = {{destination + "c.part1.rar", 100, 0}, {destination + "c.part2.rar", 50, 0}};
    set.deleted = 1;
    set.entry = destination + "c.mkv";
    set.entryBytes = 90;
    set.entryCrc = 0xBEEF;
    journal.SetProgress(set);
    EXPECT_TRUE(journal.Commit());
    return journal;
}

TEST(Journal, WhatWasCommittedReadsBack)
{
    TempDir dir;
    Written(dir / "");
    Journal journal(dir / "");
    ASSERT_EQ(journal.Load(), Journal::LoadResult::Loaded);
    EXPECT_TRUE(journal.VerifiedAndConsumed(dir / "A.ZIP", 0x12345678));
    EXPECT_FALSE(journal.VerifiedAndConsumed(dir / "a.zip", 0x12345679));
    ASSERT_EQ(journal.OutputsOf(dir / "a.zip").size(), 1u);
    EXPECT_EQ(journal.OutputsOf(dir / "a.zip")[0].crc, 0xCAFEu);
    EXPECT_EQ(journal.RenamedFrom(dir / "xxxb.rar"), dir / "b.rar");
    // The deleted volume of the set counts as consumed, the one left does not.
    EXPECT_TRUE(journal.IsConsumed(dir / "c.part1.rar"));
    EXPECT_FALSE(journal.IsConsumed(dir / "c.part2.rar"));
    ASSERT_NE(journal.set(), nullptr);
    EXPECT_EQ(journal.set()->entryBytes, 90u);
    EXPECT_EQ(journal.set()->entryCrc, 0xBEEFu);
}

TEST(Journal, DamagedCutOrForeignIsNotUsed)
{
    TempDir dir;
    Written(dir / "");
    const std::string path = dir / ".ravelpak-journal";
    const std::string good = ReadFileBytes(path);
    std::string changed = good;
    changed[good.size() / 2] ^= 1;
    std::string otherFormat = good;
    otherFormat.replace(otherFormat.find(" 1\n"), 3, " 2\n");
    for (const std::string& text : {good.substr(0, good.size() / 2), good.substr(0, good.size() - 1), changed,
                                    otherFormat, std::string("not a journal\n"), std::string()}) {
        WriteFileBytes(path, text);
        Journal journal(dir / "");
        EXPECT_EQ(journal.Load(), Journal::LoadResult::Unusable) << text;
        EXPECT_FALSE(journal.IsConsumed(dir / "a.zip")) << text;
        EXPECT_EQ(journal.set(), nullptr) << text;
    }
}

// A journal of a set whose volumes are not the ones on the disk (other sizes) continues
// nothing and deletes nothing.
TEST(Journal, SetOfOtherVolumesIsKept)
{
    TempDir dir;
    Written(dir / "");
    WriteFileBytes(dir / "c.part2.rar", std::string(60, 'x'));
    WriteFileBytes(dir / "c.mkv.incomplete", std::string(90, 'y'));
    Journal journal(dir / "");
    ASSERT_EQ(journal.Load(), Journal::LoadResult::Loaded);
    JobProgress progress(nullptr);
    UnpackContext context;
    context.progress = &progress;
    context.journal = &journal;
    std::vector<JournalFile> landed;
    EXPECT_EQ(ResumeSetUnderDeletion(context, dir / "", landed).outcome, Outcome::CannotRead);
    EXPECT_EQ(ReadFileBytes(dir / "c.part2.rar"), std::string(60, 'x'));
    EXPECT_EQ(ReadFileBytes(dir / "c.mkv.incomplete"), std::string(90, 'y'));
    EXPECT_TRUE(landed.empty());
}

}  // namespace
