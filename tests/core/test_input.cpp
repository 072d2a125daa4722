#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "root/startup.h"
#include "core/engine_hooks.h"
#include "core/input.h"
#include "core/engine_globals.h"
#include "core/frame_loop.h"
#include "display/window_state.h"
#include "platform/plat_joystick.h"
#include "platform/plat_window.h"
#include "tests/support/engine_test.h"

namespace {

int32_t s_nCursorX, s_nCursorY;          // cursor in screen pixels
int CursorPos(int32_t* pX, int32_t* pY)
{
    *pX = s_nCursorX;
    *pY = s_nCursorY;
    return 0;
}

// Window 0 is a popup (client = outer rectangle) at screen (100, 50) showing a 640 x 480 game.
constexpr int kLeft = 100, kTop = 50;

// Letter keys: their virtual-key code is the capital letter's ASCII code.
constexpr int kKeyA = 'A', kKeyQ = 'Q', kKeyZ = 'Z';

class InputTest : public EngineTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        std::memcpy(m_apSaved, g_apWindowState, sizeof m_apSaved);
        g_EngineHooks.pfnGetCursorScreenPos = CursorPos;
        g_nOutputWidth = 640;
        g_nOutputHeight = 480;
        MakeWindow(640, 480);
        std::memset(g_apWindowState, 0, sizeof g_apWindowState);
        g_apWindowState[0] = &m_state;

        m_state.bActive = 1;
        m_sub = WINDOW_STATE{};
        g_apWindowState[2] = &m_sub;   // a record without a window
        MoveCursor(10, 10);
        RegisterKeyHandlers();
        PlatJoystickUseBackend(PLAT_JOY_BACKEND_FAKE);
    }
    void TearDown() override
    {
        PlatJoystickUseBackend(PLAT_JOY_BACKEND_SDL);
        std::memcpy(g_apWindowState, m_apSaved, sizeof m_apSaved);
        PlatShutdownWindowSystem();
    }
    void MakeWindow(int nClientW, int nClientH)
    {
        if (m_state.hWnd) PlatDestroyWindow(m_state.hWnd);
        m_state = WINDOW_STATE{};
        m_state.bActive = 1;
        m_state.nWidth = 640;
        m_state.nHeight = 480;
        m_state.hWnd = PlatCreateWindow("KxInput", "", PLAT_WS_POPUP | PLAT_WS_VISIBLE, kLeft, kTop, nClientW,
                                        nClientH, 0, PlatDefWindowProc, nullptr);
        ASSERT_NE(m_state.hWnd, 0u);
    }
    // Cursor at a position in window 0's client area.
    static void MoveCursor(int x, int y)
    {
        s_nCursorX = kLeft + x;
        s_nCursorY = kTop + y;
    }
    void Key(int nVk, int bDown) { PlatFakeInjectKey(m_state.hWnd, nVk, bDown, 0); }
    void Button(int nButton, int bDown) { PlatFakeInjectMouseButton(m_state.hWnd, nButton, bDown, 0, 0); }
    // One main-loop turn and one frame step; the queued messages are dropped.
    std::vector<PLAT_MSG> Frame()
    {
        PollInput();
        UpdateInputState();
        std::vector<PLAT_MSG> msgs;
        PLAT_MSG m;
        for (int i = 0; i < 100 && PlatPeekMessage(&m, PLAT_PM_REMOVE); ++i) {
            msgs.push_back(m);
            PlatDispatchMessage(&m);
        }
        return msgs;
    }

    WINDOW_STATE m_state{};
    WINDOW_STATE m_sub{};
    WINDOW_STATE* m_apSaved[KX_WINDOWS]{};
};

// A down/up pattern per frame ('X' down) against the counter after each frame.
struct KEY_CASE {
    const char* pszPattern;
    std::vector<int64_t> counters;
    int64_t llPresses;
};

