// The message queue, the window-thread call queue and the Fake window backend.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <SDL.h>

#include "platform/plat_menu.h"
#include "platform/plat_window.h"
#include "platform/plat_window_backend.h"

namespace {

struct SEEN {
    PLAT_HWND hwnd;
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
};
std::vector<SEEN> g_vSeen;

// Records every message and leaves the rest to the default procedure.
intptr_t RecordingProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    g_vSeen.push_back(SEEN{hwnd, msg, wParam, lParam});
    return PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_vSeen.clear();
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
    }
    void TearDown() override { PlatShutdownWindowSystem(); }

    PLAT_HWND Create(uint32_t nStyle = PLAT_WS_OVERLAPPEDWINDOW)
    {
        PLAT_HWND hwnd = PlatCreateWindow("KxTest", "t", nStyle, 100, 50, 656, 519, 0, RecordingProc, nullptr);
        EXPECT_NE(hwnd, 0u);
        return hwnd;
    }
    // Dispatches everything queued; returns the messages taken (WM_QUIT included, not dispatched).
    std::vector<uint32_t> Drain(void)
    {
        std::vector<uint32_t> v;
        PLAT_MSG m;
        while (PlatPeekMessage(&m, PLAT_PM_REMOVE)) {
            v.push_back(m.message);
            if (m.message != PLAT_WM_QUIT) PlatDispatchMessage(&m);
        }
        return v;
    }
    std::vector<SEEN> SeenOf(uint32_t msg)
    {
        std::vector<SEEN> v;
        for (auto& s : g_vSeen)
            if (s.msg == msg) v.push_back(s);
        return v;
    }
};

TEST_F(WindowTest, PostedMessagesComeInOrderThenQuitThenPaint)
{
    PLAT_HWND hwnd = Create();
    Drain();
    PlatInvalidateWindow(hwnd, 0);
    PlatInvalidateWindow(hwnd, 0);
    ASSERT_EQ(PlatPostMessage(hwnd, PLAT_WM_USER + 1, 1, 2), 0);
    ASSERT_EQ(PlatPostMessage(hwnd, PLAT_WM_USER + 2, 3, 4), 0);
    PLAT_MSG m;
    ASSERT_EQ(PlatPeekMessage(&m, PLAT_PM_NOREMOVE), 1);
    EXPECT_EQ(m.message, PLAT_WM_USER + 1u);
    ASSERT_EQ(PlatGetMessage(&m), 1);
    EXPECT_EQ(m.message, PLAT_WM_USER + 1u);
    EXPECT_EQ(m.wParam, 1u);
    EXPECT_EQ(m.lParam, 2);
    ASSERT_EQ(PlatGetMessage(&m), 1);
    EXPECT_EQ(m.message, PLAT_WM_USER + 2u);
    // One paint for two invalidations, and it stays until validated.
    ASSERT_EQ(PlatPeekMessage(&m, PLAT_PM_REMOVE), 1);
    EXPECT_EQ(m.message, PLAT_WM_PAINT);
    EXPECT_EQ(m.hwnd, hwnd);
    ASSERT_EQ(PlatPeekMessage(&m, PLAT_PM_REMOVE), 1);
    EXPECT_EQ(m.message, PLAT_WM_PAINT);
    PlatDispatchMessage(&m);  // the default procedure validates
    EXPECT_EQ(PlatPeekMessage(&m, PLAT_PM_REMOVE), 0);

    PlatInvalidateWindow(hwnd, 0);
    PlatPostQuitMessage(7);
    PlatPostMessage(hwnd, PLAT_WM_USER + 3, 0, 0);
    ASSERT_EQ(PlatGetMessage(&m), 1);
    EXPECT_EQ(m.message, PLAT_WM_USER + 3u);
    EXPECT_EQ(PlatGetMessage(&m), 0);
    EXPECT_EQ(m.message, PLAT_WM_QUIT);
    EXPECT_EQ(m.wParam, 7u);
    ASSERT_EQ(PlatGetMessage(&m), 1);
    EXPECT_EQ(m.message, PLAT_WM_PAINT);
}

TEST_F(WindowTest, PaintValidationSendsThePendingErase)
{
    PLAT_HWND hwnd = Create();
    Drain();
    uint32_t* pPixels;
    int w, h, nPitch;
    ASSERT_EQ(PlatGetWindowFramebuffer(hwnd, &pPixels, &w, &h, &nPitch), 0);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    pPixels[0] = 0x12345678u;
    g_vSeen.clear();
    PlatInvalidateWindow(hwnd, 1);
    Drain();
    ASSERT_EQ(g_vSeen.size(), 2u);
    EXPECT_EQ(g_vSeen[0].msg, PLAT_WM_PAINT);
    EXPECT_EQ(g_vSeen[1].msg, PLAT_WM_ERASEBKGND);
    EXPECT_EQ(pPixels[0], 0xFF000000u);
}

