// Input polling and the key model (see core/input.h and core/input_state.h).
#include "core/input.h"

#include <atomic>
#include <cstring>

#include "core/engine_hooks.h"
#include "core/engine_globals.h"
#include "core/window_record.h"
#include "platform/plat_joystick.h"
#include "platform/plat_window.h"

uint8_t g_abKeyState[KX_KEY_CODES];
uint8_t g_abKeyMode[KX_KEY_CODES];
int64_t g_allKeyCounter[KX_KEY_CODES];
int64_t g_allKeyPresses[KX_KEY_CODES];

uint8_t g_bKeyboardSwitch = 1;
uint8_t g_bJoystickSwitch = 0;
uint8_t g_bMouseSwitch = 1;

KX_KEY_HANDLER g_apfnKeyHandler[KX_KEY_HANDLERS];

// Backspace, Tab, Enter, Shift, Ctrl, Alt, Pause, Escape; Space to Down; Print Screen to 9; the
// letters; the numeric pad and F1 to F24 (96..135); Num Lock, Scroll Lock; the sided modifiers; the
// punctuation keys of the main block; and the key left of right Shift on Japanese keyboards.
const uint8_t g_abPolledKeys[KX_POLLED_KEYS] = {
    8,   9,   13,  16,  17,  18,  19,  27,                                         //
    32,  33,  34,  35,  36,  37,  38,  39,  40,                                    //
    44,  45,  46,  47,  48,  49,  50,  51,  52,  53,  54,  55,  56,  57,           //
    65,  66,  67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  77,                //
    78,  79,  80,  81,  82,  83,  84,  85,  86,  87,  88,  89,  90,                //
    96,  97,  98,  99,  100, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, //
    112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125, 126, 127, //
    128, 129, 130, 131, 132, 133, 134, 135,                                        //
    144, 145, 160, 161, 162, 163, 164, 165,                                        //
    186, 187, 188, 189, 190, 191, 192, 219, 220, 221, 222, 226,
};

int32_t g_nActiveWindow = -1;

int32_t g_nWheelDelta = 0;
uint8_t g_bMouseMoved = 0;
uint8_t g_nDragRequestWindow = 0;
int32_t g_nDragRequestX = 0, g_nDragRequestY = 0;

int32_t g_nJoystickCount = 0;
uint8_t g_abJoystickConnected[KX_JOYSTICKS];

static constexpr int kHitCaption = 2;  // HTCAPTION: a press on the caption starts a window drag

// ---- Key handlers -------------------------------------------------------------------------------

void KeyIdleTick(int nKey) { g_allKeyCounter[nKey] -= 1; }

void KeyPress(int nKey)
{
    g_allKeyCounter[nKey] = 1;
    g_abKeyMode[nKey] = KX_KEY_MODE_DOWN;
    g_allKeyPresses[nKey] += 1;
}

void KeyRelease(int nKey)
{
    g_allKeyCounter[nKey] = -1;
    g_abKeyMode[nKey] = KX_KEY_MODE_UP;
}

void KeyHoldTick(int nKey) { g_allKeyCounter[nKey] += 1; }

void RegisterKeyHandlers(void)
{
    g_apfnKeyHandler[0] = KeyIdleTick;
    g_apfnKeyHandler[1] = KeyPress;
    g_apfnKeyHandler[2] = KeyRelease;
    g_apfnKeyHandler[3] = KeyHoldTick;
}

void RunKeyHandler(int nKey)
{
    if (nKey < 0 || nKey >= KX_KEY_CODES) return;
    // Any mode other than up counts as down, so the index stays within the table.
    const int nIndex = (g_abKeyMode[nKey] != KX_KEY_MODE_UP ? 2 : 0) + ((g_abKeyState[nKey] & 0x80) ? 1 : 0);
    if (g_apfnKeyHandler[nIndex]) g_apfnKeyHandler[nIndex](nKey);
}

// ---- Sampling (window thread) --------------------------------------------------------------------

static PLAT_HWND WindowHandle(int nWindow)
{
    const WINDOW_STATE* p = g_apWindowState[nWindow];
    return p && p->hWnd && PlatIsWindow(p->hWnd) ? p->hWnd : 0;
}

