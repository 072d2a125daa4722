// AVX2 form of the Theora module's BT.601 conversion (see plat_theora_convert.h), 32 pixels at a
// time. This file alone is built for AVX2; the module calls it only on a processor that has it.
//
// The pixels are taken in pairs: a 16-bit lane holds the luma of pixels 2k and 2k+1, so that with
// one chroma sample per two pixels each lane meets exactly one chroma sample and the chroma terms
// need no doubling. The luma term takes one multiply: mulhi((Y - 16) x 128, 4768) equals
// (Y x 256 x 2384) >> 16 less 149 for every Y (4768 x 128 / 65536 = 2384 / 256 = 149 / 16), and
// Y x 256 of either pixel of a pair is the lane shifted left by 8 or masked to its high byte. The
// 149, the rounding 4 and a bias of 30720 ride on the chroma terms; the sum with the bias, added
// with signed saturation and less the bias with unsigned saturation, is the value clamped to
// 0..2047, whose top 8 bits are the channel. Each channel of a pair is then one 16-bit lane that
// holds both pixels' bytes in order.
//
// The lanes are laid out so that the final interleaving works within 128-bit halves: the first
// half holds pixel pairs 0, 1, 4, 5, 8, 9, 12, 13 and the second 2, 3, 6, 7, 10, 11, 14, 15.
#include "platform/plat_theora_convert.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include "platform/plat_theora_convert_rows.h"

namespace {

enum { BIAS = 30720 };

struct TERMS {
    __m256i r, g, b;   // the chroma terms with 4 - 149 + BIAS, one per pair lane
};

inline TERMS ChromaTerms(__m256i cb, __m256i cr)
{
    const __m256i k128 = _mm256_set1_epi16(128);
    const __m256i d = _mm256_slli_epi16(_mm256_sub_epi16(cb, k128), 7);
    const __m256i e = _mm256_slli_epi16(_mm256_sub_epi16(cr, k128), 7);
    const __m256i k = _mm256_set1_epi16(4 - 149 + BIAS);
    TERMS t;
    t.r = _mm256_add_epi16(_mm256_mulhi_epi16(e, _mm256_set1_epi16(6537)), k);
    t.g = _mm256_add_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(d, _mm256_set1_epi16(-1602)),
                                            _mm256_mulhi_epi16(e, _mm256_set1_epi16(-3330))), k);
    t.b = _mm256_add_epi16(_mm256_mulhi_epi16(d, _mm256_set1_epi16(8266)), k);
    return t;
}

// One channel of both pixels of each pair from their luma terms and chroma terms: the byte of the
// even pixel low, the odd one's high.
inline __m256i Channel(__m256i yEven, __m256i yOdd, __m256i tEven, __m256i tOdd)
{
    const __m256i kBias = _mm256_set1_epi16(BIAS);
    const __m256i cE = _mm256_subs_epu16(_mm256_adds_epi16(yEven, tEven), kBias);   // 0..2047
    const __m256i cO = _mm256_subs_epu16(_mm256_adds_epi16(yOdd, tOdd), kBias);
    return _mm256_or_si256(_mm256_srli_epi16(cE, 3),
                           _mm256_and_si256(_mm256_slli_epi16(cO, 5), _mm256_set1_epi16(static_cast<short>(0xFF00))));
}

// The pairs of 32 bytes at p in the lane layout.
inline __m256i LoadPairs(const uint8_t* p)
{
    return _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                                       _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
}

// Sixteen samples at p, one per pair lane in the lane layout.
inline __m256i LoadHalfChroma(const uint8_t* p)
{
    const __m256i v = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const char z = -1;
    return _mm256_shuffle_epi8(v, _mm256_setr_epi8(0, z, 1, z, 4, z, 5, z, 8, z, 9, z, 12, z, 13, z,     //
                                                   2, z, 3, z, 6, z, 7, z, 10, z, 11, z, 14, z, 15, z));
}

