// Both passes and the clean-up, driven through the pack command in-process with the settings
// set directly.
#include "engine/unpack_group.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "host/wcx.h"

#include "engine/pack_driver.h"
#include "settings/unpack_settings.h"
#include "tests/support/archive_fixtures.h"
#include "tests/support/download_folder.h"
#include "tests/support/host_recorder.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Paths;

TEST(IsArchiveOrVolume, ArchivesAndFurtherVolumesAreIntermediate)
{
    const struct {
        const char* path;
        bool intermediate;
    } cases[] = {
        {"D:\\o\\a.zip", true},   {"D:\\o\\a.part2.rar", true}, {"D:\\o\\a.R42", true},     {"D:\\o\\a.001", true},
        {"D:\\o\\a.nfo", false},  {"D:\\o\\a.sfv", false},      {"D:\\o\\a.r0", false},     {"D:\\o\\a.rx0", false},
        {"D:\\o\\a.1234", false}, {"D:\\o\\sub/", false},       {"D:\\o.r00\\film", false}, {"r01", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsArchiveOrVolume(c.path), c.intermediate) << c.path;
}

TEST(ClassifyArchive, ByTheExtensionOfTheWholePath)
{
    const ArchiveKind zip = ArchiveKind::Zip, rar = ArchiveKind::Rar, none = ArchiveKind::None;
    const struct {
        const char* path;
        ArchiveKind kind;
    } cases[] = {
        {"C:\\dl\\a.zip", zip},       {"C:\\dl\\a.ZIP", zip},   {"C:\\dl\\a.zipx", zip},  {"C:\\dl\\a.Rar", rar},
        {"C:\\dl\\a.part2.rar", rar}, {"C:\\dl\\a.001", rar},   {"C:\\dl\\a.r00", none},  {"C:\\dl\\a.002", none},
        {"C:\\dl\\a.sfv", none},      {"C:\\x.y\\movie", none}, {"C:\\dl\\README", none}, {"C:\\dl\\a.1001", none},
        {"C:\\dl\\a.zi", none},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClassifyArchive(c.path), c.kind) << c.path;
}

typedef DownloadFolderTest UnpackPasses;

// A whole volume set selected with deletion on: the later volumes are gone by the time the
// first pass reaches them, which does not end the group: its second pass and clean-up run.
TEST_F(UnpackPasses, WholeSetSelectedUnderDeletionStillGetsItsSecondPassAndCleanUp)
{
    UnpackSettings.deleteSrcDuring = 1;
    UnpackSettings.deleteTemp = 1;
    UnpackSettings.deleteSfv = 1;
    UnpackSettings.checkCrc = 1;
    UnpackSettings.keepExtensions = {{"nfo", 0}};
    const Paths volumes = CopyFixtures({"outer.part1.rar", "outer.part2.rar"}, src());
    WriteFileBytes(src() + "outer.sfv", SfvBody({{"outer.part1.rar", CrcHex(ReadFileBytes(volumes[0]))},
                                                 {"outer.part2.rar", CrcHex(ReadFileBytes(volumes[1]))}}));
    HostRecorder host;
    EXPECT_EQ(Pack({"outer.sfv", "outer.part1.rar", "outer.part2.rar"}), 0);
    EXPECT_EQ(ListTree(out()), (Paths{"film.mkv", "release.nfo"}));
    EXPECT_EQ(ReadFileBytes(out() + "film.mkv"), FixtureSource("film.mkv"));
    EXPECT_EQ(ListTree(src()), Paths{});
    EXPECT_EQ(host.calls.back(), "0 outer.part1.rar: unpacked");
}

// The SFV file goes with a group that was unpacked completely, and stays with one that was not.
TEST_F(UnpackPasses, SfvIsDeletedOnlyAfterACompleteUnpacking)
{
    UnpackSettings.deleteSfv = 1;
    for (const char* group : {"good\\", "bad\\"}) {
        MakeDirectories(src() + group);
        CopyFixtures({*group == 'g' ? "single.rar" : "damaged.rar"}, src() + group);
        WriteFileBytes(src() + group + "x.sfv", SfvBody({{"x", "0"}}));
    }
    EXPECT_EQ(Pack({"good\\", "good\\x.sfv", "good\\single.rar", "bad\\", "bad\\x.sfv", "bad\\damaged.rar"}), E_BAD_DATA);
    EXPECT_EQ(ListTree(src()), (Paths{"bad\\", "bad\\damaged.rar", "bad\\x.sfv", "good\\", "good\\single.rar"}));
}

// A second pass that fails (here a damaged inner set, whose broken file the library removes)
// is followed by no clean-up: the first-level files may be all that is left of the download.
TEST_F(UnpackPasses, NoCleanUpAfterAFailedSecondPass)
{
    UnpackSettings.deleteTemp = 1;
    CopyFixtures({"outer-damaged.rar"}, src());
    EXPECT_EQ(Pack({"outer-damaged.rar"}), E_BAD_DATA);
    EXPECT_EQ(ListTree(out()),
              (Paths{"inner-damaged.part1.rar", "inner-damaged.part2.rar", "inner-damaged.part3.rar", "release.nfo"}));
}

// A stop in the first group ends the call: the next group is not started.
TEST_F(UnpackPasses, StopInTheFirstGroupEndsTheCall)
{
    MakeDirectories(src() + "a");
    MakeDirectories(src() + "b");
    CopyFixtures({"set.part1.rar", "set.part2.rar", "set.part3.rar"}, src() + "a\\");
    CopyFixtures({"single.rar"}, src() + "b\\");
    HostRecorder host;
    host.stopAt = 1;
    EXPECT_EQ(Pack({"a\\", "a\\set.part1.rar", "a\\set.part2.rar", "a\\set.part3.rar", "b\\", "b\\single.rar"}),
              E_EABORTED);
    EXPECT_FALSE(FileExists(out() + "b\\a.txt"));
    EXPECT_EQ(ListTree(src()).size(), 6u);
}

// The road of one request: Show\ holds show.zip, which holds an old-naming RAR set, and
// show.sfv. Verified, the ZIP extracted (each item announced), the set extracted through its
// first volume, the volumes cleaned up, the SFV deleted; the ZIP goes only under deletion.
TEST_F(UnpackPasses, ZipHoldingARarSet)
{
    UnpackSettings.checkCrc = 1;
    UnpackSettings.deleteTemp = 1;
    UnpackSettings.deleteSfv = 1;
    const std::string film = PatternBytes(60000, 11);
    for (int deleteSrcDuring : {0, 1}) {
        UnpackSettings.deleteSrcDuring = deleteSrcDuring;
        MakeDirectories(src() + "Show");
        WriteZippedRar4Set(src() + "Show\\show.zip", "show", film);
        WriteFileBytes(src() + "Show\\show.sfv",
                       SfvBody({{"show.zip", CrcHex(ReadFileBytes(src() + "Show\\show.zip"))}}));
        HostRecorder host;
        EXPECT_EQ(Pack({"Show\\", "Show\\show.zip", "Show\\show.sfv"}), 0);
        for (const char* item : {"Verifying show.zip...", "Verifying show.zip... Done!", "show.rar", "show.r00", "show.r01"})
            EXPECT_NE(std::find_if(host.calls.begin(), host.calls.end(),
                                   [&](const std::string& call) { return call.find(item) != std::string::npos; }),
                      host.calls.end())
                << item;
        EXPECT_EQ(host.calls.back(), "0 Show: unpacked");
        EXPECT_EQ(ListTree(out()), (Paths{"Show\\", "Show\\show.mkv"})) << deleteSrcDuring;
        EXPECT_EQ(ReadFileBytes(out() + "Show\\show.mkv"), film);
        EXPECT_EQ(ListTree(src()), deleteSrcDuring ? Paths{"Show\\"} : (Paths{"Show\\", "Show\\show.zip"}));
        RemoveTree(src());
        RemoveTree(out());
    }
}

// A ZIP source goes only when every entry came out intact.
TEST_F(UnpackPasses, ZipSourceStaysWhenNotExtractedCompletely)
{
    UnpackSettings.deleteSrcDuring = 1;
    UnpackSettings.keepSrcNoSfv = 0;
    ZipEntry damaged = FileEntry("b.txt", "bravo");
    damaged.wrongCrc = true;
    WriteFileBytes(src() + "damaged.zip",
                   BuildZip({FileEntry("a.txt", "alpha"), damaged, FileEntry("c.txt", "charlie")}));
    WriteFileBytes(src() + "good.zip", BuildZip({FileEntry("d.txt", "delta")}));
    EXPECT_EQ(Pack({"damaged.zip", "good.zip"}), E_BAD_DATA);
    EXPECT_EQ(ListTree(src()), Paths{"damaged.zip"});
    EXPECT_EQ(ListTree(out()), (Paths{"a.txt", "c.txt", "d.txt"}));
}

// A RAR set holding a film, its NFO, notes and a ZIP archive of extras with newer notes: the
// second pass extracts the ZIP, and the clean-up deletes only that intermediate archive, unless
// its extension is kept. The film, the NFO and the notes are results and always stay; the notes
// hold what the ZIP wrote over them.
TEST_F(UnpackPasses, RarSetHoldingAZipAndAFilm)
{
    UnpackSettings.deleteTemp = 1;
    const struct {
        int keepOverwritten;
        KeepExtensionMap keep;
        Paths left;
    } cases[] = {
        {1, {{"nfo", 0}}, {"extras.txt", "film.mkv", "film.nfo", "notes.txt"}},
        {0, {}, {"extras.txt", "film.mkv", "film.nfo", "notes.txt"}},
        {0, {{"zip", 0}}, {"extras.txt", "extras.zip", "film.mkv", "film.nfo", "notes.txt"}},
    };
    for (const auto& c : cases) {
        UnpackSettings.keepOverwritten = c.keepOverwritten;
        UnpackSettings.keepExtensions = c.keep;
        CopyFixtures({"bonus.part1.rar", "bonus.part2.rar", "bonus.part3.rar"}, src());
        EXPECT_EQ(Pack({"bonus.part1.rar", "bonus.part2.rar", "bonus.part3.rar"}), 0);
        EXPECT_EQ(ListTree(out()), c.left) << c.keepOverwritten << " " << c.keep.size();
        EXPECT_EQ(ReadFileBytes(out() + "film.mkv"), FixtureSource("film.mkv"));
        EXPECT_EQ(ReadFileBytes(out() + "notes.txt"), FixtureSource("extras\\notes.txt"));
        RemoveTree(src());
        RemoveTree(out());
        MakeDirectories(src());
    }
}

// The host stops at the second item of the ZIP: the ZIP stage ends there and its source stays;
// the second pass meets an incomplete set and keeps its volume under its own name; there is
// no clean-up, and the call ends before the next group.
TEST_F(UnpackPasses, StopInAZipStage)
{
    UnpackSettings.deleteSrcDuring = 1;
    UnpackSettings.keepSrcNoSfv = 0;
    UnpackSettings.deleteTemp = 1;
    MakeDirectories(src() + "Show");
    MakeDirectories(src() + "Next");
    WriteZippedRar4Set(src() + "Show\\show.zip", "show", PatternBytes(30000, 12));
    CopyFixtures({"single.rar"}, src() + "Next\\");
    HostRecorder host;
    host.onCall = [&](const std::string& name, int) {
        if (name == src() + "Show\\show.r00")
            host.stopAt = static_cast<long>(host.calls.size());
    };
    EXPECT_EQ(Pack({"Show\\", "Show\\show.zip", "Next\\", "Next\\single.rar"}), E_EABORTED);
    EXPECT_EQ(ListTree(out()), (Paths{"Next\\", "Show\\", "Show\\show.rar"}));
    EXPECT_EQ(ListTree(src()), (Paths{"Next\\", "Next\\single.rar", "Show\\", "Show\\show.zip"}));
}

}  // namespace
