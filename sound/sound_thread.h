// The sound thread's own entry points beyond sound/sound.h: the thread handle at shut-down and the
// ring's reset for tests.
#pragma once
#include <cstdint>
#include "sound/sound.h"

// Waits for the sound thread to end and frees its handle (nothing when none was started). The
// engine stop flag must be set or the thread must have ended.
void JoinSoundThread(void);
// Clears every ring entry and both indexes (allocating the ring when needed). Tests only: the
// sound thread must not run.
void ResetSoundRequests(void);
// The message text of a sound error code (cp932, without the number part).
const char* GetSoundErrorBody(int32_t nCode);
