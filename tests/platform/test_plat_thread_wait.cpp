// Waits of the window thread for another thread that first needs the window thread: a lock held, an
// event to be set, a thread's end, a condition. Each wait serves the call the other thread hands
// to the window thread and ends; waits that can come in the middle of a frame run only the calls
// someone waits for, the others run every queued call.
#include "platform/plat_thread.h"
#include "platform/plat_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

namespace {

// What the other thread does: it asks the window thread for a call and waits for it, with the lock
// held, before setting the event, before its end or before raising the flag.
struct PARTNER {
    PLAT_LOCK* pLock = nullptr;
    PLAT_EVENT* pEvent = nullptr;
    std::atomic<int> bDone{0};
    std::atomic<int> bCallRan{0};
    std::atomic<int> bLockHeld{0};
};

int PartnerProc(void* pArg)
{
    PARTNER* p = static_cast<PARTNER*>(pArg);
    PlatLockEnter(p->pLock);
    p->bLockHeld = 1;
    // The window thread's answer is needed before anything else goes on, as with a message box.
    PlatRunOnWindowThread([](void* q) { static_cast<PARTNER*>(q)->bCallRan = 1; }, p, 1);
    PlatLockLeave(p->pLock);
    PlatEventSet(p->pEvent);
    p->bDone = 1;
    return 0;
}

class ThreadWaitTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(PlatInitWindowSystem(PLAT_BACKEND_FAKE), 0);
        partner.pLock = PlatLockCreate();
        partner.pEvent = PlatEventCreate(0);
    }
    void TearDown() override
    {
        PlatLockDestroy(partner.pLock);
        PlatEventDestroy(partner.pEvent);
        PlatShutdownWindowSystem();
    }
    PARTNER partner;
};

TEST_F(ThreadWaitTest, EveryWaitOfTheWindowThreadServesTheCallItsPartnerWaitsFor)
{
    const struct {
        const char* pszWait;
        std::function<void(PARTNER*, PLAT_THREAD*)> wait;   // then joins
    } kCases[] = {
        {"lock",
         [](PARTNER* p, PLAT_THREAD*) {
             while (!p->bLockHeld.load()) PlatWaitTurn(0);
             PlatLockEnter(p->pLock);
             PlatLockLeave(p->pLock);
         }},
        {"event", [](PARTNER* p, PLAT_THREAD*) { EXPECT_EQ(PlatEventWait(p->pEvent, PLAT_INFINITE), 0); }},
        {"event with a time-out", [](PARTNER* p, PLAT_THREAD*) { EXPECT_EQ(PlatEventWait(p->pEvent, 600000), 0); }},
        {"join", [](PARTNER*, PLAT_THREAD*) {}},
        {"condition",
         [](PARTNER* p, PLAT_THREAD*) {
             PlatWaitUntil([](void* q) { return static_cast<PARTNER*>(q)->bDone.load(); }, p, 1);
         }},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.pszWait);
        partner.bDone = 0;
        partner.bCallRan = 0;
        partner.bLockHeld = 0;
        PLAT_THREAD* pThread = PlatThreadStart(PartnerProc, &partner);
        ASSERT_NE(pThread, nullptr);
        c.wait(&partner, pThread);
        EXPECT_EQ(PlatThreadJoin(pThread, nullptr), 0);
        EXPECT_EQ(partner.bCallRan.load(), 1);
        EXPECT_EQ(partner.bDone.load(), 1);
        PlatEventWait(partner.pEvent, 0);   // reset for the next case
    }
}

// A call nobody waits for (a picture to show, the cursor) can change what a frame is drawing: a
// lock or an event wait leaves it for the message loop and runs only the call queued after it that
// its partner waits for; a wait through PlatWaitUntil runs it.
struct QUEUER {
    PLAT_EVENT* pEvent;
    std::atomic<int> nFree{0};     // runs of the call nobody waits for
    std::atomic<int> nWaited{0};   // runs of the call its poster waits for
};

int QueuerProc(void* pArg)
{
    QUEUER* q = static_cast<QUEUER*>(pArg);
    PlatRunOnWindowThread([](void* p) { ++static_cast<QUEUER*>(p)->nFree; }, q, 0);
    PlatRunOnWindowThread([](void* p) { ++static_cast<QUEUER*>(p)->nWaited; }, q, 1);
    PlatEventSet(q->pEvent);
    return 0;
}

TEST_F(ThreadWaitTest, OnlyAWaitOutsideTheFrameRunsTheCallsNobodyWaitsFor)
{
    QUEUER q{partner.pEvent};
    PLAT_THREAD* pThread = PlatThreadStart(QueuerProc, &q);
    ASSERT_NE(pThread, nullptr);
    EXPECT_EQ(PlatEventWait(partner.pEvent, PLAT_INFINITE), 0);
    EXPECT_EQ(q.nWaited.load(), 1);
    EXPECT_EQ(q.nFree.load(), 0);
    PlatWaitUntil([](void* p) { return static_cast<QUEUER*>(p)->nFree.load(); }, &q, 1);
    EXPECT_EQ(q.nFree.load(), 1);
    EXPECT_EQ(PlatThreadJoin(pThread, nullptr), 0);
}

}  // namespace
