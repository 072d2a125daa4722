// The geometric and pattern filters: mirror, flip, waves, mosaic, scatter and swirl, against
// results worked out here per pixel from their definitions, pinned values, and rectangles and
// parameters that must never reach outside a buffer (the buffers are sized exactly, so the
// sanitizer sees any stray access).
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/kx_math.h"
#include "imageproc/image_effects.h"

namespace {

// A source image whose pixel (x, y) is B = x, G = y, R = a mix of both, A = another mix: every
// pixel of an image below 256 x 256 is distinct and tells where it came from.
struct IMAGE {
    int32_t w = 0, h = 0;
    std::vector<uint8_t> px;
    uint32_t At(int64_t x, int64_t y) const
    {
        uint32_t v;
        memcpy(&v, &px[static_cast<size_t>((y * w + x) * 4)], 4);
        return v;
    }
};

uint32_t PixelFor(int32_t x, int32_t y)
{
    return uint32_t(x & 0xFF) | uint32_t(y & 0xFF) << 8 | uint32_t((x * 7 + y * 13) & 0xFF) << 16 |
           uint32_t((x * 3 + y * 5 + 1) & 0xFF) << 24;
}

IMAGE MakeImage(int32_t w, int32_t h)
{
    IMAGE im;
    im.w = w;
    im.h = h;
    im.px.resize(size_t(w) * h * 4);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint32_t v = PixelFor(x, y);
            memcpy(&im.px[(size_t(y) * w + x) * 4], &v, 4);
        }
    return im;
}

// A rectangle-sized result buffer (exactly w x h pixels).
struct RESULT {
    int32_t w = 0, h = 0;
    std::vector<uint8_t> px;
    uint8_t* data() { return px.data(); }
    uint32_t At(int64_t x, int64_t y) const
    {
        uint32_t v;
        memcpy(&v, &px[static_cast<size_t>((y * w + x) * 4)], 4);
        return v;
    }
};

typedef int (*PFN_FILTER)(uint8_t*, const uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                          int32_t, int32_t);

struct RECT {
    int32_t x1, y1, x2, y2;
};

RESULT RunFilter(PFN_FILTER pfn, const IMAGE& im, RECT r, int32_t P)
{
    RESULT out;
    out.w = r.x2 - r.x1 + 1;
    out.h = r.y2 - r.y1 + 1;
    out.px.assign(size_t(out.w) * out.h * 4, 0xEE);
    EXPECT_EQ(pfn(out.data(), im.px.data(), r.x1, r.y1, r.x2, r.y2, im.w, im.h, out.w, out.h, P), 0);
    return out;
}

RESULT RunWave(const IMAGE& im, RECT r, int32_t P, int32_t Q, int32_t nType)
{
    RESULT out;
    out.w = r.x2 - r.x1 + 1;
    out.h = r.y2 - r.y1 + 1;
    out.px.assign(size_t(out.w) * out.h * 4, 0xEE);
    EXPECT_EQ(FilterWave(out.data(), im.px.data(), r.x1, r.y1, r.x2, r.y2, im.w, im.h, out.w, out.h, P, Q, nType),
              0);
    return out;
}

std::string Where(RECT r, int64_t x, int64_t y)
{
    return "rect (" + std::to_string(r.x1) + "," + std::to_string(r.y1) + ")-(" + std::to_string(r.x2) + "," +
           std::to_string(r.y2) + ") pixel (" + std::to_string(x) + "," + std::to_string(y) + ")";
}

const RECT kRects[] = {{0, 0, 12, 8}, {3, 2, 9, 6}, {5, 4, 5, 4}, {0, 5, 12, 8}, {7, 0, 12, 3}};

TEST(FilterMirrorFlip, WholeImageTurnedThenCutToTheRectangle)
{
    IMAGE im = MakeImage(13, 9);
    for (RECT r : kRects) {
        RESULT m = RunFilter(FilterMirror, im, r, 0);
        RESULT f = RunFilter(FilterFlip, im, r, 1);
        for (int32_t y = r.y1; y <= r.y2; ++y)
            for (int32_t x = r.x1; x <= r.x2; ++x) {
                ASSERT_EQ(m.At(x - r.x1, y - r.y1), im.At(im.w - 1 - x, y)) << "mirror " << Where(r, x, y);
                ASSERT_EQ(f.At(x - r.x1, y - r.y1), im.At(x, im.h - 1 - y)) << "flip " << Where(r, x, y);
            }
    }
}

