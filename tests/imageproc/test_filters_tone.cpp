// Blur, shadow and tone filters: the window filters against a literal per-pixel reference (window
// clipped at the rectangle, weight table indexed from the window's first pixel) over a table of
// radii, rectangles and alpha flags; the per-pixel filters against their formulas; fill and alpha
// ramp placement and the has-alpha flag; rectangles that must not read or write outside buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imageproc/image_effects.h"

namespace {

typedef int (*WINDOW_FILTER)(uint8_t*, const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                             int32_t, int32_t, int32_t);

std::vector<uint8_t> RandomImage(int32_t w, int32_t h, uint32_t seed)
{
    std::vector<uint8_t> v(size_t(w) * h * 4);
    for (auto& b : v) {
        seed = seed * 1664525u + 1013904223u;
        b = uint8_t(seed >> 24);
    }
    return v;
}

// ---- Literal reference of the window filters ----

enum RULE { AVG, COPY, ZERO };

std::vector<int64_t> RefWeights(int64_t r)
{
    std::vector<int64_t> t(size_t(2 * r + 1), 0);
    const int64_t c = r, q = r / 4;
    for (int64_t k = c - q; k <= c + q; ++k) t[size_t(k)] = 512;
    int64_t v = 512;
    for (int64_t k = c - q - 1, j = c + q + 1; k >= 0; --k, ++j) {
        v /= 2;
        t[size_t(k)] = v;
        t[size_t(j)] = v;
    }
    return t;
}

// One pass over a w x h image (rows of w pixels), horizontal or vertical.
std::vector<uint8_t> RefPass(const std::vector<uint8_t>& in, int64_t w, int64_t h, int64_t r, bool bHorizontal,
                             bool bWeighted, const RULE* rule)
{
    std::vector<uint8_t> out(in.size());
    const std::vector<int64_t> t = RefWeights(r);
    const int64_t n = bHorizontal ? w : h;
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x) {
            const int64_t i = bHorizontal ? x : y;
            const int64_t s0 = std::max<int64_t>(0, i - r), e0 = std::min<int64_t>(n - 1, i + r);
            auto at = [&](int64_t j, int c) {
                return int64_t(in[size_t(((bHorizontal ? y : j) * w + (bHorizontal ? j : x)) * 4 + c)]);
            };
            uint8_t* d = &out[size_t((y * w + x) * 4)];
            for (int c = 0; c < 4; ++c) {
                if (rule[c] == COPY) d[c] = uint8_t(at(i, c));
                else if (rule[c] == ZERO) d[c] = 0;
                else {
                    int64_t sum = 0, wsum = 0, box = 0;
                    for (int64_t j = s0; j <= e0; ++j) {
                        sum += t[size_t(j - s0)] * at(j, c);
                        wsum += t[size_t(j - s0)];
                        box += at(j, c);
                    }
                    // A window whose weights are all 0 takes the box average.
                    d[c] = uint8_t(bWeighted && wsum ? sum / wsum : box / (e0 - s0 + 1));
                }
            }
        }
    return out;
}

std::vector<uint8_t> RefWindow(int nCode, const std::vector<uint8_t>& src, int32_t sw, int32_t x1, int32_t y1,
                               int32_t x2, int32_t y2, int32_t P, bool bAlpha)
{
    const int64_t w = x2 - x1 + 1, h = y2 - y1 + 1, r = P <= 0 ? 1 : P;
    std::vector<uint8_t> rect(size_t(w * h * 4));
    for (int64_t y = 0; y < h; ++y)
        std::memcpy(&rect[size_t(y * w * 4)], &src[size_t(((y1 + y) * sw + x1) * 4)], size_t(w * 4));
    static const RULE kAll[4] = {AVG, AVG, AVG, AVG}, kColour[4] = {AVG, AVG, AVG, COPY},
                      kBlack[4] = {ZERO, ZERO, ZERO, AVG};
    const RULE* rule = bAlpha ? kAll : kColour;
    bool bWeighted = false, bH = true, bV = true;
    switch (nCode) {
    case EFFECT_BLUR: bWeighted = bAlpha; break;
    case EFFECT_BLUR_H: bV = false; break;
    case EFFECT_BLUR_V: bH = false; break;
    case EFFECT_BLUR_BOX: break;
    case EFFECT_SOFT_SHADOW: bWeighted = true; rule = kBlack; break;
    case EFFECT_SHADOW: rule = bAlpha ? kBlack : kColour; break;
    }
    if (bH) rect = RefPass(rect, w, h, r, true, bWeighted, rule);
    if (bV) rect = RefPass(rect, w, h, r, false, bWeighted, rule);
    return rect;
}

