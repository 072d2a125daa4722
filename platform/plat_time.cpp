// Monotonic milliseconds, sleeping and local time, with fakes for tests.
#include "platform/plat_time.h"

#include <atomic>
#include <cerrno>
#include <ctime>
#include <mutex>
#include <sched.h>

static std::atomic<int> g_bFakeClock{0};
static std::atomic<uint32_t> g_nFakeTime{0};
static std::mutex g_mxFakeLocal;
static int g_bFakeLocalTime = 0;
static PLAT_LOCAL_TIME g_ltFake;

uint32_t PlatGetTime(void)
{
    if (g_bFakeClock.load()) return g_nFakeTime.load();
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
    return (uint32_t)ms;   // wraps at 2^32 like the system clock it stands in for
}

void PlatSleep(uint32_t ms)
{
    if (g_bFakeClock.load()) {
        g_nFakeTime.fetch_add(ms);
        sched_yield();
        return;
    }
    if (ms == 0) {
        sched_yield();
        return;
    }
    struct timespec req, rem;
    req.tv_sec = ms / 1000;
    req.tv_nsec = (long)(ms % 1000) * 1000000L;
    while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

void PlatGetLocalTime(PLAT_LOCAL_TIME* pOut)
{
    {
        std::lock_guard<std::mutex> lock(g_mxFakeLocal);
        if (g_bFakeLocalTime) {
            *pOut = g_ltFake;
            return;
        }
    }
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    time_t t = ts.tv_sec;
    struct tm tmLocal;
    if (!localtime_r(&t, &tmLocal)) {
        *pOut = PLAT_LOCAL_TIME{1970, 1, 1, 4, 0, 0, 0, 0};
        return;
    }
    pOut->nYear = tmLocal.tm_year + 1900;
    pOut->nMonth = tmLocal.tm_mon + 1;
    pOut->nDay = tmLocal.tm_mday;
    pOut->nDayOfWeek = tmLocal.tm_wday;
    pOut->nHour = tmLocal.tm_hour;
    pOut->nMinute = tmLocal.tm_min;
    pOut->nSecond = tmLocal.tm_sec > 59 ? 59 : tmLocal.tm_sec;   // a leap second reads as :59
    pOut->nMilliseconds = (int)(ts.tv_nsec / 1000000L);
}

void PlatUseFakeClock(int bOn)
{
    g_bFakeClock.store(bOn ? 1 : 0);
}

void PlatSetFakeTime(uint32_t ms)
{
    g_nFakeTime.store(ms);
}

void PlatAdvanceFakeTime(uint32_t ms)
{
    g_nFakeTime.fetch_add(ms);
}

void PlatSetFakeLocalTime(const PLAT_LOCAL_TIME* pTime)
{
    std::lock_guard<std::mutex> lock(g_mxFakeLocal);
    g_bFakeLocalTime = pTime != nullptr;
    if (pTime) g_ltFake = *pTime;
}
