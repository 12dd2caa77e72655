// The settings dialog as the host opens it: through ConfigurePacker of the test build of the
// module, loaded from a fresh directory, on a thread of its own; driven with real input. What
// it leaves behind is read from the settings file and from the module's UnpackSettings.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/wcx.h"
#include "resources/resource.h"
#include "tests/support/test_files.h"
#include "tests/support/zip_writer.h"
#include "tests/ui/gui_driver.h"
#include "ui/edit_list_box.h"

namespace {

typedef std::vector<std::string> Texts;
typedef int(__stdcall* TextQueryFn)(char* buffer, int size);

const char kPlaceholder[] = "< Click here to add item >";
const int kBoxes[] = {IDC_DELETE_TEMP,    IDC_KEEP_OVERWRITTEN, IDC_DELETE_SRC_DURING,
                      IDC_KEEP_SRC_NOSFV, IDC_CHECK_CRC,        IDC_DELETE_SFV};

// A settings file as OK writes it: the six flags in the order of kBoxes, then the patterns.
std::string SettingsFile(const char* flags, const std::string& fileToKeep)
{
    const char* names[] = {"DeleteTemp",     "KeepOverWritten", "Delete-src-during",
                           "Keep-src-nosfv", "Check-CRC",       "Delete-sfv"};
    std::string elements;
    for (int i = 0; i < 6; ++i)
        elements += std::string("\t\t<") + names[i] + ">" + flags[i] + "</" + names[i] + ">\r\n";
    return SettingsFileText(elements + "\t\t<File-to-keep>" + fileToKeep + "</File-to-keep>\r\n");
}

std::string Settings(const char* flags, const std::string& keys)
{
    const char* names[] = {"deleteTemp", "keepOverwritten", "deleteSrcDuring", "keepSrcNoSfv", "checkCrc", "deleteSfv"};
    std::string text;
    for (int i = 0; i < 6; ++i)
        text += std::string(names[i]) + "=" + flags[i] + " ";
    return text + "keep=" + keys;
}

std::vector<std::string> g_progress;

int __stdcall RecordProgress(char* name, int size)
{
    g_progress.push_back(std::to_string(size) + " " + name);
    return 1;
}

class ConfigDialogTest : public ::testing::Test {
protected:
    ~ConfigDialogTest() override
    {
        // Never leave a dialog open: cancel it and give it time to close.
        if (thread_.joinable()) {
            if (!finished_ && dialog_)
                PostMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
            if (WaitUntil([&] { return finished_.load(); }, 5000))
                thread_.join();
            else
                thread_.detach();
        }
        if (module_)
            FreeLibrary(module_);
    }

    std::string SettingsPath() const { return dir_ / "ravelpak.xml"; }

    void Load(const std::string* settings, bool language = false)
    {
        ASSERT_TRUE(
            CopyFileA((BinaryDirectory() + "ravelpak_test.wcx64").c_str(), (dir_ / "ravelpak.wcx64").c_str(), FALSE));
        if (settings)
            WriteFileBytes(SettingsPath(), *settings);
        if (language)
            ASSERT_TRUE(CopyFileA((BinaryDirectory() + "lang\\ravelpak_chs.dll").c_str(),
                                  (dir_ / "ravelpak_chs.dll").c_str(), FALSE));
        module_ = LoadLibraryA((dir_ / "ravelpak.wcx64").c_str());
        ASSERT_NE(module_, nullptr);
    }