// A paint for a part the program changed stays one for the part only while nothing else asks for
// the whole client: a whole invalidation, a resize or showing the window makes it whole.
TEST_F(WindowTest, PartPaintBecomesWholeWhenAnythingElseAsksForOne)
{
    PLAT_HWND hwnd = Create(PLAT_WS_OVERLAPPEDWINDOW | PLAT_WS_VISIBLE);
    Drain();
    EXPECT_EQ(PlatIsWindowPaintPart(hwnd), 0);
    ASSERT_EQ(PlatInvalidateWindowPart(hwnd), 0);
    EXPECT_EQ(PlatIsWindowPaintPart(hwnd), 1);
    ASSERT_EQ(PlatInvalidateWindowPart(hwnd), 0);
    EXPECT_EQ(PlatIsWindowPaintPart(hwnd), 1);
    g_vSeen.clear();
    Drain();
    ASSERT_EQ(SeenOf(PLAT_WM_PAINT).size(), 1u);
    EXPECT_TRUE(SeenOf(PLAT_WM_ERASEBKGND).empty());
    EXPECT_EQ(PlatIsWindowPaintPart(hwnd), 0);

    const std::function<void()> wholes[] = {
        [&] { PlatInvalidateWindow(hwnd, 0); },
        [&] { PlatSetWindowPos(hwnd, 0, 0, 500, 400, PLAT_SWP_NOMOVE | PLAT_SWP_NOZORDER); },
        [&] { PlatShowWindow(hwnd, PLAT_SW_SHOW); },
    };
    for (const auto& whole : wholes) {
        ASSERT_EQ(PlatInvalidateWindowPart(hwnd), 0);
        whole();
        EXPECT_EQ(PlatIsWindowPaintPart(hwnd), 0);
        // A part asked for after a whole paint became due leaves it whole.
        ASSERT_EQ(PlatInvalidateWindowPart(hwnd), 0);
        EXPECT_EQ(PlatIsWindowPaintPart(hwnd), 0);
        Drain();
    }
    EXPECT_EQ(PlatInvalidateWindowPart(hwnd + 1000), -1);
    EXPECT_EQ(PlatIsWindowPaintPart(hwnd + 1000), 0);
}

TEST_F(WindowTest, CloseDestroysThroughTheDefaultProcedure)
{
    PLAT_HWND hwnd = Create();
    Drain();
    PlatPostMessage(hwnd, PLAT_WM_USER, 0, 0);
    PlatFakeInjectClose(hwnd);
    // Messages for the window queued after its end are dropped.
    g_vSeen.clear();
    std::vector<uint32_t> v = Drain();
    std::vector<uint32_t> want = {PLAT_WM_USER, PLAT_WM_SYSCOMMAND, PLAT_WM_CLOSE, PLAT_WM_DESTROY};
    std::vector<uint32_t> seen;
    for (auto& s : g_vSeen) seen.push_back(s.msg);
    EXPECT_EQ(seen, want);
    EXPECT_FALSE(PlatIsWindow(hwnd));
    EXPECT_EQ(PlatPostMessage(hwnd, PLAT_WM_USER, 0, 0), -1);
    EXPECT_EQ(PlatSendMessage(hwnd, PLAT_WM_USER, 0, 0), 0);
    EXPECT_EQ(PlatDestroyWindow(hwnd), -1);
}

intptr_t VetoCreateProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (msg == PLAT_WM_CREATE) return -1;
    return PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

intptr_t DestroyChildOnDestroyProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    g_vSeen.push_back(SEEN{hwnd, msg, wParam, lParam});
    if (msg == PLAT_WM_DESTROY) PlatDestroyWindow(hwnd);  // re-entrant destruction is harmless
    return PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

TEST_F(WindowTest, CreationVetoAndChildrenGoWithTheirParent)
{
    EXPECT_EQ(PlatCreateWindow("KxTest", "", PLAT_WS_POPUP, 0, 0, 10, 10, 0, VetoCreateProc, nullptr), 0u);
    PLAT_HWND hwndParent = Create(PLAT_WS_POPUP);
    PLAT_HWND hwndChild = PlatCreateWindow("KxChild", "", PLAT_WS_CHILD, 5, 6, 20, 20, hwndParent,
                                           DestroyChildOnDestroyProc, nullptr);
    ASSERT_NE(hwndChild, 0u);
    int32_t x = 1, y = 2;
    ASSERT_EQ(PlatClientToScreen(hwndChild, &x, &y), 0);
    EXPECT_EQ(x, 100 + 5 + 1);
    EXPECT_EQ(y, 50 + 6 + 2);
    EXPECT_EQ(PlatFindWindow("KxChild", nullptr), hwndChild);
    g_vSeen.clear();
    ASSERT_EQ(PlatDestroyWindow(hwndParent), 0);
    EXPECT_FALSE(PlatIsWindow(hwndChild));
    ASSERT_EQ(g_vSeen.size(), 2u);
    EXPECT_EQ(g_vSeen[0].hwnd, hwndParent);
    EXPECT_EQ(g_vSeen[1].hwnd, hwndChild);
}