// The cursor in the window's game coordinates and the two outside flags. Window 0 shows its picture
// scaled to the output size, so its client position is scaled back to game pixels (integer division).
static void SampleWindowMouse(int nWindow, int32_t nScreenX, int32_t nScreenY)
{
    WINDOW_STATE* p = g_apWindowState[nWindow];
    const PLAT_HWND hwnd = WindowHandle(nWindow);
    int32_t ox = 0, oy = 0;
    if (!hwnd || PlatClientToScreen(hwnd, &ox, &oy) != 0) {
        if (!p) return;
        WINDOW_STATE& w = *p;
        w.nMouseX = w.nMouseY = 0;
        w.bMouseOutsidePicture = w.bMouseOutsideWindow = 1;
        return;
    }
    WINDOW_STATE& w = *p;
    const int64_t nWidth = p->nWidth, nHeight = p->nHeight;
    int64_t x = static_cast<int64_t>(nScreenX) - ox, y = static_cast<int64_t>(nScreenY) - oy;
    // Window 0 shows the scaled frame at an offset; the margins around it are the letterbox.
    int64_t mx = 0, my = 0;
    if (nWindow == 0) {
        x -= g_nOutputOffsetX;
        y -= g_nOutputOffsetY;
        mx = g_nOutputOffsetX;
        my = g_nOutputOffsetY;
        if (g_nOutputWidth != 0 && g_nOutputHeight != 0) {
            x = x * nWidth / g_nOutputWidth;
            y = y * nHeight / g_nOutputHeight;
            mx = mx * nWidth / g_nOutputWidth;
            my = my * nHeight / g_nOutputHeight;
        }
    }
    w.nMouseX = static_cast<int32_t>(x);
    w.nMouseY = static_cast<int32_t>(y);
    w.bMouseOutsidePicture = !(x >= 0 && x < nWidth && y >= 0 && y < nHeight);
    if (w.bMouseOutsidePicture)
        w.bMouseOutsideWindow = !(x >= -mx && x < nWidth + mx && y >= -my && y < nHeight + my);
    else
        w.bMouseOutsideWindow = 0;
}

void SampleWindowMouseAt(int nWindow, int32_t nScreenX, int32_t nScreenY)
{
    if (nWindow >= 0 && nWindow < KX_WINDOWS && g_apWindowState[nWindow]) SampleWindowMouse(nWindow, nScreenX, nScreenY);
}

// Presses the window thread's samples saw, kept until the frame's input step takes them.
static std::atomic<uint8_t> s_abPressSeen[256];

void PollInput(void)
{
    int nActive = -1;
    for (int i = 0; i < KX_INPUT_WINDOWS && nActive < 0; ++i)
        if (g_apWindowState[i] && g_apWindowState[i]->bActive) nActive = i;
    g_nActiveWindow = nActive;
    if (nActive < 0) {
        // Nothing of ours has the keyboard: every key reads as up, so held keys are released, and
        // presses meant for another window do not count.
        std::memset(g_abKeyState, 0, sizeof g_abKeyState);
        for (int vk = 1; vk < 256; ++vk) PlatTakeKeyPress(vk);
        for (auto& b : s_abPressSeen) b = 0;
        return;
    }
    for (int vk = 0; vk < 256; ++vk) {
        if (PlatTakeKeyPress(vk)) s_abPressSeen[vk] = 1;
        g_abKeyState[vk] = PlatGetKeyDown(vk) ? 0x80 : 0;
    }

    int32_t sx = 0, sy = 0;
    if (g_EngineHooks.pfnGetCursorScreenPos(&sx, &sy) != 0) return;
    for (int i = 0; i < KX_INPUT_WINDOWS; ++i) SampleWindowMouse(i, sx, sy);
}

// ---- Frame step ----------------------------------------------------------------------------------

static void UpdateMouseKeys(void)
{
    const WINDOW_STATE* pActive =
        g_nActiveWindow >= 0 && g_nActiveWindow < KX_INPUT_WINDOWS ? g_apWindowState[g_nActiveWindow] : nullptr;
    if (pActive && pActive->bMouseOutsideWindow) {
        // No new press begins outside the window; a button held before leaving stays held.
        for (int k : {1, 2, 4, 5, 6, 7})
            if (g_allKeyCounter[k] <= 0) g_abKeyState[k] = 0;
    } else if (pActive) {
        if (g_nWheelDelta > 0) g_abKeyState[5] = 0x80;
        if (g_nWheelDelta < 0) g_abKeyState[6] = 0x80;
        g_abKeyState[7] = g_bMouseMoved ? 0x80 : 0;
    }
    for (int k = 1; k <= 7; ++k) RunKeyHandler(k);
}