struct WINDOW_CASE {
    int nCode;
    WINDOW_FILTER pfn;
};
const WINDOW_CASE kWindowFilters[] = {
    {EFFECT_BLUR, FilterBlur},         {EFFECT_BLUR_H, FilterBlurH},           {EFFECT_BLUR_V, FilterBlurV},
    {EFFECT_BLUR_BOX, FilterBlurBox}, {EFFECT_SOFT_SHADOW, FilterSoftShadow}, {EFFECT_SHADOW, FilterShadow},
};

TEST(BlurFilters, ReferenceTableHasThePlateauAndHalvings)
{
    // r = 8: plateau 6..10 of 512, then halvings outward (index 0 is six steps out).
    const std::vector<int64_t> t = RefWeights(8);
    EXPECT_EQ(t[6], 512);
    EXPECT_EQ(t[10], 512);
    EXPECT_EQ(t[5], 256);
    EXPECT_EQ(t[11], 256);
    EXPECT_EQ(t[0], 512 >> 6);
    EXPECT_EQ(t[16], 512 >> 6);
    EXPECT_EQ(RefWeights(64)[0], 0);   // far enough out the entries reach 0
}

// Every window filter equals the literal reference for radii from 0 to beyond the rectangle, for
// sub-rectangles (also 1 and 2 pixels wide or high) and both alpha flags.
TEST(BlurFilters, MatchLiteralWindowDefinition)
{
    const int32_t sw = 23, sh = 17;
    const std::vector<uint8_t> src = RandomImage(sw, sh, 99);
    struct RECT {
        int32_t x1, y1, x2, y2;
    };
    const RECT rects[] = {{0, 0, sw - 1, sh - 1}, {3, 2, 19, 11}, {5, 4, 5, 15}, {2, 9, 21, 10}, {7, 7, 8, 8}};
    const int32_t radii[] = {-5, 0, 1, 2, 3, 5, 8, 13, 16, 40, 256};
    for (const WINDOW_CASE& f : kWindowFilters)
        for (const RECT& rc : rects)
            for (int32_t P : radii)
                for (int bAlpha = 0; bAlpha < 2; ++bAlpha) {
                    const int32_t w = rc.x2 - rc.x1 + 1, h = rc.y2 - rc.y1 + 1;
                    std::vector<uint8_t> dst(size_t(w) * h * 4, 0xCD);
                    ASSERT_EQ(0, f.pfn(dst.data(), src.data(), rc.x1, rc.y1, rc.x2, rc.y2, sw, sh, w, h, P, bAlpha));
                    const std::vector<uint8_t> ref = RefWindow(f.nCode, src, sw, rc.x1, rc.y1, rc.x2, rc.y2, P, bAlpha);
                    ASSERT_EQ(ref, dst) << "code " << f.nCode << " P " << P << " alpha " << bAlpha << " rect " << rc.x1
                                        << "," << rc.y1 << "-" << rc.x2 << "," << rc.y2;
                }
}

TEST(BlurFilters, ZeroRadiusIsOneAndUniformImagesStay)
{
    const int32_t w = 9, h = 6;
    const std::vector<uint8_t> src = RandomImage(w, h, 5);
    std::vector<uint8_t> uniform(size_t(w) * h * 4);
    for (size_t i = 0; i < uniform.size(); i += 4) {
        uniform[i] = 12;
        uniform[i + 1] = 200;
        uniform[i + 2] = 77;
        uniform[i + 3] = 255;
    }
    for (const WINDOW_CASE& f : kWindowFilters) {
        std::vector<uint8_t> a(src.size()), b(src.size());
        f.pfn(a.data(), src.data(), 0, 0, w - 1, h - 1, w, h, w, h, 0, 1);
        f.pfn(b.data(), src.data(), 0, 0, w - 1, h - 1, w, h, w, h, 1, 1);
        EXPECT_EQ(a, b) << f.nCode;
        for (int bAlpha = 0; bAlpha < 2; ++bAlpha) {
            std::vector<uint8_t> d(uniform.size());
            f.pfn(d.data(), uniform.data(), 0, 0, w - 1, h - 1, w, h, w, h, 7, bAlpha);
            const bool bBlack = f.nCode == EFFECT_SOFT_SHADOW || (f.nCode == EFFECT_SHADOW && bAlpha);
            for (size_t i = 0; i < d.size(); i += 4) {
                ASSERT_EQ(bBlack ? 0 : 12, d[i]) << f.nCode;
                ASSERT_EQ(bBlack ? 0 : 200, d[i + 1]) << f.nCode;
                ASSERT_EQ(bBlack ? 0 : 77, d[i + 2]) << f.nCode;
                ASSERT_EQ(255, d[i + 3]) << f.nCode;
            }
        }
    }
}

