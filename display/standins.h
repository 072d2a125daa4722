// The Direct3D renderer is not built yet. Until it is, these stand-ins with their final names keep
// their places in the hook tables: the steps do nothing (as when no GPU exists) and succeed.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/plat_window.h"

struct TREE_NODE;
struct LAYER;
struct WINDOW_STATE;

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
