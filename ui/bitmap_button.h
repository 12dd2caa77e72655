// A push button that shows an image of an image list by its state (normal, pressed, focused
// or hovered, disabled), with an optional thin 3D border, a flat mode that lights up under
// the mouse, and an optional repeating click while held down.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <optional>
#include <string>

#include "ui/window.h"

// Options of CFixedBitmapButton.
enum : DWORD {
    IBS_HOVER = 0x01,        // flat until the mouse is over it; clicks itself; ignores the space key
    IBS_BORDER1 = 0x02,      // single-line 3D border, images drawn 1 pixel in
    IBS_BORDER2 = 0x04,      // double-line 3D border, images drawn 2 pixels in
    IBS_AUTOSIZE = 0x08,     // the window takes the size of the image
    IBS_SHAREIMAGES = 0x10,  // the image list belongs to someone else
    IBS_AUTOREPEAT = 0x20,   // the click repeats while the button is held down
};

class CFixedBitmapButton : public WindowBase {
public:
    CFixedBitmapButton() = default;
    ~CFixedBitmapButton() override;

    // Creates the button as a child of `parent` with the command id `id`.
    HWND Create(HWND parent, const RECT& rect, UINT id,
                DWORD style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    // Takes over an existing button window.
    bool Subclass(HWND window);

    void SetOptions(DWORD options) { options_ = options; }
    // With IBS_AUTOSIZE, an existing window is sized to the image at once.
    void SetImageList(HIMAGELIST images);
    // An index of -1 gives the state no image of its own: the normal image stands in.
    void SetImages(int normal, int pushed = -1, int focusOrHover = -1, int disabled = -1);
    // Registered with the tooltip when the window is initialised.
    void SetToolTipText(const char* text);

    HWND ToolTip() const { return toolTip_; }

private:
    enum : unsigned { kMouseOver = 0x1, kFocus = 0x2, kPressed = 0x4 };
    enum : UINT_PTR { kFirstDelayTimer = 1000, kRepeatTimer = 1001 };

    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void Initialize();
    void SizeToImage();
    void Repaint();
    void SetState(unsigned bit, bool on);
    bool Has(unsigned bit) const { return (state_ & bit) != 0; }
    void SendClick();
    void Draw(HDC dc);

    LRESULT OnCreate(WPARAM wParam, LPARAM lParam);
    LRESULT OnDestroy(WPARAM wParam, LPARAM lParam);
    LRESULT OnEraseBackground(WPARAM wParam, LPARAM lParam);
    LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnPrintClient(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetFocus(WPARAM wParam, LPARAM lParam);
    LRESULT OnKillFocus(WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonDown(WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonDoubleClick(WPARAM wParam, LPARAM lParam);
    LRESULT OnLButtonUp(WPARAM wParam, LPARAM lParam);
    LRESULT OnCaptureChanged(WPARAM wParam, LPARAM lParam);
    LRESULT OnEnable(WPARAM wParam, LPARAM lParam);
    LRESULT OnMouseMove(WPARAM wParam, LPARAM lParam);
    LRESULT OnMouseLeave(WPARAM wParam, LPARAM lParam);
    LRESULT OnSpaceDown(WPARAM wParam, LPARAM lParam);
    LRESULT OnSpaceUp(WPARAM wParam, LPARAM lParam);
    LRESULT OnFirstDelayTimer(WPARAM wParam, LPARAM lParam);
    LRESULT OnRepeatTimer(WPARAM wParam, LPARAM lParam);
    LRESULT OnUpdateUiState(WPARAM wParam, LPARAM lParam);

    static const MessageEntry<CFixedBitmapButton> kMessageMap[];

    DWORD options_ = IBS_AUTOSIZE;
    HIMAGELIST images_ = nullptr;
    int normalImage_ = -1;
    int pushedImage_ = -1;
    int focusImage_ = -1;
    int disabledImage_ = -1;
    HWND toolTip_ = nullptr;
    std::optional<std::string> toolTipText_;
    unsigned state_ = 0;
};
