// Row routines for 32-bit pixels (bytes B, G, R, A in memory order): every loop of the engine that
// fills, copies or mixes rows goes through the one table g_PixelOps, filled once at start-up.
//
// Each slot has a result defined to the bit. There are two sets of results: level 1 (the plain
// set) and level 2/3 (the block set, chosen when the processor has SSE or SSE2 and the user
// settings allow it). The two sets differ on purpose in a few slots (the a = 128 case of the
// blends in 8-byte blocks, the weights of alpha-over and add-alpha, the mask formula); several
// level 2/3 routines also treat the pixels before the first 8-byte aligned destination address
// (the head) differently from the 8-byte blocks after it, so results depend on the address.
// Pixel buffers are 64-byte aligned, which makes that reproducible.
//
// The routines below named after their slot are the plain forms, written directly from the
// formulas: PixelOpX is the level 1 form, PixelOpXSSE the level 2/3 form where it differs. The
// vector files (SSE2, and AVX2 chosen at run time) supply faster forms that give exactly the
// same bytes for every input, length and address; the tests compare them with the plain forms.
//
// All lengths are byte counts. Routines that work per pixel use n / 4 whole pixels and leave any
// odd trailing bytes alone. Opacities are 0..256 (256 opaque); values outside are taken as the
// nearest end. Rows given to one call must not overlap, except that dst may be one of the sources
// where a routine reads and writes the same position (CrossFade's out may be first or second).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/pixel_access.h"

typedef void (*PFN_PIXEL_CLEAR)(void* pDst, size_t n);
typedef void (*PFN_PIXEL_FILL8)(void* pDst, size_t n, uint8_t bValue);
typedef void (*PFN_PIXEL_FILL32)(void* pDst, size_t n, uint32_t dwValue);
typedef void (*PFN_PIXEL_COPY)(void* pDst, const void* pSrc, size_t n);
typedef void (*PFN_PIXEL_MIX)(uint8_t* pDst, const uint8_t* pSrc, size_t n);
typedef void (*PFN_PIXEL_MIX_OPACITY)(uint8_t* pDst, const uint8_t* pSrc, int nOpacity, size_t n);
typedef void (*PFN_PIXEL_MASK)(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int nThreshold,
                               int nVagueness, size_t n);
typedef void (*PFN_PIXEL_CROSSFADE)(uint8_t* pOut, const uint8_t* pFirst, const uint8_t* pSecond, int t, size_t n);
typedef void (*PFN_PIXEL_REDUCE)(uint8_t* pDst, const uint8_t* pSrc, size_t nSrcWidth, size_t nOutPixels);
typedef void (*PFN_PIXEL_MIX_TWO_OPACITIES)(uint8_t* pDst, const uint8_t* pSrc, int nDstOpacity, int nSrcOpacity,
                                            size_t n);

struct PIXEL_OPS {
    PFN_PIXEL_CLEAR PixelOpClear;
    PFN_PIXEL_FILL8 PixelOpFill8;
    PFN_PIXEL_FILL32 PixelOpFill32;
    PFN_PIXEL_COPY PixelOpCopy;
    PFN_PIXEL_MIX_OPACITY PixelOpLerp;
    PFN_PIXEL_MIX PixelOpAlphaOver;
    PFN_PIXEL_MIX_OPACITY PixelOpAlphaOverOpacity;
    PFN_PIXEL_MASK PixelOpMask;
    PFN_PIXEL_CROSSFADE PixelOpCrossFade;
    PFN_PIXEL_MIX PixelOpAdd;
    PFN_PIXEL_MIX_OPACITY PixelOpAddOpacity;
    PFN_PIXEL_MIX_OPACITY PixelOpAddAlpha;   // the opacity is not read
    PFN_PIXEL_MIX_OPACITY PixelOpAddAlphaOpacity;
    PFN_PIXEL_MIX PixelOpSubtract;
    PFN_PIXEL_MIX PixelOpMultiply;
    PFN_PIXEL_MIX PixelOpScreen;
    PFN_PIXEL_MIX_OPACITY PixelOpScreenOpacity;
    PFN_PIXEL_MIX PixelOpLighten;
    PFN_PIXEL_MIX PixelOpDarken;
    PFN_PIXEL_MIX PixelOpLinearBurn;
    PFN_PIXEL_MIX PixelOpLinearLight;
    PFN_PIXEL_REDUCE PixelOpReduce2x2;
    PFN_PIXEL_MIX PixelOpCompose;
    PFN_PIXEL_MIX_OPACITY PixelOpComposeOpacity;
    PFN_PIXEL_MIX_OPACITY PixelOpComposeDestOpacity;
    PFN_PIXEL_MIX_TWO_OPACITIES PixelOpComposeBothOpacity;
    // Processor features, 0 or 1, one byte each at a 4-byte stride.
    alignas(4) uint8_t bMMX;
    alignas(4) uint8_t b3DNow;
    alignas(4) uint8_t b3DNowExt;
    alignas(4) uint8_t bSSE;
    alignas(4) uint8_t bSSE2;
    alignas(4) uint8_t bSSE3;
    alignas(4) uint8_t bSSSE3;
    alignas(4) uint8_t bSSE41;
    alignas(4) uint8_t bSSE42;
    alignas(4) uint8_t bSSE4a;
    alignas(4) uint8_t bXOP;
};

