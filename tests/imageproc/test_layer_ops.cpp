// Layer-to-layer operations: pasting with opacities, mixing, keeping or clearing equal pixels, auto-crop
// and canvas resize, against plain per-pixel references; placement and clipping, layers without pixels,
// a layer used as its own source, tinted layers, and margins that no canvas can have.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "root/startup.h"
#include "core/engine_globals.h"
#include "core/engine_tables.h"
#include "core/kx_texts.h"
#include "core/object_tree.h"
#include "image/layer.h"
#include "imageproc/image_effects.h"
#include "imageproc/pixel_ops.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"

namespace {

typedef std::vector<uint8_t> PIXELS;

class LayerOpsTest : public EngineTest {
protected:
    static void SetUpTestSuite() { FillMulDivTables(); }
    void SetUp() override
    {
        // The plain routines: the references below work pixel by pixel.
        FillPixelOps(&g_PixelOps, 1, PIXEL_SIMD_NONE);
        g_pLayerRoot = CreateRootNode();
        ASSERT_NE(g_pLayerRoot, nullptr);
        nSeed = 987654321u;
    }
    void TearDown() override
    {
        while (g_pLayerRoot->pFirstChild) FreeNodeSubtree(g_pLayerRoot->pFirstChild);
        FreeTreeNode(g_pLayerRoot);
        g_pLayerRoot = nullptr;
    }

    uint32_t nSeed = 0;
    uint8_t NextByte()
    {
        nSeed = nSeed * 1103515245u + 12345u;
        return uint8_t(nSeed >> 16);
    }

    // A layer of distinct random pixels; alpha -1 random, else constant.
    TREE_NODE* Plain(const char* pszName, int32_t w, int32_t h, int nAlpha = -1)
    {
        TREE_NODE* pNode = CreateNode(g_pLayerRoot, pszName, 0, 1);
        LAYER* p = CreateNodeLayer(pNode);
        EXPECT_NE(p, nullptr);
        uint8_t* pPixels = AllocPixelBuffer(nullptr, w, h, nullptr);
        for (int64_t i = 0; i < int64_t(w) * h * 4; ++i) pPixels[i] = NextByte();
        if (nAlpha >= 0)
            for (int64_t i = 0; i < int64_t(w) * h; ++i) pPixels[i * 4 + 3] = uint8_t(nAlpha);
        SetLayerPixels(p, pPixels, w, h);
        return pNode;
    }
    // A layer as the image-effect command makes it for a missing name: default record, no pixels.
    TREE_NODE* Empty(const char* pszName)
    {
        TREE_NODE* pNode = CreateNode(g_pLayerRoot, pszName, 0, 1);
        EXPECT_NE(CreateNodeLayer(pNode), nullptr);
        return pNode;
    }
    static LAYER* L(TREE_NODE* p) { return GetNodeLayer(p); }
    static PIXELS Pixels(TREE_NODE* p)
    {
        const LAYER* q = L(p);
        return PIXELS(q->pOwnedPixels, q->pOwnedPixels + size_t(q->nWidth) * q->nHeight * 4);
    }
    static PIXELS Display(TREE_NODE* p)
    {
        const LAYER* q = L(p);
        return PIXELS(q->pDisplayPixels, q->pDisplayPixels + size_t(q->nWidth) * q->nHeight * 4);
    }
};

uint32_t Px(const PIXELS& v, int32_t w, int64_t x, int64_t y)
{
    uint32_t u;
    memcpy(&u, &v[size_t((y * w + x) * 4)], 4);
    return u;
}

// The reference for every placed operation: each source pixel (sx, sy) that lands inside the
// destination at (sx + x, sy + y) is combined with the destination pixel by fn.
template <class FN>
PIXELS PlacedReference(const PIXELS& src, int32_t sw, int32_t sh, PIXELS dst, int32_t dw, int32_t dh, int64_t x,
                       int64_t y, FN fn)
{
    for (int64_t sy = 0; sy < sh; ++sy)
        for (int64_t sx = 0; sx < sw; ++sx) {
            const int64_t dx = sx + x, dy = sy + y;
            if (dx < 0 || dy < 0 || dx >= dw || dy >= dh) continue;
            fn(&dst[size_t((dy * dw + dx) * 4)], &src[size_t((sy * sw + sx) * 4)]);
        }
    return dst;
}

// ---- Paste ----

TEST_F(LayerOpsTest, PasteComposesTheClippedOverlapAtTheFirstLayersOpacity)
{
    struct CASE {
        int32_t x, y;
        int nOpacity;
    } cases[] = {
        {0, 0, 256}, {-10, -10, 256}, {7, 3, 256}, {15, -4, 128}, {-3, 12, 200}, {40, 0, 256}, {0, -30, 128},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << "at " << c.x << "," << c.y << " opacity " << c.nOpacity);
        TREE_NODE* a = Plain("a", 20, 14);
        TREE_NODE* b = Plain("b", 24, 16);
        L(a)->nOpacity = int16_t(c.nOpacity);
        L(b)->bHasAlpha = 0;
        const PIXELS expected = PlacedReference(Pixels(a), 20, 14, Pixels(b), 24, 16, c.x, c.y, [&](uint8_t* d, const uint8_t* s) {
            if (c.nOpacity == 256) PixelOpCompose(d, s, 4);
            else PixelOpComposeOpacity(d, s, c.nOpacity, 4);
        });
        EXPECT_EQ(PasteImage(a, b, c.x, c.y), 0);
        EXPECT_EQ(Pixels(b), expected);
        EXPECT_EQ(L(b)->bHasAlpha, 1);
        FreeNode(a);
        FreeNode(b);
    }
}

