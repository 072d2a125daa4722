// SSE2 forms of the pixel routines (16 bytes at a time), the x86-64 baseline.
#include "imageproc/pixel_ops.h"

#if defined(__SSE2__)
#include <emmintrin.h>

#include "imageproc/pixel_ops_vec.inl"

namespace {

struct V128 {
    using T = __m128i;
    static constexpr size_t W = 16;
    KX_VEC_COMMON_OPS(_mm, si128)
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
    static T AlphaWords16(T a)
    {
        const T t = _mm_srli_epi32(a, 24);
        return _mm_or_si128(t, _mm_slli_epi32(t, 16));
    }
    static T Reduce2x2Avg(T a, T b)
    {
        const __m128 fa = _mm_castsi128_ps(a), fb = _mm_castsi128_ps(b);
        const T even = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0)));
        const T odd = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1)));
        return _mm_avg_epu8(even, odd);
    }
};

}  // namespace

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
