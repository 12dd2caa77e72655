// The whole job through the loaded module: wcxhost drives a copy of the module whose settings
// file says what to verify, delete and keep, over archives built by the tools (see
// tests/fixtures/make_archives.sh). The copy has no UnRAR library beside it; it takes the one
// in the host's directory.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/archive_fixtures.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Paths;

const char kEverythingOn[] = "<DeleteTemp>1</DeleteTemp><KeepOverWritten>1</KeepOverWritten>"
                             "<Delete-src-during>1</Delete-src-during><Keep-src-nosfv>1</Keep-src-nosfv>"
                             "<Check-CRC>1</Check-CRC><Delete-sfv>1</Delete-sfv><File-to-keep>*.nfo</File-to-keep>";

class UnpackThroughTheModule : public ::testing::Test {
protected:
    void SetUp() override { MakeDirectories(src()); }

    std::string src() const { return dir_ / "src\\"; }
    std::string out() const { return dir_ / "out\\"; }
    std::string plugin() const { return dir_ / "plugin\\ravelpak.wcx64"; }

    // A copy of the module in plugin\ with a settings file holding these value elements.
    void UseSettings(const std::string& elements) { InstallModuleCopy(dir_ / "plugin", elements); }

    // Copies built archives into a directory of the download folder.
    void Archives(const std::string& directory, const Paths& names)
    {
        MakeDirectories(src() + directory);
        CopyFixtures(names, src() + directory);
    }

    // An SFV file in a directory of the download folder listing these files of it.
    void Sfv(const std::string& directory, const std::string& name, const Paths& listed)
    {
        std::vector<std::pair<std::string, std::string>> lines;
        for (const std::string& file : listed)
            lines.emplace_back(file, CrcHex(ReadFileBytes(src() + directory + file)));
        WriteFileBytes(src() + directory + name, SfvBody(lines));
    }

    ProcessResult Pack(const std::string& names, const std::string& options = "--trace",
                       const std::string& host = BinaryDirectory() + "wcxhost.exe")
    {
        return RunProcess(Quote(host) + " pack " + options + " " + Quote(plugin()) + " " + Quote(out() + "new.zip") +
                          " " + Quote(src()) + " " + names);
    }

    // The progress texts of a run with every run of reads of one file folded into its name.
    static Paths Reported(const ProcessResult& result)
    {
        Paths texts;
        for (const std::string& line : Lines(result.output)) {
            if (line.compare(0, 3, "cb ") != 0)
                continue;
            const std::string text = line.substr(line.find(' ', 3) + 1);
            if (texts.empty() || texts.back() != text)
                texts.push_back(text);
        }
        return texts;
    }

    TempDir dir_;
};

// The road of one request: the folder Show\ holds show.zip, which holds the old-naming RAR set
// show.rar, show.r00, show.r01, and show.sfv. Verified, the ZIP extracted with each item
// announced, the set extracted through its first volume, the volumes cleaned up, the ZIP and
// the SFV deleted.
TEST_F(UnpackThroughTheModule, RoadOfOneRequest)
{
    UseSettings("<Check-CRC>1</Check-CRC><DeleteTemp>1</DeleteTemp><Delete-sfv>1</Delete-sfv>"
                "<Delete-src-during>1</Delete-src-during>");
    const std::string film = PatternBytes(100000, 21);
    MakeDirectories(src() + "Show");
    WriteZippedRar4Set(src() + "Show\\show.zip", "show", film);
    Sfv("Show\\", "show.sfv", {"show.zip"});
    const ProcessResult result = Pack("Show");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(Reported(result), (Paths{"Verifying show.zip...", "Verifying show.zip... Done!", src() + "Show\\show.zip",
                                       src() + "Show\\show.rar", src() + "Show\\show.r00", src() + "Show\\show.r01"}));
    EXPECT_EQ(ListTree(out()), (Paths{"Show\\", "Show\\show.mkv"}));
    EXPECT_EQ(ReadFileBytes(out() + "Show\\show.mkv"), film);
    EXPECT_EQ(ListTree(src()), Paths{"Show\\"});
}

