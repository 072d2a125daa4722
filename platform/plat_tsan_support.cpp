// Built into ThreadSanitizer builds only (KX_TSAN, scripts/tsan.sh): what the sanitizer's runtime
// does not intercept by itself.
//
// std::timed_mutex::try_lock_for (PlatLockEnter) waits on the steady clock through
// pthread_mutex_clocklock, which the runtime of clang 14 and gcc 12 does not know: a lock taken that
// way is invisible to it, and every access the lock guards is reported as a race. This stand-in,
// found by the linker before the C library's, waits through pthread_mutex_timedlock instead, which
// the runtime intercepts; the monotonic deadline becomes a real-time one.
#if defined(KX_TSAN)

#include <pthread.h>
#include <time.h>

extern "C" int pthread_mutex_clocklock(pthread_mutex_t* pMutex, clockid_t nClock, const struct timespec* pAbs)
{
    if (nClock == CLOCK_REALTIME) return pthread_mutex_timedlock(pMutex, pAbs);
    struct timespec tsNow;
    struct timespec tsReal;
    clock_gettime(nClock, &tsNow);
    clock_gettime(CLOCK_REALTIME, &tsReal);
    long long llWait = (long long)(pAbs->tv_sec - tsNow.tv_sec) * 1000000000LL + (pAbs->tv_nsec - tsNow.tv_nsec);
    if (llWait < 0) llWait = 0;
    const long long llNs = (long long)tsReal.tv_nsec + llWait;
    struct timespec tsAbs;
    tsAbs.tv_sec = tsReal.tv_sec + (time_t)(llNs / 1000000000LL);
    tsAbs.tv_nsec = (long)(llNs % 1000000000LL);
    return pthread_mutex_timedlock(pMutex, &tsAbs);
}

#endif
