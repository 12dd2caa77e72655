// What the module reads and writes when the host loads it: the settings file beside the
// module and the optional language module. Each case copies the test build of the module
// into a fresh directory and loads it from there.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef int(__stdcall* TextQueryFn)(char* buffer, int size);
typedef int(__stdcall* ResourceStringFn)(int id, char* buffer, int size);

const char kDefaults[] = "deleteTemp=0 keepOverwritten=1 deleteSrcDuring=0 keepSrcNoSfv=1 checkCrc=0 deleteSfv=0 keep=";

class ModuleCopy {
public:
    explicit ModuleCopy(const TempDir& dir) : path_(dir / "ravelpak.wcx64")
    {
        CopyFileA((BinaryDirectory() + "ravelpak_test.wcx64").c_str(), path_.c_str(), FALSE);
    }
    ~ModuleCopy() { Unload(); }

    void Load() { module_ = LoadLibraryA(path_.c_str()); }
    void Unload()
    {
        if (module_)
            FreeLibrary(module_);
        module_ = nullptr;
    }
    bool loaded() const { return module_ != nullptr; }

    std::string Settings()
    {
        auto query =
            reinterpret_cast<TextQueryFn>(reinterpret_cast<void*>(GetProcAddress(module_, "RavelpakTestSettings")));
        char buffer[512] = "";
        if (query)
            query(buffer, sizeof buffer);
        return buffer;
    }
    std::string ResourceString(int id)
    {
        auto query = reinterpret_cast<ResourceStringFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "RavelpakTestResourceString")));
        char buffer[256] = "";
        if (query)
            query(id, buffer, sizeof buffer);
        return buffer;
    }

private:
    std::string path_;
    HMODULE module_ = nullptr;
};

std::string LoadWithSettingsFileText(const std::string* content)
{
    TempDir dir;
    if (content)
        WriteFileBytes(dir / "ravelpak.xml", *content);
    ModuleCopy module(dir);
    module.Load();
    return module.loaded() ? module.Settings() : "not loaded";
}

TEST(SettingsAttach, MissingFileIsCreatedWithTwoKeysAndDefaultsHold)
{
    TempDir dir;
    ModuleCopy module(dir);
    module.Load();
    ASSERT_TRUE(module.loaded());
    EXPECT_EQ(module.Settings(), kDefaults);
    EXPECT_EQ(ReadFileBytes(dir / "ravelpak.xml"),
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<RavelpakSettings>\r\n\t<General>\r\n"
              "\t\t<DeleteTemp>0</DeleteTemp>\r\n\t\t<KeepOverWritten>1</KeepOverWritten>\r\n\t</General>\r\n"
              "</RavelpakSettings>\r\n");
}

TEST(SettingsAttach, CompleteFileIsReadAndLeftUnchanged)
{
    const std::string content =
        SettingsFileText("\t\t<DeleteTemp>1</DeleteTemp>\r\n\t\t<KeepOverWritten>0</KeepOverWritten>\r\n"
                         "\t\t<Delete-src-during>1</Delete-src-during>\r\n\t\t<Keep-src-nosfv>0</Keep-src-nosfv>\r\n"
                         "\t\t<Check-CRC>1</Check-CRC>\r\n\t\t<Delete-sfv>1</Delete-sfv>\r\n"
                         "\t\t<File-to-keep>*.nfo, *.txt,x,*.NFO</File-to-keep>\r\n");
    TempDir dir;
    WriteFileBytes(dir / "ravelpak.xml", content);
    ModuleCopy module(dir);
    module.Load();
    EXPECT_EQ(
        module.Settings(),
        "deleteTemp=1 keepOverwritten=0 deleteSrcDuring=1 keepSrcNoSfv=0 checkCrc=1 deleteSfv=1 keep=NFO,nfo,txt");
    EXPECT_EQ(ReadFileBytes(dir / "ravelpak.xml"), content);
}