TEST_F(InputTest, KeyboardKeysAndAnyKeyCountFramesAndPresses)
{
    const KEY_CASE cases[] = {
        {"X...", {1, -1, -2, -3}, 1},
        {"XXX.", {1, 2, 3, -1}, 1},
        {"XX.X..", {1, 2, -1, 1, -1, -2}, 2},
        {"..X", {-1, -2, 1}, 1},
    };
    for (const KEY_CASE& c : cases) {
        Key('A', 0);
        for (int k : {0, kKeyA}) {
            g_abKeyMode[k] = KX_KEY_MODE_UP;
            g_allKeyCounter[k] = 0;
            g_allKeyPresses[k] = 0;
        }
        for (size_t i = 0; c.pszPattern[i]; ++i) {
            Key('A', c.pszPattern[i] == 'X');
            Frame();
            EXPECT_EQ(g_allKeyCounter[kKeyA], c.counters[i]) << c.pszPattern << " frame " << i;
            EXPECT_EQ(g_allKeyCounter[0], c.counters[i]) << c.pszPattern << " any key, frame " << i;
        }
        EXPECT_EQ(g_allKeyPresses[kKeyA], c.llPresses) << c.pszPattern;
        EXPECT_EQ(g_allKeyPresses[0], c.llPresses) << c.pszPattern;
    }
}

// With the frames on their own thread the main loop polls only while the frame thread sits in its
// wait. A poll in the middle of the frame's input step would write the key state the step reads: a
// tap shorter than a frame, which the step has just taken from the poll before, would read as up
// and be lost.
int g_nPolls = 0;
TEST_F(InputTest, ATapShorterThanAFrameIsNotLostBesideTheFrameThread)
{
    g_nPolls = 0;
    void (*pfnSavedPoll)(void) = g_EngineHooks.pfnPollInput;
    g_EngineHooks.pfnPollInput = [] {
        ++g_nPolls;
        PollInput();
    };
    g_bThreadedFrames = 1;
    g_bFrameThreadState = KX_THREAD_RUNNING;
    g_abKeyMode['A'] = KX_KEY_MODE_UP;
    g_allKeyCounter['A'] = 0;
    g_allKeyPresses['A'] = 0;
    // A tap between two frames; the main loop's turn comes while the frame thread waits.
    Key('A', 1);
    Key('A', 0);
    g_bInFrameWait = 1;
    PollInputBesideFrames();
    EXPECT_EQ(g_nPolls, 1);
    EXPECT_EQ(g_bInWndProc.load(), 0);
    // The frame's input step, with the main loop's next turn in its middle (while the mouse keys
    // are handled, before the keyboard's): that turn polls nothing.
    g_bInFrameWait = 0;
    g_apfnKeyHandler[0] = [](int nKey) {
        if (nKey == 1) PollInputBesideFrames();
        KeyIdleTick(nKey);
    };
    UpdateInputState();
    RegisterKeyHandlers();
    EXPECT_EQ(g_nPolls, 1);
    EXPECT_EQ(g_allKeyPresses['A'], 1);
    EXPECT_EQ(g_allKeyCounter['A'], 1);
    // The next turn while the frame thread waits, and the next frame: the key is up.
    g_bInFrameWait = 1;
    PollInputBesideFrames();
    g_bInFrameWait = 0;
    EXPECT_EQ(g_nPolls, 2);
    UpdateInputState();
    EXPECT_EQ(g_allKeyCounter['A'], -1);
    EXPECT_EQ(g_allKeyPresses['A'], 1);
    // Without the frame thread running every turn polls.
    g_bFrameThreadState = KX_FRAME_THREAD_ENDED;
    PollInputBesideFrames();
    EXPECT_EQ(g_nPolls, 3);
    g_bThreadedFrames = 0;
    g_bFrameThreadState = KX_THREAD_NOT_STARTED;
    g_EngineHooks.pfnPollInput = pfnSavedPoll;
}

TEST_F(InputTest, AnyKeyStaysDownWhileOneOfSeveralKeysIsHeldAndIgnoresUnpolledKeys)
{
    Key(PLAT_VK_SPACE, 1);
    Frame();
    Key(PLAT_VK_OEM_102, 1);
    Key(PLAT_VK_SPACE, 0);
    Frame();
    EXPECT_EQ(g_allKeyCounter[0], 2);
    EXPECT_EQ(g_allKeyCounter[PLAT_VK_OEM_102], 1);
    Key(PLAT_VK_OEM_102, 0);
    Key(PLAT_VK_CAPITAL, 1);   // Caps Lock is not a polled key
    Frame();
    EXPECT_EQ(g_allKeyCounter[0], -1);
    EXPECT_EQ(g_allKeyCounter[PLAT_VK_CAPITAL], 0);
}