// The chroma terms of the even and odd pixels of 32 pixels with a sample each at pCb/pCr.
inline void FullTerms(const uint8_t* pCb, const uint8_t* pCr, TERMS* pEven, TERMS* pOdd)
{
    const __m256i cb = LoadPairs(pCb), cr = LoadPairs(pCr);
    const __m256i kLow = _mm256_set1_epi16(0xFF);
    *pEven = ChromaTerms(_mm256_and_si256(cb, kLow), _mm256_and_si256(cr, kLow));
    *pOdd = ChromaTerms(_mm256_srli_epi16(cb, 8), _mm256_srli_epi16(cr, 8));
}

// 32 pixels from the luma pairs at pY and the chroma terms of their even and odd pixels.
inline void Convert32(const uint8_t* pY, const TERMS& tE, const TERMS& tO, uint8_t* pOut)
{
    const __m256i yw = LoadPairs(pY);
    const __m256i k2384 = _mm256_set1_epi16(2384);
    const __m256i yE = _mm256_mulhi_epu16(_mm256_slli_epi16(yw, 8), k2384);
    const __m256i yO = _mm256_mulhi_epu16(_mm256_and_si256(yw, _mm256_set1_epi16(static_cast<short>(0xFF00))), k2384);
    const __m256i b = Channel(yE, yO, tE.b, tO.b);
    const __m256i g = Channel(yE, yO, tE.g, tO.g);
    const __m256i r = Channel(yE, yO, tE.r, tO.r);
    // The first half holds pixels 0-3, 8-11, 16-19, 24-27, the second 4-7, 12-15, 20-23, 28-31.
    const __m256i a = _mm256_set1_epi8(static_cast<char>(0xFF));
    const __m256i bgLo = _mm256_unpacklo_epi8(b, g), bgHi = _mm256_unpackhi_epi8(b, g);
    const __m256i raLo = _mm256_unpacklo_epi8(r, a), raHi = _mm256_unpackhi_epi8(r, a);
    __m256i* po = reinterpret_cast<__m256i*>(pOut);
    _mm256_storeu_si256(po, _mm256_unpacklo_epi16(bgLo, raLo));       // 0-3 | 4-7
    _mm256_storeu_si256(po + 1, _mm256_unpackhi_epi16(bgLo, raLo));   // 8-11 | 12-15
    _mm256_storeu_si256(po + 2, _mm256_unpacklo_epi16(bgHi, raHi));   // 16-19 | 20-23
    _mm256_storeu_si256(po + 3, _mm256_unpackhi_epi16(bgHi, raHi));   // 24-27 | 28-31
}

// This form's width and steps for the shared row loops.
struct FORM {
    static constexpr int kPixels = 32;
    static TERMS HalfTerms(const uint8_t* pCb, const uint8_t* pCr)
    {
        return ChromaTerms(LoadHalfChroma(pCb), LoadHalfChroma(pCr));
    }
    static void FullTerms(const uint8_t* pCb, const uint8_t* pCr, TERMS* pEven, TERMS* pOdd)
    {
        ::FullTerms(pCb, pCr, pEven, pOdd);
    }
    static void Convert(const uint8_t* pY, const TERMS& tE, const TERMS& tO, uint8_t* pOut) { Convert32(pY, tE, tO, pOut); }
};

}  // namespace

int TheoraConvertAvx2(const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, int x0, int x, int nWidth, int nShiftX,
                 uint8_t* pOut)
{
    return ConvertRowWith<FORM>(pY, pCb, pCr, x0, x, nWidth, nShiftX, pOut);
}

int TheoraConvertAvx2Pair(const uint8_t* pY0, const uint8_t* pY1, const uint8_t* pCb, const uint8_t* pCr, int x0, int x,
                     int nWidth, uint8_t* pOut0, uint8_t* pOut1)
{
    return ConvertRowPairWith<FORM>(pY0, pY1, pCb, pCr, x0, x, nWidth, pOut0, pOut1);
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

int TheoraConvertAvx2(const uint8_t*, const uint8_t*, const uint8_t*, int, int x, int, int, uint8_t*) { return x; }
int TheoraConvertAvx2Pair(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int, int x, int, uint8_t*,
                          uint8_t*)
{
    return x;
}
int PlatTheoraHasAvx2(void) { return 0; }

#endif