    template <typename Function> Function Export(const char* name)
    {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

    std::string EngineSettings()
    {
        char buffer[512] = "";
        Export<TextQueryFn>("RavelpakTestSettings")(buffer, sizeof buffer);
        return buffer;
    }

    // Opens the dialog the way the host does and waits until it shows.
    void Open()
    {
        auto configure = Export<ConfigurePackerFn>("ConfigurePacker");
        ASSERT_NE(configure, nullptr);
        finished_ = false;
        dialog_ = nullptr;
        std::atomic<DWORD> threadId{0};
        thread_ = std::thread([&, configure] {
            threadId = GetCurrentThreadId();
            configure(nullptr, nullptr);
            finished_ = true;
        });
        ASSERT_TRUE(WaitUntil([&] {
            EnumThreadWindows(
                threadId,
                [](HWND window, LPARAM found) {
                    char name[16] = "";
                    GetClassNameA(window, name, sizeof name);
                    if (std::string(name) == "#32770" && IsWindowVisible(window))
                        *reinterpret_cast<HWND*>(found) = window;
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&dialog_));
            return dialog_ != nullptr;
        }));
        frame_ = GetDlgItem(dialog_, IDC_KEEP_LIST);
        list_ = FindWindowExA(frame_, nullptr, "ListBox", nullptr);
    }

    // Closes the dialog with OK or Cancel and waits until ConfigurePacker has returned.
    void Close(int button)
    {
        Click(Item(button), CenterOf(Item(button)));
        ASSERT_TRUE(WaitUntil([&] { return finished_.load(); }));
        thread_.join();
    }

    HWND Item(int id) { return GetDlgItem(dialog_, id); }
    void ClickItem(int id) { Click(Item(id), CenterOf(Item(id))); }
    // "1" checked, "0" not, "-" checked but disabled, "_" unchecked and disabled.
    std::string Boxes()
    {
        std::string states;
        for (int id : kBoxes) {
            const bool checked = SendMessageA(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
            const bool enabled = IsWindowEnabled(Item(id)) != FALSE;
            states += enabled ? (checked ? '1' : '0') : (checked ? '-' : '_');
        }
        return states;
    }
    Texts Rows() { return ListRows(list_); }
    void AddRow(const std::string& text)
    {
        HWND button = GetDlgItem(frame_, kEditListNew);
        Click(button, CenterOf(button));
        TypeText(text);
        PressKey(VK_RETURN);
    }

    TempDir dir_;
    HMODULE module_ = nullptr;
    std::thread thread_;
    std::atomic<bool> finished_{true};
    HWND dialog_ = nullptr;
    HWND frame_ = nullptr;
    HWND list_ = nullptr;
};

TEST_F(ConfigDialogTest, ShowsTheFileAndTheEnablingRule)
{
    const std::string file = SettingsFile("010111", "*.nfo,*.txt");
    Load(&file);
    Open();
    EXPECT_EQ(WindowText(dialog_), "Ravelpak settings");
    EXPECT_EVENTUALLY_EQ(Boxes(), "010-11");
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", "*.txt", kPlaceholder}));
    EXPECT_EQ(WindowText(frame_), "Keep files of following types (i.e. *.txt)");
    // The banner is painted beside the options, and only there.
    HBITMAP banner = LoadBitmapA(module_, MAKEINTRESOURCEA(IDB_BANNER));
    ASSERT_NE(banner, nullptr);
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ previous = SelectObject(memory, banner);
    HDC dialog = GetDC(dialog_);
    for (POINT at : {POINT{0, 0}, POINT{80, 160}, POINT{159, 319}})
        EXPECT_TRUE(WaitUntil([&] { return GetPixel(dialog, 10 + at.x, 23 + at.y) == GetPixel(memory, at.x, at.y); }))
            << at.x << "," << at.y;
    EXPECT_NE(GetPixel(dialog, 10 + 160, 23 + 100), GetPixel(memory, 159, 100));
    ReleaseDC(dialog_, dialog);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(banner);

    // Checking 1003 enables 1004; unchecking disables it again and leaves its mark, which OK saves.
    ClickItem(IDC_DELETE_SRC_DURING);
    EXPECT_EVENTUALLY_EQ(Boxes(), "011111");
    ClickItem(IDC_DELETE_SRC_DURING);
    EXPECT_EVENTUALLY_EQ(Boxes(), "010-11");
    Close(IDOK);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), file);
    EXPECT_EQ(EngineSettings(), Settings("010111", "nfo,txt"));
}

// OK writes every control into a fresh file and hands the flags and keys to the engine. The
// file keeps the rows as they stand; only the keys are built from the parsed patterns.
TEST_F(ConfigDialogTest, OkWritesTheFileAndSetsTheEngine)
{
    const std::string file = SettingsFile("010100", "*.nfo");
    Load(&file);
    EXPECT_EQ(EngineSettings(), Settings("010100", "nfo"));
    Open();
    ClickItem(IDC_DELETE_TEMP);
    ClickItem(IDC_CHECK_CRC);
    ClickItem(IDC_DELETE_SFV);
    AddRow(" *.txt");
    AddRow("x");
    AddRow("a.nfo");
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", " *.txt", "x", "a.nfo", kPlaceholder}));
    Close(IDOK);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), SettingsFile("110111", "*.nfo, *.txt,x,a.nfo"));
    EXPECT_EQ(EngineSettings(), Settings("110111", "nfo,txt"));
}

