#include "ui/edit_list_box.h"

#include <algorithm>
#include <vector>

#include "resources/resource.h"
#include "ui/resource_module.h"

namespace {

const int kButtonWidth = 22;
const int kImageWidth = 20;
const int kEditorLimit = 260;

bool NotMinimized(WPARAM wParam, LPARAM)
{
    return wParam != SIZE_MINIMIZED;
}

HFONT GuiFont()
{
    return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

int CaptionHeight()
{
    return GetSystemMetrics(SM_CYCAPTION);
}

}  // namespace

const MessageEntry<CEditListBox> CEditListBox::kFrameMap[] = {
    {WM_PAINT, nullptr, &CEditListBox::OnPaint},
    {WM_PRINTCLIENT, nullptr, &CEditListBox::OnPrintClient},
    {WM_SIZE, NotMinimized, &CEditListBox::OnSize},
    {WM_ENABLE, nullptr, &CEditListBox::OnEnable},
    {WM_ERASEBKGND, nullptr, &CEditListBox::OnEraseBackground},
    {WM_SETFOCUS, nullptr, &CEditListBox::OnSetFocus},
    {WM_VKEYTOITEM, nullptr, &CEditListBox::OnVKeyToItem},
    {WM_COMMAND, Notification<LBN_SELCHANGE>, &CEditListBox::OnSelectionChange},
    {WM_COMMAND, Notification<LBN_DBLCLK>, &CEditListBox::OnDoubleClick},
    {WM_COMMAND, FromControl<kEditListNew>, &CEditListBox::OnNew},
    {WM_COMMAND, FromControl<kEditListDelete>, &CEditListBox::OnDelete},
    {WM_COMMAND, FromControl<kEditListMoveUp>, &CEditListBox::OnMoveUp},
    {WM_COMMAND, FromControl<kEditListMoveDown>, &CEditListBox::OnMoveDown},
    {WM_COMMAND, Notification<BN_CLICKED>, &CEditListBox::OnBrowse},
    {ELM_PURGEEMPTY, nullptr, &CEditListBox::OnPurgeEmpty},
};

const MessageEntry<CEditListBox> CEditListBox::kEditorMap[] = {
    {WM_GETDLGCODE, nullptr, &CEditListBox::OnEditorGetDlgCode},
    {WM_CHAR, WParamIs<VK_RETURN>, &CEditListBox::OnEditorEnter},
    {WM_CHAR, WParamIs<VK_ESCAPE>, &CEditListBox::OnEditorEscape},
    {WM_KILLFOCUS, nullptr, &CEditListBox::OnEditorKillFocus},
};

CEditListBox::CEditListBox() : editor_(this, kEditorMap) {}

CEditListBox::~CEditListBox()
{
    if (images_)
        ImageList_Destroy(images_);
}

bool CEditListBox::Subclass(HWND frame)
{
    if (!WindowBase::Subclass(frame))
        return false;
    Initialize();
    return true;
}

int CEditListBox::ItemCount() const
{
    const LRESULT rows = list_ ? SendMessageA(list_, LB_GETCOUNT, 0, 0) : 0;
    return rows > 0 ? static_cast<int>(rows) - 1 : 0;
}

bool CEditListBox::InsertItem(int index, const char* text)
{
    const int items = ItemCount();
    if (!list_ || index < -1 || index > items)
        return false;
    if (index == -1)
        index = items;
    const LRESULT row = SendMessageA(list_, LB_INSERTSTRING, index, reinterpret_cast<LPARAM>(text));
    if (row < 0)
        return false;
    if (row == 0) {
        SendMessageA(list_, LB_SETCURSEL, 0, 0);
        UpdateButtons();
    }
    return true;
}

bool CEditListBox::DeleteItem(int index)
{
    if (index < 0 || index >= ItemCount())
        return false;
    return SendMessageA(list_, LB_DELETESTRING, index, 0) != LB_ERR;
}

bool CEditListBox::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    return DispatchMessageMap(this, kFrameMap, message, wParam, lParam, result);
}

