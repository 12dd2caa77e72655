// The names of a release: what each file is and which set it belongs to; and the clean-up's rule
// for files that the second pass wrote again.
#include "engine/release_names.h"
#include "engine/temp_file_cleanup.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/test_files.h"

namespace {

// Each file is told by its own name, whatever its folders are called; the volumes of one set
// share a key that no other file has, count in their own scheme only and know their first.
TEST(ReleaseNames, EachFileByItsOwnNameAndEachSetByItsScheme)
{
    const NameKind no = NameKind::None, zip = NameKind::Zip, sfv = NameKind::Sfv, first = NameKind::FirstVolume,
                   later = NameKind::LaterVolume;
    const struct {
        const char* path;
        NameKind kind;
        uint64_t number;
        const char* next;
        const char* first;
        const char* set;  // rows of one set share a letter
    } cases[] = {
        {"d\\Show.S01E01.part1.rar", first, 1, "d\\Show.S01E01.part2.rar", "d\\Show.S01E01.part1.rar", "A"},
        {"D\\SHOW.s01e01.PART2.RAR", later, 2, "D\\SHOW.s01e01.PART3.RAR", "D\\SHOW.s01e01.PART1.RAR", "A"},
        {"d/Show.S01E01.part09.rar", later, 9, "d/Show.S01E01.part10.rar", "d/Show.S01E01.part01.rar", "A"},
        {"e\\Show.S01E01.part2.rar", later, 2, "e\\Show.S01E01.part3.rar", "e\\Show.S01E01.part1.rar", "B"},
        {"Movie.2019.part9.rar", later, 9, "Movie.2019.part10.rar", "Movie.2019.part1.rar", "C"},
        {"x.part999.rar", later, 999, "x.part1000.rar", "x.part001.rar", "D"},
        {"d\\Show.S01E01.rar", first, 1, "d\\Show.S01E01.r00", "d\\Show.S01E01.rar", "E"},
        {"d\\Show.S01E01.r00", later, 2, "d\\Show.S01E01.r01", "d\\Show.S01E01.rar", "E"},
        {"d\\show.s01e01.R99", later, 101, "d\\show.s01e01.S00", "d\\show.s01e01.RAR", "E"},
        {"d\\Show.S01E01.z99", later, 901, "", "d\\Show.S01E01.rar", "E"},
        {"SHOW.RAR", first, 1, "SHOW.R00", "SHOW.RAR", "F"},
        {"Show.S01E01.001", first, 1, "Show.S01E01.002", "Show.S01E01.001", "G"},
        {"Show.S01E01.009", later, 9, "Show.S01E01.010", "Show.S01E01.001", "G"},
        {"Show.S01E01.999", later, 999, "Show.S01E01.1000", "Show.S01E01.001", "G"},
        {"x.part0.rar", first, 1, "x.part0.r00", "x.part0.rar", "H"},
        {"Movie.2019.1080p.RARBG\\Subs", no, 0, "", "", ""},
        {"Movie.2019.1080p.RARBG\\movie.zip", zip, 0, "", "", ""},
        {"d\\extras.sfv.ZIP", zip, 0, "", "", ""},
        {"d\\REL.SFV", sfv, 0, "", "", ""},
        {"d.sfv\\notes.txt", no, 0, "", "", ""},
        {"d\\Show.S01E01.mkv", no, 0, "", "", ""},
        {"d\\x.000", no, 0, "", "", ""},
        {"d\\x.r100", no, 0, "", "", ""},
        {"d\\x.q00", no, 0, "", "", ""},
    };
    for (const auto& c : cases) {
        const ReleaseName name = ClassifyName(c.path);
        EXPECT_EQ(name.kind, c.kind) << c.path;
        EXPECT_EQ(name.number, c.number) << c.path;
        EXPECT_EQ(NextVolumeName(c.path), c.next) << c.path;
        EXPECT_EQ(FirstVolumeOf(c.path), c.first) << c.path;
        for (const auto& other : cases)
            EXPECT_EQ(name.setKey == ClassifyName(other.path).setKey, std::string(c.set) == other.set)
                << c.path << " and " << other.path;
    }
    // The RAR stage walks a set from its first volume and never into another set.
    EXPECT_EQ(VolumeNames("d\\Show.S01E01.rar").Next("d\\Show.S01E01.r99"), "d\\Show.S01E01.s00");
    EXPECT_EQ(VolumeNames("d\\Show.S01E01.rar").Next("d\\Show.S02E01.r00"), "");
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
        Journal journal(dir / "", dir / "", std::string(32, 'k'));
        journal.Load();
        context.journal = &journal;
        const DiskRoot root(dir / "");
        context.source = context.destination = &root;
        SeenFiles seen;
        context.seen = &seen;
        for (const std::string& path : first)
            seen.Look(root, path);
        EXPECT_TRUE(TempFileCleanup(context, first, second, {}).ok());
        EXPECT_EQ(FileExists(dir / "a.zip"), keepOverwritten == 1);
        EXPECT_FALSE(FileExists(dir / "b.zip"));
    }
}

}  // namespace