// At the left edge the window holds r + 1 pixels, then r + 2, up to 2r + 1; near the far edge it
// shrinks again.
TEST(BlurFilters, HorizontalWindowGrowsFromTheEdge)
{
    const uint8_t values[] = {10, 20, 30, 40, 50, 60, 70};
    const int32_t w = 7;
    std::vector<uint8_t> src(w * 4);
    for (int x = 0; x < w; ++x) src[size_t(x * 4)] = values[x];
    std::vector<uint8_t> d(w * 4);
    FilterBlurH(d.data(), src.data(), 0, 0, w - 1, 0, w, 1, w, 1, 2, 0);
    const uint8_t expect[] = {20, 25, 30, 40, 50, 55, 60};
    for (int x = 0; x < w; ++x) EXPECT_EQ(expect[x], d[size_t(x * 4)]) << x;
}

TEST(BlurFilters, ShadowMakesABlackSilhouette)
{
    // Opaque with alpha: no window reaches outside the rectangle, so the result is opaque black.
    const int32_t w = 12, h = 10;
    std::vector<uint8_t> src = RandomImage(w, h, 3);
    for (size_t i = 3; i < src.size(); i += 4) src[i] = 255;
    std::vector<uint8_t> d(src.size(), 0x55);
    FilterShadow(d.data(), src.data(), 0, 0, w - 1, h - 1, w, h, w, h, 3, 1);
    for (size_t i = 0; i < d.size(); i += 4) ASSERT_EQ(0xFF000000u, uint32_t(d[i]) | d[i + 1] << 8 | d[i + 2] << 16 | uint32_t(d[i + 3]) << 24);
    // A transparent border of 4 pixels around an opaque block: the alpha falls off at the edge.
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) src[size_t((y * w + x) * 4 + 3)] = (x >= 4 && x < 8 && y >= 4 && y < 6) ? 255 : 0;
    FilterShadow(d.data(), src.data(), 0, 0, w - 1, h - 1, w, h, w, h, 2, 1);
    EXPECT_EQ(0, d[3]);                                           // corner far from the block
    const uint8_t aCentre = d[size_t((5 * w + 6) * 4 + 3)];
    const uint8_t aEdge = d[size_t((5 * w + 3) * 4 + 3)];
    EXPECT_GT(aCentre, aEdge);
    EXPECT_GT(aEdge, 0);
}

// The weighted filters on a line far shorter than the radius: every weight used is 0, so the window
// falls back to its box average instead of dividing by zero.
TEST(BlurFilters, WeightedFilterOnNarrowRectangleUsesBoxAverage)
{
    const int32_t sw = 4, sh = 4;
    std::vector<uint8_t> src(size_t(sw) * sh * 4, 0);
    src[size_t((1 * sw + 1) * 4 + 3)] = 200;
    src[size_t((1 * sw + 2) * 4 + 3)] = 100;
    std::vector<uint8_t> d(2 * 4, 0xEE);
    ASSERT_EQ(0, FilterSoftShadow(d.data(), src.data(), 1, 1, 2, 1, sw, sh, 2, 1, 256, 1));
    EXPECT_EQ(150, d[3]);
    EXPECT_EQ(150, d[7]);
    EXPECT_EQ(0, d[0]);
}

