// Numbers of the module's resources and of the settings dialog's controls. The language
// resource module uses the same numbers.
#pragma once

#define IDD_CONFIG 101
#define IDB_BANNER 103
#define IDB_LIST_BUTTONS 690
#define IDS_KEEP_CAPTION 1
#define IDS_NEW_ROW 2
#define IDS_SAVE_FAILED 3

#define IDC_DELETE_TEMP 210
#define IDC_KEEP_OVERWRITTEN 211
#define IDC_KEEP_LIST 1002
#define IDC_DELETE_SRC_DURING 1003
#define IDC_KEEP_SRC_NOSFV 1004
#define IDC_CHECK_CRC 1005
#define IDC_DELETE_SFV 1006
