#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "root/startup.h"
#include "script/script_hooks.h"
#include "display/display_hooks.h"
#include "core/engine_globals.h"
#include "core/engine_hooks.h"
#include "core/frame_loop.h"
#include "core/input.h"
#include "core/input_state.h"
#include "core/settings.h"
#include "core/sysfacts.h"
#include "display/presentation.h"
#include "display/window_proc.h"
#include "display/window_state.h"
#include "imageproc/compositor.h"
#include "platform/plat_display.h"
#include "platform/plat_msgbox.h"
#include "platform/plat_window_drag.h"
#include "platform/plat_window.h"
#include "script/dispatch.h"
#include "core/game_config.h"
#include "core/script_thread.h"
#include "tests/support/engine_test.h"
#include "tests/support/test_support.h"

namespace {

constexpr uint32_t kStyle = PLAT_WS_OVERLAPPEDWINDOW;

// What the window procedure handed to the presentation, and the procedure nesting seen there.
std::vector<int> g_vRepainted;
std::vector<int> g_vNestingSeen;
int RecordRepaint(WINDOW_STATE* pState)
{
    g_vRepainted.push_back(pState->nIndex);
    g_vNestingSeen.push_back(g_bInWndProc.load());
    return PlatPresentWindow(pState->hWnd);
}

// The frame hold and nesting at the moment the quit question is put.
std::vector<int> g_vHoldAtQuestion;
void RecordCursorShow(void)
{
    g_vHoldAtQuestion.push_back(g_bFrameHold.load());
    g_vNestingSeen.push_back(g_bInWndProc.load());
}

class WindowProcTest : public EngineTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        ASSERT_EQ(CreateWindowStates(), 0);
        InstallWindowProc();
        g_DisplayHooks.pfnRepaintWindow = RecordRepaint;
        g_DisplayHooks.pfnRequestCursorShow = RecordCursorShow;
        g_vRepainted.clear();
        g_vNestingSeen.clear();
        g_vHoldAtQuestion.clear();
        g_bRunInBackground = 0;
        g_bResizable = 1;
        std::strcpy(g_szWindowTitle, "KX");
        g_nTargetWidth = g_nOutputWidth = 640;
        g_nTargetHeight = g_nOutputHeight = 480;
        hMain = Create(0, 640, 480);
    }
    void TearDown() override
    {
        PlatShutdownWindowSystem();
        // A table of cases runs TearDown and SetUp again within one test: each case starts from the
        // engine's start state as the test does.
        ResetEngineState();
    }

    // A window of the record nIndex with the given client size, created with the game procedure.
    PLAT_HWND Create(int nIndex, int cw, int ch)
    {
        WINDOW_STATE* p = g_apWindowState[nIndex];
        p->nWidth = cw;
        p->nHeight = ch;
        ResetWindowState(p, "KX");
        PLAT_RECT rc{0, 0, cw, ch};
        PlatAdjustWindowRect(&rc, kStyle, 0);
        PLAT_HWND h = PlatCreateWindow("KxWndProcTest", "KX", kStyle, 100, 50, rc.right - rc.left,
                                       rc.bottom - rc.top, 0, GameWndProc, p);
        EXPECT_NE(h, 0u);
        p->hWnd = h;
        g_anWindowCreated[nIndex] = 1;
        if (nIndex == 0) g_hMainWnd = h;
        return h;
    }
    // Dispatches everything queued; 1 when WM_QUIT came.
    int Drain(void)
    {
        int bQuit = 0;
        PLAT_MSG m;
        while (PlatPeekMessage(&m, PLAT_PM_REMOVE)) {
            if (m.message == PLAT_WM_QUIT) bQuit = 1;
            else PlatDispatchMessage(&m);
        }
        EXPECT_EQ(g_bInWndProc.load(), 0);
        return bQuit;
    }
    WINDOW_STATE* Main(void) { return g_apWindowState[0]; }

    PLAT_HWND hMain = 0;
};

TEST_F(WindowProcTest, PaintAndActivationRepaintThroughThePresentation)
{
    InstallEngineParts();
    EXPECT_EQ(g_pfnMainWindowProc, &GameWndProc);
    EXPECT_EQ(g_DisplayHooks.pfnRepaintWindow, &RepaintWindow);
    g_DisplayHooks.pfnRepaintWindow = RecordRepaint;
    const int nBefore = PlatFakeGetPresentCount(hMain);
    PlatInvalidateWindow(hMain, 0);
    Drain();
    EXPECT_EQ(g_vRepainted, std::vector<int>{0});
    EXPECT_EQ(PlatFakeGetPresentCount(hMain), nBefore + 1);
    // The paint was taken: no second paint follows.
    Drain();
    EXPECT_EQ(g_vRepainted.size(), 1u);
    // Focus gives WM_ACTIVATEAPP and WM_ACTIVATE, each repainting.
    PlatFakeInjectFocus(hMain, 1);
    EXPECT_EQ(g_vRepainted.size(), 3u);
}

