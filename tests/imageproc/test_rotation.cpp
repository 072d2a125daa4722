// Rotation: the kernels against a per-pixel reference written from the mapping and the row-range
// table, pinned rows and bands of known angles and sizes, and the layer operation (targets, buffer
// reuse, has-alpha flag, missing pixels, unknown types).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "imageproc/image_effects.h"
#include "core/worker_pool.h"
#include "tests/image/layer_fixture.h"

namespace {

enum KIND { CLIPPED, SPANS, BILINEAR };
const char* const kKindName[] = {"clipped", "spans", "bilinear"};

// Images of exactly w x h pixels (no spare row), so ASan catches any read past the source.
std::vector<uint8_t> RandomImage(int w, int h, uint32_t seed, bool bNonZero = false)
{
    std::vector<uint8_t> v(size_t(w) * h * 4);
    std::mt19937 rng(seed);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    if (bNonZero)
        for (size_t i = 3; i < v.size(); i += 4)
            v[i] = 0xFF;   // every pixel has an opaque alpha, so a written pixel is never 0
    return v;
}

uint32_t Px(const std::vector<uint8_t>& v, int w, int x, int y)
{
    uint32_t d;
    memcpy(&d, v.data() + (size_t(y) * w + x) * 4, 4);
    return d;
}

std::vector<uint8_t> Turn(KIND kind, const std::vector<uint8_t>& src, int w, int h, int P)
{
    std::vector<uint8_t> dst(size_t(w) * h * 4, 0xCD);   // garbage: every pixel must be written
    switch (kind) {
    case CLIPPED: RotateNearestClipped(dst.data(), src.data(), w, h, P); break;
    case SPANS: RotateNearestSpans(dst.data(), src.data(), w, h, P); break;
    case BILINEAR: RotateBilinear(dst.data(), src.data(), w, h, P); break;
    }
    return dst;
}

// ---- the reference ------------------------------------------------------------------------------

int64_t FloorDiv65536(int64_t v) { return v >= 0 ? v / 65536 : -((-v + 65535) / 65536); }

// One destination pixel from the source position; 0 when the kernel does not take it.
uint32_t RefPixel(KIND kind, const std::vector<uint8_t>& s, int w, int h, int64_t sx, int64_t sy)
{
    if (kind == BILINEAR) {
        int64_t ix = FloorDiv65536(sx), iy = FloorDiv65536(sy);
        if (ix < 0 || iy < 0 || ix + 1 >= w || iy + 1 >= h)
            return 0;
        int64_t fx = ((sx - ix * 65536) / 256) & 255, fy = ((sy - iy * 65536) / 256) & 255;
        uint32_t out = 0;
        for (int c = 0; c < 4; ++c) {
            auto at = [&](int64_t x, int64_t y) { return int64_t(s[size_t((y * w + x) * 4 + c)]); };
            auto fl = [](int64_t v) { return v >= 0 ? v / 256 : -((-v + 255) / 256); };
            int64_t top = at(ix, iy) + fl((at(ix + 1, iy) - at(ix, iy)) * fx);
            int64_t bottom = at(ix, iy + 1) + fl((at(ix + 1, iy + 1) - at(ix, iy + 1)) * fx);
            out |= uint32_t(top + fl((bottom - top) * fy)) << (8 * c);
        }
        return out;
    }
    int64_t col, row;
    if (kind == SPANS) {
        col = sx / 65536;   // truncation toward zero
        row = sy / 65536;
    } else {
        if (sx < 0 || sy < 0)
            return 0;
        col = FloorDiv65536(sx);
        row = FloorDiv65536(sy);
    }
    if (col < 0 || row < 0 || col >= w || row >= h)
        return 0;
    return Px(s, w, int(col), int(row));
}

std::vector<uint8_t> RefRotate(KIND kind, const std::vector<uint8_t>& s, int w, int h, int P)
{
    std::vector<uint8_t> out(size_t(w) * h * 4, 0);
    auto put = [&](int x, int y, uint32_t v) { memcpy(out.data() + (size_t(y) * w + x) * 4, &v, 4); };
    int A = P % 360;
    if (A < 0)
        A += 360;
    const double t = A * 3.1415926535 / 180;
    const int64_t J = int64_t(std::trunc(65536 * std::cos(t))), K = int64_t(std::trunc(65536 * std::sin(t)));
    const int64_t cx = w / 2, cy = h / 2;
    auto sxOf = [&](int64_t x, int64_t y) { return cx * 65536 + J * (x - cx) - K * (y - cy); };
    auto syOf = [&](int64_t x, int64_t y) { return cy * 65536 + K * (x - cx) + J * (y - cy); };
    if (A == 0)
        return std::vector<uint8_t>(s);
    if (A == 180) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                put(x, y, Px(s, w, w - 1 - x, h - 1 - y));
        return out;
    }
    if (A == 90 || A == 270) {
        int x0 = std::max(0, w / 2 - h / 2), x1 = std::min(w, w / 2 + h / 2);
        for (int y = 0; y < h; ++y)
            for (int x = x0; x < x1; ++x)
                put(x, y, RefPixel(kind == SPANS ? SPANS : CLIPPED, s, w, h, sxOf(x, y), syOf(x, y)));
        return out;
    }
    const double c = std::cos(t), sn = std::sin(t);
    struct CR {
        int64_t col, row;
    };
    auto corner = [&](int64_t u, int64_t v) {
        return CR{int64_t(std::trunc(cx + u * c - v * sn)), int64_t(std::trunc(cy + u * sn + v * c))};
    };
    const CR TL = corner(-cx, -cy), TR = corner(w - 1 - cx, -cy), BL = corner(-cx, h - 1 - cy),
             BR = corner(w - 1 - cx, h - 1 - cy);
    const int64_t m = kind == SPANS ? 1 : 2, n = kind == SPANS ? 0 : 1;
    for (int y = 0; y < h; ++y) {
        auto a = [&](const CR& k) { return -K * (h - k.row - y) / J; };
        auto b = [&](const CR& k) { return J * (h - k.row - y) / K; };
        int64_t s1, s2, e1, e2;
        if (A < 90) {
            s1 = TL.col + m + a(TL), s2 = BR.col + m + b(BR), e1 = TL.col + n + b(TL), e2 = BR.col + n + a(BR);
        } else if (A < 180) {
            s1 = TR.col + m + a(TR), s2 = BL.col + m + b(BL), e1 = TR.col + n + b(TR), e2 = BL.col + n + a(BL);
        } else if (A < 270) {
            s1 = TL.col + m + b(TL), s2 = BR.col + m + a(BR), e1 = TL.col + n + a(TL), e2 = BR.col + n + b(BR);
        } else {
            s1 = TR.col + m + b(TR), s2 = BL.col + m + a(BL), e1 = TR.col + n + a(TR), e2 = BL.col + n + b(BL);
        }
        int64_t start = std::max<int64_t>(0, std::max(s1, s2)), end = std::min<int64_t>(w, std::min(e1, e2));
        for (int64_t x = start; x < end; ++x)
            put(int(x), y, RefPixel(kind, s, w, h, sxOf(x, y), syOf(x, y)));
    }
    return out;
}

