// AVX-512 (BW) form of the level 1 alpha-over, 64 bytes at a time: at 32 bytes a time its
// arithmetic, not memory, holds it back, and the wide form is clearly faster (in the cache and on a
// whole frame). The level 2/3 alpha-over gained nothing from AVX-512 over its AVX2 form and has none.
// This file alone is built for AVX-512; FillPixelOps installs it only on a processor that has it.
// Like the AVX2 file it uses nothing but intrinsics and functions of its own.
//
// It gives the plain form's bytes exactly: the odd pixel after the last 8-byte block goes to the
// plain form, and the block bytes that do not fill a whole vector are done with a masked load and
// store.
#include "imageproc/pixel_ops.h"

#if defined(__AVX512F__) && defined(__AVX512BW__)
#include <immintrin.h>

namespace {

using T = __m512i;
constexpr __mmask16 kAll16 = static_cast<__mmask16>(0xFFFF);

// Each pixel's alpha byte, zero-extended, in both 16-bit words of the pixel. (The zero-masked
// shifts and and-not give the plain ones' results; the plain ones start from GCC's "undefined"
// vector, which its -Wmaybe-uninitialized takes for an uninitialised read.)
inline T AlphaWords(T y)
{
    const T a = _mm512_maskz_srli_epi32(kAll16, y, 24);
    return _mm512_or_si512(a, _mm512_maskz_slli_epi32(kAll16, a, 16));
}

// The pixels' B, R bytes (even) and G, A bytes (odd) each sit in one 16-bit word of the pixel;
// the two weights of a pixel add up to 257, so no sum leaves its word.
// (d x (256 - a) + s x (a + 1)) >> 8 per byte.
inline T AlphaOver1Vec(T x, T y)
{
    const T lo = _mm512_set1_epi16(0x00FF);
    const T a = AlphaWords(y);
    const T wS = _mm512_add_epi16(a, _mm512_set1_epi16(1)), wD = _mm512_sub_epi16(_mm512_set1_epi16(256), a);
    const T even = _mm512_add_epi16(_mm512_mullo_epi16(_mm512_and_si512(x, lo), wD),
                                    _mm512_mullo_epi16(_mm512_and_si512(y, lo), wS));
    const T odd = _mm512_add_epi16(_mm512_mullo_epi16(_mm512_srli_epi16(x, 8), wD),
                                   _mm512_mullo_epi16(_mm512_srli_epi16(y, 8), wS));
    return _mm512_or_si512(_mm512_srli_epi16(even, 8), _mm512_maskz_andnot_epi32(kAll16, lo, odd));
}

// d[0, nTo) over s, nTo a multiple of 8; the last part vector is masked.
void AlphaOverBlocks(uint8_t* d, const uint8_t* s, size_t nTo)
{
    size_t i = 0;
    for (; i + 128 <= nTo; i += 128) {
        const T x0 = _mm512_loadu_si512(d + i), y0 = _mm512_loadu_si512(s + i);
        const T x1 = _mm512_loadu_si512(d + i + 64), y1 = _mm512_loadu_si512(s + i + 64);
        _mm512_storeu_si512(d + i, AlphaOver1Vec(x0, y0));
        _mm512_storeu_si512(d + i + 64, AlphaOver1Vec(x1, y1));
    }
    for (; i + 64 <= nTo; i += 64)
        _mm512_storeu_si512(d + i, AlphaOver1Vec(_mm512_loadu_si512(d + i), _mm512_loadu_si512(s + i)));
    if (i < nTo) {
        const __mmask64 k = (1ULL << (nTo - i)) - 1;   // fewer than 64 bytes are left
        const T x = _mm512_maskz_loadu_epi8(k, d + i), y = _mm512_maskz_loadu_epi8(k, s + i);
        _mm512_mask_storeu_epi8(d + i, k, AlphaOver1Vec(x, y));
    }
}

void AlphaOver1(uint8_t* d, const uint8_t* s, size_t n)
{
    const size_t nEnd = n & ~size_t(7);
    AlphaOverBlocks(d, s, nEnd);
    if (nEnd < n) PixelOpAlphaOver(d + nEnd, s + nEnd, n - nEnd);
}

}  // namespace

void ApplyAVX512PixelOps(PIXEL_OPS* pOps, int nLevel)
{
    if (nLevel == 1) pOps->PixelOpAlphaOver = AlphaOver1;
}

#else

void ApplyAVX512PixelOps(PIXEL_OPS* pOps, int nLevel)
{
    (void)pOps;
    (void)nLevel;
}

#endif