TEST_F(LayerOpsTest, PasteAtMinusTenStartsWithTheFirstLayersPixelTenTen)
{
    TREE_NODE* a = Plain("a", 30, 30, 255);
    TREE_NODE* b = Plain("b", 30, 30, 255);
    const PIXELS pa = Pixels(a), before = Pixels(b);
    ASSERT_EQ(PasteImage(a, b, -10, -10), 0);
    const PIXELS pb = Pixels(b);
    EXPECT_EQ(Px(pb, 30, 0, 0), Px(pa, 30, 10, 10));
    EXPECT_EQ(Px(pb, 30, 19, 19), Px(pa, 30, 29, 29));
    EXPECT_EQ(Px(pb, 30, 20, 5), Px(before, 30, 20, 5));
    EXPECT_EQ(Px(pb, 30, 5, 20), Px(before, 30, 5, 20));
}

TEST_F(LayerOpsTest, PasteAtOpacityZeroChangesNothingButBothOpacityStillScalesTheSecondLayer)
{
    TREE_NODE* a = Plain("a", 8, 8);
    TREE_NODE* b = Plain("b", 8, 8, 240);
    L(a)->nOpacity = 0;
    L(b)->nOpacity = 128;
    L(b)->bHasAlpha = 0;
    const PIXELS before = Pixels(b);
    EXPECT_EQ(PasteImage(a, b, 0, 0), 0);
    EXPECT_EQ(Pixels(b), before);
    EXPECT_EQ(L(b)->bHasAlpha, 0);

    const PIXELS expected = PlacedReference(Pixels(a), 8, 8, before, 8, 8, 0, 0,
                                            [](uint8_t* d, const uint8_t* s) { PixelOpComposeBothOpacity(d, s, 128, 0, 4); });
    EXPECT_EQ(PasteImageBothOpacity(a, b, 0, 0), 0);
    const PIXELS after = Pixels(b);
    EXPECT_EQ(after, expected);
    EXPECT_EQ(after[3], (240 * 128) >> 8);   // the second layer's alpha at its own opacity
    EXPECT_EQ(L(b)->bHasAlpha, 1);
}

TEST_F(LayerOpsTest, PasteBothOpacityPicksTheRoutineByTheFirstLayersOpacity)
{
    for (int nOpacity : {256, 100}) {
        SCOPED_TRACE(nOpacity);
        TREE_NODE* a = Plain("a", 9, 7);
        TREE_NODE* b = Plain("b", 12, 5);
        L(a)->nOpacity = int16_t(nOpacity);
        L(b)->nOpacity = 180;
        const PIXELS expected = PlacedReference(Pixels(a), 9, 7, Pixels(b), 12, 5, 4, -2, [&](uint8_t* d, const uint8_t* s) {
            if (nOpacity == 256) PixelOpComposeDestOpacity(d, s, 180, 4);
            else PixelOpComposeBothOpacity(d, s, 180, nOpacity, 4);
        });
        EXPECT_EQ(PasteImageBothOpacity(a, b, 4, -2), 0);
        EXPECT_EQ(Pixels(b), expected);
        FreeNode(a);
        FreeNode(b);
    }
}

