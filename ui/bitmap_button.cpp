#include "ui/bitmap_button.h"

#include <windowsx.h>

#include "ui/resource_module.h"

const MessageEntry<CFixedBitmapButton> CFixedBitmapButton::kMessageMap[] = {
    {WM_ERASEBKGND, nullptr, &CFixedBitmapButton::OnEraseBackground},
    {WM_CREATE, nullptr, &CFixedBitmapButton::OnCreate},
    {WM_DESTROY, nullptr, &CFixedBitmapButton::OnDestroy},
    {WM_PAINT, nullptr, &CFixedBitmapButton::OnPaint},
    {WM_PRINTCLIENT, nullptr, &CFixedBitmapButton::OnPrintClient},
    {WM_SETFOCUS, nullptr, &CFixedBitmapButton::OnSetFocus},
    {WM_KILLFOCUS, nullptr, &CFixedBitmapButton::OnKillFocus},
    {WM_LBUTTONDOWN, nullptr, &CFixedBitmapButton::OnLButtonDown},
    {WM_LBUTTONDBLCLK, nullptr, &CFixedBitmapButton::OnLButtonDoubleClick},
    {WM_LBUTTONUP, nullptr, &CFixedBitmapButton::OnLButtonUp},
    {WM_CAPTURECHANGED, nullptr, &CFixedBitmapButton::OnCaptureChanged},
    {WM_ENABLE, nullptr, &CFixedBitmapButton::OnEnable},
    {WM_MOUSEMOVE, nullptr, &CFixedBitmapButton::OnMouseMove},
    {WM_MOUSELEAVE, nullptr, &CFixedBitmapButton::OnMouseLeave},
    {WM_KEYDOWN, WParamIs<VK_SPACE>, &CFixedBitmapButton::OnSpaceDown},
    {WM_KEYUP, WParamIs<VK_SPACE>, &CFixedBitmapButton::OnSpaceUp},
    {WM_TIMER, WParamIs<kFirstDelayTimer>, &CFixedBitmapButton::OnFirstDelayTimer},
    {WM_TIMER, WParamIs<kRepeatTimer>, &CFixedBitmapButton::OnRepeatTimer},
    {WM_UPDATEUISTATE, nullptr, &CFixedBitmapButton::OnUpdateUiState},
};

CFixedBitmapButton::~CFixedBitmapButton()
{
    if (images_ && !(options_ & IBS_SHAREIMAGES))
        ImageList_Destroy(images_);
}

HWND CFixedBitmapButton::Create(HWND parent, const RECT& rect, UINT id, DWORD style)
{
    return CreateWindowOfClass("WTL_FixedBitmapButton", "BUTTON", parent, rect, "", style, 0, id);
}

bool CFixedBitmapButton::Subclass(HWND window)
{
    if (!WindowBase::Subclass(window))
        return false;
    Initialize();
    return true;
}

void CFixedBitmapButton::SetImageList(HIMAGELIST images)
{
    images_ = images;
    if (hwnd() && (options_ & IBS_AUTOSIZE))
        SizeToImage();
}

void CFixedBitmapButton::SetImages(int normal, int pushed, int focusOrHover, int disabled)
{
    normalImage_ = normal;
    pushedImage_ = pushed;
    focusImage_ = focusOrHover;
    disabledImage_ = disabled;
}

void CFixedBitmapButton::SetToolTipText(const char* text)
{
    if (text)
        toolTipText_ = text;
    else
        toolTipText_.reset();
}

bool CFixedBitmapButton::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    // The tooltip sees every mouse message first, so that it can show and hide itself.
    if (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST && toolTip_) {
        MSG relayed = {hwnd(), message, wParam, lParam, 0, {0, 0}};
        SendMessageA(toolTip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relayed));
    }
    return DispatchMessageMap(this, kMessageMap, message, wParam, lParam, result);
}

