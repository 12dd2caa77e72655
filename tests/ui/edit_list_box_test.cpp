// The editable list box as a window of its own inside a test window, driven with real pointer
// and key input: the caption buttons, the rows, the in-place editor and the notifications.
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/ui/gui_driver.h"
#include "ui/edit_list_box.h"

namespace {

typedef std::vector<std::string> Texts;

const char kPlaceholder[] = "< Click here to add item >";
const UINT kFrameId = 700;

class EditListTest : public ::testing::Test {
protected:
    void Make(DWORD options, const Texts& rows = {})
    {
        ui_.Call([&] {
            box_.Create(ui_.host(), RECT{20, 20, 320, 220}, "Patterns", options, kFrameId);
            for (const std::string& row : rows)
                box_.InsertItem(-1, row.c_str());
        });
        ASSERT_NE(box_.hwnd(), nullptr);
        list_ = box_.ListWindow();
        editor_ = FindWindowExA(list_, nullptr, "Edit", nullptr);
        browse_ = FindWindowExA(box_.hwnd(), nullptr, "Button", "...");
        ui_.ClearEvents();
    }
    ~EditListTest() override
    {
        ui_.Call([&] { DestroyWindow(box_.hwnd()); });
    }

    Texts Rows() { return ListRows(list_); }
    int Selected() { return static_cast<int>(SendMessageA(list_, LB_GETCURSEL, 0, 0)); }
    HWND Button(UINT id) { return GetDlgItem(box_.hwnd(), id); }
    bool Enabled(UINT id) { return IsWindowEnabled(Button(id)) != FALSE; }
    Texts ButtonStates()
    {
        Texts states;
        for (UINT id : {kEditListNew, kEditListDelete, kEditListMoveUp, kEditListMoveDown})
            if (Button(id))
                states.push_back(std::to_string(id) + (Enabled(id) ? " on" : " off"));
        return states;
    }
    bool Editing() { return IsWindowVisible(editor_) != FALSE; }
    bool EditorHasFocus()
    {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(editor_, nullptr), &info);
        return info.hwndFocus == editor_;
    }
    void ClickButton(UINT id) { Click(Button(id), CenterOf(Button(id))); }
    void ClickRow(int row) { Click(list_, RowPoint(list_, row)); }
    void DoubleClickRow(int row) { DoubleClick(list_, RowPoint(list_, row)); }
    // The command that a caption button sends, bypassing whether the button is enabled.
    void Command(UINT id) { SendMessageA(box_.hwnd(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

    CEditListBox box_;
    UiThread ui_;
    HWND list_ = nullptr;
    HWND editor_ = nullptr;
    HWND browse_ = nullptr;
};

TEST_F(EditListTest, EmptyListShowsOnlyThePlaceholder)
{
    Make(0);
    EXPECT_EVENTUALLY_EQ(Rows(), Texts{kPlaceholder});
    EXPECT_EVENTUALLY_EQ(ButtonStates(), (Texts{"528 on", "529 off", "530 off", "531 off"}));
    // Selecting the placeholder changes nothing: there is no item to act on.
    ClickRow(0);
    EXPECT_EVENTUALLY_EQ(ButtonStates(), (Texts{"528 on", "529 off", "530 off", "531 off"}));
    ui_.Call([&] { SendMessageA(list_, LB_SETCURSEL, static_cast<WPARAM>(-1), 0); });
    ui_.Call([&] { EnableWindow(box_.hwnd(), FALSE); });
    EXPECT_FALSE(IsWindowEnabled(list_));
    EXPECT_EVENTUALLY_EQ(ButtonStates(), (Texts{"528 off", "529 off", "530 off", "531 off"}));
}

TEST_F(EditListTest, InsertAndDeleteNeverTouchThePlaceholder)
{
    Make(ELS_NOMOVE);
    struct Step {
        const char* what;
        int index;
        bool expected;
    } steps[] = {
        {"insert", 1, false},  {"insert", 0, true},  {"insert", -1, true},  {"insert", 1, true}, {"insert", 4, false},
        {"insert", -2, false}, {"delete", 3, false}, {"delete", -1, false}, {"delete", 1, true}, {"delete", 2, false},
    };
    int inserted = 0;
    for (const Step& step : steps) {
        bool result = false;
        const std::string text = "row" + std::to_string(inserted);
        ui_.Call([&] {
            result = std::string(step.what) == "insert" ? box_.InsertItem(step.index, text.c_str())
                                                        : box_.DeleteItem(step.index);
        });
        EXPECT_EQ(result, step.expected) << step.what << " " << step.index;
        if (result && std::string(step.what) == "insert")
            ++inserted;
    }
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"row0", "row1", kPlaceholder}));
    EXPECT_EQ(box_.ItemCount(), 2);
    // The first row inserted at index 0 became the selected one, and can be deleted.
    EXPECT_EQ(ButtonStates(), (Texts{"528 on", "529 on"}));
    EXPECT_EVENTUALLY_EQ(Selected(), 0);
}

