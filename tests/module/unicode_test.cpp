// Names outside the ANSI code page, end to end: wcxhost reads its command line as wide text and
// drives the loaded module through the wide entry points, as the file manager does; the ANSI
// road still serves the names that the code page can spell.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/archive_fixtures.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef std::vector<std::string> Paths;

const char kSettings[] = "<Check-CRC>1</Check-CRC><Delete-src-during>1</Delete-src-during>"
                         "<Keep-src-nosfv>1</Keep-src-nosfv><DeleteTemp>1</DeleteTemp><Delete-sfv>1</Delete-sfv>";

class UnicodeNames : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(GetACP(), 1252u) << "the names are chosen outside code page 1252"; }

    std::string src() const { return dir_ / "src\\"; }

    ProcessResult Pack(const std::string& options, const std::string& destination, const std::string& names)
    {
        return RunWcxhostPack(options, plugin_, destination + "new.zip", src(), names);
    }

    // A release in src\FOLDER\: a RAR set named BASE.partN.rar, a ZIP named BASE.zip whose
    // entries carry UTF-8 names (flag 11) and one CP437 name, and an SFV file in UTF-8 with a
    // byte-order mark that lists them all.
    void Release(const std::string& folder, const std::string& base)
    {
        const std::string directory = src() + folder + "\\";
        MakeDirectories(directory);
        ZipEntry film = FileEntry("Am\xC3\xA9lie \xE4\xB8\xAD\xE6\x96\x87.mkv", film_, 0);
        film.flags = 0x0800;
        ZipEntry nfo = FileEntry("Caf\x82.nfo", "notes");  // CP437: the e with an acute accent
        WriteFileBytes(directory + base + ".zip", BuildZip({film, nfo}));
        std::vector<std::pair<std::string, std::string>> listed = {
            {base + ".zip", CrcHex(ReadFileBytes(directory + base + ".zip"))}};
        for (int part = 1; part <= 3; ++part) {
            const std::string volume = base + ".part" + std::to_string(part) + ".rar";
            WriteFileBytes(directory + volume, ReadFileBytes(FixturePath("set.part" + std::to_string(part) + ".rar")));
            listed.push_back({volume, CrcHex(ReadFileBytes(directory + volume))});
        }
        WriteFileBytes(directory + base + ".sfv", "\xEF\xBB\xBF" + SfvBody(listed));
    }

    TempDir dir_;
    std::string plugin_ = InstallModuleCopy(dir_ / "plugin", kSettings);
    std::string film_ = PatternBytes(70000, 17);
};

// Folders and archives in Cyrillic, Greek, CJK and beyond the Basic Multilingual Plane: verified
// against a UTF-8 SFV file, unpacked with every entry under its right name, and cleaned up.
TEST_F(UnicodeNames, ReleasesOutsideTheCodePageComeOutUnderTheirNames)
{
    const Paths folders = {"\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC \xE9\x9B\xBB\xE5\xBD\xB1",  // Фильм 電影
                           "\xCE\xA4\xCE\xB1\xCE\xB9\xCE\xBD\xCE\xAF\xCE\xB1",                   // Ταινία
                           "\xF0\x9F\x8E\xAC Film"};                                         // 🎬 Film
    std::string names;
    for (const std::string& folder : folders) {
        Release(folder, folder);
        names += Quote(folder) + " ";
    }
    const ProcessResult result = Pack("", dir_ / "out\\", names);
    EXPECT_EQ(LastLine(result.output), "result 0") << result.output;
    for (const std::string& folder : folders) {
        const std::string out = dir_ / "out\\" + folder + "\\";
        EXPECT_EQ(ListTree(out), (Paths{"Am\xC3\xA9lie \xE4\xB8\xAD\xE6\x96\x87.mkv", "Caf\xC3\xA9.nfo", "film.mkv",
                                        "film.nfo"}))
            << folder;
        EXPECT_TRUE(ReadFileBytes(out + "Am\xC3\xA9lie \xE4\xB8\xAD\xE6\x96\x87.mkv") == film_) << folder;
        EXPECT_EQ(ReadFileBytes(out + "film.mkv"), FixtureSource("film.mkv")) << folder;
    }
    EXPECT_EQ(ListTree(src()), (Paths{folders[1] + "\\", folders[0] + "\\", folders[2] + "\\"}));
}

// The ANSI entry points still unpack what the ANSI code page can spell.
TEST_F(UnicodeNames, AnsiRoadServesNamesOfTheCodePage)
{
    Release("Caf\xC3\xA9", "Cr\xC3\xA8me");
    const ProcessResult result = Pack("--ansi", dir_ / "out\\", Quote("Caf\xC3\xA9"));
    EXPECT_EQ(LastLine(result.output), "result 0") << result.output;
    EXPECT_EQ(ReadFileBytes(dir_ / "out\\Caf\xC3\xA9\\film.mkv"), FixtureSource("film.mkv"));
    EXPECT_EQ(ListTree(src()), Paths{"Caf\xC3\xA9\\"});
}

// A destination deeper than the plain form of a path allows: unpacked and cleaned up all the
// same.
TEST_F(UnicodeNames, DestinationsBeyondThreeHundredCharacters)
{
    Release("Show", "show");
    const std::string deep = dir_ / (std::string(100, 'a') + "\\" + std::string(100, 'b') + "\\" + std::string(100, 'c') + "\\");
    ASSERT_GT(deep.size(), 300u);
    const ProcessResult result = Pack("", deep, "Show");
    EXPECT_EQ(LastLine(result.output), "result 0") << result.output;
    EXPECT_EQ(ReadFileBytes(deep + "Show\\film.mkv"), FixtureSource("film.mkv"));
    EXPECT_EQ(ListTree(deep + "Show\\").size(), 4u);
    EXPECT_EQ(ListTree(src()), Paths{"Show\\"});
}

}  // namespace
