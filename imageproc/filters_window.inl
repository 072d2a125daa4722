// The window pass of imageproc/filters_window.h, written once over a vector type V of 32-bit lanes
// and included by filters_window_sse2.cpp and filters_window_avx2.cpp inside their anonymous
// namespaces. V gives T, kBytes (bytes across per vector), kLaneBytes (bytes across per lane: 1
// for a lane per byte, 4 for the alpha forms, a lane per pixel) and Widen (kBytes bytes to
// lanes), Load/Store (lanes), Add, Sub, Shl/Shr (immediate), ShlBy (run-time count) and Div
// (lanes x reciprocal, truncated). The forms with a lane per byte add DivToBytes (the quotients,
// 0..255, as the low kBytes bytes of a vector), LoadBytes and StoreBytes (kBytes bytes); the alpha
// forms' StoreBytes writes lanes as the alpha of black pixels. The sums of byte j are lane
// j / kLaneBytes.
//
// Sums per lane: the window near the start of a line (position i < r) is 0 .. min(n - 1, i + r),
// the weights anchored at position 0, so its sums only grow: C (box) and S (weighted). From i = r
// on the window is centred: B, the box sum over i - r .. i + r; or for the weighted filters P, the
// plateau sum over i - q .. i + q, and the two tails L = sum 2^(9-t) p[i - q - t] and
// R = sum 2^(9-t) p[i + q + t] (t = 1..T), which step exactly:
//   L(i + 1) = 256 p[i - q] + (L(i) - 2^(9-T) p[i - q - T]) / 2
//   R(i + 1) = 2 (R(i) - 256 p[i + q + 1]) + 2^(9-T) p[i + 1 + q + T]
// Positions past the end of the line read zero bytes, which is the same as leaving them out.

enum { kWindowBlock = 512 };   // bytes across worked together: their sums stay in the first-level cache

inline int64_t WinMin(int64_t a, int64_t b) { return a < b ? a : b; }

template <class V, bool kCopy>
struct WINDOW_PASS {
    using T = typename V::T;
    const WINDOW_LINES* L;
    int64_t j0, j1;
    uint32_t* A0;
    uint32_t* A1;
    uint32_t* A2;
    __m128i avgBytes, copyBytes;   // the channel rules as byte masks, pixel after pixel

    const uint8_t* At(int64_t k) const { return k < L->n ? L->pIn + k * L->nInStep : L->pZero; }

    static int64_t Lane(int64_t j) { return j / V::kLaneBytes; }
    void Clear(uint32_t* A) const
    {
        for (int64_t j = j0; j < j1; j += V::kBytes) V::Store(A + Lane(j), V::Zero());
    }
    // A += bytes of position k << s.
    void AddRow(uint32_t* A, int64_t k, int s) const
    {
        const uint8_t* p = At(k);
        for (int64_t j = j0; j < j1; j += V::kBytes) V::Store(A + Lane(j), V::Add(V::Load(A + Lane(j)), V::ShlBy(V::Widen(p + j), s)));
    }
    // The output of position i for the lanes of vector j: quotient, then the channel rules.
    void Emit(uint8_t* pOut, const uint8_t* pIn, int64_t j, T sum, double inv) const
    {
        if constexpr (V::kLaneBytes == 4) {
            V::StoreBytes(pOut + j, V::Div(sum, inv));
        } else {
            // The quotients as bytes, then the channel rules on the bytes.
            __m128i b = _mm_and_si128(V::DivToBytes(sum, inv), avgBytes);
            if constexpr (kCopy) b = _mm_or_si128(b, _mm_and_si128(V::LoadBytes(pIn + j), copyBytes));
            V::StoreBytes(pOut + j, b);
        }
    }

