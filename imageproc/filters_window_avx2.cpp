// AVX2 form of the window pass (eight lanes, two pixels, per vector). This file alone is built for
// AVX2 and uses nothing but intrinsics and functions of its own; the caller selects it only on a
// processor that has it.
#include "imageproc/filters_window.h"

#if defined(__AVX2__)
#include <immintrin.h>

#include <cstring>

namespace {

#include "imageproc/filters_window.inl"
#include "imageproc/filters_window_lanes128.inl"

struct V256 {
    using T = __m256i;
    static constexpr int64_t kBytes = 8, kLaneBytes = 1;
    static T Zero() { return _mm256_setzero_si256(); }
    static T Widen(const uint8_t* p) { return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))); }
    static T Load(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const T*>(p)); }
    static void Store(uint32_t* p, T v) { _mm256_storeu_si256(reinterpret_cast<T*>(p), v); }
    static T Add(T a, T b) { return _mm256_add_epi32(a, b); }
    static T Sub(T a, T b) { return _mm256_sub_epi32(a, b); }
    static T And(T a, T b) { return _mm256_and_si256(a, b); }
    static T Or(T a, T b) { return _mm256_or_si256(a, b); }
    template <int S>
    static T Shl(T a) { return _mm256_slli_epi32(a, S); }
    template <int S>
    static T Shr(T a) { return _mm256_srli_epi32(a, S); }
    static T ShlBy(T a, int s) { return _mm256_sll_epi32(a, _mm_cvtsi32_si128(s)); }
    static T Div(T a, double inv)
    {
        const __m256d f = _mm256_set1_pd(inv);
        const __m128i lo = _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(a)), f));
        const __m128i hi = _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(a, 1)), f));
        return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    }
    static __m128i DivToBytes(T a, double inv)
    {
        const __m256d f = _mm256_set1_pd(inv);
        const __m128i lo = _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(a)), f));
        const __m128i hi = _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(a, 1)), f));
        const __m128i w = _mm_packs_epi32(lo, hi);
        return _mm_packus_epi16(w, w);
    }
    static __m128i LoadBytes(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
    static void StoreBytes(uint8_t* p, __m128i b) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), b); }
};

// One pixel (four lanes) for the bytes of a range that do not fill eight.
struct V128X : LANES128<V128X> {
    static T Widen(const uint8_t* p)
    {
        int32_t v;
        std::memcpy(&v, p, 4);
        return _mm_cvtepu8_epi32(_mm_cvtsi32_si128(v));
    }
    static T Div(T a, double inv)
    {
        return _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_cvtepi32_pd(a), _mm256_set1_pd(inv)));
    }
};

// The alpha of eight pixels, and of four.
struct VA256 : V256 {
    static constexpr int64_t kBytes = 32, kLaneBytes = 4;
    static T Widen(const uint8_t* p) { return _mm256_srli_epi32(_mm256_loadu_si256(reinterpret_cast<const T*>(p)), 24); }
    static void StoreBytes(uint8_t* p, T v) { _mm256_storeu_si256(reinterpret_cast<T*>(p), _mm256_slli_epi32(v, 24)); }
};
struct VA128X : V128X {
    static constexpr int64_t kBytes = 16, kLaneBytes = 4;
    static T Widen(const uint8_t* p) { return _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const T*>(p)), 24); }
    static void StoreBytes(uint8_t* p, T v) { _mm_storeu_si128(reinterpret_cast<T*>(p), _mm_slli_epi32(v, 24)); }
};

}  // namespace

void WindowLinesAvx2(const WINDOW_LINES* pLines, int64_t jBegin, int64_t jEnd)
{
    if (pLines->bAlphaOnly) {
        // Eight pixels a vector, then four, then one at a time.
        const int64_t j8 = jBegin + ((jEnd - jBegin) & ~int64_t(31));
        const int64_t j4 = j8 + ((jEnd - j8) & ~int64_t(15));
        if (j8 > jBegin) RunWindowLines<VA256>(pLines, jBegin, j8);
        if (j4 > j8) RunWindowLines<VA128X>(pLines, j8, j4);
        if (j4 < jEnd) RunWindowLines<VA1>(pLines, j4, jEnd);
        return;
    }
    // Eight-lane vectors from an even pixel on, a four-lane one for an odd pixel at either end.
    int64_t j = jBegin;
    if ((j & 7) != 0 && j < jEnd) {
        RunWindowLines<V128X>(pLines, j, j + 4);
        j += 4;
    }
    const int64_t jWide = j + ((jEnd - j) & ~int64_t(7));
    if (jWide > j) RunWindowLines<V256>(pLines, j, jWide);
    if (jWide < jEnd) RunWindowLines<V128X>(pLines, jWide, jEnd);
}

#else

// Built without AVX2: the SSE2 form stands in (the caller never selects this level then).
void WindowLinesAvx2(const WINDOW_LINES* pLines, int64_t jBegin, int64_t jEnd) { WindowLinesSse2(pLines, jBegin, jEnd); }

#endif
