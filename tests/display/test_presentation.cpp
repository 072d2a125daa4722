#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/codecs.h"
#include "core/object_tree.h"
#include "display/presentation.h"
#include "image/layer.h"
#include "imageproc/scaling.h"
#include "tests/display/window_test_support.h"

namespace {

const uint32_t kMarker = 0x11223344u;

struct TEST_LAYER {
    LAYER layer{};
    TEST_LAYER(int w, int h)
    {
        layer.nWidth = w;
        layer.nHeight = h;
        layer.pOwnedPixels = layer.pDisplayPixels = AllocPixelBuffer(nullptr, w, h, "");
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* p = layer.pOwnedPixels + (size_t(y) * w + x) * 4;
                p[0] = uint8_t(x * 20 + 5);
                p[1] = uint8_t(y * 30 + 7);
                p[2] = uint8_t(x * 3 + y * 11);
                p[3] = 255;
            }
        Whole();
    }
    ~TEST_LAYER() { std::free(layer.pOwnedPixels); }
    void Whole() { layer.rcUnion = {0, 0, layer.nWidth - 1, layer.nHeight - 1}; }
    uint32_t At(int x, int y) const
    {
        uint32_t v;
        std::memcpy(&v, layer.pOwnedPixels + (size_t(y) * layer.nWidth + x) * 4, 4);
        return v;
    }
};

// A picture of w x h pixels.
struct PICTURE {
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    uint32_t At(int x, int y) const { return px[size_t(y) * w + x]; }
};

// A placement of the main window: fullscreen, maximised, scale mode, interpolation, frame thread,
// the client cw x ch and the output ow x oh.
struct PLACE {
    const char* pszName;
    uint8_t bFull, bMax;
    int nScale, bInterp;
    uint8_t bThreaded;
    int cw, ch, ow, oh;
};

class PresentationTest : public WINDOW_TEST_FIXTURE {
protected:
    // The main window without a frame, so that the client has the given size.
    PLAT_HWND MakeMain(int cw, int ch)
    {
        g_bFramedWindow = 0;
        WINDOW_STATE* p = g_apWindowState[0];
        p->nWidth = cw;
        p->nHeight = ch;
        ResetWindowState(p, "main");
        EXPECT_EQ(CreateGameWindow(p, 0, g_szInstanceName, "main"), 1);
        return p->hWnd;
    }
    // The main window placed and scaled as the row says, its client filled with kMarker; 0 when the
    // output size cannot be had.
    PLAT_HWND MakePlaced(const PLACE& r)
    {
        const PLAT_HWND h = MakeMain(r.cw, r.ch);
        g_bFullscreen = r.bFull;
        g_bMaximized = r.bMax;
        g_nScaleMode = r.nScale;
        g_bInterpolate = r.bInterp;
        g_bThreadedFrames = r.bThreaded;
        g_bAllowSSE = 0;
        g_nTargetWidth = r.cw;
        g_nTargetHeight = r.ch;
        if (SetOutputSize(r.ow, r.oh) != 0) return 0;
        FillClient(h, kMarker);
        return h;
    }
    PICTURE Client(PLAT_HWND h)
    {
        uint32_t* pFb = nullptr;
        int w = 0, hh = 0, pitch = 0;
        EXPECT_EQ(PlatGetWindowFramebuffer(h, &pFb, &w, &hh, &pitch), 0);
        PICTURE pic;
        pic.w = w;
        pic.h = hh;
        for (int y = 0; y < hh; ++y)
            for (int x = 0; x < w; ++x) pic.px.push_back(pFb[size_t(y) * (pitch / 4) + x]);
        return pic;
    }
    void FillClient(PLAT_HWND h, uint32_t v)
    {
        uint32_t* pFb = nullptr;
        int w = 0, hh = 0, pitch = 0;
        ASSERT_EQ(PlatGetWindowFramebuffer(h, &pFb, &w, &hh, &pitch), 0);
        for (int y = 0; y < hh; ++y)
            for (int x = 0; x < w; ++x) pFb[size_t(y) * (pitch / 4) + x] = v;
    }
};

