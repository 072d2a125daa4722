// The mouse cursor over the main window: the engine's show and hide requests, carried out on the
// window thread's side of the input step, and the auto-hide that hides an idle cursor and shows it
// again on mouse input.
#pragma once
#include <cstdint>

// Auto-hide on (1 at load) and the idle time after which the cursor hides (2500 ms at load).
extern uint8_t g_bCursorAutoHide;
extern uint32_t g_nCursorIdleMs;

// Makes the cursor visible before a box or dialog: when the engine has it hidden, the main window's
// idle timing stops and a show request is posted. Otherwise nothing.
void RequestCursorShow(void);
// Carries out the pending request (show or hide) and clears it.
void ApplyCursorRequest(void);
// The input step's cursor work for the main window, once per frame after the keys were updated:
// the idle timer and the reveal on mouse input (while auto-hide is on), then the pending request.
void UpdateCursorAutoHide(void);