    void Run()
    {
        const int64_t n = L->n, r = L->r, q = L->q, T9 = 9 - L->T;
        const bool bWeighted = L->bWeighted != 0;
        // Near the start: the sums of positions 0 .. min(n - 1, i + r).
        const int64_t nLeft = WinMin(r, n);
        if (nLeft > 0) {
            Clear(A0);
            if (bWeighted) Clear(A1);
            for (int64_t k = 0; k <= WinMin(n - 1, r); ++k) {
                AddRow(A0, k, 0);
                if (bWeighted && L->pLeftShift[k] >= 0) AddRow(A1, k, L->pLeftShift[k]);
            }
            for (int64_t i = 0; i < nLeft; ++i) {
                const int64_t k = i + r;
                if (i > 0 && k <= n - 1) {
                    AddRow(A0, k, 0);
                    if (bWeighted && L->pLeftShift[k] >= 0) AddRow(A1, k, L->pLeftShift[k]);
                }
                const uint32_t* A = (!bWeighted || L->pLeftBox[i]) ? A0 : A1;
                uint8_t* pOut = L->pOut + i * L->nOutStep;
                const uint8_t* pIn = L->pIn + i * L->nInStep;
                const double inv = L->pInv[i];
                for (int64_t j = j0; j < j1; j += V::kBytes) Emit(pOut, pIn, j, V::Load(A + Lane(j)), inv);
            }
        }
        if (r >= n) return;
        // Centred windows from i = r on.
        Clear(A0);
        if (!bWeighted) {
            for (int64_t k = 0; k <= WinMin(2 * r, n - 1); ++k) AddRow(A0, k, 0);
            for (int64_t i = r; i < n; ++i) {
                uint8_t* pOut = L->pOut + i * L->nOutStep;
                const uint8_t* pIn = L->pIn + i * L->nInStep;
                const uint8_t* pAdd = At(i + 1 + r);
                const uint8_t* pSub = L->pIn + (i - r) * L->nInStep;
                const double inv = L->pInv[i];
                for (int64_t j = j0; j < j1; j += V::kBytes) {
                    const T b = V::Load(A0 + Lane(j));
                    Emit(pOut, pIn, j, b, inv);
                    V::Store(A0 + Lane(j), V::Sub(V::Add(b, V::Widen(pAdd + j)), V::Widen(pSub + j)));
                }
            }
            return;
        }
        Clear(A1);
        Clear(A2);
        for (int64_t k = r - q; k <= WinMin(r + q, n - 1); ++k) AddRow(A0, k, 0);
        for (int64_t t = 1; t <= L->T; ++t) {
            AddRow(A1, r - q - t, static_cast<int>(9 - t));
            if (r + q + t <= n - 1) AddRow(A2, r + q + t, static_cast<int>(9 - t));
        }
        const int sT = static_cast<int>(T9);
        for (int64_t i = r; i < n; ++i) {
            uint8_t* pOut = L->pOut + i * L->nOutStep;
            const uint8_t* pIn = L->pIn + i * L->nInStep;
            const uint8_t* pAdd = At(i + 1 + q);          // enters the plateau, leaves the right tail
            const uint8_t* pSub = L->pIn + (i - q) * L->nInStep;   // leaves the plateau, enters the left tail
            const uint8_t* pLeftEnd = L->pIn + (i - q - L->T) * L->nInStep;
            const uint8_t* pRightEnd = At(i + 1 + q + L->T);
            const double inv = L->pInv[i];
            for (int64_t j = j0; j < j1; j += V::kBytes) {
                const int64_t l = Lane(j);
                const T P = V::Load(A0 + l), Lt = V::Load(A1 + l), Rt = V::Load(A2 + l);
                Emit(pOut, pIn, j, V::Add(V::Add(V::template Shl<9>(P), Lt), Rt), inv);
                const T a = V::Widen(pAdd + j), s = V::Widen(pSub + j);
                V::Store(A0 + l, V::Sub(V::Add(P, a), s));
                V::Store(A1 + l, V::Add(V::template Shl<8>(s), V::template Shr<1>(V::Sub(Lt, V::ShlBy(V::Widen(pLeftEnd + j), sT)))));
                V::Store(A2 + l, V::Add(V::template Shl<1>(V::Sub(Rt, V::template Shl<8>(a))), V::ShlBy(V::Widen(pRightEnd + j), sT)));
            }
        }
    }
};

template <class V, bool kCopy>
void RunWindowLinesT(const WINDOW_LINES* pLines, int64_t jBegin, int64_t jEnd)
{
    WINDOW_PASS<V, kCopy> pass;
    pass.L = pLines;
    uint8_t abAvg[16], abCopy[16];
    for (int k = 0; k < 16; ++k) {
        abAvg[k] = static_cast<uint8_t>(pLines->adwAverage[k & 3]);
        abCopy[k] = static_cast<uint8_t>(pLines->adwCopy[k & 3]);
    }
    pass.avgBytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(abAvg));
    pass.copyBytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(abCopy));
    for (int64_t j0 = jBegin; j0 < jEnd; j0 += kWindowBlock) {
        pass.j0 = j0;
        pass.j1 = WinMin(jEnd, j0 + kWindowBlock);
        pass.A0 = pLines->pState;
        pass.A1 = pLines->pState + pLines->nBytes;
        pass.A2 = pLines->pState + 2 * pLines->nBytes;
        pass.Run();
    }
}

template <class V>
void RunWindowLines(const WINDOW_LINES* pLines, int64_t jBegin, int64_t jEnd)
{
    if (V::kLaneBytes == 1 && pLines->bCopy) RunWindowLinesT<V, true>(pLines, jBegin, jEnd);
    else RunWindowLinesT<V, false>(pLines, jBegin, jEnd);
}

// One pixel's alpha in a plain integer: the bytes of an alpha form's range that fill no vector.
struct VA1 {
    using T = uint32_t;
    static constexpr int64_t kBytes = 4, kLaneBytes = 4;
    static T Zero() { return 0; }
    static T Widen(const uint8_t* p) { return p[3]; }
    static T Load(const uint32_t* p) { return *p; }
    static void Store(uint32_t* p, T v) { *p = v; }
    static T Add(T a, T b) { return a + b; }
    static T Sub(T a, T b) { return a - b; }
    static T And(T a, T b) { return a & b; }
    static T Or(T a, T b) { return a | b; }
    template <int S>
    static T Shl(T a) { return a << S; }
    template <int S>
    static T Shr(T a) { return a >> S; }
    static T ShlBy(T a, int s) { return a << s; }
    static T Div(T a, double inv) { return static_cast<T>(static_cast<double>(static_cast<int32_t>(a)) * inv); }
    static void StoreBytes(uint8_t* p, T v)
    {
        p[0] = p[1] = p[2] = 0;
        p[3] = static_cast<uint8_t>(v);
    }
};