// With the frames on their own thread a focus change can reach the procedure while the frame thread
// composes (the window system's events pumped, a call handed to the window thread): the picture is
// the frame's then, so the repaint is owed, and the frame's present step asks for it as a paint,
// which the message loop dispatches while the frame thread sits in its wait. The activation itself
// is taken at once.
TEST_F(WindowProcTest, ARepaintBesideARunningFrameWaitsForTheFramesPresentStep)
{
    InstallEngineParts();
    g_DisplayHooks.pfnRepaintWindow = RecordRepaint;
    g_bThreadedFrames = 1;
    g_bFrameThreadState = KX_THREAD_RUNNING;
    g_bInFrameWait = 0;   // the frame thread is inside its frame
    PlatFakeInjectFocus(hMain, 1);
    EXPECT_TRUE(g_vRepainted.empty());
    EXPECT_EQ(Main()->bActive, 1);
    // A paint that arrives beside the frame is taken (no loop spins on it) and owed as well.
    PlatInvalidateWindow(hMain, 0);
    Drain();
    EXPECT_TRUE(g_vRepainted.empty());
    EXPECT_EQ(g_abPaintOwed[0].load(), 1);
    // The frame's present step asks for the paint; the frame thread waits, and the paint repaints.
    EXPECT_EQ(PresentWindowCPU(0), 0);
    EXPECT_EQ(g_abPaintOwed[0].load(), 0);
    g_bInFrameWait = 1;
    Drain();
    EXPECT_EQ(g_vRepainted, std::vector<int>{0});
    EXPECT_EQ(g_vNestingSeen, std::vector<int>{1});
    // Inside the wait a focus change repaints at once; so it does once the frame thread has ended.
    PlatFakeInjectFocus(hMain, 0);
    EXPECT_EQ(g_vRepainted.size(), 3u);
    g_bInFrameWait = 0;
    g_bFrameThreadState = KX_FRAME_THREAD_ENDED;
    PlatFakeInjectFocus(hMain, 1);
    EXPECT_EQ(g_vRepainted.size(), 5u);
    EXPECT_EQ(g_abPaintOwed[0].load(), 0);
}

TEST_F(WindowProcTest, ActivationPausesAndResumesTheEngine)
{
    // No activation reported yet: the main window counts as active.
    UpdatePauseState();
    EXPECT_EQ(g_bEnginePaused, 0);
    PlatFakeInjectFocus(hMain, 1);
    EXPECT_EQ(Main()->bActive, 1);
    PlatFakeInjectFocus(hMain, 0);
    EXPECT_EQ(Main()->bActive, 0);
    EXPECT_EQ(g_bEnginePaused, 1);
    PlatFakeInjectFocus(hMain, 1);
    EXPECT_EQ(g_bEnginePaused, 0);
    // A sub window's activation does not touch the pause.
    PLAT_HWND hSub = Create(1, 128, 128);
    PlatFakeInjectFocus(hSub, 0);
    EXPECT_EQ(g_bEnginePaused, 0);
}

TEST_F(WindowProcTest, KeysAndMouseReachTheEventGlobals)
{
    PlatFakeInjectKey(hMain, 'A', 1, 0);
    Drain();
    EXPECT_EQ(g_nLastKeyDown, 'A');

    PlatFakeInjectMouseMove(hMain, 210, 110);
    Drain();
    EXPECT_EQ(g_bMouseMoved, 0x80);

    struct { int nButton, nLast, nKey; } const cases[] = {{1, 1, 1}, {2, 2, 2}, {3, 4, 4}};
    for (const auto& c : cases) {
        PlatFakeInjectMouseButton(hMain, c.nButton, 1, 20, 30);
        Drain();
        EXPECT_EQ(g_nLastMouseButton, c.nLast) << c.nButton;
        EXPECT_EQ(g_abKeyState[c.nKey], 0x80) << c.nButton;
    }
    // Wheel notches add up until the input step takes them.
    PlatFakeInjectMouseWheel(hMain, -240, 5, 5);
    PlatFakeInjectMouseWheel(hMain, 120, 5, 5);
    Drain();
    EXPECT_EQ(g_nWheelDelta, -120);
}

TEST_F(WindowProcTest, ClickOnTheClickLayerRequestsADrag)
{
    static int s_bHit;
    g_DisplayHooks.pfnClickLayerHit = [](WINDOW_STATE*) { return s_bHit; };
    g_nDragRequestWindow = 0;
    s_bHit = 0;
    PlatFakeInjectMouseButton(hMain, 1, 1, 20, 30);
    Drain();
    EXPECT_EQ(g_nDragRequestWindow, 0);
    s_bHit = 1;
    PlatFakeInjectMouseButton(hMain, 1, 1, 20, 30);
    Drain();
    EXPECT_EQ(g_nDragRequestWindow, 1);
    int32_t x = 20, y = 30;
    PlatClientToScreen(hMain, &x, &y);
    EXPECT_EQ(g_nDragRequestX, x);
    EXPECT_EQ(g_nDragRequestY, y);
    InstallEngineParts();
}

TEST_F(WindowProcTest, MousePositionIsTheInputStepsSample)
{
    Main()->nMouseX = 100;
    Main()->nMouseY = 50;
    g_apWindowState[2]->nMouseX = 7;
    int32_t x = -1, y = -1;
    GetWindowMousePos(0, &x, &y);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 50);
    // A window without a handle, or no window at all, reports (0, 0).
    for (int n : {2, -1, 4}) {
        GetWindowMousePos(n, &x, &y);
        EXPECT_EQ(x, 0) << n;
        EXPECT_EQ(y, 0) << n;
    }
}

TEST_F(WindowProcTest, AltAndF10AreSwallowedButAltF4StillCloses)
{
    Main()->nCloseMode = KX_CLOSE_REPORT;
    EXPECT_EQ(PlatSendMessage(hMain, PLAT_WM_SYSKEYDOWN, PLAT_VK_MENU, 0), 0);
    EXPECT_EQ(PlatSendMessage(hMain, PLAT_WM_SYSKEYDOWN, PLAT_VK_F10, 0), 0);
    EXPECT_EQ(g_bCloseEvent, 0);
    PlatSendMessage(hMain, PLAT_WM_SYSKEYDOWN, PLAT_VK_F4, 1 << 29);
    EXPECT_EQ(g_bCloseEvent, 1);
}

