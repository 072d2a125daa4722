// SSE2 forms of the pixel routines (16 bytes at a time), the x86-64 baseline.
#include "imageproc/pixel_ops.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

struct V128 {
    using T = __m128i;
    static constexpr size_t W = 16;
    static T Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void Store(uint8_t* p, T v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static T Zero() { return _mm_setzero_si128(); }
    static T Set8(uint8_t x) { return _mm_set1_epi8(static_cast<char>(x)); }
    static T Set16(int16_t x) { return _mm_set1_epi16(x); }
    static T Set32(int32_t x) { return _mm_set1_epi32(x); }
    static T Lo8(T a, T b) { return _mm_unpacklo_epi8(a, b); }
    static T Hi8(T a, T b) { return _mm_unpackhi_epi8(a, b); }
    static T Lo16(T a, T b) { return _mm_unpacklo_epi16(a, b); }
    static T Hi16(T a, T b) { return _mm_unpackhi_epi16(a, b); }
    static T Lo32(T a, T b) { return _mm_unpacklo_epi32(a, b); }
    static T Hi32(T a, T b) { return _mm_unpackhi_epi32(a, b); }
    static T Add8(T a, T b) { return _mm_add_epi8(a, b); }
    static T Add16(T a, T b) { return _mm_add_epi16(a, b); }
    static T Add32(T a, T b) { return _mm_add_epi32(a, b); }
    static T Sub16(T a, T b) { return _mm_sub_epi16(a, b); }
    static T MulLo16(T a, T b) { return _mm_mullo_epi16(a, b); }
    static T MulHiU16(T a, T b) { return _mm_mulhi_epu16(a, b); }
    static T MulHiS16(T a, T b) { return _mm_mulhi_epi16(a, b); }
    static T Madd16(T a, T b) { return _mm_madd_epi16(a, b); }
    template <int k> static T Srl16(T a) { return _mm_srli_epi16(a, k); }
    template <int k> static T Sll16(T a) { return _mm_slli_epi16(a, k); }
    static T PackUS16(T a, T b) { return _mm_packus_epi16(a, b); }
    static T Packs32(T a, T b) { return _mm_packs_epi32(a, b); }
    static T Avg8(T a, T b) { return _mm_avg_epu8(a, b); }
    static T AddS8(T a, T b) { return _mm_adds_epu8(a, b); }
    static T SubS8(T a, T b) { return _mm_subs_epu8(a, b); }
    static T Min8(T a, T b) { return _mm_min_epu8(a, b); }
    static T Max8(T a, T b) { return _mm_max_epu8(a, b); }
    static T Min16(T a, T b) { return _mm_min_epi16(a, b); }
    static T Max16(T a, T b) { return _mm_max_epi16(a, b); }
    static T And(T a, T b) { return _mm_and_si128(a, b); }
    static T Xor(T a, T b) { return _mm_xor_si128(a, b); }
    static T Alpha16(T a) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, 0xFF), 0xFF); }
    static T Or(T a, T b) { return _mm_or_si128(a, b); }
    static T AndNot(T a, T b) { return _mm_andnot_si128(a, b); }
    static T CmpGt32(T a, T b) { return _mm_cmpgt_epi32(a, b); }
    static T CmpEq32(T a, T b) { return _mm_cmpeq_epi32(a, b); }
    template <int k> static T Sll32(T a) { return _mm_slli_epi32(a, k); }
    static int AnySet(T a) { return _mm_movemask_epi8(_mm_cmpeq_epi8(a, Zero())) != 0xFFFF; }
    static void StoreLoHi32(uint8_t* p, T lo, T hi)
    {
        Store(p, lo);
        Store(p + 16, hi);
    }
    static T GatherSelect(const uint32_t* pTable, const uint8_t* pMask)
    {
        return _mm_setr_epi32(static_cast<int>(pTable[pMask[0]]), static_cast<int>(pTable[pMask[4]]),
                              static_cast<int>(pTable[pMask[8]]), static_cast<int>(pTable[pMask[12]]));
    }
    static void MaskPatterns(const uint64_t* pPattern, const uint8_t* pMask, T* pLo, T* pHi)
    {
        *pLo = _mm_set_epi64x(static_cast<long long>(pPattern[pMask[4]]), static_cast<long long>(pPattern[pMask[0]]));
        *pHi = _mm_set_epi64x(static_cast<long long>(pPattern[pMask[12]]), static_cast<long long>(pPattern[pMask[8]]));
    }
    static T ColourLanes16() { return _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1); }
    static T Reduce2x2Avg(T a, T b)
    {
        const __m128 fa = _mm_castsi128_ps(a), fb = _mm_castsi128_ps(b);
        const T even = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0)));
        const T odd = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1)));
        return _mm_avg_epu8(even, odd);
    }
};

}  // namespace

#include "imageproc/pixel_ops_vec.inl"

void ApplySSE2PixelOps(PIXEL_OPS* pOps, int nLevel)
{
    VEC_OPS<V128>::Apply(pOps, nLevel);
}

#else

void ApplySSE2PixelOps(PIXEL_OPS* pOps, int nLevel)
{
    (void)pOps;
    (void)nLevel;
}

#endif
