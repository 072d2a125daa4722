// Engine state that scripts steer through the engine-control commands and read through the system
// variables: the four script timers, the frame rate, the cursor request, the screen-saver and game
// screen settings, and the key-counter write rule.
#pragma once
#include <cstdint>

// ---- Script timers ----
// Timer i (1..4) is entry i - 1. A timer reads as (now while it runs, else its stop time) minus its
// offset; the offset starts as the clock at start-up and grows by every pause it runs through and
// by every span it was stopped. All of them are written under g_csEngine.
enum { KX_SCRIPT_TIMERS = 4 };
extern uint8_t g_abTimerRunning[KX_SCRIPT_TIMERS];
extern int64_t g_allTimerStopTime[KX_SCRIPT_TIMERS];   // 0 while running
extern uint32_t g_anTimerPaused[KX_SCRIPT_TIMERS];

// Every timer runs from now (start-up); from then on the engine pause's spans reach the timers
// (g_ScriptHooks.pfnAddPausedTime).
void StartScriptTimers(void);
// Timer nTimer (1..4): a running timer stops at now; a stopped one runs again and the span it stood
// still is added to its offset. Anything else (already in that state, another number) changes
// nothing.
void StopScriptTimer(int nTimer);
void RestartScriptTimer(int nTimer);
// The span of a finished engine pause counts against every timer that runs; a stopped timer already
// stands still and gets the span with its restart.
void AddTimerPausedTime(uint32_t dwSpan);

// ---- Frame rate ----
// Sets the target frames per second (a rate below 1 counts as 1), publishes the steps and draws of
// the second so far and starts a new second now.
void SetFrameRate(int32_t nFps);

// ---- Cursor and window settings ----
// A cursor request for the window thread: 0 none, 1 show the cursor, 2 hide it; and the cursor's
// state as the scripts last asked for it.
enum { KX_CURSOR_REQUEST_NONE = 0, KX_CURSOR_REQUEST_SHOW = 1, KX_CURSOR_REQUEST_HIDE = 2 };
extern uint8_t g_nCursorRequest;
extern uint8_t g_bCursorShown;
// The main window swallows the screen-saver system command (1 at load).
extern uint8_t g_bBlockScreenSaver;

// What a new game screen size takes of the display goes through g_ScriptHooks
// (script/script_hooks.h).

// ---- Keys ----
// A script's write to a key's hold counter: for a released key the counter takes the value when
// it is negative and 0 otherwise; for a pressed key when it is positive, else 0. A key code
// outside 0..1023 changes nothing.
void SetKeyCounter(int nKey, int64_t llValue);