void AddOne(void* p) { ++*(std::atomic<int>*)p; }

TEST_F(WindowTest, CallsFromOtherThreadsRunInThePump)
{
    std::atomic<int> nCount{0};
    std::atomic<int> bSyncDone{0};
    std::thread th([&] {
        EXPECT_EQ(PlatRunOnWindowThread(AddOne, &nCount, 0), 0);
        EXPECT_EQ(PlatRunOnWindowThread(AddOne, &nCount, 1), 0);
        // The synchronous call has run on the window thread before the wait ended.
        EXPECT_EQ(nCount.load(), 2);
        bSyncDone = 1;
    });
    PLAT_MSG m;
    while (!bSyncDone) PlatPeekMessage(&m, PLAT_PM_REMOVE);
    th.join();
    EXPECT_EQ(nCount.load(), 2);
}

TEST_F(WindowTest, GetMessageWakesForCallsAndPostsFromOtherThreads)
{
    PLAT_HWND hwnd = Create();
    Drain();
    std::thread th([&] {
        intptr_t r = PlatSendMessage(hwnd, PLAT_WM_USER + 5, 9, 10);
        EXPECT_EQ(r, 0);
        PlatPostMessage(hwnd, PLAT_WM_APP, 1, 0);
    });
    PLAT_MSG m;
    ASSERT_EQ(PlatGetMessage(&m), 1);
    th.join();
    EXPECT_EQ(m.message, PLAT_WM_APP);
    auto v = SeenOf(PLAT_WM_USER + 5);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].wParam, 9u);
    EXPECT_EQ(v[0].lParam, 10);
}

TEST_F(WindowTest, CallsAfterShutdownAreRefusedAndQueuedOnesRun)
{
    std::atomic<int> nCount{0};
    std::atomic<int> bQueued{0};
    std::thread th([&] {
        PlatRunOnWindowThread(AddOne, &nCount, 0);
        bQueued = 1;
        EXPECT_EQ(PlatRunOnWindowThread(AddOne, &nCount, 1), 0);
    });
    while (!bQueued) std::this_thread::yield();
    // The synchronous call may be queued before or after the shut-down: it runs or is refused, never hangs.
    PlatShutdownWindowSystem();
    th.join();
    EXPECT_GE(nCount.load(), 1);
    EXPECT_EQ(PlatRunOnWindowThread(AddOne, &nCount, 1), -1);
    ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
}

TEST_F(WindowTest, InjectedKeysBecomeKeyMessages)
{
    PLAT_HWND hwnd = Create();
    Drain();
    g_vSeen.clear();
    PlatFakeInjectKey(hwnd, 'A', 1, 0);
    PlatFakeInjectKey(hwnd, 'A', 1, 1);
    PlatFakeInjectChar(hwnd, 'a');
    PlatFakeInjectKey(hwnd, 'A', 0, 0);
    PlatFakeInjectKey(hwnd, PLAT_VK_LEFT, 1, 0);
    PlatFakeInjectKey(hwnd, PLAT_VK_LSHIFT, 1, 0);
    EXPECT_TRUE(PlatGetKeyDown(PLAT_VK_SHIFT));
    PlatFakeInjectKey(hwnd, PLAT_VK_F10, 1, 0);
    Drain();
    struct {
        uint32_t msg;
        uintptr_t wParam;
        uint32_t lParam;
    } want[] = {
        {PLAT_WM_KEYDOWN, 'A', 0x00000001u},
        {PLAT_WM_KEYDOWN, 'A', 0x40000001u},
        {PLAT_WM_CHAR, 'a', 0x00000001u},
        {PLAT_WM_KEYUP, 'A', 0xC0000001u},
        {PLAT_WM_KEYDOWN, PLAT_VK_LEFT, 0x01000001u},
        {PLAT_WM_KEYDOWN, PLAT_VK_SHIFT, 0x00000001u},
        {PLAT_WM_SYSKEYDOWN, PLAT_VK_F10, 0x00000001u},
    };
    ASSERT_EQ(g_vSeen.size(), std::size(want));
    for (size_t i = 0; i < std::size(want); i++) {
        EXPECT_EQ(g_vSeen[i].msg, want[i].msg) << i;
        EXPECT_EQ(g_vSeen[i].wParam, want[i].wParam) << i;
        EXPECT_EQ((uint32_t)g_vSeen[i].lParam, want[i].lParam) << i;
    }
    // Alt+F4 is a system key that closes the window through the default procedure.
    PlatFakeInjectKey(hwnd, PLAT_VK_LMENU, 1, 0);
    PlatFakeInjectKey(hwnd, PLAT_VK_F4, 1, 0);
    Drain();
    EXPECT_FALSE(PlatIsWindow(hwnd));
}

