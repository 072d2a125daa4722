// AVX2 forms of the pixel routines (32 bytes at a time). This file alone is built for AVX2;
// FillPixelOps installs its routines only on a processor that has it. It uses nothing but
// intrinsics and functions of its own, so no shared inline function is ever built for AVX2.
#include "imageproc/pixel_ops.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include "imageproc/pixel_ops_vec.inl"

namespace {

struct V256 {
    using T = __m256i;
    static constexpr size_t W = 32;
    KX_VEC_COMMON_OPS(_mm256, si256)
    static int AnySet(T a) { return _mm256_movemask_epi8(_mm256_cmpeq_epi8(a, Zero())) != -1; }
    // Lo32 and Hi32 work within 16-byte lanes: lo holds pairs 0, 1 | 4, 5 and hi 2, 3 | 6, 7.
    static void StoreLoHi32(uint8_t* p, T lo, T hi)
    {
        Store(p, _mm256_permute2x128_si256(lo, hi, 0x20));
        Store(p + 32, _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    static T GatherSelect(const uint32_t* pTable, const uint8_t* pMask)
    {
        const T idx = _mm256_and_si256(Load(pMask), _mm256_set1_epi32(0xFF));
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(pTable), idx, 4);
    }
    // Lo8 takes pixels 0, 1 and 4, 5; Hi8 pixels 2, 3 and 6, 7.
    static void MaskPatterns(const uint64_t* pPattern, const uint8_t* pMask, T* pLo, T* pHi)
    {
        auto at = [&](int k) { return static_cast<long long>(pPattern[pMask[k * 4]]); };
        *pLo = _mm256_set_epi64x(at(5), at(4), at(1), at(0));
        *pHi = _mm256_set_epi64x(at(7), at(6), at(3), at(2));
    }
    static T AlphaWords16(T a)
    {
        return _mm256_shuffle_epi8(a, _mm256_setr_epi8(3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1,
                                                       3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1));
    }
    static T ColourLanes16()
    {
        return _mm256_set_epi16(0, -1, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1, 0, -1, -1, -1);
    }
    static T Reduce2x2Avg(T a, T b)
    {
        // The shuffle works within 16-byte lanes: pixels come out as 0 2 8 10 | 4 6 12 14, and the
        // 64-bit permutation puts them in order.
        const __m256 fa = _mm256_castsi256_ps(a), fb = _mm256_castsi256_ps(b);
        const T even = _mm256_castps_si256(_mm256_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0)));
        const T odd = _mm256_castps_si256(_mm256_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1)));
        return _mm256_permute4x64_epi64(_mm256_avg_epu8(even, odd), _MM_SHUFFLE(3, 1, 2, 0));
    }
};

}  // namespace

void ApplyAVX2PixelOps(PIXEL_OPS* pOps, int nLevel)
{
    VEC_OPS<V256>::Apply(pOps, nLevel);
}

#else

void ApplyAVX2PixelOps(PIXEL_OPS* pOps, int nLevel)
{
    (void)pOps;
    (void)nLevel;
}

#endif