void CEditListBox::Initialize()
{
    const LONG_PTR frameStyle = GetWindowLongPtrA(hwnd(), GWL_STYLE);
    options_ = static_cast<DWORD>(frameStyle) & (ELS_NOMOVE | ELS_BROWSE);
    // The keyboard belongs to the rows: the frame hands its tab stop to the inner list, and
    // dialog navigation steps into the frame to find it.
    SetWindowLongPtrA(hwnd(), GWL_STYLE, frameStyle & ~static_cast<LONG_PTR>(WS_TABSTOP));
    SetWindowLongPtrA(hwnd(), GWL_EXSTYLE, GetWindowLongPtrA(hwnd(), GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
    images_ = ImageList_LoadImageA(ResourceModule(), MAKEINTRESOURCEA(IDB_LIST_BUTTONS), kImageWidth, 4,
                                   RGB(255, 0, 255), IMAGE_BITMAP, LR_CREATEDIBSECTION);
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(hwnd(), GWLP_HINSTANCE));
    const WPARAM font = reinterpret_cast<WPARAM>(GuiFont());

    list_ = CreateWindowExA(WS_EX_CLIENTEDGE, "LISTBOX", nullptr,
                            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_VSCROLL | WS_TABSTOP |
                                LBS_WANTKEYBOARDINPUT | LBS_HASSTRINGS | LBS_NOTIFY,
                            0, 0, 0, 0, hwnd(), nullptr, instance, nullptr);
    SendMessageA(list_, WM_SETFONT, font, FALSE);

    HWND editor = CreateWindowExA(0, "EDIT", nullptr, WS_CHILD | WS_BORDER | ES_AUTOHSCROLL, 0, 0, 0, 0, list_, nullptr,
                                  instance, nullptr);
    editor_.Subclass(editor);
    SendMessageA(editor, WM_SETFONT, font, FALSE);
    SendMessageA(editor, EM_LIMITTEXT, kEditorLimit, 0);

    browse_ = CreateWindowExA(0, "BUTTON", "...", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | BS_PUSHBUTTON, 0, 0, 0,
                              0, hwnd(), nullptr, instance, nullptr);
    SendMessageA(browse_, WM_SETFONT, font, FALSE);

    RECT editorRect;
    GetWindowRect(editor, &editorRect);
    const int rowHeight = std::max(static_cast<int>(editorRect.bottom - editorRect.top),
                                   static_cast<int>(SendMessageA(list_, LB_GETITEMHEIGHT, 0, 0))) +
                          4;
    SendMessageA(list_, LB_SETITEMHEIGHT, 0, rowHeight);

    const UINT ids[] = {kEditListNew, kEditListDelete, kEditListMoveUp, kEditListMoveDown};
    buttonCount_ = (options_ & ELS_NOMOVE) ? 2 : 4;
    for (int i = 0; i < buttonCount_; ++i) {
        CFixedBitmapButton& button = buttons_[i];
        button.SetOptions(IBS_HOVER | IBS_BORDER1 | IBS_AUTOSIZE | IBS_SHAREIMAGES);
        button.SetImageList(images_);
        button.SetImages(i);
        button.Create(hwnd(), RECT{0, 0, kButtonWidth, CaptionHeight()}, ids[i]);
    }

    const std::string placeholder = ResourceString(IDS_NEW_ROW);
    SendMessageA(list_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(placeholder.c_str()));
    Layout();
    UpdateButtons();
}

void CEditListBox::Layout()
{
    RECT client;
    GetClientRect(hwnd(), &client);
    const int band = CaptionHeight();
    const UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    // Right to left from the last button, so that they read new, delete, up, down.
    int right = client.right - 1;
    for (int i = buttonCount_ - 1; i >= 0; --i) {
        SetWindowPos(buttons_[i].hwnd(), nullptr, right - kButtonWidth, client.top + 1, kButtonWidth, band - 2, flags);
        right -= kButtonWidth;
    }
    SetWindowPos(list_, nullptr, client.left, client.top + band, client.right - client.left,
                 client.bottom - client.top - band, flags);
}

void CEditListBox::PaintCaption(HDC dc)
{
    RECT band;
    GetClientRect(hwnd(), &band);
    band.bottom = band.top + CaptionHeight();
    FillRect(dc, &band, GetSysColorBrush(COLOR_BTNFACE));
    DrawEdge(dc, &band, BDR_SUNKENOUTER, BF_RECT);

    std::vector<char> text(GetWindowTextLengthA(hwnd()) + 1);
    GetWindowTextA(hwnd(), text.data(), static_cast<int>(text.size()));
    InflateRect(&band, -2, 0);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    HGDIOBJ previousFont = SelectObject(dc, GuiFont());
    DrawTextA(dc, text.data(), -1, &band, DT_SINGLELINE | DT_VCENTER);
    SelectObject(dc, previousFont);
}

void CEditListBox::UpdateButtons()
{
    const int items = ItemCount();
    const int selected = items > 0 ? SelectedRow() : -1;
    const bool some = selected >= 0;
    EnableWindow(buttons_[0].hwnd(), some || IsWindowEnabled(hwnd()));
    EnableWindow(buttons_[1].hwnd(), some && selected < items);
    if (buttonCount_ == 4) {
        EnableWindow(buttons_[2].hwnd(), some && selected > 0 && selected < items);
        EnableWindow(buttons_[3].hwnd(), some && selected < items - 1);
    }
}

int CEditListBox::SelectedRow() const
{
    const LRESULT row = SendMessageA(list_, LB_GETCURSEL, 0, 0);
    return row == LB_ERR ? -1 : static_cast<int>(row);
}

std::string CEditListBox::RowText(int row) const
{
    const LRESULT length = SendMessageA(list_, LB_GETTEXTLEN, row, 0);
    if (length == LB_ERR)
        return std::string();
    std::vector<char> text(static_cast<size_t>(length) + 1);
    SendMessageA(list_, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text.data()));
    return text.data();
}