void CFixedBitmapButton::Initialize()
{
    // Owner-drawn, so that the standard button procedure never paints over the image.
    LONG_PTR style = GetWindowLongPtrA(hwnd(), GWL_STYLE);
    if ((style & BS_OWNERDRAW) != BS_OWNERDRAW)
        SetWindowLongPtrA(hwnd(), GWL_STYLE, style | BS_OWNERDRAW);

    toolTip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr,
                               reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hwnd(), GWLP_HINSTANCE)), nullptr);
    if (toolTip_ && toolTipText_) {
        SendMessageA(toolTip_, TTM_ACTIVATE, TRUE, 0);
        TTTOOLINFOA tool = {};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        tool.uFlags = TTF_IDISHWND;
        tool.hwnd = GetParent(hwnd());
        tool.uId = reinterpret_cast<UINT_PTR>(hwnd());
        tool.hinst = ResourceModule();
        tool.lpszText = &(*toolTipText_)[0];
        SendMessageA(toolTip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
    if (images_ && (options_ & IBS_AUTOSIZE))
        SizeToImage();
}

void CFixedBitmapButton::SizeToImage()
{
    int width = 0;
    int height = 0;
    ImageList_GetIconSize(images_, &width, &height);
    RECT rect = {0, 0, width, height};
    AdjustWindowRectEx(&rect, static_cast<DWORD>(GetWindowLongPtrA(hwnd(), GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(hwnd(), GWL_EXSTYLE)));
    SetWindowPos(hwnd(), nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CFixedBitmapButton::Repaint()
{
    InvalidateRect(hwnd(), nullptr, TRUE);
    UpdateWindow(hwnd());
}

void CFixedBitmapButton::SetState(unsigned bit, bool on)
{
    if (on)
        state_ |= bit;
    else
        state_ &= ~bit;
}

void CFixedBitmapButton::SendClick()
{
    SendMessageA(GetParent(hwnd()), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd()), BN_CLICKED),
                 reinterpret_cast<LPARAM>(hwnd()));
}

void CFixedBitmapButton::Draw(HDC dc)
{
    const bool hover = (options_ & IBS_HOVER) != 0;
    const bool pressed = Has(kPressed);
    const bool active = hover ? Has(kMouseOver) : Has(kFocus);
    const bool enabled = IsWindowEnabled(hwnd()) != FALSE;
    const DWORD border = options_ & (IBS_BORDER1 | IBS_BORDER2);

    int image = pressed ? pushedImage_ : active ? focusImage_ : enabled ? normalImage_ : disabledImage_;
    if (image == -1)
        image = normalImage_;

    int offset = pressed && border && pushedImage_ == -1 ? 1 : 0;
    if (options_ & IBS_BORDER1)
        offset += 1;
    if (options_ & IBS_BORDER2)
        offset += 2;

    if (enabled || image != normalImage_) {
        ImageList_Draw(images_, image, dc, offset, offset, ILD_NORMAL);
    } else if (HICON icon = ImageList_GetIcon(images_, normalImage_, ILD_NORMAL)) {
        DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, offset, offset, 0, 0,
                   DST_ICON | DSS_DISABLED);
        DestroyIcon(icon);
    }

    if (!border)
        return;
    RECT rect;
    GetClientRect(hwnd(), &rect);
    const bool single = (options_ & IBS_BORDER1) != 0;
    if (pressed)
        DrawEdge(dc, &rect, single ? BDR_SUNKENOUTER : EDGE_SUNKEN, BF_RECT);
    else if (!hover || Has(kMouseOver))
        DrawEdge(dc, &rect, single ? BDR_RAISEDINNER : EDGE_RAISED, BF_RECT);
    if (!hover && Has(kFocus)) {
        InflateRect(&rect, -2 * GetSystemMetrics(SM_CXEDGE), -2 * GetSystemMetrics(SM_CYEDGE));
        DrawFocusRect(dc, &rect);
    }
}

LRESULT CFixedBitmapButton::OnCreate(WPARAM wParam, LPARAM lParam)
{
    Initialize();
    return DefaultProc(WM_CREATE, wParam, lParam);
}

LRESULT CFixedBitmapButton::OnDestroy(WPARAM wParam, LPARAM lParam)
{
    if (toolTip_) {
        DestroyWindow(toolTip_);
        toolTip_ = nullptr;
    }
    return DefaultProc(WM_DESTROY, wParam, lParam);
}

LRESULT CFixedBitmapButton::OnEraseBackground(WPARAM wParam, LPARAM lParam)
{
    // A flat button shows its background wherever the image does not cover it; a bordered one
    // is painted whole by Draw.
    if (!(options_ & IBS_HOVER))
        return 1;
    DefaultProc(WM_ERASEBKGND, wParam, lParam);
    return 0;
}

LRESULT CFixedBitmapButton::OnPaint(WPARAM, LPARAM)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd(), &paint);
    Draw(dc);
    EndPaint(hwnd(), &paint);
    return 0;
}

LRESULT CFixedBitmapButton::OnPrintClient(WPARAM wParam, LPARAM)
{
    Draw(reinterpret_cast<HDC>(wParam));
    return 0;
}

LRESULT CFixedBitmapButton::OnSetFocus(WPARAM wParam, LPARAM lParam)
{
    SetState(kFocus, true);
    Repaint();
    return DefaultProc(WM_SETFOCUS, wParam, lParam);
}

LRESULT CFixedBitmapButton::OnKillFocus(WPARAM wParam, LPARAM lParam)
{
    SetState(kFocus, false);
    Repaint();
    return DefaultProc(WM_KILLFOCUS, wParam, lParam);
}

