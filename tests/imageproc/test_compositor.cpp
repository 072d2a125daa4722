// The CPU compositor: pictures of small scenes (nested and zero-size groups, every blend mode at
// several opacities with and without alpha, masks, colour filters, partial dirty boxes) against a
// plain per-pixel reference composer written here, for 1 to 4 workers; clipping, mask curves,
// colour filters, the start at the topmost opaque child, errors, and presentation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "root/startup.h"
#include "core/engine_globals.h"
#include "core/engine_tables.h"
#include "core/frame_loop.h"
#include "core/object_tree.h"
#include "display/window_state.h"
#include "image/dirty_rects.h"
#include "image/layer.h"
#include "imageproc/blend_modes.h"
#include "imageproc/compositor.h"
#include "imageproc/pixel_ops.h"
#include "core/worker_pool.h"
#include "platform/plat_window.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"

namespace {

struct BOX {
    int64_t l, t, r, b;
};
BOX Intersect(const BOX& a, const BOX& b)
{
    return BOX{std::max(a.l, b.l), std::max(a.t, b.t), std::min(a.r, b.r), std::min(a.b, b.b)};
}

// ---- The reference: the compositing rules written out plainly, pixel by pixel ----

void RefColorBalance(uint8_t* p, size_t nPixels, uint32_t rgb)
{
    for (size_t i = 0; i < nPixels; ++i)
        for (int ch = 0; ch < 3; ++ch) {
            const int c = (rgb >> (8 * ch)) & 0xFF;
            const int up = c > 128 ? c - 128 : 0;
            const int down = c < 128 ? 128 - c : 0;
            const int v = p[i * 4 + ch];
            p[i * 4 + ch] = static_cast<uint8_t>(v + ((up * (255 - v)) >> 7) - ((v * down) >> 7));
        }
}

void RefSaturation(uint8_t* p, size_t nPixels, int s)
{
    for (size_t i = 0; i < nPixels; ++i) {
        uint8_t* q = p + i * 4;
        const int m = (q[0] + q[1] + q[2]) / 3;
        if (s < 128) {
            for (int c = 0; c < 3; ++c) q[c] = static_cast<uint8_t>(q[c] + (((m - q[c]) * (128 - s)) >> 7));
            continue;
        }
        const int k0 = s - 128;
        int k = k0;
        for (int c = 0; c < 3; ++c) {
            const int dv = q[c] - m;
            const int cand = q[c] + ((k0 * dv) >> 7);
            int lowered = k;
            if (cand > 255) lowered = (255 - q[c]) * 128 / dv;
            if (cand < 0) lowered = -q[c] * 128 / dv;
            k = std::min(k, lowered);
        }
        int out[3];
        for (int c = 0; c < 3; ++c) out[c] = q[c] + (((q[c] - m) * k) >> 7);
        for (int c = 0; c < 3; ++c) q[c] = static_cast<uint8_t>(out[c]);
    }
}

void RefMaskCurve(int32_t* pCurve, int o, int t, int v)
{
    for (int i = 0; i < 256; ++i) {
        int e;
        if (v == 256)
            e = i <= 255 - t ? 0 : 256;
        else
            e = std::min(((i * v) >> 1) + t * ((v >> 1) + 1) - 128 * v, 255) + 1;
        pCurve[i] = std::max(0, (o * e) >> 8);
    }
}

// Draws the children of a node into the picture, clipped to 'clip' (window coordinates). Groups with
// a size clip their children to their rectangle; groups without one only to the window's box.
void RefDraw(uint8_t* pPic, int32_t nPicWidth, const TREE_NODE* pNode, int64_t offX, int64_t offY, const BOX& clip,
             const BOX& windowBox)
{
    for (const TREE_NODE* c = pNode->pFirstChild; c; c = c->pNext) {
        const LAYER* Q = GetNodeLayer(c);
        if (!Q) continue;
        const int64_t x = offX + Q->llX, y = offY + Q->llY;
        if (c->bGroup) {
            if (Q->nWidth == 0 || Q->nHeight == 0)
                RefDraw(pPic, nPicWidth, c, x, y, windowBox, windowBox);
            else
                RefDraw(pPic, nPicWidth, c, x, y, Intersect(clip, BOX{x, y, x + Q->nWidth - 1, y + Q->nHeight - 1}),
                        windowBox);
            continue;
        }
        const bool bMaskPath = Q->pszMaskPath && Q->pszMaskPath[0];
        if (!Q->bVisible || Q->nOpacity == 0 || (bMaskPath && Q->nMaskThreshold == 0)) continue;
        const BOX r = Intersect(clip, BOX{x, y, x + Q->nWidth - 1, y + Q->nHeight - 1});
        if (r.l > r.r || r.t > r.b) continue;

        std::vector<uint8_t> src(Q->pOwnedPixels, Q->pOwnedPixels + size_t(Q->nWidth) * Q->nHeight * 4);
        if ((Q->nColorBalance & 0xFFFFFF) != 0x808080) RefColorBalance(src.data(), src.size() / 4, Q->nColorBalance);
        if (Q->nSaturation != 128) RefSaturation(src.data(), src.size() / 4, Q->nSaturation);

        const LAYER* pMask = nullptr;
        if (bMaskPath) pMask = GetNodeLayer(FindNodeByPath(g_pLayerRoot, Q->pszMaskPath, KX_FIND_LEAF));
        const bool bUseMask = pMask && Q->nMaskThreshold < 256;
        if (bUseMask) RefMaskCurve(g_aiMaskCurve, Q->nOpacity, Q->nMaskThreshold, Q->nMaskVagueness);
        const int nSlot = Q->bBlendMode * 2 + (Q->nOpacity >> 8);
        const int32_t nBytes = static_cast<int32_t>(r.r - r.l + 1) * 4;
        for (int64_t py = r.t; py <= r.b; ++py) {
            uint8_t* d = pPic + (size_t(py) * nPicWidth + size_t(r.l)) * 4;
            const size_t nSrcOff = (size_t(py - y) * Q->nWidth + size_t(r.l - x)) * 4;
            const uint8_t* s = src.data() + nSrcOff;
            // The destination rows start where the compositor's do, so the spans treat them alike.
            if (bUseMask) {
                const uint8_t* m = pMask->pDisplayPixels + nSrcOff;
                if (Q->bHasAlpha)
                    g_apfnBlendSpanMaskAlpha[Q->bBlendMode * 2](d, s, m, Q->nMaskThreshold, Q->nMaskVagueness, nBytes);
                else
                    g_apfnBlendSpanMask[nSlot](d, s, m, Q->nMaskThreshold, Q->nMaskVagueness, nBytes);
            } else if (Q->bHasAlpha) {
                g_apfnBlendSpanAlpha[nSlot](d, s, Q->nOpacity, nBytes);
            } else {
                g_apfnBlendSpan[nSlot](d, s, Q->nOpacity, nBytes);
            }
        }
    }
}

// Redraws box of the window picture: clear, then every child from the bottom.
void RefCompose(uint8_t* pPic, const TREE_NODE* pWindow, const BOX& box)
{
    const LAYER* W = GetNodeLayer(pWindow);
    for (int64_t y = box.t; y <= box.b; ++y)
        std::memset(pPic + (size_t(y) * W->nWidth + size_t(box.l)) * 4, 0, size_t(box.r - box.l + 1) * 4);
    RefDraw(pPic, W->nWidth, pWindow, 0, 0, box, box);
}

uint32_t s_nSeed = 1;
uint32_t NextRandom()
{
    s_nSeed = s_nSeed * 1103515245u + 12345u;
    return s_nSeed >> 8;
}

TREE_NODE* s_apSlot[KX_LAYER_WINDOWS];
LAYER s_aBack[KX_LAYER_WINDOWS];
char s_szLayerPath[KX_MAX_OBJECT_PATH];
WINDOW_STATE s_aWindow[KX_WINDOWS];

class CompositorOracle;

class CompositorTest : public EngineTest {
    friend class CompositorOracle;

protected:
    static void SetUpTestSuite()
    {
        FillMulDivTables();
        InitBlendTables();
    }