TEST_F(InputTest, MouseButtonsWheelAndMovementBecomeKeys)
{
    Button(1, 1);
    Button(5, 1);
    g_nWheelDelta = 240;
    g_bMouseMoved = 1;
    Frame();
    EXPECT_EQ(g_allKeyCounter[1], 1);
    EXPECT_EQ(g_allKeyCounter[6], 1);   // second extra button
    EXPECT_EQ(g_allKeyCounter[5], 1);   // wheel up
    EXPECT_EQ(g_allKeyCounter[7], 1);   // moved
    EXPECT_EQ(g_nWheelDelta, 0);
    EXPECT_EQ(g_bMouseMoved, 0);
    Button(1, 0);
    Button(5, 0);
    Button(2, 1);
    Frame();
    EXPECT_EQ(g_allKeyCounter[1], -1);
    EXPECT_EQ(g_allKeyCounter[2], 1);
    EXPECT_EQ(g_allKeyCounter[5], -1);   // the wheel holds a code for one frame only
    EXPECT_EQ(g_allKeyCounter[6], -1);
    EXPECT_EQ(g_allKeyCounter[7], -1);
    g_nWheelDelta = -120;
    Frame();
    EXPECT_EQ(g_allKeyCounter[6], 1);    // wheel down
    EXPECT_EQ(g_allKeyPresses[6], 2);
    EXPECT_EQ(g_allKeyCounter[5], -2);
    EXPECT_EQ(g_allKeyCounter[0], -3);   // mouse buttons are not keyboard keys
}

// A click or a tap whose press and release both come between two frames still counts: down in the
// next frame, up in the one after. A press while no window of ours is active does not count.
TEST_F(InputTest, APressReleasedBeforeTheNextFrameStillCounts)
{
    for (const int nCode : {1, int('B')}) {
        SCOPED_TRACE(nCode);
        auto press = [&](int bDown) {
            if (nCode == 1) Button(1, bDown);
            else Key(nCode, bDown);
        };
        Frame();
        const int64_t llPresses = g_allKeyPresses[nCode];
        press(1);
        press(0);
        Frame();
        EXPECT_EQ(g_allKeyCounter[nCode], 1);
        EXPECT_EQ(g_allKeyPresses[nCode], llPresses + 1);
        Frame();
        EXPECT_EQ(g_allKeyCounter[nCode], -1);

        m_state.bActive = 0;
        press(1);
        press(0);
        Frame();
        m_state.bActive = 1;
        Frame();
        EXPECT_EQ(g_allKeyPresses[nCode], llPresses + 1);
    }
}

TEST_F(InputTest, MousePositionMapsToGameCoordinatesWithLetterbox)
{
    // Output 1280 x 960 at (40, 30): a 1360 x 1020 client, margins of 20 x 15 game pixels.
    MakeWindow(1360, 1020);
    g_nOutputWidth = 1280;
    g_nOutputHeight = 960;
    g_nOutputOffsetX = 40;
    g_nOutputOffsetY = 30;
    struct {
        int cx, cy, gx, gy;
        uint8_t bOutPicture, bOutWindow;
    } const cases[] = {
        {40, 30, 0, 0, 0, 0},        {1319, 989, 639, 479, 0, 0}, {1320, 989, 640, 479, 1, 0},
        {0, 0, -20, -15, 1, 0},      {1359, 1019, 659, 494, 1, 0}, {1400, 500, 680, 235, 1, 1},
        {500, -40, 230, -35, 1, 1},
    };
    for (const auto& c : cases) {
        MoveCursor(c.cx, c.cy);
        PollInput();
        const WINDOW_STATE& w = m_state;
        EXPECT_EQ(w.nMouseX, c.gx) << c.cx << "," << c.cy;
        EXPECT_EQ(w.nMouseY, c.gy) << c.cx << "," << c.cy;
        EXPECT_EQ(w.bMouseOutsidePicture, c.bOutPicture) << c.cx << "," << c.cy;
        EXPECT_EQ(w.bMouseOutsideWindow, c.bOutWindow) << c.cx << "," << c.cy;
    }
    // A window without a handle reads (0, 0), outside everything.
    m_sub.nMouseX = 5;
    PollInput();
    EXPECT_EQ(m_sub.nMouseX, 0);
    EXPECT_EQ(m_sub.bMouseOutsidePicture, 1);
    EXPECT_EQ(m_sub.bMouseOutsideWindow, 1);
}