// The engine's table. Until InitPixelOps runs it holds the level 1 routines, so an early caller
// never finds an empty slot. Written only by InitPixelOps.
extern PIXEL_OPS g_PixelOps;

// The weight of each mask byte value for the layer being blended (256 entries; values 1 or less
// mean no effect). The compositor rebuilds it before each masked blend; PixelOpMask and the mask
// spans read it.
extern int32_t g_aiMaskCurve[256];

// Instruction sets the routines may use, beyond plain C++.
enum {
    PIXEL_SIMD_NONE = 0,
    PIXEL_SIMD_SSE2 = 1,
    PIXEL_SIMD_AVX2 = 2,
    PIXEL_SIMD_AVX512 = 3,   // AVX-512 F and BW: the level 1 alpha-over; everything else as AVX2
};

// The level chosen by InitPixelOps (1, 2 or 3) and the instruction set installed with it.
extern int g_nPixelOpsLevel;
extern int g_nPixelOpsSimd;

// Start-up, right after the user settings files are read and before the system facts are
// gathered: detects the processor's features, chooses the level from them and from g_bAllowSSE and
// g_bAllowSSE2, and fills the slots. For tests and comparisons two environment variables override
// the choice: KOLVEX_PIXEL_LEVEL=1|2|3 forces the level, KOLVEX_PIXEL_SIMD=none|sse2|avx2|avx512 caps the
// instruction set (never above what the processor has).
void InitPixelOps(void);

// Sets the 11 feature flags of g_PixelOps from CPUID (all 0 when the processor cannot be asked).
void DetectCPUFeatures(void);
// 1 when the processor answers CPUID, else 0.
int HasCPUID(void);
// The level rule: 1; 2 when SSE is present and allowed; then, independently, 3 when SSE2 is present
// and allowed. Level 3 installs the routines of level 2.
int ChoosePixelOpsLevel(uint8_t bSSE, uint8_t bSSE2, uint8_t bAllowSSE, uint8_t bAllowSSE2);
// The best instruction set the processor and the system support here.
int DetectPixelOpsSimd(void);
// The instruction set the engine installs: DetectPixelOpsSimd, capped by KOLVEX_PIXEL_SIMD when
// that is set. The benchmarks of the routines measure every set up to this one.
int SelectPixelOpsSimd(void);
// The set's name as KOLVEX_PIXEL_SIMD spells it ("none", "sse2", "avx2", "avx512").
const char* PixelOpsSimdName(int nSimd);
// Fills the 26 slots of *pOps for a level (1..3) using at most the given instruction set (capped by
// what the processor supports); the feature flags are left as they are.
void FillPixelOps(PIXEL_OPS* pOps, int nLevel, int nSimd);