static void UpdateKeyboardKeys(void)
{
    uint8_t bAny = 0;
    for (uint8_t vk : g_abPolledKeys) {
        RunKeyHandler(vk);
        bAny |= g_abKeyState[vk] & 0x80;
    }
    g_abKeyState[0] = bAny;
    RunKeyHandler(0);
}

void PollJoysticks(void)
{
    if (!g_bJoystickPresent) return;
    std::memset(g_abJoystickConnected, 0, sizeof g_abJoystickConnected);
    const int nCount = g_nJoystickCount < KX_JOYSTICKS ? g_nJoystickCount : KX_JOYSTICKS;
    for (int s = 0; s < nCount; ++s) {
        PLAT_JOYINFO info;
        if (PlatJoystickGetPos(s, &info) == 0) {
            g_abJoystickConnected[s] = 1;
        } else {
            // A slot that does not answer reads as a stick at rest: no phantom direction, and a
            // button held while the stick was pulled out is released.
            info = PLAT_JOYINFO{PLAT_JOY_CENTRE, PLAT_JOY_CENTRE, 0};
        }
        const int nFirst = KX_JOY_FIRST_KEY + KX_JOY_KEYS * s;
        g_abKeyState[nFirst + 0] = info.dwYpos < PLAT_JOY_CENTRE ? 0x80 : 0;
        g_abKeyState[nFirst + 1] = info.dwYpos > PLAT_JOY_CENTRE ? 0x80 : 0;
        g_abKeyState[nFirst + 2] = info.dwXpos < PLAT_JOY_CENTRE ? 0x80 : 0;
        g_abKeyState[nFirst + 3] = info.dwXpos > PLAT_JOY_CENTRE ? 0x80 : 0;
        for (int i = 0; i < KX_JOY_BUTTONS; ++i)
            g_abKeyState[nFirst + KX_JOY_DIRECTIONS + i] = (info.dwButtons & (1u << i)) ? 0x80 : 0;
        for (int k = 0; k < KX_JOY_KEYS; ++k) RunKeyHandler(nFirst + k);
    }
}

void UpdateInputState(void)
{
    // A press the samples saw begin and end between two frames counts as down in this frame.
    for (int vk = 1; vk < 256; ++vk)
        if (s_abPressSeen[vk].exchange(0)) g_abKeyState[vk] |= 0x80;
    if (g_bMouseSwitch) UpdateMouseKeys();
    g_bMouseMoved = 0;
    g_nWheelDelta = 0;
    if (g_bKeyboardSwitch) UpdateKeyboardKeys();
    if (g_bJoystickSwitch) PollJoysticks();
    g_EngineHooks.pfnUpdateCursorAutoHide();

    for (int i = 0; i < KX_INPUT_WINDOWS; ++i) {
        const PLAT_HWND hwnd = WindowHandle(i);
        if (hwnd && PlatIsIconic(hwnd)) g_apWindowState[i]->bActive = 0;
    }
    g_EngineHooks.pfnUpdatePauseState();

    const int nDrag = g_nDragRequestWindow;
    if (nDrag >= 1 && nDrag <= KX_INPUT_WINDOWS) {
        const PLAT_HWND hwnd = WindowHandle(nDrag - 1);
        if (hwnd)
            PlatPostMessage(hwnd, PLAT_WM_NCLBUTTONDOWN, kHitCaption, PlatMakeLParam(g_nDragRequestX, g_nDragRequestY));
    }
    g_nDragRequestWindow = 0;
}

int InitJoysticks(void)
{
    const int nCount = PlatJoystickGetNumDevs();
    if (nCount <= 0) {
        g_nJoystickCount = 0;
        return 0;
    }
    g_nJoystickCount = nCount < KX_JOYSTICKS ? nCount : KX_JOYSTICKS;
    return 1;
}
