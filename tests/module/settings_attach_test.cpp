// Where the module keeps its settings and when it reads and writes them: nothing while the
// host loads it, the settings file (beside the module or beside the host's ini file) and the
// optional language module at the first call that needs them. Each case copies the test
// build of the module into a fresh directory and loads it from there.
#include <windows.h>

#include <gtest/gtest.h>

#include "host/wcx.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"

namespace {

typedef int(__stdcall* TextQueryFn)(char* buffer, int size);
typedef int(__stdcall* ResourceStringFn)(int id, char* buffer, int size);

const char kDefaults[] = "deleteTemp=0 keepOverwritten=1 deleteSrcDuring=0 keepSrcNoSfv=1 checkCrc=0 deleteSfv=0 keep=";

// The file that the module writes with the defaults.
const char kDefaultFile[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<RavelpakSettings>\r\n\t<General>\r\n"
                            "\t\t<DeleteTemp>0</DeleteTemp>\r\n\t\t<KeepOverWritten>1</KeepOverWritten>\r\n"
                            "\t\t<Delete-src-during>0</Delete-src-during>\r\n\t\t<Keep-src-nosfv>1</Keep-src-nosfv>\r\n"
                            "\t\t<Check-CRC>0</Check-CRC>\r\n\t\t<Delete-sfv>0</Delete-sfv>\r\n"
                            "\t\t<File-to-keep></File-to-keep>\r\n\t</General>\r\n</RavelpakSettings>\r\n";

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

    // What the host does right after loading: suggests an ini file for the settings.
    void SuggestIni(const std::string& iniFile)
    {
        auto suggest = reinterpret_cast<PackSetDefaultParamsFn>(
            reinterpret_cast<void*>(GetProcAddress(module_, "PackSetDefaultParams")));
        ASSERT_NE(suggest, nullptr);
        PackDefaultParamStruct params = {sizeof params, PLUGIN_INTERFACE_VERSION_LOW, PLUGIN_INTERFACE_VERSION_HI, ""};
        lstrcpynA(params.DefaultIniName, iniFile.c_str(), MAX_PATH);
        suggest(&params);
    }

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

// A folder made read-only by a bind mount of itself, which even root cannot write; undone when
// the object goes. Needs root. The Linux shell is started like any program, but Wine does not
// wait for a Linux process: each command reports through a status file beside the folder.
class ReadOnlyMount {
public:
    explicit ReadOnlyMount(const std::string& folder) : status_(folder + ".status")
    {
        path_ = UnixName(folder);
        statusPath_ = UnixName(status_);
        if (path_.empty() || statusPath_.empty())
            return;
        mounted_ = Shell("mount --bind '" + path_ + "' '" + path_ + "' && mount -o remount,bind,ro '" + path_ + "'");
        if (!mounted_)
            Shell("umount '" + path_ + "'");
    }
    ~ReadOnlyMount()
    {
        if (mounted_)
            Shell("umount '" + path_ + "'");
    }
    bool mounted() const { return mounted_; }

private:
    static std::string UnixName(const std::string& path)
    {
        typedef char*(__cdecl * UnixNameFn)(const wchar_t*);
        auto unixName = reinterpret_cast<UnixNameFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        char* name = unixName ? unixName(wide) : nullptr;
        if (!name)
            return std::string();
        const std::string result = name;
        HeapFree(GetProcessHeap(), 0, name);
        return result;
    }

    bool Shell(const std::string& command)
    {
        DeleteFileA(status_.c_str());
        RunProcess("/bin/sh -c \"(" + command + ") >/dev/null 2>&1 && echo ok >'" + statusPath_ + "' || echo no >'" +
                   statusPath_ + "'\"");
        for (int i = 0; i < 500 && !FileExists(status_); ++i)
            Sleep(20);
        Sleep(20);  // the line may still be on its way
        return ReadFileBytes(status_).compare(0, 2, "ok") == 0;
    }

    std::string status_;
    std::string path_;
    std::string statusPath_;
    bool mounted_ = false;
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

// Loading touches no file; the first call that needs the settings creates the missing file
// with the defaults, which the engine then runs with.
TEST(SettingsAttach, MissingFileIsCreatedWithTheDefaultsAtFirstUse)
{
    TempDir dir;
    ModuleCopy module(dir);
    module.Load();
    ASSERT_TRUE(module.loaded());
    EXPECT_FALSE(FileExists(dir / "ravelpak.xml"));
    EXPECT_EQ(module.Settings(), kDefaults);
    EXPECT_EQ(ReadFileBytes(dir / "ravelpak.xml"), kDefaultFile);
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

// Old files declare ISO-8859-1 but hold the ANSI code page, and are read byte for byte;
// UTF-8 files are converted to the ANSI code page; markup characters come back unescaped.
TEST(SettingsAttach, PatternTextsByDeclaredEncoding)
{
    char eAcute[8] = "";
    WideCharToMultiByte(CP_ACP, 0, L"\u00e9", 1, eAcute, sizeof eAcute, nullptr, nullptr);
    const std::string element = "\t\t<File-to-keep>*.n&lt;&amp;&gt;&quot;,*.";
    const struct {
        std::string file;
        std::string keep;
    } cases[] = {
        {SettingsFileText(element + eAcute + "</File-to-keep>\r\n"), std::string("n<&>\",") + eAcute},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<RavelpakSettings><General>" + element.substr(2) +
             "\xc3\xa9</File-to-keep></General></RavelpakSettings>",
         std::string("n<&>\",") + eAcute},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadWithSettingsFileText(&c.file), std::string(kDefaults) + c.keep) << c.file;
}

// With an ini file suggested, the settings file beside the module wins when it exists, then
// the one beside the ini file; with neither, the file is created beside the module, whose
// folder is writable here.
TEST(SettingsAttach, LocationWithASuggestedIniFile)
{
    const std::string besideFile = SettingsFileText("\t\t<Check-CRC>1</Check-CRC>\r\n");
    const std::string iniFile = SettingsFileText("\t\t<Delete-sfv>1</Delete-sfv>\r\n");
    const char beside[] =
        "deleteTemp=0 keepOverwritten=1 deleteSrcDuring=0 keepSrcNoSfv=1 checkCrc=1 deleteSfv=0 keep=";
    const char fromIni[] =
        "deleteTemp=0 keepOverwritten=1 deleteSrcDuring=0 keepSrcNoSfv=1 checkCrc=0 deleteSfv=1 keep=";
    const struct {
        bool suggest, besideExists, iniExists;
        const char* settings;
        bool besideAfter, iniAfter;
    } cases[] = {
        {false, false, true, kDefaults, true, true}, {true, false, false, kDefaults, true, false},
        {true, true, false, beside, true, false},    {true, false, true, fromIni, false, true},
        {true, true, true, beside, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.suggest << c.besideExists << c.iniExists);
        TempDir dir;
        MakeDirectories(dir / "ini");
        if (c.besideExists)
            WriteFileBytes(dir / "ravelpak.xml", besideFile);
        if (c.iniExists)
            WriteFileBytes(dir / "ini\\ravelpak.xml", iniFile);
        ModuleCopy module(dir);
        module.Load();
        if (c.suggest)
            module.SuggestIni(dir / "ini\\wincmd.ini");
        EXPECT_EQ(module.Settings(), c.settings);
        EXPECT_EQ(FileExists(dir / "ravelpak.xml"), c.besideAfter);
        EXPECT_EQ(FileExists(dir / "ini\\ravelpak.xml"), c.iniAfter);
        if (c.iniExists) {
            EXPECT_EQ(ReadFileBytes(dir / "ini\\ravelpak.xml"), iniFile);
        }
    }
}

// The module in a folder that nobody can write (a read-only bind mount, which even root
// cannot write): wcxhost suggests an ini file, as the file manager does, and the settings file
// is created beside it, in a folder that did not exist yet; what it holds steers `pack`.
TEST(SettingsAttach, ReadOnlyModuleFolderKeepsSettingsBesideTheHostsIniFile)
{
    TempDir dir;
    MakeDirectories(dir / "plugin");
    MakeDirectories(dir / "src");
    ASSERT_TRUE(
        CopyFileA((BinaryDirectory() + "ravelpak.wcx64").c_str(), (dir / "plugin\\ravelpak.wcx64").c_str(), FALSE));
    ReadOnlyMount mount(dir / "plugin");
    if (!mount.mounted())
        GTEST_SKIP() << "skipped: needs root (a read-only bind mount)";
    ASSERT_FALSE(CreateDirectoryA((dir / "plugin\\probe").c_str(), nullptr));

    const std::string emptyZip = BuildZip({});
    WriteFileBytes(dir / "src\\a.zip", emptyZip);
    WriteFileBytes(dir / "src\\a.sfv", "a.zip " + CrcHex(emptyZip) + "\r\n");
    const std::string pack = "\"" + BinaryDirectory() + "wcxhost.exe\" pack --trace --ini \"" +
                             dir / "ini\\wincmd.ini" + "\" \"" + dir / "plugin\\ravelpak.wcx64" + "\" \"" +
                             dir / "out\\x.zip" + "\" \"" + dir / "src\\\\" + "\" a.sfv a.zip";
    const std::vector<std::string> first = Lines(RunProcess(pack).output);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.back(), "result 0");
    EXPECT_EQ(ReadFileBytes(dir / "ini\\ravelpak.xml"), kDefaultFile);
    EXPECT_TRUE(FileExists(dir / "src\\a.sfv"));

    WriteFileBytes(dir / "ini\\ravelpak.xml",
                   SettingsFileText("\t\t<Check-CRC>1</Check-CRC>\r\n\t\t<Delete-sfv>1</Delete-sfv>\r\n"));
    const std::vector<std::string> second = Lines(RunProcess(pack).output);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(second.front(), "cb 0 Verifying a.zip...");
    EXPECT_EQ(second.back(), "result 0");
    EXPECT_FALSE(FileExists(dir / "src\\a.sfv"));
    EXPECT_FALSE(FileExists(dir / "plugin\\ravelpak.xml"));
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