    void SetUp() override
    {
        FillPixelOps(&g_PixelOps, 3, DetectPixelOpsSimd());
        InstallCompositor();
        g_nInlineBlendPixels = 0;   // the scenes are small: every blend goes to the workers
        g_llFrameCount = 1;
        InstallEngineParts();
        g_LayerHooks.pfnWindowLayerSetSlot = [](int i) { return i >= 0 && i < KX_LAYER_WINDOWS ? &s_apSlot[i] : nullptr; };
        g_LayerHooks.pfnWindowBackLayer = [](int i) { return i >= 0 && i < KX_LAYER_WINDOWS ? &s_aBack[i] : nullptr; };
        for (int i = 0; i < KX_WINDOWS; ++i) {
            apSavedWindow[i] = g_apWindowState[i];
            s_aWindow[i] = WINDOW_STATE{};
            s_aWindow[i].nIndex = i;
            g_apWindowState[i] = &s_aWindow[i];
            s_apSlot[i] = nullptr;
        }
        s_szLayerPath[0] = 0;
        g_pszLayerPath = s_szLayerPath;
        g_pLayerRoot = CreateRootNode();
        ASSERT_NE(g_pLayerRoot, nullptr);
        s_nSeed = 12345;
    }
    void TearDown() override
    {
        while (g_pLayerRoot->pFirstChild) FreeNodeSubtree(g_pLayerRoot->pFirstChild);
        FreeTreeNode(g_pLayerRoot);
        g_pLayerRoot = nullptr;
        for (int i = 0; i < KX_WINDOWS; ++i) g_apWindowState[i] = apSavedWindow[i];
        StopWorkerThreads();
        SetWorkerCountForTest(1);
    }

    // Window 0 shows the group "W0" of w x h.
    TREE_NODE* Window(int32_t w, int32_t h)
    {
        LAYER* p = CreateGroupLayer("W0", w, h, 1);
        EXPECT_NE(p, nullptr);
        pW0 = FindNodeByPath(g_pLayerRoot, "W0", KX_FIND_GROUP);
        s_apSlot[0] = pW0;
        s_aWindow[0].bVisible = 1;
        s_aWindow[0].nWidth = w;
        s_aWindow[0].nHeight = h;
        ref.assign(size_t(w) * h * 4, 0);
        return pW0;
    }
    // A plain layer of random pixels (alpha random too, or the given constant alpha).
    TREE_NODE* Plain(const char* pszPath, int32_t w, int32_t h, int64_t x, int64_t y, int64_t llOrder, int nAlpha = -1)
    {
        TREE_NODE* pNode = CreateNode(g_pLayerRoot, pszPath, 0, llOrder);
        LAYER* pLayer = CreateNodeLayer(pNode);
        EXPECT_NE(pLayer, nullptr);
        uint8_t* pPixels = AllocPixelBuffer(nullptr, w, h, nullptr);
        for (int64_t i = 0; i < int64_t(w) * h * 4; ++i) pPixels[i] = static_cast<uint8_t>(NextRandom());
        if (nAlpha >= 0)
            for (int64_t i = 0; i < int64_t(w) * h; ++i) pPixels[i * 4 + 3] = static_cast<uint8_t>(nAlpha);
        SetLayerPixels(pLayer, pPixels, w, h);
        pLayer->llX = x;
        pLayer->llY = y;
        pLayer->bHasAlpha = nAlpha < 0 ? 1 : 0;
        MarkLayerDirty(pNode);
        return pNode;
    }
    TREE_NODE* Group(const char* pszPath, int32_t w, int32_t h, int64_t x, int64_t y, int64_t llOrder)
    {
        LAYER* p = CreateGroupLayer(pszPath, w, h, llOrder);
        EXPECT_NE(p, nullptr);
        p->llX = x;
        p->llY = y;
        return FindNodeByPath(g_pLayerRoot, pszPath, KX_FIND_GROUP);
    }
    static LAYER* L(const TREE_NODE* p) { return GetNodeLayer(p); }

    // The window's current dirty box, clipped to the window (the compositor's redraw box).
    BOX DirtyBox()
    {
        const LAYER* W = L(pW0);
        if (!W->bOwnValid) return BOX{0, 0, -1, -1};
        return Intersect(BOX{W->rcOwn.llLeft, W->rcOwn.llTop, W->rcOwn.llRight, W->rcOwn.llBottom}, BOX{0, 0, W->nWidth - 1, W->nHeight - 1});
    }
    void MarkAllDirty()
    {
        LAYER* W = L(pW0);
        DIRTY_BOX b{0, 0, W->nWidth - 1, W->nHeight - 1};
        MergeDirtyRect(pW0, &b);
    }
    // One frame of the compositor, and the reference over the same box. Returns the render result.
    int Frame(bool bReference = true)
    {
        const BOX box = DirtyBox();
        if (bReference && box.l <= box.r && box.t <= box.b && L(pW0)->bChanged) RefCompose(ref.data(), pW0, box);
        ++g_llFrameCount;
        const int rc = RenderWindowCPU(0);
        PresentWindowCPU(0);
        ResetDirtyRects(g_pLayerRoot->pFirstChild);
        return rc;
    }
    std::vector<uint8_t> Picture() const
    {
        const LAYER* W = L(pW0);
        return std::vector<uint8_t>(W->pDisplayPixels, W->pDisplayPixels + size_t(W->nWidth) * W->nHeight * 4);
    }
    // The first differing pixel, for a readable failure.
    ::testing::AssertionResult SameAsReference() const
    {
        const std::vector<uint8_t> pic = Picture();
        for (size_t i = 0; i < pic.size(); ++i)
            if (pic[i] != ref[i]) {
                const size_t px = i / 4, w = L(pW0)->nWidth;
                return ::testing::AssertionFailure() << "pixel (" << px % w << ", " << px / w << ") byte " << i % 4
                                                     << ": " << int(pic[i]) << " expected " << int(ref[i]);
            }
        return ::testing::AssertionSuccess();
    }

