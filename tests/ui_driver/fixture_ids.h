// Resource and control ids of the UI driver's fixture program (shared by its resource script,
// its code and the tests).
#pragma once

#define IDD_FIXTURE 100
#define IDC_ASK 1001
#define IDC_QUESTION 1002
#define IDC_COLOURS 1003
#define IDC_STATUS 1004

#define IDD_PAGE 101
#define IDC_PAGE_TEXT 1101
