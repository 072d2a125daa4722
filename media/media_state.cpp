// The media folder's globals back at their start values (see media/media_state.h).
#include "media/media_state.h"

#include "media/emote_component.h"

void ResetMediaState(void)
{
    if (g_hEmoteDll) UnloadEmoteDLL();
}
