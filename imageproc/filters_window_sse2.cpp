// SSE2 form of the window pass (four lanes, one pixel, per vector) and the strip turns of the
// horizontal pass.
#include "imageproc/filters_window.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>

namespace {

#include "imageproc/filters_window.inl"
#include "imageproc/filters_window_lanes128.inl"

struct V128 : LANES128<V128> {
    static T Widen(const uint8_t* p)
    {
        int32_t v;
        std::memcpy(&v, p, 4);
        const T z = _mm_setzero_si128();
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(v), z), z);
    }
    static T Div(T a, double inv)
    {
        const __m128d f = _mm_set1_pd(inv);
        const T lo = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(a), f));
        const T hi = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(a, 0xEE)), f));
        return _mm_unpacklo_epi64(lo, hi);
    }
};

// The alpha of four pixels.
struct VA128 : V128 {
    static constexpr int64_t kBytes = 16, kLaneBytes = 4;
    static T Widen(const uint8_t* p) { return _mm_srli_epi32(_mm_loadu_si128(reinterpret_cast<const T*>(p)), 24); }
    static void StoreBytes(uint8_t* p, T v) { _mm_storeu_si128(reinterpret_cast<T*>(p), _mm_slli_epi32(v, 24)); }
};

// 4 x 4 pixels: rows a, b, c, d in, columns out.
inline void Turn4(__m128i& a, __m128i& b, __m128i& c, __m128i& d)
{
    const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpackhi_epi32(a, b);
    const __m128i t2 = _mm_unpacklo_epi32(c, d), t3 = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(t0, t2);
    b = _mm_unpackhi_epi64(t0, t2);
    c = _mm_unpacklo_epi64(t1, t3);
    d = _mm_unpackhi_epi64(t1, t3);
}

}  // namespace

void WindowLinesSse2(const WINDOW_LINES* pLines, int64_t jBegin, int64_t jEnd)
{
    if (!pLines->bAlphaOnly) {
        RunWindowLines<V128>(pLines, jBegin, jEnd);
        return;
    }
    const int64_t jWide = jBegin + ((jEnd - jBegin) & ~int64_t(15));
    if (jWide > jBegin) RunWindowLines<VA128>(pLines, jBegin, jWide);
    if (jWide < jEnd) RunWindowLines<VA1>(pLines, jWide, jEnd);
}

void RowsToStrip(uint8_t* pStrip, const uint8_t* pRows, ptrdiff_t nRowBytes, int nRows, int64_t w)
{
    int64_t x = 0;
    if (nRows == 8) {
        for (; x + 4 <= w; x += 4) {
            for (int h = 0; h < 8; h += 4) {
                const uint8_t* s = pRows + h * nRowBytes + x * 4;
                __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
                __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + nRowBytes));
                __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * nRowBytes));
                __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * nRowBytes));
                Turn4(a, b, c, d);
                uint8_t* o = pStrip + x * 32 + h * 4;
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o), a);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 32), b);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 64), c);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 96), d);
            }
        }
    }
    for (; x < w; ++x)
        for (int k = 0; k < nRows; ++k) std::memcpy(pStrip + x * 32 + k * 4, pRows + k * nRowBytes + x * 4, 4);
}

void StripToRows(uint8_t* pRows, ptrdiff_t nRowBytes, const uint8_t* pStrip, int nRows, int64_t w)
{
    int64_t x = 0;
    if (nRows == 8) {
        for (; x + 4 <= w; x += 4) {
            for (int h = 0; h < 8; h += 4) {
                const uint8_t* s = pStrip + x * 32 + h * 4;
                __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
                __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
                __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 64));
                __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 96));
                Turn4(a, b, c, d);
                uint8_t* o = pRows + h * nRowBytes + x * 4;
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o), a);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + nRowBytes), b);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 2 * nRowBytes), c);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 3 * nRowBytes), d);
            }
        }
    }
    for (; x < w; ++x)
        for (int k = 0; k < nRows; ++k) std::memcpy(pRows + k * nRowBytes + x * 4, pStrip + x * 32 + k * 4, 4);
}

#else

// Built without SSE2 the vector forms are never selected; the strip turns stay for completeness.
void WindowLinesSse2(const WINDOW_LINES*, int64_t, int64_t) {}

void RowsToStrip(uint8_t* pStrip, const uint8_t* pRows, ptrdiff_t nRowBytes, int nRows, int64_t w)
{
    for (int64_t x = 0; x < w; ++x)
        for (int k = 0; k < nRows; ++k) std::memcpy(pStrip + x * 32 + k * 4, pRows + k * nRowBytes + x * 4, 4);
}

void StripToRows(uint8_t* pRows, ptrdiff_t nRowBytes, const uint8_t* pStrip, int nRows, int64_t w)
{
    for (int64_t x = 0; x < w; ++x)
        for (int k = 0; k < nRows; ++k) std::memcpy(pRows + k * nRowBytes + x * 4, pStrip + x * 32 + k * 4, 4);
}

#endif