// Nearest stretch of a layer as a blit draws it: the centre of each target pixel picks its source.
PICTURE StretchNearest(const TEST_LAYER& l, int tw, int th)
{
    PICTURE p;
    p.w = tw;
    p.h = th;
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x)
            p.px.push_back(l.At(int((2 * int64_t(x) + 1) * l.layer.nWidth / (2 * int64_t(tw))),
                                int((2 * int64_t(y) + 1) * l.layer.nHeight / (2 * int64_t(th)))));
    return p;
}

// The scalers' own result for the whole layer at the target size.
PICTURE Scaled(const TEST_LAYER& l, bool bBilinear, int tw, int th)
{
    std::vector<uint8_t> out(size_t(tw) * th * 4);
    const int sw = l.layer.nWidth, sh = l.layer.nHeight;
    if (bBilinear)
        EXPECT_EQ(ScaleBilinear(out.data(), l.layer.pDisplayPixels, 0, 0, (sw - 1) * 100, (sh - 1) * 100, sw, sh, tw * 100,
                                th * 100), 0);
    else
        EXPECT_EQ(ScaleNearest(out.data(), l.layer.pDisplayPixels, 0, 0, sw - 1, sh - 1, sw, sh, tw, th), 0);
    PICTURE p;
    p.w = tw;
    p.h = th;
    p.px.resize(size_t(tw) * th);
    std::memcpy(p.px.data(), out.data(), out.size());
    return p;
}

// The expected client: the background (black bars or what was there), the picture at x, y, clipped.
PICTURE Compose(int cw, int ch, uint32_t bg, const PICTURE& pic, int x, int y)
{
    PICTURE c;
    c.w = cw;
    c.h = ch;
    c.px.assign(size_t(cw) * ch, bg);
    for (int py = 0; py < pic.h; ++py)
        for (int px = 0; px < pic.w; ++px) {
            const int X = x + px, Y = y + py;
            if (X >= 0 && Y >= 0 && X < cw && Y < ch) c.px[size_t(Y) * cw + X] = pic.At(px, py);
        }
    return c;
}

void ExpectSame(const PICTURE& a, const PICTURE& b)
{
    ASSERT_EQ(a.w, b.w);
    ASSERT_EQ(a.h, b.h);
    int nBad = 0;
    for (int y = 0; y < a.h && nBad < 5; ++y)
        for (int x = 0; x < a.w && nBad < 5; ++x)
            if (a.At(x, y) != b.At(x, y)) {
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << a.At(x, y) << " expected " << b.At(x, y);
                ++nBad;
            }
}