// The plain routines. Level 1 and shared.
void PixelOpClear(void* pDst, size_t n);
void PixelOpFill8(void* pDst, size_t n, uint8_t bValue);
void PixelOpFill32(void* pDst, size_t n, uint32_t dwValue);
void PixelOpCopy(void* pDst, const void* pSrc, size_t n);
void PixelOpLerp(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n);
void PixelOpAlphaOver(uint8_t* pDst, const uint8_t* pSrc, size_t n);
void PixelOpAlphaOverOpacity(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n);
void PixelOpMask(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int nThreshold, int nVagueness, size_t n);
void PixelOpCrossFade(uint8_t* pOut, const uint8_t* pFirst, const uint8_t* pSecond, int t, size_t n);
void PixelOpAdd(uint8_t* pDst, const uint8_t* pSrc, size_t n);
void PixelOpAddOpacity(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n);
void PixelOpAddAlpha(uint8_t* pDst, const uint8_t* pSrc, int nIgnored, size_t n);
void PixelOpAddAlphaOpacity(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n);
void PixelOpSubtract(uint8_t* pDst, const uint8_t* pSrc, size_t n);
void PixelOpMultiply(uint8_t* pDst, const uint8_t* pSrc, size_t n);
void PixelOpScreen(uint8_t* pDst, const uint8_t* pSrc, size_t n);
void PixelOpScreenOpacity(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n);
void PixelOpLighten(uint8_t* pDst, const uint8_t* pSrc, size_t n);
void PixelOpDarken(uint8_t* pDst, const uint8_t* pSrc, size_t n);
void PixelOpLinearBurn(uint8_t* pDst, const uint8_t* pSrc, size_t n);
void PixelOpLinearLight(uint8_t* pDst, const uint8_t* pSrc, size_t n);
void PixelOpReduce2x2(uint8_t* pDst, const uint8_t* pSrc, size_t nSrcWidth, size_t nOutPixels);
void PixelOpCompose(uint8_t* pDst, const uint8_t* pSrc, size_t n);
void PixelOpComposeOpacity(uint8_t* pDst, const uint8_t* pSrc, int p, size_t n);
void PixelOpComposeDestOpacity(uint8_t* pDst, const uint8_t* pSrc, int p, size_t n);
void PixelOpComposeBothOpacity(uint8_t* pDst, const uint8_t* pSrc, int pd, int ps, size_t n);

// The plain level 2/3 forms of the slots whose results differ from level 1. (Fill8, Fill32,
// Multiply, Screen, Lighten and Darken have block forms at level 2/3 with the level 1 results.)
void PixelOpLerpSSE(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n);
void PixelOpAlphaOverSSE(uint8_t* pDst, const uint8_t* pSrc, size_t n);
void PixelOpAlphaOverOpacitySSE(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n);
void PixelOpMaskSSE(uint8_t* pDst, const uint8_t* pSrc, const uint8_t* pMask, int nThreshold, int nVagueness,
                    size_t n);
void PixelOpCrossFadeSSE(uint8_t* pOut, const uint8_t* pFirst, const uint8_t* pSecond, int t, size_t n);
void PixelOpAddAlphaSSE(uint8_t* pDst, const uint8_t* pSrc, int nIgnored, size_t n);
void PixelOpAddAlphaOpacitySSE(uint8_t* pDst, const uint8_t* pSrc, int a, size_t n);
void PixelOpReduce2x2SSE(uint8_t* pDst, const uint8_t* pSrc, size_t nSrcWidth, size_t nOutPixels);

// Bytes a level 2/3 routine handles singly before its first 8-byte block: up to the first 8-byte
// aligned destination address, in steps of nStep bytes (1 or 4), at most n. A pixel row whose
// address is not a multiple of 4 never reaches a block, so all its whole pixels are head pixels.
size_t PixelOpHeadBytes(const void* pDst, size_t n, size_t nStep);

// The vector forms, each in its own file: they replace the slots they have faster forms for.
// Only FillPixelOps calls them, after checking that the processor has the instructions.
void ApplySSE2PixelOps(PIXEL_OPS* pOps, int nLevel);
void ApplyAVX2PixelOps(PIXEL_OPS* pOps, int nLevel);
void ApplyAVX512PixelOps(PIXEL_OPS* pOps, int nLevel);
