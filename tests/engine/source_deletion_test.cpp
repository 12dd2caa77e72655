// Source deletion: the set's own volume names that it walks; and the clean-up's rule for files
// that the second pass wrote again.
#include "engine/source_deletion.h"
#include "engine/temp_file_cleanup.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/test_files.h"

namespace {

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

// The clean-up deletes the archives of the first pass, but with KeepOverWritten on not one that
// the second pass wrote again.
TEST(TempFileCleanup, KeepsWhatTheSecondPassWroteAgainOnlyWhenTheSettingSaysSo)
{
    for (int keepOverwritten : {0, 1}) {
        TempDir dir;
        FileList first, second;
        for (const char* name : {"a.zip", "b.zip"}) {
            WriteFileBytes(dir / name, "x");
            first.Append(dir / name);
        }
        second.Append(dir / "a.zip");
        JobProgress progress(nullptr);
        UnpackContext context;
        context.progress = &progress;
        context.settings.keepOverwritten = keepOverwritten;
        Journal journal(dir / "");
        context.journal = &journal;
        EXPECT_TRUE(TempFileCleanup(context, first, second, {}).ok());
        EXPECT_EQ(FileExists(dir / "a.zip"), keepOverwritten == 1);
        EXPECT_FALSE(FileExists(dir / "b.zip"));
    }
}

}  // namespace
