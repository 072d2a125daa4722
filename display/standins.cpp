// Stand-ins for the display's parts that are not built yet (see display/standins.h).
#include "display/standins.h"

#include "script/command_ids.h"
#include "script/dispatch.h"

MENU_ITEM* AttachMenuItem(TREE_NODE*, const char*) { return nullptr; }
void ReleaseMenuItem(MENU_ITEM*) {}
void CreateMenuHostWindow(void) {}
void UpdateMenuBarAutoShow(void) {}
PLAT_HWND g_hMenuHostWnd = 0;
int SetWindowMenuBar(const char*, PLAT_HWND) { return 0; }
void DetachMenuBar(PLAT_HWND) {}
void ServePopupMenuRequest(void) {}
void DestroyMenus(void) {}
int CmdMenuItem(void) { return ReportCommandNotBuilt(CMDID_MENU_ITEM); }
int CmdMenuPopup(void) { return ReportCommandNotBuilt(CMDID_MENU_POPUP); }
int CmdMenuDelete(void) { return ReportCommandNotBuilt(CMDID_MENU_DELETE); }
int CmdMenuGet(void) { return ReportCommandNotBuilt(CMDID_MENU_GET); }
int CmdArgsOnly66(void) { return ReportCommandNotBuilt(CMDID_ARGS_ONLY66); }
int CmdArgsOnly67(void) { return ReportCommandNotBuilt(CMDID_ARGS_ONLY67); }
int CmdArgsOnly68(void) { return ReportCommandNotBuilt(CMDID_ARGS_ONLY68); }
int SetTrayPopupMenu(const char*) { return 0; }
