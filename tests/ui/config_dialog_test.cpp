// The settings dialog as the host opens it: through ConfigurePacker of the test build of the
// module, loaded from a fresh directory, on a thread of its own; driven with real input. What
// it leaves behind is read from the settings file and from the settings that the engine uses.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/wcx.h"
#include "resources/resource.h"
#include "tests/support/test_files.h"
#include "settings/unpack_settings.h"
#include "tests/ui/gui_driver.h"
#include "ui/edit_list_box.h"

namespace {

typedef std::vector<std::string> Texts;
typedef int(__stdcall* TextQueryFn)(char* buffer, int size);

const char kPlaceholder[] = "< Click here to add item >";
const int kBoxes[] = {IDC_DELETE_TEMP,    IDC_KEEP_OVERWRITTEN, IDC_DELETE_SRC_DURING,
                      IDC_KEEP_SRC_NOSFV, IDC_CHECK_CRC,        IDC_DELETE_SFV};

// The six flags of a record in the order of kBoxes, "1" on and "0" off.
std::string Flags(const SettingsRecord& record)
{
    std::string flags;
    for (int32_t flag : {record.deleteTemp, record.keepOverwritten, record.deleteSrcDuring, record.keepSrcNoSfv,
                         record.checkCrc, record.deleteSfv})
        flags += flag == 1 ? '1' : '0';
    return flags;
}

// The product's defaults, which a first run shows, runs with and writes.
const std::string kDefaultFlags = Flags(SettingsRecord());

// The boxes as the dialog shows these flags (see Boxes()): the box that keeps sources without
// an SFV file is enabled only while sources are deleted.
std::string ShownBoxes(const std::string& flags)
{
    std::string boxes = flags;
    if (flags[2] != '1')
        boxes[3] = flags[3] == '1' ? '-' : '_';
    return boxes;
}

// A settings file as OK writes it: the six flags in the order of kBoxes, then the patterns.
std::string SettingsFile(const std::string& flags, const std::string& fileToKeep)
{
    const char* names[] = {"DeleteTemp",     "KeepOverWritten", "Delete-src-during",
                           "Keep-src-nosfv", "Check-CRC",       "Delete-sfv"};
    std::string elements;
    for (int i = 0; i < 6; ++i)
        elements += std::string("\t\t<") + names[i] + ">" + flags[i] + "</" + names[i] + ">\r\n";
    return SettingsFileText(elements + "\t\t<File-to-keep>" + fileToKeep + "</File-to-keep>\r\n");
}

// The same as the module writes it: UTF-8, values escaped.
std::string WrittenFile(const std::string& flags, const std::string& fileToKeep)
{
    std::string file = SettingsFile(flags, fileToKeep);
    const std::string old = "encoding=\"ISO-8859-1\"";
    return file.replace(file.find(old), old.size(), "encoding=\"UTF-8\"");
}

std::string Settings(const std::string& flags, const std::string& keys)
{
    const char* names[] = {"deleteTemp", "keepOverwritten", "deleteSrcDuring", "keepSrcNoSfv", "checkCrc", "deleteSfv"};
    std::string text;
    for (int i = 0; i < 6; ++i)
        text += std::string(names[i]) + "=" + flags[i] + " ";
    return text + "keep=" + keys;
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

    void Load(const std::string* settings)
    {
        ASSERT_TRUE(
            CopyFileA((BinaryDirectory() + "ravelpak_test.wcx64").c_str(), (dir_ / "ravelpak.wcx64").c_str(), FALSE));
        if (settings)
            WriteFileBytes(SettingsPath(), *settings);
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
        WaitUntil([&] { return Focus() != nullptr; });  // keys pressed before then would be lost
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
    HWND Focus()
    {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(threadId_, &info);
        return info.hwndFocus;
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

// On a first run the dialog shows the defaults that the engine runs with, nothing destructive
// among them. Cancel writes nothing, whatever was clicked and typed: the file that the first
// load created with the defaults stays, and a file deleted meanwhile stays away.
TEST_F(ConfigDialogTest, FirstRunShowsWhatTheEngineUsesAndCancelWritesNothing)
{
    const SettingsRecord defaults;
    EXPECT_EQ(defaults.deleteTemp + defaults.deleteSrcDuring + defaults.deleteSfv, 0) << kDefaultFlags;
    Load(nullptr);
    Open();
    EXPECT_EVENTUALLY_EQ(Boxes(), ShownBoxes(kDefaultFlags));
    EXPECT_EVENTUALLY_EQ(Rows(), Texts{kPlaceholder});
    EXPECT_EQ(EngineSettings(), Settings(kDefaultFlags, ""));
    const std::string created = ReadFileBytes(SettingsPath());
    EXPECT_EQ(created, WrittenFile(kDefaultFlags, ""));
    for (int id : kBoxes)
        ClickItem(id);
    AddRow("*.txt");
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.txt", kPlaceholder}));
    Close(IDCANCEL);
    EXPECT_EQ(ReadFileBytes(SettingsPath()), created);
    EXPECT_EQ(EngineSettings(), Settings(kDefaultFlags, ""));

    ASSERT_TRUE(DeleteFileA(SettingsPath().c_str()));
    Open();
    Close(IDCANCEL);
    EXPECT_FALSE(FileExists(SettingsPath()));
    EXPECT_EQ(EngineSettings(), Settings(kDefaultFlags, ""));
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
    // Replacing a file that is held open is refused as a sharing violation or as access denied.
    bool reasonShown = false;
    for (DWORD error : {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED}) {
        char reason[256] = "";
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, reason,
                       sizeof reason, nullptr);
        std::string reasonLine(reason);
        reasonLine.erase(reasonLine.find_last_not_of("\r\n ") + 1);
        reasonShown = reasonShown || text.find(reasonLine) != std::string::npos;
    }
    EXPECT_NE(text.find(SettingsPath()), std::string::npos) << text;
    EXPECT_TRUE(reasonShown) << text;
    EXPECT_FALSE(FileExists(SettingsPath() + ".new")) << "the new settings were left beside the file";
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitUntil([&] { return ThreadDialog(dialog_) == nullptr; }));
    EXPECT_TRUE(IsWindowVisible(dialog_));
    EXPECT_FALSE(finished_);
    EXPECT_EVENTUALLY_EQ(Boxes(), ShownBoxes("010110"));
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
    // Tab walks the controls until it reaches the rows; a key the window manager hands on late
    // is waited for rather than counted.
    for (int presses = 0; presses < 8 && Focus() != list_; ++presses) {
        const HWND before = Focus();
        PressKey(VK_TAB);
        WaitUntil([&] { return Focus() != before; });
    }
    ASSERT_EQ(Focus(), list_);
    PressKey(VK_DOWN);
    EXPECT_EVENTUALLY_EQ(SendMessageA(list_, LB_GETCURSEL, 0, 0), 1);
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
    const std::string escaped = "*.&lt;&amp;&gt;&quot;\xc3\xa9";
    EXPECT_EQ(ReadFileBytes(SettingsPath()), WrittenFile("010100", "*.nfo," + escaped));

    FreeLibrary(module_);
    module_ = LoadLibraryA((dir_ / "ravelpak.wcx64").c_str());
    ASSERT_NE(module_, nullptr);
    Open();
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", pattern, kPlaceholder}));
    Close(IDCANCEL);
}

}  // namespace
