// Resource ids of the self-extractor stubs (both flavours).
#pragma once

// Strings.
#define IDS_DAMAGED 1
#define IDS_BAD_CHECKSUM 2
#define IDS_NO_MEMORY 3
#define IDS_WRITE_FAILED 4
#define IDS_CANNOT_CREATE_FOLDER 5
#define IDS_CANNOT_OVERWRITE 6
#define IDS_CANNOT_CREATE_FILE 7
#define IDS_CANNOT_EXECUTE 8
#define IDS_WAITING_FOR 9
#define IDS_EXTRACTING 101
#define IDS_SELECT_FOLDER 102
#define IDS_DELETING_TEMPORARY 103

// Dialogs.
#define IDD_MAIN 101
#define IDD_OVERWRITE 105

// Controls.
#define IDC_OVERWRITE_ALL 1000
#define IDC_FOLDER 1002
#define IDC_CHANGE_FOLDER 1003
#define IDC_PROGRESS 1004
#define IDC_CURRENT_FILE 1006
#define IDC_RUN_PROGRAM 1007
#define IDC_WAIT_TEXT 1008
#define IDC_ABORT 3

// Overwrite question.
#define IDC_QUESTION_PATH 1002
#define IDC_QUESTION_ICON 1010
#define IDC_YES_TO_ALL 1093
#define IDC_QUESTION_CANCEL 1011
