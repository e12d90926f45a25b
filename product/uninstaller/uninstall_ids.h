/* Resource ids of the uninstall program. */
#pragma once

#define IDI_UNINSTALL 1
#define IDS_CAPTION 100
#define IDS_NOT_AVAILABLE 101
