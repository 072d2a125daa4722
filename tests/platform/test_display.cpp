// The display model on the Fake window system: monitors, modes, fullscreen windows, the cursor.
#include <gtest/gtest.h>

#include <vector>

#include "platform/plat_display.h"
#include "platform/plat_sysinfo.h"
#include "platform/plat_window.h"

namespace {

std::vector<uint32_t> g_vMsgs;
intptr_t RecordingProc(PLAT_HWND hwnd, uint32_t msg, uintptr_t wParam, intptr_t lParam)
{
    if (msg == PLAT_WM_WINDOWPOSCHANGED || msg == PLAT_WM_MOVE || msg == PLAT_WM_SIZE) g_vMsgs.push_back(msg);
    return PlatDefWindowProc(hwnd, msg, wParam, lParam);
}

PLAT_RECT Client(PLAT_HWND h)
{
    PLAT_RECT rc{};
    EXPECT_EQ(PlatReadWindowClientRect(h, &rc), 0);
    return rc;
}
bool Same(const PLAT_RECT& a, const PLAT_RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

const PLAT_DISPLAY_MODE kModes[] = {{1920, 1080, 32, 60}, {1280, 720, 32, 60}};
const PLAT_FAKE_MONITOR kMonitors[2] = {
    {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, {1920, 1080, 32, 60}}, kModes, 2},
    {{{1920, 200, 3200, 1224}, {1920, 200, 3200, 1224}, {1280, 1024, 32, 60}}, nullptr, 0},
};

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_vMsgs.clear();
        PlatFakeSetMonitors(kMonitors, 2);
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
    }
    void TearDown() override
    {
        PlatShutdownWindowSystem();
        PlatFakeSetMonitors(nullptr, 0);
        PlatFakeRefuseFullscreen(0);
    }
};

TEST_F(DisplayTest, MonitorsModesAndTheNearestMonitor)
{
    ASSERT_EQ(PlatGetMonitorCount(), 2);
    PLAT_MONITOR_INFO mi{};
    ASSERT_EQ(PlatGetMonitorInfo(0, &mi), 0);
    EXPECT_EQ(mi.rcWork.bottom, 1040);
    EXPECT_EQ(PlatGetMonitorInfo(2, &mi), -1);
    EXPECT_EQ(PlatGetMonitorInfo(-1, &mi), -1);
    PLAT_DISPLAY_MODE m{};
    ASSERT_EQ(PlatGetDisplayMode(0, 1, &m), 0);
    EXPECT_EQ(m.nWidth, 1280);
    EXPECT_EQ(PlatGetDisplayMode(0, 2, &m), -1);
    EXPECT_EQ(PlatGetDisplayMode(1, 0, &m), -1);
    // Inside one, then outside both: the nearest one (the second starts lower).
    EXPECT_EQ(PlatMonitorFromPoint(2000, 300), 1);
    EXPECT_EQ(PlatMonitorFromPoint(1919, 0), 0);
    EXPECT_EQ(PlatMonitorFromPoint(2500, 50), 1);
    EXPECT_EQ(PlatMonitorFromPoint(1000, 2000), 0);
    EXPECT_EQ(PlatMonitorFromPoint(-500, -500), 0);

    // Without monitors set, one monitor with the desktop's size and mode.
    PlatFakeSetMonitors(nullptr, 0);
    const PLAT_DESKTOP_INFO desk{800, 600, 16, 75};
    PlatSetFakeDesktopInfo(&desk);
    ASSERT_EQ(PlatGetMonitorCount(), 1);
    ASSERT_EQ(PlatGetMonitorInfo(0, &mi), 0);
    EXPECT_TRUE(Same(mi.rcMonitor, PLAT_RECT{0, 0, 800, 600}));
    EXPECT_TRUE(Same(mi.rcWork, mi.rcMonitor));
    EXPECT_EQ(mi.desktop.nBits, 16);
    ASSERT_EQ(PlatGetDisplayMode(0, 0, &m), 0);
    EXPECT_EQ(m.nHeight, 600);
    EXPECT_EQ(PlatGetDisplayMode(0, 1, &m), -1);
    PlatSetFakeDesktopInfo(nullptr);

    // No window system, no monitors.
    PlatShutdownWindowSystem();
    EXPECT_EQ(PlatGetMonitorCount(), 0);
    EXPECT_EQ(PlatMonitorFromPoint(0, 0), -1);
    EXPECT_EQ(PlatSetCursorPos(1, 1), -1);
    ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
}

TEST_F(DisplayTest, FullscreenCoversTheMonitorAndGivesTheRectangleBack)
{
    const PLAT_HWND h = PlatCreateWindow("KxTest", "t", PLAT_WS_OVERLAPPEDWINDOW, 100, 50, 656, 519, 0, RecordingProc, nullptr);
    ASSERT_NE(h, 0u);
    const PLAT_RECT rcBefore = Client(h);
    g_vMsgs.clear();
    ASSERT_EQ(PlatSetWindowFullscreen(h, 1), 0);
    EXPECT_EQ(PlatIsWindowFullscreen(h), 1);
    EXPECT_TRUE(Same(Client(h), PLAT_RECT{1920, 200, 3200, 1224}));
    // The new placement as a whole first, then the move and the size.
    EXPECT_EQ(g_vMsgs, (std::vector<uint32_t>{PLAT_WM_WINDOWPOSCHANGED, PLAT_WM_MOVE, PLAT_WM_SIZE}));
    // Onto the other monitor while fullscreen: it still goes back to where it came from.
    ASSERT_EQ(PlatSetWindowFullscreen(h, 0), 0);
    EXPECT_TRUE(Same(Client(h), PLAT_RECT{0, 0, 1920, 1080}));
    ASSERT_EQ(PlatLeaveWindowFullscreen(h), 0);
    EXPECT_EQ(PlatIsWindowFullscreen(h), 0);
    EXPECT_TRUE(Same(Client(h), rcBefore));
    // Leaving again changes nothing.
    g_vMsgs.clear();
    EXPECT_EQ(PlatLeaveWindowFullscreen(h), 0);
    EXPECT_TRUE(g_vMsgs.empty());

    // Refused, or nothing to cover: the window stays as it is.
    PlatFakeRefuseFullscreen(1);
    EXPECT_EQ(PlatSetWindowFullscreen(h, 0), -1);
    PlatFakeRefuseFullscreen(0);
    EXPECT_EQ(PlatSetWindowFullscreen(h, 2), -1);
    const PLAT_HWND hChild = PlatCreateWindow("KxTest", "c", PLAT_WS_CHILD, 0, 0, 10, 10, h, RecordingProc, nullptr);
    EXPECT_EQ(PlatSetWindowFullscreen(hChild, 0), -1);
    EXPECT_TRUE(g_vMsgs.empty());
    EXPECT_EQ(PlatIsWindowFullscreen(h), 0);
    EXPECT_TRUE(Same(Client(h), rcBefore));
    EXPECT_EQ(PlatSetWindowFullscreen(0, 0), -1);
    EXPECT_EQ(PlatLeaveWindowFullscreen(0), -1);

    // The cursor is where it was put.
    ASSERT_EQ(PlatSetCursorPos(960, 540), 0);
    int32_t x = 0, y = 0;
    ASSERT_EQ(PlatGetCursorPos(&x, &y), 0);
    EXPECT_EQ(x, 960);
    EXPECT_EQ(y, 540);
}

}  // namespace
