// AVX-512 (BW) form of alpha-over, 64 bytes at a time: the compositor's commonest blend, which at
// 32 bytes a time is held back by its arithmetic rather than by memory. This file alone is built
// for AVX-512; FillPixelOps installs it only on a processor that has it. Like the AVX2 file it
// uses nothing but intrinsics and functions of its own.
//
// It gives the plain forms' bytes exactly: the head before the first 8-byte block and the odd
// pixel after the last one go to the plain forms, as in the narrower vector forms, and the block
// bytes that do not fill a whole vector are done with a masked load and store.
#include "imageproc/pixel_ops.h"

#if defined(__AVX512F__) && defined(__AVX512BW__)
#include <immintrin.h>

namespace {

using T = __m512i;

// Each pixel's alpha byte, zero-extended, in both 16-bit words of the pixel.
inline T AlphaWords(T y)
{
    return _mm512_or_si512(_mm512_srli_epi32(y, 24), _mm512_slli_epi32(_mm512_srli_epi32(y, 24), 16));
}

// The pixels' B, R bytes (even) and G, A bytes (odd) each sit in one 16-bit word of the pixel;
// the two weights of a pixel add up to 257, so no sum leaves its word.
// Level 1: (d x (256 - a) + s x (a + 1)) >> 8 per byte.
inline T AlphaOver1Vec(T x, T y)
{
    const T lo = _mm512_set1_epi16(0x00FF);
    const T a = AlphaWords(y);
    const T wS = _mm512_add_epi16(a, _mm512_set1_epi16(1)), wD = _mm512_sub_epi16(_mm512_set1_epi16(256), a);
    const T even = _mm512_add_epi16(_mm512_mullo_epi16(_mm512_and_si512(x, lo), wD),
                                    _mm512_mullo_epi16(_mm512_and_si512(y, lo), wS));
    const T odd = _mm512_add_epi16(_mm512_mullo_epi16(_mm512_srli_epi16(x, 8), wD),
                                   _mm512_mullo_epi16(_mm512_srli_epi16(y, 8), wS));
    return _mm512_or_si512(_mm512_srli_epi16(even, 8), _mm512_andnot_si512(lo, odd));
}

// Level 2/3: ((s x (a + 1)) >> 8) + ((d x (256 - a)) >> 8) per byte, the bytes moved into the high
// halves of the words so that the high half of each product is the shifted product.
inline T AlphaOver23Vec(T x, T y)
{
    const T hi = _mm512_set1_epi16(static_cast<int16_t>(0xFF00));
    const T a = AlphaWords(y);
    const T wS = _mm512_add_epi16(a, _mm512_set1_epi16(1)), wD = _mm512_sub_epi16(_mm512_set1_epi16(256), a);
    const T even = _mm512_add_epi16(_mm512_mulhi_epu16(_mm512_slli_epi16(y, 8), wS),
                                    _mm512_mulhi_epu16(_mm512_slli_epi16(x, 8), wD));
    const T odd = _mm512_add_epi16(_mm512_mulhi_epu16(_mm512_and_si512(y, hi), wS),
                                   _mm512_mulhi_epu16(_mm512_and_si512(x, hi), wD));
    return _mm512_or_si512(even, _mm512_slli_epi16(odd, 8));
}

// d[nFrom, nTo) over s, nTo - nFrom a multiple of 8; the last part vector is masked.
template <T (*BLEND)(T, T)>
void AlphaOverBlocks(uint8_t* d, const uint8_t* s, size_t nFrom, size_t nTo)
{
    size_t i = nFrom;
    for (; i + 128 <= nTo; i += 128) {
        const T x0 = _mm512_loadu_si512(d + i), y0 = _mm512_loadu_si512(s + i);
        const T x1 = _mm512_loadu_si512(d + i + 64), y1 = _mm512_loadu_si512(s + i + 64);
        _mm512_storeu_si512(d + i, BLEND(x0, y0));
        _mm512_storeu_si512(d + i + 64, BLEND(x1, y1));
    }
    for (; i + 64 <= nTo; i += 64)
        _mm512_storeu_si512(d + i, BLEND(_mm512_loadu_si512(d + i), _mm512_loadu_si512(s + i)));
    if (i < nTo) {
        const __mmask64 k = (1ULL << (nTo - i)) - 1;   // fewer than 64 bytes are left
        const T x = _mm512_maskz_loadu_epi8(k, d + i), y = _mm512_maskz_loadu_epi8(k, s + i);
        _mm512_mask_storeu_epi8(d + i, k, BLEND(x, y));
    }
}

void AlphaOver1(uint8_t* d, const uint8_t* s, size_t n)
{
    const size_t nEnd = n & ~size_t(7);
    AlphaOverBlocks<AlphaOver1Vec>(d, s, 0, nEnd);
    if (nEnd < n) PixelOpAlphaOver(d + nEnd, s + nEnd, n - nEnd);
}

void AlphaOver23(uint8_t* d, const uint8_t* s, size_t n)
{
    const size_t nHead = PixelOpHeadBytes(d, n, 4);
    if (nHead) PixelOpAlphaOverSSE(d, s, nHead);
    const size_t nEnd = nHead + ((n - nHead) & ~size_t(7));
    AlphaOverBlocks<AlphaOver23Vec>(d, s, nHead, nEnd);
    if (nEnd < n) PixelOpAlphaOverSSE(d + nEnd, s + nEnd, n - nEnd);
}

}  // namespace

void ApplyAVX512PixelOps(PIXEL_OPS* pOps, int nLevel)
{
    pOps->PixelOpAlphaOver = nLevel >= 2 ? AlphaOver23 : AlphaOver1;
}

#else

void ApplyAVX512PixelOps(PIXEL_OPS* pOps, int nLevel)
{
    (void)pOps;
    (void)nLevel;
}

#endif