TEST_F(InputTest, NoNewMousePressBeginsOutsideTheWindowButAHeldButtonStaysHeld)
{
    MoveCursor(700, 10);   // beyond the client: outside the window
    Button(1, 1);
    g_nWheelDelta = 120;
    g_bMouseMoved = 1;
    Frame();
    EXPECT_EQ(g_allKeyCounter[1], -1);
    EXPECT_EQ(g_allKeyPresses[1], 0);
    EXPECT_EQ(g_allKeyPresses[5], 0);
    EXPECT_EQ(g_allKeyPresses[7], 0);
    Button(1, 0);
    Frame();
    MoveCursor(300, 200);
    Button(1, 1);
    Frame();
    EXPECT_EQ(g_allKeyCounter[1], 1);
    MoveCursor(-30, 200);
    Frame();
    EXPECT_EQ(g_allKeyCounter[1], 2);
    Button(1, 0);
    Frame();
    EXPECT_EQ(g_allKeyCounter[1], -1);
}

TEST_F(InputTest, WithoutAnActiveWindowEveryKeyIsReleased)
{
    Key('Z', 1);
    Button(2, 1);
    Frame();
    m_state.bActive = 0;
    Frame();
    EXPECT_EQ(g_nActiveWindow, -1);
    EXPECT_EQ(g_allKeyCounter[kKeyZ], -1);
    EXPECT_EQ(g_allKeyCounter[2], -1);
    EXPECT_EQ(g_allKeyCounter[0], -1);
    Frame();
    EXPECT_EQ(g_allKeyCounter[kKeyZ], -2);
    // The second window takes over when it is the active one.
    m_sub.bActive = 1;
    Frame();
    EXPECT_EQ(g_nActiveWindow, 2);
    EXPECT_EQ(g_allKeyCounter[kKeyZ], 1);
}

TEST_F(InputTest, SwitchesOffKeepTheCountersOfTheirSource)
{
    Key('Q', 1);
    Button(1, 1);
    Frame();
    g_bKeyboardSwitch = 0;
    g_bMouseSwitch = 0;
    Key('Q', 0);
    Button(1, 0);
    g_bMouseMoved = 1;
    Frame();
    Frame();
    EXPECT_EQ(g_allKeyCounter[kKeyQ], 1);
    EXPECT_EQ(g_allKeyCounter[0], 1);
    EXPECT_EQ(g_allKeyCounter[1], 1);
    EXPECT_EQ(g_allKeyCounter[7], -1);
    EXPECT_EQ(g_bMouseMoved, 0);   // consumed even while the mouse is switched off
    g_bKeyboardSwitch = 1;
    g_bMouseSwitch = 1;
    Frame();
    EXPECT_EQ(g_allKeyCounter[kKeyQ], -1);
    EXPECT_EQ(g_allKeyCounter[1], -1);
}

TEST_F(InputTest, JoysticksTurnAxesAndButtonsIntoKeys)
{
    ASSERT_EQ(InitJoysticks(), 1);
    EXPECT_EQ(g_nJoystickCount, 16);
    g_bJoystickPresent = 1;
    auto Code = [](int s, int k) { return KX_JOY_FIRST_KEY + KX_JOY_KEYS * s + k; };
    // Polling is off at start.
    PlatFakeJoystickSet(0, 1, 40000, PLAT_JOY_CENTRE, 0);
    Frame();
    EXPECT_EQ(g_allKeyCounter[Code(0, 3)], 0);

    g_bJoystickSwitch = 1;
    struct {
        uint32_t x, y, buttons;
        uint8_t up, down, left, right;
    } const cases[] = {
        {32767, 32767, 0, 0, 0, 0, 0},  {32768, 32767, 0, 0, 0, 0, 1},  {32766, 32767, 0, 0, 0, 1, 0},
        {0, 0, 0, 1, 0, 1, 0},          {65535, 65535, 0, 0, 1, 0, 1},
    };
    for (const auto& c : cases) {
        PlatFakeJoystickSet(1, 1, c.x, c.y, 0x80000001u);
        Frame();
        const uint8_t abWant[4] = {c.up, c.down, c.left, c.right};
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(g_allKeyCounter[Code(1, k)] > 0, abWant[k] != 0) << c.x << "," << c.y << " dir " << k;
    }
    EXPECT_EQ(g_allKeyCounter[Code(1, 4)], 5);       // button 1
    EXPECT_EQ(g_allKeyCounter[Code(1, 35)], 5);      // button 32
    EXPECT_EQ(g_allKeyCounter[Code(1, 5)], -5);
    EXPECT_EQ(g_abJoystickConnected[1], 1);
    EXPECT_EQ(g_abJoystickConnected[2], 0);
    EXPECT_EQ(g_allKeyCounter[Code(15, 0)], -5);     // every slot runs, even an empty one
    EXPECT_EQ(g_allKeyCounter[Code(16, 0)], 0);      // beyond the slots: no joystick codes
}

