// Clock, sleep and local time in place of timeGetTime, Sleep and GetLocalTime.
#pragma once
#include <cstdint>

// Milliseconds from a monotonic clock, wrapping at 2^32 like timeGetTime.
uint32_t PlatGetTime(void);
// Sleeps ms milliseconds (0 yields). With the fake clock on it advances the fake clock instead.
void PlatSleep(uint32_t ms);

struct PLAT_LOCAL_TIME {
    int nYear;        // e.g. 2026
    int nMonth;       // 1..12
    int nDay;         // 1..31
    int nDayOfWeek;   // 0 Sunday .. 6
    int nHour, nMinute, nSecond, nMilliseconds;
};
void PlatGetLocalTime(PLAT_LOCAL_TIME* pOut);

// Test fakes: a settable clock and a fixed local time (NULL returns to the real one).
void PlatUseFakeClock(int bOn);
void PlatSetFakeTime(uint32_t ms);
void PlatAdvanceFakeTime(uint32_t ms);
void PlatSetFakeLocalTime(const PLAT_LOCAL_TIME* pTime);