    WINDOW_STATE* apSavedWindow[KX_WINDOWS]{};
    TREE_NODE* pW0 = nullptr;
    std::vector<uint8_t> ref;
    ERROR_RECORDER errors;
    MSGBOX_RECORDER boxes;
};

// ---- Clipping, curves and filters ----

TEST(ClipBlitTest, FourCasesPerAxis)
{
    struct CASE {
        int64_t p;
        int32_t n;
        int64_t c;
        int32_t m;
        uint8_t bCase;
        int32_t nOff, nDst, nVis;
    } cases[] = {
        {3, 4, 0, 10, 0, 0, 3, 4},      // inside
        {8, 5, 0, 10, 1, 0, 8, 2},      // past the end
        {-3, 5, 0, 10, 2, 3, 0, 2},     // before the start
        {-3, 20, 0, 10, 3, 3, 0, 10},   // both
        {12, 4, 0, 10, 1, 0, 12, -2},   // wholly after: negative visible
        {-9, 4, 0, 10, 2, 9, 0, -5},    // wholly before
        {5, 4, 5, 4, 0, 0, 5, 4},       // exactly the clip
        {-5000000000LL, 10, 0, 10, 2, INT32_MAX, 0, INT32_MIN},  // saturates, stays invisible
    };
    for (const CASE& c : cases) {
        BLIT_CLIP b{};
        b.llSrcX = c.p;
        b.nSrcWidth = c.n;
        b.llClipX = c.c;
        b.nClipWidth = c.m;
        b.llSrcY = c.p + 100;
        b.nSrcHeight = c.n;
        b.llClipY = c.c + 100;
        b.nClipHeight = c.m;
        ClipBlit(&b);
        SCOPED_TRACE(c.p);
        EXPECT_EQ(b.bCaseX, c.bCase);
        EXPECT_EQ(b.nSrcOffX, c.nOff);
        EXPECT_EQ(b.nDstX, c.nDst);
        EXPECT_EQ(b.nVisWidth, c.nVis);
        EXPECT_EQ(b.bCaseY, c.bCase);
        EXPECT_EQ(b.nSrcOffY, c.nOff);
        EXPECT_EQ(b.nVisHeight, c.nVis);
    }
}

TEST(MaskCurveTest, HardEdgeRampAndOpacity)
{
    LAYER l{};
    int32_t aRef[256];
    struct CASE {
        int o, t, v;
    } cases[] = {{256, 0, 256}, {256, 128, 256}, {256, 256, 256}, {200, 100, 256}, {256, 128, 0},
                 {256, 128, 64}, {180, 40, 128}, {256, 256, 2}, {256, 0, 512}, {100, 77, 255}};
    for (const CASE& c : cases) {
        l.nOpacity = static_cast<int16_t>(c.o);
        l.nMaskThreshold = static_cast<int16_t>(c.t);
        l.nMaskVagueness = static_cast<int16_t>(c.v);
        BuildMaskCurve(&l);
        RefMaskCurve(aRef, c.o, c.t, c.v);
        for (int i = 0; i < 256; ++i) {
            // Entries of 1 or less all mean "leave the pixel"; the curve keeps them at 0 and above.
            const int want = std::max(aRef[i], 0);
            ASSERT_EQ(g_aiMaskCurve[i], want) << "o " << c.o << " t " << c.t << " v " << c.v << " entry " << i;
        }
    }
    // Hard edge: threshold 128 switches at entry 128; vagueness 0 makes every entry min(t, 255) + 1.
    l = LAYER{};
    l.nOpacity = 256;
    l.nMaskThreshold = 128;
    l.nMaskVagueness = 256;
    BuildMaskCurve(&l);
    EXPECT_EQ(g_aiMaskCurve[127], 0);
    EXPECT_EQ(g_aiMaskCurve[128], 256);
    l.nMaskVagueness = 0;
    BuildMaskCurve(&l);
    EXPECT_EQ(g_aiMaskCurve[0], 129);
    EXPECT_EQ(g_aiMaskCurve[255], 129);
    // Thresholds outside 0..256 with a hard edge stay inside the curve: below 0 nothing, above all.
    for (int t : {-300, 300, 32767, -32768}) {
        l.nMaskThreshold = static_cast<int16_t>(t);
        l.nMaskVagueness = 256;
        BuildMaskCurve(&l);
        for (int i = 0; i < 256; ++i) ASSERT_EQ(g_aiMaskCurve[i], t < 0 ? 0 : 256);
        // A large ramp neither overflows nor leaves 0..256.
        l.nMaskVagueness = 32767;
        BuildMaskCurve(&l);
        for (int i = 0; i < 256; ++i) ASSERT_TRUE(g_aiMaskCurve[i] >= 0 && g_aiMaskCurve[i] <= 256);
    }
}

TEST(ColorFilterTest, MatchReferenceOnEveryChannelValueAndStayInRange)
{
    // Every channel value against a spread of the other two, for a spread of settings.
    std::vector<uint8_t> src;
    for (int v = 0; v < 256; ++v)
        for (int o : {0, 1, 64, 127, 128, 200, 255})
            for (int ch = 0; ch < 3; ++ch) {
                uint8_t px[4] = {uint8_t(o), uint8_t(255 - o), uint8_t((o * 7) & 255), uint8_t(v ^ 0x5A)};
                px[ch] = static_cast<uint8_t>(v);
                src.insert(src.end(), px, px + 4);
            }
    const int32_t w = 21, h = static_cast<int32_t>(src.size() / 4 / w);
    src.resize(size_t(w) * h * 4);
    std::vector<uint8_t> out(src.size()), want;
    // The plain routines and the vector ones (rows of 21: blocks of four and a tail).
    const int nSavedSimd = g_nPixelOpsSimd;
    for (int nSimd : {int(PIXEL_SIMD_NONE), int(PIXEL_SIMD_SSE2)}) {
        g_nPixelOpsSimd = nSimd;
        for (uint32_t rgb : {0x808080u, 0x000000u, 0xFFFFFFu, 0xFF0080u, 0x40C0FFu, 0x7F8081u}) {
            FilterColorBalance(out.data(), src.data(), 0, 0, w - 1, h - 1, w, h, w, h, rgb);
            want = src;
            RefColorBalance(want.data(), want.size() / 4, rgb);
            ASSERT_EQ(out, want) << std::hex << rgb << " simd " << nSimd;
        }
    }
    g_nPixelOpsSimd = nSavedSimd;
    // c = 0 turns the channel to 0; c = 255 lifts 0 to 253 and keeps 255.
    uint8_t px[8] = {0, 0, 0, 9, 255, 255, 255, 9}, o[8];
    FilterColorBalance(o, px, 0, 0, 1, 0, 2, 1, 2, 1, 0xFFFFFF);
    EXPECT_EQ(o[0], 253);
    EXPECT_EQ(o[4], 255);
    EXPECT_EQ(o[3], 9);
    FilterColorBalance(o, px, 0, 0, 1, 0, 2, 1, 2, 1, 0x000000);
    EXPECT_EQ(o[4], 0);
    // Saturation likewise, also filtered in place as the colour copy does after a balance.
    for (int nSimd : {int(PIXEL_SIMD_NONE), int(PIXEL_SIMD_SSE2)}) {
        g_nPixelOpsSimd = nSimd;
        for (int s : {0, 1, 64, 127, 128, 129, 200, 255, 256}) {
            FilterSaturation(out.data(), src.data(), 0, 0, w - 1, h - 1, w, h, w, h, s);
            want = src;
            RefSaturation(want.data(), want.size() / 4, s);
            ASSERT_EQ(out, want) << s << " simd " << nSimd;
            std::vector<uint8_t> inPlace = src;
            FilterSaturation(inPlace.data(), inPlace.data(), 0, 0, w - 1, h - 1, w, h, w, h, s);
            ASSERT_EQ(inPlace, want) << s << " simd " << nSimd;
        }
    }
    g_nPixelOpsSimd = nSavedSimd;
    // 0 gives grey.
    uint8_t c[4] = {10, 100, 250, 7};
    FilterSaturation(o, c, 0, 0, 0, 0, 1, 1, 1, 1, 0);
    EXPECT_EQ(o[0], 120);
    EXPECT_EQ(o[1], 120);
    EXPECT_EQ(o[2], 120);
    EXPECT_EQ(o[3], 7);
}

TEST(ColorFilterTest, RectangleLandsAtTheDestinationOriginAndStaysInside)
{
    // A 2 x 2 window of a 4 x 3 source at (1, 1) into a 2 x 2 destination; a rectangle running off the
    // source is cut.
    std::vector<uint8_t> src(4 * 3 * 4);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t> dst(2 * 2 * 4 + 4, 0xEE);
    FilterColorBalance(dst.data(), src.data(), 1, 1, 2, 2, 4, 3, 2, 2, 0x808080);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(dst[(y * 2 + x) * 4 + k], src[((y + 1) * 4 + x + 1) * 4 + k]);
    EXPECT_EQ(dst[16], 0xEE);
    std::fill(dst.begin(), dst.end(), 0xEE);
    FilterSaturation(dst.data(), src.data(), 3, 2, 9, 9, 4, 3, 2, 2, 128);
    EXPECT_EQ(dst[0], src[(2 * 4 + 3) * 4]);
    EXPECT_EQ(dst[4], 0xEE);
    EXPECT_EQ(dst[8], 0xEE);
}

// ---- Scenes against the reference ----

TEST_F(CompositorTest, EveryBlendModeAtEveryOpacityWithAndWithoutAlpha)
{
    Window(40, 24);
    Plain("W0/bg", 40, 24, 0, 0, 1, 255);
    std::vector<TREE_NODE*> vModes;
    for (int m = 0; m < BLEND_MODE_COUNT; ++m) {
        char szPath[32];
        std::snprintf(szPath, sizeof szPath, "W0/m%d", m);
        TREE_NODE* p = Plain(szPath, 11, 7, (m * 7) % 34 - 3, (m * 5) % 20 - 2, 10 + m);
        L(p)->bBlendMode = static_cast<uint8_t>(m);
        vModes.push_back(p);
    }
    ASSERT_EQ(Frame(), 0);
    ASSERT_TRUE(SameAsReference());
    for (int nOpacity : {256, 255, 200, 129, 128, 77, 1}) {
        for (int bAlpha = 0; bAlpha < 2; ++bAlpha) {
            for (TREE_NODE* p : vModes) {
                L(p)->nOpacity = static_cast<int16_t>(nOpacity);
                L(p)->bHasAlpha = static_cast<uint8_t>(bAlpha);
            }
            MarkAllDirty();
            ASSERT_EQ(Frame(), 0);
            ASSERT_TRUE(SameAsReference()) << "opacity " << nOpacity << " alpha " << bAlpha;
        }
    }
}

TEST_F(CompositorTest, NestedAndZeroSizeGroupsDrawStraightIntoTheWindow)
{
    Window(48, 32);
    Plain("W0/bg", 48, 32, 0, 0, 1, 255);
    Group("W0/g", 30, 20, 6, 5, 10);
    Plain("W0/g/a", 12, 9, -3, -2, 1);
    Group("W0/g/h", 14, 10, 9, 7, 2);        // a sized group inside a sized group, not at (0, 0)
    Plain("W0/g/h/b", 9, 9, 4, 3, 1);
    Plain("W0/g/h/c", 20, 4, -2, 8, 2);        // runs past both groups
    Group("W0/z", 0, 0, 20, 14, 20);          // zero size: children at its offset, window clip only
    Plain("W0/z/d", 10, 8, 3, 2, 1);
    Plain("W0/z/e", 8, 30, 22, -10, 2);
    TREE_NODE* pTop = Plain("W0/top", 6, 6, 1, 1, 30);
    ASSERT_EQ(Frame(), 0);
    ASSERT_TRUE(SameAsReference());

    // Opaque copies give the same pixels wherever a row starts or ends, so with them a partial
    // redraw must equal a full redraw of the new scene: a sprite moving over the nested groups leaves
    // no hole behind.
    for (const char* psz : {"W0/g/a", "W0/g/h/b", "W0/g/h/c", "W0/z/d", "W0/z/e", "W0/top"}) {
        LAYER* p = L(FindNodeByPath(g_pLayerRoot, psz, KX_FIND_LEAF));
        ASSERT_NE(p, nullptr) << psz;
        p->bHasAlpha = 0;
    }
    MarkAllDirty();
    ASSERT_EQ(Frame(), 0);
    for (int nStep = 0; nStep < 6; ++nStep) {
        MarkLayerDirty(pTop);
        L(pTop)->llX += 7;
        L(pTop)->llY += 4;
        MarkLayerDirty(pTop);
        ASSERT_EQ(Frame(false), 0);
        RefCompose(ref.data(), pW0, BOX{0, 0, 47, 31});
        ASSERT_TRUE(SameAsReference()) << "step " << nStep;
    }
    // A change deep inside reaches the window through the groups' boxes.
    TREE_NODE* pB = FindNodeByPath(g_pLayerRoot, "W0/g/h/b", KX_FIND_LEAF);
    ASSERT_NE(pB, nullptr);
    L(pB)->pOwnedPixels[0] ^= 0xFF;
    MarkLayerDirty(pB);
    const BOX box = DirtyBox();
    EXPECT_LT(box.r - box.l, 47);   // only part of the window is redrawn
    ASSERT_EQ(Frame(false), 0);
    RefCompose(ref.data(), pW0, BOX{0, 0, 47, 31});
    ASSERT_TRUE(SameAsReference());
}

TEST_F(CompositorTest, PartialDirtyBoxesRedrawOnlyTheBoxAtEveryWorkerCount)
{
    std::vector<uint8_t> first;
    // Workers 1..4 with every blend posted, then every blend on the poster's thread.
    for (int nRun = 1; nRun <= 5; ++nRun) {
        const int nWorkers = std::min(nRun, 4);
        SCOPED_TRACE(nRun);
        g_nInlineBlendPixels = nRun == 5 ? INT64_MAX : 0;
        SetWorkerCountForTest(nWorkers);
        StartWorkerThreads();
        s_nSeed = 777;
        Window(64, 40);
        Plain("W0/bg", 64, 40, 0, 0, 1, 255);
        TREE_NODE* pA = Plain("W0/a", 25, 30, 5, 3, 2);
        TREE_NODE* pB = Plain("W0/b", 30, 12, 21, 20, 3);
        L(pB)->bBlendMode = BLEND_SCREEN;
        L(pB)->nOpacity = 170;
        TREE_NODE* pC = Plain("W0/c", 9, 9, 40, 5, 4);
        L(pC)->bBlendMode = BLEND_OVERLAY;
        ASSERT_EQ(Frame(), 0);
        ASSERT_TRUE(SameAsReference());
        for (int nStep = 0; nStep < 5; ++nStep) {
            MarkLayerDirty(pA);
            L(pA)->llX += 3;   // odd starts: rows begin off the 8-byte blocks
            L(pA)->llY -= 1;
            MarkLayerDirty(pA);
            L(pC)->pOwnedPixels[(nStep * 13) % (9 * 9 * 4)] ^= 0x3C;
            MarkLayerDirty(pC);
            ASSERT_EQ(Frame(), 0);
            ASSERT_TRUE(SameAsReference()) << "step " << nStep;
        }
        if (nRun == 1)
            first = Picture();
        else
            EXPECT_EQ(Picture(), first);
        while (g_pLayerRoot->pFirstChild) FreeNodeSubtree(g_pLayerRoot->pFirstChild);
        StopWorkerThreads();
    }
}

TEST_F(CompositorTest, MasksThresholdsAndVagueness)
{
    Window(32, 20);
    Plain("W0/bg", 32, 20, 0, 0, 1, 255);
    TREE_NODE* pMask = Plain("W0/mask", 16, 12, 0, 0, 2);
    L(pMask)->bVisible = 0;
    TREE_NODE* pQ = Plain("W0/q", 16, 12, 5, 3, 3);
    std::strcpy(L(pQ)->pszMaskPath, "W0/mask");
    TREE_NODE* pR = Plain("W0/r", 16, 12, 12, 7, 4);
    L(pR)->bBlendMode = BLEND_MULTIPLY;
    std::strcpy(L(pR)->pszMaskPath, "W0/mask");
    struct CASE {
        int o, t, v, bAlpha;
    } cases[] = {{256, 128, 256, 0}, {256, 128, 256, 1}, {200, 90, 64, 0}, {200, 90, 64, 1},
                 {256, 200, 0, 1},   {130, 255, 16, 0},  {256, 256, 100, 1}, {256, 0, 64, 1}};
    for (const CASE& c : cases) {
        for (TREE_NODE* p : {pQ, pR}) {
            L(p)->nOpacity = static_cast<int16_t>(c.o);
            L(p)->nMaskThreshold = static_cast<int16_t>(c.t);
            L(p)->nMaskVagueness = static_cast<int16_t>(c.v);
            L(p)->bHasAlpha = static_cast<uint8_t>(c.bAlpha);
        }
        MarkAllDirty();
        ASSERT_EQ(Frame(), 0);
        ASSERT_TRUE(SameAsReference()) << "o " << c.o << " t " << c.t << " v " << c.v << " alpha " << c.bAlpha;
    }
    // A mask path naming no node: drawn unmasked.
    std::strcpy(L(pQ)->pszMaskPath, "W0/nothing");
    L(pQ)->nMaskThreshold = 100;
    MarkAllDirty();
    ASSERT_EQ(Frame(), 0);
    std::strcpy(L(pQ)->pszMaskPath, "");
    RefCompose(ref.data(), pW0, BOX{0, 0, 31, 19});
    ASSERT_TRUE(SameAsReference());
    EXPECT_TRUE(errors.reports.empty());

    // A mask of another size stops the engine with 100310.
    std::strcpy(L(pQ)->pszMaskPath, "W0/bg");
    MarkAllDirty();
    EXPECT_EQ(Frame(false), -1);
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, 100310);
    EXPECT_EQ(errors.reports[0].bFatal, 1);
    EXPECT_TRUE(g_bEngineStop.load());
}

