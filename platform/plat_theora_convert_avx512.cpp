// AVX-512 form of the Theora module's BT.601 conversion (see plat_theora_convert.h), 64 pixels at a
// time with AVX-512 F, BW and VBMI. This file alone is built for them; the module calls it only on
// a processor that has them.
//
// The arithmetic is the AVX2 form's (see plat_theora_convert_avx2.cpp): pixel pairs in 16-bit
// lanes, the luma term with one multiply, the clamp by saturation, each channel one lane per pair
// with both bytes in order. The B,G,R,A pixels are then put together by byte permutes across the
// whole register: one permute per 16 pixels picks their B and G from a register that holds the B
// and G of 32 pixels and their R from the channel's register, and leaves the alpha bytes at 255.
#include "platform/plat_theora_convert.h"

#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VBMI__)
#include <immintrin.h>

#include "platform/plat_theora_convert_rows.h"

namespace {

enum { BIAS = 30720 };

struct TERMS {
    __m512i r, g, b;   // the chroma terms with 4 - 149 + BIAS, one per pair lane
};

inline TERMS ChromaTerms(__m512i cb, __m512i cr)
{
    const __m512i k128 = _mm512_set1_epi16(128);
    const __m512i d = _mm512_slli_epi16(_mm512_sub_epi16(cb, k128), 7);
    const __m512i e = _mm512_slli_epi16(_mm512_sub_epi16(cr, k128), 7);
    const __m512i k = _mm512_set1_epi16(4 - 149 + BIAS);
    TERMS t;
    t.r = _mm512_add_epi16(_mm512_mulhi_epi16(e, _mm512_set1_epi16(6537)), k);
    t.g = _mm512_add_epi16(_mm512_add_epi16(_mm512_mulhi_epi16(d, _mm512_set1_epi16(-1602)),
                                            _mm512_mulhi_epi16(e, _mm512_set1_epi16(-3330))), k);
    t.b = _mm512_add_epi16(_mm512_mulhi_epi16(d, _mm512_set1_epi16(8266)), k);
    return t;
}

inline __m512i Channel(__m512i yEven, __m512i yOdd, __m512i tEven, __m512i tOdd)
{
    const __m512i kBias = _mm512_set1_epi16(BIAS);
    const __m512i cE = _mm512_subs_epu16(_mm512_adds_epi16(yEven, tEven), kBias);   // 0..2047
    const __m512i cO = _mm512_subs_epu16(_mm512_adds_epi16(yOdd, tOdd), kBias);
    // cE >> 3 | (cO << 5 & 0xFF00) in one logic step.
    return _mm512_ternarylogic_epi32(_mm512_srli_epi16(cE, 3), _mm512_slli_epi16(cO, 5),
                                     _mm512_set1_epi16(static_cast<short>(0xFF00)), 0xF8);
}

// The byte picks of the four 16-pixel parts of 64 pixels: B from byte 16h + i and G from byte
// 32 + 16h + i of the register with the B and G of their 32 pixels (h: which half of those), R
// from byte 64 + 16m + i, the R channel's register. The alpha bytes are not picked: they keep the
// pick's own 255.
struct PICKS {
    alignas(64) uint8_t a[4][64];
    constexpr PICKS() : a{}
    {
        for (int m = 0; m < 4; ++m)
            for (int i = 0; i < 16; ++i) {
                const int h = m & 1;
                a[m][4 * i] = static_cast<uint8_t>(16 * h + i);
                a[m][4 * i + 1] = static_cast<uint8_t>(32 + 16 * h + i);
                a[m][4 * i + 2] = static_cast<uint8_t>(64 + 16 * m + i);
                a[m][4 * i + 3] = 255;
            }
    }
};
constexpr PICKS k_picks;

inline __m512i LoadHalfChroma(const uint8_t* p)
{
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
}

inline void FullTerms(const uint8_t* pCb, const uint8_t* pCr, TERMS* pEven, TERMS* pOdd)
{
    const __m512i cb = _mm512_loadu_si512(pCb), cr = _mm512_loadu_si512(pCr);
    const __m512i kLow = _mm512_set1_epi16(0xFF);
    *pEven = ChromaTerms(_mm512_and_si512(cb, kLow), _mm512_and_si512(cr, kLow));
    *pOdd = ChromaTerms(_mm512_srli_epi16(cb, 8), _mm512_srli_epi16(cr, 8));
}

// 64 pixels from the luma pairs at pY and the chroma terms of their even and odd pixels.
inline void Convert64(const uint8_t* pY, const TERMS& tE, const TERMS& tO, uint8_t* pOut)
{
    const __m512i yw = _mm512_loadu_si512(pY);
    const __m512i k2384 = _mm512_set1_epi16(2384);
    const __m512i yE = _mm512_mulhi_epu16(_mm512_slli_epi16(yw, 8), k2384);
    const __m512i yO = _mm512_mulhi_epu16(_mm512_and_si512(yw, _mm512_set1_epi16(static_cast<short>(0xFF00))), k2384);
    const __m512i b = Channel(yE, yO, tE.b, tO.b);
    const __m512i g = Channel(yE, yO, tE.g, tO.g);
    const __m512i r = Channel(yE, yO, tE.r, tO.r);
    // B of pixels 0-31 and G of 0-31; B of 32-63 and G of 32-63.
    const __m512i bg0 = _mm512_permutex2var_epi64(b, _mm512_setr_epi64(0, 1, 2, 3, 8, 9, 10, 11), g);
    const __m512i bg1 = _mm512_permutex2var_epi64(b, _mm512_setr_epi64(4, 5, 6, 7, 12, 13, 14, 15), g);
    const __m512i* pPick = reinterpret_cast<const __m512i*>(k_picks.a);
    const __mmask64 kPicked = 0x7777777777777777ull;   // all but the alpha bytes
    _mm512_storeu_si512(pOut, _mm512_mask2_permutex2var_epi8(bg0, _mm512_load_si512(pPick), kPicked, r));
    _mm512_storeu_si512(pOut + 64, _mm512_mask2_permutex2var_epi8(bg0, _mm512_load_si512(pPick + 1), kPicked, r));
    _mm512_storeu_si512(pOut + 128, _mm512_mask2_permutex2var_epi8(bg1, _mm512_load_si512(pPick + 2), kPicked, r));
    _mm512_storeu_si512(pOut + 192, _mm512_mask2_permutex2var_epi8(bg1, _mm512_load_si512(pPick + 3), kPicked, r));
}

// This form's width and steps for the shared row loops.
struct FORM {
    static constexpr int kPixels = 64;
    static TERMS HalfTerms(const uint8_t* pCb, const uint8_t* pCr)
    {
        return ChromaTerms(LoadHalfChroma(pCb), LoadHalfChroma(pCr));
    }
    static void FullTerms(const uint8_t* pCb, const uint8_t* pCr, TERMS* pEven, TERMS* pOdd)
    {
        ::FullTerms(pCb, pCr, pEven, pOdd);
    }
    static void Convert(const uint8_t* pY, const TERMS& tE, const TERMS& tO, uint8_t* pOut) { Convert64(pY, tE, tO, pOut); }
};

}  // namespace

