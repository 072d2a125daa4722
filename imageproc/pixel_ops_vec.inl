// The vector forms of the pixel routines, written once over a vector type V and included by
// pixel_ops_sse2.cpp (16-byte vectors) and pixel_ops_avx2.cpp (32-byte vectors, built for AVX2).
// Everything here has internal linkage, so the two builds never share a function.
//
// Each routine reproduces its plain form exactly: the bytes before the first block (the head) and
// after the last whole vector are handed to the plain form itself, which classifies them the same
// way because every hand-over point is 8-byte aligned relative to the blocks; the vector loop only
// covers bytes that the plain form treats as block bytes (or all bytes where the formula does not
// depend on the class). All products are formed on 16-bit lanes where they cannot overflow:
//   d + ((s - d) x w >> 8)  ==  (d x (256 - w) + s x w) >> 8           for 0 <= w <= 256
//   d - ((d - s) x w >> 8)  ==  (d x (256 - w) + s x w + 255) >> 8     for 0 <= w <= 256
//   (x x w) >> 8            ==  high 16 bits of (x << 8) x w
//   trunc(x / 255)          ==  (x + 1 + (x >> 8)) >> 8                  for 0 <= x <= 65025
// Unpacking, packing and word shuffles act within each 16-byte lane, so the byte order is kept
// for either vector width.
//
// The including file includes this one, then defines V with T, W (bytes per vector) and
// KX_VEC_COMMON_OPS below (Load, Store, Zero, Set8, Set16,
// Set32, Lo8, Hi8, Lo16, Hi16, Lo32, Hi32 (interleave low or high halves), Add8, Add16, Add32,
// Sub16, MulLo16, MulHiU16, MulHiS16, Madd16, Srl16<k>, Sll16<k>, PackUS16, Packs32, Avg8, AddS8, SubS8,
// Min8, Max8, Min16, Max16, CmpGt32 (signed), CmpEq32, Sll32<k>, Srl32<k>, Sra32<k>, Shuffle32<k>, Sub32,
// And, AndNot (~a & b), Or, Xor; MulF32 and DivF32: the 32-bit lanes converted to single precision,
// multiplied or divided, and truncated back toward zero), and:
//   Alpha16        each pixel's alpha word copied into all four of its words
//   AlphaWords16   each pixel's alpha byte, zero-extended, in both 16-bit words of the pixel
//   ColourLanes16  all ones in the B, G, R words of each pixel, zero in its alpha word
//   GatherSelect   the 32-bit table entries of the pixels' first mask bytes, one per pixel
//   MaskPatterns   the 64-bit table entries of the pixels' first mask bytes, laid out as Lo8 and Hi8
//                  lay out the pixels
//   Reduce2x2Avg   the byte average of the even and the odd pixels of two vectors, in order
//   StoreLoHi32    stores the 64-bit pairs of Lo32(a, b) and Hi32(a, b) in the order of a's lanes
//   AnySet         1 when any bit of the vector is set, else 0

