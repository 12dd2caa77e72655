#include "ui/config_dialog.h"

#include <commctrl.h>

#include "host/module.h"
#include "resources/resource.h"
#include "settings/settings_file.h"
#include "settings/xml/xml_param.h"

namespace {

const int kBannerLeft = 10;
const int kBannerTop = 23;
const int kBannerWidth = 160;
const int kBannerHeight = 320;
const int kMaxPatternLength = 260;

const char* FlagText(int32_t flag)
{
    return flag ? "1" : "0";
}

}  // namespace

const MessageEntry<CConfigDlg> CConfigDlg::kMessageMap[] = {
    {WM_INITDIALOG, nullptr, &CConfigDlg::OnInitDialog},
    {WM_PAINT, nullptr, &CConfigDlg::OnPaint},
    {WM_COMMAND, FromControl<IDOK>, &CConfigDlg::OnOk},
    {WM_COMMAND, FromControl<IDCANCEL>, &CConfigDlg::OnCancel},
    {WM_COMMAND, ControlNotification<IDC_DELETE_SRC_DURING, BN_CLICKED>, &CConfigDlg::OnDeleteSourcesClicked},
};

CConfigDlg::CConfigDlg() : settingsPath_(SettingsFilePath(ModuleInstance)), flags_{0, 1, 0, 1, 0, 1}
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

// Reads the settings file into the flags and patterns. A missing file is created first with
// the defaults, and the dialog then shows what it wrote: what the user sees is what the engine
// does after its next load (the new file enables "Delete-src-during").
void CConfigDlg::ReadSettings()
{
    XmlParamDocument document;
    if (SettingsFileExists(settingsPath_)) {
        document.load(settingsPath_.c_str());
    } else {
        SetValue(document, kKeyDeleteTemp, "0");
        SetValue(document, kKeyKeepOverwritten, "1");
        SetValue(document, kKeyFileToKeep, "*.nfo");
        SetValue(document, kKeyDeleteSrcDuring, "1");
        SetValue(document, kKeyKeepSrcNoSfv, "1");
        SetValue(document, kKeyCheckCrc, "0");
        SetValue(document, kKeyDeleteSfv, "1");
        document.save(settingsPath_.c_str());
    }
    ReadFlag(document, kKeyDeleteTemp, flags_.deleteTemp);
    ReadFlag(document, kKeyKeepOverwritten, flags_.keepOverwritten);
    std::string fileToKeep;
    document.getParamString(kKeyFileToKeep, fileToKeep, std::string());
    ParseKeepPatterns(fileToKeep, keepPatterns_);
    BuildKeepExtensions(keepPatterns_, keepExtensions_);
    ReadFlag(document, kKeyDeleteSrcDuring, flags_.deleteSrcDuring);
    ReadFlag(document, kKeyKeepSrcNoSfv, flags_.keepSrcNoSfv);
    ReadFlag(document, kKeyCheckCrc, flags_.checkCrc);
    ReadFlag(document, kKeyDeleteSfv, flags_.deleteSfv);
}

void CConfigDlg::ShowSettings()
{
    const struct {
        int control;
        int32_t flag;
    } boxes[] = {
        {IDC_DELETE_TEMP, flags_.deleteTemp},
        {IDC_KEEP_OVERWRITTEN, flags_.keepOverwritten},
        {IDC_DELETE_SRC_DURING, flags_.deleteSrcDuring},
        {IDC_KEEP_SRC_NOSFV, flags_.keepSrcNoSfv},
        {IDC_CHECK_CRC, flags_.checkCrc},
        {IDC_DELETE_SFV, flags_.deleteSfv},
    };
    for (const auto& box : boxes)
        SendDlgItemMessageA(hwnd(), box.control, BM_SETCHECK, box.flag == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
    EnableWindow(GetDlgItem(hwnd(), IDC_KEEP_SRC_NOSFV), flags_.deleteSrcDuring == 1);
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
    ReadSettings();
    ShowSettings();

    // The list control becomes the edit list box: no move buttons, no browse button.
    HWND list = GetDlgItem(hwnd(), IDC_KEEP_LIST);
    LONG_PTR style = GetWindowLongPtrA(list, GWL_STYLE);
    SetWindowLongPtrA(list, GWL_STYLE, (style | ELS_NOMOVE) & ~static_cast<LONG_PTR>(ELS_BROWSE));
    keepList_.Subclass(list);

    char caption[MAX_PATH] = "";
    LoadStringA(ResourceModule(), IDS_KEEP_CAPTION, caption, sizeof caption);
    SetWindowTextA(list, caption);

    for (size_t i = 0; i < keepPatterns_.size(); ++i)
        keepList_.InsertItem(static_cast<int>(i), keepPatterns_[i].c_str());

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

LRESULT CConfigDlg::OnOk(WPARAM, LPARAM)
{
    XmlParamDocument document;
    const struct {
        int control;
        const char* key;
        int32_t& flag;
    } boxes[] = {
        {IDC_DELETE_TEMP, kKeyDeleteTemp, flags_.deleteTemp},
        {IDC_KEEP_OVERWRITTEN, kKeyKeepOverwritten, flags_.keepOverwritten},
        {IDC_DELETE_SRC_DURING, kKeyDeleteSrcDuring, flags_.deleteSrcDuring},
        {IDC_KEEP_SRC_NOSFV, kKeyKeepSrcNoSfv, flags_.keepSrcNoSfv},
        {IDC_CHECK_CRC, kKeyCheckCrc, flags_.checkCrc},
        {IDC_DELETE_SFV, kKeyDeleteSfv, flags_.deleteSfv},
    };
    // A disabled box counts by its check mark.
    for (const auto& box : boxes) {
        box.flag = Checked(box.control) ? 1 : 0;
        SetValue(document, box.key, FlagText(box.flag));
    }
    // The file keeps the rows as they stand, spaces and one-character rows included; only
    // the map is built from the parsed patterns.
    const std::string joined = CollectPatterns();
    ParseKeepPatterns(joined, keepPatterns_);
    BuildKeepExtensions(keepPatterns_, keepExtensions_);
    SetValue(document, kKeyFileToKeep, joined.c_str());
    document.save(settingsPath_.c_str());
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
    flags_.deleteSrcDuring = checked ? 1 : 0;
    // The check mark of 1004 stays as it is; only whether it can be changed follows 1003.
    EnableWindow(GetDlgItem(hwnd(), IDC_KEEP_SRC_NOSFV), checked);
    return 0;
}
