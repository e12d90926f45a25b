/* Resource ids of the setup: strings, dialogs, controls, icons, bitmap and the payload.
   Plain preprocessor definitions, so that resource scripts can include them too. */
#pragma once

/* The payload archive: a resource of numeric type and id. */
#define IDR_PAYLOAD_TYPE 260
#define IDR_PAYLOAD 134

/* Dialog templates */
#define IDD_ABOUT 100
#define IDD_MAIN 101
#define IDD_START 132
#define IDD_OPTIONS 133
#define IDD_INSTALL 135
#define IDD_MODE 136
#define IDD_END 137

/* Icons and the bitmap of the main window */
#define IDI_APPLICATION_ICON 128
#define IDI_FLAG_GERMAN 141
#define IDI_FLAG_SPANISH 143
#define IDI_FLAG_FRENCH 144
#define IDI_FLAG_ENGLISH 145
#define IDB_PANEL 137

/* Controls shared by the frame and every page */
#define IDC_STATUS_LINE 1003
#define IDC_SIZE_GRIP 1024

/* Controls of the frame: its three buttons, the separator above them and the left panel */
#define IDC_NEXT 1
#define IDC_EXIT 2
#define IDC_BACK 3
#define IDC_SEPARATOR 1002
#define IDC_PANEL 1005

/* Controls of the pages */
#define IDC_BROWSE 1006
#define IDC_FOLDER_EDIT 1007
#define IDC_FOLDER_GROUP 1008
#define IDC_FOLDER_PROMPT 1009
#define IDC_DESKTOP_SHORTCUT 1010
#define IDC_MENU_SHORTCUT 1011
#define IDC_INSTALL_PROGRESS 1014
#define IDC_INSTALL_LOG 1015
#define IDC_INFO 1016
#define IDC_QUICK_MODE 1018
#define IDC_ADVANCED_MODE 1019
#define IDC_START_NOTE 1020
#define IDC_LANGUAGE_LABEL 1022
#define IDC_MODE_GROUP 1021
#define IDC_LANGUAGE_LIST 1023

/* Controls of the About box */
#define IDC_ABOUT_VERSION 1019
#define IDC_ABOUT_COPYRIGHT 1020

/* The About entry of the frame's system menu (a system command: its four low bits are clear) */
#define IDM_ABOUT 16

/* Strings: words and captions */
#define IDS_INSTALLER 1000
#define IDS_OK 1001
#define IDS_CANCEL 1002
#define IDS_ABOUT_TITLE 1003
#define IDS_EXIT 1004
#define IDS_BACK 1005
#define IDS_NEXT 1006
#define IDS_INSTALL 1007
#define IDS_BROWSE 1008
#define IDS_FOLDER_SELECTION 1010
#define IDS_STEP_OK 1011
#define IDS_FAILED 1012
#define IDS_ERROR 1013
#define IDS_SELECT_LANGUAGE 1014
#define IDS_INSTALLATION_METHOD 1015
#define IDS_QUICK_INSTALLATION 1016
#define IDS_ADVANCED_INSTALLATION 1017
#define IDS_EXAMPLES 1018
#define IDS_HELP 1019
#define IDS_SAVE_ERROR_REPORT 1021

/* Strings: what the pages say */
#define IDS_FIRST_INSTALLATION 1100
#define IDS_UPDATE 1101
#define IDS_ALREADY_INSTALLED 1102
#define IDS_NEWER_INSTALLED 1103
#define IDS_CONFIRM_REINSTALLATION 1104
#define IDS_CONTINUE_OR_EXIT 1105
#define IDS_CONTINUE 1106
#define IDS_EXIT_INSTALLATION 1107
#define IDS_START_INSTALLATION 1108
#define IDS_CONFIRM_EXIT 1110
#define IDS_SELECT_FOLDER 1111
#define IDS_MENU_SHORTCUT 1112
#define IDS_DESKTOP_SHORTCUT 1113
#define IDS_PREPARING 1114
#define IDS_COPYING_FILE 1115
#define IDS_CREATING_SHORTCUTS 1117
#define IDS_WRITING_REGISTRY 1118
#define IDS_WRITING_INSTALLATION_DATA 1119
#define IDS_COMPLETE 1120
#define IDS_INSTALLATION_FAILED 1121
#define IDS_OPTIONS 1122
#define IDS_INSTALLATION_FOLDER 1123
#define IDS_CREATING_MENU_SHORTCUT 1124
#define IDS_CREATING_DESKTOP_SHORTCUT 1125
#define IDS_NEED_ADMINISTRATOR 1126
#define IDS_CLOSE_APPLICATION 1127
#define IDS_INSTALLER_IN_ENGLISH 1129
#define IDS_UPDATING_DIRECTX 1131
