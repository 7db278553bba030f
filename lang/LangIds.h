// Resource ids of the language packs: string ids, the context menu and its commands, the two
// dialog templates and the controls of the progress dialog. Shared by the pack sources (.rc) and
// by the code that looks the resources up, so this file holds only #defines.
#pragma once

// Strings 0 and 1 are the pack's signature: the product tag and the pack's language code.
#define IDS_PACK_TAG 0
#define IDS_PACK_LANGUAGE 1

#define IDS_MESSAGE_CAPTION 100
#define IDS_COLUMN_NAME 101
#define IDS_COLUMN_SIZE 102
#define IDS_COLUMN_STATUS 103
#define IDS_STATUS_COUNT 104
#define IDS_STATUS_COUNT_LIMIT 105
#define IDS_STATUS_USED 106
#define IDS_STATUS_AVAILABLE 107
#define IDS_STATE_WAITING 108
#define IDS_STATE_SENDING 109
#define IDS_STATE_DONE 110
#define IDS_TIME_LEFT 111
#define IDS_CONTROL_NAME 112

#define IDS_TOO_MANY_FILES 301
#define IDS_TOTAL_SIZE_EXCEEDED 302
#define IDS_EMPTY_FILES 303
#define IDS_FILE_TOO_LARGE 304
#define IDS_CONSENT_QUESTION 305

#define IDS_CANCEL_QUESTION 501
#define IDS_STAGE_PREPARING 502
#define IDS_STAGE_CONNECTING 503
#define IDS_STAGE_CONNECTED 504
#define IDS_STAGE_PREPARE_FILES 505
#define IDS_STAGE_SENDING 506
#define IDS_STAGE_PROCESSING 507
#define IDS_STAGE_ASKING 508
#define IDS_STAGE_RESULT 509
#define IDS_STAGE_DONE 510
#define IDS_UPLOAD_CANCELLED 511
#define IDS_UPLOAD_FAILED 512
#define IDS_PAUSE 513
#define IDS_ALL_FILES 514
#define IDS_STAGE_RETRYING 515

#define IDM_CONTEXT 208
#define ID_ADD_FILE 32770
#define ID_REMOVE_SELECTED 32773
#define ID_REMOVE_ALL 32774
#define ID_EXECUTE_FILE 40001

#define IDD_FILE_PANEL 101
#define IDD_UPLOAD 102

#define IDC_UPLOAD_LIST 1201
#define IDC_FILE_PROGRESS 1202
#define IDC_TOTAL_PROGRESS 1203
#define IDC_CURRENT_FILE 1204
#define IDC_TRANSFER_RATE 1205
#define IDC_FILE_BYTES 1206
#define IDC_FILE_TIME_LEFT 1207
#define IDC_TOTAL_BYTES 1208
#define IDC_STATUS_TEXT 1209
#define IDC_TOTAL_TIME_LEFT 1210
#define IDC_FILE_COUNT 1211
#define IDC_HIDE_LIST 1212
#define IDC_POWERED_BY 1213