TEST_F(WindowProcTest, DroppedFilesReplaceTheFileList)
{
    TEMP_DIR dir;
    dir.Write("sub/a.txt", std::string("x"));
    const std::string strDir = dir.strEngine + "\\sub";
    const std::string strFile = dir.strEngine + "\\sub\\a.txt";
    const std::string strMissing = dir.strEngine + "\\gone";
    const char* names[] = {strDir.c_str(), strFile.c_str(), strMissing.c_str()};
    PlatFakeInjectDropFiles(hMain, names, 3);
    Drain();
    ASSERT_EQ(g_nFileListCount, 3);
    EXPECT_EQ(std::string(g_apszFileList[0]), strDir + "\\");
    EXPECT_EQ(std::string(g_apszFileList[1]), strFile);
    EXPECT_EQ(std::string(g_apszFileList[2]), strMissing);
    EXPECT_EQ(g_apszFileList[3], nullptr);

    // A long name is kept whole, with room for the folder mark.
    std::string strLong(600, 'n');
    const char* one[] = {strLong.c_str()};
    PlatFakeInjectDropFiles(hMain, one, 1);
    Drain();
    ASSERT_EQ(g_nFileListCount, 1);
    EXPECT_EQ(std::string(g_apszFileList[0]), strLong);
    EXPECT_EQ(g_apszFileList[1], nullptr);

    // More names than the list holds: the first ones are kept.
    std::vector<std::string> many(KX_DROP_MAX_FILES + 1, "f");
    many.back() = "last";
    std::vector<const char*> ptrs;
    for (auto& s : many) ptrs.push_back(s.c_str());
    PlatFakeInjectDropFiles(hMain, ptrs.data(), (int)ptrs.size());
    Drain();
    ASSERT_EQ(g_nFileListCount, KX_DROP_MAX_FILES);
    EXPECT_EQ(g_apszFileList[KX_DROP_MAX_FILES], nullptr);
    EXPECT_EQ(std::string(g_apszFileList[KX_DROP_MAX_FILES - 1]), "f");
}

TEST_F(WindowProcTest, SizingKeepsTheAspectForEveryEdge)
{
    // 640 x 480 (4:3), frame 16 x 39; proposed client 800 x 500 at (100, 100).
    WINDOW_STATE* p = Main();
    const int fw = 16, fh = 39;
    struct { int nEdge; PLAT_RECT want; } const cases[] = {
        {KX_WMSZ_LEFT, {100, 100, 916, 739}},        {KX_WMSZ_RIGHT, {100, 100, 916, 739}},
        {KX_WMSZ_TOP, {100, 100, 783, 639}},         {KX_WMSZ_BOTTOM, {100, 100, 783, 639}},
        {KX_WMSZ_TOPLEFT, {100, -0, 916, 639}},      {KX_WMSZ_TOPRIGHT, {100, 0, 916, 639}},
        {KX_WMSZ_BOTTOMLEFT, {100, 100, 916, 739}},  {KX_WMSZ_BOTTOMRIGHT, {100, 100, 916, 739}},
    };
    for (const auto& c : cases) {
        PLAT_RECT rc{100, 100, 100 + 800 + fw, 100 + 500 + fh};
        HandleWmSizing(p, c.nEdge, fw, fh, &rc);
        EXPECT_EQ(rc.left, c.want.left) << c.nEdge;
        EXPECT_EQ(rc.top, c.want.top) << c.nEdge;
        EXPECT_EQ(rc.right, c.want.right) << c.nEdge;
        EXPECT_EQ(rc.bottom, c.want.bottom) << c.nEdge;
        const int cw = rc.right - rc.left - fw, ch = rc.bottom - rc.top - fh;
        EXPECT_NEAR((double)cw / ch, 4.0 / 3.0, 0.01) << c.nEdge;
    }
    // A client narrower than the aspect grows the width at a corner.
    PLAT_RECT rc{0, 0, 400 + fw, 600 + fh};
    HandleWmSizing(p, KX_WMSZ_BOTTOMLEFT, fw, fh, &rc);
    EXPECT_EQ(rc.left, -400);
    EXPECT_EQ(rc.bottom, 600 + fh);
}

// Dragging the frame corrects the size while the drag goes on: a taller client gets the width that
// keeps 4:3 (a resize after the fact would have gone back to the width instead).
TEST_F(WindowProcTest, FrameDragKeepsTheAspectAsItGoes)
{
    PLAT_RECT rcOuter, rc;
    PlatGetWindowRect(hMain, &rcOuter);
    PlatFakeInjectFrameDrag(hMain, 640, 600);
    Drain();
    PlatGetClientRect(hMain, &rc);
    EXPECT_EQ(rc.right, 800);
    EXPECT_EQ(rc.bottom, 600);
    EXPECT_EQ(g_nOutputWidth, 800);
    EXPECT_EQ(g_nOutputHeight, 600);
    PlatGetWindowRect(hMain, &rc);
    EXPECT_EQ(rc.left, rcOuter.left);
    EXPECT_EQ(rc.top, rcOuter.top);
}

