// The Theora module's BT.601 conversion (see plat_theora_convert.h): the plain form, the SSE2 form
// and the choice of the form; the AVX2 and AVX-512 forms sit in files of their own.
#include "platform/plat_theora_convert.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstdlib>
#include <cstring>

namespace {

// ---- the plain form: the steps themselves --------------------------------------------------------

inline int MulHi(int a, int b) { return (a * b) >> 16; }
inline uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

inline void PutPixel(uint8_t* pOut, int nY, int nCb, int nCr)
{
    const int d = (nCb - 128) * 128, e = (nCr - 128) * 128;
    const int yy = MulHi((nY - 16) * 128, 4768);
    pOut[0] = Clamp255((yy + MulHi(d, 8266) + 4) >> 3);
    pOut[1] = Clamp255((yy + MulHi(d, -1602) + MulHi(e, -3330) + 4) >> 3);
    pOut[2] = Clamp255((yy + MulHi(e, 6537) + 4) >> 3);
    pOut[3] = 255;
}

#if defined(__SSE2__)
// ---- SSE2: sixteen pixels at once, the steps in 16-bit lanes --------------------------------------
struct SIMD_TERMS {
    __m128i r, g, b;   // the chroma terms plus the rounding 4, eight lanes
};

inline SIMD_TERMS ChromaTerms(__m128i cb8, __m128i cr8)
{
    const __m128i k128 = _mm_set1_epi16(128);
    const __m128i d = _mm_slli_epi16(_mm_sub_epi16(cb8, k128), 7);
    const __m128i e = _mm_slli_epi16(_mm_sub_epi16(cr8, k128), 7);
    SIMD_TERMS t;
    // The rounding 4 of the final shift rides on the chroma terms, which serve two pixels or
    // more (the sums stay far inside 16 bits).
    const __m128i k4 = _mm_set1_epi16(4);
    t.r = _mm_add_epi16(_mm_mulhi_epi16(e, _mm_set1_epi16(6537)), k4);
    t.g = _mm_add_epi16(_mm_add_epi16(_mm_mulhi_epi16(d, _mm_set1_epi16(-1602)),
                                      _mm_mulhi_epi16(e, _mm_set1_epi16(-3330))), k4);
    t.b = _mm_add_epi16(_mm_mulhi_epi16(d, _mm_set1_epi16(8266)), k4);
    return t;
}

// Eight pixels' channels from eight luma samples (16-bit lanes) and their chroma terms.
inline void PixelsOf(__m128i y8, const SIMD_TERMS& t, __m128i* pR, __m128i* pG, __m128i* pB)
{
    const __m128i yy = _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(y8, _mm_set1_epi16(16)), 7), _mm_set1_epi16(4768));
    *pR = _mm_srai_epi16(_mm_add_epi16(yy, t.r), 3);
    *pG = _mm_srai_epi16(_mm_add_epi16(yy, t.g), 3);
    *pB = _mm_srai_epi16(_mm_add_epi16(yy, t.b), 3);
}

inline void Store16(uint8_t* pOut, __m128i r, __m128i g, __m128i b)
{
    const __m128i a = _mm_set1_epi8(static_cast<char>(0xFF));
    const __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
    const __m128i raLo = _mm_unpacklo_epi8(r, a), raHi = _mm_unpackhi_epi8(r, a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut), _mm_unpacklo_epi16(bgLo, raLo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut + 16), _mm_unpackhi_epi16(bgLo, raLo));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut + 32), _mm_unpacklo_epi16(bgHi, raHi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(pOut + 48), _mm_unpackhi_epi16(bgHi, raHi));
}

// Sixteen pixels from luma at pY; chroma at pCb/pCr, one sample per two pixels (bHalf) or per pixel.
template <bool bHalf>
inline void Convert16(const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, uint8_t* pOut)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pY));
    SIMD_TERMS lo, hi;
    if (bHalf) {
        const __m128i cb = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pCb)), zero);
        const __m128i cr = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pCr)), zero);
        const SIMD_TERMS t = ChromaTerms(cb, cr);
        lo.r = _mm_unpacklo_epi16(t.r, t.r); hi.r = _mm_unpackhi_epi16(t.r, t.r);
        lo.g = _mm_unpacklo_epi16(t.g, t.g); hi.g = _mm_unpackhi_epi16(t.g, t.g);
        lo.b = _mm_unpacklo_epi16(t.b, t.b); hi.b = _mm_unpackhi_epi16(t.b, t.b);
    } else {
        const __m128i cb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pCb));
        const __m128i cr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pCr));
        lo = ChromaTerms(_mm_unpacklo_epi8(cb, zero), _mm_unpacklo_epi8(cr, zero));
        hi = ChromaTerms(_mm_unpackhi_epi8(cb, zero), _mm_unpackhi_epi8(cr, zero));
    }
    __m128i r0, g0, b0, r1, g1, b1;
    PixelsOf(_mm_unpacklo_epi8(y, zero), lo, &r0, &g0, &b0);
    PixelsOf(_mm_unpackhi_epi8(y, zero), hi, &r1, &g1, &b1);
    Store16(pOut, _mm_packus_epi16(r0, r1), _mm_packus_epi16(g0, g1), _mm_packus_epi16(b0, b1));
}
#endif

