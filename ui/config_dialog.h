// The modal settings dialog: the six flags as check boxes and the keep patterns in an
// editable list. It takes the settings in and gives them back; the file belongs to the caller,
// which it reaches only through the save function.
#pragma once

#include <windows.h>

#include <string>

#include "settings/settings_file.h"
#include "settings/unpack_settings.h"
#include "ui/edit_list_box.h"
#include "ui/window.h"

class CConfigDlg : public DialogBase {
public:
    // Saves what OK accepted; a failure keeps the dialog open with a message naming the file.
    typedef SettingsFileResult (*SaveFn)(const SettingsRecord& settings);

    CConfigDlg(const SettingsRecord& settings, SaveFn save);

    // Runs the dialog over `parent`; IDOK when the user accepted it and it was saved.
    INT_PTR Run(HWND parent);

private:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void ShowSettings();
    SettingsRecord CollectSettings() const;
    std::string CollectPatterns() const;
    bool Checked(int control) const;
    void ReportSaveFailure(const SettingsFileResult& result);

    LRESULT OnInitDialog(WPARAM wParam, LPARAM lParam);
    LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnOk(WPARAM wParam, LPARAM lParam);
    LRESULT OnCancel(WPARAM wParam, LPARAM lParam);
    LRESULT OnDeleteSourcesClicked(WPARAM wParam, LPARAM lParam);

    static const MessageEntry<CConfigDlg> kMessageMap[];

    CEditListBox keepList_;
    SettingsRecord settings_;
    SaveFn save_;
};
