// The image button inside a window of a UI thread, driven with real pointer and key input.
// Its look is read by printing it into a bitmap: the corner pixel tells the border (none,
// raised, sunken), and the first image pixel on the diagonal tells which image is drawn where.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "tests/ui/gui_driver.h"
#include "ui/bitmap_button.h"

namespace {

const COLORREF kBackground = RGB(1, 2, 3);
const COLORREF kImageColors[] = {RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 0, 200), RGB(200, 200, 0)};
const UINT kButtonId = 600;
const int kSide = 24;

enum class Border { None, Raised, Sunken };

struct Look {
    Border border;
    int image;   // index into kImageColors, -1 when none of them is drawn
    int offset;  // where the image starts, the same for x and y
};

bool operator==(const Look& a, const Look& b)
{
    return a.border == b.border && a.image == b.image && a.offset == b.offset;
}
std::ostream& operator<<(std::ostream& out, const Look& look)
{
    return out << "{border " << static_cast<int>(look.border) << ", image " << look.image << " at " << look.offset
               << "}";
}

// Four 16x16 images of one colour each.
HIMAGELIST ColourImages()
{
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR24, 4, 0);
    HDC screen = GetDC(nullptr);
    for (COLORREF colour : kImageColors) {
        HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 16);
        HDC dc = CreateCompatibleDC(screen);
        HGDIOBJ previous = SelectObject(dc, bitmap);
        RECT all = {0, 0, 16, 16};
        HBRUSH brush = CreateSolidBrush(colour);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        SelectObject(dc, previous);
        DeleteDC(dc);
        ImageList_Add(images, bitmap, nullptr);
        DeleteObject(bitmap);
    }
    ReleaseDC(nullptr, screen);
    return images;
}

Look LookOf(HWND button)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kSide, kSide);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    RECT all = {0, 0, kSide, kSide};
    HBRUSH brush = CreateSolidBrush(kBackground);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    SendMessageA(button, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);

    Look look = {Border::None, -1, -1};
    const COLORREF corner = GetPixel(dc, 0, 0);
    // The single border's raised corner is the highlight colour, the double one's the light.
    if (corner == GetSysColor(COLOR_BTNHIGHLIGHT) || corner == GetSysColor(COLOR_3DLIGHT))
        look.border = Border::Raised;
    else if (corner == GetSysColor(COLOR_BTNSHADOW))
        look.border = Border::Sunken;
    for (int d = 0; d < 6 && look.image < 0; ++d) {
        const COLORREF pixel = GetPixel(dc, d, d);
        for (int i = 0; i < 4; ++i)
            if (pixel == kImageColors[i]) {
                look.image = i;
                look.offset = d;
            }
    }
    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return look;
}

// A button in a test window; the button object outlives the UI thread's windows.
class ButtonTest : public ::testing::Test {
protected:
    void Make(DWORD options, int normal, int pushed = -1, int focus = -1, int disabled = -1)
    {
        ui_.Call([&] {
            button_.SetOptions(options | IBS_SHAREIMAGES);
            button_.SetImageList(images_);
            button_.SetImages(normal, pushed, focus, disabled);
            button_.Create(ui_.host(), RECT{40, 40, 40 + kSide, 40 + kSide}, kButtonId);
        });
        ASSERT_NE(button_.hwnd(), nullptr);
    }
    Look Current() { return LookOf(button_.hwnd()); }
    bool Becomes(const Look& look)
    {
        return WaitUntil([&] { return Current() == look; });
    }
    void PointerOff() { MovePointer(ui_.host(), POINT{300, 250}); }

    HIMAGELIST images_ = ColourImages();
    CFixedBitmapButton button_;
    UiThread ui_;
    ~ButtonTest() override
    {
        ui_.Call([&] { DestroyWindow(button_.hwnd()); });
        ImageList_Destroy(images_);
    }
};

TEST_F(ButtonTest, HoverButtonFollowsThePointer)
{
    PointerOff();
    Make(IBS_HOVER | IBS_BORDER1, 0, -1, 1);
    EXPECT_EQ(Current(), (Look{Border::None, 0, 1}));

    MovePointer(button_.hwnd(), CenterOf(button_.hwnd()));
    EXPECT_TRUE(Becomes(Look{Border::Raised, 1, 1})) << Current();

    PressLeft();
    EXPECT_TRUE(Becomes(Look{Border::Sunken, 0, 2})) << Current();
    ReleaseLeft();
    EXPECT_TRUE(Becomes(Look{Border::Raised, 1, 1})) << Current();
    EXPECT_EVENTUALLY_EQ(ui_.Events(), std::vector<std::string>{"command 600 0"});
    ui_.ClearEvents();

    PointerOff();
    EXPECT_TRUE(Becomes(Look{Border::None, 0, 1})) << Current();
    // The space key does nothing to a hover button.
    ui_.Call([&] { SetFocus(button_.hwnd()); });
    PressKey(VK_SPACE);
    EXPECT_EQ(Current(), (Look{Border::None, 0, 1}));
    EXPECT_TRUE(ui_.Events().empty());
}