TEST_F(WindowTest, InjectedMouseBecomesMouseMessages)
{
    PLAT_HWND hwnd = Create();
    Drain();
    g_vSeen.clear();
    PlatFakeInjectMouseMove(hwnd, 10, -3);
    PlatFakeInjectMouseButton(hwnd, 1, 1, 10, 20);
    PlatFakeInjectMouseButton(hwnd, 2, 1, 11, 21);
    PlatFakeInjectMouseButton(hwnd, 1, 0, 12, 22);
    PlatFakeInjectMouseButton(hwnd, 5, 1, 1, 2);
    PlatFakeInjectMouseWheel(hwnd, -120, 4, 5);
    Drain();
    ASSERT_EQ(g_vSeen.size(), 6u);
    EXPECT_EQ(g_vSeen[0].msg, PLAT_WM_MOUSEMOVE);
    EXPECT_EQ((uint32_t)g_vSeen[0].lParam, 0xFFFD000Au);
    EXPECT_EQ(PlatGetXLParam(g_vSeen[0].lParam), 10);
    EXPECT_EQ(PlatGetYLParam(g_vSeen[0].lParam), -3);
    EXPECT_EQ(g_vSeen[1].msg, PLAT_WM_LBUTTONDOWN);
    EXPECT_EQ(g_vSeen[1].wParam, (uintptr_t)PLAT_MK_LBUTTON);
    EXPECT_EQ(g_vSeen[1].lParam, PlatMakeLParam(10, 20));
    EXPECT_EQ(g_vSeen[2].msg, PLAT_WM_RBUTTONDOWN);
    EXPECT_EQ(g_vSeen[2].wParam, (uintptr_t)(PLAT_MK_LBUTTON | PLAT_MK_RBUTTON));
    EXPECT_EQ(g_vSeen[3].msg, PLAT_WM_LBUTTONUP);
    EXPECT_EQ(g_vSeen[3].wParam, (uintptr_t)PLAT_MK_RBUTTON);
    EXPECT_EQ(g_vSeen[4].msg, PLAT_WM_XBUTTONDOWN);
    EXPECT_EQ(g_vSeen[4].wParam, (uintptr_t)(PLAT_MK_RBUTTON | PLAT_MK_XBUTTON2 | (PLAT_XBUTTON2 << 16)));
    // The wheel carries a signed delta in the high word and screen coordinates.
    EXPECT_EQ(g_vSeen[5].msg, PLAT_WM_MOUSEWHEEL);
    EXPECT_EQ((int16_t)(g_vSeen[5].wParam >> 16), -120);
    EXPECT_EQ(g_vSeen[5].lParam, PlatMakeLParam(100 + 8 + 4, 50 + 31 + 5));
    // The cursor's screen position is where the last move or button event put it.
    int32_t x = 0, y = 0;
    ASSERT_EQ(PlatGetCursorPos(&x, &y), 0);
    EXPECT_EQ(x, 100 + 8 + 1);
    EXPECT_EQ(y, 50 + 31 + 2);
    PlatFakeInjectMouseMove(hwnd, -20, 7);
    ASSERT_EQ(PlatGetCursorPos(&x, &y), 0);
    EXPECT_EQ(x, 100 + 8 - 20);
    EXPECT_EQ(y, 50 + 31 + 7);
}

TEST_F(WindowTest, SysCommandsAndGeometry)
{
    PLAT_HWND hwnd = Create(PLAT_WS_OVERLAPPEDWINDOW | PLAT_WS_VISIBLE);
    EXPECT_TRUE(PlatIsWindowVisible(hwnd));
    Drain();
    g_vSeen.clear();
    PlatFakeInjectMoveSize(hwnd, 200, 100, 816, 639);
    auto vSize = SeenOf(PLAT_WM_SIZE);
    ASSERT_EQ(vSize.size(), 1u);
    EXPECT_EQ(vSize[0].lParam, PlatMakeLParam(800, 600));
    auto vMove = SeenOf(PLAT_WM_MOVE);
    ASSERT_EQ(vMove.size(), 1u);
    EXPECT_EQ(vMove[0].lParam, PlatMakeLParam(208, 131));
    PLAT_RECT rc;
    ASSERT_EQ(PlatGetWindowRect(hwnd, &rc), 0);
    EXPECT_EQ(rc.left, 200);
    EXPECT_EQ(rc.bottom, 100 + 639);
    int w, h;
    PlatGetWindowFramebuffer(hwnd, nullptr, &w, &h, nullptr);
    EXPECT_EQ(w, 800);
    EXPECT_EQ(h, 600);

    PlatSendMessage(hwnd, PLAT_WM_SYSCOMMAND, PLAT_SC_MINIMIZE, 0);
    EXPECT_TRUE(PlatIsIconic(hwnd));
    PlatSendMessage(hwnd, PLAT_WM_SYSCOMMAND, PLAT_SC_RESTORE, 0);
    EXPECT_FALSE(PlatIsIconic(hwnd));
    PlatSendMessage(hwnd, PLAT_WM_NCLBUTTONDBLCLK, 2, 0);
    EXPECT_TRUE(PlatIsZoomed(hwnd));
    EXPECT_TRUE(PlatGetWindowStyle(hwnd) & PLAT_WS_MAXIMIZE);
    PlatSendMessage(hwnd, PLAT_WM_NCLBUTTONDBLCLK, 2, 0);
    EXPECT_FALSE(PlatIsZoomed(hwnd));
    ASSERT_EQ(PlatGetWindowRect(hwnd, &rc), 0);
    EXPECT_EQ(rc.left, 200);
    EXPECT_EQ(rc.right, 200 + 816);

    ASSERT_EQ(PlatSetWindowText(hwnd, "\x82\xa0\x82\xa2"), 0);
    char sz[4];
    EXPECT_EQ(PlatGetWindowText(hwnd, sz, sizeof sz), 2);  // the cut keeps whole characters
    EXPECT_STREQ(sz, "\x82\xa0");
    PlatPresentWindow(hwnd);
    EXPECT_EQ(PlatFakeGetPresentCount(hwnd), 1);
}

