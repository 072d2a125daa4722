#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/appended_data.h"
#include "core/cp932.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/errors.h"
#include "core/frame_loop.h"
#include "core/kx_texts.h"
#include "core/sysfacts.h"
#include "display/window_state.h"
#include "image/layer.h"
#include "platform/plat_window.h"
#include "core/game_config.h"
#include "tests/display/window_test_support.h"
#include "tests/support/test_support.h"

namespace {

class WindowStateTest : public WINDOW_TEST_FIXTURE {};

TEST_F(WindowStateTest, RecordsAfterConstructionAndReset)
{
    for (int i = 0; i < KX_WINDOWS; ++i) {
        ASSERT_NE(g_apWindowState[i], nullptr);
        EXPECT_EQ(g_apWindowState[i]->nIndex, i);
        EXPECT_EQ(g_anWindowCreated[i], -1);
        EXPECT_EQ(g_apWindowState[i]->hWnd, 0u);
        EXPECT_EQ(g_apWindowState[i]->pBackLayer, nullptr);
        EXPECT_EQ(g_apWindowState[i]->nAlpha, 0);
    }
    EXPECT_EQ(g_apWindowState[0]->nWidth, 640);
    EXPECT_EQ(g_apWindowState[0]->nHeight, 480);

    // The layer code reaches the windows' layer sets and back layers through its hooks.
    ASSERT_NE(g_LayerHooks.pfnWindowLayerSetSlot, nullptr);
    EXPECT_EQ(g_LayerHooks.pfnWindowLayerSetSlot(2), &g_apWindowState[2]->pLayerSet);
    EXPECT_EQ(g_LayerHooks.pfnWindowLayerSetSlot(4), nullptr);
    EXPECT_EQ(g_LayerHooks.pfnWindowBackLayer(-1), nullptr);

    // A title of 300 two-byte characters is cut at a whole character within 262 bytes.
    std::string strLong;
    for (int i = 0; i < 300; ++i) strLong += "\x82\xa0";
    WINDOW_STATE* pMain = g_apWindowState[0];
    WINDOW_STATE* pSub = g_apWindowState[2];
    pSub->nWidth = 50;
    pSub->nHeight = 40;
    ASSERT_EQ(ResetWindowState(pMain, strLong.c_str()), 0);
    ASSERT_EQ(ResetWindowState(pSub, "sub"), 0);
    EXPECT_EQ(std::strlen(pMain->szTitle), 262u);
    EXPECT_EQ(pMain->bVisible, 0);       // the main window keeps its value
    EXPECT_EQ(pSub->bVisible, 1);
    EXPECT_STREQ(pSub->szTitle, "sub");
    for (WINDOW_STATE* p : {pMain, pSub}) {
        EXPECT_EQ(p->nAlpha, 256);
        EXPECT_EQ(p->nCloseMode, KX_CLOSE_ASK);
        EXPECT_EQ(p->bMinimizeAllowed, 1);
        EXPECT_EQ(p->bRevealOnMove + p->bRevealOnButton + p->bRevealOnWheel, 3);
        EXPECT_EQ(p->bmi.biSize, 40u);
        EXPECT_EQ(p->bmi.biPlanes, 1);
        EXPECT_EQ(p->bmi.biBitCount, 32);
        EXPECT_EQ(p->bmi.biCompression, 0u);
    }
    EXPECT_EQ(pMain->bMaximizeAllowed, 1);
    EXPECT_EQ(pSub->bMaximizeAllowed, 0);
    EXPECT_EQ(pSub->bmi.biWidth, 50);
    EXPECT_EQ(pSub->bmi.biHeight, 40);
}

// Style, extended style, outer position and client size per configuration.
TEST_F(WindowStateTest, StylesAndGeometry)
{
    struct ROW {
        int nIndex;
        uint8_t bFramed, bResizable, bScreenSaver;
        uint32_t nStyle, nEx;
        int nLeft, nTop;       // outer rectangle
        int nOuterW, nOuterH;
    };
    // 640x480 on a 1920x1080 work area; caption frames add 3 at the sides and bottom and 26 at the
    // top, a sizing frame 8 and 31.
    const ROW rows[] = {
        {0, 1, 0, 0, 0x02CB0000u, 0, 640, 300, 646, 509},
        {0, 1, 1, 0, 0x02CF0000u, 0, 640, 300, 656, 519},
        {0, 1, 0, 1, 0x02CB0000u, KX_WS_EX_TOPMOST, 640, 300, 646, 509},
        {0, 0, 1, 0, 0x82000000u, KX_WS_EX_TOOLWINDOW, 640, 300, 640, 480},
        {1, 1, 1, 0, 0x02CB0000u, 0, 0, 0, 646, 509},
        {1, 0, 0, 0, 0x02CB0000u, 0, 640, 300, 646, 509},   // a sub window keeps its caption
    };
    for (const ROW& r : rows) {
        SCOPED_TRACE(testing::Message() << "index " << r.nIndex << " framed " << int(r.bFramed) << " resizable "
                                        << int(r.bResizable) << " saver " << int(r.bScreenSaver));
        g_bFramedWindow = r.bFramed;
        g_bResizable = r.bResizable;
        g_bScreenSaver = r.bScreenSaver;
        WINDOW_STATE* p = g_apWindowState[r.nIndex];
        p->nWidth = 640;
        p->nHeight = 480;
        uint32_t nStyle = 0, nEx = 0;
        GetGameWindowStyles(p, &nStyle, &nEx);
        EXPECT_EQ(nStyle, r.nStyle);
        EXPECT_EQ(nEx, r.nEx);
        char szClass[300];
        ASSERT_EQ(MakeWindowClassName(r.nIndex, szClass, sizeof szClass), 0);
        ASSERT_EQ(CreateGameWindow(p, PLAT_SW_SHOW, szClass, "t"), 1);
        EXPECT_EQ(PlatGetWindowStyle(p->hWnd) & ~PLAT_WS_VISIBLE, r.nStyle);
        EXPECT_EQ(PlatIsWindowVisible(p->hWnd), 0);   // created hidden
        EXPECT_EQ(PlatGetWindowUser(p->hWnd), p);
        PLAT_RECT rc{};
        PlatGetClientRect(p->hWnd, &rc);
        EXPECT_EQ(rc.right, 640);
        EXPECT_EQ(rc.bottom, 480);
        PlatGetWindowRect(p->hWnd, &rc);
        EXPECT_EQ(rc.left, r.nLeft);
        EXPECT_EQ(rc.top, r.nTop);
        EXPECT_EQ(rc.right - rc.left, r.nOuterW);
        EXPECT_EQ(rc.bottom - rc.top, r.nOuterH);
        ASSERT_NE(p->pBackLayer, nullptr);
        EXPECT_EQ(p->pBackLayer->nWidth, 640);
        EXPECT_EQ(p->pBackLayer->nHeight, 480);
        EXPECT_EQ(p->pBackLayer->bVisible, 1);
        EXPECT_EQ(p->pBackLayer->nOpacity, 256);
        EXPECT_EQ(p->pBackLayer->nSaturation, 128);
        EXPECT_EQ(p->pBackLayer->nColorBalance, 0x808080);
        if (r.nIndex == 0) {
            EXPECT_EQ(g_hMainWnd, p->hWnd);
        }
        PlatDestroyWindow(p->hWnd);
        EXPECT_EQ(p->hWnd, 0u);
    }
}

TEST_F(WindowStateTest, SubWindowsClassNamesAndSystemMenu)
{
    g_bFramedWindow = 1;
    WINDOW_STATE* pMain = g_apWindowState[0];
    ResetWindowState(pMain, "main");
    ASSERT_EQ(CreateGameWindow(pMain, PLAT_SW_SHOW, g_szInstanceName, "main"), 1);

    ASSERT_EQ(CreateSubWindow(1, 0, 0, "first"), 0);
    ASSERT_EQ(CreateSubWindow(3, 300, 200, "third"), 0);
    const std::string strBase = g_szInstanceName;
    WINDOW_STATE* p1 = g_apWindowState[1];
    WINDOW_STATE* p3 = g_apWindowState[3];
    EXPECT_EQ(PlatFindWindow((strBase + "_sub_1").c_str(), nullptr), p1->hWnd);
    EXPECT_EQ(PlatFindWindow((strBase + "_sub_3").c_str(), nullptr), p3->hWnd);
    EXPECT_EQ(PlatFindWindow(strBase.c_str(), nullptr), pMain->hWnd);
    EXPECT_EQ(g_anWindowCreated[1], 1);
    EXPECT_EQ(g_anWindowCreated[2], -1);
    EXPECT_EQ(p1->nWidth, 128);
    EXPECT_EQ(p1->nHeight, 128);
    PLAT_RECT rc{};
    PlatGetClientRect(p3->hWnd, &rc);
    EXPECT_EQ(rc.right, 300);
    EXPECT_EQ(rc.bottom, 200);
    EXPECT_EQ(PlatIsWindowVisible(p1->hWnd), 1);   // shown at once
    EXPECT_EQ(p1->bVisible, 1);
    char szTitle[64];
    PlatGetWindowText(p1->hWnd, szTitle, sizeof szTitle);
    EXPECT_STREQ(szTitle, "first");
    EXPECT_EQ(g_hMainWnd, pMain->hWnd);   // a sub window never becomes the main window

    WINDOW_MENU_ITEM items[4]{};
    ASSERT_EQ(GetWindowSystemMenu(0, items, 4), 2);
    EXPECT_EQ(items[0].nId, 30001u);
    EXPECT_EQ(std::string(items[0].pszText), Cp932("ウィンドウサイズ初期化"));
    EXPECT_EQ(items[1].nId, 0u);
    EXPECT_EQ(items[1].pszText, nullptr);
    EXPECT_EQ(GetWindowSystemMenu(1, items, 4), 0);
    EXPECT_EQ(GetWindowSystemMenu(3, items, 4), 0);

    // Closed and made again: the class stays set up, the back layer is replaced (the old one freed).
    const LAYER* pOld = p1->pBackLayer;
    PlatSendMessage(p1->hWnd, PLAT_WM_CLOSE, 0, 0);
    EXPECT_EQ(p1->hWnd, 0u);
    EXPECT_EQ(g_anWindowCreated[1], -1);
    EXPECT_EQ(p1->bClassRegistered, 1);
    ASSERT_EQ(CreateSubWindow(1, 64, 32, "again"), 0);
    EXPECT_EQ(p1->bClassRegistered, 1);
    ASSERT_NE(p1->pBackLayer, nullptr);
    EXPECT_EQ(p1->pBackLayer->nWidth, 64);
    EXPECT_EQ(p1->pBackLayer->nHeight, 32);
    (void)pOld;

    EXPECT_EQ(CreateSubWindow(0, 10, 10, "x"), -1);
    EXPECT_EQ(CreateSubWindow(4, 10, 10, "x"), -1);
    EXPECT_TRUE(errors.reports.empty());
}

TEST_F(WindowStateTest, BackLayerRefusals)
{
    ASSERT_EQ(CreateWindowBackLayer(2, 100, 50), 0);
    ASSERT_NE(g_apWindowState[2]->pBackLayer, nullptr);
    // Too wide: the size box, error 100010 (fatal), no back layer.
    EXPECT_EQ(CreateWindowBackLayer(2, 8193, 10), 1);
    EXPECT_EQ(g_apWindowState[2]->pBackLayer, nullptr);
    ASSERT_GE(boxes.boxes.size(), 1u);   // the size box, then the error dialog
    EXPECT_EQ(boxes.boxes[0].strText, Cp932("ＣＧサイズが大きすぎます。X=8193, Y=10"));
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, 100010);
    EXPECT_EQ(errors.reports[0].bFatal, 1);
    EXPECT_EQ(CreateWindowBackLayer(7, 10, 10), 1);
}

