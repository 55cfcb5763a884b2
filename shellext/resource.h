// Resource ids of tesshell.dll. The menu items' labels have the ids of the
// items themselves (menu_plan.h, 256-265).
#pragma once

#define IDS_HELP_COMPRESS 1
#define IDS_HELP_ADD_TO 2
#define IDS_HELP_EXTRACT_TO 4
#define IDS_HELP_EXTRACT_TO_FOLDER 5
#define IDS_CHARACTER_COUNT 6
#define IDS_EXECUTE_FAILED 7
#define IDS_HELP_OPEN_WITH 8
#define IDS_HELP_CREATE_EXE 9
#define IDS_HELP_CONVERT 10

// The property page "Extended".
#define IDC_COMMENT_EDIT 1001
#define IDC_COMMENT_COUNT 1002
#define IDC_COMMENT_LABEL 1003