// The main window is created hidden; the first frame shows it unless the game keeps it hidden.
TEST_F(WindowProcTest, TheFirstFrameShowsTheMainWindowUnlessTheGameKeepsItHidden)
{
    ASSERT_NE(g_EngineHooks.pfnShowMainWindowFirstFrame, nullptr);
    for (uint8_t bShow : {1, 0}) {
        PlatShowWindow(hMain, PLAT_SW_HIDE);
        Main()->bVisible = bShow;
        g_EngineHooks.pfnShowMainWindowFirstFrame();
        EXPECT_EQ(PlatIsWindowVisible(hMain), bShow) << int(bShow);
    }
}

// A quit request closes the main window whatever its close button would do, and the run ends.
TEST_F(WindowProcTest, AQuitRequestClosesTheMainWindow)
{
    Main()->nCloseMode = KX_CLOSE_REPORT;
    RequestQuit();
    EXPECT_EQ(Main()->nCloseMode, KX_CLOSE_QUIT);
    EXPECT_EQ(Drain(), 1);
    EXPECT_FALSE(PlatIsWindow(hMain));
}

TEST_F(WindowProcTest, ResizeByTheWindowManagerSnapsBackToTheAspect)
{
    PLAT_RECT rcOuter;
    PlatGetWindowRect(hMain, &rcOuter);
    const int fw = (rcOuter.right - rcOuter.left) - 640, fh = (rcOuter.bottom - rcOuter.top) - 480;
    PlatFakeInjectMoveSize(hMain, rcOuter.left, rcOuter.top, 800 + fw, 900 + fh);
    Drain();
    PLAT_RECT rc;
    PlatGetClientRect(hMain, &rc);
    EXPECT_EQ(rc.right, 800);
    EXPECT_EQ(rc.bottom, 600);
    EXPECT_EQ(g_nTargetWidth, 800);
    EXPECT_EQ(g_nTargetHeight, 600);
    EXPECT_EQ(g_nOutputWidth, 800);
    EXPECT_EQ(g_nOutputHeight, 600);
    PlatGetWindowRect(hMain, &rc);
    EXPECT_EQ(rc.left, rcOuter.left);
    EXPECT_EQ(rc.top, rcOuter.top);

    // A sub window goes back to its logical size.
    PLAT_HWND hSub = Create(1, 200, 100);
    PlatGetWindowRect(hSub, &rcOuter);
    PlatFakeInjectMoveSize(hSub, rcOuter.left, rcOuter.top, 500, 500);
    Drain();
    PlatGetClientRect(hSub, &rc);
    EXPECT_EQ(rc.right, 200);
    EXPECT_EQ(rc.bottom, 100);
}

TEST_F(WindowProcTest, MaximiseAndRestoreBringBackTheSizes)
{
    g_bDirect3D = 0;
    g_bResetRequest = 0;
    EXPECT_EQ(HandleWmSysCommand(Main(), PLAT_SC_MAXIMIZE), 1);
    EXPECT_EQ(g_nMaximizeEvent, 1);
    EXPECT_EQ(g_bMaximized, 1);
    g_nTargetWidth = 1920;
    g_nTargetHeight = 1080;
    g_nOutputWidth = 1440;
    g_nOutputHeight = 1080;
    EXPECT_EQ(HandleWmSysCommand(Main(), PLAT_SC_RESTORE), 1);
    PlatSendMessage(hMain, PLAT_WM_WINDOWPOSCHANGED, 0, 0);
    EXPECT_EQ(g_bMaximized, 0);
    EXPECT_EQ(g_nTargetWidth, 640);
    EXPECT_EQ(g_nTargetHeight, 480);
    EXPECT_EQ(g_nOutputWidth, 640);
    EXPECT_EQ(g_nOutputHeight, 480);
    EXPECT_EQ(g_bResetRequest, 0);
    // A sub window may not maximise: the request is still reported.
    Create(1, 128, 128);
    EXPECT_EQ(HandleWmSysCommand(g_apWindowState[1], PLAT_SC_MAXIMIZE), 0);
    EXPECT_EQ(g_nMaximizeEvent, 2);
}

TEST_F(WindowProcTest, CloseModesAndTheQuitQuestion)
{
    struct CASE {
        int nWindow;
        int nMode;
        int nAnswer;       // 0: no question expected
        bool bStop, bQuit, bGone;
    };
    const CASE cases[] = {
        {0, KX_CLOSE_REPORT, 0, false, false, false},
        {0, KX_CLOSE_ASK, PLAT_IDNO, false, false, false},
        {0, KX_CLOSE_ASK, PLAT_IDYES, true, true, true},
        {0, KX_CLOSE_QUIT, 0, true, true, true},
        {1, KX_CLOSE_ASK, PLAT_IDYES, true, true, true},
        {1, KX_CLOSE_QUIT, 0, true, true, true},
        {1, KX_CLOSE_WINDOW, 0, false, false, true},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(testing::Message() << "window " << c.nWindow << " mode " << c.nMode << " answer " << c.nAnswer);
        TearDown();
        SetUp();
        PLAT_HWND h = c.nWindow == 0 ? hMain : Create(c.nWindow, 128, 128);
        g_apWindowState[c.nWindow]->nCloseMode = (int8_t)c.nMode;
        MSGBOX_RECORDER boxes;
        if (c.nAnswer) boxes.answers.push_back(c.nAnswer);
        PlatFakeInjectClose(h);
        const int bQuit = Drain();
        EXPECT_EQ(g_bEngineStop.load() != 0, c.bStop);
        EXPECT_EQ(bQuit != 0, c.bQuit);
        EXPECT_EQ(PlatIsWindow(h) == 0, c.bGone);
        EXPECT_EQ(g_anWindowCreated[c.nWindow] == -1, c.bGone);
        EXPECT_EQ(g_bCloseEvent, c.nMode == KX_CLOSE_REPORT ? 1 : 0);
        EXPECT_EQ(PlatIsWindow(hMain) != 0, c.nWindow != 0 || !c.bGone);
        if (c.nAnswer) {
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(boxes.boxes[0].strText, Cp932("終了します。よろしいですか？"));
            EXPECT_EQ(boxes.boxes[0].strCaption, "KX");
            EXPECT_EQ(g_vHoldAtQuestion, std::vector<int>{1});
            EXPECT_EQ(g_bFrameHold.load(), 0);
        } else {
            EXPECT_TRUE(boxes.boxes.empty());
        }
    }
}

