// The save folder's globals back at their start values (see save/save_state.h).
#include "save/save_state.h"

#include "platform/plat_file.h"
#include "save/cmd_save.h"

void ResetSaveState(void)
{
    FreeAllSaveBuffers();
    g_pfnWriteSaveFile = PlatWriteFileAtomic;
}