TEST_F(LayerOpsTest, OpaqueBlackAtHalfOpacityOntoTransparentAreaStaysDark)
{
    TREE_NODE* a = Plain("a", 4, 1, 255);
    TREE_NODE* b = Plain("b", 4, 1, 0);
    for (int i = 0; i < 4; ++i) {
        memset(L(a)->pOwnedPixels + i * 4, 0, 3);
        const uint32_t v = 0x00808080u;
        memcpy(L(b)->pOwnedPixels + i * 4, &v, 4);
    }
    L(a)->nOpacity = 128;
    ASSERT_EQ(PasteImage(a, b, 0, 0), 0);
    for (int i = 0; i < 4; ++i) {
        const uint8_t* q = L(b)->pOwnedPixels + i * 4;
        EXPECT_LT(q[0], 0x40);
        EXPECT_LT(q[1], 0x40);
        EXPECT_LT(q[2], 0x40);
        EXPECT_GT(q[3], 0);
    }
}

// ---- Mix ----

TEST_F(LayerOpsTest, MixAtTopLevelsCopiesTheSecondLayerAndAtOthersFollowsTheFormula)
{
    for (int32_t P : {255, 256, 64, -1}) {
        SCOPED_TRACE(P);
        TREE_NODE* a = Plain("a", 10, 8);
        TREE_NODE* b = Plain("b", 10, 8);
        TREE_NODE* c = Plain("c", 12, 9);
        L(c)->bHasAlpha = 0;
        const PIXELS pa = Pixels(a), pb = Pixels(b), pc = Pixels(c);
        EXPECT_EQ(MixImages(a, b, c, 3, -2, P), 0);
        const PIXELS out = Pixels(c);
        const int level = P < 256 ? std::max(P + 1, 0) : 256;
        for (int64_t y = 0; y < 9; ++y)
            for (int64_t x = 0; x < 12; ++x) {
                const int64_t sx = x - 3, sy = y + 2;
                for (int ch = 0; ch < 4; ++ch) {
                    const size_t i = size_t((y * 12 + x) * 4 + ch);
                    if (sx < 0 || sx >= 10 || sy >= 8) {
                        ASSERT_EQ(out[i], pc[i]) << x << "," << y;
                        continue;
                    }
                    const int va = pa[size_t((sy * 10 + sx) * 4 + ch)], vb = pb[size_t((sy * 10 + sx) * 4 + ch)];
                    ASSERT_EQ(out[i], va + (((vb - va) * level) >> 8)) << x << "," << y << " ch " << ch;
                }
            }
        EXPECT_EQ(L(c)->bHasAlpha, 1);
        FreeNode(a);
        FreeNode(b);
        FreeNode(c);
    }
}

TEST_F(LayerOpsTest, MixReadsTheSecondLayerOnlyInsideItsOwnArea)
{
    TREE_NODE* a = Plain("a", 16, 16);
    TREE_NODE* b = Plain("b", 5, 3);   // smaller than the first layer
    TREE_NODE* c = Plain("c", 16, 16);
    const PIXELS pb = Pixels(b), pc = Pixels(c);
    ASSERT_EQ(MixImages(a, b, c, 0, 0, 256), 0);
    const PIXELS out = Pixels(c);
    for (int64_t y = 0; y < 16; ++y)
        for (int64_t x = 0; x < 16; ++x)
            ASSERT_EQ(Px(out, 16, x, y), x < 5 && y < 3 ? Px(pb, 5, x, y) : Px(pc, 16, x, y)) << x << "," << y;
}

TEST_F(LayerOpsTest, MixIntoTheFirstLayerAtAnOffsetReadsItAsItWasBefore)
{
    TREE_NODE* a = Plain("a", 9, 7);
    TREE_NODE* b = Plain("b", 9, 7);
    const PIXELS pa = Pixels(a), pb = Pixels(b);
    ASSERT_EQ(MixImages(a, b, a, 2, 1, 64), 0);
    const PIXELS out = Pixels(a);
    for (int64_t y = 0; y < 7; ++y)
        for (int64_t x = 0; x < 9; ++x)
            for (int ch = 0; ch < 4; ++ch) {
                const size_t i = size_t((y * 9 + x) * 4 + ch);
                const int64_t sx = x - 2, sy = y - 1;
                if (sx < 0 || sy < 0) {
                    ASSERT_EQ(out[i], pa[i]);
                    continue;
                }
                const size_t j = size_t((sy * 9 + sx) * 4 + ch);
                ASSERT_EQ(out[i], pa[j] + (((pb[j] - pa[j]) * 65) >> 8)) << x << "," << y;
            }
}