TEST_F(WindowStateTest, OutputSizeSetter)
{
    ASSERT_EQ(SetOutputSize(64, 48), 0);
    uint8_t* p = g_pOutputBuffer;
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u);
    EXPECT_EQ(g_nOutputWidth, 64);
    EXPECT_EQ(g_nOutputHeight, 48);
    EXPECT_GE(GetOutputBufferCapacity(), 64 * 48);
    // Smaller sizes (and other shapes of the same area) keep the buffer.
    ASSERT_EQ(SetOutputSize(32, 20), 0);
    EXPECT_EQ(g_pOutputBuffer, p);
    EXPECT_EQ(g_nOutputWidth, 32);
    ASSERT_EQ(SetOutputSize(48, 64), 0);
    EXPECT_EQ(g_pOutputBuffer, p);
    // A larger one gets a new buffer that holds it.
    ASSERT_EQ(SetOutputSize(200, 100), 0);
    EXPECT_GE(GetOutputBufferCapacity(), 200 * 100);
    EXPECT_EQ(g_nOutputWidth, 200);
    EXPECT_EQ(g_nOutputHeight, 100);
    // Too wide: box, 100010, no buffer and an empty output size.
    EXPECT_EQ(SetOutputSize(8193, 10), -1);
    EXPECT_EQ(g_pOutputBuffer, nullptr);
    EXPECT_EQ(g_nOutputWidth, 0);
    EXPECT_EQ(g_nOutputHeight, 0);
    EXPECT_EQ(GetOutputBufferCapacity(), 0);
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, 100010);
    // A buffer put there by other code is replaced rather than trusted.
    g_bEngineStop = 0;
    g_pOutputBuffer = static_cast<uint8_t*>(std::aligned_alloc(64, 64));
    ASSERT_EQ(SetOutputSize(10, 10), 0);
    EXPECT_GE(GetOutputBufferCapacity(), 100);
}

