// Single instance: named mutexes and bringing the running copy to the front.
//
// A named mutex is an flock'ed file "kolvex-<hash>.lock" in $XDG_RUNTIME_DIR (else /tmp), <hash>
// being the 8 lower-case hex digits of the MurmurHash2 of the name's bytes. The lock dies with the
// process that holds it, so a crashed copy never blocks the next start; the file it leaves is taken
// over by the next copy, and the owner removes the file when it releases the lock.
// The running copy listens on the abstract unix socket "kolvex-act-<hash>"; a second start connects
// to it, and the running copy's main loop answers by calling its activation callback.
#pragma once
#include <cstddef>
#include <cstdint>

struct PLAT_MUTEX;

// MurmurHash2, 32-bit (multiplier 0x5bd1e995, shift 24), tail bytes read unsigned.
uint32_t PlatMurmurHash2(const void* pKey, size_t len, uint32_t seed);

// Creates or opens the named mutex (any bytes, NUL-terminated) and tries to own it without waiting.
// *pbAlreadyExists := 1 when someone else holds it (another process, or another handle of this
// process that has not been released); the handle is then valid and owns nothing. 0 when this
// handle now owns it. NULL when the lock cannot be opened or taken at all (too few descriptors,
// the lock folder not writable, no locks on its file system): errno is set and
// PlatGetNamedMutexFailure says why. That never means that another copy runs.
PLAT_MUTEX* PlatCreateNamedMutex(const char* pszName, int* pbAlreadyExists);
// Why this thread's last PlatCreateNamedMutex returned NULL (UTF-8, with the lock file's path).
const char* PlatGetNamedMutexFailure(void);
// Gives up ownership (removing the lock file when this handle owned it), closes and frees the
// handle. NULL is ignored.
void PlatReleaseNamedMutex(PLAT_MUTEX* pMutex);

// The running copy: listens for activation requests for the name. One listener per process; a new
// call replaces the previous one. 0, or -1 when the socket cannot be bound (someone listens already).
int PlatListenForActivation(const char* pszName, void (*pfnActivate)(void* pUser), void* pUser);
// Called by the main loop on the window thread every turn: takes every pending request from a
// process of the same user and calls the callback once per request. Never waits.
void PlatPollActivation(void);
// Closes the listening socket (nothing when not listening).
void PlatStopListening(void);

// A second start: asks the running copy of the name to come to the front. 0 when a running copy of
// the same user took the request, -1 when nobody listens. Never waits for long.
int PlatRequestActivation(const char* pszName);

// Tests: the folder of the lock files (NULL returns to $XDG_RUNTIME_DIR or /tmp).
void PlatSetInstanceDirForTest(const char* pszPath);