LRESULT CFixedBitmapButton::OnLButtonDown(WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (options_ & IBS_HOVER)
        SetCapture(hwnd());
    else
        result = DefaultProc(WM_LBUTTONDOWN, wParam, lParam);
    if (GetCapture() == hwnd()) {
        SetState(kPressed, true);
        Repaint();
    }
    if ((options_ & IBS_AUTOREPEAT) && Has(kPressed)) {
        int delay = 0;
        const UINT elapse = SystemParametersInfoA(SPI_GETKEYBOARDDELAY, 0, &delay, 0) ? (delay + 1) * 250 : 250;
        SetTimer(hwnd(), kFirstDelayTimer, elapse, nullptr);
    }
    return result;
}

LRESULT CFixedBitmapButton::OnLButtonDoubleClick(WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!(options_ & IBS_HOVER))
        result = DefaultProc(WM_LBUTTONDBLCLK, wParam, lParam);
    if (GetCapture() != hwnd())
        SetCapture(hwnd());
    if (!Has(kPressed)) {
        SetState(kPressed, true);
        Repaint();
    }
    return result;
}

LRESULT CFixedBitmapButton::OnLButtonUp(WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (!(options_ & IBS_HOVER))
        result = DefaultProc(WM_LBUTTONUP, wParam, lParam);
    if (GetCapture() == hwnd()) {
        if ((options_ & IBS_HOVER) && Has(kPressed))
            SendClick();
        ReleaseCapture();
    }
    return result;
}

LRESULT CFixedBitmapButton::OnCaptureChanged(WPARAM, LPARAM)
{
    if (Has(kPressed)) {
        SetState(kPressed, false);
        Repaint();
    }
    return 0;
}

LRESULT CFixedBitmapButton::OnEnable(WPARAM wParam, LPARAM lParam)
{
    Repaint();
    return DefaultProc(WM_ENABLE, wParam, lParam);
}

LRESULT CFixedBitmapButton::OnMouseMove(WPARAM, LPARAM lParam)
{
    if (GetCapture() == hwnd()) {
        // While captured, the button looks pressed exactly while the cursor is over it.
        POINT cursor = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        ClientToScreen(hwnd(), &cursor);
        RECT rect;
        GetWindowRect(hwnd(), &rect);
        const bool inside = PtInRect(&rect, cursor) != FALSE;
        if (inside != Has(kPressed)) {
            SetState(kPressed, inside);
            Repaint();
        }
    } else if ((options_ & IBS_HOVER) && !Has(kMouseOver)) {
        SetState(kMouseOver, true);
        Repaint();
        TRACKMOUSEEVENT track = {};
        track.cbSize = sizeof track;
        track.dwFlags = TME_LEAVE;
        track.hwndTrack = hwnd();
        _TrackMouseEvent(&track);
    }
    return 0;
}

LRESULT CFixedBitmapButton::OnMouseLeave(WPARAM, LPARAM)
{
    if (Has(kMouseOver)) {
        SetState(kMouseOver, false);
        Repaint();
    }
    return 0;
}

LRESULT CFixedBitmapButton::OnSpaceDown(WPARAM wParam, LPARAM lParam)
{
    if (options_ & IBS_HOVER)
        return 0;
    if (!Has(kPressed)) {
        SetState(kPressed, true);
        Repaint();
    }
    return DefaultProc(WM_KEYDOWN, wParam, lParam);
}

LRESULT CFixedBitmapButton::OnSpaceUp(WPARAM wParam, LPARAM lParam)
{
    if (options_ & IBS_HOVER)
        return 0;
    if (Has(kPressed)) {
        SetState(kPressed, false);
        Repaint();
    }
    return DefaultProc(WM_KEYUP, wParam, lParam);
}

LRESULT CFixedBitmapButton::OnFirstDelayTimer(WPARAM, LPARAM)
{
    KillTimer(hwnd(), kFirstDelayTimer);
    if (Has(kPressed)) {
        SendClick();
        int speed = 0;
        const UINT period = SystemParametersInfoA(SPI_GETKEYBOARDSPEED, 0, &speed, 0) ? 10000 / (speed * 10 + 25) : 250;
        SetTimer(hwnd(), kRepeatTimer, period, nullptr);
    }
    return 0;
}

LRESULT CFixedBitmapButton::OnRepeatTimer(WPARAM, LPARAM)
{
    if (Has(kPressed))
        SendClick();
    else if (GetCapture() != hwnd())
        KillTimer(hwnd(), kRepeatTimer);
    return 0;
}

// The standard button would repaint itself for keyboard cues; this one draws no cues.
LRESULT CFixedBitmapButton::OnUpdateUiState(WPARAM, LPARAM)
{
    return 0;
}
