// Stand-ins for the display's parts that are not built yet (see display/standins.h).
#include "display/standins.h"

#include "script/command_ids.h"
#include "script/dispatch.h"

int ClickLayerHit(WINDOW_STATE*) { return 0; }
void MarkLayerSetDirty(WINDOW_STATE*) {}
void RemoveTrayIcon(void) {}
int CmdMouse(void) { return ReportCommandNotBuilt(CMDID_MOUSE); }
int CmdTrayIcon(void) { return ReportCommandNotBuilt(CMDID_TRAY_ICON); }
int CmdArgsOnly101(void) { return ReportCommandNotBuilt(CMDID_ARGS_ONLY101); }
int CmdWindow(void) { return ReportCommandNotBuilt(CMDID_WINDOW); }
int CmdWindowHide(void) { return ReportCommandNotBuilt(CMDID_WINDOW_HIDE); }
int CmdWindowInfo(void) { return ReportCommandNotBuilt(CMDID_WINDOW_INFO); }

int InitDirect3D(void) { return 0; }
void ReleaseDirect3D(void) {}
void ResetDirect3D(void) {}
void ReleaseLayerTextures(LAYER*) {}
int UploadLayerTextures(LAYER*, int, int, int) { return 0; }
int RenderGpuFrame(void) { return 0; }
int PasteLayerTexturesGpu(TREE_NODE*, TREE_NODE*) { return 0; }
int CaptureLayerGpu(TREE_NODE*, TREE_NODE*) { return 0; }
