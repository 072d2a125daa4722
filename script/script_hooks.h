// The script runtime's hook table: what its commands and the engine pause need of the display and
// of the script timers. The runtime owns it and calls through it; the composition root
// (root/wiring.cpp) installs every slot, so none is NULL. Tests put their own functions into
// single slots and reinstall the wiring afterwards.
#pragma once
#include <cstdint>

struct SCRIPT_HOOKS {
    int (*pfnIsMainWindowActive)(void);          // 1 while the main window is active
    void (*pfnAddPausedTime)(uint32_t dwSpan);   // a finished pause, for the running script timers
    // What a new game screen size takes: the output size computed again for the current target
    // size, the main window's client area cleared to black, the Direct3D device reset.
    void (*pfnComputeOutputSize)(void);
    void (*pfnClearWindowBlack)(void);
    void (*pfnResetDirect3D)(void);
};
extern SCRIPT_HOOKS g_ScriptHooks;
