// The settings dialog as the host opens it: through ConfigurePacker of the test build of the
// module, loaded from a fresh directory, on a thread of its own; driven with real input. What
// it leaves behind is read from the settings file and from the settings that the engine uses.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
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
const char kDefaults[] = "010-00";
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

// The same as the module writes it: UTF-8, values escaped.
std::string WrittenFile(const char* flags, const std::string& fileToKeep)
{
    std::string file = SettingsFile(flags, fileToKeep);
    const std::string old = "encoding=\"ISO-8859-1\"";
    return file.replace(file.find(old), old.size(), "encoding=\"UTF-8\"");
}

// The UTF-8 form of text in the ANSI code page.
std::string Utf8OfAnsi(const std::string& text)
{
    wchar_t wide[512];
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 512);
    char utf8[1024];
    WideCharToMultiByte(CP_UTF8, 0, wide, length, utf8, sizeof utf8, nullptr, nullptr);
    return utf8;
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
        if (language) {
            ASSERT_TRUE(CopyFileA((BinaryDirectory() + "lang\\ravelpak_chs.dll").c_str(),
                                  (dir_ / "ravelpak_chs.dll").c_str(), FALSE));
        }
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

    // A visible dialog window of the dialog's thread other than `except`, or null.
    HWND ThreadDialog(HWND except)
    {
        struct Search {
            HWND except, found;
        } search = {except, nullptr};
        EnumThreadWindows(
            threadId_,
            [](HWND window, LPARAM context) {
                auto* search = reinterpret_cast<Search*>(context);
                char name[16] = "";
                GetClassNameA(window, name, sizeof name);
                if (std::string(name) == "#32770" && IsWindowVisible(window) && window != search->except)
                    search->found = window;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    // Opens the dialog the way the host does, over `parent`, and waits until it shows.
    void Open(HWND parent = nullptr)
    {
        auto configure = Export<ConfigurePackerFn>("ConfigurePacker");
        ASSERT_NE(configure, nullptr);
        finished_ = false;
        dialog_ = nullptr;
        threadId_ = 0;
        thread_ = std::thread([this, configure, parent] {
            threadId_ = GetCurrentThreadId();
            configure(parent, nullptr);
            finished_ = true;
        });
        ASSERT_TRUE(WaitUntil([&] { return threadId_ != 0 && (dialog_ = ThreadDialog(nullptr)) != nullptr; }));
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
    int Selected() { return static_cast<int>(SendMessageA(list_, LB_GETCURSEL, 0, 0)); }
    HWND Focus()
    {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(threadId_, &info);
        return info.hwndFocus;
    }

    // The texts that do not fit their controls at the dialog's own font: check boxes after the
    // box, group captions between the frame's corners, push buttons inside their edges, and the
    // list's caption beside its buttons (drawn with the GUI font).
    Texts ClippedTexts()
    {
        Texts clipped;
        HDC dc = GetDC(dialog_);
        const auto measure = [&](HWND control, HFONT font, const std::wstring& text) {
            HGDIOBJ previous = SelectObject(dc, font);
            SIZE size = {};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            SIZE digit = {};
            GetTextExtentPoint32W(dc, L"0", 1, &digit);
            SelectObject(dc, previous);
            RECT client;
            GetClientRect(control, &client);
            return std::make_pair(static_cast<int>(size.cx), std::make_pair(static_cast<int>(digit.cx),
                                                                            static_cast<int>(client.right)));
        };
        for (HWND control = GetWindow(dialog_, GW_CHILD); control; control = GetWindow(control, GW_HWNDNEXT)) {
            const std::wstring text = WindowTextW(control);
            if (text.empty())
                continue;
            const HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
            int needed = 0, width = 0;
            if (control == frame_) {
                const auto m = measure(control, static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)), text);
                needed = m.first + 4 + 2 * 22;
                width = m.second.second;
            } else {
                const auto m = measure(control, dialogFont, text);
                const LONG_PTR type = GetWindowLongPtrA(control, GWL_STYLE) & BS_TYPEMASK;
                const int box = std::max(13, GetSystemMetrics(SM_CXMENUCHECK));
                needed = m.first + (type == BS_AUTOCHECKBOX ? box + m.second.first : 2 * m.second.first);
                width = m.second.second;
            }
            if (needed > width) {
                char line[160];
                std::snprintf(line, sizeof line, "control %d needs %d, has %d", GetDlgCtrlID(control), needed, width);
                clipped.push_back(line);
            }
        }
        ReleaseDC(dialog_, dc);
        return clipped;
    }
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
    std::atomic<DWORD> threadId_{0};
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
    EXPECT_EQ(ClippedTexts(), Texts{});
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
    EXPECT_EQ(ReadFileBytes(SettingsPath()), WrittenFile("010111", "*.nfo,*.txt"));
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
    EXPECT_EQ(ReadFileBytes(SettingsPath()), WrittenFile("110111", "*.nfo, *.txt,x,a.nfo"));
    EXPECT_EQ(EngineSettings(), Settings("110111", "nfo,txt"));
}

// On a first run the dialog shows the defaults that the engine runs with, nothing destructive
// among them. Cancel writes nothing, whatever was clicked and typed: the file that the first
// load created with the defaults stays, and a file deleted meanwhile stays away.
TEST_F(ConfigDialogTest, FirstRunShowsWhatTheEngineUsesAndCancelWritesNothing)
{
    Load(nullptr);
    Open();
    EXPECT_EVENTUALLY_EQ(Boxes(), kDefaults);
    EXPECT_EVENTUALLY_EQ(Rows(), Texts{kPlaceholder});
    EXPECT_EQ(EngineSettings(), Settings("010100", ""));
    const std::string created = ReadFileBytes(SettingsPath());
    EXPECT_EQ(created, WrittenFile("010100", ""));
    for (int id : kBoxes)
        ClickItem(id);
    AddRow("*.txt");
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.txt", kPlaceholder}));
    Close(IDCANCEL);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), created);
    EXPECT_EQ(EngineSettings(), Settings("010100", ""));

    ASSERT_TRUE(DeleteFileA(SettingsPath().c_str()));
    Open();
    EXPECT_EVENTUALLY_EQ(Boxes(), kDefaults);
    ClickItem(IDC_DELETE_SRC_DURING);
    Close(IDCANCEL);
    EXPECT_FALSE(FileExists(SettingsPath()));
    EXPECT_EQ(EngineSettings(), Settings("010100", ""));
}

