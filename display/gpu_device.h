// The drawing device: made at start-up when GPU drawing is on, tested against the capabilities it
// needs, given its render states, targets and effect, and released or rebuilt after a device loss,
// a reset request or a size change. The device is the software device of the platform.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/plat_softgpu.h"

struct LAYER;
struct TREE_NODE;

// The vertex of every quad: transformed position, diffuse colour, eight texture pairs (84 bytes).
typedef SG_VERTEX QUAD_VERTEX;

// The present parameters the device is made with.
struct D3D_PRESENT_PARAMS {
    int nBackBufferWidth, nBackBufferHeight;
    int nBackBufferFormat;
    int nBackBufferCount;
    int bWindowed;
};

extern SG_OBJECT* g_pD3D;
extern SG_DEVICE* g_pD3DDevice;
extern D3D_PRESENT_PARAMS g_d3dpp;
extern int g_nBackBufferFormat;
extern int g_nMaxTextureWidth, g_nMaxTextureHeight;
extern int g_nRenderWidth, g_nRenderHeight;
extern SG_SURFACE* g_pBackBuffer;       // the device's back buffer (not released by us)
extern SG_SURFACE* g_pScreenReadback;   // system-memory read-back stage of the render size
extern SG_TEXTURE* g_pCaptureTexture;   // "GetSS"
extern SG_TEXTURE* g_pRenderTexture;    // "Render"
extern SG_TEXTURE* g_pWhiteTexture;
extern SG_TEXTURE* g_pBlackTexture;
extern SG_EFFECT* g_lpEffect;
extern uint8_t g_bVertexDeclMade;
// The capability test has run in this process (it runs once).
extern uint8_t g_bD3DCapsChecked;

// 0 ok, 1 fall back to CPU drawing (everything made so far is released), -1 fatal.
int InitDirect3D(void);
int CreateD3DObjects(void);
int CreateD3DDevice(int nAdapter);
int CheckDeviceCaps(void);
int InitDeviceStates(void);
int CreateVertexDeclaration(void);
int CreateEffect(void);
void InitPresentParameters(void);
void ReleaseDirect3D(void);
// A reset request or a size change: the software device is never lost, so only the targets whose
// size is the main window's logical size are made again, and only when that size changed; layer
// textures and players stay. A device that reports a loss is rebuilt by RebuildDirect3D.
void ResetDirect3D(void);
// The full rebuild after a device loss: release, make again, upload every texture layer again
// from its pixels. 0; -1 after falling back to CPU drawing (texture layers become CPU layers).
int RebuildDirect3D(void);
// Sets one of the device's fixed-function transforms (SG_TS_*, 16 floats); nothing without a device.
void SetGpuDeviceTransform(int nState, const float* pMatrix);
// CPU drawing from now on: the switches and every texture layer of the main window back to a
// CPU layer.
void FallBackToCpuDrawingGpu(void);

// A BMP file image of width x height pixels of the 32-bit fill (see the file format): "BM", size,
// offset 54, a 40-byte header, bottom-up, 32 bits. NULL when memory runs out; freed with free().
uint8_t* BuildBMPInMemory(int nWidth, int nHeight, uint32_t dwFill, size_t* pSize);

// The main window's logical size.
void GetMainLogicalSize(int* pWidth, int* pHeight);