// The columns [first, last] of a row that are not 0, or {-1, -1} for a row of zeros; fails when the
// written pixels do not form one run.
std::pair<int, int> Written(const std::vector<uint8_t>& v, int w, int y)
{
    int first = -1, last = -1;
    for (int x = 0; x < w; ++x)
        if (Px(v, w, x, y) != 0) {
            if (first < 0)
                first = x;
            EXPECT_TRUE(last < 0 || last == x - 1) << "row " << y << " has a gap before column " << x;
            last = x;
        }
    return {first, last};
}

// ---- the kernels ----------------------------------------------------------------------------------

TEST(Rotation, KernelsMatchTheReferenceOverSizesAndAngles)
{
    // Sizes of both parities and aspect ratios, angles over every case (special, each quadrant,
    // near the axes, negative and beyond a turn).
    const int sizes[][2] = {{1, 1}, {2, 1}, {1, 3}, {2, 2}, {5, 4}, {7, 13}, {16, 9}, {31, 32}, {64, 17}};
    const int angles[] = {0, 1, 30, 45, 89, 90, 91, 135, 179, 180, 181, 225, 269, 270, 271, 315, 359,
                          360, 450, -30, -90, -181, -359, -720, 721};
    for (auto& sz : sizes)
        for (int P : angles) {
            std::vector<uint8_t> src = RandomImage(sz[0], sz[1], uint32_t(sz[0] * 1000 + sz[1]));
            for (KIND kind : {CLIPPED, SPANS, BILINEAR})
                ASSERT_EQ(Turn(kind, src, sz[0], sz[1], P), RefRotate(kind, src, sz[0], sz[1], P))
                    << kKindName[kind] << " " << sz[0] << "x" << sz[1] << " P=" << P;
        }
}

