// Resource and command numbers of the program tessera.exe: menus,
// accelerators, bitmaps, icon, dialogs, strings and the command ids of the
// menus, toolbar and accelerators. The content view's own numbers
// (view/view_ids.h) are reused here where the program provides them.
#pragma once

#include "view_ids.h"

// Resources.
#define IDR_ACCELERATORS 300
#define IDR_CONTEXT_MENUS TESVIEW_IDR_CONTEXT_MENUS  // 301: "Main", "Root", "Folder"
#define IDR_MAIN_MENU 302
#define IDB_TOOLBAR 137
#define IDB_TOOLBAR_HOT 134
#define IDB_PANE_CLOSE 138
#define IDB_TOOLBAR_DISABLED 139
#define IDB_SORT_ARROWS TESVIEW_IDB_SORT_ARROWS  // 203
#define IDI_TESSERA 400
#define IDD_ABOUT 120
#define IDC_ABOUT_VERSION 1201

// Child windows of the explorer window.
#define IDC_LIST TESVIEW_IDC_LIST      // 9999
#define IDC_REBAR 9998
#define IDC_TOOLBAR 9998
#define IDC_STATUS 9997
#define IDC_SIDE_PANE 9995
#define IDC_TREE TESVIEW_IDC_TREE      // 9994
#define IDC_PANE_TOOLBAR 9993
#define IDC_PANE_CLOSE 101             // command of the side pane's close button

// Strings of the program (numbers from 4096 on are the engine's).
#define IDS_ASSOC_ERROR 4142           // engine: "Error registering Tessera: %s"
#define IDS_NO_ARCHIVE 5
#define IDS_INVALID_COMMAND 6
#define IDS_CANNOT_ADD 15
#define IDS_CREATING_TREE 16
#define IDS_OBJECTS 17
#define IDS_OBJECTS_SELECTED 18
#define IDS_SIZE_PACKED 19
#define IDS_COLUMN_LABELS TESVIEW_IDS_COLUMN_LABELS  // 24
#define IDS_MENU_HELP 25
#define IDS_ALWAYS_ON_TOP 26
#define IDS_INVALID_OPTION 27
#define IDS_OPEN_FILTER_TAIL 28
#define IDS_OPEN_TITLE 29
#define IDS_ARCHIVES_OPENED 41
#define IDS_TOOLBAR_LABELS 46
#define IDS_VIEW_OUTPUT_QUESTION 50
#define IDS_LAST_ARCHIVE 51
#define IDS_FONT_FAILED TESVIEW_IDS_FONT_FAILED  // 62
#define IDS_CLOSING_ARCHIVE 12290      // engine
#define IDS_CREATING_LIST 12291        // engine
#define IDS_OPEN_RECENT 32779          // "Opens the archive '%s'." (help of 32779-32782)

// Commands.
#define CMD_LINK_ON_DESKTOP 32768
#define CMD_DELETE_ARCHIVE 32769
#define CMD_CREATE_ARCHIVE 32770
#define CMD_RENAME_ARCHIVE 32771
#define CMD_COPY_ARCHIVE 32772
#define CMD_MOVE_ARCHIVE 32773
#define CMD_ARCHIVE_PROPERTIES 32774
#define CMD_OPEN_ARCHIVE 32776
#define CMD_CLOSE_ARCHIVE TESVIEW_CMD_CLOSE_ARCHIVE  // 32777
#define CMD_LAST_ARCHIVE 32778
#define CMD_RECENT_FIRST 32779
#define CMD_RECENT_LAST 32782
#define CMD_SELECT_ALL TESVIEW_CMD_SELECT_ALL        // 32783
#define CMD_SELECT_NONE TESVIEW_CMD_SELECT_NONE      // 32784
#define CMD_SELECT_GROUP TESVIEW_CMD_SELECT_GROUP    // 32785
#define CMD_COPY 32787
#define CMD_PASTE 32788
#define CMD_CUT 32789
#define CMD_DELETE_FILES 32793
#define CMD_VIEW 32794
#define CMD_EXTRACT 32795
#define CMD_EXIT 32796
#define CMD_SORT_FIRST TESVIEW_CMD_SORT_NAME         // 32797
#define CMD_SORT_LAST TESVIEW_CMD_SORT_ORIGINAL      // 32804
#define CMD_ALWAYS_ON_TOP 32805
#define CMD_HELP_ON_HELP 40002
#define CMD_WEB_PAGE 40003
#define CMD_FEEDBACK 40004
#define CMD_MAIL 40009
#define CMD_ADD 40012
#define CMD_OPEN_ENTRY 40014
#define CMD_COMMENT 40015
#define CMD_TEST 40016
#define CMD_EXTRACT_FOLDER TESVIEW_CMD_EXTRACT_FOLDER  // 40019
#define CMD_DELETE_FOLDER TESVIEW_CMD_DELETE_FOLDER    // 40020
#define CMD_COPY_FOLDER TESVIEW_CMD_COPY_FOLDER        // 40021
#define CMD_CUT_FOLDER TESVIEW_CMD_CUT_FOLDER          // 40022
#define CMD_OPTIONS 40027
#define CMD_PRINT 40028
#define CMD_BROWSE_ARCHIVES 40030
#define CMD_REMOVE_EXE 40032
#define CMD_CREATE_EXE 40033
#define CMD_VIEW_OUTPUT 40034
#define CMD_ABOUT 40035
#define CMD_FONT TESVIEW_CMD_FONT                      // 40036
#define CMD_DEFAULT_FONT TESVIEW_CMD_DEFAULT_FONT      // 40040
#define CMD_FOLDER_TREE 40041
#define CMD_ENTRY_PROPERTIES 40042
#define CMD_EXTRACT_SELECTED 40043
#define CMD_BACK 40044
#define CMD_FORWARD 40045
#define CMD_SORT_ASCENDING TESVIEW_CMD_SORT_ASCENDING    // 40046
#define CMD_SORT_DESCENDING TESVIEW_CMD_SORT_DESCENDING  // 40047
#define CMD_FOLDER_PROPERTIES TESVIEW_CMD_FOLDER_PROPERTIES  // 40060
#define CMD_EXPLORE_FOLDER TESVIEW_CMD_EXPLORE_FOLDER    // 40063
#define CMD_CUSTOMIZE_TOOLBAR 40064
#define CMD_RESET_TOOLBAR 40066
#define CMD_ARCHIVES_OPENED 40073
#define CMD_UP_FOLDER TESVIEW_CMD_UP_FOLDER              // 40074

// Private messages of the explorer window.
#define WM_TREE_WIDTH (WM_USER + 2)      // wParam: new tree width
#define WM_TREE_HIDDEN (WM_USER + 3)     // wParam: new tree-hidden flag
#define WM_OPEN_ARCHIVE (WM_USER + 4)    // wParam: const char* path, lParam: add to history
#define WM_EXTRACT_ALL (WM_USER + 5)
#define WM_CHECK_TEMP_FILES (WM_USER + 6)  // offer changed temporary files back
