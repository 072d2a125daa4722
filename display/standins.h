// The window, mouse and tray commands and the Direct3D renderer are not built yet. Until they are,
// these stand-ins with their final names keep their places in the hook tables and the command
// table: the steps do nothing (as when no GPU exists) and the commands report that they are not part
// of this build.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/plat_window.h"

struct TREE_NODE;
struct LAYER;
struct WINDOW_STATE;

// Window, mouse and tray commands: no click layer is hit, no tray icon exists.
int ClickLayerHit(WINDOW_STATE* pState);
void MarkLayerSetDirty(WINDOW_STATE* pState);
void RemoveTrayIcon(void);
int CmdMouse(void);
int CmdTrayIcon(void);
int CmdArgsOnly101(void);
int CmdWindow(void);
int CmdWindowHide(void);
int CmdWindowInfo(void);

// The Direct3D renderer: never started (Direct3D drawing needs the E-mote component); its layer
// operations change nothing and succeed.
int InitDirect3D(void);
void ReleaseDirect3D(void);
void ResetDirect3D(void);
void ReleaseLayerTextures(LAYER* pLayer);
int UploadLayerTextures(LAYER* pLayer, int nMip, int nTileWidthLimit, int nTileHeightLimit);
int RenderGpuFrame(void);
int PasteLayerTexturesGpu(TREE_NODE* pFirst, TREE_NODE* pSecond);
int CaptureLayerGpu(TREE_NODE* pFirst, TREE_NODE* pSecond);