TEST_F(LayerOpsTest, MixWithoutAThirdLayerOrWithOneWithoutPixelsDoesNothing)
{
    TREE_NODE* a = Plain("a", 6, 6);
    TREE_NODE* b = Plain("b", 6, 6);
    TREE_NODE* c = Empty("c");
    const PIXELS pb = Pixels(b);
    EXPECT_EQ(MixImages(a, b, nullptr, 0, 0, 128), 0);
    EXPECT_EQ(MixImages(a, b, c, 0, 0, 128), 0);
    EXPECT_EQ(L(c)->pOwnedPixels, nullptr);
    EXPECT_EQ(Pixels(b), pb);
}

// ---- Equal and different pixels ----

TEST_F(LayerOpsTest, ClearEqualAndClearDifferentAgainstAReference)
{
    for (int nKind = 0; nKind < 2; ++nKind)
        for (int32_t x : {0, -3, 5}) {
            SCOPED_TRACE(testing::Message() << "kind " << nKind << " x " << x);
            TREE_NODE* a = Plain("a", 8, 6);
            TREE_NODE* b = Plain("b", 10, 6);
            // Make every other overlapping pixel equal.
            for (int64_t sy = 0; sy < 6; ++sy)
                for (int64_t sx = 0; sx < 8; ++sx) {
                    const int64_t dx = sx + x;
                    if (dx >= 0 && dx < 10 && (sx + sy) % 2 == 0)
                        memcpy(L(b)->pOwnedPixels + (sy * 10 + dx) * 4, L(a)->pOwnedPixels + (sy * 8 + sx) * 4, 4);
                }
            const PIXELS expected = PlacedReference(Pixels(a), 8, 6, Pixels(b), 10, 6, x, 1, [&](uint8_t* d, const uint8_t* s) {
                const bool bEqual = memcmp(d, s, 4) == 0;
                if (nKind == 0) {
                    if (bEqual) memset(d, 0, 4);
                    else memcpy(d, s, 4);
                } else if (!bEqual) {
                    memset(d, 0, 4);
                }
            });
            EXPECT_EQ(nKind == 0 ? ClearEqualPixels(a, b, x, 1) : ClearDifferentPixels(a, b, x, 1), 0);
            EXPECT_EQ(Pixels(b), expected);
            EXPECT_EQ(L(b)->bHasAlpha, 1);
            FreeNode(a);
            FreeNode(b);
        }
}

TEST_F(LayerOpsTest, ALayerAgainstItselfClearsOrKeepsEverything)
{
    TREE_NODE* a = Plain("a", 9, 9);
    const PIXELS before = Pixels(a);
    EXPECT_EQ(ClearDifferentPixels(a, a, 0, 0), 0);
    EXPECT_EQ(Pixels(a), before);
    EXPECT_EQ(ClearEqualPixels(a, a, 0, 0), 0);
    EXPECT_EQ(Pixels(a), PIXELS(before.size(), 0));
}

TEST_F(LayerOpsTest, PastingALayerOntoItselfReadsTheImageAsItWasBefore)
{
    TREE_NODE* a = Plain("a", 12, 10);
    const PIXELS before = Pixels(a);
    const PIXELS expected = PlacedReference(before, 12, 10, before, 12, 10, 2, 3,
                                            [](uint8_t* d, const uint8_t* s) { PixelOpCompose(d, s, 4); });
    ASSERT_EQ(PasteImage(a, a, 2, 3), 0);
    EXPECT_EQ(Pixels(a), expected);

    const PIXELS before2 = Pixels(a);
    const PIXELS expected2 = PlacedReference(before2, 12, 10, before2, 12, 10, -1, -2, [](uint8_t* d, const uint8_t* s) {
        if (memcmp(d, s, 4) == 0) memset(d, 0, 4);
        else memcpy(d, s, 4);
    });
    ASSERT_EQ(ClearEqualPixels(a, a, -1, -2), 0);
    EXPECT_EQ(Pixels(a), expected2);
}