// Rectangles not inside the source (or empty, inverted, or of another size than the result) write
// nothing and read nothing outside; the destination's canary bytes stay.
TEST(FilterBounds, BadRectanglesChangeNothing)
{
    const int32_t sw = 6, sh = 5;
    const std::vector<uint8_t> src = RandomImage(sw, sh, 11);
    struct BAD {
        int32_t x1, y1, x2, y2, w, h;
    };
    const BAD bad[] = {{-1, 0, 4, 4, 6, 5}, {0, 0, 6, 4, 7, 5}, {0, 0, 5, 5, 6, 6}, {3, 0, 1, 4, -1, 5},
                       {0, 3, 5, 1, 6, -1}, {0, 0, 5, 4, 3, 3}, {INT32_MAX - 1, 0, INT32_MAX, 0, 2, 1}};
    typedef int (*RECT_FILTER)(uint8_t*, const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                               int32_t, int32_t);
    const RECT_FILTER rectFilters[] = {FilterBrightness, FilterNegative, FilterSepia};
    for (const BAD& b : bad) {
        std::vector<uint8_t> d(64, 0xA5);
        for (const WINDOW_CASE& f : kWindowFilters)
            EXPECT_EQ(0, f.pfn(d.data(), src.data(), b.x1, b.y1, b.x2, b.y2, sw, sh, b.w, b.h, 3, 1));
        for (RECT_FILTER f : rectFilters) EXPECT_EQ(0, f(d.data(), src.data(), b.x1, b.y1, b.x2, b.y2, sw, sh, b.w, b.h, 200));
        EXPECT_TRUE(std::all_of(d.begin(), d.end(), [](uint8_t v) { return v == 0xA5; }));
    }
}

// ---- Per-pixel filters ----

uint32_t Px(const std::vector<uint8_t>& v, size_t i)
{
    uint32_t p;
    std::memcpy(&p, &v[i * 4], 4);
    return p;
}

TEST(ToneFilters, BrightnessNegativeSepiaTable)
{
    struct CASE {
        int which;  // 0 brightness, 1 negative, 2 sepia
        int32_t P;
        uint8_t in[4], out[4];
    };
    const CASE cases[] = {
        {0, 0, {100, 128, 200, 9}, {0, 0, 72, 9}},          // darkens by 128
        {0, 256, {200, 100, 0, 9}, {255, 228, 128, 9}},     // brightens by 128
        {0, 128, {1, 2, 3, 4}, {1, 2, 3, 4}},               // neutral
        {0, 130, {254, 0, 255, 0}, {255, 2, 255, 0}},
        {1, 0, {0, 100, 255, 77}, {255, 155, 0, 77}},
        {2, 0, {255, 255, 255, 50}, {210, 254, 255, 50}},   // white
        {2, 0, {0, 0, 0, 60}, {0, 0, 17, 60}},              // black
    };
    for (const CASE& c : cases) {
        std::vector<uint8_t> src(c.in, c.in + 4), d(4, 0xEE);
        if (c.which == 0) FilterBrightness(d.data(), src.data(), 0, 0, 0, 0, 1, 1, 1, 1, c.P);
        if (c.which == 1) FilterNegative(d.data(), src.data(), 0, 0, 0, 0, 1, 1, 1, 1, c.P);
        if (c.which == 2) FilterSepia(d.data(), src.data(), 0, 0, 0, 0, 1, 1, 1, 1, c.P);
        EXPECT_EQ(std::vector<uint8_t>(c.out, c.out + 4), d) << c.which << " P " << c.P;
    }
    // Sepia over every grey and a spread of colours follows the fixed-point formula.
    const std::vector<uint8_t> src = RandomImage(16, 16, 21);
    std::vector<uint8_t> d(src.size());
    FilterSepia(d.data(), src.data(), 0, 0, 15, 15, 16, 16, 16, 16, 0);
    for (size_t i = 0; i < src.size(); i += 4) {
        const int64_t L = (117 * int64_t(src[i]) + 601 * int64_t(src[i + 1]) + 306 * int64_t(src[i + 2])) * 1024;
        EXPECT_EQ(std::max<int64_t>(0, (L - 46347025) / 1048576), d[i]);
        EXPECT_EQ(std::max<int64_t>(0, (L - 287585) / 1048576), d[i + 1]);
        EXPECT_EQ(std::min<int64_t>(255, (L + 18748416) >> 20), d[i + 2]);
        EXPECT_EQ(src[i + 3], d[i + 3]);
    }
}