TEST(FilterMirrorFlip, TwiceRestoresTheImage)
{
    IMAGE im = MakeImage(13, 9);
    const RECT whole = {0, 0, 12, 8};
    for (PFN_FILTER pfn : {FilterMirror, FilterFlip}) {
        RESULT once = RunFilter(pfn, im, whole, 0);
        IMAGE mid;
        mid.w = im.w;
        mid.h = im.h;
        mid.px = once.px;
        RESULT twice = RunFilter(pfn, mid, whole, 0);
        EXPECT_EQ(twice.px, im.px);
    }
}

TEST(FilterWave, AmplitudeZeroCopiesTheRectangle)
{
    IMAGE im = MakeImage(13, 9);
    for (int32_t nType : {WAVE_HORIZONTAL, WAVE_VERTICAL, WAVE_BOTH})
        for (RECT r : kRects) {
            RESULT out = RunWave(im, r, 0, 77, nType);
            for (int32_t y = r.y1; y <= r.y2; ++y)
                for (int32_t x = r.x1; x <= r.x2; ++x)
                    ASSERT_EQ(out.At(x - r.x1, y - r.y1), im.At(x, y)) << "type " << nType << " " << Where(r, x, y);
        }
}

// One degree per pixel with the single-precision factor: at Q = 45 row 0 moves by trunc(7.07) = 7
// and row 135 (180 degrees) not at all; at Q = 90 the angle falls just short of 90 degrees and row
// 0 moves by 9, not 10.
TEST(FilterWave, HorizontalShiftsPinned)
{
    IMAGE im = MakeImage(30, 140);
    const RECT whole = {0, 0, 29, 139};
    struct CASE {
        int32_t Q, nRow, nShift;
    } const aCases[] = {{45, 0, 7}, {45, 135, 0}, {90, 0, 9}, {0, 90, 9}, {45, 45, 9}, {0, 0, 0}};
    for (const CASE& c : aCases) {
        RESULT out = RunWave(im, whole, 10, c.Q, WAVE_HORIZONTAL);
        for (int32_t x = 0; x < im.w; ++x)
            ASSERT_EQ(out.At(x, c.nRow), im.At(std::min(x + c.nShift, im.w - 1), c.nRow))
                << "Q " << c.Q << " row " << c.nRow << " x " << x;
    }
}

// Each pixel from the definition: dx from the row's sine, dy from the column's cosine, the source
// position held inside the rectangle.
TEST(FilterWave, MatchesTheDefinitionWithinTheRectangle)
{
    IMAGE im = MakeImage(40, 30);
    const double dFactor = static_cast<double>(0.0174532924f);
    const RECT aRects[] = {{0, 0, 39, 29}, {6, 3, 31, 22}};
    for (int32_t nType : {WAVE_HORIZONTAL, WAVE_VERTICAL, WAVE_BOTH})
        for (int32_t P : {-13, 6, 25})
            for (int32_t Q : {0, 33, -400})
                for (RECT r : aRects) {
                    RESULT out = RunWave(im, r, P, Q, nType);
                    const double a = nType != WAVE_VERTICAL ? P : 0, b = nType != WAVE_HORIZONTAL ? P : 0;
                    for (int32_t y = r.y1; y <= r.y2; ++y)
                        for (int32_t x = r.x1; x <= r.x2; ++x) {
                            int64_t dx = static_cast<int64_t>(a * std::sin((y + Q) * dFactor));
                            int64_t dy = static_cast<int64_t>(b * std::cos((x + Q) * dFactor));
                            int64_t sx = std::clamp<int64_t>(x + dx, r.x1, r.x2);
                            int64_t sy = std::clamp<int64_t>(y + dy, r.y1, r.y2);
                            ASSERT_EQ(out.At(x - r.x1, y - r.y1), im.At(sx, sy))
                                << "type " << nType << " P " << P << " Q " << Q << " " << Where(r, x, y);
                        }
                }
}

