// The BT.601 conversion of the Theora module's pictures, shared by its plain, SSE2 and AVX2 forms.
#pragma once

#include <cstdint>

// AVX2 form, 32 pixels at a time, with exactly the results of the SSE2 form (the same 16-bit steps
// on twice the lanes). Converts whole blocks of 32 pixels of a row from column x up to nWidth and
// returns the first column it left; chroma columns are (x0 + x) >> nShiftX, and with nShiftX = 1,
// x0 + x is even. Call only where PlatTheoraHasAvx2 says 1.
int TheoraConvertAvx2(const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, int x0, int x, int nWidth,
                      int nShiftX, uint8_t* pOut);
// The same for two rows of 4:2:0 pictures that share their chroma row (nShiftX = 1): the chroma
// terms are made once for both. Each row gets exactly what TheoraConvertAvx2 gives it.
int TheoraConvertAvx2Pair(const uint8_t* pY0, const uint8_t* pY1, const uint8_t* pCb, const uint8_t* pCr, int x0,
                          int x, int nWidth, uint8_t* pOut0, uint8_t* pOut1);
// 1 when the processor (and the system) run AVX2 and the AVX2 form was built, else 0.
int PlatTheoraHasAvx2(void);
