#pragma once
// String table of the module (texts in Strings.rc).
#define IDS_SUBMENU_CAPTION 65288
#define IDS_BACKUP_ITEM 65289
#define IDS_BACKUP_HELP 65290
#define IDS_RESTORE_ITEM 65291
#define IDS_RESTORE_HELP 65292
