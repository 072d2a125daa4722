// The BT.601 (studio range) conversion of the Theora module's pictures into B,G,R,A rows (alpha
// 255), in a plain form and in SSE2, AVX2 and AVX-512 forms that give exactly its bytes.
//
// The steps, per pixel, in integers (mulhi(a, b) = (a x b) >> 16, rounding down):
//   d = (Cb - 128) x 128, e = (Cr - 128) x 128, yy = mulhi((Y - 16) x 128, 4768)      (1.164)
//   R = clamp((yy + mulhi(e, 6537) + 4) >> 3)                                         (1.596)
//   G = clamp((yy + mulhi(d, -1602) + mulhi(e, -3330) + 4) >> 3)                      (-0.391, -0.813)
//   B = clamp((yy + mulhi(d, 8266) + 4) >> 3)                                         (2.018)
// with clamp to 0..255. Every form gives these bytes for every sample value and every column, so a
// row's bytes do not depend on the processor, the width or where the picture starts.
#pragma once

#include <cstdint>

enum {
    THEORA_CONVERT_PLAIN = 0,
    THEORA_CONVERT_SSE2 = 1,
    THEORA_CONVERT_AVX2 = 2,
    THEORA_CONVERT_AVX512 = 3,   // AVX-512 F, BW and VBMI
};

// The form the module uses: the best this processor and system run, capped by the engine's switch
// KOLVEX_PIXEL_SIMD=none|sse2|avx2|avx512 (read once).
int TheoraConvertLevel(void);
// 1 when the form of that level was built and runs here, else 0.
int TheoraConvertLevelRuns(int nLevel);
// The name of a level as KOLVEX_PIXEL_SIMD spells it.
const char* TheoraConvertLevelName(int nLevel);

// One picture row with the form of nLevel (one that runs here): nWidth pixels from luma column x0;
// the chroma column of picture column x is (x0 + x) >> nShiftX (nShiftX 0 or 1).
void TheoraConvertRow(int nLevel, const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, int x0, int nWidth,
                      int nShiftX, uint8_t* pOut);
// Two rows that share their chroma row (4:2:0): the chroma terms are made once for both; each row
// gets exactly what TheoraConvertRow gives it.
void TheoraConvertRowPair(int nLevel, const uint8_t* pY0, const uint8_t* pY1, const uint8_t* pCb, const uint8_t* pCr,
                          int x0, int nWidth, uint8_t* pOut0, uint8_t* pOut1);

// The wide forms' blocks, for the row forms above: whole blocks of a row from picture column x up
// to nWidth; they return the first column left. With nShiftX = 1, x0 + x is even. Call only where
// TheoraConvertLevelRuns says 1 for the level.
int TheoraConvertAvx2(const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, int x0, int x, int nWidth,
                      int nShiftX, uint8_t* pOut);
int TheoraConvertAvx2Pair(const uint8_t* pY0, const uint8_t* pY1, const uint8_t* pCb, const uint8_t* pCr, int x0,
                          int x, int nWidth, uint8_t* pOut0, uint8_t* pOut1);
int TheoraConvertAvx512(const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, int x0, int x, int nWidth,
                        int nShiftX, uint8_t* pOut);
int TheoraConvertAvx512Pair(const uint8_t* pY0, const uint8_t* pY1, const uint8_t* pCb, const uint8_t* pCr, int x0,
                            int x, int nWidth, uint8_t* pOut0, uint8_t* pOut1);
// 1 when the processor (and the system) run the form and it was built, else 0.
int PlatTheoraHasAvx2(void);
int PlatTheoraHasAvx512(void);