TEST(FilterWave, ExtremeParametersStayInsideTheRectangle)
{
    IMAGE im = MakeImage(20, 16);
    const RECT r = {4, 3, 15, 12};
    for (int32_t nType : {int32_t(WAVE_HORIZONTAL), int32_t(WAVE_VERTICAL), int32_t(WAVE_BOTH), 0, 7})
        for (int32_t P : {INT32_MAX, INT32_MIN})
            for (int32_t Q : {INT32_MAX, INT32_MIN, 0}) {
                RESULT out = RunWave(im, r, P, Q, nType);
                for (int32_t y = 0; y < out.h; ++y)
                    for (int32_t x = 0; x < out.w; ++x) {
                        uint32_t v = out.At(x, y);
                        int32_t sx = int32_t(v & 0xFF), sy = int32_t((v >> 8) & 0xFF);
                        ASSERT_TRUE(sx >= r.x1 && sx <= r.x2 && sy >= r.y1 && sy <= r.y2)
                            << "type " << nType << " P " << P << " Q " << Q;
                        ASSERT_EQ(v, im.At(sx, sy));
                    }
            }
}

// Mosaic blocks from their definition: the first column of blocks covers 0..ox-1 (when ox > 0),
// then blocks of e from ox; the means truncate; alpha stays per pixel.
RESULT MosaicReference(const IMAGE& im, int32_t P)
{
    const int64_t e = P <= 0 ? 1 : P;
    const int64_t ox = (im.w / 2) % e, oy = (im.h / 2) % e;
    auto BlockOf = [e](int64_t v, int64_t o) { return v < o ? -1 : (v - o) / e; };
    RESULT out;
    out.w = im.w;
    out.h = im.h;
    out.px.assign(size_t(im.w) * im.h * 4, 0);
    for (int32_t y = 0; y < im.h; ++y)
        for (int32_t x = 0; x < im.w; ++x) {
            uint64_t sum[3] = {0, 0, 0}, n = 0;
            for (int32_t yy = 0; yy < im.h; ++yy)
                for (int32_t xx = 0; xx < im.w; ++xx)
                    if (BlockOf(xx, ox) == BlockOf(x, ox) && BlockOf(yy, oy) == BlockOf(y, oy)) {
                        uint32_t v = im.At(xx, yy);
                        for (int c = 0; c < 3; ++c)
                            sum[c] += (v >> (8 * c)) & 0xFF;
                        ++n;
                    }
            uint8_t* p = &out.px[(size_t(y) * im.w + x) * 4];
            for (int c = 0; c < 3; ++c)
                p[c] = static_cast<uint8_t>(sum[c] / n);
            p[3] = static_cast<uint8_t>(im.At(x, y) >> 24);
        }
    return out;
}

TEST(FilterMosaic, BlocksOnAGridThroughTheCentre)
{
    struct CASE {
        int32_t w, h, P;
    } const aCases[] = {{13, 9, 3}, {13, 9, 4}, {10, 7, 5}, {9, 9, 20}, {1, 1, 7}, {6, 11, 2}};
    for (const CASE& c : aCases) {
        IMAGE im = MakeImage(c.w, c.h);
        RESULT out = RunFilter(FilterMosaic, im, {0, 0, c.w - 1, c.h - 1}, c.P);
        RESULT ref = MosaicReference(im, c.P);
        EXPECT_EQ(out.px, ref.px) << c.w << "x" << c.h << " P " << c.P;
    }
}

TEST(FilterMosaic, SizeOneOrLessKeepsTheColours)
{
    IMAGE im = MakeImage(13, 9);
    for (int32_t P : {1, 0, -5, INT32_MIN})
        EXPECT_EQ(RunFilter(FilterMosaic, im, {0, 0, 12, 8}, P).px, im.px) << "P " << P;
}

// 100 x 100 with P = 256: the grid offset is 50, so four 50 x 50 blocks.
TEST(FilterMosaic, LargeBlocksOnASmallImageGiveFourQuarters)
{
    IMAGE im = MakeImage(100, 100);
    RESULT out = RunFilter(FilterMosaic, im, {0, 0, 99, 99}, 256);
    for (int32_t qy = 0; qy < 2; ++qy)
        for (int32_t qx = 0; qx < 2; ++qx) {
            uint64_t sum[3] = {0, 0, 0};
            for (int32_t y = qy * 50; y < qy * 50 + 50; ++y)
                for (int32_t x = qx * 50; x < qx * 50 + 50; ++x)
                    for (int c = 0; c < 3; ++c)
                        sum[c] += (im.At(x, y) >> (8 * c)) & 0xFF;
            for (int32_t y = qy * 50; y < qy * 50 + 50; ++y)
                for (int32_t x = qx * 50; x < qx * 50 + 50; ++x) {
                    uint32_t v = out.At(x, y);
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ((v >> (8 * c)) & 0xFF, sum[c] / 2500) << x << "," << y;
                    ASSERT_EQ(v >> 24, im.At(x, y) >> 24);
                }
        }
}

