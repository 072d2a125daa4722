// Locks, auto-reset events and threads in place of CRITICAL_SECTION, events and CreateThread.
#pragma once
#include <cstdint>

struct PLAT_LOCK;    // recursive, like a critical section
struct PLAT_EVENT;   // auto-reset
struct PLAT_THREAD;

PLAT_LOCK* PlatLockCreate(void);
void PlatLockDestroy(PLAT_LOCK* pLock);
void PlatLockEnter(PLAT_LOCK* pLock);
void PlatLockLeave(PLAT_LOCK* pLock);

PLAT_EVENT* PlatEventCreate(int bInitiallySet);
void PlatEventDestroy(PLAT_EVENT* pEvent);
void PlatEventSet(PLAT_EVENT* pEvent);
// 0 when the event was set (and is now reset again), 1 on time-out. PLAT_INFINITE waits for ever.
enum { PLAT_INFINITE = 0xFFFFFFFFu };
int PlatEventWait(PLAT_EVENT* pEvent, uint32_t timeoutMs);

typedef int (*PLAT_THREAD_PROC)(void* pArg);
enum { PLAT_PRIORITY_BELOW_NORMAL = -1, PLAT_PRIORITY_NORMAL = 0, PLAT_PRIORITY_ABOVE_NORMAL = 1 };
// NULL when the thread cannot be started.
PLAT_THREAD* PlatThreadStart(PLAT_THREAD_PROC pfnProc, void* pArg);
// Waits for the thread's end, stores its result (when pResult is not NULL) and frees the record.
int PlatThreadJoin(PLAT_THREAD* pThread, int* pResult);
// Best effort; 0 or -1 when the system refuses.
int PlatThreadSetPriority(PLAT_THREAD* pThread, int nPriority);
int PlatThreadSetIdealProcessor(PLAT_THREAD* pThread, int nProcessor);