// The wrappers that read the same for either vector width: P is the intrinsics' prefix (_mm or
// _mm256) and SI the whole-register suffix (si128 or si256). The including file defines T first.
#define KX_VEC_COMMON_OPS(P, SI) \
    static T Load(const uint8_t* p) { return P##_loadu_##SI(reinterpret_cast<const T*>(p)); } \
    static void Store(uint8_t* p, T v) { P##_storeu_##SI(reinterpret_cast<T*>(p), v); } \
    static T Zero() { return P##_setzero_##SI(); } \
    static T Set8(uint8_t x) { return P##_set1_epi8(static_cast<char>(x)); } \
    static T Set16(int16_t x) { return P##_set1_epi16(x); } \
    static T Set32(int32_t x) { return P##_set1_epi32(x); } \
    static T Lo8(T a, T b) { return P##_unpacklo_epi8(a, b); } \
    static T Hi8(T a, T b) { return P##_unpackhi_epi8(a, b); } \
    static T Lo16(T a, T b) { return P##_unpacklo_epi16(a, b); } \
    static T Hi16(T a, T b) { return P##_unpackhi_epi16(a, b); } \
    static T Lo32(T a, T b) { return P##_unpacklo_epi32(a, b); } \
    static T Hi32(T a, T b) { return P##_unpackhi_epi32(a, b); } \
    static T Add8(T a, T b) { return P##_add_epi8(a, b); } \
    static T Add16(T a, T b) { return P##_add_epi16(a, b); } \
    static T Add32(T a, T b) { return P##_add_epi32(a, b); } \
    static T Sub16(T a, T b) { return P##_sub_epi16(a, b); } \
    static T MulLo16(T a, T b) { return P##_mullo_epi16(a, b); } \
    static T MulHiU16(T a, T b) { return P##_mulhi_epu16(a, b); } \
    static T MulHiS16(T a, T b) { return P##_mulhi_epi16(a, b); } \
    static T Madd16(T a, T b) { return P##_madd_epi16(a, b); } \
    template <int k> static T Srl16(T a) { return P##_srli_epi16(a, k); } \
    template <int k> static T Sll16(T a) { return P##_slli_epi16(a, k); } \
    static T PackUS16(T a, T b) { return P##_packus_epi16(a, b); } \
    static T Packs32(T a, T b) { return P##_packs_epi32(a, b); } \
    static T Avg8(T a, T b) { return P##_avg_epu8(a, b); } \
    static T AddS8(T a, T b) { return P##_adds_epu8(a, b); } \
    static T SubS8(T a, T b) { return P##_subs_epu8(a, b); } \
    static T Min8(T a, T b) { return P##_min_epu8(a, b); } \
    static T Max8(T a, T b) { return P##_max_epu8(a, b); } \
    static T Min16(T a, T b) { return P##_min_epi16(a, b); } \
    static T Max16(T a, T b) { return P##_max_epi16(a, b); } \
    static T And(T a, T b) { return P##_and_##SI(a, b); } \
    static T Xor(T a, T b) { return P##_xor_##SI(a, b); } \
    static T Alpha16(T a) { return P##_shufflehi_epi16(P##_shufflelo_epi16(a, 0xFF), 0xFF); } \
    static T Or(T a, T b) { return P##_or_##SI(a, b); } \
    static T AndNot(T a, T b) { return P##_andnot_##SI(a, b); } \
    static T CmpGt32(T a, T b) { return P##_cmpgt_epi32(a, b); } \
    static T CmpEq32(T a, T b) { return P##_cmpeq_epi32(a, b); } \
    template <int k> static T Sll32(T a) { return P##_slli_epi32(a, k); } \
    template <int k> static T Srl32(T a) { return P##_srli_epi32(a, k); } \
    template <int k> static T Sra32(T a) { return P##_srai_epi32(a, k); } \
    template <int k> static T Shuffle32(T a) { return P##_shuffle_epi32(a, k); } \
    static T Sub32(T a, T b) { return P##_sub_epi32(a, b); } \
    static T MulF32(T a, T b) { return P##_cvttps_epi32(P##_mul_ps(P##_cvtepi32_ps(a), P##_cvtepi32_ps(b))); } \
    static T DivF32(T a, T b) { return P##_cvttps_epi32(P##_div_ps(P##_cvtepi32_ps(a), P##_cvtepi32_ps(b))); }

namespace {

inline int VecClampOpacity(int a)
{
    return a < 0 ? 0 : (a > 256 ? 256 : a);
}

template <class V>
struct VEC_OPS {
    using T = typename V::T;
    static constexpr size_t W = V::W;

    // The last offset reachable in whole vectors from nFrom without passing nTo.
    static size_t VecEnd(size_t nFrom, size_t nTo)
    {
        return nTo > nFrom ? nFrom + ((nTo - nFrom) / W) * W : nFrom;
    }

    // (d x (256 - w) + s x w) >> 8 on the low or high bytes, w in 16-bit lanes (0..256).
    static T MixHalf(T d16, T s16, T w16)
    {
        return V::template Srl16<8>(V::Add16(V::MulLo16(d16, V::Sub16(V::Set16(256), w16)), V::MulLo16(s16, w16)));
    }

    static T MixBytes(T d, T s, T w16)
    {
        const T z = V::Zero();
        return V::PackUS16(MixHalf(V::Lo8(d, z), V::Lo8(s, z), w16), MixHalf(V::Hi8(d, z), V::Hi8(s, z), w16));
    }

    // (d >> 1) + (s >> 1) per byte.
    static T HalfSum(T d, T s)
    {
        const T m = V::Set8(0x7F);
        return V::Add8(V::And(V::template Srl16<1>(d), m), V::And(V::template Srl16<1>(s), m));
    }

    // ---- Lerp and cross-fade ----

    // out[i] := blend of p and q over [nFrom, nTo), in the block form of the level when a = 128.
    static size_t BlendRange(uint8_t* out, const uint8_t* p, const uint8_t* q, int a, size_t nFrom, size_t nTo,
                             int nLevel)
    {
        const size_t nEnd = VecEnd(nFrom, nTo);
        if (a == 128) {
            for (size_t i = nFrom; i < nEnd; i += W) {
                const T x = V::Load(p + i), y = V::Load(q + i);
                V::Store(out + i, nLevel >= 2 ? V::Avg8(x, y) : HalfSum(x, y));
            }
        } else {
            const T w = V::Set16(static_cast<int16_t>(a));
            for (size_t i = nFrom; i < nEnd; i += W)
                V::Store(out + i, MixBytes(V::Load(p + i), V::Load(q + i), w));
        }
        return nEnd;
    }

    static void Lerp1(uint8_t* d, const uint8_t* s, int a, size_t n)
    {
        a = VecClampOpacity(a);
        const size_t i = BlendRange(d, d, s, a, 0, n & ~size_t(7), 1);
        if (i < n) PixelOpLerp(d + i, s + i, a, n - i);
    }

    static void Lerp23(uint8_t* d, const uint8_t* s, int a, size_t n)
    {
        a = VecClampOpacity(a);
        const size_t nHead = PixelOpHeadBytes(d, n, 1);
        if (nHead) PixelOpLerpSSE(d, s, a, nHead);
        const size_t i = BlendRange(d, d, s, a, nHead, nHead + ((n - nHead) & ~size_t(7)), 2);
        if (i < n) PixelOpLerpSSE(d + i, s + i, a, n - i);
    }

    static void CrossFade1(uint8_t* out, const uint8_t* p, const uint8_t* q, int t, size_t n)
    {
        t = VecClampOpacity(t);
        const size_t i = BlendRange(out, p, q, t, 0, n & ~size_t(7), 1);
        if (i < n) PixelOpCrossFade(out + i, p + i, q + i, t, n - i);
    }

    static void CrossFade23(uint8_t* out, const uint8_t* p, const uint8_t* q, int t, size_t n)
    {
        t = VecClampOpacity(t);
        const size_t i = BlendRange(out, p, q, t, 0, n & ~size_t(7), 2);
        if (i < n) PixelOpCrossFadeSSE(out + i, p + i, q + i, t, n - i);
    }

    // ---- Alpha over ----

    // Block pixels. Level 1: (d x (256 - w0) + s x (w0 + 1)) >> 8, which stays within 16 bits because
    // the weights add up to 257. Level 2/3: ((s x (w0 + 1)) >> 8) + ((d x (256 - w0)) >> 8), at most
    // 255. w0 is the source alpha, scaled by the opacity when there is one.
    template <int nLevel, bool bOpacity>
    static T AlphaOverHalf(T d16, T s16, T aOpacity)
    {
        T w0 = V::Alpha16(s16);
        if (bOpacity) w0 = V::template Srl16<8>(V::MulLo16(w0, aOpacity));
        const T wS = V::Add16(w0, V::Set16(1));
        const T wD = V::Sub16(V::Set16(256), w0);
        if (nLevel == 1) return V::template Srl16<8>(V::Add16(V::MulLo16(d16, wD), V::MulLo16(s16, wS)));
        return V::Add16(V::MulHiU16(V::template Sll16<8>(s16), wS), V::MulHiU16(V::template Sll16<8>(d16), wD));
    }

    // Level 2/3 at full opacity, the compositor's commonest blend, in one pass without unpacking:
    // each pixel's B, R bytes (even) and G, A bytes (odd) are put in the high byte of its two words
    // by a shift and a mask, the source alpha comes as a word in both of them (V::AlphaWords16), and
    //   ((s x (a + 1)) >> 8) + ((d x (256 - a)) >> 8)  ==  MulHiU16(s << 8, a + 1) + MulHiU16(d << 8, 256 - a)
    // never exceeds 255 (the two weights add up to 257), so the even and odd results join by a
    // shift and an OR.
    static T AlphaOver23Vec(T x, T y)
    {
        const T hi = V::Set16(static_cast<int16_t>(0xFF00));
        const T a16 = V::AlphaWords16(y);
        const T wS = V::Add16(a16, V::Set16(1)), wD = V::Sub16(V::Set16(256), a16);
        const T even = V::Add16(V::MulHiU16(V::template Sll16<8>(y), wS), V::MulHiU16(V::template Sll16<8>(x), wD));
        const T odd = V::Add16(V::MulHiU16(V::And(y, hi), wS), V::MulHiU16(V::And(x, hi), wD));
        return V::Or(even, V::template Sll16<8>(odd));
    }

    template <int nLevel, bool bOpacity>
    static size_t AlphaOverRange(uint8_t* d, const uint8_t* s, int a, size_t nFrom, size_t nTo)
    {
        const size_t nEnd = VecEnd(nFrom, nTo);
        const T z = V::Zero(), av = V::Set16(static_cast<int16_t>(a));
        if (nLevel >= 2 && !bOpacity) {
            size_t i = nFrom;
            // Two vectors a turn, both loaded before either is stored.
            for (; i + 2 * W <= nEnd; i += 2 * W) {
                const T x0 = V::Load(d + i), y0 = V::Load(s + i), x1 = V::Load(d + i + W), y1 = V::Load(s + i + W);
                V::Store(d + i, AlphaOver23Vec(x0, y0));
                V::Store(d + i + W, AlphaOver23Vec(x1, y1));
            }
            for (; i < nEnd; i += W) V::Store(d + i, AlphaOver23Vec(V::Load(d + i), V::Load(s + i)));
            return nEnd;
        }
        for (size_t i = nFrom; i < nEnd; i += W) {
            const T x = V::Load(d + i), y = V::Load(s + i);
            V::Store(d + i, V::PackUS16(AlphaOverHalf<nLevel, bOpacity>(V::Lo8(x, z), V::Lo8(y, z), av),
                                        AlphaOverHalf<nLevel, bOpacity>(V::Hi8(x, z), V::Hi8(y, z), av)));
        }
        return nEnd;
    }

    static void AlphaOver1(uint8_t* d, const uint8_t* s, size_t n)
    {
        const size_t i = AlphaOverRange<1, false>(d, s, 0, 0, n & ~size_t(7));
        if (i < n) PixelOpAlphaOver(d + i, s + i, n - i);
    }

    static void AlphaOver23(uint8_t* d, const uint8_t* s, size_t n)
    {
        const size_t nHead = PixelOpHeadBytes(d, n, 4);
        if (nHead) PixelOpAlphaOverSSE(d, s, nHead);
        const size_t i = AlphaOverRange<2, false>(d, s, 0, nHead, nHead + ((n - nHead) & ~size_t(7)));
        if (i < n) PixelOpAlphaOverSSE(d + i, s + i, n - i);
    }

    static void AlphaOverOpacity1(uint8_t* d, const uint8_t* s, int a, size_t n)
    {
        a = VecClampOpacity(a);
        const size_t i = AlphaOverRange<1, true>(d, s, a, 0, n & ~size_t(7));
        if (i < n) PixelOpAlphaOverOpacity(d + i, s + i, a, n - i);
    }

    static void AlphaOverOpacity23(uint8_t* d, const uint8_t* s, int a, size_t n)
    {
        a = VecClampOpacity(a);
        const size_t nHead = PixelOpHeadBytes(d, n, 4);
        if (nHead) PixelOpAlphaOverOpacitySSE(d, s, a, nHead);
        const size_t i = AlphaOverRange<2, true>(d, s, a, nHead, nHead + ((n - nHead) & ~size_t(7)));
        if (i < n) PixelOpAlphaOverOpacitySSE(d + i, s + i, a, n - i);
    }

    // ---- Mask ----

    // d - ((d - s) x w >> 8) with w2 = 2w (0..512): (d - s) x 128 and 2w fit signed 16 bits, and
    // the high half of their product is (d - s) x w >> 8, floored as the plain form floors it.
    static T MaskHalf1(T d16, T s16, T w2)
    {
        return V::Sub16(d16, V::MulHiS16(V::template Sll16<7>(V::Sub16(d16, s16)), w2));
    }

    // Level 1: per pixel the curve weight w of the mask's blue byte; w <= 1 leaves the pixel, else
    // B, G, R := d - ((d - s) x w >> 8). The curve is first turned into a table of 16-bit weight
    // patterns (2w, 2w, 2w, 0), with 0 for the entries that change nothing, so a pixel's weights
    // are one load. A curve with an entry above 256 (which no opacity in range gives), and
    // rows too short to repay the table, go to the plain form. A hard-edged curve (every entry 1 or
    // less, or 256) only chooses between the two pixels' colours: w = 256 gives s exactly.
    static void Mask1(uint8_t* d, const uint8_t* s, const uint8_t* m, int nThreshold, int nVagueness, size_t n)
    {
        const size_t nEnd = VecEnd(0, n & ~size_t(3));
        if (nEnd < 256) {
            PixelOpMask(d, s, m, nThreshold, nVagueness, n);
            return;
        }
        // One pass over the curve: is every entry at most 256, is the curve hard-edged, and each
        // entry as four 16-bit lanes: 2w in the colour lanes (0 where w is 1 or less), 0 in the
        // alpha lane, which so keeps its byte.
        alignas(64) uint64_t aPattern[256];
        const T one = V::Set32(1), full = V::Set32(256);
        T outOfRange = V::Zero(), soft = V::Zero();
        for (int k = 0; k < 256; k += static_cast<int>(W / 4)) {
            const T w = V::Load(reinterpret_cast<const uint8_t*>(g_aiMaskCurve + k));
            const T keep = V::CmpGt32(w, one);
            outOfRange = V::Or(outOfRange, V::CmpGt32(w, full));
            soft = V::Or(soft, V::AndNot(V::CmpEq32(w, full), keep));
            const T w2 = V::And(V::Add32(w, w), keep);
            const T w22 = V::Or(w2, V::template Sll32<16>(w2));
            V::StoreLoHi32(reinterpret_cast<uint8_t*>(aPattern + k), V::Lo32(w22, w2), V::Hi32(w22, w2));
        }
        const int nOutOfRange = V::AnySet(outOfRange), nSoft = V::AnySet(soft);
        if (nOutOfRange) {
            PixelOpMask(d, s, m, nThreshold, nVagueness, n);
            return;
        }
        if (!nSoft) {
            // A step: every entry from nFirstFull on is 256, every one before it 1 or less.
            int nFirstFull = 256;
            while (nFirstFull > 0 && g_aiMaskCurve[nFirstFull - 1] == 256)
                --nFirstFull;
            bool bStep = true;
            for (int k = 0; k < nFirstFull; ++k)
                bStep &= g_aiMaskCurve[k] != 256;
            uint32_t aSelect[256];
            if (!bStep)
                for (int k = 0; k < 256; ++k)
                    aSelect[k] = g_aiMaskCurve[k] == 256 ? 0x00FFFFFFu : 0;
            const T first = V::Set32(nFirstFull - 1), low = V::Set32(0xFF), colour = V::Set32(0x00FFFFFF);
            for (size_t i = 0; i < nEnd; i += W) {
                const T sel = bStep ? V::And(V::CmpGt32(V::And(V::Load(m + i), low), first), colour)
                                    : V::GatherSelect(aSelect, m + i);
                V::Store(d + i, V::Or(V::And(sel, V::Load(s + i)), V::AndNot(sel, V::Load(d + i))));
            }
            if (nEnd < n) PixelOpMask(d + nEnd, s + nEnd, m + nEnd, nThreshold, nVagueness, n - nEnd);
            return;
        }
        const T z = V::Zero();
        for (size_t i = 0; i < nEnd; i += W) {
            T wLo, wHi;
            V::MaskPatterns(aPattern, m + i, &wLo, &wHi);
            const T x = V::Load(d + i), y = V::Load(s + i);
            V::Store(d + i, V::PackUS16(MaskHalf1(V::Lo8(x, z), V::Lo8(y, z), wLo),
                                        MaskHalf1(V::Hi8(x, z), V::Hi8(y, z), wHi)));
        }
        if (nEnd < n) PixelOpMask(d + nEnd, s + nEnd, m + nEnd, nThreshold, nVagueness, n - nEnd);
    }

    // Level 2/3 with vagueness other than 256: per byte, w = clamp(m x c + K, 0, 255) + 1 and
    // d := clamp(d + ((s x w) >> 8) - ((d x w) >> 8), 0, 255). m x c + K is formed on 32-bit lanes;
    // K is limited to +-2^24, beyond which the clamp gives the same weight.
    static T MaskWeights23(T m16, T c32, T K32)
    {
        const T z = V::Zero();
        const T e0 = V::Add32(V::Madd16(V::Lo16(m16, z), c32), K32);
        const T e1 = V::Add32(V::Madd16(V::Hi16(m16, z), c32), K32);
        const T w = V::Min16(V::Max16(V::Packs32(e0, e1), z), V::Set16(255));
        return V::Add16(w, V::Set16(1));
    }

    static T MaskHalf23(T d16, T s16, T w16)
    {
        return V::Sub16(V::Add16(d16, V::MulHiU16(V::template Sll16<8>(s16), w16)),
                        V::MulHiU16(V::template Sll16<8>(d16), w16));
    }

    static void Mask23(uint8_t* d, const uint8_t* s, const uint8_t* m, int nThreshold, int nVagueness, size_t n)
    {
        if (nVagueness == 256) {
            Mask1(d, s, m, nThreshold, nVagueness, n);
            return;
        }
        const int64_t c = nVagueness >> 1;
        if (c < -32768 || c > 32767) {
            PixelOpMaskSSE(d, s, m, nThreshold, nVagueness, n);
            return;
        }
        int64_t K = static_cast<int64_t>(nThreshold) * (c + 1) - 128 * static_cast<int64_t>(nVagueness);
        const int64_t nLimit = int64_t(1) << 24;
        K = K < -nLimit ? -nLimit : (K > nLimit ? nLimit : K);
        const T c32 = V::Set32(static_cast<int32_t>(c) & 0xFFFF);
        const T K32 = V::Set32(static_cast<int32_t>(K));
        const T z = V::Zero();
        const size_t nBytes = n & ~size_t(3);
        const size_t nEnd = VecEnd(0, nBytes);
        for (size_t i = 0; i < nEnd; i += W) {
            const T mv = V::Load(m + i), x = V::Load(d + i), y = V::Load(s + i);
            const T lo = MaskHalf23(V::Lo8(x, z), V::Lo8(y, z), MaskWeights23(V::Lo8(mv, z), c32, K32));
            const T hi = MaskHalf23(V::Hi8(x, z), V::Hi8(y, z), MaskWeights23(V::Hi8(mv, z), c32, K32));
            V::Store(d + i, V::PackUS16(lo, hi));
        }
        if (nEnd < n) PixelOpMaskSSE(d + nEnd, s + nEnd, m + nEnd, nThreshold, nVagueness, n - nEnd);
    }

    // ---- Add family ----

    static void Add(uint8_t* d, const uint8_t* s, size_t n)
    {
        const size_t nEnd = VecEnd(0, n);
        for (size_t i = 0; i < nEnd; i += W)
            V::Store(d + i, V::AddS8(V::Load(d + i), V::Load(s + i)));
        if (nEnd < n) PixelOpAdd(d + nEnd, s + nEnd, n - nEnd);
    }

    // Blocks: min(255, d + ((s x a) >> 8)).
    static void AddOpacity(uint8_t* d, const uint8_t* s, int a, size_t n)
    {
        a = VecClampOpacity(a);
        const size_t nEnd = VecEnd(0, n & ~size_t(7));
        const T z = V::Zero(), av = V::Set16(static_cast<int16_t>(a));
        for (size_t i = 0; i < nEnd; i += W) {
            const T y = V::Load(s + i);
            const T add = V::PackUS16(V::MulHiU16(V::Lo8(z, y), av), V::MulHiU16(V::Hi8(z, y), av));
            V::Store(d + i, V::AddS8(V::Load(d + i), add));
        }
        if (nEnd < n) PixelOpAddOpacity(d + nEnd, s + nEnd, a, n - nEnd);
    }

    // B, G, R: d + ((min(255, d + s) - d) x w >> 8) with the pixel's weight w (0..256) from its
    // alpha; the alpha lane gets weight 0 and so keeps its value.
    template <int nKind>
    static T AddAlphaWeights(T s16, T av)
    {
        T w = V::Add16(V::Alpha16(s16), V::Set16(1));       // sA + 1
        if (nKind == 1) w = V::Min16(w, V::Set16(255));      // level 2/3
        if (nKind == 2) w = V::template Srl16<8>(V::MulLo16(w, av));                       // level 1, a < 256
        if (nKind == 3) w = V::template Srl16<8>(V::MulLo16(V::Min16(w, V::Set16(255)), av));   // level 2/3
        return V::And(w, V::ColourLanes16());
    }

    template <int nKind>
    static void AddAlphaRange(uint8_t* d, const uint8_t* s, int a, size_t nEnd)
    {
        const T z = V::Zero(), av = V::Set16(static_cast<int16_t>(a));
        for (size_t i = 0; i < nEnd; i += W) {
            const T x = V::Load(d + i), y = V::Load(s + i);
            const T diff = V::SubS8(V::AddS8(x, y), x);
            const T wLo = AddAlphaWeights<nKind>(V::Lo8(y, z), av), wHi = AddAlphaWeights<nKind>(V::Hi8(y, z), av);
            const T lo = V::Add16(V::Lo8(x, z), V::template Srl16<8>(V::MulLo16(V::Lo8(diff, z), wLo)));
            const T hi = V::Add16(V::Hi8(x, z), V::template Srl16<8>(V::MulLo16(V::Hi8(diff, z), wHi)));
            V::Store(d + i, V::PackUS16(lo, hi));
        }
    }

    static void AddAlpha1(uint8_t* d, const uint8_t* s, int nIgnored, size_t n)
    {
        const size_t nEnd = VecEnd(0, n & ~size_t(3));
        AddAlphaRange<0>(d, s, 0, nEnd);
        if (nEnd < n) PixelOpAddAlpha(d + nEnd, s + nEnd, nIgnored, n - nEnd);
    }

    static void AddAlpha23(uint8_t* d, const uint8_t* s, int nIgnored, size_t n)
    {
        const size_t nEnd = VecEnd(0, n & ~size_t(3));
        AddAlphaRange<1>(d, s, 0, nEnd);
        if (nEnd < n) PixelOpAddAlphaSSE(d + nEnd, s + nEnd, nIgnored, n - nEnd);
    }

    static void AddAlphaOpacity1(uint8_t* d, const uint8_t* s, int a, size_t n)
    {
        a = VecClampOpacity(a);
        const size_t nEnd = VecEnd(0, n & ~size_t(3));
        // (sA x a + a) >> 8 is sA + 1 itself at a = 256, and (sA + 1) x a fits 16 bits below it.
        if (a == 256)
            AddAlphaRange<0>(d, s, 0, nEnd);
        else
            AddAlphaRange<2>(d, s, a, nEnd);
        if (nEnd < n) PixelOpAddAlphaOpacity(d + nEnd, s + nEnd, a, n - nEnd);
    }

    static void AddAlphaOpacity23(uint8_t* d, const uint8_t* s, int a, size_t n)
    {
        a = VecClampOpacity(a);
        const size_t nEnd = VecEnd(0, n & ~size_t(3));
        AddAlphaRange<3>(d, s, a, nEnd);
        if (nEnd < n) PixelOpAddAlphaOpacitySSE(d + nEnd, s + nEnd, a, n - nEnd);
    }

    // ---- Byte-wise modes ----

    template <class F>
    static void ByteWise(uint8_t* d, const uint8_t* s, size_t n, F f,
                         void (*pfnPlain)(uint8_t*, const uint8_t*, size_t))
    {
        const size_t nEnd = VecEnd(0, n);
        for (size_t i = 0; i < nEnd; i += W)
            V::Store(d + i, f(V::Load(d + i), V::Load(s + i)));
        if (nEnd < n) pfnPlain(d + nEnd, s + nEnd, n - nEnd);
    }

    static void Subtract(uint8_t* d, const uint8_t* s, size_t n)
    {
        ByteWise(d, s, n, [](T x, T y) { return V::SubS8(y, x); }, PixelOpSubtract);
    }

    static void Lighten(uint8_t* d, const uint8_t* s, size_t n)
    {
        ByteWise(d, s, n, [](T x, T y) { return V::Max8(x, y); }, PixelOpLighten);
    }

    static void Darken(uint8_t* d, const uint8_t* s, size_t n)
    {
        ByteWise(d, s, n, [](T x, T y) { return V::Min8(x, y); }, PixelOpDarken);
    }

    // max(0, d + s - 255) = s - (255 - d), saturating.
    static void LinearBurn(uint8_t* d, const uint8_t* s, size_t n)
    {
        ByteWise(d, s, n, [](T x, T y) { return V::SubS8(y, V::Xor(x, V::Set8(0xFF))); }, PixelOpLinearBurn);
    }

    static T LinearLightHalf(T d16, T s16)
    {
        return V::Sub16(V::Add16(d16, V::Add16(s16, s16)), V::Set16(256));
    }

    static void LinearLight(uint8_t* d, const uint8_t* s, size_t n)
    {
        ByteWise(
            d, s, n,
            [](T x, T y) {
                const T z = V::Zero();
                return V::PackUS16(LinearLightHalf(V::Lo8(x, z), V::Lo8(y, z)),
                                   LinearLightHalf(V::Hi8(x, z), V::Hi8(y, z)));
            },
            PixelOpLinearLight);
    }

    // (d x (s + 1)) >> 8.
    static T MulHalf(T d16, T s16)
    {
        return V::MulHiU16(V::template Sll16<8>(d16), V::Add16(s16, V::Set16(1)));
    }

    static void Multiply(uint8_t* d, const uint8_t* s, size_t n)
    {
        const size_t nEnd = VecEnd(0, n & ~size_t(3));
        const T z = V::Zero();
        for (size_t i = 0; i < nEnd; i += W) {
            const T x = V::Load(d + i), y = V::Load(s + i);
            V::Store(d + i, V::PackUS16(MulHalf(V::Lo8(x, z), V::Lo8(y, z)), MulHalf(V::Hi8(x, z), V::Hi8(y, z))));
        }
        if (nEnd < n) PixelOpMultiply(d + nEnd, s + nEnd, n - nEnd);
    }

    static T ScreenHalf(T d16, T s16)
    {
        return V::Sub16(V::Add16(d16, s16), MulHalf(d16, s16));
    }

    static void Screen(uint8_t* d, const uint8_t* s, size_t n)
    {
        const size_t nEnd = VecEnd(0, n & ~size_t(7));
        const T z = V::Zero();
        for (size_t i = 0; i < nEnd; i += W) {
            const T x = V::Load(d + i), y = V::Load(s + i);
            V::Store(d + i,
                     V::PackUS16(ScreenHalf(V::Lo8(x, z), V::Lo8(y, z)), ScreenHalf(V::Hi8(x, z), V::Hi8(y, z))));
        }
        if (nEnd < n) PixelOpScreen(d + nEnd, s + nEnd, n - nEnd);
    }

    // S = s + d - trunc(s x d / 255), then (d x (256 - a) + S x a) >> 8.
    static T ScreenOpacityHalf(T d16, T s16, T a16)
    {
        const T x = V::MulLo16(d16, s16);
        const T q = V::template Srl16<8>(V::Add16(V::Add16(x, V::Set16(1)), V::template Srl16<8>(x)));
        return MixHalf(d16, V::Sub16(V::Add16(d16, s16), q), a16);
    }

    static void ScreenOpacity(uint8_t* d, const uint8_t* s, int a, size_t n)
    {
        a = VecClampOpacity(a);
        const size_t nEnd = VecEnd(0, n);
        const T z = V::Zero(), av = V::Set16(static_cast<int16_t>(a));
        for (size_t i = 0; i < nEnd; i += W) {
            const T x = V::Load(d + i), y = V::Load(s + i);
            V::Store(d + i, V::PackUS16(ScreenOpacityHalf(V::Lo8(x, z), V::Lo8(y, z), av),
                                        ScreenOpacityHalf(V::Hi8(x, z), V::Hi8(y, z), av)));
        }
        if (nEnd < n) PixelOpScreenOpacity(d + nEnd, s + nEnd, a, n - nEnd);
    }

    // ---- Fill and halving ----

    static void Fill32(void* pDst, size_t n, uint32_t dwValue)
    {
        uint8_t* d = static_cast<uint8_t*>(pDst);
        const size_t nEnd = VecEnd(0, n & ~size_t(3));
        const T v = V::Set32(static_cast<int32_t>(dwValue));
        for (size_t i = 0; i < nEnd; i += W)
            V::Store(d + i, v);
        if (nEnd < n) PixelOpFill32(d + nEnd, n - nEnd, dwValue);
    }

    // avg(avg(p1, p3), avg(p2, p4)): rows averaged first, then neighbouring pixels.
    static void Reduce2x2SSE(uint8_t* d, const uint8_t* s, size_t nSrcWidth, size_t nOut)
    {
        const uint8_t* b = s + nSrcWidth * 4;
        const size_t nPerVec = W / 4;   // output pixels per vector
        size_t i = 0;
        for (; i + nPerVec <= nOut; i += nPerVec) {
            const T r0 = V::Avg8(V::Load(s + i * 8), V::Load(b + i * 8));
            const T r1 = V::Avg8(V::Load(s + i * 8 + W), V::Load(b + i * 8 + W));
            V::Store(d + i * 4, V::Reduce2x2Avg(r0, r1));
        }
        if (i < nOut) PixelOpReduce2x2SSE(d + i * 4, s + i * 8, nSrcWidth, nOut - i);
    }

    // ---- Compose (alpha onto alpha) ----
    //
    // Per pixel on 32-bit lanes: the combined alpha A and, for the forms without a source opacity,
    // the weight w = floor(256 sA / A) (0 for A = 0). The quotient is taken in single precision:
    // 256 sA and A are exact, and a quotient that is not a whole number lies at least 1/255 from
    // the next one, more than twice the rounding step of any value below 65536, so truncation
    // gives the integer quotient. The same holds for the both-opacities quotient x sA / (A + 1)
    // (|x sA| <= 65025, divisor <= 256), truncated toward zero as the plain form divides.
    //
    // Kinds: 0 Compose, 1 with a source opacity, 2 with a destination opacity (the destination
    // alpha scaled first), 3 with both opacities (its own alpha and colour formulas).

    // The channels of one pixel on 32-bit lanes: d and the 16-bit differences s - d as [x, 0] pairs
    // (so Madd16 with [k, 0] pairs gives x k), out of the 16-bit halves Lo8 / Hi8 make.
    template <int nPixel>
    static void PixelChannels(T dHalf16, T xHalf16, T* pD32, T* pX32)
    {
        const T z = V::Zero();
        *pD32 = (nPixel & 1) ? V::Hi16(dHalf16, z) : V::Lo16(dHalf16, z);
        *pX32 = (nPixel & 1) ? V::Hi16(xHalf16, z) : V::Lo16(xHalf16, z);
    }

    template <int nPixel>
    static T Broadcast(T v)
    {
        return V::template Shuffle32<nPixel * 0x55>(v);
    }

    // Source opacity: d + floor((s - d) x W / 65536) with W = w x p < 2^24, split as
    // W = 4096 Wa + Wb so every product fits 32 bits: floor((x Wa + floor(x Wb / 4096)) / 16).
    template <int nPixel>
    static T OpacityChannels(T dHalf16, T xHalf16, T Wa, T Wb)
    {
        T d32, x32;
        PixelChannels<nPixel>(dHalf16, xHalf16, &d32, &x32);
        const T lo = V::template Sra32<12>(V::Madd16(x32, Broadcast<nPixel>(Wb)));
        return V::Add32(d32, V::template Sra32<4>(V::Add32(V::Madd16(x32, Broadcast<nPixel>(Wa)), lo)));
    }

    // Both opacities: d + trunc(floor((s - d) x ps / 256) x sA / (A + 1)).
    template <int nPixel>
    static T BothChannels(T dHalf16, T xHalf16, T ps, T sA, T A1)
    {
        T d32, x32;
        PixelChannels<nPixel>(dHalf16, xHalf16, &d32, &x32);
        const T x = V::template Sra32<8>(V::Madd16(x32, ps));
        return V::Add32(d32, V::DivF32(V::MulF32(x, Broadcast<nPixel>(sA)), Broadcast<nPixel>(A1)));
    }

    // One vector of pixels; p is the opacity (the source's for kinds 1 and 3, the destination's
    // for kind 2) and q the source opacity of kind 3, each in every 32-bit lane.
    template <int nKind>
    static T ComposeVec(T d, T s, T p, T q)
    {
        const T z = V::Zero(), one = V::Set32(1);
        const T sA = V::template Srl32<24>(s);
        T dA = V::template Srl32<24>(d);
        // Products of two values below 257 on 32-bit lanes: MulLo16 multiplies the low halves
        // (the high halves are 0), and no product reaches 65536.
        if (nKind == 2 || nKind == 3) dA = V::template Srl32<8>(V::MulLo16(dA, p));
        T A;
        if (nKind == 3) {
            const T t = V::Sub32(sA, V::template Srl32<8>(V::MulLo16(V::Add32(sA, one), dA)));
            A = V::And(V::Add32(dA, V::template Srl32<8>(V::MulLo16(t, q))), V::Set32(0xFF));
        } else {
            const T x = V::MulLo16(dA, sA);
            T cover = V::Sub32(sA, V::template Srl32<8>(V::Add32(V::Add32(x, one), V::template Srl32<8>(x))));
            if (nKind == 1) cover = V::template Srl32<8>(V::MulLo16(cover, p));
            A = V::Add32(dA, cover);
        }
        const T dLo = V::Lo8(d, z), dHi = V::Hi8(d, z), sLo = V::Lo8(s, z), sHi = V::Hi8(s, z);
        T c;
        if (nKind == 0 || nKind == 2) {
            // w <= 256 here (A >= sA): (d (256 - w) + s w) >> 8, each pixel's w in its four words.
            const T w = V::AndNot(V::CmpEq32(A, z), V::DivF32(V::template Sll32<8>(sA), A));
            const T wLo = V::Lo32(w, w), wHi = V::Hi32(w, w);
            c = V::PackUS16(MixHalf(dLo, sLo, V::Or(wLo, V::template Sll32<16>(wLo))),
                            MixHalf(dHi, sHi, V::Or(wHi, V::template Sll32<16>(wHi))));
        } else if (nKind == 1) {
            const T w = V::AndNot(V::CmpEq32(A, z), V::DivF32(V::template Sll32<8>(sA), A));
            const T W = V::MulF32(w, p);   // below 2^24, so exact
            const T Wa = V::template Srl32<12>(W), Wb = V::And(W, V::Set32(4095));
            const T xLo = V::Sub16(sLo, dLo), xHi = V::Sub16(sHi, dHi);
            c = V::PackUS16(V::Packs32(OpacityChannels<0>(dLo, xLo, Wa, Wb), OpacityChannels<1>(dLo, xLo, Wa, Wb)),
                            V::Packs32(OpacityChannels<2>(dHi, xHi, Wa, Wb), OpacityChannels<3>(dHi, xHi, Wa, Wb)));
        } else {
            const T A1 = V::Add32(A, one);
            const T xLo = V::Sub16(sLo, dLo), xHi = V::Sub16(sHi, dHi);
            c = V::PackUS16(V::Packs32(BothChannels<0>(dLo, xLo, q, sA, A1), BothChannels<1>(dLo, xLo, q, sA, A1)),
                            V::Packs32(BothChannels<2>(dHi, xHi, q, sA, A1), BothChannels<3>(dHi, xHi, q, sA, A1)));
        }
        return V::Or(V::And(c, V::Set32(0x00FFFFFF)), V::template Sll32<24>(A));
    }

    template <int nKind>
    static size_t ComposeRange(uint8_t* d, const uint8_t* s, int p, int q, size_t n)
    {
        const size_t nEnd = VecEnd(0, n & ~size_t(3));
        const T pv = V::Set32(p), qv = V::Set32(q);
        for (size_t i = 0; i < nEnd; i += W)
            V::Store(d + i, ComposeVec<nKind>(V::Load(d + i), V::Load(s + i), pv, qv));
        return nEnd;
    }

    static void Compose(uint8_t* d, const uint8_t* s, size_t n)
    {
        const size_t i = ComposeRange<0>(d, s, 256, 256, n);
        if (i < n) PixelOpCompose(d + i, s + i, n - i);
    }

    static void ComposeOpacity(uint8_t* d, const uint8_t* s, int p, size_t n)
    {
        p = VecClampOpacity(p);
        const size_t i = ComposeRange<1>(d, s, p, 256, n);
        if (i < n) PixelOpComposeOpacity(d + i, s + i, p, n - i);
    }

    static void ComposeDestOpacity(uint8_t* d, const uint8_t* s, int p, size_t n)
    {
        p = VecClampOpacity(p);
        const size_t i = ComposeRange<2>(d, s, p, 256, n);
        if (i < n) PixelOpComposeDestOpacity(d + i, s + i, p, n - i);
    }

    static void ComposeBothOpacity(uint8_t* d, const uint8_t* s, int pd, int ps, size_t n)
    {
        pd = VecClampOpacity(pd);
        ps = VecClampOpacity(ps);
        const size_t i = ComposeRange<3>(d, s, pd, ps, n);
        if (i < n) PixelOpComposeBothOpacity(d + i, s + i, pd, ps, n - i);
    }

    static void Apply(PIXEL_OPS* o, int nLevel)
    {
        o->PixelOpCompose = Compose;
        o->PixelOpComposeOpacity = ComposeOpacity;
        o->PixelOpComposeDestOpacity = ComposeDestOpacity;
        o->PixelOpComposeBothOpacity = ComposeBothOpacity;
        const bool bBlockSet = nLevel >= 2;
        o->PixelOpFill32 = Fill32;
        o->PixelOpLerp = bBlockSet ? Lerp23 : Lerp1;
        o->PixelOpAlphaOver = bBlockSet ? AlphaOver23 : AlphaOver1;
        o->PixelOpAlphaOverOpacity = bBlockSet ? AlphaOverOpacity23 : AlphaOverOpacity1;
        o->PixelOpMask = bBlockSet ? Mask23 : Mask1;
        o->PixelOpCrossFade = bBlockSet ? CrossFade23 : CrossFade1;
        o->PixelOpAdd = Add;
        o->PixelOpAddOpacity = AddOpacity;
        o->PixelOpAddAlpha = bBlockSet ? AddAlpha23 : AddAlpha1;
        o->PixelOpAddAlphaOpacity = bBlockSet ? AddAlphaOpacity23 : AddAlphaOpacity1;
        o->PixelOpSubtract = Subtract;
        o->PixelOpMultiply = Multiply;
        o->PixelOpScreen = Screen;
        o->PixelOpScreenOpacity = ScreenOpacity;
        o->PixelOpLighten = Lighten;
        o->PixelOpDarken = Darken;
        o->PixelOpLinearBurn = LinearBurn;
        o->PixelOpLinearLight = LinearLight;
        if (bBlockSet) o->PixelOpReduce2x2 = Reduce2x2SSE;
    }
};

}  // namespace
