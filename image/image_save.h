// Image savers: a layer's display pixels stored as a BMP, JPEG, WebP or PNG file.
//
// Every saver builds the whole file in memory first and then writes it through a temporary file
// that is renamed over the target only when it is complete, so a failed or short write never
// leaves a truncated picture behind (an existing file is kept as it was). A file that cannot be
// written shows the saver's "File Create Error." box. The boxes are plain message boxes, not
// engine errors: the script goes on. A layer without display pixels or with a size of 0 gives -1.
#pragma once
#include <cstdint>

struct LAYER;
struct TREE_NODE;

enum {
    KX_WEBP_QUALITY_LOSSLESS = 101,     // the quality that asks for lossless WebP
    KX_WEBP_MIN_OUTPUT = 1048576,       // smallest WebP output buffer
    KX_WEBP_ENCODE_METHOD = 6,          // the encoder's slowest, smallest method
};

// 24-bit bottom-up BMP (alpha dropped; rows padded with zero bytes to a multiple of 4). 0 or -1.
int SaveBMP(const LAYER* pLayer, const char* pszPath);
// Baseline colour JPEG of quality 1..100 (alpha dropped). 0, -1 when the file cannot be written
// (or nothing to save), -2 when the JPEG library fails.
int SaveJPEG(const LAYER* pLayer, const char* pszPath, int nQuality);
// WebP of quality 0..100, or KX_WEBP_QUALITY_LOSSLESS for lossless (pixels and alpha exactly).
// 0, or -1 when the picture cannot be encoded ("エンコードエラー." box) or the file not written.
int SaveWEBP(const LAYER* pLayer, const char* pszPath, int nQuality);
// PNG with zlib level 0..9: RGBA when the layer has alpha, else RGB. 0; 1 when the engine stop
// flag was set during the write; -1 when the picture cannot be encoded or the file not written.
int SavePNG(const LAYER* pLayer, const char* pszPath, int nLevel);
// The layer of a layer-tree node saved in a format of KX_SAVE_FORMAT_* (script/script_hooks.h)
// with the level or quality given: the saver's result, -1 for a node without a layer.
int SaveNodeLayerImage(TREE_NODE* pNode, const char* pszPath, int nFormat, int nLevel);