// The dialog is owned by the window that the host hands over. A save that fails (here the
// file is held open without sharing) names the file and the system's reason; the dialog stays
// open with what the user chose, and OK saves once the cause is gone.
TEST_F(ConfigDialogTest, FailedSaveNamesTheFileAndKeepsTheDialogOpen)
{
    const std::string file = SettingsFile("010100", "*.nfo");
    Load(&file);
    UiThread owner;
    Open(owner.host());
    EXPECT_EQ(GetWindow(dialog_, GW_OWNER), owner.host());
    EXPECT_FALSE(IsWindowEnabled(owner.host()));
    ClickItem(IDC_CHECK_CRC);

    HANDLE lock = CreateFileA(SettingsPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    ClickItem(IDOK);
    HWND message = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (message = ThreadDialog(dialog_)) != nullptr; }));
    std::string text;
    for (HWND child = GetWindow(message, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        text += WindowText(child) + "\n";
    char reason[256] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_SHARING_VIOLATION, 0,
                   reason, sizeof reason, nullptr);
    std::string reasonLine(reason);
    reasonLine.erase(reasonLine.find_last_not_of("\r\n ") + 1);
    EXPECT_NE(text.find(SettingsPath()), std::string::npos) << text;
    EXPECT_NE(text.find(reasonLine), std::string::npos) << text;
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return ThreadDialog(dialog_) == nullptr; }));
    EXPECT_TRUE(IsWindowVisible(dialog_));
    EXPECT_FALSE(finished_);
    EXPECT_EVENTUALLY_EQ(Boxes(), "010-10");
    CloseHandle(lock);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), file);
    EXPECT_EQ(EngineSettings(), Settings("010100", "nfo"));

    Close(IDOK);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), WrittenFile("010110", "*.nfo"));
    EXPECT_EQ(EngineSettings(), Settings("010110", "nfo"));
    EXPECT_TRUE(IsWindowEnabled(owner.host()));
}

