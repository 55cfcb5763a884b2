// Resource ids of tescore's dialogs, controls and animation (tescore.rc).
#pragma once

#define IDA_STATUS 170  // status animation (AVI)

#define IDD_STATUS 200
#define IDD_OVERWRITE 201
#define IDD_PASSWORD 202
#define IDD_BADPASSWORD 203
#define IDD_RENAME 204

#define IDC_STATUS_TEXT 1000
#define IDC_STATUS_PROGRESS 1001
#define IDC_STATUS_ANIMATION 1002

#define IDC_OW_TEXT 1010
#define IDC_OW_NEW_ICON 1011
#define IDC_OW_NEW_SIZE 1012
#define IDC_OW_NEW_TIME 1013
#define IDC_OW_OLD_ICON 1014
#define IDC_OW_OLD_SIZE 1015
#define IDC_OW_OLD_TIME 1016
#define IDC_OW_YESALL 1017
#define IDC_OW_RENAME 1018
#define IDC_OW_CANCEL 1019

#define IDC_PW_FILE 1030
#define IDC_PW_EDIT 1031
#define IDC_PW_MASK 1032
#define IDC_PW_SKIP 1033

#define IDC_RN_FROM 1040
#define IDC_RN_FROMEXT 1041
#define IDC_RN_TO 1042
#define IDC_RN_TOEXT 1043