TEST_F(WindowStateTest, MainWindowSizesAtStartUp)
{
    struct ROW {
        int w, h, outW, outH;
    };
    const ROW rows[] = {{640, 480, 640, 480}, {1920, 1080, 1920, 1080}, {2000, 1200, 960, 540}, {1000, 1100, 960, 540}};
    for (const ROW& r : rows) {
        g_apWindowState[0]->nWidth = r.w;
        g_apWindowState[0]->nHeight = r.h;
        ASSERT_EQ(SetupMainWindowSizes(), 0);
        EXPECT_EQ(g_nTargetWidth, r.w);
        EXPECT_EQ(g_nTargetHeight, r.h);
        EXPECT_EQ(g_nOutputWidth, r.outW);
        EXPECT_EQ(g_nOutputHeight, r.outH);
        EXPECT_GE(GetOutputBufferCapacity(), int64_t(r.outW) * r.outH);
    }
    // A screen-saver build shows the whole monitor.
    g_bScreenSaver = 1;
    ASSERT_EQ(SetupMainWindowSizes(), 0);
    EXPECT_EQ(g_apWindowState[0]->nWidth, 1920);
    EXPECT_EQ(g_nTargetHeight, 1080);
    EXPECT_EQ(g_nOutputWidth, 1920);
}

