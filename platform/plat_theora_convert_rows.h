// The row loops shared by the wide forms of the Theora module's conversion. A form gives its width
// and three steps for it:
//   kPixels                               pixels converted by one step
//   HalfTerms(pCb, pCr)                   the chroma terms of kPixels pixels that share a sample per pair
//   FullTerms(pCb, pCr, &even, &odd)      the chroma terms of kPixels pixels with a sample each
//   Convert(pY, even, odd, pOut)          kPixels B,G,R,A pixels from their luma and chroma terms
// Each form's own file includes this and is built for its instruction set; the loops return the
// first column they left to the plain form.
#pragma once

#include <cstdint>

template <class FORM>
int ConvertRowWith(const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, int x0, int x, int nWidth, int nShiftX,
                   uint8_t* pOut)
{
    if (nShiftX == 1) {
        for (; x + FORM::kPixels <= nWidth; x += FORM::kPixels) {
            const int c = (x0 + x) >> 1;
            const auto t = FORM::HalfTerms(pCb + c, pCr + c);
            FORM::Convert(pY + x0 + x, t, t, pOut + x * 4);
        }
    } else {
        for (; x + FORM::kPixels <= nWidth; x += FORM::kPixels) {
            decltype(FORM::HalfTerms(pCb, pCr)) tE, tO;
            FORM::FullTerms(pCb + x0 + x, pCr + x0 + x, &tE, &tO);
            FORM::Convert(pY + x0 + x, tE, tO, pOut + x * 4);
        }
    }
    return x;
}

// Two rows of a 4:2:0 picture that share their chroma row.
template <class FORM>
int ConvertRowPairWith(const uint8_t* pY0, const uint8_t* pY1, const uint8_t* pCb, const uint8_t* pCr, int x0, int x,
                       int nWidth, uint8_t* pOut0, uint8_t* pOut1)
{
    for (; x + FORM::kPixels <= nWidth; x += FORM::kPixels) {
        const int c = (x0 + x) >> 1;
        const auto t = FORM::HalfTerms(pCb + c, pCr + c);
        FORM::Convert(pY0 + x0 + x, t, t, pOut0 + x * 4);
        FORM::Convert(pY1 + x0 + x, t, t, pOut1 + x * 4);
    }
    return x;
}