// One picture row from picture column x on with the form of nLevel.
void ConvertRowFrom(int nLevel, const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, int x0, int x, int nWidth,
                    int nShiftX, uint8_t* pOut)
{
    if (nShiftX == 1 && x == 0 && (x0 & 1) && nWidth > 0) {
        // An odd start shares its chroma sample with the column before the picture.
        PutPixel(pOut, pY[x0], pCb[x0 >> 1], pCr[x0 >> 1]);
        x = 1;
    }
    if (nLevel >= THEORA_CONVERT_AVX512) x = TheoraConvertAvx512(pY, pCb, pCr, x0, x, nWidth, nShiftX, pOut);
    if (nLevel >= THEORA_CONVERT_AVX2) x = TheoraConvertAvx2(pY, pCb, pCr, x0, x, nWidth, nShiftX, pOut);
#if defined(__SSE2__)
    if (nLevel >= THEORA_CONVERT_SSE2) {
        if (nShiftX == 1) {
            for (; x + 16 <= nWidth; x += 16) {
                const int c = (x0 + x) >> 1;
                Convert16<true>(pY + x0 + x, pCb + c, pCr + c, pOut + x * 4);
            }
        } else {
            for (; x + 16 <= nWidth; x += 16) Convert16<false>(pY + x0 + x, pCb + x0 + x, pCr + x0 + x, pOut + x * 4);
        }
    }
#endif
    for (; x < nWidth; ++x) {
        const int c = (x0 + x) >> nShiftX;
        PutPixel(pOut + x * 4, pY[x0 + x], pCb[c], pCr[c]);
    }
}

// KOLVEX_PIXEL_SIMD as the engine's pixel routines read it; -1 when unset or not understood.
int ForcedLevel(void)
{
    const char* psz = std::getenv("KOLVEX_PIXEL_SIMD");
    if (!psz) return -1;
    if (!std::strcmp(psz, "none")) return THEORA_CONVERT_PLAIN;
    if (!std::strcmp(psz, "sse2")) return THEORA_CONVERT_SSE2;
    if (!std::strcmp(psz, "avx2")) return THEORA_CONVERT_AVX2;
    if (!std::strcmp(psz, "avx512")) return THEORA_CONVERT_AVX512;
    return -1;
}

}  // namespace

int TheoraConvertLevelRuns(int nLevel)
{
    switch (nLevel) {
    case THEORA_CONVERT_PLAIN: return 1;
#if defined(__SSE2__)
    case THEORA_CONVERT_SSE2: return 1;
#endif
    case THEORA_CONVERT_AVX2: return PlatTheoraHasAvx2();
    case THEORA_CONVERT_AVX512: return PlatTheoraHasAvx512();
    default: return 0;
    }
}

int TheoraConvertLevel(void)
{
    static const int s_nLevel = [] {
        int n = THEORA_CONVERT_AVX512;
        while (n > THEORA_CONVERT_PLAIN && !TheoraConvertLevelRuns(n)) --n;
        const int nForced = ForcedLevel();
        return nForced >= 0 && nForced < n ? nForced : n;
    }();
    return s_nLevel;
}

const char* TheoraConvertLevelName(int nLevel)
{
    switch (nLevel) {
    case THEORA_CONVERT_SSE2: return "sse2";
    case THEORA_CONVERT_AVX2: return "avx2";
    case THEORA_CONVERT_AVX512: return "avx512";
    default: return "none";
    }
}

void TheoraConvertRow(int nLevel, const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, int x0, int nWidth,
                      int nShiftX, uint8_t* pOut)
{
    ConvertRowFrom(nLevel, pY, pCb, pCr, x0, 0, nWidth, nShiftX, pOut);
}

void TheoraConvertRowPair(int nLevel, const uint8_t* pY0, const uint8_t* pY1, const uint8_t* pCb, const uint8_t* pCr,
                          int x0, int nWidth, uint8_t* pOut0, uint8_t* pOut1)
{
    int x = 0;
    if ((x0 & 1) && nWidth > 0) {
        ConvertRowFrom(THEORA_CONVERT_PLAIN, pY0, pCb, pCr, x0, 0, 1, 1, pOut0);
        ConvertRowFrom(THEORA_CONVERT_PLAIN, pY1, pCb, pCr, x0, 0, 1, 1, pOut1);
        x = 1;
    }
    if (nLevel >= THEORA_CONVERT_AVX512) x = TheoraConvertAvx512Pair(pY0, pY1, pCb, pCr, x0, x, nWidth, pOut0, pOut1);
    if (nLevel >= THEORA_CONVERT_AVX2) x = TheoraConvertAvx2Pair(pY0, pY1, pCb, pCr, x0, x, nWidth, pOut0, pOut1);
    ConvertRowFrom(nLevel, pY0, pCb, pCr, x0, x, nWidth, 1, pOut0);
    ConvertRowFrom(nLevel, pY1, pCb, pCr, x0, x, nWidth, 1, pOut1);
}
