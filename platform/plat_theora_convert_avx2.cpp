// AVX2 form of the Theora module's BT.601 conversion (see plat_theora_convert.h). This file alone
// is built for AVX2; the module calls it only on a processor that has it.
#include "platform/plat_theora_convert.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace {

struct TERMS {
    __m256i r, g, b;   // 8 x the chroma terms plus the rounding, sixteen lanes
};

// The SSE2 form's steps, lane for lane.
inline TERMS ChromaTerms(__m256i cb, __m256i cr)
{
    const __m256i k128 = _mm256_set1_epi16(128);
    const __m256i d = _mm256_slli_epi16(_mm256_sub_epi16(cb, k128), 7);
    const __m256i e = _mm256_slli_epi16(_mm256_sub_epi16(cr, k128), 7);
    TERMS t;
    // The rounding 4 rides on the chroma terms (16-bit sums wrap alike in any order).
    const __m256i k4 = _mm256_set1_epi16(4);
    t.r = _mm256_add_epi16(_mm256_mulhi_epi16(e, _mm256_set1_epi16(6537)), k4);
    t.g = _mm256_add_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(d, _mm256_set1_epi16(-1602)),
                                            _mm256_mulhi_epi16(e, _mm256_set1_epi16(-3330))), k4);
    t.b = _mm256_add_epi16(_mm256_mulhi_epi16(d, _mm256_set1_epi16(8266)), k4);
    return t;
}

inline void PixelsOf(__m256i y, const TERMS& t, __m256i* pR, __m256i* pG, __m256i* pB)
{
    const __m256i yy = _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_sub_epi16(y, _mm256_set1_epi16(16)), 7),
                                          _mm256_set1_epi16(4768));
    *pR = _mm256_srai_epi16(_mm256_add_epi16(yy, t.r), 3);
    *pG = _mm256_srai_epi16(_mm256_add_epi16(yy, t.g), 3);
    *pB = _mm256_srai_epi16(_mm256_add_epi16(yy, t.b), 3);
}

// Each chroma term of lanes 0..15 twice, in order: pixels 0..15 and 16..31.
inline void Doubled(__m256i t, __m256i* pLo, __m256i* pHi)
{
    const __m256i q = _mm256_permute4x64_epi64(t, 0xD8);   // quarters 0, 2 | 1, 3
    *pLo = _mm256_unpacklo_epi16(q, q);
    *pHi = _mm256_unpackhi_epi16(q, q);
}

// The packing and interleaving of 32 pixels' 16-bit channels into B,G,R,A.
inline void Store32(uint8_t* pOut, __m256i r0, __m256i g0, __m256i b0, __m256i r1, __m256i g1, __m256i b1)
{
    // Packing works within 16-byte lanes: the bytes come as pixels 0-7, 16-23 | 8-15, 24-31.
    const __m256i r = _mm256_packus_epi16(r0, r1), g = _mm256_packus_epi16(g0, g1), b = _mm256_packus_epi16(b0, b1);
    const __m256i a = _mm256_set1_epi8(static_cast<char>(0xFF));
    const __m256i bgLo = _mm256_unpacklo_epi8(b, g), bgHi = _mm256_unpackhi_epi8(b, g);   // 0-7 | 8-15, 16-23 | 24-31
    const __m256i raLo = _mm256_unpacklo_epi8(r, a), raHi = _mm256_unpackhi_epi8(r, a);
    const __m256i p0 = _mm256_unpacklo_epi16(bgLo, raLo), p1 = _mm256_unpackhi_epi16(bgLo, raLo);   // 0-3 | 8-11, 4-7 | 12-15
    const __m256i p2 = _mm256_unpacklo_epi16(bgHi, raHi), p3 = _mm256_unpackhi_epi16(bgHi, raHi);   // 16-19 | 24-27, 20-23 | 28-31
    __m256i* po = reinterpret_cast<__m256i*>(pOut);
    _mm256_storeu_si256(po, _mm256_permute2x128_si256(p0, p1, 0x20));
    _mm256_storeu_si256(po + 1, _mm256_permute2x128_si256(p0, p1, 0x31));
    _mm256_storeu_si256(po + 2, _mm256_permute2x128_si256(p2, p3, 0x20));
    _mm256_storeu_si256(po + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
}

// 32 pixels of a row from luma at pY with the chroma terms of pixels 0-15 (lo) and 16-31 (hi).
inline void Convert32With(const uint8_t* pY, const TERMS& lo, const TERMS& hi, uint8_t* pOut)
{
    const __m128i* py = reinterpret_cast<const __m128i*>(pY);
    const __m256i y0 = _mm256_cvtepu8_epi16(_mm_loadu_si128(py)), y1 = _mm256_cvtepu8_epi16(_mm_loadu_si128(py + 1));
    __m256i r0, g0, b0, r1, g1, b1;
    PixelsOf(y0, lo, &r0, &g0, &b0);
    PixelsOf(y1, hi, &r1, &g1, &b1);
    Store32(pOut, r0, g0, b0, r1, g1, b1);
}

// The chroma terms of 32 pixels from 16 samples each at pCb/pCr, one sample per two pixels.
inline void HalfTerms(const uint8_t* pCb, const uint8_t* pCr, TERMS* pLo, TERMS* pHi)
{
    const TERMS t = ChromaTerms(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pCb))),
                                _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pCr))));
    Doubled(t.r, &pLo->r, &pHi->r);
    Doubled(t.g, &pLo->g, &pHi->g);
    Doubled(t.b, &pLo->b, &pHi->b);
}

