// Locks, auto-reset events and threads in place of CRITICAL_SECTION, events and CreateThread, and
// the one way the engine's threads wait for each other.
//
// No thread may wait for a thread that is waiting for it. The window thread is the one others wait
// for most (they hand it calls, message boxes above all, and wait for the answer), so whenever the
// window thread waits (for a lock, an event, a thread's end, or through PlatWaitTurn/PlatWaitUntil),
// it keeps serving the calls whose callers wait for it. A thread it waits for can then always
// finish what it is doing, and every wait that has an end reaches it.
//
// A wait through PlatWaitTurn/PlatWaitUntil on the window thread also runs the other calls, takes
// the system's events and shows its windows' pictures again, so that the windows stay alive while
// it lasts. Such waits do come in the middle of a frame: a script command that waits for the sound
// thread or for a program it opened (when the frames run on the window thread), a dialog, a call
// the frame thread handed over and waits for. What they serve then runs between two steps of the
// waiting command, on the window thread, as a message box's loop does:
// - the frame step itself never runs: only the main loop and the frame thread call it, and nothing
//   served calls either;
// - a system event may reach a window procedure at once (focus, size, a window destroyed by another
//   program), on the window thread, while the frame waits; the procedures allow it, as they allow
//   the dispatch of a message box's loop (the stop flag they may set ends the waiting command);
// - a wait met inside what a wait serves (a procedure, a call) serves only the calls, so the
//   events are never taken inside their own taking.
// Locks, events and thread ends are waited for anywhere, the shut-down included: those waits run
// only the calls whose callers wait, and nothing else.
#pragma once
#include <cstdint>

struct PLAT_LOCK;    // recursive, like a critical section
struct PLAT_EVENT;   // auto-reset
struct PLAT_THREAD;

PLAT_LOCK* PlatLockCreate(void);
// On the window thread a lock held by another thread is waited for while serving (see above).
void PlatLockDestroy(PLAT_LOCK* pLock);
void PlatLockEnter(PLAT_LOCK* pLock);
void PlatLockLeave(PLAT_LOCK* pLock);

PLAT_EVENT* PlatEventCreate(int bInitiallySet);
void PlatEventDestroy(PLAT_EVENT* pEvent);
void PlatEventSet(PLAT_EVENT* pEvent);
// 0 when the event was set (and is now reset again), 1 on time-out. PLAT_INFINITE waits until it is
// set. On the window thread the wait serves (see above).
enum { PLAT_INFINITE = 0xFFFFFFFFu };
int PlatEventWait(PLAT_EVENT* pEvent, uint32_t timeoutMs);

typedef int (*PLAT_THREAD_PROC)(void* pArg);
enum { PLAT_PRIORITY_BELOW_NORMAL = -1, PLAT_PRIORITY_NORMAL = 0, PLAT_PRIORITY_ABOVE_NORMAL = 1 };
// NULL when the thread cannot be started.
PLAT_THREAD* PlatThreadStart(PLAT_THREAD_PROC pfnProc, void* pArg);
// Waits for the thread's end, stores its result (when pResult is not NULL) and frees the record. On
// the window thread the wait serves (see above).
int PlatThreadJoin(PLAT_THREAD* pThread, int* pResult);
// Best effort; 0 or -1 when the system refuses.
int PlatThreadSetPriority(PLAT_THREAD* pThread, int nPriority);
int PlatThreadSetIdealProcessor(PLAT_THREAD* pThread, int nProcessor);

// ---- Waits between threads (platform/plat_thread_wait.cpp) --------------------------------------

// One turn of a wait for another thread: on the window thread it serves (see above); then it sleeps
// up to nMs of real time (the fake clock of the tests does not move).
void PlatWaitTurn(uint32_t nMs);
typedef int (*PLAT_WAIT_DONE)(void* pArg);
// Takes turns of up to nMs until pfnDone(pArg) answers non-zero (asked before the first turn).
void PlatWaitUntil(PLAT_WAIT_DONE pfnDone, void* pArg, uint32_t nMs);