// The cell table: for TL, TR, BL, BR the cell pixel (before the move) whose colour it takes.
const uint8_t kPerm[24][4] = {
    {3, 2, 1, 0}, {2, 3, 1, 0}, {3, 1, 2, 0}, {1, 3, 2, 0}, {2, 1, 3, 0}, {1, 2, 3, 0},
    {3, 2, 0, 1}, {2, 3, 0, 1}, {3, 0, 2, 1}, {0, 3, 2, 1}, {2, 0, 3, 1}, {0, 2, 3, 1},
    {3, 1, 0, 2}, {1, 3, 0, 2}, {3, 0, 1, 2}, {0, 3, 1, 2}, {1, 0, 3, 2}, {0, 1, 3, 2},
    {2, 1, 0, 3}, {1, 2, 0, 3}, {2, 0, 1, 3}, {0, 2, 1, 3}, {1, 0, 2, 3}, {0, 1, 2, 3},
};

void ApplyCell(std::vector<uint8_t>& px, int32_t w, int32_t c, int32_t r, int k)
{
    size_t a[4] = {(size_t(r) * w + c) * 4, (size_t(r) * w + c + 1) * 4, (size_t(r + 1) * w + c) * 4,
                   (size_t(r + 1) * w + c + 1) * 4};
    uint8_t old[4][3];
    for (int i = 0; i < 4; ++i)
        memcpy(old[i], &px[a[i]], 3);
    for (int i = 0; i < 4; ++i)
        memcpy(&px[a[i]], old[kPerm[k][i]], 3);
}

TEST(FilterScatter, FewerThanTwoMakesNoPass)
{
    IMAGE im = MakeImage(7, 5);
    for (int32_t P : {0, 1, -1, INT32_MIN}) {
        MsvcSrand(99);
        EXPECT_EQ(RunFilter(FilterScatter, im, {0, 0, 6, 4}, P).px, im.px) << "P " << P;
        MsvcSrand(99);
        int nExpected = MsvcRand();
        MsvcSrand(99);
        RunFilter(FilterScatter, im, {0, 0, 6, 4}, P);
        EXPECT_EQ(MsvcRand(), nExpected) << "P " << P << " drew random numbers";
    }
}

// On 3 x 3 with P = 4 the two passes visit, in order: (0,0) forward, (1,1) backward; (1,1)
// forward, (0,1) backward. On 2 x 2 with P = 2: the one cell twice.
TEST(FilterScatter, CellsVisitedInSweepOrder)
{
    struct CASE {
        int32_t w, h, P;
        std::vector<std::pair<int32_t, int32_t>> cells;
    } const aCases[] = {
        {2, 2, 2, {{0, 0}, {0, 0}}},
        {3, 3, 4, {{0, 0}, {1, 1}, {1, 1}, {0, 1}}},
        {4, 3, 2, {{0, 0}, {2, 0}, {2, 1}, {0, 1}}},
        {3, 2, 5, {{0, 0}, {1, 0}}},
    };
    for (const CASE& c : aCases)
        for (uint32_t dwSeed : {1u, 2u, 12345u, 0xDEADBEEFu}) {
            IMAGE im = MakeImage(c.w, c.h);
            std::vector<uint8_t> ref = im.px;
            MsvcSrand(dwSeed);
            for (auto [cx, cy] : c.cells)
                ApplyCell(ref, c.w, cx, cy, MsvcRand() % 24);
            int nNext = MsvcRand();
            MsvcSrand(dwSeed);
            RESULT out = RunFilter(FilterScatter, im, {0, 0, c.w - 1, c.h - 1}, c.P);
            EXPECT_EQ(out.px, ref) << c.w << "x" << c.h << " P " << c.P << " seed " << dwSeed;
            EXPECT_EQ(MsvcRand(), nNext) << c.w << "x" << c.h << " P " << c.P << " seed " << dwSeed;
        }
}

