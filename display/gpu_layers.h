// Layers drawn by the drawing device: the texture grid of a layer and its upload, the frame drawn
// off-screen once per frame and read back into the capture layer, the drawing of one layer (tile
// quads, blend states per blend mode, the effect passes for masks and second layers), and the two
// GPU operations of the image-effect command (paste into textures, capture through the device).
#pragma once
#include <cstdint>

#include "display/gpu_device.h"

struct LAYER;
struct TREE_NODE;

enum { KX_TEXGRID_MAX = 32, KX_TEXGRID_MAX_TILES = 256 };

// The tiling of a width x height picture: column widths and row heights with their counts, under the
// device maximum, the user tile bounds and the layer's tile limits (each only when above 0). 0; -1
// after the overflow box (32 columns or rows, or more than 256 tiles).
int ComputeTextureGrid(int nWidth, int nHeight, int nLimitWidth, int nLimitHeight, int32_t* pColumns,
                       int* pColumnCount, int32_t* pRows, int* pRowCount);

int UploadLayerTextures(LAYER* pLayer, int nMip, int nTileWidthLimit, int nTileHeightLimit);
int PasteLayerTexturesGpu(TREE_NODE* pSource, TREE_NODE* pTarget);
// The destination (first) receives the capture of the source (second): the image-effect command
// passes its two layers in this order.
int CaptureLayerGpu(TREE_NODE* pDest, TREE_NODE* pSource);
void ReleaseLayerTextures(LAYER* pLayer);
// Mode 1 releases, mode 2 uploads again every texture layer under the node. 0 / -1.
int ProcessLayerTextures(TREE_NODE* pNode, int nMode);
int RenderGpuFrame(void);
int DrawLayerTreeGpu(TREE_NODE* pNode);
int DrawLayerGpu(LAYER* pLayer, LAYER* pMask, LAYER* pSecond, int bUseOpacity, int nBlendMode);
int ReadBackRenderTarget(SG_SURFACE* pSurface, int nWidth, int nHeight, uint8_t* pPixels);
void ClearRenderTarget(void);
void EndEffect(void);
void EndSceneWithEffect(void);
void BuildQuadVertex(QUAD_VERTEX* pV, float x, float y, float z, uint32_t dwColor, float u, float v);
void TransformQuad(QUAD_VERTEX* pV, float dx, float dy, float dz);
// The four vertices (strip order) of the layer's tile at column c, row r, rotated about the anchor.
void BuildLayerTileQuad(const LAYER* pLayer, int c, int r, uint32_t dwColor, QUAD_VERTEX* pOut);
// The signed fractional part of v in 16.16 fixed point.
double Frac16(double v);
