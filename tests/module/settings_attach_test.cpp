// Where the module keeps its settings and when it reads and writes them: nothing while the
// host loads it, the settings file (beside the module, or beside the host's ini file when the
// module's folder is read-only) at the first call that needs it. Each case copies a build of
// the module into a fresh directory and loads it from there.
#include <windows.h>

#include <gtest/gtest.h>

#include "settings/settings_file.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef int(__stdcall* TextQueryFn)(char* buffer, int size);

// The settings file of the product's defaults, as the module's writer makes it.
std::string DefaultFile()
{
    TempDir dir;
    const SettingsFileResult written = WriteSettingsFile(dir / "ravelpak.xml", SettingsRecord());
    EXPECT_TRUE(written.ok) << written.Reason();
    return ReadFileBytes(dir / "ravelpak.xml");
}

// What the engine runs with after the test build of the module, copied into `dir`, loaded.
std::string LoadedSettings(const TempDir& dir)
{
    CopyFileA((BinaryDirectory() + "ravelpak_test.wcx64").c_str(), (dir / "ravelpak.wcx64").c_str(), FALSE);
    HMODULE module = LoadLibraryA((dir / "ravelpak.wcx64").c_str());
    auto query = reinterpret_cast<TextQueryFn>(reinterpret_cast<void*>(GetProcAddress(module, "RavelpakTestSettings")));
    char buffer[512] = "";
    if (query)
        query(buffer, sizeof buffer);
    FreeLibrary(module);
    return buffer;
}

// Only 1 turns a flag on; the patterns are parsed into keys; a file that holds every key is
// not rewritten.
TEST(SettingsAttach, CompleteFileIsReadAndLeftUnchanged)
{
    const std::string content =
        SettingsFileText("\t\t<DeleteTemp>1</DeleteTemp>\r\n\t\t<KeepOverWritten>0</KeepOverWritten>\r\n"
                         "\t\t<Delete-src-during>1</Delete-src-during>\r\n\t\t<Keep-src-nosfv>0</Keep-src-nosfv>\r\n"
                         "\t\t<Check-CRC>1</Check-CRC>\r\n\t\t<Delete-sfv>2</Delete-sfv>\r\n"
                         "\t\t<File-to-keep>*.nfo, *.txt,x,*.NFO</File-to-keep>\r\n");
    TempDir dir;
    WriteFileBytes(dir / "ravelpak.xml", content);
    EXPECT_EQ(
        LoadedSettings(dir),
        "deleteTemp=1 keepOverwritten=0 deleteSrcDuring=1 keepSrcNoSfv=0 checkCrc=1 deleteSfv=0 keep=NFO,nfo,txt");
    EXPECT_EQ(ReadFileBytes(dir / "ravelpak.xml"), content);

    // A UTF-8 file: its characters and its character references reach the engine in the ANSI
    // code page (1252 here).
    TempDir utf8;
    WriteFileBytes(utf8 / "ravelpak.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<RavelpakSettings><General>"
                                          "<File-to-keep>*.d\xC3\xA4t,*.t&#252;t</File-to-keep>"
                                          "</General></RavelpakSettings>\r\n");
    const std::string loaded = LoadedSettings(utf8);
    EXPECT_EQ(loaded.substr(loaded.find("keep=")), "keep=d\xE4t,t\xFCt");
}

// The module in a folder that nobody can write (tests/read_only_plugin.sh makes it): wcxhost
// suggests an ini file, as the file manager does, and the settings file is created beside it,
// in a folder that did not exist yet; what it holds steers `pack`.
TEST(SettingsAttach, ReadOnlyModuleFolderKeepsSettingsBesideTheHostsIniFile)
{
    const std::string mount = MountedFolder("read-only");
    if (mount.empty())
        GTEST_SKIP() << "skipped: needs root (a read-only bind mount)";
    const std::string plugin = mount + "plugin\\";
    ASSERT_FALSE(CreateDirectoryA((plugin + "probe").c_str(), nullptr));
    TempDir dir;
    MakeDirectories(dir / "src");

    const std::string emptyZip = BuildZip({});
    WriteFileBytes(dir / "src\\a.zip", emptyZip);
    WriteFileBytes(dir / "src\\a.sfv", "a.zip " + CrcHex(emptyZip) + "\r\n");
    const auto pack = [&] {
        return RunWcxhostPack("--trace --ini " + Quote(dir / "ini\\wincmd.ini"), plugin + "ravelpak.wcx64",
                              dir / "out\\x.zip", dir / "src\\", "a.sfv a.zip")
            .output;
    };
    EXPECT_EQ(LastLine(pack()), "result 0");
    EXPECT_EQ(ReadFileBytes(dir / "ini\\ravelpak.xml"), DefaultFile());
    EXPECT_TRUE(FileExists(dir / "src\\a.sfv"));

    WriteFileBytes(dir / "ini\\ravelpak.xml",
                   SettingsFileText("\t\t<Check-CRC>1</Check-CRC>\r\n\t\t<Delete-sfv>1</Delete-sfv>\r\n"));
    const std::vector<std::string> second = Lines(pack());
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(second.front(), "cb 0 Verifying a.zip...");
    EXPECT_EQ(second.back(), "result 0");
    EXPECT_FALSE(FileExists(dir / "src\\a.sfv"));
    EXPECT_FALSE(FileExists(plugin + "ravelpak.xml"));
}

}  // namespace
