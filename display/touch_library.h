// The touch library "zeduz.dll": an optional outside component that tells a tap from other touch
// gestures. Start-up loads it on systems with touch input; without it the engine simply has no
// touch handling. No such library exists on this platform, so it normally stays absent.
#pragma once
#include <cstdint>

struct PLAT_MODULE;

// "REVUZ_OvadedUridevo": given a gesture message's wParam and lParam, non-zero when the gesture was
// a tap (handled as a left click at the message's position).
typedef int (*TOUCH_GESTURE_FN)(uintptr_t wParam, intptr_t lParam);

// The five exports, resolved by name, in this order.
enum {
    TOUCH_ENTRY_DLL_VERSION,         // "ZEDUZ_DLLVersion"
    TOUCH_ENTRY_GESTURE,             // "REVUZ_OvadedUridevo"
    TOUCH_ENTRY_REGISTER_WINDOW,     // "ZEDUZ_RegisterTouchWindow"
    TOUCH_ENTRY_UNREGISTER_WINDOW,   // "ZEDUZ_UnregisterTouchWindow"
    TOUCH_ENTRY_TOUCH_INFO,          // "ZEDUZ_TouchInfo"
    TOUCH_ENTRY_COUNT
};

extern PLAT_MODULE* g_hTouchDll;                  // the library while loaded, else NULL
extern uint8_t g_bTouchAvailable;                 // 1 when the library and all five exports were found
extern void* g_apTouchEntries[TOUCH_ENTRY_COUNT]; // the exports, all NULL while touch is unavailable
// The gesture export; while touch is unavailable a stand-in that answers 0 (not a tap).
extern TOUCH_GESTURE_FN g_pfnTouchGesture;

// Loads "zeduz.dll" and resolves its five exports by name. A missing library or export leaves the
// engine silently without touch (nothing kept, g_bTouchAvailable 0). Start-up calls it only when the
// OS code is at least 80. 0 when touch is available, -1 when not.
int LoadTouchLibrary(void);
// Releases the library; touch becomes unavailable.
void UnloadTouchLibrary(void);