// The main window at several client sizes, screen states and scaling choices. Fit, cover and
// stretch differ in the output size the screen code chooses; the presentation centres that output
// in the target and clips it.
TEST_F(PresentationTest, MainWindowScalingBranches)
{
    enum { LAYER_AS_IS, GDI_STRETCH, BILINEAR, NEAREST };
    struct ROW : PLACE {
        int nKind;
        int ox, oy;   // where the picture starts in the client
        bool bBars;
    };
    const ROW rows[] = {
        {{"fullscreen none 1:1", 1, 0, 0, 1, 0, 20, 12, 8, 6}, LAYER_AS_IS, 6, 3, true},
        {{"fullscreen none stretched", 1, 0, 0, 1, 0, 20, 12, 16, 12}, GDI_STRETCH, 2, 0, true},
        {{"fullscreen fit bilinear", 1, 0, 1, 1, 0, 20, 12, 16, 12}, BILINEAR, 2, 0, true},
        {{"fullscreen fit nearest", 1, 0, 1, 0, 0, 20, 12, 16, 12}, NEAREST, 2, 0, true},
        {{"fullscreen cover nearest", 1, 0, 2, 0, 0, 20, 12, 24, 18}, NEAREST, -2, -3, true},
        {{"fullscreen cover bilinear", 1, 0, 2, 1, 0, 20, 12, 24, 18}, BILINEAR, -2, -3, true},
        {{"fullscreen stretch nearest", 1, 0, 3, 0, 0, 20, 12, 20, 12}, NEAREST, 0, 0, true},
        {{"maximised nearest setting still bilinear", 0, 1, 0, 0, 0, 20, 12, 16, 12}, BILINEAR, 2, 0, true},
        {{"windowed resized bilinear", 0, 0, 1, 1, 0, 12, 9, 12, 9}, BILINEAR, 0, 0, false},
        {{"windowed resized bilinear, frame thread", 0, 0, 1, 1, 1, 12, 9, 12, 9}, BILINEAR, 0, 0, false},
        {{"windowed resized nearest", 0, 0, 1, 0, 0, 12, 9, 12, 9}, NEAREST, 0, 0, false},
        {{"windowed smaller nearest", 0, 0, 1, 0, 0, 10, 10, 5, 4}, NEAREST, 0, 0, false},
        {{"windowed 1:1", 0, 0, 1, 1, 0, 8, 6, 8, 6}, LAYER_AS_IS, 0, 0, false},
    };
    TEST_LAYER l(8, 6);
    for (const ROW& r : rows) {
        SCOPED_TRACE(r.pszName);
        const PLAT_HWND h = MakePlaced(r);
        ASSERT_NE(h, 0u);
        const int nBefore = PlatFakeGetPresentCount(h);
        l.Whole();
        ASSERT_EQ(PresentWindow(g_apWindowState[0], &l.layer), 0);
        EXPECT_EQ(PlatFakeGetPresentCount(h), nBefore + 1);

        PICTURE pic;
        switch (r.nKind) {
        case LAYER_AS_IS: pic = StretchNearest(l, 8, 6); break;
        case GDI_STRETCH: pic = StretchNearest(l, r.ow, r.oh); break;
        case BILINEAR: pic = Scaled(l, true, r.ow, r.oh); break;
        default: pic = Scaled(l, false, r.ow, r.oh); break;
        }
        ExpectSame(Client(h), Compose(r.cw, r.ch, r.bBars ? 0u : kMarker, pic, r.ox, r.oy));
        EXPECT_EQ(g_nOutputOffsetX, r.bFull || r.bMax ? r.ox : 0);
        EXPECT_EQ(g_nOutputOffsetY, r.bFull || r.bMax ? r.oy : 0);
        const bool bScaledBuffer = r.nKind == BILINEAR || r.nKind == NEAREST;
        EXPECT_EQ(g_apWindowState[0]->bmi.biWidth, bScaledBuffer ? r.ow : 8);
        EXPECT_EQ(g_apWindowState[0]->bmi.biHeight, bScaledBuffer ? -r.oh : -6);
        PlatDestroyWindow(h);
    }
    EXPECT_TRUE(errors.reports.empty());
}