// While the quit question is open, another close request (a second click on the close button, a
// request sent from another thread) asks nothing more; once it is answered, a new request asks again.
struct REENTRANT_CLOSE {
    PLAT_HWND hwnd;
    int nBoxes;
    int nAnswer;
};
int AnswerAfterClosingAgain(const char*, const char*, const PLAT_MSGBOX_BUTTON*, int, int, int, void* pUser)
{
    auto* r = static_cast<REENTRANT_CLOSE*>(pUser);
    ++r->nBoxes;
    EXPECT_EQ(PlatSendMessage(r->hwnd, PLAT_WM_SYSCOMMAND, PLAT_SC_CLOSE, 0), 0);
    return r->nAnswer;
}

TEST_F(WindowProcTest, ACloseWhileTheQuestionIsOpenAsksNothingMore)
{
    REENTRANT_CLOSE r{hMain, 0, PLAT_IDNO};
    PlatSetMessageBoxHook(AnswerAfterClosingAgain, &r);
    PlatFakeInjectClose(hMain);
    Drain();
    EXPECT_EQ(r.nBoxes, 1);
    EXPECT_TRUE(PlatIsWindow(hMain));
    EXPECT_EQ(g_bEngineStop.load(), 0);
    r.nAnswer = PLAT_IDYES;
    PlatFakeInjectClose(hMain);
    EXPECT_EQ(Drain(), 1);
    EXPECT_EQ(r.nBoxes, 2);
    EXPECT_FALSE(PlatIsWindow(hMain));
    PlatSetMessageBoxHook(nullptr, nullptr);
}

TEST_F(WindowProcTest, CaptionDoubleClickOption)
{
    // Without the option the default maximises.
    PlatSendMessage(hMain, PLAT_WM_NCLBUTTONDBLCLK, KX_HTCAPTION, 0);
    EXPECT_EQ(g_nCaptionDblClick, 0);
    EXPECT_EQ(PlatIsZoomed(hMain), 1);
    PlatShowWindow(hMain, PLAT_SW_RESTORE);
    Drain();
    g_bMaximized = 0;

    // With it the double-click is reported as index + 1 and never maximises.
    g_bCaptionDblClickOption = 1;
    PLAT_HWND hSub = Create(1, 128, 128);
    PlatSendMessage(hSub, PLAT_WM_NCLBUTTONDBLCLK, KX_HTCAPTION, 0);
    EXPECT_EQ(g_nCaptionDblClick, 2);
    PlatSendMessage(hMain, PLAT_WM_NCLBUTTONDBLCLK, KX_HTCAPTION, 0);
    EXPECT_EQ(g_nCaptionDblClick, 1);
    EXPECT_EQ(PlatIsZoomed(hMain), 0);

    // While maximised nothing is reported, and the click is still swallowed.
    g_nCaptionDblClick = 0;
    g_bMaximized = 1;
    PlatSendMessage(hMain, PLAT_WM_NCLBUTTONDBLCLK, KX_HTCAPTION, 0);
    EXPECT_EQ(g_nCaptionDblClick, 0);
    EXPECT_EQ(PlatIsZoomed(hMain), 0);
}

TEST_F(WindowProcTest, TrayClicksOfTheEngineIconOnly)
{
    g_nPopupMenuRequest = 0;
    EXPECT_EQ(PlatSendMessage(hMain, KX_WM_TRAY_NOTIFY, 99, PLAT_WM_RBUTTONUP), 0);
    EXPECT_EQ(g_nPopupMenuRequest, 0);
    PlatFakeInjectMouseMove(hMain, 30, 40);
    Drain();
    PlatSendMessage(hMain, KX_WM_TRAY_NOTIFY, KX_TRAY_ICON_ID, PLAT_WM_RBUTTONUP);
    EXPECT_EQ(g_nPopupMenuRequest, 2);
    int32_t x = 30, y = 40;
    PlatClientToScreen(hMain, &x, &y);
    EXPECT_EQ(g_nPopupMenuX, x);
    EXPECT_EQ(g_nPopupMenuY, y);
}

TEST_F(WindowProcTest, NestingCounterStaysUpInsideNestedMessages)
{
    g_DisplayHooks.pfnRepaintWindow = [](WINDOW_STATE* pState) {
        g_vNestingSeen.push_back(g_bInWndProc.load());
        // A message sent from inside the procedure runs it again, nested.
        if (g_vNestingSeen.size() == 1) PlatSendMessage(pState->hWnd, PLAT_WM_PAINT, 0, 0);
        g_vNestingSeen.push_back(g_bInWndProc.load());
        return 0;
    };
    PlatSendMessage(hMain, PLAT_WM_PAINT, 0, 0);
    EXPECT_EQ(g_vNestingSeen, (std::vector<int>{1, 2, 2, 1}));
    EXPECT_EQ(g_bInWndProc.load(), 0);
}

}  // namespace