// Many passes on odd and even sizes: every pixel keeps its alpha, the colours are only moved, and
// the number of random draws is 2 x rows x cells per pass.
TEST(FilterScatter, KeepsAlphaAndTheColoursAndDrawsOncePerCell)
{
    struct CASE {
        int32_t w, h, P;
    } const aCases[] = {{7, 5, 9}, {8, 6, 256}, {1, 9, 20}, {9, 1, 20}, {16, 16, 30}};
    for (const CASE& c : aCases) {
        IMAGE im = MakeImage(c.w, c.h);
        int64_t llDraws = 0;
        for (int64_t n = 0; n < c.P / 2; ++n)
            if (c.w > n && c.h > n)
                llDraws += 2 * ((c.h - n) / 2) * ((c.w - n) / 2);
        MsvcSrand(7);
        for (int64_t i = 0; i < llDraws; ++i)
            MsvcRand();
        int nNext = MsvcRand();
        MsvcSrand(7);
        RESULT out = RunFilter(FilterScatter, im, {0, 0, c.w - 1, c.h - 1}, c.P);
        EXPECT_EQ(MsvcRand(), nNext) << c.w << "x" << c.h << " P " << c.P;
        std::vector<uint32_t> before, after;
        for (int32_t y = 0; y < c.h; ++y)
            for (int32_t x = 0; x < c.w; ++x) {
                ASSERT_EQ(out.At(x, y) >> 24, im.At(x, y) >> 24);
                before.push_back(im.At(x, y) & 0xFFFFFF);
                after.push_back(out.At(x, y) & 0xFFFFFF);
            }
        std::sort(before.begin(), before.end());
        std::sort(after.begin(), after.end());
        EXPECT_EQ(before, after) << c.w << "x" << c.h << " P " << c.P;
        if (c.w > 1 && c.h > 1 && c.P >= 2) {
            EXPECT_NE(out.px, im.px) << c.w << "x" << c.h << " P " << c.P;
        }
    }
}

// Swirl from the definition: N entries of falling angle, distances from the rectangle's centre,
// u and v held inside the rectangle.
RESULT SwirlReference(const IMAGE& im, RECT r, int32_t P)
{
    RESULT out;
    out.w = r.x2 - r.x1 + 1;
    out.h = r.y2 - r.y1 + 1;
    out.px.resize(size_t(out.w) * out.h * 4);
    const int64_t w = out.w, h = out.h, cx = w / 2, cy = h / 2;
    const int64_t N = static_cast<int64_t>((std::hypot(double(w), double(h)) + 1) * 0.5 + 1);
    std::vector<int64_t> cs(N), sn(N);
    double ang = P / 10.0;
    for (int64_t i = 0; i < N; ++i) {
        cs[i] = static_cast<int64_t>(256 * std::cos(ang * 0.017453292519444445));
        sn[i] = static_cast<int64_t>(256 * std::sin(ang * 0.017453292519444445));
        ang -= P / (10.0 * N);
    }
    for (int64_t y = 0; y < h; ++y)
        for (int64_t x = 0; x < w; ++x) {
            int64_t d = static_cast<int64_t>(std::hypot(double(std::llabs(x - cx)), double(std::llabs(y - cy))));
            int64_t s = sn[d], c = cs[d];
            int64_t u = std::clamp<int64_t>(cx + (((cy - y) * s + (x - cx) * c) >> 8), 0, w - 1);
            int64_t v = std::clamp<int64_t>(cy + (((x - cx) * s + (y - cy) * c) >> 8), 0, h - 1);
            uint32_t px = im.At(r.x1 + u, r.y1 + v);
            memcpy(&out.px[size_t(y * w + x) * 4], &px, 4);
        }
    return out;
}

