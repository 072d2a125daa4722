// Joysticks in place of the multimedia joystick service (joyGetNumDevs / joyGetPosEx).
//
// Slots 0..15 stand for the driver's joystick slots: a slot may be empty or hold a stick, and a stick
// plugged in later shows up in its slot. A reading gives the two main axes in 0..65535 with 32767 as
// the centre (the engine's "at rest") and up to 32 buttons as bits.
//
// Backends: SDL (real sticks; calls are handed to the window thread), none (no slots at all, for
// headless runs), and a fake whose slots tests fill.
#pragma once
#include <cstdint>

enum { PLAT_JOY_SLOTS = 16, PLAT_JOY_CENTRE = 32767, PLAT_JOY_AXIS_MAX = 65535 };
enum { PLAT_JOY_BACKEND_NONE = 0, PLAT_JOY_BACKEND_FAKE = 1, PLAT_JOY_BACKEND_SDL = 2 };

struct PLAT_JOYINFO {
    uint32_t dwXpos;     // 0..65535, 32767 centred
    uint32_t dwYpos;     // 0..65535, 32767 centred; small values are up
    uint32_t dwButtons;  // bit i: button i + 1 down
};

// Chooses the backend (SDL until told otherwise) and forgets the previous one's sticks.
void PlatJoystickUseBackend(int nBackend);
// Number of slots: 16 when the joystick service is available (whether or not a stick is plugged
// in), else 0 (also in headless runs on the dummy or offscreen video driver).
int PlatJoystickGetNumDevs(void);
// Reads the stick in slot nSlot: 0 with *pInfo filled, or -1 (no stick there, slot out of range,
// service not available) with *pInfo untouched.
int PlatJoystickGetPos(int nSlot, PLAT_JOYINFO* pInfo);
// Closes the sticks that were opened.
void PlatJoystickShutdown(void);

// SDL's signed axis (-32768..32767) to the 0..65535 range: a + 32767, clamped, so SDL's rest value 0
// reads exactly as the centre.
uint32_t PlatJoystickMapAxis(int32_t nAxis);

// ---- Fake backend ---------------------------------------------------------------------------------
// Slot count that PlatJoystickGetNumDevs reports (16 at the start of the fake).
void PlatFakeJoystickSetNumDevs(int nCount);
// Puts a stick with the given raw reading into a slot, or (bPresent 0) empties it.
void PlatFakeJoystickSet(int nSlot, int bPresent, uint32_t dwX, uint32_t dwY, uint32_t dwButtons);