int TheoraConvertAvx512(const uint8_t* pY, const uint8_t* pCb, const uint8_t* pCr, int x0, int x, int nWidth, int nShiftX,
                 uint8_t* pOut)
{
    return ConvertRowWith<FORM>(pY, pCb, pCr, x0, x, nWidth, nShiftX, pOut);
}

int TheoraConvertAvx512Pair(const uint8_t* pY0, const uint8_t* pY1, const uint8_t* pCb, const uint8_t* pCr, int x0, int x,
                     int nWidth, uint8_t* pOut0, uint8_t* pOut1)
{
    return ConvertRowPairWith<FORM>(pY0, pY1, pCb, pCr, x0, x, nWidth, pOut0, pOut1);
}

int PlatTheoraHasAvx512(void)
{
    static const int s_bHave = [] {
        __builtin_cpu_init();
        // The compiler's probe also asks the system whether it saves the wide registers.
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                       __builtin_cpu_supports("avx512vbmi")
                   ? 1
                   : 0;
    }();
    return s_bHave;
}

#else

int TheoraConvertAvx512(const uint8_t*, const uint8_t*, const uint8_t*, int, int x, int, int, uint8_t*) { return x; }
int TheoraConvertAvx512Pair(const uint8_t*, const uint8_t*, const uint8_t*, const uint8_t*, int, int x, int, uint8_t*,
                            uint8_t*)
{
    return x;
}
int PlatTheoraHasAvx512(void) { return 0; }

#endif