// A mask left on a layer after it stopped mattering (threshold 256, as a finished rule transition
// leaves it) may be any size: only a mask in use has to match the layer. Below 256 a mask of
// another size still stops the engine.
TEST_F(CompositorTest, MaskOfAnotherSizeMattersOnlyBelowThreshold256)
{
    struct CASE {
        int nThreshold;
        int bAlpha;
        int nResult;   // of the frame
        int nError;    // the id reported, 0 for none
    } cases[] = {{256, 0, 0, 0}, {256, 1, 0, 0}, {255, 0, -1, 100310}, {1, 1, -1, 100310}};
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << "threshold " << c.nThreshold << " alpha " << c.bAlpha);
        Window(32, 20);
        Plain("W0/bg", 32, 20, 0, 0, 1, 255);
        TREE_NODE* pMask = Plain("W0/mask", 20, 10, 0, 0, 2);
        L(pMask)->bVisible = 0;
        TREE_NODE* pQ = Plain("W0/q", 16, 12, 5, 3, 3, c.bAlpha ? -1 : 255);
        std::strcpy(L(pQ)->pszMaskPath, "W0/mask");
        L(pQ)->nMaskThreshold = static_cast<int16_t>(c.nThreshold);
        errors.reports.clear();
        g_bEngineStop = false;
        MarkAllDirty();
        ASSERT_EQ(Frame(), c.nResult);
        if (c.nError == 0) {
            EXPECT_TRUE(errors.reports.empty());
            EXPECT_TRUE(SameAsReference());
            EXPECT_FALSE(g_bEngineStop.load());
        } else {
            ASSERT_EQ(errors.reports.size(), 1u);
            EXPECT_EQ(errors.reports[0].nId, c.nError);
            EXPECT_TRUE(g_bEngineStop.load());
        }
        while (g_pLayerRoot->pFirstChild) FreeNodeSubtree(g_pLayerRoot->pFirstChild);
    }
    g_bEngineStop = false;
}