// A window with a maximise box and no sizing frame keeps its size when the user pulls its frame, yet
// is maximised and restored to that size; with a sizing frame the user's size holds. Which styles
// count as such a fixed size that the window manager may still maximise.
TEST_F(WindowTest, AFixedSizeWithAMaximiseBoxKeepsItsSizeButMaximises)
{
    const uint32_t nFixed = PLAT_WS_OVERLAPPEDWINDOW & ~static_cast<uint32_t>(PLAT_WS_THICKFRAME);
    const struct {
        uint32_t nStyle;
        int bFixed;
    } styles[] = {
        {nFixed, 1},
        {PLAT_WS_OVERLAPPEDWINDOW, 0},
        {nFixed & ~static_cast<uint32_t>(PLAT_WS_MAXIMIZEBOX), 0},
        {PLAT_WS_POPUP, 0},
        {nFixed | PLAT_WS_CHILD, 0},
    };
    for (const auto& c : styles) EXPECT_EQ(PlatIsFixedSizeMaximisable(c.nStyle), c.bFixed) << std::hex << c.nStyle;

    for (const int bThick : {0, 1}) {
        SCOPED_TRACE(bThick ? "sizing frame" : "fixed size");
        const PLAT_HWND hwnd = Create((bThick ? PLAT_WS_OVERLAPPEDWINDOW : nFixed) | PLAT_WS_VISIBLE);
        Drain();
        PLAT_RECT rc0, rc;
        ASSERT_EQ(PlatGetClientRect(hwnd, &rc0), 0);
        PlatFakeInjectFrameDrag(hwnd, rc0.right + 100, rc0.bottom + 50);
        ASSERT_EQ(PlatGetClientRect(hwnd, &rc), 0);
        EXPECT_EQ(rc.right, rc0.right + (bThick ? 100 : 0));
        EXPECT_EQ(rc.bottom, rc0.bottom + (bThick ? 50 : 0));
        PlatFakeInjectFrameDrag(hwnd, rc0.right, rc0.bottom);
        PlatSendMessage(hwnd, PLAT_WM_SYSCOMMAND, PLAT_SC_MAXIMIZE, 0);
        EXPECT_TRUE(PlatIsZoomed(hwnd));
        PlatSendMessage(hwnd, PLAT_WM_SYSCOMMAND, PLAT_SC_RESTORE, 0);
        EXPECT_FALSE(PlatIsZoomed(hwnd));
        ASSERT_EQ(PlatGetClientRect(hwnd, &rc), 0);
        EXPECT_EQ(rc.right, rc0.right);
        EXPECT_EQ(rc.bottom, rc0.bottom);
        PlatDestroyWindow(hwnd);
        Drain();
    }
}

TEST_F(WindowTest, AdjustWindowRectPerStyle)
{
    struct {
        uint32_t nStyle;
        int bMenu;
        PLAT_RECT want;
    } cases[] = {
        {PLAT_WS_POPUP, 0, {10, 20, 650, 500}},
        {PLAT_WS_POPUP | PLAT_WS_BORDER, 0, {9, 19, 651, 501}},
        {PLAT_WS_CAPTION | PLAT_WS_SYSMENU | PLAT_WS_MINIMIZEBOX, 0, {7, -6, 653, 503}},
        {PLAT_WS_OVERLAPPEDWINDOW, 0, {2, -11, 658, 508}},
        {PLAT_WS_OVERLAPPEDWINDOW, 1, {2, -31, 658, 508}},
        {PLAT_WS_POPUP | PLAT_WS_THICKFRAME, 0, {2, 12, 658, 508}},
    };
    for (auto& c : cases) {
        PLAT_RECT rc{10, 20, 650, 500};
        PlatAdjustWindowRect(&rc, c.nStyle, c.bMenu);
        EXPECT_EQ(rc.left, c.want.left) << std::hex << c.nStyle;
        EXPECT_EQ(rc.top, c.want.top) << std::hex << c.nStyle;
        EXPECT_EQ(rc.right, c.want.right) << std::hex << c.nStyle;
        EXPECT_EQ(rc.bottom, c.want.bottom) << std::hex << c.nStyle;
        if (c.bMenu) continue;
        // A window created with the outer rectangle has the original client rectangle.
        PLAT_HWND hwnd = PlatCreateWindow("KxTest", "", c.nStyle, rc.left, rc.top, rc.right - rc.left,
                                          rc.bottom - rc.top, 0, RecordingProc, nullptr);
        PLAT_RECT rcClient;
        ASSERT_EQ(PlatGetClientRect(hwnd, &rcClient), 0);
        EXPECT_EQ(rcClient.right, 640);
        EXPECT_EQ(rcClient.bottom, 480);
        int32_t x = 0, y = 0;
        PlatClientToScreen(hwnd, &x, &y);
        EXPECT_EQ(x, 10);
        EXPECT_EQ(y, 20);
        PlatDestroyWindow(hwnd);
    }
}

