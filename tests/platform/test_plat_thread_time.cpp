// Locks, events, threads and the clocks.
#include "platform/plat_thread.h"
#include "platform/plat_time.h"

#include <gtest/gtest.h>

namespace {

TEST(PlatEvent, AutoResetsAndTimesOut)
{
    PLAT_EVENT* pEvent = PlatEventCreate(1);
    ASSERT_NE(pEvent, nullptr);
    EXPECT_EQ(PlatEventWait(pEvent, 0), 0);    // initially set
    EXPECT_EQ(PlatEventWait(pEvent, 0), 1);    // and reset by that wait
    EXPECT_EQ(PlatEventWait(pEvent, 5), 1);
    PlatEventSet(pEvent);
    PlatEventSet(pEvent);                       // setting twice still wakes one wait
    EXPECT_EQ(PlatEventWait(pEvent, PLAT_INFINITE), 0);
    EXPECT_EQ(PlatEventWait(pEvent, 0), 1);
    PlatEventDestroy(pEvent);
}

struct PING_PONG {
    PLAT_EVENT* pPing;
    PLAT_EVENT* pPong;
    int nRounds;
};

int PongThread(void* pArg)
{
    PING_PONG* p = (PING_PONG*)pArg;
    for (int i = 0; i < p->nRounds; i++) {
        if (PlatEventWait(p->pPing, PLAT_INFINITE) != 0) return -1;
        PlatEventSet(p->pPong);
    }
    return 42;
}

TEST(PlatEvent, WakesAWaiterOnAnotherThread)
{
    PING_PONG pp{PlatEventCreate(0), PlatEventCreate(0), 200};
    PLAT_THREAD* pThread = PlatThreadStart(PongThread, &pp);
    ASSERT_NE(pThread, nullptr);
    for (int i = 0; i < pp.nRounds; i++) {
        PlatEventSet(pp.pPing);
        ASSERT_EQ(PlatEventWait(pp.pPong, PLAT_INFINITE), 0);
    }
    int nResult = 0;
    EXPECT_EQ(PlatThreadJoin(pThread, &nResult), 0);
    EXPECT_EQ(nResult, 42);
    PlatEventDestroy(pp.pPing);
    PlatEventDestroy(pp.pPong);
}

struct COUNTER {
    PLAT_LOCK* pLock;
    long nValue;
};

int CountThread(void* pArg)
{
    COUNTER* p = (COUNTER*)pArg;
    for (int i = 0; i < 20000; i++) {
        PlatLockEnter(p->pLock);
        PlatLockEnter(p->pLock);   // recursive, like a critical section
        p->nValue++;
        PlatLockLeave(p->pLock);
        PlatLockLeave(p->pLock);
    }
    return 0;
}

TEST(PlatLock, IsRecursiveAndExclusive)
{
    COUNTER counter{PlatLockCreate(), 0};
    ASSERT_NE(counter.pLock, nullptr);
    PLAT_THREAD* apThreads[4];
    for (PLAT_THREAD*& p : apThreads) p = PlatThreadStart(CountThread, &counter);
    for (PLAT_THREAD* p : apThreads) EXPECT_EQ(PlatThreadJoin(p, nullptr), 0);
    EXPECT_EQ(counter.nValue, 4 * 20000);
    PlatLockDestroy(counter.pLock);
}

int WaitForRelease(void* pArg)
{
    return PlatEventWait((PLAT_EVENT*)pArg, PLAT_INFINITE);
}

TEST(PlatThreadTest, PriorityAndIdealProcessorAreBestEffort)
{
    PLAT_EVENT* pRelease = PlatEventCreate(0);
    PLAT_THREAD* pThread = PlatThreadStart(WaitForRelease, pRelease);
    ASSERT_NE(pThread, nullptr);
    EXPECT_EQ(PlatThreadSetPriority(pThread, PLAT_PRIORITY_BELOW_NORMAL), 0);
    PlatThreadSetPriority(pThread, PLAT_PRIORITY_ABOVE_NORMAL);   // may be refused without privilege
    EXPECT_EQ(PlatThreadSetIdealProcessor(pThread, -1), -1);
    EXPECT_EQ(PlatThreadSetIdealProcessor(pThread, 100000), -1);
    PlatEventSet(pRelease);
    int nResult = -1;
    EXPECT_EQ(PlatThreadJoin(pThread, &nResult), 0);
    EXPECT_EQ(nResult, 0);
    PlatEventDestroy(pRelease);
}

TEST(PlatTime, FakeClockWrapsAndSleepAdvancesIt)
{
    PlatUseFakeClock(1);
    PlatSetFakeTime(0xFFFFFFF0u);
    EXPECT_EQ(PlatGetTime(), 0xFFFFFFF0u);
    PlatSleep(0x20);
    EXPECT_EQ(PlatGetTime(), 0x10u);
    PlatAdvanceFakeTime(5);
    EXPECT_EQ(PlatGetTime(), 0x15u);
    PlatUseFakeClock(0);
    uint32_t t1 = PlatGetTime();
    PlatSleep(1);
    uint32_t t2 = PlatGetTime();
    EXPECT_GE(t2 - t1, 1u);          // the real clock moved on
    EXPECT_LT(t2 - t1, 60000u);
}

TEST(PlatTime, FakeLocalTime)
{
    PLAT_LOCAL_TIME fake{2026, 2, 28, 6, 23, 59, 58, 999};
    PlatSetFakeLocalTime(&fake);
    PLAT_LOCAL_TIME t;
    PlatGetLocalTime(&t);
    EXPECT_EQ(t.nYear, 2026);
    EXPECT_EQ(t.nDayOfWeek, 6);
    EXPECT_EQ(t.nMilliseconds, 999);
    PlatSetFakeLocalTime(nullptr);
    PlatGetLocalTime(&t);
    EXPECT_GE(t.nYear, 2024);
    EXPECT_TRUE(t.nMonth >= 1 && t.nMonth <= 12 && t.nDay >= 1 && t.nDay <= 31);
    EXPECT_TRUE(t.nDayOfWeek >= 0 && t.nDayOfWeek <= 6 && t.nMilliseconds >= 0 && t.nMilliseconds < 1000);
}

}  // namespace