// Mask paths in every form within one frame: relative to the current layer path and absolute
// texts for one node, a text used twice, a path naming a group, one naming nothing. Between frames
// the mask node is replaced and the current path changes: each frame looks its paths up afresh.
TEST_F(CompositorTest, MaskPathsInOneFrameAndAcrossFrames)
{
    Window(32, 20);
    Plain("W0/bg", 32, 20, 0, 0, 1, 255);
    TREE_NODE* pM1 = Plain("W0/m1", 16, 12, 0, 0, 2);
    L(pM1)->bVisible = 0;
    // The group's buffer is its picture as a mask; the hidden leaf holds the same bytes for the
    // reference, which finds leaves only.
    TREE_NODE* pGroupMask = Group("W0/gm", 16, 12, 0, 0, 3);
    TREE_NODE* pGroupCopy = Plain("W0/gmleaf", 16, 12, 0, 0, 4);
    L(pGroupCopy)->bVisible = 0;
    std::memcpy(L(pGroupMask)->pDisplayPixels, L(pGroupCopy)->pOwnedPixels, 16 * 12 * 4);
    struct CASE {
        const char* pszPath;   // as the script gave it
        const char* pszRef;    // the leaf the reference uses
        const char* pszRefAfter;   // the same after the current path is cleared
    } cases[] = {{"m1", "W0/m1", "W0/none"},
                 {":W0/m1", "W0/m1", "W0/m1"},
                 {"m1", "W0/m1", "W0/none"},
                 {"gm/", "W0/gmleaf", "W0/none"},
                 {"none", "W0/none", "W0/none"}};
    std::vector<TREE_NODE*> vMasked;
    while (vMasked.size() < std::size(cases)) {
        char szPath[16];
        std::snprintf(szPath, sizeof szPath, "W0/q%zu", vMasked.size());
        TREE_NODE* p = Plain(szPath, 16, 12, 3 + 3 * int64_t(vMasked.size()), 1 + 2 * int64_t(vMasked.size()),
                             10 + int64_t(vMasked.size()));
        L(p)->nMaskThreshold = 150;
        L(p)->nMaskVagueness = 64;
        vMasked.push_back(p);
    }
    std::strcpy(s_szLayerPath, "W0");
    const auto frame = [&](bool bAfter) {
        MarkAllDirty();
        for (size_t i = 0; i < vMasked.size(); ++i)
            std::strcpy(L(vMasked[i])->pszMaskPath, bAfter ? cases[i].pszRefAfter : cases[i].pszRef);
        RefCompose(ref.data(), pW0, BOX{0, 0, 31, 19});
        for (size_t i = 0; i < vMasked.size(); ++i) std::strcpy(L(vMasked[i])->pszMaskPath, cases[i].pszPath);
        return Frame(false);
    };
    ASSERT_EQ(frame(false), 0);
    ASSERT_TRUE(SameAsReference());
    // A new node of the same name with other pixels, and relative paths now resolved from the root.
    FreeNode(pM1);
    pM1 = Plain("W0/m1", 16, 12, 0, 0, 2);
    L(pM1)->bVisible = 0;
    s_szLayerPath[0] = 0;
    ASSERT_EQ(frame(true), 0);
    ASSERT_TRUE(SameAsReference());
    EXPECT_TRUE(errors.reports.empty());

    // A path that cannot be resolved is reported at every use: here in two groups of one frame.
    Group("W0/g1", 16, 12, 0, 0, 30);
    Group("W0/g2", 16, 12, 8, 4, 31);
    for (const char* psz : {"W0/g1/bad", "W0/g2/bad"})
        std::strcpy(L(Plain(psz, 4, 4, 0, 0, 1))->pszMaskPath, "x/a b");
    MarkAllDirty();
    EXPECT_EQ(Frame(false), -1);
    ASSERT_EQ(errors.reports.size(), 2u);
    EXPECT_EQ(errors.reports[0].nId, 100242);
    EXPECT_EQ(errors.reports[1].nId, 100242);
}

// A blend whose worker job fails fails the composition: at the top, inside a group (whose later
// siblings are still drawn), and when a group is flattened.
TEST_F(CompositorTest, FailedBlendJobFailsTheFrame)
{
    Window(24, 16);
    Plain("W0/bg", 24, 16, 0, 0, 1);                              // alpha: JOB_BLEND_ALPHA
    TREE_NODE* pGroup = Group("W0/g", 12, 10, 2, 2, 2);
    TREE_NODE* pFailing = Plain("W0/g/a", 6, 6, 1, 1, 1, 255);   // no alpha: JOB_BLEND
    TREE_NODE* pAfter = Plain("W0/after", 8, 8, 10, 6, 3);
    ASSERT_EQ(Frame(), 0);
    SetWorkerJobHandler(JOB_BLEND, [](WORKER_JOB*) { return -1; });

    // The failing blend writes nothing; everything else is drawn.
    L(pFailing)->bVisible = 0;
    RefCompose(ref.data(), pW0, BOX{0, 0, 23, 15});
    L(pFailing)->bVisible = 1;
    MarkAllDirty();
    EXPECT_EQ(Frame(false), -1);
    EXPECT_TRUE(SameAsReference());

    MarkLayerDirty(pFailing);
    EXPECT_EQ(ComposeGroupLayer(pGroup), -1);
    // A child of the window's layer set itself.
    L(pFailing)->bVisible = 0;
    L(pAfter)->bHasAlpha = 0;
    MarkAllDirty();
    EXPECT_EQ(Frame(false), -1);
    InstallCompositor();
    MarkAllDirty();
    EXPECT_EQ(Frame(false), 0);
}

// Colour balance, then saturation, drawn from a colour cache that is kept from frame to frame while
// the layer's pixels and filter values stay: pixels written without a mark keep showing the old
// picture. A writer's mark, a dirty mark of the layer or a new filter value makes it again and the
// picture follows; both filters neutral, the layer shows its own pixels.
TEST_F(CompositorTest, ColorFiltersFollowPixelsAndValuesAcrossFrames)
{
    Window(24, 16);
    Plain("W0/bg", 24, 16, 0, 0, 1, 255);
    TREE_NODE* p = Plain("W0/p", 15, 11, 4, 3, 2);
    L(p)->nColorBalance = 0x40C0FF;
    L(p)->nSaturation = 200;
    ASSERT_EQ(Frame(), 0);
    ASSERT_TRUE(SameAsReference());
    EXPECT_EQ(L(p)->pDisplayPixels, L(p)->pColorCache);
    uint8_t* pCache = L(p)->pColorCache;
    const std::vector<uint8_t> before = Picture();
    const auto Repaint = [&] {
        for (int64_t i = 0; i < int64_t(15) * 11 * 4; ++i) L(p)->pOwnedPixels[i] = static_cast<uint8_t>(NextRandom());
    };
    Repaint();
    MarkAllDirty();
    ASSERT_EQ(Frame(false), 0);
    EXPECT_EQ(Picture(), before) << "the cache made in the first frame is drawn";
    EXPECT_EQ(L(p)->pColorCache, pCache);

    struct CASE {
        const char* pszWhat;
        bool bRepaint;
        void (*pfnSignal)(TREE_NODE*);
    } cases[] = {
        {"writer's mark", true, [](TREE_NODE* q) { MarkPixelsChanged(GetNodeLayer(q)); }},
        {"dirty mark", true, [](TREE_NODE* q) { MarkLayerDirty(q); }},
        {"saturation 0", false, [](TREE_NODE* q) { GetNodeLayer(q)->nSaturation = 0; }},
        {"balance", false, [](TREE_NODE* q) { GetNodeLayer(q)->nColorBalance = 0x10F080; }},
        {"balance neutral, saturation 100", false,
         [](TREE_NODE* q) {
             GetNodeLayer(q)->nColorBalance = 0x808080;
             GetNodeLayer(q)->nSaturation = 100;
         }},
        {"both neutral", false, [](TREE_NODE* q) { GetNodeLayer(q)->nSaturation = 128; }},
        // The kept buffer is filled from the pixels of now.
        {"filtered again after a repaint", true,
         [](TREE_NODE* q) {
             MarkPixelsChanged(GetNodeLayer(q));
             GetNodeLayer(q)->nSaturation = 60;
         }},
    };
    for (const CASE& c : cases) {
        if (c.bRepaint) Repaint();
        c.pfnSignal(p);
        MarkAllDirty();
        ASSERT_EQ(Frame(), 0);
        EXPECT_TRUE(SameAsReference()) << c.pszWhat;
        EXPECT_EQ(L(p)->pDisplayPixels, L(p)->nSaturation == 128 ? L(p)->pOwnedPixels : L(p)->pColorCache) << c.pszWhat;
    }
}

// The colour copies of tall layers split their rows over the running workers (shares that are not
// whole bands, and a share per worker larger than a band), or run on the poster when small.
TEST_F(CompositorTest, ColorCopySameAtEveryWorkerCount)
{
    for (int nRun = 1; nRun <= 5; ++nRun) {
        SCOPED_TRACE(nRun);
        g_nInlineBlendPixels = nRun == 5 ? INT64_MAX : 0;
        SetWorkerCountForTest(std::min(nRun, 4));
        StartWorkerThreads();
        s_nSeed = 4242;
        Window(40, 90);
        Plain("W0/bg", 40, 90, 0, 0, 1, 255);
        TREE_NODE* pBoth = Plain("W0/both", 13, 83, 2, 3, 2);
        L(pBoth)->nColorBalance = 0x30A0E0;
        L(pBoth)->nSaturation = 40;
        TREE_NODE* pSat = Plain("W0/sat", 17, 71, 20, 10, 3);
        L(pSat)->nSaturation = 230;
        TREE_NODE* pBal = Plain("W0/bal", 9, 37, 28, 50, 4);
        L(pBal)->nColorBalance = 0xFF2080;
        ASSERT_EQ(Frame(), 0);
        ASSERT_TRUE(SameAsReference());
        while (g_pLayerRoot->pFirstChild) FreeNodeSubtree(g_pLayerRoot->pFirstChild);
        StopWorkerThreads();
    }
}

