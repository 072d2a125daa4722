// Recursive locks, auto-reset events and threads over the C++ library and pthreads.
#include "platform/plat_thread.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/plat_window_backend.h"

struct PLAT_LOCK {
    std::recursive_timed_mutex mx;
};

namespace {
// The longest a waiting window thread sleeps between two turns of serving.
constexpr std::chrono::milliseconds kServeSlice{2};
}  // namespace

struct PLAT_EVENT {
    std::mutex mx;
    std::condition_variable cv;
    bool bSet;
};

struct PLAT_THREAD {
    pthread_t hThread;
    PLAT_THREAD_PROC pfnProc;
    void* pArg;
    int nResult;
    std::atomic<pid_t> nTid;   // the kernel's id, published by the thread as it starts
    std::atomic<int> bEnded;   // set as the thread's procedure returns
};

PLAT_LOCK* PlatLockCreate(void)
{
    return new (std::nothrow) PLAT_LOCK;
}

void PlatLockDestroy(PLAT_LOCK* pLock)
{
    delete pLock;
}

void PlatLockEnter(PLAT_LOCK* pLock)
{
    if (pLock->mx.try_lock()) return;
    if (!PlatServeWindowThreadInWait(PLAT_SERVE_WAITED_FOR)) {
        pLock->mx.lock();
        return;
    }
    // The holder may be waiting for a call of the window thread: serve between short tries.
    while (!pLock->mx.try_lock_for(kServeSlice)) PlatServeWindowThreadInWait(PLAT_SERVE_WAITED_FOR);
}

void PlatLockLeave(PLAT_LOCK* pLock)
{
    pLock->mx.unlock();
}

PLAT_EVENT* PlatEventCreate(int bInitiallySet)
{
    PLAT_EVENT* pEvent = new (std::nothrow) PLAT_EVENT;
    if (pEvent) pEvent->bSet = bInitiallySet != 0;
    return pEvent;
}

void PlatEventDestroy(PLAT_EVENT* pEvent)
{
    delete pEvent;
}

void PlatEventSet(PLAT_EVENT* pEvent)
{
    {
        std::lock_guard<std::mutex> lock(pEvent->mx);
        pEvent->bSet = true;
    }
    // Auto-reset: one waiter takes the event.
    pEvent->cv.notify_one();
}

int PlatEventWait(PLAT_EVENT* pEvent, uint32_t timeoutMs)
{
    std::unique_lock<std::mutex> lock(pEvent->mx);
    if (!pEvent->bSet && timeoutMs != 0 && PlatIsWindowThread()) {
        // On the window thread: serve between short waits, until the event or the time-out.
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        const bool bForEver = timeoutMs == (uint32_t)PLAT_INFINITE;
        while (!pEvent->bSet) {
            if (!bForEver && std::chrono::steady_clock::now() >= tEnd) return 1;
            lock.unlock();
            PlatServeWindowThreadInWait(PLAT_SERVE_WAITED_FOR);
            lock.lock();
            pEvent->cv.wait_for(lock, kServeSlice, [pEvent] { return pEvent->bSet; });
        }
    } else if (timeoutMs == (uint32_t)PLAT_INFINITE) {
        pEvent->cv.wait(lock, [pEvent] { return pEvent->bSet; });
    } else if (!pEvent->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [pEvent] { return pEvent->bSet; })) {
        return 1;
    }
    pEvent->bSet = false;
    return 0;
}

static void* RunThreadProc(void* pParam)
{
    PLAT_THREAD* pThread = (PLAT_THREAD*)pParam;
    pThread->nTid.store(gettid());
    pThread->nResult = pThread->pfnProc(pThread->pArg);
    pThread->bEnded.store(1);
    return nullptr;
}

PLAT_THREAD* PlatThreadStart(PLAT_THREAD_PROC pfnProc, void* pArg)
{
    PLAT_THREAD* pThread = new (std::nothrow) PLAT_THREAD;
    if (!pThread) return nullptr;
    pThread->pfnProc = pfnProc;
    pThread->pArg = pArg;
    pThread->nResult = 0;
    pThread->nTid.store(0);
    pThread->bEnded.store(0);
    if (pthread_create(&pThread->hThread, nullptr, RunThreadProc, pThread) != 0) {
        delete pThread;
        return nullptr;
    }
    return pThread;
}

int PlatThreadJoin(PLAT_THREAD* pThread, int* pResult)
{
    if (!pThread) return -1;
    // On the window thread the thread's end is waited for while serving: it may be waiting for a
    // call of the window thread (a message box) before it can end.
    if (PlatIsWindowThread())
        while (!pThread->bEnded.load()) {
            PlatServeWindowThreadInWait(PLAT_SERVE_WAITED_FOR);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    if (pthread_join(pThread->hThread, nullptr) != 0) return -1;
    if (pResult) *pResult = pThread->nResult;
    delete pThread;
    return 0;
}

static pid_t WaitForThreadId(PLAT_THREAD* pThread)
{
    pid_t tid;
    while ((tid = pThread->nTid.load()) == 0) sched_yield();
    return tid;
}

// Linux threads under the normal policy differ only by their nice value: a step of 5 below or
// above the process's own. Raising priority needs a privilege most users lack; that refusal is -1.
int PlatThreadSetPriority(PLAT_THREAD* pThread, int nPriority)
{
    if (!pThread) return -1;
    if (nPriority < PLAT_PRIORITY_BELOW_NORMAL) nPriority = PLAT_PRIORITY_BELOW_NORMAL;
    if (nPriority > PLAT_PRIORITY_ABOVE_NORMAL) nPriority = PLAT_PRIORITY_ABOVE_NORMAL;
    errno = 0;
    int nBase = getpriority(PRIO_PROCESS, 0);
    if (nBase == -1 && errno != 0) return -1;
    int nNice = nBase - 5 * nPriority;
    if (nNice < -20) nNice = -20;
    if (nNice > 19) nNice = 19;
    return setpriority(PRIO_PROCESS, (id_t)WaitForThreadId(pThread), nNice) == 0 ? 0 : -1;
}

// Linux has no "preferred processor" hint, and pinning a thread to one processor would keep it
// off the others when that one is busy. The processor is checked against the ones this thread may
// run on and the scheduler places the thread itself.
int PlatThreadSetIdealProcessor(PLAT_THREAD* pThread, int nProcessor)
{
    if (!pThread || nProcessor < 0 || nProcessor >= CPU_SETSIZE) return -1;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (pthread_getaffinity_np(pThread->hThread, sizeof set, &set) != 0) return -1;
    return CPU_ISSET(nProcessor, &set) ? 0 : -1;
}
