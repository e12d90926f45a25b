/* Resource ids of the uninstall program. */
#pragma once

#define IDI_UNINSTALL 1

#define IDS_CAPTION 100
#define IDS_SETUP_RUNNING 101
#define IDS_APPLICATION_RUNNING 102
#define IDS_NO_LOG 103
#define IDS_CONFIRM 104
#define IDS_REMOVED 105
#define IDS_NOT_ALL_REMOVED 106
#define IDS_KEPT 107
#define IDS_FILE_TYPES 108
#define IDS_MORE 109
#define IDS_ERROR 110

/* The first and last string ids, for checks over the whole table. */
#define IDS_FIRST IDS_CAPTION
#define IDS_LAST IDS_ERROR