// 32 pixels from luma at pY; chroma at pCb/pCr, one sample per two pixels (bHalf) or per pixel.
template <bool bHalf>
inline void Convert32(const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, uint8_t* pOut)
{
    TERMS lo, hi;
    if (bHalf) {
        HalfTerms(pCb, pCr, &lo, &hi);
    } else {
        const __m128i* pb = reinterpret_cast<const __m128i*>(pCb);
        const __m128i* pr = reinterpret_cast<const __m128i*>(pCr);
        lo = ChromaTerms(_mm256_cvtepu8_epi16(_mm_loadu_si128(pb)), _mm256_cvtepu8_epi16(_mm_loadu_si128(pr)));
        hi = ChromaTerms(_mm256_cvtepu8_epi16(_mm_loadu_si128(pb + 1)), _mm256_cvtepu8_epi16(_mm_loadu_si128(pr + 1)));
    }
    Convert32With(pY, lo, hi, pOut);
}

}  // namespace

int TheoraConvertAvx2(const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, int x0, int x, int nWidth,
                      int nShiftX, uint8_t* pOut)
{
    if (nShiftX == 1) {
        for (; x + 32 <= nWidth; x += 32) {
            const int c = (x0 + x) >> 1;
            Convert32<true>(pY + x0 + x, pCb + c, pCr + c, pOut + x * 4);
        }
    } else {
        for (; x + 32 <= nWidth; x += 32) Convert32<false>(pY + x0 + x, pCb + x0 + x, pCr + x0 + x, pOut + x * 4);
    }
    return x;
}

int TheoraConvertAvx2Pair(const uint8_t* pY0, const uint8_t* pY1, const uint8_t* pCb, const uint8_t* pCr, int x0,
                          int x, int nWidth, uint8_t* pOut0, uint8_t* pOut1)
{
    for (; x + 32 <= nWidth; x += 32) {
        const int c = (x0 + x) >> 1;
        TERMS lo, hi;
        HalfTerms(pCb + c, pCr + c, &lo, &hi);
        Convert32With(pY0 + x0 + x, lo, hi, pOut0 + x * 4);
        Convert32With(pY1 + x0 + x, lo, hi, pOut1 + x * 4);
    }
    return x;
}

int PlatTheoraHasAvx2(void)
{
    static const int s_bHave = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") ? 1 : 0;
    }();
    return s_bHave;
}

#else

int TheoraConvertAvx2(const uint8_t*, const uint8_t*, const uint8_t*, int, int x, int, int, uint8_t*)
{
    return x;
}
int TheoraConvertAvx2Pair(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int, int x, int, uint8_t*,
                          uint8_t*)
{
    return x;
}

int PlatTheoraHasAvx2(void) { return 0; }

#endif