TEST_F(InputTest, AJoystickThatStopsAnsweringReadsCentredWithoutButtons)
{
    ASSERT_EQ(InitJoysticks(), 1);
    g_bJoystickPresent = 1;
    g_bJoystickSwitch = 1;
    const int nFirst = KX_JOY_FIRST_KEY + KX_JOY_KEYS * 3;
    PlatFakeJoystickSet(3, 1, 0, 0, 1u << 4);
    Frame();
    EXPECT_EQ(g_allKeyCounter[nFirst + 0], 1);
    EXPECT_EQ(g_allKeyCounter[nFirst + 2], 1);
    EXPECT_EQ(g_allKeyCounter[nFirst + 4 + 4], 1);
    PlatFakeJoystickSet(3, 0, 0, 0, 0);   // pulled out while held
    Frame();
    EXPECT_EQ(g_abJoystickConnected[3], 0);
    for (int k = 0; k < KX_JOY_KEYS; ++k) EXPECT_LE(g_allKeyCounter[nFirst + k], -1) << k;
    // A slot that never held a stick never shows phantom input.
    for (int k = 0; k < KX_JOY_KEYS; ++k) EXPECT_EQ(g_allKeyPresses[KX_JOY_FIRST_KEY + KX_JOY_KEYS * 5 + k], 0);
}

TEST_F(InputTest, JoystickSlotsAreCountedAtStart)
{
    PlatFakeJoystickSetNumDevs(0);
    EXPECT_EQ(InitJoysticks(), 0);
    EXPECT_EQ(g_nJoystickCount, 0);
    PlatFakeJoystickSetNumDevs(40);
    EXPECT_EQ(InitJoysticks(), 1);
    EXPECT_EQ(g_nJoystickCount, 16);
    // Headless runs have no joysticks.
    PlatJoystickUseBackend(PLAT_JOY_BACKEND_NONE);
    EXPECT_EQ(InitJoysticks(), 0);
    PLAT_JOYINFO info{};
    EXPECT_EQ(PlatJoystickGetPos(0, &info), -1);
    struct {
        int32_t nAxis;
        uint32_t dwMapped;
    } const axes[] = {{-32768, 0}, {-1, 32766}, {0, 32767}, {1, 32768}, {32767, 65534}};
    for (const auto& a : axes) EXPECT_EQ(PlatJoystickMapAxis(a.nAxis), a.dwMapped) << a.nAxis;
}

TEST_F(InputTest, MinimisedWindowsLoseTheirActiveByteAndDragRequestsArePosted)
{
    g_nDragRequestWindow = 1;
    g_nDragRequestX = 321;
    g_nDragRequestY = 123;
    std::vector<PLAT_MSG> msgs = Frame();
    bool bDrag = false;
    for (const PLAT_MSG& m : msgs)
        if (m.message == PLAT_WM_NCLBUTTONDOWN && m.hwnd == m_state.hWnd) {
            bDrag = true;
            EXPECT_EQ(m.wParam, 2u);
            EXPECT_EQ(PlatGetXLParam(m.lParam), 321);
            EXPECT_EQ(PlatGetYLParam(m.lParam), 123);
        }
    EXPECT_TRUE(bDrag);
    EXPECT_EQ(g_nDragRequestWindow, 0);
    EXPECT_EQ(m_state.bActive, 1);

    PlatShowWindow(m_state.hWnd, PLAT_SW_MINIMIZE);
    Frame();
    EXPECT_EQ(m_state.bActive, 0);
}

TEST_F(InputTest, InstallPutsTheInputStepsIntoTheEngineHooks)
{
    InstallEngineParts();
    InstallEngineParts();
    EXPECT_EQ(g_EngineHooks.pfnPollInput, &PollInput);
    EXPECT_EQ(g_EngineHooks.pfnUpdateInputState, &UpdateInputState);
    EXPECT_EQ(g_EngineHooks.pfnRegisterKeyHandlers, &RegisterKeyHandlers);
    EXPECT_EQ(g_EngineHooks.pfnInitJoysticks, &InitJoysticks);
}

}  // namespace