// The size limits: at least a quarter of the shorter logical side high at the game's aspect, at
// most the largest client of that aspect the monitor holds, each with the frame; none while
// maximised or fullscreen, for a sub window, or before there is an output size.
TEST_F(WindowProcTest, TheSizeLimitsFollowTheGamesAspectAndTheMonitor)
{
    struct CASE {
        int32_t lw, lh, mw, mh;
        int32_t minW, minH, maxW, maxH;
    };
    const CASE cases[] = {
        {640, 480, 1920, 1080, 160, 120, 1440, 1080},
        {1280, 720, 1024, 768, 320, 180, 1024, 576},
        {640, 400, 1024, 768, 160, 100, 1024, 640},
        {480, 640, 1920, 1080, 90, 120, 810, 1080},
    };
    const int32_t fw = 16, fh = 39;
    for (const CASE& c : cases) {
        Main()->nWidth = c.lw;
        Main()->nHeight = c.lh;
        g_nDesktopWidth = c.mw;
        g_nDesktopHeight = c.mh;
        PLAT_MINMAXINFO mmi{};
        ASSERT_EQ(HandleWmGetMinMaxInfo(Main(), fw, fh, &mmi), 1);
        EXPECT_EQ(mmi.nMinTrackWidth, c.minW + fw) << c.lw << "x" << c.lh;
        EXPECT_EQ(mmi.nMinTrackHeight, c.minH + fh) << c.lw << "x" << c.lh;
        EXPECT_EQ(mmi.nMaxTrackWidth, c.maxW + fw) << c.lw << "x" << c.lh;
        EXPECT_EQ(mmi.nMaxTrackHeight, c.maxH + fh) << c.lw << "x" << c.lh;
    }
    PLAT_MINMAXINFO mmi{};
    g_bMaximized = 1;
    EXPECT_EQ(HandleWmGetMinMaxInfo(Main(), fw, fh, &mmi), 0);
    g_bMaximized = 0;
    g_bFullscreen = 1;
    EXPECT_EQ(HandleWmGetMinMaxInfo(Main(), fw, fh, &mmi), 0);
    g_bFullscreen = 0;
    g_nOutputWidth = 0;
    EXPECT_EQ(HandleWmGetMinMaxInfo(Main(), fw, fh, &mmi), 0);
    g_nOutputWidth = 640;
    Create(1, 200, 100);
    EXPECT_EQ(HandleWmGetMinMaxInfo(g_apWindowState[1], fw, fh, &mmi), 0);
}

// A 640 x 480 game's frame cannot be dragged below 160 x 120 nor above the monitor; the window system
// is told the client limits, and they are lifted while the window is maximised.
TEST_F(WindowProcTest, TheFrameKeepsTheSmallestAndLargestSize)
{
    g_nDesktopWidth = 1920;
    g_nDesktopHeight = 1080;
    ASSERT_EQ(PlatUpdateWindowSizeLimits(hMain), 0);
    int32_t minW = 0, minH = 0, maxW = 0, maxH = 0;
    ASSERT_EQ(PlatGetWindowSizeLimits(hMain, &minW, &minH, &maxW, &maxH), 0);
    EXPECT_EQ(minW, 160);
    EXPECT_EQ(minH, 120);
    EXPECT_EQ(maxW, 1440);
    EXPECT_EQ(maxH, 1080);
    PLAT_RECT rcBefore, rc;
    PlatGetWindowRect(hMain, &rcBefore);
    PlatFakeInjectFrameDrag(hMain, 60, 45);
    Drain();
    PlatGetClientRect(hMain, &rc);
    EXPECT_EQ(rc.right, 160);
    EXPECT_EQ(rc.bottom, 120);
    PlatFakeInjectFrameDrag(hMain, 3000, 2000);
    Drain();
    PlatGetClientRect(hMain, &rc);
    EXPECT_EQ(rc.right, 1440);
    EXPECT_EQ(rc.bottom, 1080);
    PlatGetWindowRect(hMain, &rc);
    EXPECT_EQ(rc.left, rcBefore.left);
    EXPECT_EQ(rc.top, rcBefore.top);

    // Maximised: no limits, so the window may cover the work area; restored: the limits again.
    EXPECT_EQ(HandleWmSysCommand(Main(), PLAT_SC_MAXIMIZE), 1);
    PlatShowWindow(hMain, PLAT_SW_MAXIMIZE);
    ASSERT_EQ(PlatGetWindowSizeLimits(hMain, &minW, &minH, &maxW, &maxH), 0);
    EXPECT_EQ(minW, 0);
    EXPECT_EQ(maxW, 0);
    EXPECT_EQ(HandleWmSysCommand(Main(), PLAT_SC_RESTORE), 1);
    PlatShowWindow(hMain, PLAT_SW_RESTORE);
    Drain();
    ASSERT_EQ(PlatGetWindowSizeLimits(hMain, &minW, &minH, &maxW, &maxH), 0);
    EXPECT_EQ(minW, 160);
    EXPECT_EQ(maxH, 1080);
}

