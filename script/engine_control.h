// Engine state that the engine-control commands steer and the system variables read: the four
// script timers and the key-counter write rule.
#pragma once
#include <cstdint>

// Timer i (1..4) is entry i - 1. A timer reads as (now while it runs, else its stop time) minus its
// offset; the offset starts as the clock at start-up and grows by every pause it runs through.
// Guarded by g_csEngine.
enum { KX_SCRIPT_TIMERS = 4 };
extern uint8_t g_abTimerRunning[KX_SCRIPT_TIMERS];
extern int64_t g_allTimerStopTime[KX_SCRIPT_TIMERS];   // 0 while running
extern uint32_t g_anTimerPaused[KX_SCRIPT_TIMERS];

// Every timer runs from now (start-up).
void StartScriptTimers(void);

// A script's write to a key's hold counter: for a released key the counter takes the value when
// it is negative and 0 otherwise; for a pressed key when it is positive, else 0. A key code
// outside 0..1023 changes nothing.
void SetKeyCounter(int nKey, int64_t llValue);