TEST_F(WindowTest, DroppedFilesAreListed)
{
    PLAT_HWND hwnd = Create();
    Drain();
    const char* apsz[] = {"C:\\a\\b.txt", "d\\e"};
    PlatFakeInjectDropFiles(hwnd, apsz, 2);
    g_vSeen.clear();
    Drain();
    auto v = SeenOf(PLAT_WM_DROPFILES);
    ASSERT_EQ(v.size(), 1u);
    uintptr_t hDrop = v[0].wParam;
    EXPECT_EQ(PlatDragQueryFileCount(hDrop), 2);
    char sz[64];
    EXPECT_EQ(PlatDragQueryFile(hDrop, 1, sz, sizeof sz), 3);
    EXPECT_STREQ(sz, "d\\e");
    EXPECT_EQ(PlatDragQueryFile(hDrop, 0, sz, 4), -1);
    EXPECT_EQ(PlatDragQueryFile(hDrop, 2, sz, sizeof sz), -1);
    PlatDragFinish(hDrop);
    EXPECT_EQ(PlatDragQueryFileCount(hDrop), -1);
}

}  // namespace

namespace {

// The SDL backend under the dummy video driver: a window is made, shown, drawn and closed.
TEST(WindowSdlTest, DummyDriverWindowLifecycle)
{
    if (PlatInitWindowSystem(PLAT_BACKEND_SDL) != 0) GTEST_SKIP() << "no SDL video driver";
    PLAT_HWND hwnd = PlatCreateWindow("KxSdl", "\x82\xa0", PLAT_WS_OVERLAPPEDWINDOW | PLAT_WS_VISIBLE, 0, 0, 336,
                                      271, 0, PlatDefWindowProc, nullptr);
    ASSERT_NE(hwnd, 0u);
    PLAT_RECT rc;
    ASSERT_EQ(PlatGetClientRect(hwnd, &rc), 0);
    EXPECT_EQ(rc.right, 320);
    EXPECT_EQ(rc.bottom, 232);
    EXPECT_EQ(PlatPresentWindow(hwnd), 0);
    PlatPostMessage(hwnd, PLAT_WM_SYSCOMMAND, PLAT_SC_CLOSE, 0);
    PLAT_MSG m;
    for (int i = 0; i < 100 && PlatIsWindow(hwnd) && PlatPeekMessage(&m, PLAT_PM_REMOVE); i++) PlatDispatchMessage(&m);
    EXPECT_FALSE(PlatIsWindow(hwnd));
    PlatShutdownWindowSystem();
}

// On the SDL backend a part presented after a whole picture leaves the window showing what a whole
// presentation shows, with and without the menu bar's strip above the picture, for parts inside the
// client, at its edges and beyond them.
TEST(WindowSdlTest, PartPresentShowsWhatAWholeOneShows)
{
    if (PlatInitWindowSystem(PLAT_BACKEND_SDL) != 0) GTEST_SKIP() << "no SDL video driver";
    PLAT_HWND hwnd = PlatCreateWindow("KxSdl", "t", PLAT_WS_POPUP | PLAT_WS_VISIBLE, 0, 0, 64, 48, 0,
                                      PlatDefWindowProc, nullptr);
    ASSERT_NE(hwnd, 0u);
    const PLAT_RECT parts[] = {{0, 0, 1, 1}, {10, 7, 30, 20}, {63, 47, 64, 48}, {0, 0, 64, 48}, {-5, -5, 3, 60},
                               {50, 40, 90, 90}};
    for (int bBar = 0; bBar < 2; ++bBar) {
        SCOPED_TRACE(bBar ? "with a menu bar" : "without a menu bar");
        if (bBar) {
            const PLAT_HMENU hBar = PlatCreateMenu();
            PLAT_MENU_ITEM item{};
            item.nType = PLAT_MFT_STRING;
            item.nId = 1;
            item.strCaption = "File";
            ASSERT_EQ(PlatInsertMenuItem(hBar, 0, &item), 0);
            ASSERT_EQ(PlatSetMenu(hwnd, hBar), 0);
        }
        uint32_t* pPixels = nullptr;
        int w = 0, h = 0, nPitch = 0;
        ASSERT_EQ(PlatGetWindowFramebuffer(hwnd, &pPixels, &w, &h, &nPitch), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) pPixels[size_t(y) * (nPitch / 4) + x] = 0xFF000000u | uint32_t(x * 4 << 8) | uint32_t(y * 5);
        ASSERT_EQ(PlatPresentWindow(hwnd), 0);
        uint32_t nSeed = 1;
        for (const PLAT_RECT& rc : parts) {
            SCOPED_TRACE(testing::Message() << rc.left << "," << rc.top << " - " << rc.right << "," << rc.bottom);
            nSeed = nSeed * 1103515245u + 12345u;
            for (int y = std::max(rc.top, 0); y < std::min(rc.bottom, h); ++y)
                for (int x = std::max(rc.left, 0); x < std::min(rc.right, w); ++x)
                    pPixels[size_t(y) * (nPitch / 4) + x] ^= (nSeed >> 8) & 0xFFFFFFu;
            ASSERT_EQ(PlatPresentWindowRect(hwnd, &rc), 0);
            std::vector<uint32_t> part, whole;
            int pw = 0, ph = 0, ww = 0, wh = 0;
            ASSERT_EQ(PlatReadWindowPixels(hwnd, &part, &pw, &ph), 0);
            ASSERT_EQ(PlatPresentWindow(hwnd), 0);
            ASSERT_EQ(PlatReadWindowPixels(hwnd, &whole, &ww, &wh), 0);
            ASSERT_EQ(pw, ww);
            ASSERT_EQ(ph, wh);
            EXPECT_EQ(ph, h + (bBar ? PLAT_MENU_BAR_HEIGHT : 0));
            EXPECT_TRUE(part == whole);
        }
    }
    PlatDestroyWindow(hwnd);
    PlatShutdownWindowSystem();
}

// One close gesture is one close request, whatever the window system sends for it: the window's close
// event, the same twice, or followed by SDL's application quit event. A later gesture is a new one.
TEST(WindowSdlTest, OneCloseRequestPerCloseGesture)
{
    if (PlatInitWindowSystem(PLAT_BACKEND_SDL) != 0) GTEST_SKIP() << "no SDL video driver";
    PLAT_HWND hwnd = PlatCreateWindow("KxSdl", "t", PLAT_WS_OVERLAPPEDWINDOW | PLAT_WS_VISIBLE, 0, 0, 336, 271, 0,
                                      PlatDefWindowProc, nullptr);
    ASSERT_NE(hwnd, 0u);
    uint32_t nWindowId = 0;
    for (uint32_t id = 1; id < 64 && !nWindowId; ++id)
        if (SDL_Window* pWin = SDL_GetWindowFromID(id))
            if ((PLAT_HWND)(uintptr_t)SDL_GetWindowData(pWin, "kxhwnd") == hwnd) nWindowId = id;
    ASSERT_NE(nWindowId, 0u);
    const auto PushClose = [&] {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.event = SDL_WINDOWEVENT_CLOSE;
        e.window.windowID = nWindowId;
        SDL_PushEvent(&e);
    };
    const auto PushQuit = [] {
        SDL_Event e{};
        e.type = SDL_QUIT;
        SDL_PushEvent(&e);
    };
    const auto CloseRequests = [&] {
        int n = 0;
        PLAT_MSG m;
        while (PlatPeekMessage(&m, PLAT_PM_REMOVE)) {
            if (m.hwnd == hwnd && m.message == PLAT_WM_SYSCOMMAND && m.wParam == PLAT_SC_CLOSE) ++n;
            else PlatDispatchMessage(&m);
        }
        return n;
    };
    PushClose();
    PushQuit();
    EXPECT_EQ(CloseRequests(), 1);
    SDL_Delay(300);
    PushClose();
    PushClose();
    EXPECT_EQ(CloseRequests(), 1);
    SDL_Delay(300);
    PushQuit();   // the session asks the program to end: the first window is asked to close
    EXPECT_EQ(CloseRequests(), 1);

    // The events' own times decide, whatever the clock says now (SDL_PeepEvents keeps a time given):
    // the first millisecond's time 0 is a time like any other, and SDL's clock may wrap between a
    // close and its echo.
    const auto Add = [&](uint32_t nType, uint32_t nTicks) {
        SDL_Event e;
        std::memset(&e, 0, sizeof e);
        e.type = nType;
        e.common.timestamp = nTicks;
        if (nType == SDL_WINDOWEVENT) {
            e.window.event = SDL_WINDOWEVENT_CLOSE;
            e.window.windowID = nWindowId;
        }
        ASSERT_EQ(SDL_PeepEvents(&e, 1, SDL_ADDEVENT, 0, 0), 1);
    };
    const struct {
        uint32_t nFirstType, nFirstTicks, nSecondType, nSecondTicks;
        int nRequests;
    } cases[] = {
        {SDL_WINDOWEVENT, 0, SDL_QUIT, 0, 1},
        {SDL_WINDOWEVENT, 10000, SDL_WINDOWEVENT, 10000, 1},
        {SDL_WINDOWEVENT, 20000, SDL_QUIT, 20250, 1},
        {SDL_WINDOWEVENT, 30000, SDL_QUIT, 30251, 2},
        {SDL_WINDOWEVENT, 0xFFFFFFF0u, SDL_QUIT, 0x10, 1},
        {SDL_QUIT, 40000, SDL_WINDOWEVENT, 40000, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nFirstTicks << " then " << c.nSecondTicks);
        Add(c.nFirstType, c.nFirstTicks);
        Add(c.nSecondType, c.nSecondTicks);
        EXPECT_EQ(CloseRequests(), c.nRequests);
    }
    PlatShutdownWindowSystem();
}

}  // namespace

