// Resource and control numbers of the archive commands (extract, delete,
// test, create, add). The dialogs, the Add dialog's context menus and the
// strings that only these commands show live in tescommands.rc, which the
// program's resource script includes (see commands.h for the wiring).
#pragma once

// Dialogs.
#define TESCMD_IDD_ADD 101
#define TESCMD_IDD_SAVE_SELECTION 103
#define TESCMD_IDD_CREATE_EXTRA 108          // save-dialog area: "Show add dialog after creating"
#define TESCMD_IDD_NEW_FOLDER 109
#define TESCMD_IDD_CREATE_EXTRA_DROPPED 111  // save-dialog area for dropped files
#define TESCMD_IDD_EXTRACT 112
#define TESCMD_IDD_PASSWORD 115
#define TESCMD_IDD_SELECT_FOLDER 117
#define TESCMD_IDD_OUTPUT 118
#define TESCMD_IDD_DELETE 122
#define TESCMD_IDD_LOAD_SELECTION 125
#define TESCMD_IDD_DELETE_SELECTION 126

// The Add dialog's context menus: a MENU resource of its own (popups "Add"
// and "Opt"), kept apart from the program's menu 301.
#define TESCMD_IDR_ADD_MENUS 311

// Strings of the program's table that only these commands use.
#define TESCMD_IDS_ARCHIVE_ITSELF 11
#define TESCMD_IDS_PASSWORD_MISMATCH 22
#define TESCMD_IDS_ADD_COLUMNS 34
#define TESCMD_IDS_TEXT_FILTER 35
#define TESCMD_IDS_ACTIONS 42
#define TESCMD_IDS_SELECT_FILES 45
#define TESCMD_IDS_OUTPUT_SAVED 52
#define TESCMD_IDS_ALL_FILES_FILTER 54
#define TESCMD_IDS_CREATE 60
#define TESCMD_IDS_ALREADY_EXISTS 61
#define TESCMD_IDS_ADD_BUTTON 64
#define TESCMD_IDS_UPDATE_BUTTON 65
#define TESCMD_IDS_FRESHEN_BUTTON 66

// Engine strings (tescore.dll's table).
#define TESCMD_IDS_FOLDER_CANNOT_BE_CREATED 4105
#define TESCMD_IDS_OUT_OF_MEMORY 4109
#define TESCMD_IDS_ARCHIVE_CANNOT_BE_DELETED 4129

// Extract dialog (112).
#define TESCMD_IDC_EXTRACT_OVERWRITE 1038
#define TESCMD_IDC_EXTRACT_USE_PATHS 1039
#define TESCMD_IDC_EXTRACT_SKIP_OLDER 1043
#define TESCMD_IDC_SCOPE_ALL 1045       // also "&Entire archive" of Delete
#define TESCMD_IDC_SCOPE_SELECTED 1046
#define TESCMD_IDC_SCOPE_FOLDER 1047
#define TESCMD_IDC_FOLDER_BROWSER 1050  // also in Select folder (117)
#define TESCMD_IDC_EXTRACT_DESTINATION 1130
#define TESCMD_IDC_NEW_FOLDER 1134

// New folder (109).
#define TESCMD_IDC_NEW_FOLDER_PARENT 1090
#define TESCMD_IDC_NEW_FOLDER_NAME 1091

// Delete dialog (122).
#define TESCMD_IDC_DELETE_BACKUP 1076

// Create dialog extra areas (108, 111).
#define TESCMD_IDC_CREATE_SHOW_ADD 1037

// Add dialog (101).
#define TESCMD_IDC_ADD_LIST 1016
#define TESCMD_IDC_ADD_SELECT_FOLDER 1021
#define TESCMD_IDC_ADD_SELECT_FILES 1022
#define TESCMD_IDC_ADD_FULL_PATHS 1024
#define TESCMD_IDC_ADD_ENCRYPT 1028
#define TESCMD_IDC_ADD_PARTIAL_PATHS 1030
#define TESCMD_IDC_ADD_LEVEL 1037
#define TESCMD_IDC_ADD_ACTION 1038
#define TESCMD_IDC_ADD_ACTION_LABEL 1039
#define TESCMD_IDC_ADD_REMOVE 1073
#define TESCMD_IDC_ADD_PASSWORD 1077
#define TESCMD_IDC_ADD_EXTENDED 1083

// Commands of the "Opt" popup.
#define TESCMD_CMD_INCLUDE_HIDDEN 40024
#define TESCMD_CMD_INCLUDE_EMPTY_ONLY 40025
#define TESCMD_CMD_INCLUDE_SUBFOLDERS 40026
#define TESCMD_CMD_MOVE 40034
#define TESCMD_CMD_BACKUP 40035
#define TESCMD_CMD_SHORT_NAMES 40036
#define TESCMD_CMD_SPLIT 40041
// Commands of the "Add" popup.
#define TESCMD_CMD_SELECTION_SAVE 40010
#define TESCMD_CMD_SELECTION_LOAD 40011
#define TESCMD_CMD_SELECTION_DELETE 40013
#define TESCMD_CMD_ROWS_SELECT_ALL 40031
#define TESCMD_CMD_ROWS_INVERT 40032
#define TESCMD_CMD_ROWS_SELECT_GROUP 40033

// Password dialog (115).
#define TESCMD_IDC_PASSWORD 1150
#define TESCMD_IDC_PASSWORD_CONFIRM 1151
#define TESCMD_IDC_PASSWORD_MASK 1152

// Select folder (117).
#define TESCMD_IDC_SELECT_FOLDER_PATH 1170
#define TESCMD_IDC_SELECT_FOLDER_MASK 1171
#define TESCMD_IDC_SELECT_FOLDER_SUBFOLDERS 1172
#define TESCMD_IDC_SELECT_FOLDER_EMPTY_ONLY 1173
#define TESCMD_IDC_SELECT_FOLDER_HIDDEN 1174

// Save, Load and Delete selection (103, 125, 126).
#define TESCMD_IDC_SELECTION_NAME 1031

// Output window (118).
#define TESCMD_IDC_OUTPUT_TEXT 1180
#define TESCMD_IDC_OUTPUT_SAVE 4096
#define TESCMD_IDC_OUTPUT_COPY 4097