TEST_F(EditListTest, CaptionBandHoldsTheButtonsFromTheRight)
{
    const int band = GetSystemMetrics(SM_CYCAPTION);
    for (DWORD options : {DWORD(0), DWORD(ELS_NOMOVE)}) {
        Make(options);
        RECT client;
        GetClientRect(box_.hwnd(), &client);
        const std::vector<UINT> ids = options ? std::vector<UINT>{528, 529} : std::vector<UINT>{528, 529, 530, 531};
        int right = client.right - 1 - 22 * static_cast<int>(ids.size());
        for (UINT id : ids) {
            RECT rect;
            GetWindowRect(Button(id), &rect);
            MapWindowPoints(nullptr, box_.hwnd(), reinterpret_cast<POINT*>(&rect), 2);
            EXPECT_EQ(rect.left, right) << id;
            EXPECT_EQ(rect.right - rect.left, 22) << id;
            EXPECT_EQ(rect.top, 1) << id;
            EXPECT_EQ(rect.bottom - rect.top, band - 2) << id;
            right += 22;
        }
        RECT listRect;
        GetWindowRect(list_, &listRect);
        MapWindowPoints(nullptr, box_.hwnd(), reinterpret_cast<POINT*>(&listRect), 2);
        EXPECT_EQ(listRect.top, band);
        EXPECT_EQ(listRect.right - listRect.left, client.right);
        // The inner list keeps a whole number of rows, so it may end a little above the bottom.
        EXPECT_LE(listRect.bottom, client.bottom);
        EXPECT_GT(listRect.bottom, client.bottom - SendMessageA(list_, LB_GETITEMHEIGHT, 0, 0));
        ui_.Call([&] { DestroyWindow(box_.hwnd()); });
    }
}

TEST_F(EditListTest, NewRowIsEditedAndCommittedWithEnter)
{
    Make(0, {"*.nfo"});
    ClickButton(kEditListNew);
    EXPECT_EVENTUALLY_EQ(Editing(), true);
    EXPECT_TRUE(EditorHasFocus());
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", "", kPlaceholder}));
    TypeText("*.txt");
    PressKey(VK_RETURN);
    EXPECT_EVENTUALLY_EQ(Editing(), false);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", "*.txt", kPlaceholder}));
    EXPECT_EVENTUALLY_EQ(Selected(), 1);
    EXPECT_EVENTUALLY_EQ(ui_.Events(), (Texts{"notify -1904 1", "notify -1906 1", "notify -1907 1", "notify -1902 1",
                                              "notify -1903 1"}));
    ui_.ClearEvents();
}

// An edit that ends with an empty row removes the row: Escape on a new row, Enter on a new
// row left empty, Enter on a row whose text was cleared.
TEST_F(EditListTest, RowsLeftEmptyArePurged)
{
    Make(ELS_NOMOVE, {"a", "b"});
    ClickButton(kEditListNew);
    TypeText("typed");
    PressKey(VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return Rows() == Texts{"a", "b", kPlaceholder}; })) << Rows().size();

    DoubleClickRow(2);
    EXPECT_EVENTUALLY_EQ(Editing(), true);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"a", "b", "", kPlaceholder}));
    PressKey(VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return Rows() == Texts{"a", "b", kPlaceholder}; }));

    DoubleClickRow(0);
    EXPECT_EVENTUALLY_EQ(WindowText(editor_), "a");
    PressKey(VK_BACK);
    PressKey(VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return Rows() == Texts{"b", kPlaceholder}; }));
}

// Escape keeps the row, Enter takes at most 260 characters; without the browse option no browse
// button shows.
TEST_F(EditListTest, EscapeKeepsTheRowAndEnterTakesTheText)
{
    Make(ELS_NOMOVE, {"*.nfo"});
    DoubleClickRow(0);
    EXPECT_FALSE(IsWindowVisible(browse_));
    TypeText("*.txt");
    PressKey(VK_ESCAPE);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"*.nfo", kPlaceholder}));
    DoubleClickRow(0);
    TypeText(std::string(270, 'p'));
    PressKey(VK_RETURN);
    EXPECT_TRUE(WaitUntil([&] { return !Editing(); }));
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{std::string(260, 'p'), kPlaceholder}));
}