// A window that may not be resized gains the sizing frame for a maximise and loses it again on the
// restore: the picture comes back where it was, at its size, however often this is done; a later
// resize does not move it either.
TEST_F(WindowProcTest, MaximiseAndRestoreOfAFixedWindowKeepsItsPlace)
{
    g_bResizable = 0;
    PlatSetWindowStyle(hMain, kStyle & ~PLAT_WS_THICKFRAME);
    Drain();
    PLAT_RECT rcClient0;
    int32_t x0 = 0, y0 = 0;
    PlatClientToScreen(hMain, &x0, &y0);
    PlatGetClientRect(hMain, &rcClient0);
    for (int i = 0; i < 3; ++i) {
        PlatSendMessage(hMain, PLAT_WM_SYSCOMMAND, PLAT_SC_MAXIMIZE, 0);
        Drain();
        EXPECT_EQ(PlatIsZoomed(hMain), 1);
        PlatSendMessage(hMain, PLAT_WM_SYSCOMMAND, PLAT_SC_RESTORE, 0);
        Drain();
        int32_t x = 0, y = 0;
        PlatClientToScreen(hMain, &x, &y);
        PLAT_RECT rc;
        PlatGetClientRect(hMain, &rc);
        EXPECT_EQ(x, x0) << "cycle " << i;
        EXPECT_EQ(y, y0) << "cycle " << i;
        EXPECT_EQ(rc.right, rcClient0.right) << "cycle " << i;
        EXPECT_EQ(rc.bottom, rcClient0.bottom) << "cycle " << i;
        EXPECT_EQ(PlatGetWindowStyle(hMain) & PLAT_WS_THICKFRAME, 0u);
    }
    // The frame switched on by the script, then a resize by the window manager: the client keeps its
    // corner.
    g_bResizable = 1;
    g_bFrameChanged = 1;
    PlatSetWindowStyle(hMain, kStyle);
    PLAT_RECT rcOuter;
    PlatGetWindowRect(hMain, &rcOuter);
    PlatFakeInjectMoveSize(hMain, rcOuter.left, rcOuter.top, rcOuter.right - rcOuter.left + 160,
                           rcOuter.bottom - rcOuter.top + 120);
    Drain();
    int32_t x = 0, y = 0;
    PlatClientToScreen(hMain, &x, &y);
    EXPECT_EQ(x, x0);
    EXPECT_EQ(y, y0);
    EXPECT_EQ(g_bFrameChanged, 0);
}

// A press on the click layer: the input step asks for the caption's default action, and the window
// follows the pointer until the button is up (the Fake window system has no window manager, so the
// program moves the window itself); WM_EXITSIZEMOVE ends it.
TEST_F(WindowProcTest, ADragFromTheClickLayerMovesTheWindowWithThePointer)
{
    g_DisplayHooks.pfnClickLayerHit = [](WINDOW_STATE* pState) { return pState->nMouseX < 100 ? 1 : 0; };
    PLAT_RECT rc0, rc;
    PlatGetWindowRect(hMain, &rc0);
    g_nDragRequestWindow = 0;
    PlatFakeInjectMouseMove(hMain, 20, 30);
    PlatFakeInjectMouseButton(hMain, 1, 1, 20, 30);
    Drain();
    ASSERT_EQ(g_nDragRequestWindow, 1);
    PlatPostMessage(hMain, PLAT_WM_NCLBUTTONDOWN, KX_HTCAPTION, PlatMakeLParam(g_nDragRequestX, g_nDragRequestY));
    Drain();
    EXPECT_EQ(PlatGetDraggedWindow(), hMain);
    // The pointer moves by 50, 40 (in the window's client coordinates, which move with it).
    PlatFakeInjectMouseMove(hMain, 45, 50);
    Drain();
    PlatFakeInjectMouseMove(hMain, 70 - 25, 70 - 20);
    Drain();
    PlatGetWindowRect(hMain, &rc);
    EXPECT_EQ(rc.left, rc0.left + 50);
    EXPECT_EQ(rc.top, rc0.top + 40);
    PlatFakeInjectMouseButton(hMain, 1, 0, 20, 30);
    Drain();
    EXPECT_EQ(PlatGetDraggedWindow(), 0u);
    PlatGetWindowRect(hMain, &rc);
    EXPECT_EQ(rc.left, rc0.left + 50);
    EXPECT_EQ(rc.top, rc0.top + 40);

    // A press outside the click layer asks for nothing, even when the input step last saw the mouse
    // on it; and a drag asked for after the button went up moves nothing.
    g_nDragRequestWindow = 0;
    Main()->nMouseX = 10;
    PlatFakeInjectMouseButton(hMain, 1, 1, 300, 200);
    Drain();
    EXPECT_EQ(g_nDragRequestWindow, 0);
    PlatFakeInjectMouseButton(hMain, 1, 0, 300, 200);
    Drain();
    PlatPostMessage(hMain, PLAT_WM_NCLBUTTONDOWN, KX_HTCAPTION, PlatMakeLParam(0, 0));
    Drain();
    EXPECT_EQ(PlatGetDraggedWindow(), 0u);
    InstallEngineParts();
}