namespace {

// Stacking, flashing, shapes and cursors on the SDL backend under the dummy driver, which has no
// cursors, no flashing and no shape extension: the engine's side of each stays whole.
TEST(WindowSdlTest, DummyDriverStackingShapesAndCursors)
{
    if (PlatInitWindowSystem(PLAT_BACKEND_SDL) != 0) GTEST_SKIP() << "no SDL video driver";
    const PLAT_HWND a = PlatCreateWindow("KxSdl", "a", PLAT_WS_OVERLAPPEDWINDOW | PLAT_WS_VISIBLE, 0, 0, 200, 150, 0,
                                         PlatDefWindowProc, nullptr);
    const PLAT_HWND b = PlatCreateWindow("KxSdl", "b", PLAT_WS_OVERLAPPEDWINDOW | PLAT_WS_VISIBLE, 0, 0, 200, 150, 0,
                                         PlatDefWindowProc, nullptr);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_EQ(PlatGetWindowZOrder(b, nullptr), 0);
    EXPECT_EQ(PlatSetWindowZOrder(a, PLAT_Z_TOPMOST, 0), 0);
    int bTopmost = 0;
    EXPECT_EQ(PlatGetWindowZOrder(a, &bTopmost), 0);
    EXPECT_EQ(bTopmost, 1);
    EXPECT_EQ(PlatSetWindowZOrder(b, PLAT_Z_TOP, 0), 0);
    EXPECT_EQ(PlatGetWindowZOrder(b, nullptr), 1);   // in front of the others, behind the topmost one
    EXPECT_EQ(PlatSetWindowZOrder(a, PLAT_Z_BOTTOM, 0), 0);
    EXPECT_EQ(PlatGetWindowZOrder(a, &bTopmost), 1);
    EXPECT_EQ(bTopmost, 0);
    EXPECT_EQ(PlatSetWindowZOrder(a, PLAT_Z_BEHIND, 12345), -1);
    EXPECT_EQ(PlatFlashWindow(a, 2, 100), -1);   // the dummy driver cannot flash
    EXPECT_EQ(PlatGetFlashCount(a, nullptr), 1);

    const PLAT_RECT rects[2] = {{0, 0, 10, 1}, {2, 1, 4, 2}};
    ASSERT_EQ(PlatSetWindowRegion(a, rects, 2), 0);
    std::vector<PLAT_RECT> v;
    EXPECT_EQ(PlatReadWindowRegion(a, &v), 1);
    EXPECT_EQ(v.size(), 2u);

    const PLAT_CURSOR hWait = PlatLoadCursor(PLAT_IDC_WAIT);
    EXPECT_NE(hWait, 0u);
    EXPECT_EQ(PlatLoadCursor(PLAT_IDC_WAIT), hWait);   // shared
    EXPECT_EQ(PlatLoadCursor(12345), 0u);
    EXPECT_NE(PlatLoadCursor(PLAT_IDC_HELP), 0u);
    const uint32_t px[4] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu, 0x00FFFFFFu};   // no alpha: opaque
    const PLAT_CURSOR hMade = PlatCreateColorCursor(reinterpret_cast<const uint8_t*>(px), 2, 2, 8, 1, 1, 0);
    ASSERT_NE(hMade, 0u);
    PLAT_CURSOR_INFO info;
    ASSERT_EQ(PlatGetCursorInfo(hMade, &info), 0);
    EXPECT_EQ(info.pixels[0], 0xFFFF0000u);
    EXPECT_EQ(PlatCreateColorCursor(reinterpret_cast<const uint8_t*>(px), 257, 1, 1028, 0, 0, 0), 0u);
    EXPECT_EQ(PlatSetWindowCursor(a, hMade), 0);
    EXPECT_EQ(PlatGetWindowCursor(a), hMade);
    PlatDestroyCursor(hMade);
    EXPECT_EQ(PlatGetWindowCursor(a), 0u);   // back to the arrow
    EXPECT_EQ(PlatGetCursorInfo(hMade, &info), -1);
    PlatDestroyCursor(hWait);                // standard cursors stay
    EXPECT_EQ(PlatGetCursorInfo(hWait, &info), 0);
    EXPECT_EQ(PlatSetWindowCursor(a, hWait), 0);
    PlatDestroyWindow(a);
    PlatDestroyWindow(b);
    PlatShutdownWindowSystem();
}

}  // namespace
