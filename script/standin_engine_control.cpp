// Stand-in until the engine-control commands exist: the timers as start-up leaves them and the
// key-counter write rule.
#include "script/engine_control.h"

#include "core/engine_globals.h"
#include "core/input_state.h"
#include "platform/plat_thread.h"
#include "platform/plat_time.h"

uint8_t g_abTimerRunning[KX_SCRIPT_TIMERS] = {1, 1, 1, 1};
int64_t g_allTimerStopTime[KX_SCRIPT_TIMERS];
uint32_t g_anTimerPaused[KX_SCRIPT_TIMERS];

void StartScriptTimers(void)
{
    if (g_csEngine) PlatLockEnter(g_csEngine);
    const uint32_t dwNow = PlatGetTime();
    for (int i = 0; i < KX_SCRIPT_TIMERS; ++i) {
        g_abTimerRunning[i] = 1;
        g_allTimerStopTime[i] = 0;
        g_anTimerPaused[i] = dwNow;
    }
    if (g_csEngine) PlatLockLeave(g_csEngine);
}

void SetKeyCounter(int nKey, int64_t llValue)
{
    if (nKey < 0 || nKey >= KX_KEY_CODES) return;
    if (g_abKeyMode[nKey] == KX_KEY_MODE_UP)
        g_allKeyCounter[nKey] = llValue < 0 ? llValue : 0;
    else
        g_allKeyCounter[nKey] = llValue > 0 ? llValue : 0;
}