// ---- Layers without pixels and tinted layers ----

TEST_F(LayerOpsTest, ALayerWithoutPixelsMakesEveryOperationAnUnchangedSuccess)
{
    TREE_NODE* a = Plain("a", 6, 4);
    TREE_NODE* e = Empty("e");
    L(e)->bHasAlpha = 0;
    const PIXELS pa = Pixels(a);
    EXPECT_EQ(PasteImage(a, e, 0, 0), 0);
    EXPECT_EQ(PasteImageBothOpacity(a, e, 0, 0), 0);
    EXPECT_EQ(ClearEqualPixels(a, e, 0, 0), 0);
    EXPECT_EQ(ClearDifferentPixels(a, e, 0, 0), 0);
    EXPECT_EQ(PasteImage(e, a, 0, 0), 0);
    EXPECT_EQ(MixImages(e, a, a, 0, 0, 10), 0);
    EXPECT_EQ(AutoCropImage(e, a, 1, 15, 0), 0);
    EXPECT_EQ(ResizeCanvas(e, a, 1, 5, 5, 5, 5), 0);
    EXPECT_EQ(ResizeCanvas(e, nullptr, 0, 5, 5, 5, 5), 0);
    EXPECT_EQ(L(e)->pOwnedPixels, nullptr);
    EXPECT_EQ(L(e)->bHasAlpha, 0);
    EXPECT_EQ(L(e)->nWidth, 1);
    EXPECT_EQ(Pixels(a), pa);
    EXPECT_EQ(L(a)->nWidth, 6);
}

TEST_F(LayerOpsTest, TintedLayersAreReadAsShownAndWrittenInTheirOwnPixels)
{
    TREE_NODE* a = Plain("a", 6, 5, 255);
    TREE_NODE* b = Plain("b", 6, 5, 255);
    // Colour caches as the compositor leaves them: display pixels differ from the owned ones.
    for (TREE_NODE* n : {a, b}) {
        LAYER* q = L(n);
        q->nColorBalance = 0x4080C0;
        q->pColorCache = AllocPixelBuffer(nullptr, 6, 5, nullptr);
        for (int i = 0; i < 6 * 5 * 4; ++i) q->pColorCache[i] = (i % 4 == 3) ? 255 : NextByte();
        q->pDisplayPixels = q->pColorCache;
        q->llCacheFrame = 7;
    }
    const PIXELS shownA = Display(a), cacheB = Display(b);
    ASSERT_EQ(PasteImage(a, b, 0, 0), 0);
    EXPECT_EQ(Pixels(b), shownA);      // the first layer's shown pixels, opaque, into the owned pixels
    EXPECT_EQ(Display(b), cacheB);     // the stale cache is left for the compositor to rebuild
    EXPECT_EQ(L(b)->llCacheFrame, 0);
}

// ---- Auto-crop ----

struct CROP_CASE {
    int32_t P, Q;
    int32_t l, t, r, b;   // the expected box
};

TEST_F(LayerOpsTest, AutoCropKeepsTheBoxOfPixelsAboveTheThresholdOnTheChosenSides)
{
    const CROP_CASE cases[] = {
        {15, 0, 1, 1, 6, 4},     // alpha above 0 anywhere
        {15, 200, 2, 1, 5, 4},   // only 201..255 count
        {15, 0x1C8, 2, 1, 5, 4}, // the low byte of Q is the threshold
        {0, 0, 0, 0, 7, 5},      // no side chosen: the whole image
        {8, 0, 0, 1, 7, 5},      // top only
        {4 | 1, 0, 0, 0, 6, 4},  // bottom and right
        {2, 100, 2, 0, 7, 5},    // left, threshold 100 (the pixel of 100 does not count)
        {15, 255, 0, 0, 7, 5},   // nothing above: the whole image is kept
    };
    for (const CROP_CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << "P " << c.P << " Q " << c.Q);
        TREE_NODE* a = Plain("a", 8, 6, 0);
        auto SetAlpha = [&](int x, int y, uint8_t v) { L(a)->pOwnedPixels[(y * 8 + x) * 4 + 3] = v; };
        SetAlpha(2, 1, 255);
        SetAlpha(5, 4, 201);
        SetAlpha(6, 2, 200);
        SetAlpha(1, 3, 100);
        L(a)->bHasAlpha = 1;
        const PIXELS pa = Pixels(a);
        ASSERT_EQ(AutoCropImage(a, nullptr, 0, c.P, c.Q), 0);
        const int32_t w = c.r - c.l + 1, h = c.b - c.t + 1;
        ASSERT_EQ(L(a)->nWidth, w);
        ASSERT_EQ(L(a)->nHeight, h);
        const PIXELS out = Pixels(a);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) ASSERT_EQ(Px(out, w, x, y), Px(pa, 8, x + c.l, y + c.t)) << x << "," << y;
        EXPECT_EQ(L(a)->bHasAlpha, 1);
        FreeNode(a);
    }
}

