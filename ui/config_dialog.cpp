#include "ui/config_dialog.h"

#include <commctrl.h>

#include "resources/resource.h"
#include "ui/resource_module.h"

namespace {

const int kBannerLeft = 10;
const int kBannerTop = 23;
const int kBannerWidth = 160;
const int kBannerHeight = 320;
const int kMaxPatternLength = 260;

// The check boxes and the flags they show.
const struct {
    int control;
    int32_t SettingsRecord::*flag;
} kBoxes[] = {
    {IDC_DELETE_TEMP, &SettingsRecord::deleteTemp},
    {IDC_KEEP_OVERWRITTEN, &SettingsRecord::keepOverwritten},
    {IDC_DELETE_SRC_DURING, &SettingsRecord::deleteSrcDuring},
    {IDC_KEEP_SRC_NOSFV, &SettingsRecord::keepSrcNoSfv},
    {IDC_CHECK_CRC, &SettingsRecord::checkCrc},
    {IDC_DELETE_SFV, &SettingsRecord::deleteSfv},
};

}  // namespace

const MessageEntry<CConfigDlg> CConfigDlg::kMessageMap[] = {
    {WM_INITDIALOG, nullptr, &CConfigDlg::OnInitDialog},
    {WM_PAINT, nullptr, &CConfigDlg::OnPaint},
    {WM_COMMAND, FromControl<IDOK>, &CConfigDlg::OnOk},
    {WM_COMMAND, FromControl<IDCANCEL>, &CConfigDlg::OnCancel},
    {WM_COMMAND, ControlNotification<IDC_DELETE_SRC_DURING, BN_CLICKED>, &CConfigDlg::OnDeleteSourcesClicked},
};

CConfigDlg::CConfigDlg(const SettingsRecord& settings, SaveFn save) : settings_(settings), save_(save)
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_WIN95_CLASSES | ICC_DATE_CLASSES};
    InitCommonControlsEx(&classes);
}

INT_PTR CConfigDlg::Run(HWND parent)
{
    return RunModal(ResourceModule(), IDD_CONFIG, parent);
}

bool CConfigDlg::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    return DispatchMessageMap(this, kMessageMap, message, wParam, lParam, result);
}

void CConfigDlg::ShowSettings()
{
    for (const auto& box : kBoxes)
        SendDlgItemMessageA(hwnd(), box.control, BM_SETCHECK, settings_.*box.flag == 1 ? BST_CHECKED : BST_UNCHECKED,
                            0);
    EnableWindow(GetDlgItem(hwnd(), IDC_KEEP_SRC_NOSFV), settings_.deleteSrcDuring == 1);
}

// The controls as they stand. A disabled box counts by its check mark. The pattern text keeps
// the rows as they stand, spaces and one-character rows included; only the patterns and the
// kept extensions are parsed from it.
SettingsRecord CConfigDlg::CollectSettings() const
{
    SettingsRecord settings;
    for (const auto& box : kBoxes)
        settings.*box.flag = Checked(box.control) ? 1 : 0;
    SetKeepPatternText(settings, CollectPatterns());
    return settings;
}

// The rows of the list before the placeholder, joined by commas as they stand. A row longer
// than a pattern can be is collected as an empty text.
std::string CConfigDlg::CollectPatterns() const
{
    HWND list = keepList_.ListWindow();
    const LRESULT rows = list ? SendMessageA(list, LB_GETCOUNT, 0, 0) : 0;
    const LRESULT items = rows > 0 ? rows - 1 : 0;
    std::string joined;
    for (LRESULT row = 0; row < items; ++row) {
        char text[kMaxPatternLength + 1] = "";
        if (SendMessageA(list, LB_GETTEXTLEN, row, 0) <= kMaxPatternLength)
            SendMessageA(list, LB_GETTEXT, row, reinterpret_cast<LPARAM>(text));
        joined += text;
        if (row + 1 < items)
            joined += ",";
    }
    return joined;
}

bool CConfigDlg::Checked(int control) const
{
    return SendDlgItemMessageA(hwnd(), control, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

LRESULT CConfigDlg::OnInitDialog(WPARAM, LPARAM)
{
    ShowSettings();

    // The list control becomes the edit list box: no move buttons, no browse button.
    HWND list = GetDlgItem(hwnd(), IDC_KEEP_LIST);
    LONG_PTR style = GetWindowLongPtrA(list, GWL_STYLE);
    SetWindowLongPtrA(list, GWL_STYLE, (style | ELS_NOMOVE) & ~static_cast<LONG_PTR>(ELS_BROWSE));
    keepList_.Subclass(list);
    SetWindowTextA(list, ResourceString(IDS_KEEP_CAPTION).c_str());
    for (size_t i = 0; i < settings_.keepPatterns.size(); ++i)
        keepList_.InsertItem(static_cast<int>(i), settings_.keepPatterns[i].c_str());

    CenterWindow();
    return TRUE;
}

LRESULT CConfigDlg::OnPaint(WPARAM, LPARAM)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(hwnd(), &paint);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP banner = LoadBitmapA(ResourceModule(), MAKEINTRESOURCEA(IDB_BANNER));
    if (!banner) {
        EndPaint(hwnd(), &paint);
        DeleteDC(memory);
        return 0;
    }
    HGDIOBJ previous = SelectObject(memory, banner);
    RECT client;
    GetClientRect(hwnd(), &client);
    BitBlt(dc, client.left + kBannerLeft, client.top + kBannerTop, kBannerWidth, kBannerHeight, memory, 0, 0, SRCCOPY);
    EndPaint(hwnd(), &paint);
    SelectObject(memory, previous);
    DeleteObject(banner);
    DeleteDC(memory);
    return 0;
}

// The message names the file and the system's reason; the dialog stays open, so that the
// user can mend the cause or cancel.
void CConfigDlg::ReportSaveFailure(const SettingsFileResult& result)
{
    const std::string format = ResourceString(IDS_SAVE_FAILED);
    const std::string reason = result.Reason();
    const char* inserts[] = {result.path.c_str(), reason.c_str()};
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                   format.c_str(), 0, 0, reinterpret_cast<char*>(&text), 0,
                   reinterpret_cast<va_list*>(const_cast<char**>(inserts)));
    char caption[128] = "";
    GetWindowTextA(hwnd(), caption, sizeof caption);
    MessageBoxA(hwnd(), text ? text : (result.path + "\n" + reason).c_str(), caption, MB_OK | MB_ICONERROR);
    if (text)
        LocalFree(text);
}

LRESULT CConfigDlg::OnOk(WPARAM, LPARAM)
{
    const SettingsRecord accepted = CollectSettings();
    const SettingsFileResult saved = save_(accepted);
    if (!saved.ok) {
        ReportSaveFailure(saved);
        return 0;
    }
    EndDialog(IDOK);
    return 0;
}

LRESULT CConfigDlg::OnCancel(WPARAM, LPARAM)
{
    EndDialog(IDCANCEL);
    return 0;
}

LRESULT CConfigDlg::OnDeleteSourcesClicked(WPARAM, LPARAM)
{
    const bool checked = Checked(IDC_DELETE_SRC_DURING);
    // The check mark of 1004 stays as it is; only whether it can be changed follows 1003.
    EnableWindow(GetDlgItem(hwnd(), IDC_KEEP_SRC_NOSFV), checked);
    return 0;
}