// The rectangle filters place source (x, y) at (x - x1, y - y1).
TEST(ToneFilters, RectangleFiltersCutTheRectangle)
{
    const int32_t sw = 7, sh = 5;
    const std::vector<uint8_t> src = RandomImage(sw, sh, 8);
    std::vector<uint8_t> d(3 * 2 * 4);
    FilterNegative(d.data(), src.data(), 2, 1, 4, 2, sw, sh, 3, 2, 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(Px(src, size_t((1 + y) * sw + 2 + x)) ^ 0x00FFFFFFu, Px(d, size_t(y * 3 + x)));
}

TEST(ToneFilters, ThresholdInPlaceAndIntoCopy)
{
    const int32_t w = 4, h = 3;
    std::vector<uint8_t> src = RandomImage(w, h, 4);
    // P = 0: all white; P = 256: all black (no sum reaches 768).
    for (int32_t P : {0, 256}) {
        std::vector<uint8_t> img = src;
        FilterThreshold(nullptr, img.data(), 0, 0, w - 1, h - 1, w, h, w, h, P);
        for (size_t i = 0; i < img.size(); i += 4) {
            EXPECT_EQ(P ? 0u : 0xFFFFFFu, Px(img, i / 4) & 0xFFFFFF);
            EXPECT_EQ(src[i + 3], img[i + 3]);
        }
    }
    // Into a destination: the whole image is copied, only the rectangle changes; the source stays.
    std::vector<uint8_t> d(src.size(), 0);
    const std::vector<uint8_t> keep = src;
    FilterThreshold(d.data(), src.data(), 1, 1, 2, 1, w, h, 2, 1, 100);
    EXPECT_EQ(keep, src);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const size_t i = size_t(y * w + x);
            const uint8_t* s = &src[i * 4];
            if (y == 1 && (x == 1 || x == 2)) {
                const uint32_t v = int(s[0]) + s[1] + s[2] >= 300 ? 0xFFFFFFu : 0;
                EXPECT_EQ(v | uint32_t(s[3]) << 24, Px(d, i));
            } else {
                EXPECT_EQ(Px(src, i), Px(d, i));
            }
        }
}

TEST(ToneFilters, FillSubTypesAndTheAlphaFlag)
{
    const int32_t w = 5, h = 4;
    const std::vector<uint8_t> src = RandomImage(w, h, 6);
    struct CASE {
        int32_t nType;
        uint32_t P;
        bool bWhole;
        uint8_t bFlagBefore, bFlagAfter;
    };
    const CASE cases[] = {
        {FILL_OPAQUE_COLOR, 0x12345678u, true, 1, 1},   // flag not changed
        {FILL_OPAQUE_COLOR, 0x00ABCDEFu, false, 0, 0},
        {FILL_ALPHA_ONLY, 255, false, 0, 1},            // a sub-rectangle leaves the rest unknown
        {FILL_ALPHA_ONLY, 255, true, 1, 0},
        {FILL_ALPHA_ONLY, 0x1FF, true, 1, 0},           // only the low byte counts
        {FILL_ALPHA_ONLY, 254, true, 0, 1},
        {FILL_WHOLE_PIXEL, 0x80FF0000u, true, 0, 1},    // half-transparent red
        {FILL_WHOLE_PIXEL, 0xFF00FF00u, true, 1, 0},
        {FILL_WHOLE_PIXEL, 0xFF00FF00u, false, 0, 1},
    };
    for (const CASE& c : cases) {
        std::vector<uint8_t> img = src;
        uint8_t bFlag = c.bFlagBefore;
        const int32_t x1 = c.bWhole ? 0 : 1, y1 = c.bWhole ? 0 : 1, x2 = c.bWhole ? w - 1 : 3, y2 = c.bWhole ? h - 1 : 2;
        FilterFill(nullptr, img.data(), &bFlag, x1, y1, x2, y2, w, h, int32_t(c.P), c.nType);
        EXPECT_EQ(c.bFlagAfter, bFlag) << c.nType << " " << std::hex << c.P;
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                const size_t i = size_t(y * w + x);
                const uint32_t s = Px(src, i);
                uint32_t expect = s;
                if (x >= x1 && x <= x2 && y >= y1 && y <= y2) {
                    if (c.nType == FILL_OPAQUE_COLOR) expect = 0xFF000000u | (c.P & 0xFFFFFF);
                    if (c.nType == FILL_ALPHA_ONLY) expect = (s & 0xFFFFFF) | (c.P & 0xFF) << 24;
                    if (c.nType == FILL_WHOLE_PIXEL) expect = c.P;
                }
                EXPECT_EQ(expect, Px(img, i)) << c.nType << " at " << x << "," << y;
            }
    }
    // An unknown sub-type changes nothing; into a destination the source stays as it was.
    std::vector<uint8_t> img = src, d(src.size());
    uint8_t bFlag = 1;
    FilterFill(nullptr, img.data(), &bFlag, 0, 0, w - 1, h - 1, w, h, 0, 7);
    EXPECT_EQ(src, img);
    FilterFill(d.data(), img.data(), &bFlag, 0, 0, w - 1, h - 1, w, h, int32_t(0xFF010203u), FILL_WHOLE_PIXEL);
    EXPECT_EQ(src, img);
    EXPECT_EQ(0xFF010203u, Px(d, 7));
    EXPECT_EQ(0, bFlag);
}

