// The key model that scripts read: 1024 key codes, each with the state sampled this frame, the mode
// of its last transition, a hold counter and a press count. The input step updates them once per
// frame; the key system variables read them and scripts may adjust the counters.
//
// Codes: 0 any key, 1..7 mouse buttons, wheel and movement, 8..226 keyboard keys by virtual-key
// code, 384 + 36 s + 0..3 the directions and 384 + 36 s + 4..35 the buttons of joystick s (0..15).
#pragma once
#include <cstdint>

enum {
    KX_KEY_CODES = 1024,
    KX_JOYSTICKS = 16,
    KX_JOY_FIRST_KEY = 384,      // up of joystick 0
    KX_JOY_KEYS = 36,            // codes per joystick: 4 directions, 32 buttons
    KX_JOY_DIRECTIONS = 4,
    KX_JOY_BUTTONS = 32,
};

enum { KX_KEY_MODE_UP = 0, KX_KEY_MODE_DOWN = 2 };

// Bit 7 set: the key is down in this frame's sample.
extern uint8_t g_abKeyState[KX_KEY_CODES];
// KX_KEY_MODE_UP or KX_KEY_MODE_DOWN, as of the key's last transition.
extern uint8_t g_abKeyMode[KX_KEY_CODES];
// Frames held while positive (1 in the frame of the press), frames since the release while
// negative (-1 in the frame of the release).
extern int64_t g_allKeyCounter[KX_KEY_CODES];
// Presses since start.
extern int64_t g_allKeyPresses[KX_KEY_CODES];

// Input switches that scripts set (input-switch command): with the keyboard switch 0 the polled
// keyboard keys are not run through the key handlers (1 at load); with the joystick switch non-zero
// joysticks are polled (0 at load); with the mouse switch 0 the mouse buttons, wheel and movement
// are not run through the key handlers (1 at load).
extern uint8_t g_bKeyboardSwitch;
extern uint8_t g_bJoystickSwitch;
extern uint8_t g_bMouseSwitch;