// Flags are read as a number: exactly 1 is on, any other number off, and a text that is
// not a number leaves the default (off for DeleteTemp, on for Keep-src-nosfv).
TEST(SettingsAttach, FlagTexts)
{
    struct Case {
        const char* text;
        const char* deleteTemp;
        const char* keepSrcNoSfv;
    } cases[] = {
        {"1", "deleteTemp=1", "keepSrcNoSfv=1"},  {" 1", "deleteTemp=1", "keepSrcNoSfv=1"},
        {"01", "deleteTemp=1", "keepSrcNoSfv=1"}, {"1x", "deleteTemp=1", "keepSrcNoSfv=1"},
        {"0", "deleteTemp=0", "keepSrcNoSfv=0"},  {"2", "deleteTemp=0", "keepSrcNoSfv=0"},
        {"-1", "deleteTemp=0", "keepSrcNoSfv=0"}, {"yes", "deleteTemp=0", "keepSrcNoSfv=1"},
        {"", "deleteTemp=0", "keepSrcNoSfv=1"},   {"99999999999", "deleteTemp=0", "keepSrcNoSfv=1"},
    };
    for (const Case& c : cases) {
        const std::string content =
            SettingsFileText(std::string("\t\t<DeleteTemp>") + c.text + "</DeleteTemp>\r\n\t\t<Keep-src-nosfv>" +
                             c.text + "</Keep-src-nosfv>\r\n");
        const std::string settings = LoadWithSettingsFileText(&content);
        EXPECT_NE(settings.find(c.deleteTemp), std::string::npos) << '"' << c.text << "\" " << settings;
        EXPECT_NE(settings.find(c.keepSrcNoSfv), std::string::npos) << '"' << c.text << "\" " << settings;
    }
}

TEST(SettingsAttach, FilesThatYieldNoKeyGiveAllDefaults)
{
    const std::string cases[] = {
        "<?xml version=\"1.0\"?>\r\n<General>\r\n\t<Check-CRC>1</Check-CRC>\r\n</General>\r\n",
        "<!DOCTYPE x>\r\n<RavelpakSettings><General><Check-CRC>1</Check-CRC></General></RavelpakSettings>",
        "not xml at all",
        "",
        std::string(100000, '<'),
    };
    for (const std::string& content : cases)
        EXPECT_EQ(LoadWithSettingsFileText(&content), kDefaults) << content.substr(0, 60);
}

// The settings file is read inside the host's process: no file may take it down.
TEST(SettingsAttach, DeeplyNestedFileLoadsWithDefaults)
{
    std::string content;
    for (int i = 0; i < 200000; ++i)
        content += "<a>";
    EXPECT_EQ(LoadWithSettingsFileText(&content), kDefaults);
}

TEST(SettingsAttach, UnreadableFileGivesDefaultsAndStays)
{
    TempDir dir;
    CreateDirectoryA((dir / "ravelpak.xml").c_str(), nullptr);
    ModuleCopy module(dir);
    module.Load();
    ASSERT_TRUE(module.loaded());
    EXPECT_EQ(module.Settings(), kDefaults);
    EXPECT_TRUE(DirectoryExists(dir / "ravelpak.xml"));
}

TEST(SettingsAttach, LanguageModuleBesideTheModuleSuppliesResourcesUntilUnload)
{
    TempDir dir;
    ModuleCopy module(dir);
    module.Load();
    EXPECT_EQ(module.ResourceString(1), "Keep files of following types (i.e. *.txt)");
    module.Unload();

    ASSERT_TRUE(
        CopyFileA((BinaryDirectory() + "test_language.dll").c_str(), (dir / "ravelpak_chs.dll").c_str(), FALSE));
    module.Load();
    EXPECT_EQ(module.ResourceString(1), "Test language string");
    module.Unload();
    // Freed at detach: nothing holds the file any more.
    EXPECT_TRUE(DeleteFileA((dir / "ravelpak_chs.dll").c_str()));
}

// Settings read at attach steer PackFiles: Check-CRC on makes the module verify the group.
TEST(SettingsAttach, SettingsFileSteersPackFiles)
{
    TempDir dir;
    MakeDirectories(dir / "plugin");
    MakeDirectories(dir / "src");
    CopyFileA((BinaryDirectory() + "ravelpak.wcx64").c_str(), (dir / "plugin\\ravelpak.wcx64").c_str(), FALSE);
    WriteFileBytes(dir / "plugin\\ravelpak.xml",
                   SettingsFileText("\t\t<Check-CRC>1</Check-CRC>\r\n\t\t<Delete-sfv>1</Delete-sfv>\r\n"));
    const std::string emptyZip = BuildZip({});
    WriteFileBytes(dir / "src\\a.zip", emptyZip);
    WriteFileBytes(dir / "src\\a.sfv", "a.zip " + CrcHex(emptyZip) + "\r\n");
    ProcessResult result =
        RunProcess("\"" + BinaryDirectory() + "wcxhost.exe\" pack --trace \"" + dir / "plugin\\ravelpak.wcx64" +
                   "\" \"" + dir / "out\\x.zip" + "\" \"" + dir / "src\\\\" + "\" a.sfv a.zip");
    EXPECT_EQ(Lines(result.output),
              (std::vector<std::string>{"cb 0 Verifying a.zip...", "cb 0 Verifying a.zip... Done!",
                                        "cb 22 " + dir / "src\\a.zip", "cb 0 a.zip: unpacked", "result 0"}));
    EXPECT_FALSE(FileExists(dir / "src\\a.sfv"));
}

}  // namespace
