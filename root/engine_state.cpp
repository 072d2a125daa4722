// The whole engine's run state back at its start values (see root/engine_state.h).
#include "root/engine_state.h"

#include "core/core_state.h"
#include "display/display_state.h"
#include "image/image_state.h"
#include "imageproc/imageproc_state.h"
#include "media/media_state.h"
#include "root/startup.h"
#include "save/save_state.h"
#include "script/script_state.h"
#include "sound/sound_state.h"

void ResetEngineState(void)
{
    InstallEngineParts();
    ResetMediaState();
    ResetSaveState();
    ResetSoundState();
    ResetDisplayState();
    ResetImageprocState();
    ResetImageState();
    ResetScriptState();
    ResetCoreState();
    InstallEngineParts();
}
