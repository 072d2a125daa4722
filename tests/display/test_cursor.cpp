// The cursor over the main window: an idle cursor hides after the idle time, mouse input brings it
// back (as the reveal switches allow), and the engine's requests reach the platform once each.
#include <gtest/gtest.h>

#include "core/input_state.h"
#include "display/cursor.h"
#include "display/menus.h"
#include "platform/plat_time.h"
#include "script/engine_control.h"
#include "tests/display/window_test_support.h"

namespace {

class CursorTest : public WINDOW_TEST_FIXTURE {
protected:
    void SetUp() override
    {
        WINDOW_TEST_FIXTURE::SetUp();
        PlatUseFakeClock(1);
        PlatSetFakeTime(1000);
        g_bMenuHostShown = 0;
        for (int k = 0; k < 8; ++k) g_allKeyCounter[k] = -1;
        // As a created window has them.
        Main()->bRevealOnMove = Main()->bRevealOnButton = Main()->bRevealOnWheel = 1;
    }
    void TearDown() override
    {
        PlatUseFakeClock(0);
        WINDOW_TEST_FIXTURE::TearDown();
    }
    // One frame's cursor work at the given time; the state the platform was asked for.
    int FrameAt(uint32_t dwTime)
    {
        PlatSetFakeTime(dwTime);
        g_dwFrameTime = dwTime;
        UpdateCursorAutoHide();
        return PlatIsCursorShown();
    }
    WINDOW_STATE* Main() { return g_apWindowState[0]; }
};

}  // namespace

TEST_F(CursorTest, AnIdleCursorHidesAndMouseInputShowsItAgain)
{
    EXPECT_EQ(FrameAt(1000), 1);   // the idle time starts now
    EXPECT_EQ(FrameAt(3500), 1);   // exactly the idle time: not yet
    EXPECT_EQ(FrameAt(3501), 0);
    EXPECT_EQ(g_bCursorShown, 0);
    EXPECT_EQ(g_nCursorRequest, KX_CURSOR_REQUEST_NONE);

    // Each kind of mouse input reveals it and starts the idle time again.
    for (int nCode : {7, 1, 2, 4, 5, 6}) {
        SCOPED_TRACE(nCode);
        g_allKeyCounter[nCode] = 1;
        EXPECT_EQ(FrameAt(4000), 1);
        g_allKeyCounter[nCode] = -1;
        EXPECT_EQ(FrameAt(4000), 1);
        EXPECT_EQ(FrameAt(6501), 0);
    }
    // So does the menu-bar host over a fullscreen picture while it is shown.
    g_bMenuHostShown = 1;
    EXPECT_EQ(FrameAt(6600), 1);
    EXPECT_EQ(FrameAt(9200), 1);
    g_bMenuHostShown = 0;
    EXPECT_EQ(FrameAt(12000), 1);   // the idle time starts again
    EXPECT_EQ(FrameAt(14501), 0);
    // And a mouse outside the window.
    Main()->bMouseOutsideWindow = 1;
    EXPECT_EQ(FrameAt(14600), 1);
    EXPECT_EQ(FrameAt(20000), 1);
}

TEST_F(CursorTest, RevealSwitchesAndAutoHideOff)
{
    Main()->bRevealOnMove = 0;
    FrameAt(1000);
    EXPECT_EQ(FrameAt(4000), 0);
    g_allKeyCounter[7] = 5;   // moving does not bring it back
    EXPECT_EQ(FrameAt(4100), 0);
    g_allKeyCounter[1] = 1;   // a button does
    EXPECT_EQ(FrameAt(4200), 1);

    // Without auto-hide nothing hides it, but a request still goes through, once.
    g_bCursorAutoHide = 0;
    g_allKeyCounter[1] = g_allKeyCounter[7] = -1;
    EXPECT_EQ(FrameAt(90000), 1);
    g_nCursorRequest = KX_CURSOR_REQUEST_HIDE;
    g_bCursorShown = 0;
    EXPECT_EQ(FrameAt(90001), 0);
    EXPECT_EQ(g_nCursorRequest, KX_CURSOR_REQUEST_NONE);
    RequestCursorShow();
    EXPECT_EQ(g_nCursorRequest, KX_CURSOR_REQUEST_SHOW);
    EXPECT_EQ(FrameAt(90002), 1);
    RequestCursorShow();   // already shown: nothing to ask
    EXPECT_EQ(g_nCursorRequest, KX_CURSOR_REQUEST_NONE);
}

// An error box must be answerable: it shows a hidden cursor.
TEST_F(CursorTest, AnErrorBoxShowsTheCursor)
{
    FrameAt(1000);
    ASSERT_EQ(FrameAt(5000), 0);
    ReportError(100010, 0);
    EXPECT_EQ(PlatIsCursorShown(), 1);
    EXPECT_EQ(g_bCursorShown, 1);
}
