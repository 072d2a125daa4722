// Screen modes and monitors: the output size, the emulated display mode, fullscreen in and out on the
// Fake window system with two monitors, and one round trip on a real X11 window.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "display/display_hooks.h"
#include "display/screen_modes.h"
#include "display/menus.h"
#include "display/window_proc.h"
#include "platform/plat_display.h"
#include "platform/plat_time.h"
#include "script/script_hooks.h"
#include "tests/display/window_test_support.h"

namespace {

struct SIZE2 {
    int32_t w, h;
};
bool operator==(const SIZE2& a, const SIZE2& b) { return a.w == b.w && a.h == b.h; }
std::ostream& operator<<(std::ostream& os, const SIZE2& s) { return os << s.w << "x" << s.h; }

PLAT_RECT ClientRect(PLAT_HWND h)
{
    PLAT_RECT rc{};
    EXPECT_EQ(PlatReadWindowClientRect(h, &rc), 0);
    return rc;
}
bool SameRect(const PLAT_RECT& a, const PLAT_RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
std::string RectText(const PLAT_RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// ---- The output size --------------------------------------------------------------------------

TEST(OutputSize, EveryScaleModeOnA1920x1080Monitor)
{
    struct CASE {
        const char* pszName;
        int32_t lw, lh, tw, th;
        int nMode, bFitAlways;
        SIZE2 before, want;
    };
    const CASE cases[] = {
        // Fit: the height binds in a wide target, the width in a tall one.
        {"fit wide", 640, 480, 1920, 1080, KX_SCALE_FIT, 0, {1, 1}, {1440, 1080}},
        {"fit tall", 640, 480, 1000, 1200, KX_SCALE_FIT, 0, {1, 1}, {1000, 750}},
        {"fit same aspect", 640, 480, 800, 600, KX_SCALE_FIT, 0, {1, 1}, {800, 600}},
        // Cover takes the other side and is never halved, even when larger than the monitor.
        {"cover wide", 640, 480, 1920, 1080, KX_SCALE_COVER, 0, {1, 1}, {1920, 1440}},
        {"cover tall", 640, 480, 1000, 1200, KX_SCALE_COVER, 0, {1, 1}, {1600, 1200}},
        {"stretch", 640, 480, 1920, 1080, KX_SCALE_STRETCH, 0, {1, 1}, {1920, 1080}},
        {"none", 640, 480, 1920, 1080, KX_SCALE_NONE, 0, {1, 1}, {640, 480}},
        // Larger than the monitor: half the monitor in each direction.
        {"none larger than the monitor", 2560, 1440, 1920, 1080, KX_SCALE_NONE, 0, {1, 1}, {960, 540}},
        {"stretch wider than the monitor", 640, 480, 2000, 1000, KX_SCALE_STRETCH, 0, {1, 1}, {960, 540}},
        // A maximised window fits whatever the scale mode.
        {"maximised cover", 640, 480, 1920, 1080, KX_SCALE_COVER, 1, {1, 1}, {1440, 1080}},
        {"maximised none", 640, 480, 1904, 1001, KX_SCALE_NONE, 1, {1, 1}, {1334, 1001}},
        // An unknown mode keeps the size it had; the monitor rule still applies.
        {"unknown mode", 640, 480, 1920, 1080, 7, 0, {300, 200}, {300, 200}},
        {"unknown mode too large", 640, 480, 1920, 1080, 7, 0, {4000, 200}, {960, 540}},
        // Zero logical sizes do not divide by zero.
        {"fit zero height", 640, 0, 800, 600, KX_SCALE_FIT, 0, {1, 1}, {800, 0}},
        {"fit zero width", 0, 480, 800, 600, KX_SCALE_FIT, 0, {1, 1}, {0, 600}},
    };
    for (const CASE& c : cases) {
        SIZE2 s = c.before;
        ChooseOutputSize(c.lw, c.lh, c.tw, c.th, c.nMode, c.bFitAlways, 1920, 1080, &s.w, &s.h);
        EXPECT_EQ(s, c.want) << c.pszName;
    }
    // A monitor whose half is empty never turns the picture into nothing.
    for (SIZE2 mon : {SIZE2{0, 0}, SIZE2{1, 1}, SIZE2{1920, 1}}) {
        SIZE2 s{1, 1};
        ChooseOutputSize(640, 480, 640, 480, KX_SCALE_NONE, 0, mon.w, mon.h, &s.w, &s.h);
        EXPECT_EQ(s, (SIZE2{640, 480})) << "monitor " << mon;
    }
}

TEST(OutputSize, BestDisplayMode)
{
    const PLAT_DISPLAY_MODE m169[] = {
        {1920, 1080, 32, 60}, {1600, 900, 32, 60}, {1280, 720, 32, 60}, {1024, 768, 32, 60}, {640, 360, 32, 60}};
    const PLAT_DISPLAY_MODE mRising[] = {{1280, 720, 32, 60}, {1600, 900, 32, 60}, {1920, 1080, 32, 60}};
    const PLAT_DISPLAY_MODE mDepth[] = {{1280, 720, 16, 60}, {1600, 900, 32, 60}, {1920, 1080, 32, 60}};
    struct CASE {
        const char* pszName;
        const PLAT_DISPLAY_MODE* pModes;
        int nModes;
        int32_t mw, mh, lw, lh;
        int nFound;
        SIZE2 want;
    };
    const CASE cases[] = {
        {"1280x720 game on 1920x1080", m169, 5, 1920, 1080, 1280, 720, 1, {1280, 720}},
        {"smallest wins whatever the order", mRising, 3, 1920, 1080, 1280, 720, 1, {1280, 720}},
        {"a smaller game takes the smallest that holds it", m169, 5, 1920, 1080, 800, 450, 1, {1280, 720}},
        {"16:10 monitor, only 16:9 modes", m169, 5, 1920, 1200, 1280, 720, 0, {1920, 1200}},
        {"another depth does not qualify", mDepth, 3, 1920, 1080, 1280, 720, 1, {1600, 900}},
        {"a game larger than every mode", m169, 5, 1920, 1080, 2560, 1440, 0, {1920, 1080}},
        {"a monitor without a height", m169, 5, 1920, 0, 640, 360, 0, {1920, 0}},
        {"no modes", nullptr, 0, 1920, 1080, 640, 360, 0, {1920, 1080}},
    };
    for (const CASE& c : cases) {
        SIZE2 s{0, 0};
        EXPECT_EQ(FindBestDisplayMode(c.pModes, c.nModes, c.mw, c.mh, c.lw, c.lh, 32, &s.w, &s.h), c.nFound) << c.pszName;
        EXPECT_EQ(s, c.want) << c.pszName;
    }
}

// ---- Fullscreen on the Fake window system -------------------------------------------------------

// What the screen code asked of the menu bar: (window, fullscreen at the time) for each rebuild, the
// windows it was taken off.
struct MENU_CALL {
    PLAT_HWND hwnd;
    int bFullscreen;
};
std::vector<MENU_CALL> g_vMenuBuilt;
std::vector<PLAT_HWND> g_vMenuDetached;
int RecordMenuBar(const char*, PLAT_HWND hwnd)
{
    g_vMenuBuilt.push_back(MENU_CALL{hwnd, g_bFullscreen});
    return 0;
}
void RecordMenuDetach(PLAT_HWND hwnd) { g_vMenuDetached.push_back(hwnd); }

// Two monitors side by side: 1920x1080 with a panel at the bottom, and 1280x1024 to its right.
const PLAT_DISPLAY_MODE kModes0[] = {
    {1920, 1080, 32, 60}, {1600, 900, 32, 60}, {1280, 720, 16, 60}, {1280, 720, 32, 60}, {1024, 768, 32, 60}};
const PLAT_DISPLAY_MODE kModes1[] = {{1280, 1024, 32, 60}, {1024, 768, 32, 60}};

class ScreenModesTest : public WINDOW_TEST_FIXTURE {
protected:
    void SetUp() override
    {
        const PLAT_FAKE_MONITOR monitors[2] = {
            {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, {1920, 1080, 32, 60}}, kModes0, 5},
            {{{1920, 0, 3200, 1024}, {1920, 0, 3200, 1024}, {1280, 1024, 32, 60}}, kModes1, 2},
        };
        PlatFakeSetMonitors(monitors, 2);
        PlatFakeRefuseFullscreen(0);
        WINDOW_TEST_FIXTURE::SetUp();
        InstallWindowProc();
        g_DisplayHooks.pfnSetWindowMenuBar = RecordMenuBar;
        g_DisplayHooks.pfnDetachMenuBar = RecordMenuDetach;
        g_vMenuBuilt.clear();
        g_vMenuDetached.clear();
        g_bBestDisplayMode = 0;
        g_nScaleMode = KX_SCALE_FIT;
        g_rcMonitor = MONITOR_RECT{0, 0, 1920, 1080};
    }
    void TearDown() override
    {
        WINDOW_TEST_FIXTURE::TearDown();
        PlatFakeSetMonitors(nullptr, 0);
        PlatFakeRefuseFullscreen(0);
    }
    // The main window as start-up makes it: the logical size, centred on the first monitor, shown.
    PLAT_HWND MakeMain(int32_t w, int32_t h)
    {
        WINDOW_STATE* p = g_apWindowState[0];
        p->nWidth = w;
        p->nHeight = h;
        EXPECT_EQ(SetupMainWindowSizes(), 0);
        ResetWindowState(p, "main");
        g_anWindowCreated[0] = 1;
        EXPECT_EQ(CreateGameWindow(p, 0, g_szInstanceName, "main"), 1);
        PlatShowWindow(p->hWnd, PLAT_SW_SHOW);
        return p->hWnd;
    }
    static SIZE2 Target() { return SIZE2{g_nTargetWidth, g_nTargetHeight}; }
    static SIZE2 Output() { return SIZE2{g_nOutputWidth, g_nOutputHeight}; }
};

// In and out again: the window covers its monitor without a frame, the picture is fitted and
// centred, the cursor goes to the monitor's centre and the bar to the menu-bar host; back out, the
// window has its frame, place and sizes again and its menu bar is on the window itself.
TEST_F(ScreenModesTest, EnterAndLeaveBringBackGeometrySizesAndMenuBar)
{
    const PLAT_HWND h = MakeMain(640, 480);
    const PLAT_RECT rcBefore = ClientRect(h);
    const uint32_t nStyleBefore = PlatGetWindowStyle(h);
    ASSERT_EQ(Target(), (SIZE2{640, 480}));

    EXPECT_EQ(SetFullscreen(1), 1);
    EXPECT_EQ(g_bFullscreen, 1);
    EXPECT_EQ(PlatIsWindowFullscreen(h), 1);
    EXPECT_TRUE(SameRect(ClientRect(h), PLAT_RECT{0, 0, 1920, 1080})) << RectText(ClientRect(h));
    EXPECT_TRUE(PlatGetWindowStyle(h) & PLAT_WS_POPUP);
    EXPECT_EQ(PlatGetWindowStyle(h) & PLAT_WS_CAPTION, 0u);
    EXPECT_EQ(Target(), (SIZE2{1920, 1080}));
    EXPECT_EQ(Output(), (SIZE2{1440, 1080}));
    EXPECT_EQ(g_nOutputOffsetX, 240);
    EXPECT_EQ(g_nOutputOffsetY, 0);
    EXPECT_GE(GetOutputBufferCapacity(), 1440 * 1080);
    EXPECT_EQ(g_nFullSavedTargetWidth, 640);
    EXPECT_EQ(g_nFullSavedOutputHeight, 480);
    int32_t cx = 0, cy = 0;
    ASSERT_EQ(PlatGetCursorPos(&cx, &cy), 0);
    EXPECT_EQ(cx, 960);
    EXPECT_EQ(cy, 540);
    ASSERT_EQ(g_vMenuDetached.size(), 1u);
    EXPECT_EQ(g_vMenuDetached[0], h);
    ASSERT_EQ(g_vMenuBuilt.size(), 1u);
    EXPECT_EQ(g_vMenuBuilt[0].bFullscreen, 1);

    // A new game size in fullscreen fits the monitor again.
    g_apWindowState[0]->nWidth = 1280;
    g_apWindowState[0]->nHeight = 720;
    g_ScriptHooks.pfnComputeOutputSize();
    EXPECT_EQ(Output(), (SIZE2{1920, 1080}));
    g_apWindowState[0]->nWidth = 640;
    g_apWindowState[0]->nHeight = 480;

    EXPECT_EQ(SetFullscreen(0), 1);
    EXPECT_EQ(g_bFullscreen, 0);
    EXPECT_EQ(PlatIsWindowFullscreen(h), 0);
    EXPECT_TRUE(SameRect(ClientRect(h), rcBefore)) << RectText(ClientRect(h)) << " expected " << RectText(rcBefore);
    EXPECT_EQ(PlatGetWindowStyle(h), nStyleBefore);
    EXPECT_EQ(Target(), (SIZE2{640, 480}));
    EXPECT_EQ(Output(), (SIZE2{640, 480}));
    EXPECT_EQ(g_nOutputOffsetX, 0);
    EXPECT_EQ(g_nOutputOffsetY, 0);
    EXPECT_EQ(g_nFullSavedTargetWidth, 0);
    EXPECT_EQ(g_nFullSavedOutputWidth, 0);
    // The bar is built again while the window is already windowed, so it lands on the window.
    ASSERT_EQ(g_vMenuBuilt.size(), 2u);
    EXPECT_EQ(g_vMenuBuilt[1].hwnd, h);
    EXPECT_EQ(g_vMenuBuilt[1].bFullscreen, 0);
    ASSERT_EQ(g_vMenuDetached.size(), 2u);
    EXPECT_EQ(g_vMenuDetached[1], g_hMenuHostWnd);

    // The same mode again changes nothing; a value other than 1 is the windowed mode and is never
    // stored as it is.
    EXPECT_EQ(SetFullscreen(0), 0);
    EXPECT_EQ(SetFullscreen(1), 1);
    EXPECT_EQ(SetFullscreen(2), 1);
    EXPECT_EQ(g_bFullscreen, 0);
    EXPECT_TRUE(SameRect(ClientRect(h), rcBefore));
    EXPECT_TRUE(errors.reports.empty());
}

// The display mode a switch would choose is emulated by scaling: what the player sees is what the
// switched monitor would show.
TEST_F(ScreenModesTest, TheChosenDisplayModeIsEmulatedByScaling)
{
    struct CASE {
        const char* pszName;
        int32_t lw, lh;
        uint8_t bBest;
        int nScale;
        SIZE2 mode, output;
    };
    const CASE cases[] = {
        // 1280x720 is the smallest 16:9 mode at the desktop's depth that holds the game: shown 1:1 in
        // that mode, which fills the monitor.
        {"best mode, none", 1280, 720, 1, KX_SCALE_NONE, {1280, 720}, {1920, 1080}},
        {"best mode, fit", 1280, 720, 1, KX_SCALE_FIT, {1280, 720}, {1920, 1080}},
        // 640x480 in the 1024x768 mode would not keep the monitor's aspect: 1280x720 is chosen.
        {"best mode, 4:3 game", 640, 480, 1, KX_SCALE_NONE, {1280, 720}, {960, 720}},
        {"monitor size, none", 1280, 720, 0, KX_SCALE_NONE, {1920, 1080}, {1280, 720}},
        {"monitor size, stretch", 640, 480, 0, KX_SCALE_STRETCH, {1920, 1080}, {1920, 1080}},
        // A game larger than every mode: the monitor's size, and half of it for an unscaled picture.
        {"too large for every mode", 2560, 1440, 1, KX_SCALE_NONE, {1920, 1080}, {960, 540}},
    };
    const PLAT_HWND h = MakeMain(640, 480);
    for (const CASE& c : cases) {
        g_apWindowState[0]->nWidth = c.lw;
        g_apWindowState[0]->nHeight = c.lh;
        g_bBestDisplayMode = c.bBest;
        g_nScaleMode = c.nScale;
        ASSERT_EQ(SetFullscreen(1), 1) << c.pszName;
        EXPECT_EQ((SIZE2{g_nFullscreenModeWidth, g_nFullscreenModeHeight}), c.mode) << c.pszName;
        EXPECT_EQ(Target(), (SIZE2{1920, 1080})) << c.pszName;
        EXPECT_EQ(Output(), c.output) << c.pszName;
        EXPECT_EQ(g_nOutputOffsetX, (1920 - c.output.w) / 2) << c.pszName;
        EXPECT_EQ(g_nOutputOffsetY, (1080 - c.output.h) / 2) << c.pszName;
        ASSERT_EQ(SetFullscreen(0), 1) << c.pszName;
        EXPECT_EQ(PlatIsWindowFullscreen(h), 0) << c.pszName;
    }
}

// A refused fullscreen leaves the window windowed as it was: place, frame, sizes and menu bar, with
// a non-fatal error. A window without a frame gets one when it leaves fullscreen.
TEST_F(ScreenModesTest, ARefusedChangeLeavesTheWindowAsItWas)
{
    const PLAT_HWND h = MakeMain(640, 480);
    const PLAT_RECT rcBefore = ClientRect(h);
    const uint32_t nStyleBefore = PlatGetWindowStyle(h);
    g_bDirect3D = 1;
    PlatFakeRefuseFullscreen(1);
    EXPECT_EQ(SetFullscreen(1), 0);
    EXPECT_EQ(g_bFullscreen, 0);
    EXPECT_EQ(PlatIsWindowFullscreen(h), 0);
    EXPECT_TRUE(SameRect(ClientRect(h), rcBefore)) << RectText(ClientRect(h));
    EXPECT_EQ(PlatGetWindowStyle(h), nStyleBefore);
    EXPECT_EQ(Target(), (SIZE2{640, 480}));
    EXPECT_EQ(Output(), (SIZE2{640, 480}));
    EXPECT_EQ(g_nOutputOffsetX, 0);
    EXPECT_EQ(g_nFullSavedTargetWidth, 0);
    EXPECT_EQ(g_bResetRequest, 0);
    ASSERT_EQ(errors.reports.size(), 1u);
    EXPECT_EQ(errors.reports[0].nId, KX_ERR_DISPLAY_MODE);
    EXPECT_EQ(errors.reports[0].bFatal, 0);
    EXPECT_EQ(g_bEngineStop, 0);
    ASSERT_FALSE(g_vMenuBuilt.empty());
    EXPECT_EQ(g_vMenuBuilt.back().hwnd, h);
    EXPECT_EQ(g_vMenuBuilt.back().bFullscreen, 0);
    // The window stays usable: once allowed, fullscreen works.
    PlatFakeRefuseFullscreen(0);
    EXPECT_EQ(SetFullscreen(1), 1);
    EXPECT_EQ(g_bResetRequest, 1);
    EXPECT_EQ(SetFullscreen(0), 1);
}

TEST_F(ScreenModesTest, ABorderlessWindowLeavesFullscreenFramed)
{
    g_bFramedWindow = 0;
    const PLAT_HWND h = MakeMain(640, 480);
    const PLAT_RECT rcBefore = ClientRect(h);
    ASSERT_TRUE(PlatGetWindowStyle(h) & PLAT_WS_POPUP);
    ASSERT_EQ(SetFullscreen(1), 1);
    ASSERT_EQ(SetFullscreen(0), 1);
    const uint32_t nStyle = PlatGetWindowStyle(h);
    EXPECT_EQ(nStyle & PLAT_WS_POPUP, 0u);
    EXPECT_EQ(nStyle & PLAT_WS_CAPTION, PLAT_WS_CAPTION);
    EXPECT_EQ(nStyle & PLAT_WS_THICKFRAME, 0u);   // not resizable
    // The picture keeps its place and size; the frame grows around it.
    EXPECT_TRUE(SameRect(ClientRect(h), rcBefore)) << RectText(ClientRect(h));
    EXPECT_EQ(Output(), (SIZE2{640, 480}));
}

// Shut-down leaves fullscreen while the engine stops: the window is given back its place and sizes
// (it keeps its fullscreen frame and gets no menu bar, as it is about to go).
TEST_F(ScreenModesTest, ShutDownLeavesFullscreen)
{
    const PLAT_HWND h = MakeMain(640, 480);
    const PLAT_RECT rcBefore = ClientRect(h);
    ASSERT_EQ(SetFullscreen(1), 1);
    const size_t nBuilt = g_vMenuBuilt.size();
    g_bEngineStop = 1;
    EXPECT_EQ(g_EngineHooks.pfnLeaveFullscreen(), 0);
    EXPECT_EQ(PlatIsWindowFullscreen(h), 0);
    EXPECT_EQ(g_bFullscreen, 0);
    EXPECT_TRUE(SameRect(ClientRect(h), rcBefore)) << RectText(ClientRect(h));
    EXPECT_EQ(Target(), (SIZE2{640, 480}));
    EXPECT_EQ(g_vMenuBuilt.size(), nBuilt);
    // A fullscreen window destroyed on an error path leaves nothing behind.
    g_bEngineStop = 0;
    ASSERT_EQ(SetFullscreen(1), 1);
    PlatDestroyWindow(h);
    EXPECT_EQ(PlatIsWindowFullscreen(h), 0);
    EXPECT_EQ(PlatLeaveWindowFullscreen(h), -1);
}

// Moving the main window across the two monitors: the monitor under its centre becomes the current
// one; a new monitor asks for a device reset only with Direct3D drawing in the plain windowed state.
// Fullscreen then covers the monitor the window is on and brings it back there.
TEST_F(ScreenModesTest, TheMonitorFollowsTheWindowAcrossTwoMonitors)
{
    const PLAT_HWND h = MakeMain(640, 480);
    struct CASE {
        const char* pszName;
        uint8_t bDirect3D, bMaximized;
        int x, y;   // outer position
        int nMonitor;
        MONITOR_RECT rc;
        uint8_t bReset;
    };
    const CASE cases[] = {
        {"onto the second", 0, 0, 2200, 100, 1, {1920, 0, 1280, 1024}, 0},
        {"back to the first", 1, 0, 100, 100, 0, {0, 0, 1920, 1080}, 1},
        {"centre decides, not the corner", 1, 0, 1500, 100, 0, {0, 0, 1920, 1080}, 0},
        {"centre over the edge", 1, 0, 1700, 100, 1, {1920, 0, 1280, 1024}, 1},
        {"below both: the nearest", 1, 1, 2100, 1500, 1, {1920, 0, 1280, 1024}, 0},
        {"maximised: no reset", 1, 1, 100, 100, 0, {0, 0, 1920, 1080}, 0},
    };
    for (const CASE& c : cases) {
        g_bDirect3D = c.bDirect3D;
        g_bMaximized = c.bMaximized;
        g_bResetRequest = 0;
        PlatFakeInjectMoveSize(h, c.x, c.y, 640 + 6, 480 + 29);
        EXPECT_EQ(g_nMonitorNumber, c.nMonitor) << c.pszName;
        EXPECT_EQ(g_rcMonitor.nLeft, c.rc.nLeft) << c.pszName;
        EXPECT_EQ(g_rcMonitor.nWidth, c.rc.nWidth) << c.pszName;
        EXPECT_EQ(g_rcMonitor.nHeight, c.rc.nHeight) << c.pszName;
        EXPECT_EQ(g_nDesktopWidth, c.rc.nWidth) << c.pszName;
        EXPECT_EQ(g_nDesktopHeight, c.rc.nHeight) << c.pszName;
        EXPECT_EQ(g_bResetRequest, c.bReset) << c.pszName;
    }
    g_bMaximized = 0;
    g_bDirect3D = 0;

    PlatFakeInjectMoveSize(h, 2200, 100, 640 + 6, 480 + 29);
    const PLAT_RECT rcBefore = ClientRect(h);
    ASSERT_EQ(rcBefore.left, 2203);
    ASSERT_EQ(SetFullscreen(1), 1);
    EXPECT_TRUE(SameRect(ClientRect(h), PLAT_RECT{1920, 0, 3200, 1024})) << RectText(ClientRect(h));
    EXPECT_EQ(Target(), (SIZE2{1280, 1024}));
    EXPECT_EQ(Output(), (SIZE2{1280, 960}));
    EXPECT_EQ(g_nOutputOffsetY, 32);
    int32_t cx = 0, cy = 0;
    ASSERT_EQ(PlatGetCursorPos(&cx, &cy), 0);
    EXPECT_EQ(cx, 1920 + 640);
    EXPECT_EQ(cy, 512);
    ASSERT_EQ(SetFullscreen(0), 1);
    EXPECT_TRUE(SameRect(ClientRect(h), rcBefore)) << RectText(ClientRect(h));
    EXPECT_EQ(g_nMonitorNumber, 1);
}

// Maximised, the picture fits the client whatever the scale mode, centred; restored, the sizes come
// back. The window manager's new size reaches the engine as the window's new placement.
TEST_F(ScreenModesTest, MaximisedFitsTheClientAndRestoreBringsBackTheSizes)
{
    const PLAT_HWND h = MakeMain(640, 480);
    g_nScaleMode = KX_SCALE_NONE;
    PlatSendMessage(h, PLAT_WM_SYSCOMMAND, PLAT_SC_MAXIMIZE, 0);
    ASSERT_EQ(g_bMaximized, 1);
    ASSERT_TRUE(PlatIsZoomed(h));
    // The window manager fills the work area (the window is resizable while maximised).
    PlatFakeInjectMoveSize(h, 0, 0, 1920, 1040);
    PLAT_RECT rc{};
    PlatGetClientRect(h, &rc);
    EXPECT_EQ(Target(), (SIZE2{rc.right, rc.bottom}));
    EXPECT_EQ(Output(), (SIZE2{rc.bottom * 640 / 480, rc.bottom}));
    EXPECT_EQ(g_nOutputOffsetX, (rc.right - rc.bottom * 640 / 480) / 2);
    EXPECT_EQ(g_nOutputOffsetY, 0);

    PlatSendMessage(h, PLAT_WM_SYSCOMMAND, PLAT_SC_RESTORE, 0);
    EXPECT_EQ(g_bMaximized, 0);
    EXPECT_EQ(Target(), (SIZE2{640, 480}));
    EXPECT_EQ(Output(), (SIZE2{640, 480}));
    EXPECT_EQ(g_nOutputOffsetX, 0);
    PlatGetClientRect(h, &rc);
    EXPECT_EQ(rc.right, 640);
    EXPECT_EQ(rc.bottom, 480);

    // Fullscreen from maximised comes back windowed with the sizes from before maximising.
    PlatSendMessage(h, PLAT_WM_SYSCOMMAND, PLAT_SC_MAXIMIZE, 0);
    PlatFakeInjectMoveSize(h, 0, 0, 1920, 1040);
    ASSERT_EQ(SetFullscreen(1), 1);
    ASSERT_EQ(SetFullscreen(0), 1);
    PLAT_MSG m;
    while (PlatPeekMessage(&m, PLAT_PM_REMOVE))
        if (m.message != PLAT_WM_QUIT) PlatDispatchMessage(&m);
    EXPECT_EQ(g_bMaximized, 0);
    EXPECT_FALSE(PlatIsZoomed(h));
    EXPECT_EQ(Target(), (SIZE2{640, 480}));
    EXPECT_EQ(Output(), (SIZE2{640, 480}));
}

// ---- A real X11 window ---------------------------------------------------------------------------

// Under xvfb-run only (the kolvex_x11_fullscreen test): the main window goes fullscreen on the
// X server's screen and comes back to the place and size it had.
class ScreenModesX11Test : public ::testing::Test {};

void PumpFor(int nMs)
{
    const uint32_t dwEnd = PlatGetTime() + static_cast<uint32_t>(nMs);
    while (static_cast<int32_t>(PlatGetTime() - dwEnd) < 0) {
        PLAT_MSG m;
        while (PlatPeekMessage(&m, PLAT_PM_REMOVE))
            if (m.message != PLAT_WM_QUIT) PlatDispatchMessage(&m);
        PlatSleep(5);
    }
}

// Pumps the window messages until the check holds or the time, a safety net for a loaded machine,
// has passed. Whether it held.
template <class CHECK>
bool PumpUntil(CHECK fCheck, int nMs = 30000)
{
    const uint32_t dwEnd = PlatGetTime() + static_cast<uint32_t>(nMs);
    for (;;) {
        PLAT_MSG m;
        while (PlatPeekMessage(&m, PLAT_PM_REMOVE))
            if (m.message != PLAT_WM_QUIT) PlatDispatchMessage(&m);
        if (fCheck()) return true;
        if (static_cast<int32_t>(PlatGetTime() - dwEnd) >= 0) return false;
        PlatSleep(5);
    }
}

TEST_F(ScreenModesX11Test, FullscreenAndBackOnARealWindow)
{
    const char* pszSmoke = std::getenv("KX_X11_SMOKE");
    if (!pszSmoke || std::strcmp(pszSmoke, "1") != 0) GTEST_SKIP() << "runs under xvfb-run only";
    ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_SDL), 0);
    InstallEngineParts();
    ResetUserSettings();
    ERROR_RECORDER errors;
    g_bEngineStop = 0;
    g_bFullscreen = g_bMaximized = 0;
    g_bFramedWindow = 1;
    g_bResizable = 0;
    g_bScreenSaver = 0;
    g_bBestDisplayMode = 0;
    g_nScaleMode = KX_SCALE_FIT;
    g_nScreenWidth = 640;
    g_nScreenHeight = 480;
    PLAT_MONITOR_INFO mi{};
    ASSERT_GE(PlatGetMonitorCount(), 1);
    ASSERT_EQ(PlatGetMonitorInfo(0, &mi), 0);
    g_nDesktopWidth = mi.rcMonitor.right - mi.rcMonitor.left;
    g_nDesktopHeight = mi.rcMonitor.bottom - mi.rcMonitor.top;
    g_nFullscreenBits = mi.desktop.nBits;
    CopyTextBounded(g_szInstanceName, sizeof g_szInstanceName, "C::game:kolvex.exe");
    ASSERT_EQ(CreateWindowStates(), 0);
    WINDOW_STATE* p = g_apWindowState[0];
    ASSERT_EQ(SetupMainWindowSizes(), 0);
    ResetWindowState(p, "main");
    ASSERT_EQ(CreateGameWindow(p, 0, g_szInstanceName, "main"), 1);
    const PLAT_HWND h = p->hWnd;
    PlatShowWindow(h, PLAT_SW_SHOW);
    PumpFor(300);
    const PLAT_RECT rcBefore = ClientRect(h);
    EXPECT_EQ(rcBefore.right - rcBefore.left, 640);
    EXPECT_EQ(rcBefore.bottom - rcBefore.top, 480);

