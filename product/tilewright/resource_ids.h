/* Resource ids of Tilewright and of its language libraries. */
#pragma once

#define IDI_TILEWRIGHT 1
#define IDI_LAYOUT 2

#define IDM_OPEN 40001
#define IDM_RELOAD 40002
#define IDM_EXIT 40003
#define IDM_ABOUT 40004

/* Menus and windows */
#define IDS_MENU_FILE 100
#define IDS_MENU_OPEN 101
#define IDS_MENU_RELOAD 102
#define IDS_MENU_EXIT 103
#define IDS_MENU_HELP 104
#define IDS_MENU_ABOUT 105
#define IDS_WINDOW_TITLE 106
#define IDS_FILTER_LAYOUTS 107
#define IDS_FILTER_ALL 108
#define IDS_NO_LAYOUT 109
#define IDS_ABOUT_TITLE 110
#define IDS_ABOUT_TEXT 111

/* The open layout */
#define IDS_SUMMARY 120
#define IDS_AREA 121
#define IDS_SLOT_TILES 122
#define IDS_TEXTURE_MISSING 123
#define IDS_MODULE_MISSING 124
#define IDS_TOTAL 125
#define IDS_NO_SLOT_TEXTURE 126

/* Failures */
#define IDS_OPEN_FAILED 140
#define IDS_AT_LINE 141
#define IDS_BAD_ARGUMENTS 142
#define IDS_REGISTRATION_FAILED 143
#define IDS_REGISTERED 144
#define IDS_UNREGISTERED 145
#define IDS_FILE_TOO_LARGE 146

/* Format errors, in the order of tilewright::format_error */
#define IDS_FORMAT_ERROR_FIRST 160
#define IDS_ERR_HEADER 160
#define IDS_ERR_VERSION 161
#define IDS_ERR_KEYWORD 162
#define IDS_ERR_VALUE 163
#define IDS_ERR_MISSING 164
#define IDS_ERR_EXTRA 165
#define IDS_ERR_ORDER 166
#define IDS_ERR_DUPLICATE 167
#define IDS_ERR_OUTSIDE 168
#define IDS_ERR_EMPTY 169
#define IDS_ERR_COVERAGE 170
#define IDS_ERR_ENCODING 171
#define IDS_ERR_TOO_MANY 172

/* File types */
#define IDS_LAYOUT_TYPE 180