TEST(Rotation, RandomSizesAndAnglesStayInsideTheSource)
{
    // Exact-size buffers under ASan: no kernel may read past the w x h source.
    std::mt19937 rng(77);
    for (int i = 0; i < 300; ++i) {
        int w = 1 + int(rng() % 64), h = 1 + int(rng() % 64), P = int(rng() % 1441) - 720;
        std::vector<uint8_t> src = RandomImage(w, h, rng());
        for (KIND kind : {CLIPPED, SPANS, BILINEAR})
            ASSERT_EQ(Turn(kind, src, w, h, P), RefRotate(kind, src, w, h, P))
                << kKindName[kind] << " " << w << "x" << h << " P=" << P;
    }
}

TEST(Rotation, RowsSharedOverTheWorkersGiveTheReference)
{
    // Heights that split unevenly (and fewer rows than workers), odd widths, every kind of angle.
    const int sizes[][2] = {{1, 1}, {3, 2}, {7, 5}, {33, 19}, {64, 37}};
    const int angles[] = {0, 30, 90, 137, 180, 270, 301};
    for (int nWorkers : {1, 2, 4}) {
        SetWorkerCountForTest(nWorkers);
        StartWorkerThreads();
        ASSERT_EQ(GetRunningWorkerCount(), nWorkers);
        for (auto& sz : sizes)
            for (int P : angles) {
                std::vector<uint8_t> src = RandomImage(sz[0], sz[1], uint32_t(sz[0] * 31 + sz[1] + P));
                for (KIND kind : {CLIPPED, SPANS, BILINEAR})
                    EXPECT_EQ(Turn(kind, src, sz[0], sz[1], P), RefRotate(kind, src, sz[0], sz[1], P))
                        << kKindName[kind] << " " << sz[0] << "x" << sz[1] << " P=" << P << " workers "
                        << nWorkers;
            }
        StopWorkerThreads();
    }
    SetWorkerCountForTest(1);
}

TEST(Rotation, WholeTurnsCopyAndHalfTurnsMirror)
{
    const int w = 7, h = 5;
    std::vector<uint8_t> src = RandomImage(w, h, 3);
    for (KIND kind : {CLIPPED, SPANS, BILINEAR}) {
        for (int P : {0, 360, -360, 720})
            EXPECT_EQ(Turn(kind, src, w, h, P), src) << kKindName[kind] << " P=" << P;
        for (int P : {180, -180, 540}) {
            std::vector<uint8_t> out = Turn(kind, src, w, h, P);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    ASSERT_EQ(Px(out, w, x, y), Px(src, w, w - 1 - x, h - 1 - y)) << kKindName[kind] << " P=" << P;
        }
    }
}

TEST(Rotation, QuarterTurnComputesTheCentralBand)
{
    // 100 x 50 at 90 degrees: columns 25..74 only, from source column cx + cy - y, row cy + x - cx.
    {
        const int w = 100, h = 50;
        std::vector<uint8_t> src = RandomImage(w, h, 5, true);
        for (KIND kind : {CLIPPED, SPANS, BILINEAR}) {
            std::vector<uint8_t> out = Turn(kind, src, w, h, 90);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    uint32_t want = 0;
                    int col = 50 + 25 - y, row = 25 + x - 50;
                    if (x >= 25 && x <= 74 && col >= 0 && col < w && row >= 0 && row < h)
                        want = Px(src, w, col, row);
                    ASSERT_EQ(Px(out, w, x, y), want) << kKindName[kind] << " (" << x << ", " << y << ")";
                }
        }
    }
    // 100 x 100: every column is computed, but row 0 maps to source column 100, outside (also for the
    // span kernel, which has no test of its own there). 101 x 101: column 100 lies outside the band.
    for (KIND kind : {CLIPPED, SPANS, BILINEAR}) {
        std::vector<uint8_t> src = RandomImage(100, 100, 6, true);
        std::vector<uint8_t> out = Turn(kind, src, 100, 100, 90);
        EXPECT_EQ(Written(out, 100, 0), std::make_pair(-1, -1)) << kKindName[kind];
        EXPECT_EQ(Written(out, 100, 1), std::make_pair(0, 99)) << kKindName[kind];
        EXPECT_EQ(Px(out, 100, 99, 1), Px(src, 100, 99, 99)) << kKindName[kind];

        std::vector<uint8_t> src1 = RandomImage(101, 101, 7, true);
        std::vector<uint8_t> out1 = Turn(kind, src1, 101, 101, 90);
        EXPECT_EQ(Written(out1, 101, 50), std::make_pair(0, 99)) << kKindName[kind];
    }
}