// A part presented after a whole picture leaves the window with the pixels a whole presentation of
// the changed picture gives, for every placement: as it is, scaled either way, letterboxed with the
// picture inside or beyond the client, and for boxes at the edges, across them and beyond them.
TEST_F(PresentationTest, PartialPresentGivesTheWindowPixelsOfAWholeOne)
{
    const PLACE rows[] = {
        {"fullscreen none 1:1", 1, 0, 0, 1, 0, 60, 40, 40, 30},
        {"fullscreen none stretched", 1, 0, 0, 1, 0, 60, 40, 52, 39},
        {"fullscreen fit bilinear", 1, 0, 1, 1, 0, 100, 60, 80, 60},
        {"fullscreen fit nearest", 1, 0, 1, 0, 0, 100, 60, 80, 60},
        {"fullscreen cover bilinear", 1, 0, 2, 1, 0, 100, 60, 120, 90},
        {"maximised", 0, 1, 0, 0, 0, 100, 60, 80, 60},
        {"windowed resized bilinear", 0, 0, 1, 1, 0, 70, 50, 70, 50},
        {"windowed resized bilinear, frame thread", 0, 0, 1, 1, 1, 70, 50, 70, 50},
        {"windowed resized nearest", 0, 0, 1, 0, 0, 90, 70, 90, 70},
        {"windowed smaller bilinear", 0, 0, 1, 1, 0, 25, 17, 25, 17},
        {"windowed 1:1", 0, 0, 1, 1, 0, 40, 30, 40, 30},
    };
    const DIRTY_BOX boxes[] = {
        {0, 0, 0, 0}, {17, 11, 22, 14}, {39, 29, 39, 29}, {0, 0, 39, 29},
        {30, 0, 39, 3}, {-5, -4, 2, 2}, {35, 25, 50, 40}, {10, 20, 10, 20},
    };
    TEST_LAYER l(40, 30);
    for (const PLACE& r : rows) {
        SCOPED_TRACE(r.pszName);
        const PLAT_HWND h = MakePlaced(r);
        ASSERT_NE(h, 0u);
        WINDOW_STATE* p = g_apWindowState[0];
        l.Whole();
        ASSERT_EQ(PresentWindowPart(p, &l.layer, nullptr), 0);
        int nSeed = 0;
        for (const DIRTY_BOX& box : boxes) {
            SCOPED_TRACE(testing::Message() << "box " << box.llLeft << "," << box.llTop << " - " << box.llRight << ","
                                            << box.llBottom);
            ++nSeed;
            for (int64_t y = std::max<int64_t>(box.llTop, 0); y <= std::min<int64_t>(box.llBottom, 29); ++y)
                for (int64_t x = std::max<int64_t>(box.llLeft, 0); x <= std::min<int64_t>(box.llRight, 39); ++x) {
                    uint8_t* q = l.layer.pOwnedPixels + (size_t(y) * 40 + size_t(x)) * 4;
                    q[0] = uint8_t(q[0] ^ (0x5A + nSeed * 17));
                    q[1] = uint8_t(q[1] + 77 + nSeed);
                    q[2] = uint8_t(q[2] ^ 0xC3);
                }
            const int nBefore = PlatFakeGetPresentCount(h);
            l.layer.rcUnion = {0, 0, -1, -1};   // the part alone says what changed
            ASSERT_EQ(PresentWindowPart(p, &l.layer, &box), 0);
            EXPECT_EQ(PlatFakeGetPresentCount(h), nBefore + 1);
            const PICTURE part = Client(h);
            l.Whole();
            ASSERT_EQ(PresentWindowPart(p, &l.layer, nullptr), 0);
            ExpectSame(part, Client(h));
        }
        PlatDestroyWindow(h);
    }
    EXPECT_TRUE(errors.reports.empty());
}

// A part costs what the part covers: the framebuffer outside it is not written.
TEST_F(PresentationTest, PartialPresentCopiesOnlyThePart)
{
    TEST_LAYER l(40, 30);
    const PLAT_HWND h = MakeMain(40, 30);
    ASSERT_EQ(SetOutputSize(40, 30), 0);
    ASSERT_EQ(PresentWindowPart(g_apWindowState[0], &l.layer, nullptr), 0);
    FillClient(h, kMarker);
    const DIRTY_BOX box{10, 5, 12, 6};
    ASSERT_EQ(PresentWindowPart(g_apWindowState[0], &l.layer, &box), 0);
    const PICTURE c = Client(h);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool bIn = x >= 10 && x <= 12 && y >= 5 && y <= 6;
            EXPECT_EQ(c.At(x, y), bIn ? l.At(x, y) : kMarker) << x << "," << y;
        }
    // Once someone else presented into the window (a movie, a blank client), a part becomes whole.
    ASSERT_EQ(PlatPresentWindow(h), 0);
    FillClient(h, kMarker);
    ASSERT_EQ(PresentWindowPart(g_apWindowState[0], &l.layer, &box), 0);
    ExpectSame(Client(h), Compose(40, 30, kMarker, StretchNearest(l, 40, 30), 0, 0));
}