TEST_F(EditListTest, MovesKeepTheSelectionOnTheMovedText)
{
    Make(0, {"a", "b", "c"});
    ClickRow(0);
    EXPECT_EVENTUALLY_EQ(ButtonStates(), (Texts{"528 on", "529 on", "530 off", "531 on"}));
    ClickButton(kEditListMoveDown);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"b", "a", "c", kPlaceholder}));
    EXPECT_EVENTUALLY_EQ(Selected(), 1);
    ClickButton(kEditListMoveDown);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"b", "c", "a", kPlaceholder}));
    EXPECT_EVENTUALLY_EQ(Selected(), 2);
    EXPECT_EVENTUALLY_EQ(ButtonStates(), (Texts{"528 on", "529 on", "530 on", "531 off"}));
    // The last item does not move down, past the placeholder.
    Command(kEditListMoveDown);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"b", "c", "a", kPlaceholder}));
    ClickButton(kEditListMoveUp);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"b", "a", "c", kPlaceholder}));
    EXPECT_EVENTUALLY_EQ(Selected(), 1);

    ClickRow(0);
    Command(kEditListMoveUp);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"b", "a", "c", kPlaceholder}));
    // The placeholder is never moved.
    ClickRow(3);
    Command(kEditListMoveUp);
    Command(kEditListMoveDown);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"b", "a", "c", kPlaceholder}));
    EXPECT_TRUE(ui_.Events().empty());
}

TEST_F(EditListTest, InsertDeleteAndF2Keys)
{
    Make(ELS_NOMOVE, {"a", "b"});
    ClickRow(0);
    PressKey(VK_DELETE);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"b", kPlaceholder}));
    EXPECT_EVENTUALLY_EQ(ui_.Events(), Texts{"notify -1905 0"});
    ui_.ClearEvents();

    ClickRow(1);
    PressKey(VK_DELETE);
    Command(kEditListDelete);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"b", kPlaceholder}));

    PressKey(VK_INSERT);
    EXPECT_EVENTUALLY_EQ(Editing(), true);
    TypeText("k");
    PressKey(VK_RETURN);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"b", "k", kPlaceholder}));

    ClickRow(0);
    PressKey(VK_F2);
    EXPECT_EVENTUALLY_EQ(Editing(), true);
    EXPECT_EVENTUALLY_EQ(WindowText(editor_), "b");
    PressKey(VK_ESCAPE);
}

TEST_F(EditListTest, WhileEditingNewDeleteAndMoveDoNothing)
{
    Make(0, {"a", "b"});
    DoubleClickRow(1);
    ASSERT_TRUE(Editing());
    ClickButton(kEditListDelete);
    ClickButton(kEditListNew);
    Command(kEditListMoveUp);
    EXPECT_EVENTUALLY_EQ(Editing(), true);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"a", "b", kPlaceholder}));
    PressKey(VK_RETURN);
}

// A non-zero answer to a notification vetoes what it announces.
TEST_F(EditListTest, ParentVetoes)
{
    Make(ELS_NOMOVE, {"a"});
    ui_.Answer(ELN_DELETING, 1);
    ClickRow(0);
    PressKey(VK_DELETE);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"a", kPlaceholder}));

    ui_.Answer(ELN_COMMITTING, 1);
    DoubleClickRow(0);
    TypeText("z");
    PressKey(VK_RETURN);
    EXPECT_EVENTUALLY_EQ(Rows(), (Texts{"a", kPlaceholder}));

    ui_.Answer(ELN_EDITSTARTING, 1);
    DoubleClickRow(0);
    EXPECT_EVENTUALLY_EQ(Editing(), false);

    ui_.Answer(ELN_INSERTING, 1);
    ClickButton(kEditListNew);
    EXPECT_EVENTUALLY_EQ(Editing(), false);
    EXPECT_TRUE(WaitUntil([&] { return Rows() == Texts{"a", kPlaceholder}; }));
}

TEST_F(EditListTest, BrowseButtonStandsBesideTheEditor)
{
    Make(ELS_NOMOVE | ELS_BROWSE, {"a"});
    ASSERT_NE(browse_, nullptr);
    EXPECT_FALSE(IsWindowVisible(browse_));
    DoubleClickRow(0);
    ASSERT_TRUE(IsWindowVisible(browse_));
    RECT row;
    SendMessageA(list_, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
    RECT browse, editor;
    GetWindowRect(browse_, &browse);
    GetWindowRect(editor_, &editor);
    MapWindowPoints(list_, nullptr, reinterpret_cast<POINT*>(&row), 2);
    EXPECT_EQ(browse.right, row.right);
    EXPECT_EQ(browse.right - browse.left, row.bottom - row.top);
    EXPECT_EQ(browse.bottom - browse.top, row.bottom - row.top);
    EXPECT_EQ(editor.right, browse.left);
    ui_.ClearEvents();

    Click(browse_, CenterOf(browse_));
    EXPECT_EVENTUALLY_EQ(ui_.Events(), Texts{"notify -1901 0"});
    ui_.ClearEvents();
    EXPECT_EVENTUALLY_EQ(Editing(), true);
    EXPECT_TRUE(WaitUntil([&] { return EditorHasFocus(); }));
    PressKey(VK_RETURN);
    EXPECT_FALSE(IsWindowVisible(browse_));
}

}  // namespace