// With the file gone, the dialog writes one with its defaults and shows what it wrote, the
// enabled source deletion included: what the user sees is what the engine does after its
// next load.
TEST_F(ConfigDialogTest, MissingFileIsCreatedAndShownAsWritten)
{
    Load(nullptr);
    ASSERT_TRUE(DeleteFileA(SettingsPath().c_str()));
    const std::string before = EngineSettings();
    Open();
    const std::string written =
        SettingsFileText("\t\t<DeleteTemp>0</DeleteTemp>\r\n\t\t<KeepOverWritten>1</KeepOverWritten>\r\n"
                         "\t\t<File-to-keep>*.nfo</File-to-keep>\r\n\t\t<Delete-src-during>1</Delete-src-during>\r\n"
                         "\t\t<Keep-src-nosfv>1</Keep-src-nosfv>\r\n\t\t<Check-CRC>0</Check-CRC>\r\n"
                         "\t\t<Delete-sfv>1</Delete-sfv>\r\n");
    EXPECT_EQ(ReadFileBytes(SettingsPath()), written);
    EXPECT_EVENTUALLY_EQ(Boxes(), "011101");
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", kPlaceholder}));
    // Cancel changes nothing, whatever was clicked and typed.
    for (int id : kBoxes)
        ClickItem(id);
    AddRow("*.txt");
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", "*.txt", kPlaceholder}));
    Close(IDCANCEL);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), written);
    EXPECT_EQ(EngineSettings(), before);

    Open();
    Close(IDOK);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), SettingsFile("011101", "*.nfo"));
    EXPECT_EQ(EngineSettings(), Settings("011101", "nfo"));
}

// Rows are read into buffers of 260 characters and a terminator: a row of 260 characters is
// saved whole, a longer one (only a file can hold it) as an empty text.
TEST_F(ConfigDialogTest, RowsOfUpTo260CharactersAreSaved)
{
    const std::string longest = "*." + std::string(258, 'a');
    const std::string tooLong = "*." + std::string(259, 'b');
    const std::string file = SettingsFile("010100", longest + "," + tooLong + ",*.nfo");
    Load(&file);
    Open();
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{longest, tooLong, "*.nfo", kPlaceholder}));
    Close(IDOK);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), SettingsFile("010100", longest + ",,*.nfo"));
    EXPECT_EQ(EngineSettings(), Settings("010100", std::string(258, 'a') + ",nfo"));
}

// Accepted settings steer the next PackFiles: with Check-CRC and Delete-sfv switched on in
// the dialog, the group is verified and its SFV file deleted. With only the placeholder left,
// no patterns are saved.
TEST_F(ConfigDialogTest, NextPackFilesUsesTheAcceptedSettings)
{
    const std::string file = SettingsFile("010100", "*.nfo");
    Load(&file);
    Open();
    ClickItem(IDC_CHECK_CRC);
    ClickItem(IDC_DELETE_SFV);
    Click(list_, RowPoint(list_, 0));
    HWND remove = GetDlgItem(frame_, kEditListDelete);
    Click(remove, CenterOf(remove));
    EXPECT_EVENTUALLY_EQ(Rows(), Texts{kPlaceholder});
    Close(IDOK);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), SettingsFile("010111", ""));
    EXPECT_EQ(EngineSettings(), Settings("010111", ""));

    MakeDirectories(dir_ / "src");
    const std::string emptyZip = BuildZip({});
    WriteFileBytes(dir_ / "src\\a.zip", emptyZip);
    WriteFileBytes(dir_ / "src\\a.sfv", "a.zip " + CrcHex(emptyZip) + "\r\n");
    g_progress.clear();
    Export<SetProcessDataProcFn>("SetProcessDataProc")(nullptr, RecordProgress);
    std::string packed = dir_ / "out\\x.zip";
    std::string source = dir_ / "src\\";
    char list[] = "a.sfv\0a.zip\0";
    EXPECT_EQ(Export<PackFilesFn>("PackFiles")(&packed[0], nullptr, &source[0], list, 0), 0);
    ASSERT_FALSE(g_progress.empty());
    EXPECT_EQ(g_progress.front(), "0 Verifying a.zip...");
    EXPECT_FALSE(FileExists(dir_ / "src\\a.sfv"));
}

// Run with a Chinese locale, so that the texts survive the narrow-character calls. The file
// lacks Delete-sfv, which shows checked, and File-to-keep.
TEST_F(ConfigDialogTest, LanguageModuleSuppliesTheChineseDialog)
{
    const std::string file =
        SettingsFileText("\t\t<DeleteTemp>0</DeleteTemp>\r\n\t\t<KeepOverWritten>1</KeepOverWritten>\r\n");
    Load(&file, true);
    Open();
    EXPECT_EQ(WindowTextW(dialog_), L"Ravelpak \u8bbe\u7f6e");
    EXPECT_EQ(WindowTextW(Item(IDOK)), L"\u786e\u5b9a");
    EXPECT_EQ(WindowTextW(frame_),
              L"\u4fdd\u7559\u4ee5\u4e0b\u7c7b\u578b\u7684\u6587\u4ef6\uff08\u4f8b\u5982 *.txt\uff09");
    EXPECT_EVENTUALLY_EQ(Boxes(), "010-01");
    EXPECT_EVENTUALLY_EQ(Rows(), Texts{kPlaceholder});
    Close(IDCANCEL);
}

}  // namespace