// Only the keyboard: Tab reaches the rows, the arrows move between them, Delete, Insert, F2,
// Escape and Enter edit them, and Enter on the list accepts the dialog. A pattern with the
// markup characters and a non-ASCII letter is saved escaped in UTF-8 and shown again as typed
// after the module is loaded anew.
TEST_F(ConfigDialogTest, KeepListIsEditedFromTheKeyboardAlone)
{
    const std::string file = SettingsFile("010100", "*.nfo,*.txt,*.sub");
    Load(&file);
    Open();
    // Keys go to the dialog only once it has the focus.
    ASSERT_TRUE(WaitUntil([&] { return Focus() != nullptr && IsChild(dialog_, Focus()); }));
    PressKey(VK_TAB);
    PressKey(VK_TAB);
    EXPECT_EVENTUALLY_EQ(Focus(), list_);
    PressKey(VK_DOWN);
    EXPECT_EVENTUALLY_EQ(Selected(), 1);
    PressKey(VK_DELETE);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", "*.sub", kPlaceholder}));
    PressKey(VK_DELETE);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", kPlaceholder}));

    const std::string typed = "*.<&>\"\xe9";
    PressKey(VK_INSERT);
    TypeText(typed);
    PressKey(VK_RETURN);
    char ansi[16] = "";
    WideCharToMultiByte(CP_ACP, 0, L"*.<&>\"\u00e9", -1, ansi, sizeof ansi, nullptr, nullptr);
    const std::string pattern = ansi;
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", pattern, kPlaceholder}));
    EXPECT_EVENTUALLY_EQ(Focus(), list_);

    PressKey(VK_UP);
    PressKey(VK_F2);
    EXPECT_EVENTUALLY_EQ(Focus() == list_, false);
    TypeText("*.zip");
    PressKey(VK_ESCAPE);
    EXPECT_EVENTUALLY_EQ(Focus(), list_);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", pattern, kPlaceholder}));
    EXPECT_FALSE(finished_);
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return finished_.load(); }));
    thread_.join();
    const std::string escaped = Utf8OfAnsi(pattern).replace(2, 4, "&lt;&amp;&gt;&quot;");
    EXPECT_EQ(ReadFileBytes(SettingsPath()), WrittenFile("010100", "*.nfo," + escaped));

    FreeLibrary(module_);
    module_ = LoadLibraryA((dir_ / "ravelpak.wcx64").c_str());
    ASSERT_NE(module_, nullptr);
    Open();
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", pattern, kPlaceholder}));
    Close(IDCANCEL);
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
    EXPECT_EQ(ReadFileBytes(SettingsPath()), WrittenFile("010100", longest + ",,*.nfo"));
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
    EXPECT_EQ(ReadFileBytes(SettingsPath()), WrittenFile("010111", ""));
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

// Run with a Chinese locale, so that the texts survive the narrow-character calls. Every
// visible text comes from the language module, the placeholder row included, and fits. The
// file lacks Delete-sfv and File-to-keep, which keep their defaults.
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
    EXPECT_EVENTUALLY_EQ(Boxes(), kDefaults);
    wchar_t row[64] = L"";
    EXPECT_EVENTUALLY_EQ(SendMessageW(list_, LB_GETCOUNT, 0, 0), 1);
    SendMessageW(list_, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(row));
    EXPECT_EQ(std::wstring(row), L"< \u5355\u51fb\u6b64\u5904\u6dfb\u52a0\u9879\u76ee >");
    EXPECT_EQ(ClippedTexts(), Texts{});
    Close(IDCANCEL);
}

}  // namespace