    EXPECT_EQ(SetFullscreen(1), 1);
    PumpUntil([&] { return SameRect(ClientRect(h), mi.rcMonitor); });
    EXPECT_TRUE(SameRect(ClientRect(h), mi.rcMonitor)) << RectText(ClientRect(h));
    std::vector<uint32_t> shown;
    int w = 0, hh = 0;
    ASSERT_EQ(PlatReadWindowPixels(h, &shown, &w, &hh), 0);
    EXPECT_EQ(w, mi.rcMonitor.right - mi.rcMonitor.left);
    EXPECT_EQ(hh, mi.rcMonitor.bottom - mi.rcMonitor.top);

    EXPECT_EQ(SetFullscreen(0), 1);
    PumpUntil([&] { return SameRect(ClientRect(h), rcBefore); });
    EXPECT_TRUE(SameRect(ClientRect(h), rcBefore)) << RectText(ClientRect(h)) << " expected " << RectText(rcBefore);
    ASSERT_EQ(PlatReadWindowPixels(h, &shown, &w, &hh), 0);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(hh, 480);
    EXPECT_EQ(g_nTargetWidth, 640);
    EXPECT_EQ(g_nOutputWidth, 640);
    for (const ERROR_RECORD& r : errors.reports) ADD_FAILURE() << "error " << r.nId << ": " << r.strText;

    PlatDestroyWindow(h);
    PlatShutdownWindowSystem();
    g_hMainWnd = 0;
    for (int i = 0; i < KX_WINDOWS; ++i) CreateWindowBackLayer(i, 0, 0);
    std::free(g_pOutputBuffer);
    g_pOutputBuffer = nullptr;
    g_nOutputWidth = g_nOutputHeight = 0;
}

}  // namespace