bool CEditListBox::ReplaceItem(int index, const std::string& text)
{
    return DeleteItem(index) && InsertItem(index, text.c_str());
}

LRESULT CEditListBox::Notify(int code, int row)
{
    NMEDITLIST record = {};
    record.hdr.hwndFrom = hwnd();
    record.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(hwnd()));
    record.hdr.code = static_cast<UINT>(code);
    record.iIndex = row;
    return SendMessageA(GetParent(hwnd()), WM_NOTIFY, record.hdr.idFrom, reinterpret_cast<LPARAM>(&record));
}

bool CEditListBox::Editing() const
{
    return IsWindowVisible(editor_.hwnd()) != FALSE;
}

void CEditListBox::NewRow()
{
    if (Editing())
        return;
    SetFocus(list_);
    const LRESULT rows = SendMessageA(list_, LB_GETCOUNT, 0, 0);
    const WPARAM row = rows > 0 ? static_cast<WPARAM>(rows - 1) : 0;
    SendMessageA(list_, LB_INSERTSTRING, row, reinterpret_cast<LPARAM>(""));
    SendMessageA(list_, LB_SETCURSEL, row, 0);
    if (Notify(ELN_INSERTING, SelectedRow()) != 0)
        PostMessageA(hwnd(), ELM_PURGEEMPTY, 0, 0);
    else
        EditRow(SelectedRow());
    UpdateButtons();
}

void CEditListBox::DeleteSelectedRow()
{
    const int selected = SelectedRow();
    if (Editing() || selected < 0 || selected >= ItemCount())
        return;
    // The row that moves up into the place stays selected, so that Delete can go on.
    if (Notify(ELN_DELETING, selected) == 0 && DeleteItem(selected))
        SendMessageA(list_, LB_SETCURSEL, selected, 0);
    UpdateButtons();
}

void CEditListBox::MoveSelectedRow(int step)
{
    const int selected = SelectedRow();
    const int neighbour = selected + step;
    if (Editing() || selected < 0 || selected >= ItemCount() || neighbour < 0 || neighbour >= ItemCount())
        return;
    const std::string moved = RowText(selected);
    ReplaceItem(selected, RowText(neighbour));
    ReplaceItem(neighbour, moved);
    SendMessageA(list_, LB_SETCURSEL, neighbour, 0);
    UpdateButtons();
}

void CEditListBox::EditRow(int row)
{
    if (row < 0)
        return;
    if (row == SendMessageA(list_, LB_GETCOUNT, 0, 0) - 1) {
        // The placeholder is never edited: a new empty row above it is.
        SendMessageA(list_, LB_INSERTSTRING, row, reinterpret_cast<LPARAM>(""));
        SendMessageA(list_, LB_SETCURSEL, row, 0);
    }
    if (Notify(ELN_EDITSTARTING, row) != 0)
        return;

    HWND editor = editor_.hwnd();
    SetWindowTextA(editor, RowText(row).c_str());
    RECT rect;
    SendMessageA(list_, LB_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
    if (options_ & ELS_BROWSE) {
        RECT inFrame = rect;
        MapWindowPoints(list_, hwnd(), reinterpret_cast<POINT*>(&inFrame), 2);
        const int side = rect.bottom - rect.top;
        SetWindowPos(browse_, HWND_TOP, inFrame.right - side, inFrame.top, side, side, SWP_SHOWWINDOW | SWP_NOACTIVATE);
        rect.right -= side;
    }
    SetWindowPos(editor, HWND_TOP, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, SWP_SHOWWINDOW);
    SendMessageA(editor, EM_SETSEL, 0, -1);
    SendMessageA(editor, EM_SCROLLCARET, 0, 0);
    SetFocus(editor);
}

LRESULT CEditListBox::OnPaint(WPARAM wParam, LPARAM)
{
    if (wParam) {
        PaintCaption(reinterpret_cast<HDC>(wParam));
        return 0;
    }
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd(), &paint);
    PaintCaption(dc);
    EndPaint(hwnd(), &paint);
    return 0;
}