// The nearest and bilinear branches also agree with the arithmetic the scalers are specified by,
// at a size large enough to matter: a 2x nearest enlargement repeats every pixel.
TEST_F(PresentationTest, NearestDoublingRepeatsPixels)
{
    TEST_LAYER l(8, 6);
    const PLAT_HWND h = MakeMain(16, 12);
    g_bInterpolate = 0;
    ASSERT_EQ(SetOutputSize(16, 12), 0);
    ASSERT_EQ(PresentWindow(g_apWindowState[0], &l.layer), 0);
    const PICTURE c = Client(h);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) EXPECT_EQ(c.At(x, y), l.At(x / 2, y / 2)) << x << "," << y;
}

TEST_F(PresentationTest, SubWindowsBlitTheDirtyBox)
{
    g_bFramedWindow = 1;
    ASSERT_EQ(SetOutputSize(640, 480), 0);
    ASSERT_EQ(CreateSubWindow(1, 12, 10, "s"), 0);
    WINDOW_STATE* p = g_apWindowState[1];
    const PLAT_HWND h = p->hWnd;
    // Output size of the main window plays no part for a sub window, even in fullscreen.
    g_bFullscreen = 1;
    g_nOutputOffsetX = 77;

    TEST_LAYER one(1, 1);
    one.layer.llX = 3;
    one.layer.llY = 2;
    FillClient(h, kMarker);
    ASSERT_EQ(PresentWindow(p, &one.layer), 0);
    PICTURE single;
    single.w = single.h = 1;
    single.px = {one.At(0, 0)};
    ExpectSame(Client(h), Compose(12, 10, kMarker, single, 3, 2));
    EXPECT_EQ(g_nOutputOffsetX, 77);   // a sub window leaves the main window's offsets alone

    struct ROW {
        const char* pszName;
        int64_t l, t, r, b;
        int64_t lx, ly;
        int x, y, w, hh;   // expected rectangle of the layer shown (layer coordinates)
    };
    const ROW rows[] = {
        {"box inside", 2, 1, 4, 3, 0, 0, 2, 1, 3, 3},
        {"box at the top-left", 0, 0, 3, 2, 0, 0, 0, 0, 4, 3},
        {"column 0 below the top to the bottom: full-height strip", 0, 2, 3, 5, 0, 0, 0, 0, 4, 6},
        {"same box but not at column 0", 1, 2, 3, 5, 0, 0, 1, 2, 3, 4},
        {"box beyond the layer is cut", 5, 4, 40, 40, 0, 0, 5, 4, 3, 2},
        {"layer position moves the box", 1, 1, 2, 2, 4, 3, 1, 1, 2, 2},
    };
    TEST_LAYER l(8, 6);
    for (const ROW& r : rows) {
        SCOPED_TRACE(r.pszName);
        l.layer.rcUnion = {r.l, r.t, r.r, r.b};
        l.layer.llX = r.lx;
        l.layer.llY = r.ly;
        FillClient(h, kMarker);
        ASSERT_EQ(PresentWindow(p, &l.layer), 0);
        PICTURE part;
        part.w = r.w;
        part.h = r.hh;
        for (int y = 0; y < r.hh; ++y)
            for (int x = 0; x < r.w; ++x) part.px.push_back(l.At(r.x + x, r.y + y));
        ExpectSame(Client(h), Compose(12, 10, kMarker, part, int(r.lx) + r.x, int(r.ly) + r.y));
    }
}

TEST_F(PresentationTest, NothingIsPresentedWithoutWhatItNeeds)
{
    const PLAT_HWND h = MakeMain(8, 6);
    TEST_LAYER l(8, 6);
    ASSERT_EQ(SetOutputSize(16, 12), 0);
    FillClient(h, kMarker);
    const int nCount = PlatFakeGetPresentCount(h);
    WINDOW_STATE* p = g_apWindowState[0];

    g_bEngineStop = 1;   // the last picture stays
    EXPECT_EQ(PresentWindow(p, &l.layer), 1);
    g_bEngineStop = 0;
    l.layer.rcUnion = {3, 0, 2, 5};   // empty box
    EXPECT_EQ(PresentWindow(p, &l.layer), 1);
    l.Whole();
    // The buffer could not be made and a later non-fatal report cleared the stop: still nothing.
    EXPECT_EQ(SetOutputSize(9000, 10), -1);
    g_bEngineStop = 0;
    EXPECT_EQ(PresentWindow(p, &l.layer), 1);
    // A size written by other code without the setter is never scaled into a too small buffer.
    ASSERT_EQ(SetOutputSize(4, 4), 0);
    g_nOutputWidth = 400;
    g_nOutputHeight = 300;
    EXPECT_EQ(PresentWindow(p, &l.layer), 1);
    EXPECT_EQ(PlatFakeGetPresentCount(h), nCount);
    ExpectSame(Client(h), Compose(8, 6, kMarker, PICTURE{}, 0, 0));
}