// With the pause-on-drag switch on, a drag from the click layer pauses the engine for as long as the
// left button is held: the frame step's rule that an active main window leaves the pause waits for
// the drag's end, and so does running in the background (the engine's default). With the switch off
// nothing pauses; a press that starts no drag (the button already up) holds no pause.
TEST_F(WindowProcTest, APauseOnCaptionDragLastsAsLongAsTheDrag)
{
    const struct {
        uint8_t bOn, bBackground;
    } cases[] = {{1, 0}, {1, 1}, {0, 0}, {0, 1}};
    for (const auto& c : cases) {
        const uint8_t bOn = c.bOn;
        SCOPED_TRACE(std::string(bOn ? "switch on" : "switch off") + (c.bBackground ? ", in the background" : ""));
        TearDown();
        SetUp();
        g_DisplayHooks.pfnClickLayerHit = [](WINDOW_STATE* pState) { return pState->nMouseX < 100 ? 1 : 0; };
        g_bPauseOnCaptionDrag = bOn;
        g_bRunInBackground = c.bBackground;
        PlatFakeInjectMouseMove(hMain, 20, 30);
        PlatFakeInjectMouseButton(hMain, 1, 1, 20, 30);
        Drain();
        ASSERT_EQ(g_nDragRequestWindow, 1);
        // The input step of the next frame asks for the caption's default action.
        UpdateInputState();
        Drain();
        ASSERT_EQ(PlatGetDraggedWindow(), hMain);
        EXPECT_EQ(g_bEnginePaused, bOn);
        // Frames go on while the pointer moves with the button down; the main window stays active.
        for (int i = 1; i <= 3; ++i) {
            PlatFakeInjectMouseMove(hMain, 20 + 10 * i, 30);
            Drain();
            UpdatePauseState();
            EXPECT_EQ(IsMainWindowActive(), 1);
            EXPECT_EQ(g_bEnginePaused, bOn) << "frame " << i;
        }
        PlatFakeInjectMouseButton(hMain, 1, 0, 50, 30);
        Drain();
        EXPECT_EQ(PlatGetDraggedWindow(), 0u);
        EXPECT_EQ(g_bEnginePaused, 0);
        EXPECT_EQ(g_bCaptionDragPause, 0);
        UpdatePauseState();
        EXPECT_EQ(g_bEnginePaused, 0);

        // A drag whose end the window never heard of (its release and WM_EXITSIZEMOVE lost): the
        // pause ends with the platform's drag all the same.
        PlatFakeInjectMouseButton(hMain, 1, 1, 20, 30);
        Drain();
        UpdateInputState();
        Drain();
        ASSERT_EQ(PlatGetDraggedWindow(), hMain);
        EXPECT_EQ(g_bEnginePaused, bOn);
        g_bCaptionDragPause = bOn;   // as if WM_EXITSIZEMOVE never came
        PlatFakeInjectMouseButton(hMain, 1, 0, 20, 30);
        Drain();
        g_bCaptionDragPause = bOn;
        g_bEnginePaused = bOn;
        UpdatePauseState();
        EXPECT_EQ(g_bEnginePaused, 0);

        // The caption's action asked for after the button went up: no drag, so no pause outlasts it.
        PlatPostMessage(hMain, PLAT_WM_NCLBUTTONDOWN, KX_HTCAPTION, PlatMakeLParam(0, 0));
        Drain();
        EXPECT_EQ(PlatGetDraggedWindow(), 0u);
        EXPECT_EQ(g_bEnginePaused, 0);
        EXPECT_EQ(IsCaptionDragHeld(), 0);
    }
    InstallEngineParts();
}

// A click on the tray icon brings back a window hidden to the tray or minimised; its popup opens at
// the cursor's screen position.
TEST_F(WindowProcTest, ATrayClickBringsTheWindowBack)
{
    PlatShowWindow(hMain, PLAT_SW_MINIMIZE);
    PlatShowWindow(hMain, PLAT_SW_HIDE);
    PlatSendMessage(hMain, KX_WM_TRAY_NOTIFY, KX_TRAY_ICON_ID, PLAT_WM_LBUTTONDOWN);
    EXPECT_EQ(PlatIsWindowVisible(hMain), 1);
    EXPECT_EQ(PlatIsIconic(hMain), 0);
    PlatShowWindow(hMain, PLAT_SW_MINIMIZE);
    PlatSetCursorPos(1000, 700);
    g_nPopupMenuRequest = 0;
    PlatSendMessage(hMain, KX_WM_TRAY_NOTIFY, KX_TRAY_ICON_ID, PLAT_WM_RBUTTONUP);
    EXPECT_EQ(PlatIsIconic(hMain), 0);
    EXPECT_EQ(g_nPopupMenuRequest, 2);
    EXPECT_EQ(g_nPopupMenuX, 1000);
    EXPECT_EQ(g_nPopupMenuY, 700);
}

// Each window has its own cursor: the one shown is that of the window the mouse is over.
TEST_F(WindowProcTest, TheCursorShownIsThatOfTheWindowUnderTheMouse)
{
    const PLAT_HWND hSub = Create(1, 200, 100);
    const PLAT_CURSOR hHand = PlatLoadCursor(PLAT_IDC_HAND);
    ASSERT_NE(hHand, 0u);
    PlatFakeInjectMouseMove(hMain, 10, 10);
    ASSERT_EQ(PlatSetWindowCursor(hMain, hHand), 0);
    EXPECT_EQ(PlatGetShownCursor(), hHand);
    PlatFakeInjectMouseMove(hSub, 10, 10);
    EXPECT_EQ(PlatGetShownCursor(), 0u);
    // Set while the mouse is elsewhere: kept for the window, shown once the mouse comes back.
    const PLAT_CURSOR hCross = PlatLoadCursor(PLAT_IDC_CROSS);
    ASSERT_EQ(PlatSetWindowCursor(hMain, hCross), 0);
    EXPECT_EQ(PlatGetShownCursor(), 0u);
    PlatFakeInjectMouseMove(hMain, 20, 20);
    EXPECT_EQ(PlatGetShownCursor(), hCross);
    Drain();
}
