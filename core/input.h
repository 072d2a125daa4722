// Input polling: the window thread samples the keyboard, the mouse buttons and the mouse position
// of every engine window into its window record (PollInput); once per frame the input step turns the samples, the wheel,
// the mouse movement and the joysticks into key transitions (UpdateInputState). The key arrays
// themselves are in core/input_state.h.
#pragma once
#include <cstdint>

#include "core/input_state.h"

enum { KX_INPUT_WINDOWS = 4, KX_POLLED_KEYS = 117, KX_KEY_HANDLERS = 4 };

// Key handlers, indexed by mode + (state bit 7 ? 1 : 0): still up, pressed, released, still held.
typedef void (*KX_KEY_HANDLER)(int nKey);
extern KX_KEY_HANDLER g_apfnKeyHandler[KX_KEY_HANDLERS];
void KeyIdleTick(int nKey);   // counter -= 1
void KeyPress(int nKey);      // counter := 1, mode := down, presses += 1
void KeyRelease(int nKey);    // counter := -1, mode := up
void KeyHoldTick(int nKey);   // counter += 1
// Runs key nKey through the handler that its mode and its state byte select.
void RunKeyHandler(int nKey);

// The keyboard keys that are polled, by virtual-key code.
extern const uint8_t g_abPolledKeys[KX_POLLED_KEYS];

// Index of the active engine window, -1 when none is.
extern int32_t g_nActiveWindow;

// Written by the window procedure, consumed by the next input step: the summed wheel delta, the
// mouse-moved byte, and a window-drag request (window number 1..4, 0 none) with its screen position.
extern int32_t g_nWheelDelta;
extern uint8_t g_bMouseMoved;
// The window's mouse position (nMouseX, nMouseY and the outside flags) for the cursor at a screen
// position, as the input step samples it; a click's own position is taken this way, so that what
// it hit does not depend on when the input step last ran.
void SampleWindowMouseAt(int nWindow, int32_t nScreenX, int32_t nScreenY);
extern uint8_t g_nDragRequestWindow;
extern int32_t g_nDragRequestX, g_nDragRequestY;

// Joysticks: the slot count (at most 16) and which slots answered the last poll.
extern int32_t g_nJoystickCount;
extern uint8_t g_abJoystickConnected[KX_JOYSTICKS];

// Window thread, every main-loop turn: the active window, the keyboard state and the mouse.
void PollInput(void);
// Frame step: mouse codes 1..7, the keyboard keys and code 0, joysticks, minimised windows, the pause
// state and the drag request.
void UpdateInputState(void);
// Runs the 36 codes of every joystick slot through their handlers (when a joystick is present).
void PollJoysticks(void);
// 1 when the joystick service reports at least one slot, else 0; the count is kept either way.
int InitJoysticks(void);
// Fills g_apfnKeyHandler.
void RegisterKeyHandlers(void);