TEST_F(ButtonTest, ReleasingOffTheButtonSendsNoClick)
{
    PointerOff();
    Make(IBS_HOVER | IBS_BORDER1, 0);
    MovePointer(button_.hwnd(), CenterOf(button_.hwnd()));
    PressLeft();
    EXPECT_TRUE(Becomes(Look{Border::Sunken, 0, 2})) << Current();
    PointerOff();
    EXPECT_TRUE(Becomes(Look{Border::Raised, 0, 1})) << Current();
    ReleaseLeft();
    EXPECT_TRUE(Becomes(Look{Border::None, 0, 1})) << Current();
    EXPECT_TRUE(ui_.Events().empty());

    // Dragged back in before the release, the button is pressed again and clicks.
    MovePointer(button_.hwnd(), CenterOf(button_.hwnd()));
    PressLeft();
    PointerOff();
    MovePointer(button_.hwnd(), CenterOf(button_.hwnd()));
    EXPECT_TRUE(Becomes(Look{Border::Sunken, 0, 2})) << Current();
    ReleaseLeft();
    EXPECT_EVENTUALLY_EQ(ui_.Events(), std::vector<std::string>{"command 600 0"});
    ui_.ClearEvents();
}

// Without hover mode the border is always drawn, the focus picks the focus image, and the
// space key presses and releases the button like the standard one.
TEST_F(ButtonTest, PlainButtonShowsFocusAndTakesTheSpaceKey)
{
    PointerOff();
    Make(IBS_BORDER1, 0, 3, 1);
    EXPECT_EQ(Current(), (Look{Border::Raised, 0, 1}));
    // A click focuses the standard button; the pushed image has its own look, not shifted.
    Click(button_.hwnd(), CenterOf(button_.hwnd()));
    EXPECT_EVENTUALLY_EQ(ui_.Events(), std::vector<std::string>{"command 600 0"});
    ui_.ClearEvents();
    EXPECT_TRUE(Becomes(Look{Border::Raised, 1, 1})) << Current();

    KeyDown(VK_SPACE);
    EXPECT_TRUE(Becomes(Look{Border::Sunken, 3, 1})) << Current();
    KeyUp(VK_SPACE);
    EXPECT_TRUE(Becomes(Look{Border::Raised, 1, 1})) << Current();
    EXPECT_EVENTUALLY_EQ(ui_.Events(), std::vector<std::string>{"command 600 0"});
    ui_.ClearEvents();
}

TEST_F(ButtonTest, DisabledButtonShowsItsDisabledImageOrTheNormalOneGreyed)
{
    Make(IBS_BORDER2, 0, -1, -1, 2);
    ui_.Call([&] { EnableWindow(button_.hwnd(), FALSE); });
    EXPECT_EQ(Current(), (Look{Border::Raised, 2, 2}));
    ui_.Call([&] { button_.SetImages(0); });
    // Greyed: none of the image colours is drawn.
    EXPECT_EQ(Current(), (Look{Border::Raised, -1, -1}));
}

TEST_F(ButtonTest, HeldButtonRepeatsItsClick)
{
    PointerOff();
    Make(IBS_HOVER | IBS_AUTOREPEAT, 0);
    MovePointer(button_.hwnd(), CenterOf(button_.hwnd()));
    PressLeft();
    // The first click comes after the keyboard delay, the next ones at the repeat rate.
    EXPECT_TRUE(WaitUntil([&] { return ui_.Events().size() >= 3; }, 5000));
    ReleaseLeft();
    EXPECT_TRUE(WaitUntil([&] {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(button_.hwnd(), nullptr), &info);
        return info.hwndCapture == nullptr;
    }));
    ui_.ClearEvents();
    Sleep(300);
    EXPECT_TRUE(ui_.Events().empty());
}

// Auto-size takes the image size. The tooltip exists either way; the button is registered as
// its tool only with a text.
TEST_F(ButtonTest, AutoSizeAndTooltip)
{
    Make(IBS_AUTOSIZE, 0);
    RECT rect;
    GetWindowRect(button_.hwnd(), &rect);
    EXPECT_EQ(rect.right - rect.left, 16);
    EXPECT_EQ(rect.bottom - rect.top, 16);
    ASSERT_NE(button_.ToolTip(), nullptr);
    EXPECT_EQ(SendMessageA(button_.ToolTip(), TTM_GETTOOLCOUNT, 0, 0), 0);

    CFixedBitmapButton labelled;
    ui_.Call([&] {
        labelled.SetToolTipText("New pattern");
        labelled.Create(ui_.host(), RECT{80, 40, 100, 60}, 601);
    });
    EXPECT_EQ(SendMessageA(labelled.ToolTip(), TTM_GETTOOLCOUNT, 0, 0), 1);
    ui_.Call([&] { DestroyWindow(labelled.hwnd()); });
}

// Taking over an existing push button makes it owner-drawn and gives it the image.
TEST_F(ButtonTest, TakesOverAnExistingButton)
{
    HWND plain = nullptr;
    ui_.Call([&] {
        plain = CreateWindowExA(0, "BUTTON", "text", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 40, 40, kSide, kSide,
                                ui_.host(), reinterpret_cast<HMENU>(kButtonId), nullptr, nullptr);
        button_.SetOptions(IBS_BORDER1 | IBS_SHAREIMAGES);
        button_.SetImageList(images_);
        button_.SetImages(2);
        button_.Subclass(plain);
    });
    EXPECT_EQ(GetWindowLongPtrA(plain, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_EQ(Current(), (Look{Border::Raised, 2, 1}));
}

}  // namespace
