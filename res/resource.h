// Resource ids of the launcher: shared by updater.rc and the window code.
#pragma once

#define IDI_UPDATER 1           // the program's icon (the lowest id: the one Explorer shows)
#define IDD_UPDATE 101          // the update dialog
#define IDB_CANCEL_LIT 102      // Cancel under the pointer
#define IDB_CANCEL 103          // Cancel
#define IDB_CLOSE_LIT 104       // Close under the pointer
#define IDB_CLOSE 105           // Close
#define IDB_BACKGROUND 107      // the whole face of the update window

#define IDC_PROGRESS 1002       // progress bar of the update dialog
#define IDC_INFO 1003           // read-only text box of the update dialog
