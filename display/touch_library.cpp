// Loading of the touch library: all of its exports or none.
#include "display/touch_library.h"

#include "platform/plat_modules.h"

namespace {

int AnswerNoTap(uintptr_t, intptr_t) { return 0; }

const char* const s_apszTouchEntryNames[TOUCH_ENTRY_COUNT] = {
    "ZEDUZ_DLLVersion", "REVUZ_OvadedUridevo", "ZEDUZ_RegisterTouchWindow", "ZEDUZ_UnregisterTouchWindow",
    "ZEDUZ_TouchInfo",
};

}  // namespace

PLAT_MODULE* g_hTouchDll = nullptr;
uint8_t g_bTouchAvailable = 0;
void* g_apTouchEntries[TOUCH_ENTRY_COUNT] = {};
TOUCH_GESTURE_FN g_pfnTouchGesture = AnswerNoTap;

int LoadTouchLibrary(void)
{
    UnloadTouchLibrary();
    PLAT_MODULE* pModule = PlatLoadLibrary("zeduz.dll");
    if (!pModule) return -1;
    void* apEntries[TOUCH_ENTRY_COUNT];
    for (int i = 0; i < TOUCH_ENTRY_COUNT; ++i) {
        apEntries[i] = PlatGetProcAddress(pModule, s_apszTouchEntryNames[i]);
        if (!apEntries[i]) {
            PlatFreeLibrary(pModule);
            return -1;
        }
    }
    for (int i = 0; i < TOUCH_ENTRY_COUNT; ++i) g_apTouchEntries[i] = apEntries[i];
    g_pfnTouchGesture = reinterpret_cast<TOUCH_GESTURE_FN>(apEntries[TOUCH_ENTRY_GESTURE]);
    g_hTouchDll = pModule;
    g_bTouchAvailable = 1;
    return 0;
}

void UnloadTouchLibrary(void)
{
    PlatFreeLibrary(g_hTouchDll);
    g_hTouchDll = nullptr;
    g_bTouchAvailable = 0;
    g_pfnTouchGesture = AnswerNoTap;
    for (void*& p : g_apTouchEntries) p = nullptr;
}