TEST_F(WindowStateTest, DefaultProcedureAndPointer)
{
    EXPECT_EQ(g_pfnMainWindowProc, DefaultGameWndProc);
    // The procedure the window code installs is the one windows are created with.
    static int s_nCreates = 0;
    s_nCreates = 0;
    g_pfnMainWindowProc = [](PLAT_HWND hwnd, uint32_t msg, uintptr_t w, intptr_t l) -> intptr_t {
        if (msg == PLAT_WM_CREATE) ++s_nCreates;
        return DefaultGameWndProc(hwnd, msg, w, l);
    };
    ResetWindowState(g_apWindowState[0], "m");
    ASSERT_EQ(CreateGameWindow(g_apWindowState[0], 0, g_szInstanceName, "m"), 1);
    EXPECT_EQ(s_nCreates, 1);
    g_pfnMainWindowProc = DefaultGameWndProc;
    // Closing the main window ends the loop and forgets the handle.
    PlatSendMessage(g_hMainWnd, PLAT_WM_CLOSE, 0, 0);
    EXPECT_EQ(g_hMainWnd, 0u);
    EXPECT_EQ(g_apWindowState[0]->hWnd, 0u);
    PLAT_MSG msg{};
    bool bQuit = false;
    while (PlatPeekMessage(&msg, PLAT_PM_REMOVE))
        if (msg.message == PLAT_WM_QUIT) bQuit = true;
    EXPECT_TRUE(bQuit);
}

TEST_F(WindowStateTest, WrappersOnStaleHandles)
{
    ResetWindowState(g_apWindowState[0], "m");
    ASSERT_EQ(CreateGameWindow(g_apWindowState[0], 0, g_szInstanceName, "m"), 1);
    const PLAT_HWND h = g_hMainWnd;
    EXPECT_EQ(MoveWindowTo(h, 10, 20), 0);
    PLAT_RECT rc{};
    PlatGetWindowRect(h, &rc);
    EXPECT_EQ(rc.left, 10);
    EXPECT_EQ(rc.top, 20);
    EXPECT_EQ(SetWindowStyle(h, uint32_t{KX_WS_FRAMED} | uint32_t{PLAT_WS_THICKFRAME}), 0);
    EXPECT_EQ(GetWindowStyle(h) & ~uint32_t{PLAT_WS_VISIBLE}, uint32_t{KX_WS_FRAMED} | uint32_t{PLAT_WS_THICKFRAME});
    EXPECT_EQ(PlaceWindowBehind(h, 0), -1);   // behind no window
    EXPECT_EQ(PlaceWindowBehind(h, h), 0);
    EXPECT_EQ(FlashWindowTray(h, 100, 3), 0);
    int nLast = 0;
    EXPECT_EQ(PlatGetFlashCount(h, &nLast), 1);
    EXPECT_EQ(nLast, 3);
    PlatDestroyWindow(h);
    EXPECT_EQ(PlaceWindowBehind(h, 0), -1);
    EXPECT_NE(MoveWindowTo(h, 0, 0), 0);
}

}  // namespace