TEST_F(LayerOpsTest, AutoCropIntoASecondLayerReusesItsBufferWhenTheSizeFits)
{
    TREE_NODE* a = Plain("a", 10, 10, 0);
    for (int y = 2; y <= 6; ++y)
        for (int x = 3; x <= 5; ++x) L(a)->pOwnedPixels[(y * 10 + x) * 4 + 3] = 255;
    L(a)->bHasAlpha = 0;
    const PIXELS pa = Pixels(a);

    TREE_NODE* same = Plain("same", 3, 5);
    uint8_t* pBuffer = L(same)->pOwnedPixels;
    ASSERT_EQ(AutoCropImage(a, same, 1, 15, 0), 0);
    EXPECT_EQ(L(same)->pOwnedPixels, pBuffer);
    TREE_NODE* other = Plain("other", 4, 4);
    L(other)->bHasAlpha = 1;
    ASSERT_EQ(AutoCropImage(a, other, 1, 15, 0), 0);
    ASSERT_EQ(L(other)->nWidth, 3);
    ASSERT_EQ(L(other)->nHeight, 5);
    TREE_NODE* fresh = Empty("fresh");
    ASSERT_EQ(AutoCropImage(a, fresh, 1, 15, 0), 0);
    for (TREE_NODE* n : {same, other, fresh}) {
        const PIXELS out = Pixels(n);
        for (int32_t y = 0; y < 5; ++y)
            for (int32_t x = 0; x < 3; ++x) ASSERT_EQ(Px(out, 3, x, y), Px(pa, 10, x + 3, y + 2));
        EXPECT_EQ(L(n)->bHasAlpha, 0);
    }
    EXPECT_EQ(Pixels(a), pa);   // the first layer is only read
    EXPECT_EQ(L(a)->nWidth, 10);
}

// ---- Canvas resize ----

struct RESIZE_CASE {
    int64_t l, r, t, b;
};

TEST_F(LayerOpsTest, ResizeCanvasAddsFillAndCropsByItsMargins)
{
    const RESIZE_CASE cases[] = {
        {10, 10, 10, 10}, {-10, 0, 0, 0}, {0, -7, -3, 0}, {-5, 3, 2, -4}, {0, 0, 0, 0},
        {-150, 200, 0, 0},   // no overlap: all fill
        {0, 0, 60, -100},    // no overlap vertically
        {7900, 0, 0, 0},
    };
    const int32_t W = 100, H = 50;
    for (const RESIZE_CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << c.l << " " << c.r << " " << c.t << " " << c.b);
        TREE_NODE* a = Plain("a", W, H);
        L(a)->bHasAlpha = 0;
        const PIXELS pa = Pixels(a);
        ASSERT_EQ(ResizeCanvas(a, nullptr, 0, c.l, c.r, c.t, c.b), 0);
        const int64_t nw = c.l + c.r + W, nh = c.t + c.b + H;
        ASSERT_EQ(L(a)->nWidth, nw);
        ASSERT_EQ(L(a)->nHeight, nh);
        const PIXELS out = Pixels(a);
        for (int64_t y = 0; y < nh; ++y)
            for (int64_t x = 0; x < nw; ++x) {
                const int64_t sx = x - c.l, sy = y - c.t;
                const bool bInside = sx >= 0 && sx < W && sy >= 0 && sy < H;
                ASSERT_EQ(Px(out, int32_t(nw), x, y), bInside ? Px(pa, W, sx, sy) : 0x00808080u) << x << "," << y;
            }
        EXPECT_EQ(L(a)->bHasAlpha, (c.l > 0 || c.r > 0 || c.t > 0 || c.b > 0) ? 1 : 0);
        FreeNode(a);
    }
}

