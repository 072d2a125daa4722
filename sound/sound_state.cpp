// The sound folder's globals back at their start values (see sound/sound_state.h).
#include "sound/sound_state.h"

#include "sound/sound.h"
#include "sound/sound_thread.h"

void ResetSoundState(void)
{
    if (g_lpDirectSound) ReleaseDirectSound();
    g_lpDirectSound = nullptr;
    g_bSoundsPaused = 0;
    if (g_apSndReqNode) ResetSoundRequests();
}
