// The modal settings dialog: the six flags as check boxes and the keep patterns in an
// editable list, read from the settings file when it opens and written back on OK.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "settings/unpack_settings.h"
#include "ui/edit_list_box.h"
#include "ui/window.h"

class CConfigDlg : public DialogBase {
public:
    CConfigDlg();

    // Runs the dialog over `parent`; IDOK when the user accepted it.
    INT_PTR Run(HWND parent);

    // The values that OK saved.
    const SettingsFlags& flags() const { return flags_; }
    const KeepExtensionMap& keepExtensions() const { return keepExtensions_; }

private:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void ReadSettings();
    void ShowSettings();
    std::string CollectPatterns() const;
    bool Checked(int control) const;

    LRESULT OnInitDialog(WPARAM wParam, LPARAM lParam);
    LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnOk(WPARAM wParam, LPARAM lParam);
    LRESULT OnCancel(WPARAM wParam, LPARAM lParam);
    LRESULT OnDeleteSourcesClicked(WPARAM wParam, LPARAM lParam);

    static const MessageEntry<CConfigDlg> kMessageMap[];

    std::string settingsPath_;
    CEditListBox keepList_;
    SettingsFlags flags_;
    std::vector<std::string> keepPatterns_;
    KeepExtensionMap keepExtensions_;
};