// The colour copy at every instruction set: odd widths around the vector widths (the last
// columns take the plain routines), bands of rows, each filter alone and both together, lowered and
// raised saturation, against the plain reference.
TEST_F(CompositorTest, ColorCopyOverOddWidthsAndEveryInstructionSet)
{
    struct FILTER {
        uint32_t dwBalance;
        int nSaturation;
    } filters[] = {{0x40C0FF, 128}, {0x808080, 40}, {0x808080, 230}, {0x30A0E0, 0},
                   {0xFF2080, 200}, {0x10F080, 127}, {0x7F8081, 129}};
    const int32_t anWidth[] = {1, 3, 7, 8, 9, 15, 16, 17, 31, 33};
    const int nSavedSimd = g_nPixelOpsSimd;
    for (int nSimd : {int(PIXEL_SIMD_NONE), int(PIXEL_SIMD_SSE2), int(PIXEL_SIMD_AVX2)}) {
        if (nSimd > DetectPixelOpsSimd()) continue;
        SCOPED_TRACE(nSimd);
        FillPixelOps(&g_PixelOps, 3, nSimd);
        g_nPixelOpsSimd = nSimd;
        Window(80, 60);
        Plain("W0/bg", 80, 60, 0, 0, 1, 255);
        std::vector<TREE_NODE*> vLayers;
        for (size_t i = 0; i < std::size(anWidth); ++i) {
            char szPath[32];   // room for any size_t
            std::snprintf(szPath, sizeof szPath, "W0/f%zu", i);
            vLayers.push_back(Plain(szPath, anWidth[i], 5 + int32_t(i) * 3, int64_t(i) * 7 - 2, int64_t(i % 3) * 9 - 1,
                                    int64_t(i) + 2, i % 2 ? -1 : 255));
        }
        for (size_t nRound = 0; nRound < std::size(filters); ++nRound) {
            for (size_t i = 0; i < vLayers.size(); ++i) {
                const FILTER& f = filters[(i + nRound) % std::size(filters)];
                L(vLayers[i])->nColorBalance = static_cast<int32_t>(f.dwBalance);
                L(vLayers[i])->nSaturation = f.nSaturation;
            }
            MarkAllDirty();
            ASSERT_EQ(Frame(), 0);
            ASSERT_TRUE(SameAsReference()) << "round " << nRound;
        }
        while (g_pLayerRoot->pFirstChild) FreeNodeSubtree(g_pLayerRoot->pFirstChild);
    }
    g_nPixelOpsSimd = nSavedSimd;
}

TEST_F(CompositorTest, OpaqueCoverHidesEverythingBelowAndSkippedChildren)
{
    Window(20, 12);
    TREE_NODE* pBad = Plain("W0/bad", 8, 8, 0, 0, 1);
    std::strcpy(L(pBad)->pszMaskPath, "W0/cover");   // drawing it would report a mask size error
    L(pBad)->nMaskThreshold = 100;
    Plain("W0/cover", 20, 12, 0, 0, 2, 255);
    TREE_NODE* pZero = Plain("W0/zero", 5, 5, 2, 2, 3);
    L(pZero)->nOpacity = 0;
    TREE_NODE* pMasked = Plain("W0/masked", 5, 5, 9, 2, 4);
    std::strcpy(L(pMasked)->pszMaskPath, "W0/cover");
    L(pMasked)->nMaskThreshold = 0;
    Plain("W0/over", 6, 4, 13, 7, 5);
    // Garbage in the picture: nothing may survive, though the box is not cleared.
    std::memset(L(pW0)->pDisplayPixels, 0x77, 20 * 12 * 4);
    ASSERT_EQ(Frame(), 0);
    EXPECT_TRUE(errors.reports.empty());
    ASSERT_TRUE(SameAsReference());
}

TEST_F(CompositorTest, GroupFlattenedIntoItsOwnBufferIsDrawnWithoutAlpha)
{
    Window(20, 12);
    Plain("W0/bg", 20, 12, 0, 0, 1, 255);
    TREE_NODE* pG = Group("W0/g", 10, 8, 3, 2, 2);
    Plain("W0/g/a", 6, 6, 1, 1, 1);
    Plain("W0/g/b", 6, 6, 5, 3, 2);
    ASSERT_EQ(ComposeGroupLayer(pG), 0);
    EXPECT_EQ(L(pG)->bHasAlpha, 0);
    std::vector<uint8_t> want(10 * 8 * 4, 0);
    RefDraw(want.data(), 10, pG, 0, 0, BOX{0, 0, 9, 7}, BOX{0, 0, 9, 7});
    EXPECT_EQ(std::vector<uint8_t>(L(pG)->pDisplayPixels, L(pG)->pDisplayPixels + want.size()), want);
}

// A tinted group inside a group that is flattened into its own buffer again (an image effect on
// the outer group, a resize) shows its children as they are now: they are drawn into the inner
// group's own pixels and its colour copy is made from those. The second flattening must give what
// flattening the changed scene once gives.
TEST_F(CompositorTest, TintedGroupInsideAGroupFlattenedTwiceShowsItsNewChildren)
{
    struct CASE {
        const char* pszName;
        int32_t nBalance;
        int32_t nSaturation;
        int nChange;   // 0 new pixels, 1 the child hidden, 2 nothing changed inside
    } cases[] = {
        {"balance, new pixels", 0x40C0FF, 128, 0},   {"saturation, new pixels", 0x808080, 30, 0},
        {"both, new pixels", 0x30A0E0, 220, 0},      {"balance, child hidden", 0xFF2080, 128, 1},
        {"both, nothing changed", 0x10F080, 60, 2},
    };
    Window(24, 16);
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.pszName);
        // Twice the same scene: "o" flattened before and after the change, "f" only after it.
        TREE_NODE* apOuter[2];
        TREE_NODE* apLeaf[2];
        const char* apszName[2] = {"W0/o", "W0/f"};
        for (int i = 0; i < 2; ++i) {
            char szPath[32];
            apOuter[i] = Group(apszName[i], 16, 12, 2, 1, 2 + i);
            std::snprintf(szPath, sizeof szPath, "%s/in", apszName[i]);
            TREE_NODE* pInner = Group(szPath, 10, 8, 3, 2, 2);
            L(pInner)->nColorBalance = c.nBalance;
            L(pInner)->nSaturation = c.nSaturation;
            std::snprintf(szPath, sizeof szPath, "%s/back", apszName[i]);
            Plain(szPath, 16, 12, 0, 0, 1, 255);
            std::snprintf(szPath, sizeof szPath, "%s/in/a", apszName[i]);
            apLeaf[i] = Plain(szPath, 7, 6, 1, 1, 1);
        }
        const size_t nLeafBytes = 7 * 6 * 4;
        std::memcpy(L(apLeaf[1])->pOwnedPixels, L(apLeaf[0])->pOwnedPixels, nLeafBytes);
        std::memcpy(L(FindNodeByPath(g_pLayerRoot, "W0/f/back", KX_FIND_LEAF))->pOwnedPixels,
                    L(FindNodeByPath(g_pLayerRoot, "W0/o/back", KX_FIND_LEAF))->pOwnedPixels, 16 * 12 * 4);
        ASSERT_EQ(ComposeGroupLayer(apOuter[0]), 0);
        for (int i = 0; i < 2; ++i) {
            LAYER* pLeaf = L(apLeaf[i]);
            if (c.nChange == 0)
                for (size_t b = 0; b < nLeafBytes; ++b) pLeaf->pOwnedPixels[b] = static_cast<uint8_t>(b * 7 + 13);
            if (c.nChange == 1) pLeaf->bVisible = 0;
            if (c.nChange != 2) MarkLayerDirty(apLeaf[i]);
            MarkLayerDirty(apOuter[i]);
        }
        ASSERT_EQ(ComposeGroupLayer(apOuter[0]), 0);
        ASSERT_EQ(ComposeGroupLayer(apOuter[1]), 0);
        const size_t nBytes = 16 * 12 * 4;
        EXPECT_EQ(std::vector<uint8_t>(L(apOuter[0])->pDisplayPixels, L(apOuter[0])->pDisplayPixels + nBytes),
                  std::vector<uint8_t>(L(apOuter[1])->pDisplayPixels, L(apOuter[1])->pDisplayPixels + nBytes));
        EXPECT_TRUE(errors.reports.empty());
        FreeNodeSubtree(apOuter[0]);
        FreeNodeSubtree(apOuter[1]);
    }
}

// ---- The checksum oracle ----

// A random scene from a fixed seed: a background, plain layers of every blend mode at assorted
// opacities with and without alpha, colour filters, masks (hidden leaves outside the window's tree)
// with assorted thresholds and vagueness, sized and zero-size groups, layers running past every
// edge; then frames that move, change and partly redraw it, and a group flattened on its own.
// Every frame's picture goes into one FNV-1a checksum.
class CompositorOracle {
public:
    explicit CompositorOracle(CompositorTest* pTest) : m_pTest(pTest) {}

