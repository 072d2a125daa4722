// Included by filters_window_sse2.cpp and filters_window_avx2.cpp inside their anonymous
// namespaces, after the SSE intrinsics.
// The four 32-bit lanes of one pixel in an SSE register: the operations the SSE2 and the AVX2 forms
// share. D supplies Widen and Div (they differ by instruction set).
template <class D>
struct LANES128 {
    using T = __m128i;
    static constexpr int64_t kBytes = 4, kLaneBytes = 1;
    static T Zero() { return _mm_setzero_si128(); }
    static T Load(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const T*>(p)); }
    static void Store(uint32_t* p, T v) { _mm_storeu_si128(reinterpret_cast<T*>(p), v); }
    static T Add(T a, T b) { return _mm_add_epi32(a, b); }
    static T Sub(T a, T b) { return _mm_sub_epi32(a, b); }
    static T And(T a, T b) { return _mm_and_si128(a, b); }
    static T Or(T a, T b) { return _mm_or_si128(a, b); }
    template <int S>
    static T Shl(T a) { return _mm_slli_epi32(a, S); }
    template <int S>
    static T Shr(T a) { return _mm_srli_epi32(a, S); }
    static T ShlBy(T a, int s) { return _mm_sll_epi32(a, _mm_cvtsi32_si128(s)); }
    static T DivToBytes(T a, double inv)
    {
        const T q = D::Div(a, inv);
        return _mm_packus_epi16(_mm_packs_epi32(q, q), q);
    }
    static T LoadBytes(const uint8_t* p)
    {
        int32_t v;
        std::memcpy(&v, p, 4);
        return _mm_cvtsi32_si128(v);
    }
    static void StoreBytes(uint8_t* p, T b)
    {
        const int32_t x = _mm_cvtsi128_si32(b);
        std::memcpy(p, &x, 4);
    }
};
