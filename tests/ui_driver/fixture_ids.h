// Resource and control ids of the UI driver's fixture program (shared by its resource script,
// its code and the tests).
#pragma once

#define IDD_FIXTURE 100
#define IDC_ASK 1001
#define IDC_QUESTION 1002
#define IDC_COLOURS 1003
#define IDC_STATUS 1004
#define IDC_OPTION 1005
#define IDC_RADIO_FIRST 1006
#define IDC_RADIO_SECOND 1007
#define IDC_NAME 1008
#define IDC_ECHO 1009
#define IDC_EVENT 1010
#define IDC_PROGRESS 1011
#define IDC_STEP 1012
#define IDC_CLIENT_SIZE 1013
#define IDC_LOCKED 1014

#define IDD_PAGE 101
#define IDC_PAGE_TEXT 1101