TEST(Rotation, RowRangesOfGeneralAngles)
{
    // 100 x 100: the range stops short of the turned image's edges by the kernel's margins.
    std::vector<uint8_t> src = RandomImage(100, 100, 8, true);
    std::vector<uint8_t> clipped = Turn(CLIPPED, src, 100, 100, 45);
    std::vector<uint8_t> spans = Turn(SPANS, src, 100, 100, 45);
    EXPECT_EQ(Written(clipped, 100, 0), std::make_pair(33, 69));
    EXPECT_EQ(Written(spans, 100, 0), std::make_pair(32, 68));

    std::vector<uint8_t> one = Turn(CLIPPED, src, 100, 100, 1);
    EXPECT_EQ(Written(one, 100, 0), std::make_pair(-1, -1));
    EXPECT_EQ(Written(one, 100, 99), std::make_pair(2, 57));
}

TEST(Rotation, NegativeAnglesTurnLikeTheirPositiveRemainder)
{
    const int w = 9, h = 6;
    std::vector<uint8_t> src = RandomImage(w, h, 9, true);
    for (KIND kind : {CLIPPED, SPANS, BILINEAR}) {
        EXPECT_EQ(Turn(kind, src, w, h, -90), Turn(kind, src, w, h, 270)) << kKindName[kind];
        std::vector<uint8_t> neg = Turn(kind, src, w, h, -30);
        EXPECT_EQ(neg, Turn(kind, src, w, h, 330)) << kKindName[kind];
        EXPECT_NE(neg, std::vector<uint8_t>(neg.size(), 0)) << kKindName[kind];
    }
}

TEST(Rotation, BilinearPixelFromTheFormula)
{
    // One pixel of a 30-degree turn worked out by hand from the mapping.
    const int w = 8, h = 8;
    std::vector<uint8_t> src = RandomImage(w, h, 10);
    std::vector<uint8_t> out = Turn(BILINEAR, src, w, h, 30);
    const double t = 30 * 3.1415926535 / 180;
    const int32_t J = int32_t(std::trunc(65536 * std::cos(t))), K = int32_t(std::trunc(65536 * std::sin(t)));
    ASSERT_EQ(J, 56755);
    ASSERT_EQ(K, 32767);
    // (x, y) = (4, 3): sx = 4*65536 + 0 - K*(-1), sy = 4*65536 + 0 + J*(-1).
    const int32_t sx = 4 * 65536 + K, sy = 4 * 65536 - J;
    const int ix = sx >> 16, iy = sy >> 16, fx = (sx >> 8) & 255, fy = (sy >> 8) & 255;
    ASSERT_EQ(Written(out, w, 3).first <= 4 && Written(out, w, 3).second >= 4, true);
    for (int c = 0; c < 4; ++c) {
        auto at = [&](int x, int y) { return int(src[(y * w + x) * 4 + c]); };
        int top = at(ix, iy) + (((at(ix + 1, iy) - at(ix, iy)) * fx) >> 8);
        int bottom = at(ix, iy + 1) + (((at(ix + 1, iy + 1) - at(ix, iy + 1)) * fx) >> 8);
        EXPECT_EQ(int(out[(3 * w + 4) * 4 + c]), top + (((bottom - top) * fy) >> 8)) << c;
    }
}

// ---- the layer operation --------------------------------------------------------------------------

class RotateImageTest : public LayerTreeTest {
protected:
    void Fill(TREE_NODE* pNode, uint32_t seed)
    {
        LAYER* p = L(pNode);
        std::vector<uint8_t> v = RandomImage(p->nWidth, p->nHeight, seed, true);
        memcpy(p->pOwnedPixels, v.data(), v.size());
    }
    static std::vector<uint8_t> Pixels(TREE_NODE* pNode)
    {
        LAYER* p = L(pNode);
        return std::vector<uint8_t>(p->pOwnedPixels, p->pOwnedPixels + size_t(p->nWidth) * p->nHeight * 4);
    }
};