TEST_F(PresentationTest, RepaintPresentsTheWholeLayerSet)
{
    const PLAT_HWND h = MakeMain(8, 6);
    ASSERT_EQ(SetOutputSize(8, 6), 0);
    TEST_LAYER l(8, 6);
    l.layer.rcUnion = {2, 2, 2, 2};
    TREE_NODE node{};
    node.pPayload = &l.layer;
    WINDOW_STATE* p = g_apWindowState[0];

    FillClient(h, kMarker);
    p->pLayerSet = nullptr;
    EXPECT_EQ(RepaintWindow(p), 0);
    ExpectSame(Client(h), Compose(8, 6, kMarker, PICTURE{}, 0, 0));

    p->pLayerSet = &node;
    EXPECT_EQ(RepaintWindow(p), 0);
    EXPECT_EQ(l.layer.rcUnion.llRight, 7);
    EXPECT_EQ(l.layer.rcUnion.llBottom, 5);
    EXPECT_EQ(l.layer.bChanged, 1);
    ExpectSame(Client(h), Compose(8, 6, 0, StretchNearest(l, 8, 6), 0, 0));
    p->pLayerSet = nullptr;
}

TEST_F(PresentationTest, ClearWindowBlackFillsTheTarget)
{
    const PLAT_HWND h = MakeMain(8, 6);
    FillClient(h, kMarker);
    g_nTargetWidth = 5;
    g_nTargetHeight = 4;
    ASSERT_EQ(ClearWindowBlack(g_apWindowState[0]), 0);
    EXPECT_EQ(g_apWindowState[0]->bmi.biWidth, 1);
    EXPECT_EQ(g_apWindowState[0]->bmi.biHeight, 1);
    PICTURE black;
    black.w = 5;
    black.h = 4;
    black.px.assign(20, 0);
    ExpectSame(Client(h), Compose(8, 6, kMarker, black, 0, 0));
    // A target larger than the client stays inside it.
    g_nTargetWidth = 100;
    g_nTargetHeight = 100;
    ASSERT_EQ(ClearWindowBlack(g_apWindowState[0]), 0);
    ExpectSame(Client(h), Compose(8, 6, 0, PICTURE{}, 0, 0));
}

// Through the frame step itself: the third frame ends with a quit request, which closes the main
// window and ends the loop.
TEST_F(PresentationTest, QuitAfterFramesThroughTheFrameStep)
{
    setenv("KOLVEX_QUIT_AFTER_FRAMES", "3", 1);
    InstallDiagnosticSwitches();
    unsetenv("KOLVEX_QUIT_AFTER_FRAMES");
    MakeMain(8, 6);
    ResetFrameState();
    ResetFrameClock();
    int nFrames = 0;
    while (nFrames < 10 && RunFrame() == 0) ++nFrames;
    EXPECT_EQ(nFrames, 2);   // the third frame answers "stop"
    EXPECT_EQ(g_bEngineStop, 1);
    PLAT_MSG msg{};
    bool bQuit = false;
    while (PlatPeekMessage(&msg, PLAT_PM_REMOVE)) {
        PlatDispatchMessage(&msg);
        if (msg.message == PLAT_WM_QUIT) bQuit = true;
    }
    // A quit message may also be left for the next read.
    if (!bQuit && PlatPeekMessage(&msg, PLAT_PM_REMOVE)) bQuit = msg.message == PLAT_WM_QUIT;
    EXPECT_TRUE(bQuit);
    EXPECT_EQ(g_hMainWnd, 0u);
}

