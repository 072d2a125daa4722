// Stand-in until the input step exists: the key arrays at their start values (every key up, never
// pressed).
#include "core/input_state.h"

uint8_t g_abKeyState[KX_KEY_CODES];
uint8_t g_abKeyMode[KX_KEY_CODES];
int64_t g_allKeyCounter[KX_KEY_CODES];
int64_t g_allKeyPresses[KX_KEY_CODES];

uint8_t g_bKeyboardSwitch = 1;
uint8_t g_bJoystickSwitch = 0;
uint8_t g_bMouseSwitch = 1;