TEST_F(RotateImageTest, InPlaceTurnsEveryTypeAndSetsHasAlpha)
{
    struct CASE {
        int P, type;   // type 0: the smooth operation
        KIND kind;
        uint8_t bAlphaIn, bAlphaOut;
    } cases[] = {
        {30, ROTATE_CLIPPED, CLIPPED, 0, 1}, {30, ROTATE_SPANS, SPANS, 0, 1}, {30, 0, BILINEAR, 0, 1},
        {90, ROTATE_CLIPPED, CLIPPED, 0, 1}, {-90, 0, BILINEAR, 0, 1},        {180, ROTATE_SPANS, SPANS, 0, 0},
        {360, 0, BILINEAR, 1, 1},            {-360, ROTATE_CLIPPED, CLIPPED, 0, 0},
        {540, ROTATE_CLIPPED, CLIPPED, 1, 1},
    };
    for (const CASE& c : cases) {
        TREE_NODE* a = Plain("A", 12, 7, 0, 0, 1);
        Fill(a, 11);
        L(a)->bHasAlpha = c.bAlphaIn;
        std::vector<uint8_t> src = Pixels(a);
        uint8_t* pOld = L(a)->pOwnedPixels;
        int rc = c.type ? RotateImage(a, nullptr, c.P, 0, c.type) : RotateImageSmooth(a, nullptr, c.P, 0);
        ASSERT_EQ(rc, 0);
        EXPECT_NE(L(a)->pOwnedPixels, pOld) << "a new buffer is installed";
        EXPECT_EQ(L(a)->nWidth, 12);
        EXPECT_EQ(L(a)->nHeight, 7);
        EXPECT_EQ(Pixels(a), RefRotate(c.kind, src, 12, 7, c.P)) << c.P << " " << c.type;
        EXPECT_EQ(L(a)->bHasAlpha, c.bAlphaOut) << c.P << " " << c.type;
        FreeNodeSubtree(a);
    }
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(RotateImageTest, SecondLayerOfTheSameSizeIsWrittenInPlace)
{
    TREE_NODE* a = Plain("A", 10, 10, 0, 0, 1);
    TREE_NODE* b = Plain("B", 10, 10, 0, 0, 2);
    Fill(a, 12);
    std::vector<uint8_t> src = Pixels(a);
    // The second layer shows a colour cache made from its old pixels.
    uint8_t* pCache = AllocPixelBuffer(nullptr, 10, 10, "");
    ASSERT_NE(pCache, nullptr);
    L(b)->pColorCache = pCache;
    L(b)->pDisplayPixels = pCache;
    L(b)->llCacheFrame = 5;
    uint8_t* pOld = L(b)->pOwnedPixels;
    ASSERT_EQ(RotateImage(a, b, 45, 1, ROTATE_CLIPPED), 0);
    EXPECT_EQ(L(b)->pOwnedPixels, pOld);
    EXPECT_EQ(Pixels(b), RefRotate(CLIPPED, src, 10, 10, 45));
    EXPECT_EQ(L(b)->llCacheFrame, 0) << "the cache is rebuilt from the new pixels";
    EXPECT_EQ(Pixels(a), src) << "the first layer is left as it was";
    EXPECT_EQ(L(b)->bHasAlpha, 1);
}

TEST_F(RotateImageTest, SecondLayerOfAnotherSizeGetsANewBuffer)
{
    TREE_NODE* a = Plain("A", 9, 6, 0, 0, 1);
    TREE_NODE* b = Plain("B", 3, 3, 0, 0, 2);
    Fill(a, 13);
    std::vector<uint8_t> src = Pixels(a);
    ASSERT_EQ(RotateImageSmooth(a, b, 20, 1), 0);
    EXPECT_EQ(L(b)->nWidth, 9);
    EXPECT_EQ(L(b)->nHeight, 6);
    EXPECT_EQ(Pixels(b), RefRotate(BILINEAR, src, 9, 6, 20));
    EXPECT_EQ(Pixels(a), src);

    // A layer just made by name has no pixels: it receives a buffer too.
    TREE_NODE* c = CreateNode(g_pLayerRoot, "C", 0, 3);
    ASSERT_NE(CreateNodeLayer(c), nullptr);
    ASSERT_EQ(RotateImage(a, c, 200, 1, ROTATE_SPANS), 0);
    EXPECT_EQ(Pixels(c), RefRotate(SPANS, src, 9, 6, 200));
}

TEST_F(RotateImageTest, ReadsWhatTheFirstLayerShowsIntoASecondLayer)
{
    // Into a second layer the first layer's display pixels turn; into itself its owned pixels (the
    // layer's colour filter applies again when it is drawn).
    TREE_NODE* a = Plain("A", 8, 8, 0, 0, 1);
    TREE_NODE* b = Plain("B", 8, 8, 0, 0, 2);
    Fill(a, 14);
    std::vector<uint8_t> owned = Pixels(a);
    uint8_t* pCache = AllocPixelBuffer(nullptr, 8, 8, "");
    ASSERT_NE(pCache, nullptr);
    std::vector<uint8_t> shown = RandomImage(8, 8, 15, true);
    memcpy(pCache, shown.data(), shown.size());
    L(a)->pColorCache = pCache;
    L(a)->pDisplayPixels = pCache;
    ASSERT_EQ(RotateImage(a, b, 180, 1, ROTATE_CLIPPED), 0);
    EXPECT_EQ(Pixels(b), RefRotate(CLIPPED, shown, 8, 8, 180));
    ASSERT_EQ(RotateImage(a, nullptr, 180, 0, ROTATE_CLIPPED), 0);
    EXPECT_EQ(Pixels(a), RefRotate(CLIPPED, owned, 8, 8, 180));
}

TEST_F(RotateImageTest, SharedRecordGetsANewBuffer)
{
    // Second node holding the first node's record: never turned into the pixels being read.
    TREE_NODE* a = Plain("A", 11, 5, 0, 0, 1);
    Fill(a, 16);
    std::vector<uint8_t> src = Pixels(a);
    TREE_NODE* b = CreateNode(g_pLayerRoot, "B", 0, 2);
    ASSERT_NE(ShareLayer(b, L(a)), nullptr);
    ASSERT_EQ(RotateImage(a, b, 37, 1, ROTATE_CLIPPED), 0);
    EXPECT_EQ(Pixels(a), RefRotate(CLIPPED, src, 11, 5, 37));
}

TEST_F(RotateImageTest, UnknownTypeGivesATransparentImage)
{
    TREE_NODE* a = Plain("A", 6, 4, 0, 0, 1, 0xFF123456u);
    TREE_NODE* b = Plain("B", 6, 4, 0, 0, 2, 0xFF654321u);
    for (int type : {0, 10, 13, -1}) {
        ASSERT_EQ(RotateImage(a, b, 45, 1, type), 0) << type;
        EXPECT_EQ(Pixels(b), std::vector<uint8_t>(6 * 4 * 4, 0)) << type;
    }
    ASSERT_EQ(RotateImage(a, nullptr, 0, 0, 99), 0);
    EXPECT_EQ(Pixels(a), std::vector<uint8_t>(6 * 4 * 4, 0));
    EXPECT_EQ(L(a)->nWidth, 6);
}

TEST_F(RotateImageTest, MissingLayersOrPixelsChangeNothing)
{
    TREE_NODE* a = CreateNode(g_pLayerRoot, "A", 0, 1);
    ASSERT_NE(CreateNodeLayer(a), nullptr);   // 1 x 1 record without pixels
    TREE_NODE* b = Plain("B", 4, 4, 0, 0, 2, 0xFF112233u);
    const std::vector<uint8_t> before = Pixels(b);
    EXPECT_EQ(RotateImage(a, b, 30, 1, ROTATE_CLIPPED), 0);
    EXPECT_EQ(RotateImageSmooth(a, nullptr, 30, 0), 0);
    EXPECT_EQ(L(a)->pOwnedPixels, nullptr);
    EXPECT_EQ(Pixels(b), before);
    // No node, or no second node where one is asked for.
    EXPECT_EQ(RotateImage(nullptr, nullptr, 30, 0, ROTATE_CLIPPED), 0);
    EXPECT_EQ(RotateImage(b, nullptr, 30, 1, ROTATE_CLIPPED), 0);
    EXPECT_EQ(L(b)->bHasAlpha, 0);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(RotateImageTest, TooWideForANewBufferFailsWithoutChange)
{
    // A record claiming a width above the limit (a damaged or saved record) cannot get a buffer:
    // the allocator's error, -1, and the layer keeps its pixels.
    TREE_NODE* a = Plain("A", 4, 4, 0, 0, 1);
    uint8_t* pOld = L(a)->pOwnedPixels;
    L(a)->nWidth = KX_MAX_IMAGE_WIDTH + 1;
    L(a)->nHeight = 0;
    EXPECT_EQ(RotateImage(a, nullptr, 30, 0, ROTATE_CLIPPED), -1);
    EXPECT_EQ(L(a)->pOwnedPixels, pOld);
    ExpectOneFatalError(errors, KX_ERR_LAYER_NO_MEMORY);
    L(a)->nWidth = 4;
    L(a)->nHeight = 4;
}

}  // namespace