TEST_F(PresentationTest, QuitAfterFramesSwitch)
{
    setenv("KOLVEX_QUIT_AFTER_FRAMES", "3", 1);
    int nPopups = 0;
    static int* s_pnPopups;
    s_pnPopups = &nPopups;
    g_EngineHooks.pfnServePopupMenuRequest = [] { ++*s_pnPopups; };
    InstallDiagnosticSwitches();
    InstallDiagnosticSwitches();   // reading the switches again counts from the same frame
    unsetenv("KOLVEX_QUIT_AFTER_FRAMES");
    const PLAT_HWND h = MakeMain(8, 6);
    // The end of a frame, as the frame step takes it.
    auto EndFrame = [] {
        g_EngineHooks.pfnServePopupMenuRequest();
        g_EngineHooks.pfnEndFrameDiagnostics();
    };
    for (int i = 0; i < 2; ++i) {
        ++g_llFrameCount;
        EndFrame();
    }
    EXPECT_EQ(g_bEngineStop, 0);
    ++g_llFrameCount;
    EndFrame();
    EXPECT_EQ(g_bEngineStop, 1);
    EXPECT_EQ(nPopups, 3);   // the frame step's own work still runs
    PLAT_MSG msg{};
    bool bClose = false;
    while (PlatPeekMessage(&msg, PLAT_PM_REMOVE))
        if (msg.message == PLAT_WM_CLOSE && msg.hwnd == h) bClose = true;
    EXPECT_TRUE(bClose);
}

// Decodes a PNG file into B,G,R,A words.
PICTURE ReadPng(const std::string& strPath)
{
    PICTURE pic;
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, strPath.c_str())) return pic;
    img.format = PNG_FORMAT_BGRA;
    pic.w = int(img.width);
    pic.h = int(img.height);
    pic.px.resize(size_t(pic.w) * pic.h);
    if (!png_image_finish_read(&img, nullptr, pic.px.data(), 0, nullptr)) {
        png_image_free(&img);
        return PICTURE{};
    }
    return pic;
}

TEST_F(PresentationTest, ScreenshotSwitchWritesThePresentedPicture)
{
    TEMP_DIR dir;
    const std::string strPath = dir.strNative + "/shot.png";
    setenv("KOLVEX_SCREENSHOT", strPath.c_str(), 1);
    InstallDiagnosticSwitches();
    unsetenv("KOLVEX_SCREENSHOT");
    ASSERT_EQ(LoadCodecLibraries(), 0);

    const PLAT_HWND h = MakeMain(20, 12);
    TEST_LAYER l(8, 6);
    g_bFullscreen = 1;
    g_nScaleMode = 0;
    g_nTargetWidth = 20;
    g_nTargetHeight = 12;
    ASSERT_EQ(SetOutputSize(8, 6), 0);
    ASSERT_EQ(PresentWindow(g_apWindowState[0], &l.layer), 0);
    PICTURE shown = Client(h);
    // The window is gone by the end of the run; the picture is kept from the presentation.
    PlatDestroyWindow(h);
    ASSERT_NE(g_EngineHooks.pfnShutdownDiagnostics, nullptr);
    g_EngineHooks.pfnShutdownDiagnostics();
    UnloadCodecLibraries();

    PICTURE png = ReadPng(strPath);
    ASSERT_EQ(png.w, 20);
    ASSERT_EQ(png.h, 12);
    // Written without alpha: every pixel opaque, colours as shown.
    for (uint32_t& v : shown.px) v |= 0xFF000000u;
    ExpectSame(png, shown);
    EXPECT_EQ(png.At(0, 0), 0xFF000000u);   // a black bar
    EXPECT_EQ(png.At(6, 3), l.At(0, 0) | 0xFF000000u);

    // Without the switch nothing is written.
    InstallDiagnosticSwitches();
    g_EngineHooks.pfnReleaseFlashControl();
    EXPECT_FALSE(dir.Exists("none.png"));
    EXPECT_EQ(SaveWindowScreenshot(nullptr), -1);
}

}  // namespace
