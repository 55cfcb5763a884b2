// Resource numbers of Setup.exe (and of the optional "TessInstLocal.dll",
// which carries the same strings and page dialogs in another language).
#pragma once

// Page dialogs.
#define IDD_WELCOME 106
#define IDD_READY 111
#define IDD_FOLDER 112
#define IDD_FINISHED 132
#define IDD_MAINTENANCE 136
#define IDD_UNINSTALL 137
#define IDD_LICENSE 138

// Images. The icons are numbered so that the uninstall icon is the
// program's third (index 2), the one the uninstall shortcut shows.
#define IDI_SETUP 112
#define IDI_INSTALL 113
#define IDI_UNINSTALL 114
#define IDB_STEPS 142
#define IDB_WATERMARK 145
#define IDB_HEADER 146

// Strings.
#define IDS_BROWSE_TITLE 15
#define IDS_FOLDER_TITLE 17
#define IDS_FOLDER_SUBTITLE 18
#define IDS_READY_TITLE 19
#define IDS_READY_SUBTITLE 20
#define IDS_LICENSE_TITLE 21
#define IDS_LICENSE_SUBTITLE 22
#define IDS_APPEND_TESSERA 23
#define IDS_NO_FOLDER 24
#define IDS_UNINSTALL_TITLE 29
#define IDS_UNINSTALL_SUBTITLE 30
#define IDS_UNINSTALLED 31
#define IDS_NO_UNINSTALL_INFORMATION 32
#define IDS_OLD_COMMON_CONTROLS 33
#define IDS_INSTALL_FAILED 40
#define IDS_NEEDS_ELEVATION 41
#define IDS_DELETED_AT_RESTART 42
#define IDS_USAGE 43
#define IDS_MAINTENANCE_TITLE 44
#define IDS_MAINTENANCE_SUBTITLE 45
#define IDS_ASSOCIATION_FAILED 46

// Controls.
#define IDC_WELCOME_TITLE 1001
#define IDC_LICENSE_TEXT 1002
#define IDC_ACCEPT 1003
#define IDC_FOLDER 1004
#define IDC_BROWSE 1005
#define IDC_ALL_USERS 1006
#define IDC_JUST_ME 1007
#define IDC_COPY_STATUS 1008
#define IDC_LINKS_STATUS 1009
#define IDC_CHOOSE_UNINSTALL 1010
#define IDC_FINISHED_TITLE 1011
#define IDC_ELEVATION_NOTE 1012
#define IDC_UNINSTALL_QUESTION 1013

// The window class of the step indicators on the ready page.
#define INSTALL_STATUS_CLASS "InstallStatus32"