TEST(FilterSwirl, MatchesTheDefinitionAcrossSizeChanges)
{
    IMAGE im = MakeImage(40, 30);
    // Sizes change between calls so the kept distance table is rebuilt, and return to an earlier
    // size.
    const RECT aRects[] = {{0, 0, 39, 29}, {5, 3, 25, 20}, {0, 0, 39, 29}, {10, 10, 10, 10}, {2, 1, 38, 2}};
    for (RECT r : aRects)
        for (int32_t P : {900, -450, 3600, 17, 100000}) {
            RESULT out = RunFilter(FilterSwirl, im, r, P);
            RESULT ref = SwirlReference(im, r, P);
            ASSERT_EQ(out.px, ref.px) << Where(r, 0, 0) << " P " << P;
        }
}

TEST(FilterSwirl, NoTurnCopiesAndTheCentreStays)
{
    IMAGE im = MakeImage(40, 30);
    const RECT r = {5, 3, 25, 20};
    RESULT same = RunFilter(FilterSwirl, im, r, 0);
    for (int32_t y = r.y1; y <= r.y2; ++y)
        for (int32_t x = r.x1; x <= r.x2; ++x)
            ASSERT_EQ(same.At(x - r.x1, y - r.y1), im.At(x, y)) << Where(r, x, y);
    RESULT turned = RunFilter(FilterSwirl, im, r, 3600);
    const int32_t cx = same.w / 2, cy = same.h / 2;
    EXPECT_EQ(turned.At(cx, cy), im.At(r.x1 + cx, r.y1 + cy));
    EXPECT_NE(turned.px, same.px);
}

TEST(FilterSwirl, ExtremeTurnsStayInsideTheRectangle)
{
    IMAGE im = MakeImage(20, 16);
    const RECT r = {4, 3, 15, 12};
    for (int32_t P : {INT32_MAX, INT32_MIN, 1, -1}) {
        RESULT out = RunFilter(FilterSwirl, im, r, P);
        for (int32_t y = 0; y < out.h; ++y)
            for (int32_t x = 0; x < out.w; ++x) {
                uint32_t v = out.At(x, y);
                int32_t sx = int32_t(v & 0xFF), sy = int32_t((v >> 8) & 0xFF);
                ASSERT_TRUE(sx >= r.x1 && sx <= r.x2 && sy >= r.y1 && sy <= r.y2) << "P " << P;
            }
    }
}

// A rectangle that is empty, inverted, outside the source or not of the given size, or a missing
// buffer, changes nothing.
TEST(FilterGeometry, UnusableRectanglesChangeNothing)
{
    IMAGE im = MakeImage(8, 6);
    struct CASE {
        int32_t x1, y1, x2, y2, w, h;
    } const aCases[] = {
        {3, 2, 2, 4, 1, 3},  {3, 4, 5, 2, 3, 1},  {-1, 0, 2, 2, 4, 3},  {0, -1, 2, 2, 3, 4},   {5, 0, 8, 2, 4, 3},
        {0, 3, 2, 6, 3, 4},  {0, 0, 2, 2, 4, 3},  {0, 0, 2, 2, 3, 2},   {0, 0, 7, 5, 0, 0},    {INT32_MAX, 0, 2, 2, 3, 3},
        {0, 0, INT32_MAX, 2, 8, 3},
    };
    const PFN_FILTER apfn[] = {FilterMirror, FilterFlip, FilterMosaic, FilterScatter, FilterSwirl};
    std::vector<uint8_t> dst(64 * 4, 0x5A);
    const std::vector<uint8_t> untouched = dst;
    for (const CASE& c : aCases) {
        for (PFN_FILTER pfn : apfn)
            EXPECT_EQ(pfn(dst.data(), im.px.data(), c.x1, c.y1, c.x2, c.y2, im.w, im.h, c.w, c.h, 4), 0);
        EXPECT_EQ(FilterWave(dst.data(), im.px.data(), c.x1, c.y1, c.x2, c.y2, im.w, im.h, c.w, c.h, 4, 0, 3), 0);
        EXPECT_EQ(dst, untouched) << c.x1 << "," << c.y1 << "-" << c.x2 << "," << c.y2 << " " << c.w << "x" << c.h;
    }
    for (PFN_FILTER pfn : apfn) {
        EXPECT_EQ(pfn(nullptr, im.px.data(), 0, 0, 7, 5, 8, 6, 8, 6, 4), 0);
        EXPECT_EQ(pfn(dst.data(), nullptr, 0, 0, 7, 5, 8, 6, 8, 6, 4), 0);
    }
    EXPECT_EQ(dst, untouched);
}

}  // namespace
