// The script runtime's hook table: what its commands and the engine pause need of the display and
// of the script timers. The runtime owns it and calls through it; the composition root
// (root/wiring.cpp) installs every slot, so none is NULL. Tests put their own functions into
// single slots and reinstall the wiring afterwards.
#pragma once
#include <cstdint>

struct TREE_NODE;

struct SCRIPT_HOOKS {
    int (*pfnIsMainWindowActive)(void);          // 1 while the main window is active
    int (*pfnIsCaptionDragHeld)(void);           // 1 while a caption drag holds the engine's pause
    void (*pfnAddPausedTime)(uint32_t dwSpan);   // a finished pause, for the running script timers
    // What a new game screen size takes: the output size computed again for the current target
    // size, the main window's client area cleared to black, the Direct3D device reset.
    void (*pfnComputeOutputSize)(void);
    void (*pfnClearWindowBlack)(void);
    void (*pfnResetDirect3D)(void);
    // The cursor request carried out at once, before a modal box (display's ApplyCursorRequest).
    void (*pfnApplyCursorRequest)(void);
    // Saves the layer of a layer-tree node as an image file (nFormat: KX_SAVE_FORMAT_*; nLevel the
    // PNG level or the JPEG or WebP quality, already limited). 0, or non-zero when the save failed.
    int (*pfnSaveLayerImage)(TREE_NODE* pNode, const char* pszPath, int nFormat, int nLevel);
    // Whether dragging the main window's caption pauses the engine.
    void (*pfnSetPauseOnCaptionDrag)(uint8_t bOn);
};
enum { KX_SAVE_FORMAT_BMP = 1, KX_SAVE_FORMAT_PNG = 2, KX_SAVE_FORMAT_JPEG = 3, KX_SAVE_FORMAT_WEBP = 4 };
extern SCRIPT_HOOKS g_ScriptHooks;