    uint64_t Run()
    {
        m_nRandom = 20261211;
        s_nSeed = 97;
        TREE_NODE* pWindow = m_pTest->Window(kWidth, kHeight);
        m_pTest->Plain("W0/bg", kWidth, kHeight, -2, -1, 1, 255);
        int nMask = 0;
        for (int i = 0; i < 16; ++i) {
            char szPath[48];
            const uint32_t nKind = Next(8);
            if (nKind == 0) {
                // A sized group with children that run past it.
                std::snprintf(szPath, sizeof szPath, "W0/g%d", i);
                // Drawn last argument first, one per statement (see AddLayer).
                const int64_t y = int64_t(Next(50)) - 8, x = int64_t(Next(80)) - 10;
                const int32_t h = 6 + int32_t(Next(30)), w = 8 + int32_t(Next(40));
                TREE_NODE* pGroup = m_pTest->Group(szPath, w, h, x, y, 10 + i);
                m_vGroups.push_back(pGroup);
                for (int c = 0; c < 3; ++c) {
                    char szChild[64];
                    std::snprintf(szChild, sizeof szChild, "%s/c%d", szPath, c);
                    AddLayer(szChild, c + 1, &nMask);
                }
            } else if (nKind == 1) {
                // A zero-size group: its children are drawn at its offset, clipped by the window only.
                std::snprintf(szPath, sizeof szPath, "W0/z%d", i);
                const int64_t y = int64_t(Next(40)) - 5, x = int64_t(Next(60)) - 5;
                m_pTest->Group(szPath, 0, 0, x, y, 10 + i);
                for (int c = 0; c < 2; ++c) {
                    char szChild[64];
                    std::snprintf(szChild, sizeof szChild, "%s/c%d", szPath, c);
                    AddLayer(szChild, c + 1, &nMask);
                }
            } else {
                std::snprintf(szPath, sizeof szPath, "W0/p%d", i);
                AddLayer(szPath, 10 + i, &nMask);
            }
        }
        uint64_t nHash = 1469598103934665603ull;
        if (m_pTest->Frame(false) != 0) return 0;
        nHash = Hash(nHash, pWindow);
        for (int nStep = 0; nStep < 8; ++nStep) {
            TREE_NODE* pNode = m_vLayers[Next(uint32_t(m_vLayers.size()))];
            LAYER* p = GetNodeLayer(pNode);
            switch (nStep % 4) {
            case 0:   // a move: the old and the new place are redrawn
                MarkLayerDirty(pNode);
                p->llX += int64_t(Next(15)) - 7;
                p->llY += int64_t(Next(11)) - 5;
                MarkLayerDirty(pNode);
                break;
            case 1:   // new pixels and a new opacity
                p->pOwnedPixels[Next(uint32_t(p->nWidth) * uint32_t(p->nHeight) * 4)] ^= 0x5A;
                p->nOpacity = static_cast<int16_t>(kOpacities[Next(std::size(kOpacities))]);
                MarkLayerDirty(pNode);
                break;
            case 2: {   // a box of the window redrawn
                const int64_t l = Next(kWidth), t = Next(kHeight);
                DIRTY_BOX b{l, t, l + Next(kWidth), t + Next(kHeight)};
                MergeDirtyRect(pWindow, &b);
                break;
            }
            default:   // new colour filters and mask settings, the whole window redrawn
                p->nSaturation = int32_t(Next(257));
                p->nColorBalance = int32_t(Next(0x1000000));
                p->nMaskThreshold = static_cast<int16_t>(kThresholds[Next(std::size(kThresholds))]);
                DIRTY_BOX b{0, 0, kWidth - 1, kHeight - 1};
                MergeDirtyRect(pWindow, &b);
                break;
            }
            if (m_pTest->Frame(false) != 0) return 0;
            nHash = Hash(nHash, pWindow);
        }
        for (TREE_NODE* pGroup : m_vGroups) {
            MarkLayerDirty(pGroup);
            if (ComposeGroupLayer(pGroup) != 0) return 0;
            nHash = Hash(nHash, pGroup);
        }
        return nHash;
    }

private:
    static constexpr int32_t kWidth = 83, kHeight = 57;
    static constexpr int kOpacities[] = {256, 256, 255, 200, 129, 128, 77, 1, 0};
    static constexpr int kThresholds[] = {256, 255, 200, 128, 90, 1, 0};
    static constexpr int kVagueness[] = {256, 100, 64, 16, 0};

    uint32_t Next(uint32_t nBound)
    {
        m_nRandom = m_nRandom * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t((m_nRandom >> 33) % nBound);
    }

    static uint64_t Hash(uint64_t h, const TREE_NODE* pNode)
    {
        const LAYER* p = GetNodeLayer(pNode);
        const size_t n = size_t(p->nWidth) * p->nHeight * 4;
        for (size_t i = 0; i < n; ++i) h = (h ^ p->pDisplayPixels[i]) * 1099511628211ull;
        return h;
    }

    void AddLayer(const char* pszPath, int64_t llOrder, int* pnMask)
    {
        const int32_t w = 1 + int32_t(Next(45)), h = 1 + int32_t(Next(33));
        const bool bOpaque = Next(3) == 0;
        // One draw per statement, last argument first as the recorded scenes were drawn: the
        // order in which a call's arguments are evaluated is the compiler's choice, and the scene
        // must be the same whichever compiler built the test.
        const int64_t y = int64_t(Next(kHeight + 16)) - 9;
        const int64_t x = int64_t(Next(kWidth + 20)) - 12;
        TREE_NODE* pNode = m_pTest->Plain(pszPath, w, h, x, y, llOrder, bOpaque ? 255 : -1);
        LAYER* p = GetNodeLayer(pNode);
        p->bBlendMode = static_cast<uint8_t>(Next(BLEND_MODE_COUNT));
        p->nOpacity = static_cast<int16_t>(kOpacities[Next(std::size(kOpacities))]);
        if (Next(4) == 0) p->bHasAlpha = static_cast<uint8_t>(1 - p->bHasAlpha);
        if (Next(4) == 0) p->bVisible = 0;
        if (Next(3) == 0) p->nColorBalance = int32_t(Next(0x1000000));
        if (Next(3) == 0) p->nSaturation = int32_t(Next(257));
        if (Next(3) == 0) {
            // The mask: a hidden leaf of the same size at the root, named by path.
            char szMask[32];
            std::snprintf(szMask, sizeof szMask, "mask%d", (*pnMask)++);
            m_pTest->Plain(szMask, w, h, 0, 0, 100 + *pnMask, -1);
            std::strcpy(p->pszMaskPath, szMask);
            p->nMaskThreshold = static_cast<int16_t>(kThresholds[Next(std::size(kThresholds))]);
            p->nMaskVagueness = static_cast<int16_t>(kVagueness[Next(std::size(kVagueness))]);
        }
        m_vLayers.push_back(pNode);
    }

    CompositorTest* m_pTest;
    uint64_t m_nRandom = 0;
    std::vector<TREE_NODE*> m_vLayers;
    std::vector<TREE_NODE*> m_vGroups;
};

// The checksums the scenes gave when they were recorded: one for the level-1 pixel routines, whose
// alpha blends round differently by design, one for levels 2 and 3 at every instruction set. Any
// change of a byte in any blend, mask, filter, clip or split of the rows changes them; faster forms
// of these routines must keep them.
constexpr uint64_t kOracleChecksumLevel1 = 13893481346735051126ull;
constexpr uint64_t kOracleChecksum = 7683208557580118979ull;

TEST_F(CompositorTest, SeededScenesEndOnTheRecordedChecksumAtEverySimdLevelAndWorkerCount)
{
    struct TIER {
        int nLevel, nSimd;
    };
    const TIER aTiers[] = {{1, PIXEL_SIMD_NONE}, {1, PIXEL_SIMD_AVX2}, {2, PIXEL_SIMD_SSE2},
                           {3, PIXEL_SIMD_NONE}, {3, PIXEL_SIMD_SSE2}, {3, PIXEL_SIMD_AVX2}};
    const int nSavedSimd = g_nPixelOpsSimd;
    for (const TIER& tier : aTiers) {
        if (tier.nSimd > DetectPixelOpsSimd()) continue;
        FillPixelOps(&g_PixelOps, tier.nLevel, tier.nSimd);
        g_nPixelOpsSimd = tier.nSimd;
        // Every blend and colour copy through the workers, then every one on the poster's thread.
        for (int nWorkers : {1, 2, 4, 8, 0}) {
            SCOPED_TRACE(testing::Message() << "level " << tier.nLevel << " simd " << tier.nSimd << " workers "
                                            << nWorkers);
            g_nInlineBlendPixels = nWorkers == 0 ? INT64_MAX : 0;
            SetWorkerCountForTest(std::max(nWorkers, 1));
            StartWorkerThreads();
            CompositorOracle oracle(this);
            const uint64_t nHash = oracle.Run();
            StopWorkerThreads();
            while (g_pLayerRoot->pFirstChild) FreeNodeSubtree(g_pLayerRoot->pFirstChild);
            EXPECT_EQ(nHash, tier.nLevel == 1 ? kOracleChecksumLevel1 : kOracleChecksum) << nHash;
        }
    }
    g_nPixelOpsSimd = nSavedSimd;
    EXPECT_TRUE(errors.reports.empty());
}