// Alpha of each column after the ramp, on a one-row opaque image of width w.
std::vector<int> Ramp(int32_t w, int32_t P, int32_t Q, uint8_t* pbFlag = nullptr)
{
    // Two rows so a write before the row's start would land in row 0 and show.
    std::vector<uint8_t> img(size_t(w) * 2 * 4, 0xFF);
    uint8_t bFlag = 0;
    FilterAlphaRamp(nullptr, img.data(), &bFlag, 0, 1, 0, 1, w, 2, P, Q);
    if (pbFlag) *pbFlag = bFlag;
    for (int32_t x = 0; x < w; ++x) EXPECT_EQ(0xFFFFFFFFu, Px(img, size_t(x))) << "row 0 touched at " << x;
    for (int32_t x = 0; x < w; ++x) EXPECT_EQ(0xFFFFFFu, Px(img, size_t(w + x)) & 0xFFFFFF) << "colour changed";
    std::vector<int> a(static_cast<size_t>(w));
    for (int32_t x = 0; x < w; ++x) a[size_t(x)] = img[size_t((w + x) * 4 + 3)];
    return a;
}

int RampRef(int64_t x, int64_t P, int64_t Q, int64_t w)
{
    const int64_t lo = std::min(P, Q), hi = std::max(P, Q);
    if (P < Q) {
        if (P >= w || x < P) return 255;
        if (x > Q) return 0;
        return int(255 * (255 - (((x - lo) * 255 / (hi - lo)) & 255)) / 255);
    }
    if (Q < P) {
        if (P < 0 || x > P) return 255;
        if (x < Q) return 0;
        return int(255 * (((x - lo) * 255 / (hi - lo)) & 255) / 255);
    }
    if (P >= w) return 255;
    return x > std::clamp<int64_t>(P, -1, w - 1) ? 0 : 255;
}

TEST(ToneFilters, AlphaRamp)
{
    // P = 100, Q = 200 on 300 columns: 255 up to 99, falling to 0 at 200, 0 after.
    uint8_t bFlag = 0;
    std::vector<int> a = Ramp(300, 100, 200, &bFlag);
    EXPECT_EQ(1, bFlag);
    EXPECT_EQ(255, a[99]);
    EXPECT_EQ(255, a[100]);
    EXPECT_EQ(0, a[200]);
    EXPECT_EQ(0, a[201]);
    EXPECT_EQ(0, a[299]);
    EXPECT_EQ(255 - (50 * 255 / 100), a[150]);
    // Ranges reaching past either side of the row are cut to the row (P = -50 wrote before the row).
    struct CASE {
        int32_t w, P, Q;
    };
    const CASE cases[] = {{300, 100, 200}, {300, 200, 100}, {20, -50, 10},  {20, 5, 90},   {20, 30, 40},
                          {20, 40, 30},    {20, 30, -5},    {20, -3, -8},   {20, -8, -3},  {20, 7, 7},
                          {20, -1, -1},    {20, -9, -9},    {20, 25, 25},   {20, 19, 19},  {20, INT32_MIN, INT32_MAX},
                          {20, INT32_MAX, INT32_MIN}};
    for (const CASE& c : cases) {
        a = Ramp(c.w, c.P, c.Q);
        for (int32_t x = 0; x < c.w; ++x) ASSERT_EQ(RampRef(x, c.P, c.Q, c.w), a[size_t(x)]) << c.P << "," << c.Q << " x " << x;
    }
    // The ramp scales the alpha that is there: 100 at the middle of a fade-in becomes 100 * f / 255.
    std::vector<uint8_t> img(10 * 4, 100);
    FilterAlphaRamp(nullptr, img.data(), nullptr, 0, 0, 9, 0, 10, 1, 9, 0);
    EXPECT_EQ(100 * ((5 * 255 / 9) & 255) / 255, img[5 * 4 + 3]);
}

}  // namespace