// The whole set selected under deletion, its film coming with a ZIP inside: the later volumes
// are gone when the first pass reaches them, and the second pass and the clean-up still run.
TEST_F(UnpackThroughTheModule, WholeSetWithAZipInsideUnderDeletion)
{
    UseSettings(kEverythingOn);
    Archives("Bonus\\", {"bonus.part1.rar", "bonus.part2.rar", "bonus.part3.rar"});
    Sfv("Bonus\\", "bonus.sfv", {"bonus.part1.rar", "bonus.part2.rar", "bonus.part3.rar"});
    EXPECT_EQ(Lines(Pack("Bonus").output).back(), "result 0");
    EXPECT_EQ(ListTree(out()),
              (Paths{"Bonus\\", "Bonus\\extras.txt", "Bonus\\film.mkv", "Bonus\\film.nfo", "Bonus\\notes.txt"}));
    EXPECT_EQ(ReadFileBytes(out() + "Bonus\\film.mkv"), FixtureSource("film.mkv"));
    EXPECT_EQ(ListTree(src()), Paths{"Bonus\\"});
}

// Sources, RAR volumes and ZIP archives alike, go under deletion when the group has an SFV
// file, or when sources without one need not be kept.
TEST_F(UnpackThroughTheModule, DeletionWithAndWithoutSfv)
{
    const struct {
        int keepSrcNoSfv;
        Paths left;
    } cases[] = {
        {1, {"Bare\\", "Bare\\extras.zip", "Bare\\set.001", "Bare\\set.002", "Bare\\set.003", "Listed\\"}},
        {0, {"Bare\\", "Listed\\"}},
    };
    for (const auto& c : cases) {
        UseSettings("<Delete-src-during>1</Delete-src-during><Keep-src-nosfv>" + std::to_string(c.keepSrcNoSfv) +
                    "</Keep-src-nosfv>");
        for (const std::string group : {"Bare\\", "Listed\\"}) {
            Archives(group, {"set.001", "set.002", "set.003"});
            WriteFileBytes(src() + group + "extras.zip", BuildZip({FileEntry("extras.txt", "extra")}));
        }
        Sfv("Listed\\", "listed.sfv", {"set.001"});
        EXPECT_EQ(Lines(Pack("Bare Listed").output).back(), "result 0");
        Paths left = c.left;
        left.push_back("Listed\\listed.sfv");
        EXPECT_EQ(ListTree(src()), left) << c.keepSrcNoSfv;
        EXPECT_EQ(ReadFileBytes(out() + "Bare\\film.mkv"), FixtureSource("film.mkv"));
        EXPECT_EQ(ReadFileBytes(out() + "Listed\\film.mkv"), FixtureSource("film.mkv"));
        EXPECT_EQ(ReadFileBytes(out() + "Listed\\extras.txt"), "extra");
        RemoveTree(src());
        RemoveTree(out());
    }
}

// The UnRAR library comes from the module's directory or the host's, never from the current
// directory, which is often the download folder.
TEST_F(UnpackThroughTheModule, LibraryIsLoadedFromTheModuleOrHostDirectoryOnly)
{
    UseSettings("");
    MakeDirectories(dir_ / "host");
    MakeDirectories(dir_ / "current");
    const std::string host = dir_ / "host\\wcxhost.exe";
    CopyFileA((BinaryDirectory() + "wcxhost.exe").c_str(), host.c_str(), FALSE);
    CopyFileA((BinaryDirectory() + "unrar64.dll").c_str(), (dir_ / "current\\unrar64.dll").c_str(), FALSE);
    Archives("", {"single.rar"});
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    SetCurrentDirectoryA((dir_ / "current").c_str());

    EXPECT_EQ(Lines(Pack("single.rar", "", host).output).back(), "result 0");
    EXPECT_FALSE(DirectoryExists(out())) << "taken from the current directory";

    CopyFileA((BinaryDirectory() + "unrar64.dll").c_str(), (dir_ / "plugin\\unrar64.dll").c_str(), FALSE);
    EXPECT_EQ(Lines(Pack("single.rar", "", host).output).back(), "result 0");
    EXPECT_EQ(ListTree(out()), (Paths{"a.txt", "b\\", "b\\c.txt", "d.txt"})) << "the module's directory";

    SetCurrentDirectoryA(previous);
}

TEST_F(UnpackThroughTheModule, PeakMemoryIsReportedOnRequest)
{
    UseSettings("");
    Archives("", {"single.rar"});
    const ProcessResult result = Pack("single.rar", "--peak-memory");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.errors.compare(0, 17, "peak working set "), 0) << result.errors;
}

}  // namespace