// ---- Render and present steps ----

class PresentTest : public CompositorTest {
protected:
    void SetUp() override
    {
        CompositorTest::SetUp();
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        hwnd = PlatCreateWindow("KxTest", "t", PLAT_WS_POPUP, 0, 0, 20, 12, 0, PlatDefWindowProc, nullptr);
        ASSERT_NE(hwnd, 0u);
        s_aWindow[0].hWnd = hwnd;
    }
    void TearDown() override
    {
        PlatShutdownWindowSystem();
        CompositorTest::TearDown();
    }
    int Paints()
    {
        int n = 0;
        PLAT_MSG m;
        while (PlatPeekMessage(&m, PLAT_PM_REMOVE))
            if (m.message == PLAT_WM_PAINT) {
                ++n;
                PlatDispatchMessage(&m);
            }
        return n;
    }
    PLAT_HWND hwnd = 0;
};

TEST_F(PresentTest, HiddenWindowIsBlankedEveryFrameAndUnchangedFramesDoNothing)
{
    Window(20, 12);
    TREE_NODE* p = Plain("W0/p", 20, 12, 0, 0, 1, 255);
    ASSERT_EQ(Frame(), 0);
    EXPECT_EQ(GetWindowPictureShown(0), 1);
    EXPECT_EQ(Paints(), 1);

    // Nothing changed: nothing composed (a silent pixel edit stays invisible) and no repaint.
    L(p)->pOwnedPixels[0] ^= 0xFF;
    const std::vector<uint8_t> before = Picture();
    ASSERT_EQ(Frame(false), 0);
    EXPECT_EQ(Picture(), before);
    EXPECT_EQ(Paints(), 0);
    EXPECT_EQ(GetWindowPictureShown(0), 1);

    // Hidden layer set: the client is painted black on every frame and no picture is shown.
    uint32_t* pPixels = nullptr;
    int w = 0, h = 0, nPitch = 0;
    ASSERT_EQ(PlatGetWindowFramebuffer(hwnd, &pPixels, &w, &h, &nPitch), 0);
    L(pW0)->bVisible = 0;
    for (int nFrame = 0; nFrame < 2; ++nFrame) {
        for (int y = 0; y < h; ++y) std::fill(pPixels + y * nPitch / 4, pPixels + y * nPitch / 4 + w, 0xFFFFFFFFu);
        const int nPresents = PlatFakeGetPresentCount(hwnd);
        ASSERT_EQ(Frame(false), 0);
        EXPECT_EQ(GetWindowPictureShown(0), 0);
        EXPECT_EQ(PlatFakeGetPresentCount(hwnd), nPresents + 1);
        EXPECT_EQ(pPixels[0], 0u);
        EXPECT_EQ(pPixels[(h - 1) * nPitch / 4 + std::min(w, 20) - 1], 0u);
    }
    // A window without a layer set, or hidden, also has nothing to show.
    L(pW0)->bVisible = 1;
    s_apSlot[0] = nullptr;
    EXPECT_EQ(RenderWindowCPU(0), 0);
    EXPECT_EQ(PresentWindowCPU(0), 0);
    EXPECT_EQ(GetWindowPictureShown(0), 0);
    // The engine stop flag is passed on.
    s_apSlot[0] = pW0;
    g_bEngineStop = 1;
    EXPECT_EQ(RenderWindowCPU(0), 1);
    EXPECT_EQ(PresentWindowCPU(0), 1);
}

// With the frames on their own thread the blanking of a window without a picture is handed to the
// window thread without waiting, and the next frame asks again before the first call ran: each call
// blanks what its own frame asked for, not what a later frame wrote over it.
TEST_F(PresentTest, EachBlankingHandedToTheWindowThreadKeepsItsOwnRequest)
{
    Window(20, 12);
    L(pW0)->bVisible = 0;
    uint32_t* pPixels = nullptr;
    int w = 0, h = 0, nPitch = 0;
    ASSERT_EQ(PlatGetWindowFramebuffer(hwnd, &pPixels, &w, &h, &nPitch), 0);
    ASSERT_GE(w, 20);
    ASSERT_GE(h, 12);
    for (int y = 0; y < h; ++y) std::fill(pPixels + y * nPitch / 4, pPixels + y * nPitch / 4 + w, 0xFFFFFFFFu);
    const int nPresents = PlatFakeGetPresentCount(hwnd);
    // Two frames on another thread; the window thread serves neither call until both are asked.
    std::thread frames([] {
        EXPECT_EQ(PresentWindowCPU(0), 0);
        s_aWindow[0].nWidth = 4;
        s_aWindow[0].nHeight = 2;
        EXPECT_EQ(PresentWindowCPU(0), 0);
    });
    frames.join();
    EXPECT_EQ(PlatFakeGetPresentCount(hwnd), nPresents);
    PlatPumpWindowThread();
    EXPECT_EQ(PlatFakeGetPresentCount(hwnd), nPresents + 2);
    // The first frame's request covered the whole 20 x 12 picture.
    EXPECT_EQ(pPixels[0], 0u);
    EXPECT_EQ(pPixels[11 * nPitch / 4 + 19], 0u);
}

// A paint of the window (an expose) leaves the picture marked changed with no dirty box: the frames
// after it neither compose nor ask for another paint, so a waiting game does not present every
// frame. A real change after it is composed and painted again, and an expose still paints.
TEST_F(PresentTest, PaintOfAnUnchangedPictureDoesNotAskForTheNext)
{
    Window(20, 12);
    TREE_NODE* p = Plain("W0/p", 20, 12, 0, 0, 1, 255);
    ASSERT_EQ(Frame(), 0);
    EXPECT_EQ(Paints(), 1);
    for (int nFrame = 0; nFrame < 3; ++nFrame) {
        // What the repaint of a paint leaves behind (the whole union box, the changed flag).
        LAYER* pSet = L(pW0);
        pSet->rcUnion = DIRTY_BOX{0, 0, pSet->nWidth - 1, pSet->nHeight - 1};
        pSet->bChanged = 1;
        L(p)->pOwnedPixels[0] ^= 0xFF;   // a silent edit: visible only if the frame composed
        const std::vector<uint8_t> before = Picture();
        ASSERT_EQ(Frame(false), 0);
        EXPECT_EQ(Picture(), before);
        EXPECT_EQ(Paints(), 0) << "frame " << nFrame;
        EXPECT_EQ(GetWindowPictureShown(0), 1);
    }
    MarkLayerDirty(p);
    ASSERT_EQ(Frame(), 0);
    EXPECT_TRUE(SameAsReference());
    EXPECT_EQ(Paints(), 1);
    PlatInvalidateWindow(hwnd, 0);
    EXPECT_EQ(Paints(), 1);
}

// A minimised window is neither composed nor painted, frame after frame; restored, it is painted
// and its next frame composes the whole picture with every change made meanwhile.
TEST_F(PresentTest, MinimisedWindowIsLeftAloneAndComposedWholeWhenRestored)
{
    Window(20, 12);
    TREE_NODE* pA = Plain("W0/a", 20, 12, 0, 0, 1, 255);
    TREE_NODE* pB = Plain("W0/b", 6, 4, 12, 6, 2, 255);
    ASSERT_EQ(Frame(), 0);
    EXPECT_EQ(Paints(), 1);

    PlatShowWindow(hwnd, PLAT_SW_MINIMIZE);
    ASSERT_EQ(PlatIsWindowOutOfSight(hwnd), 1);
    Paints();
    const std::vector<uint8_t> before = Picture();
    L(pA)->pOwnedPixels[0] ^= 0xFF;
    MarkLayerDirty(pA);
    ASSERT_EQ(Frame(false), 0);
    L(pB)->llX = 2;
    MarkLayerDirty(pB);
    ASSERT_EQ(Frame(false), 0);
    EXPECT_EQ(Picture(), before);
    EXPECT_EQ(Paints(), 0);

    PlatShowWindow(hwnd, PLAT_SW_RESTORE);
    EXPECT_EQ(PlatIsWindowOutOfSight(hwnd), 0);
    EXPECT_EQ(Paints(), 1);
    ASSERT_EQ(Frame(false), 0);
    RefCompose(ref.data(), pW0, BOX{0, 0, 19, 11});
    EXPECT_TRUE(SameAsReference());
    EXPECT_EQ(Paints(), 1);
}

} // namespace