TEST_F(LayerOpsTest, ResizeCanvasIntoASecondLayerLeavesTheFirst)
{
    TREE_NODE* a = Plain("a", 20, 10);
    TREE_NODE* b = Empty("b");
    const PIXELS pa = Pixels(a);
    ASSERT_EQ(ResizeCanvas(a, b, 1, 2, -3, 1, 0), 0);
    EXPECT_EQ(L(b)->nWidth, 19);
    EXPECT_EQ(L(b)->nHeight, 11);
    EXPECT_EQ(Px(Pixels(b), 19, 5, 4), Px(pa, 20, 3, 3));
    EXPECT_EQ(Pixels(a), pa);
}

TEST_F(LayerOpsTest, ResizeCanvasRefusesSizesNoCanvasCanHave)
{
    const int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();
    struct CASE {
        RESIZE_CASE m;
        int bBox;       // a message box of the operation's own comes first
        int nErrorId;   // 0: none (then that box is the only one)
        const char* pszText;
    } cases[] = {
        {{-100, 0, 0, 0}, 1, 0, "リサイズ後のサイズが不正です。"},
        {{0, 0, -30, -20}, 1, 0, "リサイズ後のサイズが不正です。"},
        {{kMin, kMin, 0, 0}, 1, 0, "リサイズ後のサイズが不正です。"},
        {{0, 0, kMin, -5}, 1, 0, "リサイズ後のサイズが不正です。"},
        {{8100, 0, 0, 0}, 1, 100010, "ＣＧサイズが大きすぎます。X=8200, Y=50"},
        {{kMax, 1, 0, 0}, 1, 100010, nullptr},
        {{1, kMax, 0, 0}, 1, 100010, nullptr},
        {{0, 0, 3000000000LL, 0}, 0, 104030, nullptr},
        {{0, 0, kMax, kMax}, 0, 104030, nullptr},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << c.m.l << " " << c.m.r << " " << c.m.t << " " << c.m.b);
        TREE_NODE* a = Plain("a", 100, 50);
        const PIXELS pa = Pixels(a);
        {
            ERROR_RECORDER errors;
            MSGBOX_RECORDER boxes;
            EXPECT_EQ(ResizeCanvas(a, nullptr, 0, c.m.l, c.m.r, c.m.t, c.m.b), -1);
            if (c.bBox) {
                ASSERT_FALSE(boxes.boxes.empty());
                EXPECT_EQ(boxes.boxes[0].strCaption, "");
                if (c.pszText) {
                    EXPECT_EQ(boxes.boxes[0].strText, Cp932(c.pszText));
                }
            }
            if (c.nErrorId) {
                ASSERT_NO_FATAL_FAILURE(ExpectOneFatalError(errors, c.nErrorId));
            } else {
                EXPECT_EQ(boxes.boxes.size(), 1u);
                EXPECT_TRUE(errors.reports.empty());
                EXPECT_EQ(g_bEngineStop, 0);
            }
        }
        g_bEngineStop = 0;
        EXPECT_EQ(L(a)->nWidth, 100);
        EXPECT_EQ(L(a)->nHeight, 50);
        EXPECT_EQ(Pixels(a), pa);
        FreeNode(a);
    }
}

TEST_F(LayerOpsTest, CopyCanvasRowsClipsToSourceAndDestination)
{
    PIXELS src(5 * 4 * 4), dst(6 * 3 * 4, 0xEE);
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i);
    // Columns -2..9 of a 5 x 4 source, rows 1..9, placed 3 columns right and 1 row up: only the
    // columns that land inside the 6-wide destination are copied.
    CopyCanvasRows(dst.data(), src.data(), -2, 1, 9, 3, 5, 4, 3, -1, 6);
    for (int64_t y = 0; y < 3; ++y)
        for (int64_t x = 0; x < 6; ++x) {
            const int64_t sx = x - 3, sy = y + 1;
            const bool bCopied = sx >= 0 && sx < 5 && sy >= 1 && sy <= 3;
            EXPECT_EQ(Px(dst, 6, x, y), bCopied ? Px(src, 5, sx, sy) : 0xEEEEEEEEu) << x << "," << y;
        }
}

}  // namespace