LRESULT CEditListBox::OnPrintClient(WPARAM wParam, LPARAM)
{
    PaintCaption(reinterpret_cast<HDC>(wParam));
    return 0;
}

LRESULT CEditListBox::OnSize(WPARAM, LPARAM)
{
    Layout();
    return 0;
}

LRESULT CEditListBox::OnEnable(WPARAM wParam, LPARAM)
{
    EnableWindow(list_, static_cast<BOOL>(wParam));
    UpdateButtons();
    return 0;
}

LRESULT CEditListBox::OnEraseBackground(WPARAM, LPARAM)
{
    return 1;
}

// Focus given to the frame (a click on the caption band, a SetFocus by the owner) goes on to
// the rows or to the open editor, where the focus rectangle marks the current row.
LRESULT CEditListBox::OnSetFocus(WPARAM, LPARAM)
{
    SetFocus(Editing() ? editor_.hwnd() : list_);
    return 0;
}

// Answers -2 for the keys handled here; for any other key (arrows, paging) -1 lets the inner
// list perform its own action.
LRESULT CEditListBox::OnVKeyToItem(WPARAM wParam, LPARAM)
{
    switch (LOWORD(wParam)) {
    case VK_INSERT:
        NewRow();
        return -2;
    case VK_DELETE:
        DeleteSelectedRow();
        return -2;
    case VK_F2:
        EditRow(SelectedRow());
        UpdateButtons();
        return -2;
    }
    return -1;
}

LRESULT CEditListBox::OnSelectionChange(WPARAM, LPARAM)
{
    UpdateButtons();
    return 0;
}

LRESULT CEditListBox::OnDoubleClick(WPARAM, LPARAM)
{
    EditRow(SelectedRow());
    UpdateButtons();
    return 0;
}

LRESULT CEditListBox::OnNew(WPARAM, LPARAM)
{
    NewRow();
    return 0;
}

LRESULT CEditListBox::OnDelete(WPARAM, LPARAM)
{
    DeleteSelectedRow();
    return 0;
}

LRESULT CEditListBox::OnMoveUp(WPARAM, LPARAM)
{
    MoveSelectedRow(-1);
    return 0;
}

LRESULT CEditListBox::OnMoveDown(WPARAM, LPARAM)
{
    MoveSelectedRow(1);
    return 0;
}

LRESULT CEditListBox::OnBrowse(WPARAM, LPARAM)
{
    Notify(ELN_BROWSECLICK, SelectedRow());
    SetFocus(editor_.hwnd());
    return 0;
}

LRESULT CEditListBox::OnPurgeEmpty(WPARAM, LPARAM)
{
    int row = 0;
    while (row < SendMessageA(list_, LB_GETCOUNT, 0, 0)) {
        if (SendMessageA(list_, LB_GETTEXTLEN, row, 0) == 0 && DeleteItem(row))
            row = 0;
        else
            ++row;
    }
    return 0;
}

LRESULT CEditListBox::OnEditorGetDlgCode(WPARAM wParam, LPARAM lParam)
{
    return editor_.DefaultProc(WM_GETDLGCODE, wParam, lParam) | DLGC_WANTALLKEYS;
}

LRESULT CEditListBox::OnEditorEnter(WPARAM, LPARAM)
{
    SetFocus(list_);
    return 0;
}

LRESULT CEditListBox::OnEditorEscape(WPARAM, LPARAM)
{
    SetWindowTextA(editor_.hwnd(), RowText(SelectedRow()).c_str());
    SetFocus(list_);
    return 0;
}

LRESULT CEditListBox::OnEditorKillFocus(WPARAM wParam, LPARAM lParam)
{
    HWND editor = editor_.hwnd();
    if (!browse_ || reinterpret_cast<HWND>(wParam) != browse_) {
        const int selected = SelectedRow();
        Notify(ELN_EDITENDED, selected);
        ShowWindow(editor, SW_HIDE);
        ShowWindow(browse_, SW_HIDE);
        if (Notify(ELN_COMMITTING, selected) == 0) {
            std::vector<char> text(GetWindowTextLengthA(editor) + 1);
            GetWindowTextA(editor, text.data(), static_cast<int>(text.size()));
            if (ReplaceItem(selected, text.data()))
                Notify(ELN_COMMITTED, selected);
        }
        SendMessageA(list_, LB_SETCURSEL, selected, 0);
        PostMessageA(hwnd(), ELM_PURGEEMPTY, 0, 0);
        UpdateButtons();
    }
    return editor_.DefaultProc(WM_KILLFOCUS, wParam, lParam);
}
