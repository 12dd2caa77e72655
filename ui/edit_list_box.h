// An editable list of text rows made from one window (the frame): a caption band with the
// frame's text and small image buttons (new, delete, and optionally move up and move down),
// an inner list of rows, an in-place editor over a row, an optional browse button beside the
// editor, and a placeholder row (string IDS_NEW_ROW) that always stands last.
//
// Keyboard: the inner list is the tab stop; arrows move between rows, Insert adds a row, F2
// edits the current one, Delete removes it; in the editor Enter takes the text and Escape
// drops it.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>

#include "ui/bitmap_button.h"
#include "ui/window.h"

// Options of CEditListBox, taken from the frame's window style.
enum : DWORD {
    ELS_NOMOVE = 0x0001,  // no move-up and move-down buttons
    ELS_BROWSE = 0x0002,  // a browse button beside the editor
};

// Notification codes sent to the parent with WM_NOTIFY and an NMEDITLIST record.
enum : int {
    ELN_BROWSECLICK = -1901,   // the browse button was clicked
    ELN_COMMITTING = -1902,    // an edit ends; a non-zero answer discards the text
    ELN_COMMITTED = -1903,     // the edited text was written into the row
    ELN_INSERTING = -1904,     // New added an empty row; a non-zero answer drops it unedited
    ELN_DELETING = -1905,      // a row is about to be deleted; a non-zero answer keeps it
    ELN_EDITSTARTING = -1906,  // the editor is about to open; a non-zero answer keeps it closed
    ELN_EDITENDED = -1907,     // the editor lost the focus and closes
};

// Posted by the control to its own frame to remove empty rows.
const UINT ELM_PURGEEMPTY = WM_USER + 124;

// Command ids of the caption buttons.
enum : UINT { kEditListNew = 528, kEditListDelete = 529, kEditListMoveUp = 530, kEditListMoveDown = 531 };

struct NMEDITLIST {
    NMHDR hdr;
    int32_t iIndex;
};

class CEditListBox : public WindowBase {
public:
    CEditListBox();
    ~CEditListBox() override;

    // Takes over an existing window as the frame and builds the control in it.
    bool Subclass(HWND frame);

    // The list that holds the rows; its last row is the placeholder.
    HWND ListWindow() const { return list_; }
    // The number of rows before the placeholder.
    int ItemCount() const;
    // Inserts a row before `index` (-1: before the placeholder); fails past the last item.
    bool InsertItem(int index, const char* text);
    // Deletes an item; the placeholder cannot be deleted.
    bool DeleteItem(int index);

private:
    bool ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
    void Initialize();
    void Layout();
    void PaintCaption(HDC dc);
    void UpdateButtons();
    int SelectedRow() const;
    std::string RowText(int row) const;
    bool ReplaceItem(int index, const std::string& text);
    LRESULT Notify(int code, int row);
    bool Editing() const;
    void NewRow();
    void DeleteSelectedRow();
    void MoveSelectedRow(int step);
    void EditRow(int row);

    LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnPrintClient(WPARAM wParam, LPARAM lParam);
    LRESULT OnSize(WPARAM wParam, LPARAM lParam);
    LRESULT OnEnable(WPARAM wParam, LPARAM lParam);
    LRESULT OnEraseBackground(WPARAM wParam, LPARAM lParam);
    LRESULT OnSetFocus(WPARAM wParam, LPARAM lParam);
    LRESULT OnVKeyToItem(WPARAM wParam, LPARAM lParam);
    LRESULT OnSelectionChange(WPARAM wParam, LPARAM lParam);
    LRESULT OnDoubleClick(WPARAM wParam, LPARAM lParam);
    LRESULT OnNew(WPARAM wParam, LPARAM lParam);
    LRESULT OnDelete(WPARAM wParam, LPARAM lParam);
    LRESULT OnMoveUp(WPARAM wParam, LPARAM lParam);
    LRESULT OnMoveDown(WPARAM wParam, LPARAM lParam);
    LRESULT OnBrowse(WPARAM wParam, LPARAM lParam);
    LRESULT OnPurgeEmpty(WPARAM wParam, LPARAM lParam);

    LRESULT OnEditorGetDlgCode(WPARAM wParam, LPARAM lParam);
    LRESULT OnEditorEnter(WPARAM wParam, LPARAM lParam);
    LRESULT OnEditorEscape(WPARAM wParam, LPARAM lParam);
    LRESULT OnEditorKillFocus(WPARAM wParam, LPARAM lParam);

    static const MessageEntry<CEditListBox> kFrameMap[];
    static const MessageEntry<CEditListBox> kEditorMap[];

    DWORD options_ = 0;
    HIMAGELIST images_ = nullptr;
    HWND list_ = nullptr;
    ContainedWindow<CEditListBox> editor_;
    HWND browse_ = nullptr;
    CFixedBitmapButton buttons_[4];
    int buttonCount_ = 0;
};
